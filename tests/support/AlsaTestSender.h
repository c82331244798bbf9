// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "midi/AlsaMidiService.h"

#include <atomic>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tactimo::alsatest {

using Address = AlsaSourceTable::Address;

// A client with one readable port "out"; its clock sleeps to absolute deadlines, so lateness never adds up.
class TestSender {
public:
    explicit TestSender(const std::string& name) : name_(name) {
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) return;
        snd_seq_set_client_name(seq_, name.c_str());
        port_ = snd_seq_create_simple_port(seq_, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
    ~TestSender() {
        stopClock();
        if (seq_) snd_seq_close(seq_);
    }
    bool ok() const { return seq_ && port_ >= 0; }
    snd_seq_t* seq() const { return seq_; }
    Address address() const { return {seq_ ? snd_seq_client_id(seq_) : -1, port_}; }
    std::string source() const { return name_ + ":out"; }
    // The ports that read from ours, as aconnect -l shows them.
    int listeners() const {
        snd_seq_port_info_t* info = nullptr;
        snd_seq_port_info_alloca(&info);
        return ok() && snd_seq_get_port_info(seq_, port_, info) == 0 ? snd_seq_port_info_get_read_use(info) : 0;
    }
    bool connectTo(Address to) { return snd_seq_connect_to(seq_, port_, to.client, to.port) == 0; }
    // To our public port: client "Tactimo", its second port.
    bool connectPublic() {
        snd_seq_addr_t a{};
        return snd_seq_parse_address(seq_, &a, "Tactimo:1") == 0 && connectTo({a.client, a.port});
    }
    // MIDI bytes as the events they encode, now, to every subscriber.
    void send(const std::vector<std::uint8_t>& bytes) {
        snd_midi_event_t* encoder = nullptr;
        if (snd_midi_event_new(16, &encoder) < 0) return;
        snd_seq_event_t event{};
        for (const std::uint8_t byte : bytes)
            if (snd_midi_event_encode_byte(encoder, byte, &event) == 1) {
                snd_seq_ev_set_source(&event, port_);
                snd_seq_ev_set_subs(&event);
                snd_seq_ev_set_direct(&event);
                std::lock_guard guard(output_);
                snd_seq_event_output_direct(seq_, &event);
            }
        snd_midi_event_free(encoder);
    }
    // Timing Clock at a tempo, from a little while from now, or from `at` (CLOCK_MONOTONIC, ns).
    void clock(double bpm, std::uint64_t at = 0) {
        stopClock();
        period_ = std::uint64_t(60e9 / (24.0 * bpm));
        start_ = at ? at : monotonicNs() + 20'000'000;
        running_ = true;
        clock_ = std::thread([this] {
            for (std::uint64_t next = start_; running_ && sent_ < std::ssize(times_); next += period_) {
                const timespec at{time_t(next / 1'000'000'000), long(next % 1'000'000'000)};
                while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {}
                times_[std::size_t(sent_.load())] = monotonicNs();
                send({0xF8});
                ++sent_;
            }
        });
    }
    void stopClock() {
        running_ = false;
        if (clock_.joinable()) clock_.join();
    }
    // Ticks the clock sent (one may arrive before it counts here), and when, on CLOCK_MONOTONIC (s).
    std::int64_t sent() const { return sent_; }
    double sentAt(std::int64_t tick) const { return double(times_[std::size_t(tick)]) * 1e-9; }
    double lateness(std::int64_t tick) const {
        return sentAt(tick) - double(start_ + std::uint64_t(tick) * period_) * 1e-9;
    }
    static std::uint64_t monotonicNs() {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return std::uint64_t(ts.tv_sec) * 1'000'000'000u + std::uint64_t(ts.tv_nsec);
    }

private:
    std::string name_;
    snd_seq_t* seq_ = nullptr;
    int port_ = -1;
    std::mutex output_;
    std::thread clock_;
    std::atomic<bool> running_{false};
    std::uint64_t start_ = 0, period_ = 0; // ns
    std::vector<std::uint64_t> times_ = std::vector<std::uint64_t>(1 << 16);
    std::atomic<std::int64_t> sent_{0};
};

} // namespace tactimo::alsatest

namespace tactimo::test {

struct AlsaBackend {
    using Sender = alsatest::TestSender;
    static std::optional<std::string> unavailable() {
        if (access("/dev/snd/seq", R_OK | W_OK) == 0) return std::nullopt;
        return "no ALSA sequencer here; scripts/vm-ctest.sh runs these in a virtual machine";
    }
    static std::unique_ptr<MidiService> service() { return AlsaMidiService::tryCreate(); }
};

} // namespace tactimo::test
