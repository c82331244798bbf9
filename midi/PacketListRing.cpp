// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "PacketListRing.h"

#include <algorithm>
#include <cstring>

#if defined(__SANITIZE_THREAD__)
#define TACTIMO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TACTIMO_TSAN 1
#endif
#endif
#ifdef TACTIMO_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace tactimo {

namespace {

// libjack moves the ring's pointers with plain loads and stores and no
// barriers (1.9.21), in code ThreadSanitizer does not see. The side that
// moves a pointer publishes the bytes it wrote or read first; the other side
// observes after it has read that pointer. Each pointer is its own sync
// point, moved by one thread and read by the other.
void publish([[maybe_unused]] volatile std::size_t* pointer) {
#ifdef TACTIMO_TSAN
    __tsan_release(const_cast<std::size_t*>(pointer));
#else
    std::atomic_thread_fence(std::memory_order_release);
#endif
}

void observe([[maybe_unused]] volatile std::size_t* pointer) {
#ifdef TACTIMO_TSAN
    __tsan_acquire(const_cast<std::size_t*>(pointer));
#else
    std::atomic_thread_fence(std::memory_order_acquire);
#endif
}

// Copies out of a read vector, from a byte offset, across its two segments.
void take(const jack_ringbuffer_data_t (&from)[2], std::size_t at, void* to, std::size_t size) {
    auto* out = static_cast<std::uint8_t*>(to);
    if (at < from[0].len) {
        const std::size_t n = std::min(size, from[0].len - at);
        std::memcpy(out, from[0].buf + at, n);
        out += n;
        size -= n;
        at = 0;
    } else {
        at -= from[0].len;
    }
    if (size) std::memcpy(out, from[1].buf + at, size);
}

template <typename T>
T load(const std::uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

} // namespace

PacketListRing::PacketListRing(std::size_t bytes)
    : ring_(jack_ringbuffer_create(bytes)),
      record_(maxRecordBytes),
      list_(maxPackets) {}

PacketListRing::~PacketListRing() {
    if (ring_) jack_ringbuffer_free(ring_);
}

void PacketListRing::lock() {
    if (ring_) jack_ringbuffer_mlock(ring_);
}

void PacketListRing::begin(SourceKey key) {
    key_ = key;
    packets_ = 0;
    used_ = listHeaderBytes;
    room_ = 0;
    if (!ring_) return;
    jack_ringbuffer_get_write_vector(ring_, space_);
    observe(&ring_->read_ptr);
    room_ = std::min(space_[0].len + space_[1].len, maxRecordBytes);
}

void PacketListRing::put(std::size_t at, const void* data, std::size_t size) {
    const auto* in = static_cast<const std::uint8_t*>(data);
    if (at < space_[0].len) {
        const std::size_t n = std::min(size, space_[0].len - at);
        std::memcpy(space_[0].buf + at, in, n);
        in += n;
        size -= n;
        at = 0;
    } else {
        at -= space_[0].len;
    }
    if (size) std::memcpy(space_[1].buf + at, in, size);
}

bool PacketListRing::add(std::uint64_t timeStamp, const std::uint8_t* bytes, std::size_t size) {
    if (size > room_ || used_ + packetHeaderBytes + size > room_) return false;
    const auto size32 = static_cast<std::uint32_t>(size);
    put(used_, &timeStamp, sizeof timeStamp);
    put(used_ + 8, &size32, sizeof size32);
    if (size) put(used_ + packetHeaderBytes, bytes, size);
    used_ += packetHeaderBytes + size;
    ++packets_;
    return true;
}

bool PacketListRing::commit() {
    if (packets_ == 0) return false;
    const std::uint32_t header[3] = {key_, packets_, static_cast<std::uint32_t>(used_ - listHeaderBytes)};
    put(0, header, sizeof header);
    publish(&ring_->write_ptr);
    // One move of the write pointer: the whole record becomes readable at once.
    jack_ringbuffer_write_advance(ring_, used_);
    packets_ = 0;
    room_ = 0;
    return true;
}

std::size_t PacketListRing::parse(std::size_t at, std::size_t readable) {
    if (readable < listHeaderBytes) return 0;
    std::uint32_t header[3]; // key, packets, payload bytes
    take(seen_, at, header, sizeof header);
    const std::uint32_t packets = header[1];
    const std::size_t payload = header[2];
    if (packets == 0 || packets > maxPackets || payload > maxRecordBytes - listHeaderBytes ||
        std::size_t{packets} * packetHeaderBytes > payload || listHeaderBytes + payload > readable)
        return 0;

    take(seen_, at + listHeaderBytes, record_.data(), payload);
    std::size_t offset = 0;
    for (std::uint32_t i = 0; i < packets; ++i) {
        if (payload - offset < packetHeaderBytes) return 0;
        const auto stamp = load<std::uint64_t>(record_.data() + offset);
        const std::size_t size = load<std::uint32_t>(record_.data() + offset + 8);
        offset += packetHeaderBytes;
        if (size > payload - offset) return 0;
        list_[i] = {stamp, {record_.data() + offset, size}};
        offset += size;
    }
    if (offset != payload) return 0;
    keyRead_ = header[0];
    packetsRead_ = packets;
    return listHeaderBytes + payload;
}

void PacketListRing::release() {
    if (taken_ == 0) return;
    publish(&ring_->read_ptr);
    jack_ringbuffer_read_advance(ring_, taken_);
    taken_ = 0;
    seenBytes_ = 0;
}

std::optional<PacketListRing::List> PacketListRing::read() {
    if (!ring_) return std::nullopt;
    // Records are taken from a view of what was readable, and the read
    // pointer moves past them only once the view is used up: the two threads
    // meet at the pointers once per batch, not once per record.
    if (taken_ == seenBytes_) {
        release();
        jack_ringbuffer_get_read_vector(ring_, seen_);
        seenBytes_ = seen_[0].len + seen_[1].len;
        if (seenBytes_ == 0) return std::nullopt;
        observe(&ring_->write_ptr);
    }
    const std::size_t record = parse(taken_, seenBytes_ - taken_);
    if (record == 0) {
        // The writer only ever makes whole records readable, so what is not
        // one whole well-formed record, reaching at most to the readable
        // end, was not written by it: drop all that is readable and start
        // afresh at the end, which is a record boundary.
        rejected_.fetch_add(1, std::memory_order_relaxed);
        rejectedBytes_.fetch_add(seenBytes_ - taken_, std::memory_order_relaxed);
        taken_ = seenBytes_;
        release();
        return std::nullopt;
    }
    taken_ += record;
    return List{keyRead_, MidiPacketList(list_.data(), packetsRead_)};
}

} // namespace tactimo
