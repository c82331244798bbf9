// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/MidiService.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <jack/ringbuffer.h>

namespace tactimo {

// Packet lists handed from JACK's real-time thread to a reader thread, one
// record per list, over a jack_ringbuffer_t: a list header (source key,
// packet count, payload bytes), then per packet its time stamp, its size and
// its bytes.
//
// One writer thread and one reader thread. The writer builds a record in the
// ring's free space and advances the write pointer once, so a record becomes
// readable whole or not at all, and the readable end is always a record
// boundary. The reader takes a record only when all of it is readable and
// well-formed; anything else (only bytes written around this class can cause
// it) is counted and dropped up to that boundary. Writing takes no lock and
// allocates nothing; reading allocates nothing after construction.
class PacketListRing {
public:
    static constexpr std::size_t listHeaderBytes = 12;   // key, packets, payload bytes
    static constexpr std::size_t packetHeaderBytes = 12; // time stamp, size
    // The largest record the writer makes, headers included.
    static constexpr std::size_t maxRecordBytes = std::size_t{1} << 16;
    static constexpr std::size_t maxPackets = (maxRecordBytes - listHeaderBytes) / packetHeaderBytes;

    // A ring of at least this many bytes (libjack rounds up to a power of two).
    explicit PacketListRing(std::size_t bytes);
    ~PacketListRing();
    PacketListRing(const PacketListRing&) = delete;
    PacketListRing& operator=(const PacketListRing&) = delete;

    // False when the ring could not be made; it then takes and yields nothing.
    bool valid() const { return ring_ != nullptr; }
    // Keeps the ring's memory in RAM, for a real-time writer.
    void lock();

    // Writer thread. begin() starts a list from one source; add() appends a
    // packet and returns false when it does not fit (the ring is full, or the
    // record would outgrow maxRecordBytes); commit() publishes the list if it
    // holds a packet and returns whether it did. A list that is begun again
    // before its commit is abandoned.
    void begin(SourceKey key);
    bool add(std::uint64_t timeStamp, const std::uint8_t* bytes, std::size_t size);
    bool commit();

    // Reader thread. The next whole record, or none when nothing readable is
    // left. The packets point into the reader's own buffer and stay valid
    // until the next read().
    struct List {
        SourceKey key = 0;
        MidiPacketList packets;
    };
    std::optional<List> read();

    // Readable bytes dropped because they could not be a record, and how often.
    std::uint64_t rejected() const { return rejected_.load(std::memory_order_relaxed); }
    std::uint64_t rejectedBytes() const { return rejectedBytes_.load(std::memory_order_relaxed); }

    // The ring itself, for tests that write around the record format.
    jack_ringbuffer_t* raw() { return ring_; }

private:
    void put(std::size_t at, const void* data, std::size_t size);
    // Bytes of the whole well-formed record at an offset of the reader's
    // view, decoded into the reader's buffers; 0 when there is none.
    std::size_t parse(std::size_t at, std::size_t readable);
    // Moves the read pointer past what the reader has taken of its view.
    void release();

    jack_ringbuffer_t* ring_ = nullptr;

    // Writer's list in progress: the free space it was begun in, and how much
    // of it the record fills so far.
    jack_ringbuffer_data_t space_[2]{};
    std::size_t room_ = 0;
    std::size_t used_ = 0;
    SourceKey key_ = 0;
    std::uint32_t packets_ = 0;

    // Reader's view of the readable bytes, and how much of it it has taken.
    jack_ringbuffer_data_t seen_[2]{};
    std::size_t seenBytes_ = 0;
    std::size_t taken_ = 0;
    // Reader's buffers, sized once for the largest record.
    std::vector<std::uint8_t> record_;
    std::vector<MidiPacket> list_;
    SourceKey keyRead_ = 0;
    std::uint32_t packetsRead_ = 0;
    std::atomic<std::uint64_t> rejected_{0};
    std::atomic<std::uint64_t> rejectedBytes_{0};
};

} // namespace tactimo
