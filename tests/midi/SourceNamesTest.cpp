// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Names of sources, of our JACK ports after them, and of the JACK ports that bridge devices.

#include "midi/SourceNames.h"
#include "midi/JackBridge.h"
#include "midi/JackPortName.h"
#include "midi/SequencerPortName.h"

#include <gtest/gtest.h>

#include <set>

namespace tactimo::test {
namespace {

std::string times(int n, const std::string& text) {
    std::string result;
    while (n-- > 0) result += text;
    return result;
}

const std::string a = "\xC3\x84", ellipsis = "\xE2\x80\xA6", replacement = "\xEF\xBF\xBD";

TEST(SourceNames, NamesAreValidPlainTextOfBoundedSizeThatKeepsBothEnds) {
    const std::pair<std::string, std::string> rows[] = {
        {"Clock \xFF", "Clock " + replacement},
        {"<b>Drum</b> &amp;", "<b>Drum</b> &amp;"}, // shown as it is, never as markup
        {"A\xCC\x88", a},                           // composed
        {std::string(160, 'a'), std::string(160, 'a')},
        {std::string(161, 'a'), std::string(105, 'a') + ellipsis + std::string(52, 'a')},
        {times(200, a), times(52, a) + ellipsis + times(26, a)}, // cut between characters
        {std::string(4'000'000, 'b') + " port 2", std::string(105, 'b') + ellipsis + std::string(45, 'b') + " port 2"},
    };
    for (const auto& [name, shown] : rows) EXPECT_EQ(SourceNames::bounded(name), shown) << name.substr(0, 20);
}

TEST(SourceNames, OnlyNamesEqualByAccidentTakeTheirLongForm) {
    using Forms = SourceNames::Forms;
    const std::pair<std::vector<Forms>, std::vector<std::string>> rows[] = {
        {{{"A MIDI 1", "A:A MIDI 1"}, {"B", "B:B"}}, {"A MIDI 1", "B"}},
        // Two units of one model; two devices that shorten alike.
        {{{"Drum", "Drum:Drum"}, {"Drum", "Drum:Drum"}}, {"Drum", "Drum"}},
        {{{"Drum", "Drum:Drum"}, {"Drum", "Pad:Drum"}, {"C", "C:C"}}, {"Drum:Drum", "Pad:Drum", "C"}},
        {{{"X", "P:X"}, {"X", "P:X"}, {"X", "Q:X"}}, {"P:X", "P:X", "Q:X"}},
        // A long form equal to another's short one; a name with no long form.
        {{{"out", "a:out"}, {"out", "b:out"}, {"a:out", "c:a:out"}}, {"a:out", "b:out", "c:a:out"}},
        {{{"Clock", "Clock"}, {"Clock", "x:Clock"}}, {"Clock", "x:Clock"}},
    };
    for (int row = 0; const auto& [sources, names] : rows) EXPECT_EQ(SourceNames::distinct(sources), names) << row++;
}

TEST(SequencerPortName, PortsGoByThePortNameWhereItSaysWhoItIs) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"Midi Through", "Midi Through Port-0", "Midi Through Port-0"},
        {"Virtual Raw MIDI 0-0", "VirMIDI 0-0", "Virtual Raw MIDI 0-0:VirMIDI 0-0"},
        {"Synth", "", "Synth"},
        {"", "out", "out"},
        {"USB Drum ", "USB Drum MIDI 1  ", "USB Drum MIDI 1"},
    };
    for (const auto& [client, port, name] : rows) EXPECT_EQ(SequencerPortName::shown(client, port), name) << port;
    EXPECT_EQ(SequencerPortName::full(" USB Drum", "USB Drum MIDI 1"), "USB Drum:USB Drum MIDI 1");
}

TEST(JackPortName, PortsAreNamedAfterTheirSourceInWhatJackAndPatchbaysTake) {
    const std::tuple<std::string, std::size_t, std::string> rows[] = {
        {"jack_midi_clock:mclk_out", 64, "from jack_midi_clock mclk_out"},
        {"Clock " + a, 64, "from Clock " + a},
        {"a\tb\nc\x7F"
         "d\xC2\x85"
         "e::f  ",
         64, "from a b c d e f"},
        {"\xFF", 64, "from " + replacement},
        {" : ", 64, "from source"},
        {"Drum " + a + a, 12, "from Drum " + a}, // cut to JACK's limit, never inside a character
    };
    for (const auto& [source, limit, port] : rows) EXPECT_EQ(JackPortName::forSource(source, limit), port) << source;
    // Two sources of one name get ports of their own, within the limit.
    const std::set<std::string, std::less<>> taken{"from Drum", "from Drum 2"};
    const auto isTaken = [&](std::string_view name) { return taken.contains(name); };
    EXPECT_EQ(JackPortName::unique("from Drum", 64, isTaken), "from Drum 3");
    EXPECT_EQ(JackPortName::unique("from Drum", 10, isTaken), "from Dru 2");
    EXPECT_EQ(JackPortName::unique("from Clock", 64, isTaken), "from Clock");
}

