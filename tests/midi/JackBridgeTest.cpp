// JACK ports that bridge the machine's ALSA MIDI, by the names each bridge
// gives them (PipeWire 0.3.65, a2jmidid 9, JACK2 1.9.21), and look-alikes.

#include "midi/JackBridge.h"

#include <gtest/gtest.h>

namespace tactimo::test {
namespace {

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
