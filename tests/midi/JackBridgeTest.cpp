// JACK ports that bridge the machine's ALSA MIDI, by the names that each
// bridge really gives them (seen with PipeWire 0.3.65, a2jmidid 9 and
// JACK2 1.9.21), and ports that merely look a little like them.

#include "midi/JackBridge.h"
#include "midi/JackPortName.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace tactimo::test {
namespace {

TEST(JackBridge, EachBridgesPortsAreKnownByTheDevicesOwnName) {
    struct Row {
        const char* port;
        std::vector<std::string> aliases;
        const char* name;
        const char* fullName;
        bool capture, thru, exclusive = false;
    };
    const Row rows[] = {
        {"Midi-Bridge:Midi Through:(capture_0) Midi Through Port-0",
         {"alsa:seq:default:client_14:capture_0", "Midi Through:Midi Through Port-0"},
         "Midi Through Port-0",
         "Midi Through:Midi Through Port-0",
         true,
         true},
        {"Midi-Bridge:Virtual MIDI Card 1:(capture_0) VirMIDI 0-0",
         {"alsa:seq:default:client_16:capture_0", "Virtual Raw MIDI 0-0:VirMIDI 0-0"},
         "Virtual Raw MIDI 0-0:VirMIDI 0-0",
         "Virtual Raw MIDI 0-0:VirMIDI 0-0",
         true,
         false},
        {"Midi-Bridge:Midi Through:(playback_0) Midi Through Port-0",
         {"alsa:seq:default:client_14:playback_0", "Midi Through:Midi Through Port-0"},
         "Midi Through Port-0",
         "Midi Through:Midi Through Port-0",
         false,
         true},
        // Under PipeWire's libjack a port may come with its alias slots unfilled.
        {"Midi-Bridge:USB Drum:(capture_1) USB Drum MIDI 2",
         {"", "alsa:seq:default:client_24:capture_1"},
         "USB Drum MIDI 2",
         "USB Drum MIDI 2",
         true,
         false},
        {"a2j:Midi Through [14] (capture): Midi Through Port-0",
         {},
         "Midi Through Port-0",
         "Midi Through:Midi Through Port-0",
         true,
         true},
        {"a2j:USB Drum [24] (capture): USB Drum MIDI 1",
         {},
         "USB Drum MIDI 1",
         "USB Drum:USB Drum MIDI 1",
         true,
         false},
        {"a2j:USB Drum (capture): USB Drum MIDI 1", {}, "USB Drum MIDI 1", "USB Drum:USB Drum MIDI 1", true, false},
        {"a2j:Virtual Raw MIDI 0-0 [16] (playback): VirMIDI 0-0",
         {},
         "Virtual Raw MIDI 0-0:VirMIDI 0-0",
         "Virtual Raw MIDI 0-0:VirMIDI 0-0",
         false,
         false},
        // JACK2 -X seq: the client's name only, its spaces made '-'; the
        // port's pretty name (metadata) tells the rest.
        {"system:midi_capture_1",
         {"alsa_pcm:Midi-Through/midi_playback_1", "Midi-Through:midi/playback_1"},
         "Midi-Through",
         "",
         true,
         true},
        {"system:midi_playback_2",
         {"alsa_pcm:Virtual-Raw-MIDI-0-0/midi_capture_1", "Virtual-Raw-MIDI-0-0:midi/capture_1"},
         "Virtual-Raw-MIDI-0-0",
         "",
         false,
         false},
        // JACK2's raw drivers hold the device: the sequencer cannot read it meanwhile.
        {"system:midi_capture_3",
         {"in-hw-1-0-0-USB-Drum-MIDI-1"},
         "USB Drum MIDI 1",
         "USB Drum MIDI 1",
         true,
         false,
         true},
        {"system_midi:capture_17",
         {"system:1-2 Virtual Raw MIDI 1 in"},
         "Virtual Raw MIDI",
         "Virtual Raw MIDI",
         true,
         false,
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port);
        const auto bridge = JackBridge::recognise(row.port, row.aliases);
        ASSERT_TRUE(bridge);
        EXPECT_EQ(bridge->name, row.name);
        EXPECT_EQ(bridge->fullName, row.fullName);
        EXPECT_EQ(bridge->capture, row.capture);
        EXPECT_EQ(bridge->thru, row.thru);
        EXPECT_EQ(bridge->exclusive, row.exclusive);
    }
}

TEST(JackBridge, ProgramsPortsAreNotBridgesHoweverTheyAreNamed) {
    struct Row {
        const char* port;
        std::vector<std::string> aliases;
    };
    const Row rows[] = {
        {"jack_midi_clock:mclk_out", {}},
        // PipeWire's libjack leaves a stale alias slot: only a whole bridge alias counts.
        {"jack_midi_clock:mclk_out", {"", "jack_midi_clock:mclk_out"}},
        {"Midi-Bridge:Midi Through:(capture_0) Midi Through Port-0", {"Midi Through:Midi Through Port-0"}},
        {"Midi-Bridge:x:(capture_0) y", {"alsa:seq:default:client_x:capture_0"}},
        {"Midi-Bridge:x:(capture_0) y", {"alsa:seq:default:client_14:capture_1"}},
        {"a2j-01:Midi Through [14] (capture): Midi Through Port-0", {}},
        {"a2j:Midi Through [x] (capture): Midi Through Port-0", {}},
        {"a2j:out", {}},
        {"ardour:a2j:Midi Through [14] (capture): Midi Through Port-0", {}},
        {"system:midi_capture_1", {}},
        {"system:midi_capture_1", {"firewire_pcm:00-00-00:midi_in_1"}},
        {"system:midi_capture_x", {"in-hw-1-0-0-USB-Drum-MIDI-1"}},
        {"system:midi_capture_1", {"in-hw-1-0-USB-Drum-MIDI-1"}},
        {"system:midi_capture_1", {"alsa_pcm:Midi-Through/midi_capture_1"}},
        {"system_midi:capture_1", {"system:1-1 Virtual Raw MIDI in"}},
        {"synth:system:midi_capture_1", {"in-hw-1-0-0-USB-Drum-MIDI-1"}},
    };
    for (const Row& row : rows) EXPECT_FALSE(JackBridge::recognise(row.port, row.aliases)) << row.port;
}

TEST(JackBridge, BothSidesOfADevicePortShareOneIdentityAndOnlyThey) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> ports = {
        {"Midi-Bridge:Midi Through:(capture_0) Midi Through Port-0", {"alsa:seq:default:client_14:capture_0"}},
        {"Midi-Bridge:Midi Through:(playback_0) Midi Through Port-0", {"alsa:seq:default:client_14:playback_0"}},
        {"Midi-Bridge:Midi Through:(capture_1) Midi Through Port-1", {"alsa:seq:default:client_14:capture_1"}},
        {"a2j:Midi Through [14] (capture): Midi Through Port-0", {}},
        {"a2j:Midi Through [14] (playback): Midi Through Port-0", {}},
        {"system:midi_capture_1", {"alsa_pcm:Midi-Through/midi_playback_1"}},
        {"system:midi_playback_1", {"alsa_pcm:Midi-Through/midi_capture_1"}},
        {"system:midi_capture_3", {"in-hw-1-0-0-USB-Drum-MIDI-1"}},
        {"system:midi_playback_3", {"out-hw-1-0-0-USB-Drum-MIDI-1"}},
    };
    std::vector<std::string> devices;
    for (const auto& [port, aliases] : ports) devices.push_back(JackBridge::recognise(port, aliases)->device);
    const std::vector<int> same = {0, 0, 1, 2, 2, 3, 3, 4, 4}; // which device each row is
    for (std::size_t i = 0; i < ports.size(); ++i)
        for (std::size_t j = 0; j < ports.size(); ++j)
            EXPECT_EQ(devices[i] == devices[j], same[i] == same[j]) << ports[i].first << " / " << ports[j].first;
}