// Bridges by the names each gives their ports (PipeWire 0.3.65, a2jmidid 9, JACK2 1.9.21), and look-alikes.
using Aliases = std::vector<std::string>;

TEST(JackBridge, EachBridgesPortsAreKnownByTheDevicesOwnName) {
    const std::string thru = "Midi Through Port-0", mt = "Midi Through:" + thru, drum = "USB Drum MIDI 1";
    const std::string seq = "alsa:seq:default:client_", vir = "Virtual Raw MIDI 0-0:VirMIDI 0-0";
    // {port, aliases, name, long name ("=": the name), "capture thru exclusive", which device}
    const std::tuple<std::string, Aliases, std::string, std::string, std::string, int> rows[] = {
        {"Midi-Bridge:Midi Through:(capture_0) " + thru, {seq + "14:capture_0", mt}, thru, mt, "110", 0},
        {"Midi-Bridge:Midi Through:(playback_0) " + thru, {seq + "14:playback_0", mt}, thru, mt, "010", 0},
        {"Midi-Bridge:USB:(capture_1) USB Drum MIDI 2", {"", seq + "24:capture_1"}, "USB Drum MIDI 2", "=", "100", 1},
        {"a2j:Midi Through [14] (capture): " + thru, {}, thru, mt, "110", 2},
        {"a2j:Virtual Raw MIDI 0-0 [16] (playback): VirMIDI 0-0", {}, vir, vir, "000", 3},
        {"a2j:USB Drum (capture): " + drum, {}, drum, "USB Drum:" + drum, "100", 4},
        {"system:midi_capture_1", {"alsa_pcm:Midi-Through/midi_playback_1"}, "Midi-Through", "", "110", 5},
        {"system:midi_playback_1", {"alsa_pcm:Midi-Through/midi_capture_1"}, "Midi-Through", "", "010", 5},
        // JACK2's raw drivers hold the device: the sequencer cannot read it meanwhile.
        {"system:midi_capture_3", {"in-hw-1-0-0-USB-Drum-MIDI-1"}, drum, drum, "101", 6},
        {"system:midi_playback_3", {"out-hw-1-0-0-USB-Drum-MIDI-1"}, drum, drum, "001", 6},
        {"system_midi:capture_17", {"system:1-2 Virtual Raw MIDI 1 in"}, "Virtual Raw MIDI", "=", "101", 7},
    };
    std::vector<std::pair<std::string, int>> devices;
    for (const auto& [port, aliases, name, fullName, flags, device] : rows) {
        const auto bridge = JackBridge::recognise(port, aliases);
        ASSERT_TRUE(bridge) << port;
        EXPECT_EQ(std::tuple(bridge->name, bridge->fullName), std::tuple(name, fullName == "=" ? name : fullName))
            << port;
        const std::string got{char('0' + bridge->capture), char('0' + bridge->thru), char('0' + bridge->exclusive)};
        EXPECT_EQ(got, flags) << port;
        devices.emplace_back(bridge->device, device);
    }
    // Both sides of a device's port, and only they, are one device.
    for (const auto& [one, i] : devices)
        for (const auto& [other, j] : devices) EXPECT_EQ(one == other, i == j) << one << " / " << other;
    // Programs' ports are none, however they are named.
    const std::pair<std::string, Aliases> programs[] = {
        {"jack_midi_clock:mclk_out", {"", "jack_midi_clock:mclk_out"}}, // a stale alias slot of PipeWire's libjack
        {"Midi-Bridge:x:(capture_0) y", {"alsa:seq:default:client_x:capture_0"}},
        {"Midi-Bridge:x:(capture_0) y", {"alsa:seq:default:client_14:capture_1"}},
        {"a2j-01:Midi Through [14] (capture): Midi Through Port-0", {}},
        {"a2j:Midi Through [x] (capture): Midi Through Port-0", {}},
        {"system:midi_capture_x", {"in-hw-1-0-0-USB-Drum-MIDI-1"}},
        {"system:midi_capture_1", {"in-hw-1-0-USB-Drum-MIDI-1"}},
        {"system:midi_capture_1", {"alsa_pcm:Midi-Through/midi_capture_1"}},
        {"system_midi:capture_1", {"system:1-1 Virtual Raw MIDI in"}},
        {"synth:system:midi_capture_1", {"in-hw-1-0-0-USB-Drum-MIDI-1"}},
    };
    for (const auto& [port, aliases] : programs) EXPECT_FALSE(JackBridge::recognise(port, aliases)) << port;
}

} // namespace
} // namespace tactimo::test
