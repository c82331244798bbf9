#pragma once

// The ALSA side of the backend fixture that the MIDI backend and tactimo-watch
// suites share, against a kernel's sequencer: the backend, and a sender of
// the test's own that records when it sent.

#include "midi/AlsaMidiService.h"

#include <unistd.h>

#include <atomic>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tactimo::alsatest {

using Address = AlsaSourceTable::Address;

// The ports that read from a port, as aconnect -l shows them.
inline std::vector<Address> readersOf(snd_seq_t* seq, Address port) {
    std::vector<Address> found;
    snd_seq_query_subscribe_t* query = nullptr;
    snd_seq_query_subscribe_alloca(&query);
    const snd_seq_addr_t root{std::uint8_t(port.client), std::uint8_t(port.port)};
    snd_seq_query_subscribe_set_root(query, &root);
    snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
    for (int i = 0; seq; ++i) {
        snd_seq_query_subscribe_set_index(query, i);
        if (snd_seq_query_port_subscribers(seq, query) < 0) break;
        const snd_seq_addr_t* reader = snd_seq_query_subscribe_get_addr(query);
        found.push_back({reader->client, reader->port});
    }
    return found;
}

// A client named as given with one readable port "out". Its clock runs on a
// thread that sleeps to absolute deadlines on CLOCK_MONOTONIC, so lateness
// never adds up, and records when it handed each tick to the kernel.
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
    int listeners() const { return int(readersOf(seq_, address()).size()); }
    bool connectTo(Address to) { return snd_seq_connect_to(seq_, port_, to.client, to.port) == 0; }
    // Our public port: client "Tactimo", its second port.
    Address publicPort() const {
        snd_seq_addr_t a{};
        return snd_seq_parse_address(seq_, &a, "Tactimo:1") == 0 ? Address{a.client, a.port} : Address{-1, -1};
    }
    bool connectPublic() { return connectTo(publicPort()); }

    // MIDI bytes as the events they encode, to every subscriber.
    void send(const std::vector<std::uint8_t>& bytes) {
        snd_midi_event_t* encoder = nullptr;
        if (snd_midi_event_new(16, &encoder) < 0) return;
        snd_seq_event_t event{};
        for (const std::uint8_t byte : bytes)
            if (snd_midi_event_encode_byte(encoder, byte, &event) == 1) sendEvent(event);
        snd_midi_event_free(encoder);
    }
    // An event, now: to every subscriber, or straight to one port past them.
    void sendEvent(snd_seq_event_t event, std::optional<Address> to = {}) {
        snd_seq_ev_set_source(&event, port_);
        snd_seq_ev_set_dest(&event, to ? to->client : SND_SEQ_ADDRESS_SUBSCRIBERS,
                            to ? to->port : SND_SEQ_ADDRESS_UNKNOWN);
        snd_seq_ev_set_direct(&event);
        std::lock_guard guard(output_);
        snd_seq_event_output_direct(seq_, &event);
    }

    // Timing Clock at a tempo, from a little while from now, or from `at`
    // (CLOCK_MONOTONIC, ns).
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
                snd_seq_event_t tick{};
                tick.type = SND_SEQ_EVENT_CLOCK;
                sendEvent(tick);
                ++sent_;
            }
        });
    }
    void stopClock() {
        running_ = false;
        if (clock_.joinable()) clock_.join();
    }
    // Ticks the clock sent (one may arrive before it counts here), and when
    // each was sent, on CLOCK_MONOTONIC (s).
    std::int64_t sent() const { return sent_; }
    double sentAt(std::int64_t tick) const { return double(times_[std::size_t(tick)]) * 1e-9; }
    double lateness(std::int64_t tick) const {
        return sentAt(tick) - double(start_ + std::uint64_t(tick) * period_) * 1e-9;
    }
    std::int64_t xruns() const { return 0; }

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
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer slows every step of an emulated machine past clean
    // timing: there the clock paths run for their races, not their precision.
    static constexpr bool timed = false;
#else
    static constexpr bool timed = true;
#endif
};

} // namespace tactimo::test
