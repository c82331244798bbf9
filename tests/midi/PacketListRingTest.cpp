// The record ring between JACK's real-time thread and the delivery thread,
// over libjack's own ring buffer (which needs no server).

#include "midi/PacketListRing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <ostream>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace tactimo::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Packet {
    std::uint64_t timeStamp = 0;
    Bytes bytes;
    friend bool operator==(const Packet&, const Packet&) = default;
};
struct List {
    SourceKey key = 0;
    std::vector<Packet> packets;
    friend bool operator==(const List&, const List&) = default;
    friend std::ostream& operator<<(std::ostream& out, const List& list) {
        out << "key " << list.key;
        for (const Packet& p : list.packets) out << ", " << p.bytes.size() << " bytes at " << p.timeStamp;
        return out;
    }
};

// Writes a whole list; false when any packet did not fit.
bool write(PacketListRing& ring, const List& list) {
    ring.begin(list.key);
    for (const Packet& p : list.packets)
        if (!ring.add(p.timeStamp, p.bytes.data(), p.bytes.size())) return false;
    return ring.commit();
}

std::optional<List> read(PacketListRing& ring) {
    const auto got = ring.read();
    if (!got) return std::nullopt;
    List list{got->key, {}};
    for (const MidiPacket& p : got->packets) list.packets.push_back({p.timeStamp, {p.bytes.begin(), p.bytes.end()}});
    return list;
}

// A ring whose pointers both stand at an offset.
void moveTo(PacketListRing& ring, std::size_t offset) {
    jack_ringbuffer_write_advance(ring.raw(), offset);
    jack_ringbuffer_read_advance(ring.raw(), offset);
}

Bytes counting(std::size_t n, std::uint8_t from) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(from + i);
    return b;
}

TEST(PacketListRing, RecordsComeBackWholeWhereverTheRingWraps) {
    const List lists[] = {
        {7, {{1, {0xF8}}}},
        {0xFFFFFFFF, {{0, {}}, {~std::uint64_t{0}, counting(3, 0xF0)}, {42, counting(17, 0)}}},
        // All but a few bytes of the 255 a 256-byte ring holds.
        {2, {{5, counting(200, 1)}, {6, counting(16, 9)}}},
    };
    for (const List& list : lists) {
        for (std::size_t offset = 0; offset < 256; ++offset) {
            PacketListRing ring(256);
            moveTo(ring, offset);
            ASSERT_TRUE(write(ring, list)) << offset;
            EXPECT_EQ(read(ring), list) << "offset " << offset;
            EXPECT_EQ(read(ring), std::nullopt) << "offset " << offset;
            EXPECT_EQ(ring.rejected(), 0u) << "offset " << offset;
        }
    }
}

TEST(PacketListRing, WhatDoesNotFitIsLeftOutWhole) {
    PacketListRing ring(256);
    // Nothing written: an empty list, a list begun anew before its commit.
    ring.begin(3);
    EXPECT_FALSE(ring.commit());
    ring.begin(4);
    ring.add(1, counting(10, 0).data(), 10);
    const List second{5, {{2, {0xFA}}}};
    EXPECT_TRUE(write(ring, second));
    // A packet beyond the free space, or beyond what a record may hold, is
    // refused; the packets before it still go.
    ring.begin(6);
    EXPECT_TRUE(ring.add(3, counting(100, 0).data(), 100));
    EXPECT_FALSE(ring.add(4, counting(200, 0).data(), 200));
    EXPECT_TRUE(ring.commit());
    EXPECT_EQ(read(ring), second);
    EXPECT_EQ(read(ring), (List{6, {{3, counting(100, 0)}}}));

    PacketListRing big(PacketListRing::maxRecordBytes * 4);
    const Bytes huge(PacketListRing::maxRecordBytes, 0xF8);
    big.begin(7);
    EXPECT_FALSE(big.add(0, huge.data(), huge.size()));
    EXPECT_FALSE(big.add(0, huge.data(), std::size_t{1} << 40));
    EXPECT_FALSE(big.commit());
    EXPECT_EQ(read(big), std::nullopt);
}

