// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The JACK backend's parts that need no server: the real-time thread's record ring, keys, port names, bridges.

#include "midi/JackBridge.h"
#include "midi/JackPortName.h"
#include "midi/JackSourceTable.h"
#include "midi/PacketListRing.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace tactimo::test {
namespace {

const std::string a = "\xC3\x84", replacement = "\xEF\xBF\xBD";

using Bytes = std::vector<std::uint8_t>;
using List = std::pair<SourceKey, std::vector<std::pair<std::uint64_t, Bytes>>>;

bool write(PacketListRing& ring, const List& list) {
    ring.begin(list.first);
    for (const auto& [stamp, bytes] : list.second)
        if (!ring.add(stamp, bytes.data(), bytes.size())) return false;
    return ring.commit();
}

std::optional<List> read(PacketListRing& ring) {
    const auto got = ring.read();
    if (!got) return std::nullopt;
    List list{got->key, {}};
    for (const MidiPacket& p : got->packets)
        list.second.emplace_back(p.timeStamp, Bytes(p.bytes.begin(), p.bytes.end()));
    return list;
}

// A ring of 256 bytes (it holds 255) with both pointers moved on.
std::unique_ptr<PacketListRing> ringAt(std::size_t offset) {
    auto ring = std::make_unique<PacketListRing>(256);
    jack_ringbuffer_write_advance(ring->raw(), offset);
    jack_ringbuffer_read_advance(ring->raw(), offset);
    return ring;
}

TEST(PacketListRing, RecordsComeBackWholeWhereverTheRingWraps) {
    // 12 bytes of header, and 12 of each packet's: the second list fills the ring.
    const List lists[] = {{0xFFFFFFFF, {{0, {}}, {~std::uint64_t{0}, {0xF8, 0xFA}}, {42, Bytes(17, 0xF2)}}},
                          {2, {{5, Bytes(200, 1)}, {6, Bytes(19, 9)}}}};
    for (const List& list : lists)
        for (std::size_t offset = 0; offset < 256; ++offset) {
            const auto ring = ringAt(offset);
            ASSERT_TRUE(write(*ring, list)) << offset;
            EXPECT_EQ(read(*ring), list) << "offset " << offset;
            EXPECT_EQ(read(*ring), std::nullopt) << "offset " << offset;
        }
    // One byte more does not fit: the packet is refused, those before it go.
    PacketListRing ring(256);
    EXPECT_FALSE(write(ring, {3, {{5, Bytes(200, 1)}, {6, Bytes(20, 9)}}}));
    EXPECT_TRUE(ring.commit());
    EXPECT_EQ(read(ring), (List{3, {{5, Bytes(200, 1)}}}));
    ring.begin(4); // no packet, no record
    EXPECT_FALSE(ring.commit());
}

// Bytes that are no record (one packet in 13 bytes, 12 following) are dropped; the reader keeps its place.
TEST(PacketListRing, GarbageIsDroppedAndTheReaderKeepsItsPlace) {
    Bytes garbage(24);
    const std::uint32_t header[] = {1, 1, 13};
    std::memcpy(garbage.data(), header, sizeof header);
    const List before{9, {{1, {0xFA}}}}, after{10, {{2, {0xF8}}, {3, {0xFC}}}};
    const auto ring = ringAt(200);
    ASSERT_TRUE(write(*ring, before));
    jack_ringbuffer_write(ring->raw(), reinterpret_cast<const char*>(garbage.data()), garbage.size());
    EXPECT_EQ(read(*ring), before);
    EXPECT_EQ(read(*ring), std::nullopt);
    EXPECT_EQ(std::pair(ring->rejected(), ring->rejectedBytes()), std::pair(std::uint64_t{1}, garbage.size()));
    ASSERT_TRUE(write(*ring, after));
    EXPECT_EQ(read(*ring), after);
}

TEST(JackSourceTable, KeysFollowPortsNotTheirUuids) {
    // In turn: UUIDs unregistered (-1: notices lost), a listing of {UUID, name}, and who that is.
    using Listing = std::vector<std::pair<std::uint64_t, std::string>>;
    const std::tuple<std::vector<int>, Listing, std::string> steps[] = {
        {{}, {{10, "a:out"}, {11, "b:out"}}, "AB"},
        {{99}, {{11, "b:out"}, {10, "a:renamed"}}, "BA"},
        {{10}, {{10, "a:renamed"}, {11, "b:out"}}, "CB"},
        {{}, {{10, "a:renamed"}}, "C"},
        {{}, {{10, "a:renamed"}, {11, "b:out"}}, "CD"},
        {{-1}, {{10, "a:renamed"}, {10, "x:out"}, {11, "b:out"}}, "EF"},
    };
    JackSourceTable table;
    std::map<char, SourceKey> keyOf;
    std::set<SourceKey> given;
    for (int row = 0; const auto& [retired, listing, senders] : steps) {
        for (const int uuid : retired) uuid < 0 ? table.retireAll() : table.retire(std::uint64_t(uuid));
        std::vector<JackSourceTable::Port> ports;
        for (const auto& [uuid, name] : listing) ports.push_back({uuid, name, std::nullopt});
        const auto listed = table.list(ports, true).sources;
        ASSERT_EQ(listed.size(), senders.size()) << "row " << row;
        for (std::size_t i = 0; i < listed.size(); ++i) {
            const auto [known, added] = keyOf.try_emplace(senders[i], listed[i].key);
            EXPECT_TRUE(added ? given.insert(listed[i].key).second : listed[i].key == known->second) << "row " << row;
        }
        ++row;
    }
    EXPECT_EQ(table.lastName(keyOf['A']), "a:renamed");
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