TEST(JackPortName, PortsAreNamedAfterTheirSourceInWhatJackAndPatchbaysTake) {
    struct Row {
        const char* source;
        std::size_t limit;
        const char* port;
    };
    const Row rows[] = {
        {"jack_midi_clock:mclk_out", 64, "from jack_midi_clock mclk_out"},
        {"Midi Through Port-0", 64, "from Midi Through Port-0"},
        {"Clock \xC3\x84", 64, "from Clock \xC3\x84"},
        {"a\tb\nc\x7F"
         "d\xC2\x85"
         "e::f  ",
         64, "from a b c d e f"},
        {"\xFF", 64, "from \xEF\xBF\xBD"},
        {"", 64, "from source"},
        {" : ", 64, "from source"},
        // Cut to JACK's limit, never inside a character.
        {"Drum \xC3\x84\xC3\x84", 12, "from Drum \xC3\x84"},
    };
    for (const Row& row : rows) EXPECT_EQ(JackPortName::forSource(row.source, row.limit), row.port) << row.source;

    // Two sources of one name get ports of their own, within the limit.
    std::set<std::string> taken{"from Drum", "from Drum 2"};
    const auto isTaken = [&](std::string_view name) { return taken.contains(std::string(name)); };
    EXPECT_EQ(JackPortName::unique("from Drum", 64, isTaken), "from Drum 3");
    EXPECT_EQ(JackPortName::unique("from Drum", 10, isTaken), "from Dru 2");
    EXPECT_EQ(JackPortName::unique("from Clock", 64, isTaken), "from Clock");
}

} // namespace
} // namespace tactimo::test