// Bytes that are no record, put in around the writer, then a record of the
// writer's: the garbage is counted and dropped, and the record comes through.
TEST(PacketListRing, GarbageIsRejectedAndTheReaderResynchronises) {
    const auto header = [](std::uint32_t key, std::uint32_t packets, std::uint32_t payload) {
        Bytes b(12);
        const std::uint32_t words[3] = {key, packets, payload};
        std::memcpy(b.data(), words, sizeof words);
        return b;
    };
    const auto packet = [](std::uint64_t stamp, std::uint32_t size, std::size_t bytes) {
        Bytes b(12 + bytes, 0xF8);
        std::memcpy(b.data(), &stamp, 8);
        std::memcpy(b.data() + 8, &size, 4);
        return b;
    };
    const auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const std::pair<const char*, Bytes> garbage[] = {
        {"a few stray bytes", {0xF8, 0xF8, 0xF8}},
        {"payload of 4 GiB", header(1, 1, 0xFFFFFFFF)},
        {"payload over the largest record", join({header(1, 1, PacketListRing::maxRecordBytes), packet(0, 1, 1)})},
        {"no packets", join({header(1, 0, 13), packet(0, 1, 1)})},
        {"more packets than the payload holds", join({header(1, 2, 13), packet(0, 1, 1)})},
        {"more payload than is readable", join({header(1, 1, 200), packet(0, 1, 1)})},
        {"a packet past the payload", join({header(1, 1, 13), packet(0, 2, 1)})},
        {"payload left over after the packets", join({header(1, 1, 14), packet(0, 1, 2)})},
    };
    const List before{9, {{1, {0xFA}}}}, after{10, {{2, {0xF8}}, {3, {0xFC}}}};
    for (const auto& [what, bytes] : garbage) {
        PacketListRing ring(1024);
        moveTo(ring, 1000); // wrapping, too
        ASSERT_TRUE(write(ring, before));
        jack_ringbuffer_write(ring.raw(), reinterpret_cast<const char*>(bytes.data()), bytes.size());
        EXPECT_EQ(read(ring), before) << what;
        EXPECT_EQ(read(ring), std::nullopt) << what;
        EXPECT_EQ(ring.rejected(), 1u) << what;
        EXPECT_EQ(ring.rejectedBytes(), bytes.size()) << what;
        ASSERT_TRUE(write(ring, after));
        EXPECT_EQ(read(ring), after) << what;
    }
}

// A writer and a busy reader on a small ring: every record arrives once, in
// order, with its own key, stamps and bytes.
TEST(PacketListRing, ConcurrentWriterAndReaderLoseNothing) {
    constexpr std::uint32_t records = 300'000;
    // Record i: 1 to 5 packets of 0 to 399 bytes, everything derived from i.
    // Records of up to 2 KiB wrap around the 4 KiB ring at every second or
    // third record.
    const auto key = [](std::uint32_t i) { return i * 2654435761u; };
    const auto packets = [](std::uint32_t i) { return 1 + i % 5; };
    const auto stamp = [](std::uint32_t i, std::uint32_t p) { return std::uint64_t{i} << 20 | p; };
    const Bytes pattern = counting(256 + 400, 0);
    const auto bytes = [&](std::uint32_t i, std::uint32_t p) {
        return std::span(pattern).subspan((i * 31 + p) % 256, (i * 7 + p * 13) % 400);
    };
    const auto same = [&](std::uint32_t i, const PacketListRing::List& list) {
        if (list.key != key(i) || list.packets.size() != packets(i)) return false;
        for (std::uint32_t p = 0; p < packets(i); ++p)
            if (list.packets[p].timeStamp != stamp(i, p) || !std::ranges::equal(list.packets[p].bytes, bytes(i, p)))
                return false;
        return true;
    };

    PacketListRing ring(4096);
    std::atomic<bool> written{false}, stop{false};
    std::thread writer([&] {
        for (std::uint32_t i = 0; i < records; ++i) {
            for (;;) { // full: the reader makes room
                ring.begin(key(i));
                bool fits = true;
                for (std::uint32_t p = 0; p < packets(i) && fits; ++p)
                    fits = ring.add(stamp(i, p), bytes(i, p).data(), bytes(i, p).size());
                if (fits && ring.commit()) break;
                if (stop.load()) return;
                std::this_thread::yield();
            }
        }
        written.store(true);
    });
    // The reader polls hard, as a delivery thread woken by a busy writer
    // would, so it also looks while a record is being written.
    std::uint32_t got = 0, wrong = 0, idle = 0;
    while (got < records && wrong == 0) {
        const bool finished = written.load();
        if (const auto list = ring.read()) {
            wrong += !same(got++, *list);
            idle = 0;
        } else if (finished) {
            break; // all that was written has been read
        } else if (++idle % 1024 == 0) {
            std::this_thread::yield();
        }
    }
    stop.store(true);
    writer.join();
    EXPECT_EQ(wrong, 0u) << "record " << got - 1 << " came back changed";
    EXPECT_EQ(got, records);
    EXPECT_EQ(ring.rejected(), 0u);
}

} // namespace
} // namespace tactimo::test
