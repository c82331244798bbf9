// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "midi/JackMidiService.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// ThreadSanitizer's, where it runs.
extern "C" [[gnu::weak]] void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" [[gnu::weak]] void AnnotateIgnoreWritesEnd(const char* file, int line);

namespace tactimo::test {

// JACK orders a sender's cycle before its reader's by futexes ThreadSanitizer cannot see: hide our writes.
inline void writeUnseen(void* buffer, jack_nframes_t frame, const std::uint8_t* bytes, std::size_t size) {
    if (AnnotateIgnoreWritesBegin) AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
    jack_midi_event_write(buffer, frame, bytes, size);
    if (AnnotateIgnoreWritesEnd) AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
}

// A client with one MIDI output, sending at the next cycle and clocking at fixed frames; given a
// delay, it follows instead: each event of up to three bytes at its input goes out that many frames later.
class JackTestSender {
public:
    explicit JackTestSender(const std::string& name, std::optional<jack_nframes_t> delay = {}, const char* out = "out",
                            const char* in = "in")
        : client_(jack_client_open(name.c_str(), JackNoStartServer, nullptr)),
          delay_(delay.value_or(0)) {
        if (!client_) return;
        port_ = jack_port_register(client_, out, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (delay) in_ = jack_port_register(client_, in, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(
            client_, [](jack_nframes_t n, void* self) { return static_cast<JackTestSender*>(self)->process(n); }, this);
        jack_set_xrun_callback(
            client_, [](void* self) { return ++static_cast<JackTestSender*>(self)->xruns_, 0; }, this);
        jack_activate(client_);
    }
    ~JackTestSender() {
        if (client_) jack_client_close(client_);
    }

    bool ok() const { return client_ && port_; }
    jack_client_t* client() const { return client_; }
    std::string source() const { return port_ ? jack_port_name(port_) : ""; }
    std::string input() const { return in_ ? jack_port_name(in_) : ""; }
    int listeners() const { return port_ ? jack_port_connected(port_) : 0; }
    bool connectPublic() { return jack_connect(client_, source().c_str(), "Tactimo:Tactimo") == 0; }
    // Messages split at their status bytes, each an event of its own.
    void send(const std::vector<std::uint8_t>& bytes) {
        std::lock_guard guard(lock_);
        for (const std::uint8_t byte : bytes) {
            if (byte >= 0x80 || pending_.empty()) pending_.emplace_back();
            pending_.back().push_back(byte);
        }
    }
    void clock(double bpm) {
        std::lock_guard guard(lock_);
        period_ = 60.0 * jack_get_sample_rate(client_) / (24 * bpm);
        next_ = -1; // from the next cycle on
    }
    void stopClock() {
        std::lock_guard guard(lock_);
        period_ = 0;
    }
    std::int64_t sent() const { return sent_.load(std::memory_order_acquire); }
    // When the clock sent a tick: its frame's time, as JACK has it, on CLOCK_MONOTONIC (s).
    double sentAt(std::int64_t tick) const { return times_[std::size_t(tick)] * 1e-9; }
    // Late cycles, in which a busy machine may lose a tick.
    std::int64_t xruns() const { return xruns_; }

private:
    static constexpr std::uint8_t tick = 0xF8;
    int process(jack_nframes_t frames) {
        void* buffer = jack_port_get_buffer(port_, frames);
        jack_midi_clear_buffer(buffer);
        const jack_nframes_t first = jack_last_frame_time(client_);
        if (in_) return follow(buffer, first, frames);
        const std::unique_lock guard(lock_, std::try_to_lock);
        if (!guard) return 0;
        for (const auto& message : pending_) writeUnseen(buffer, 0, message.data(), message.size());
        pending_.clear();
        // JACK's clock, in microseconds, read beside CLOCK_MONOTONIC.
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double offset = double(now.tv_sec) * 1e9 + double(now.tv_nsec) - double(jack_get_time()) * 1000;
        if (next_ < 0) next_ = first;
        for (; period_ > 0 && next_ < double(first) + frames; next_ += period_) {
            const std::int64_t n = sent_.load(std::memory_order_relaxed);
            if (next_ < first || n >= std::int64_t(times_.size())) continue; // a cycle we missed
            const auto at = jack_nframes_t(next_ - first);
            writeUnseen(buffer, at, &tick, 1);
            times_[std::size_t(n)] = double(jack_frames_to_time(client_, first + at)) * 1000 + offset;
            sent_.store(n + 1, std::memory_order_release);
        }
        return 0;
    }
    // Only the process thread touches the queue, which allocates nothing.
    int follow(void* to, jack_nframes_t cycle, jack_nframes_t frames) {
        jack_midi_event_t e;
        for (std::uint32_t i = 0; jack_midi_event_get(&e, jack_port_get_buffer(in_, frames), i) == 0; ++i)
            if (e.size <= 3 && queued_ - due_ < queue_.size()) {
                Queued& q = queue_[queued_++ % queue_.size()];
                q = {cycle + e.time + delay_, std::uint8_t(e.size), {}};
                std::copy(e.buffer, e.buffer + e.size, q.bytes.begin());
            }
        for (; due_ != queued_; ++due_) { // frame times wrap: compare their difference
            const Queued& q = queue_[due_ % queue_.size()];
            if (std::int32_t(q.at - cycle) >= std::int32_t(frames)) break;
            writeUnseen(to, jack_nframes_t(std::max(std::int32_t(q.at - cycle), 0)), q.bytes.data(), q.size);
        }
        return 0;
    }

    jack_client_t* client_;
    jack_nframes_t delay_;
    jack_port_t *port_ = nullptr, *in_ = nullptr;
    std::mutex lock_;
    std::vector<std::vector<std::uint8_t>> pending_;
    double period_ = 0, next_ = 0; // frames
    std::vector<double> times_ = std::vector<double>(1 << 16);
    std::atomic<std::int64_t> sent_{0}, xruns_{0};
    struct Queued {
        jack_nframes_t at; // frame time due
        std::uint8_t size;
        std::array<std::uint8_t, 3> bytes;
    };
    std::array<Queued, 1024> queue_{};
    std::uint64_t queued_ = 0, due_ = 0;
};

struct JackBackend {
    using Sender = JackTestSender;
    static std::optional<std::string> unavailable() { return std::nullopt; }
    static std::unique_ptr<MidiService> service() { return JackMidiService::tryCreate(); }
};

} // namespace tactimo::test
