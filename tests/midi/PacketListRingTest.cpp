// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The record ring between JACK's real-time thread and the delivery thread.

#include "midi/PacketListRing.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tactimo::test {
namespace {

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

} // namespace
} // namespace tactimo::test
