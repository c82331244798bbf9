#pragma once

// Sequencer clients of the test's own against a kernel's ALSA sequencer:
// senders that record when they sent, in this process or in one of their
// own, and the sequencer's own view of ports and subscriptions.

#include "ChildProcess.h"
#include "midi/AlsaSourceTable.h"

#include <alsa/asoundlib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace tactimo::alsatest {

using Address = AlsaSourceTable::Address;

inline std::uint64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::uint64_t(ts.tv_sec) * 1'000'000'000u + std::uint64_t(ts.tv_nsec);
}

// A sequencer client of the test's own, named as given, with one readable
// port "out". Its clock runs on a thread of its own that sleeps to absolute
// deadlines on CLOCK_MONOTONIC, so lateness never adds up, and records the
// time each tick was handed to the kernel.
class TestSender {
public:
    explicit TestSender(const std::string& name) {
        if (snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) return;
        snd_seq_set_client_name(seq_, name.c_str());
        port_ = snd_seq_create_simple_port(seq_, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
    ~TestSender() {
        stopClock();
        if (seq_) snd_seq_close(seq_);
    }
    TestSender(const TestSender&) = delete;
    TestSender& operator=(const TestSender&) = delete;

    bool ok() const { return seq_ && port_ >= 0; }
    snd_seq_t* seq() const { return seq_; }
    Address address() const { return {seq_ ? snd_seq_client_id(seq_) : -1, port_}; }

    // A subscription from our port to another, as aconnect makes it.
    bool connectTo(Address destination) {
        return snd_seq_connect_to(seq_, port_, destination.client, destination.port) == 0;
    }
    bool disconnectFrom(Address destination) {
        return snd_seq_disconnect_to(seq_, port_, destination.client, destination.port) == 0;
    }
    // One event straight to one port, past the subscribers: no subscription shows it.
    void sendTo(Address destination, snd_seq_event_type_t type) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        event.type = type;
        snd_seq_ev_set_source(&event, port_);
        snd_seq_ev_set_dest(&event, destination.client, destination.port);
        snd_seq_ev_set_direct(&event);
        std::lock_guard guard(output_);
        snd_seq_event_output_direct(seq_, &event);
    }

    // One event to every subscriber, now; the value is a song position's.
    void send(snd_seq_event_type_t type, int value = 0) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        event.type = type;
        event.data.control.value = value;
        send(event);
    }
    // System exclusive as a "user pointer" event: the kernel hands the
    // pointer on as it is, an address that means nothing in the receiver.
    void sendForeignPointer() {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        event.type = SND_SEQ_EVENT_SYSEX;
        snd_seq_ev_set_varusr(&event, 100, reinterpret_cast<void*>(std::uintptr_t(0x12345678)));
        send(event);
    }
    void send(snd_seq_event_t event) {
        snd_seq_ev_set_source(&event, port_);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        std::lock_guard guard(output_);
        snd_seq_event_output_direct(seq_, &event);
    }

    // Timing Clock at a tempo, from a little while from now, or from `at`
    // (CLOCK_MONOTONIC, ns).
    void startClock(double bpm, std::uint64_t at = 0) {
        stopClock();
        period_ = std::uint64_t(60e9 / (24.0 * bpm));
        start_ = at ? at : monotonicNs() + 20'000'000;
        running_ = true;
        clock_ = std::thread([this] {
            for (std::uint64_t next = start_; running_; next += period_) {
                const timespec at{time_t(next / 1'000'000'000), long(next % 1'000'000'000)};
                while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {}
                const std::int64_t n = sent_.load(std::memory_order_relaxed);
                if (n >= std::int64_t(times_.size())) break;
                times_[std::size_t(n)] = monotonicNs();
                send(SND_SEQ_EVENT_CLOCK);
                sent_.store(n + 1, std::memory_order_release);
            }
        });
    }
    void stopClock() {
        running_ = false;
        if (clock_.joinable()) clock_.join();
    }

    // Ticks the clock has sent, and when it began sending each (CLOCK_MONOTONIC, s).
    // A tick may arrive before it counts here.
    std::int64_t sent() const { return sent_.load(std::memory_order_acquire); }
    double sentAt(std::int64_t tick) const { return double(times_[std::size_t(tick)]) * 1e-9; }
    // How late the clock began sending a tick against its deadline, s.
    double lateness(std::int64_t tick) const {
        return double(times_[std::size_t(tick)] - (start_ + std::uint64_t(tick) * period_)) * 1e-9;
    }

private:
    snd_seq_t* seq_ = nullptr;
    int port_ = -1;
    std::mutex output_;
    std::thread clock_;
    std::atomic<bool> running_{false};
    std::uint64_t start_ = 0, period_ = 0; // ns
    std::vector<std::uint64_t> times_ = std::vector<std::uint64_t>(1 << 16);
    std::atomic<std::int64_t> sent_{0};
};

#ifdef ALSA_SENDER // the path of tactimo_alsa_sender
// A sender in a process of its own (tactimo_alsa_sender), as programs come
// and go: told what to send a line at a time; it quits at the end of its
// input, or is killed.
class SenderProcess {
public:
    explicit SenderProcess(const std::string& name) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0) return;
        if (pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return;
        }
        pid_ = test::spawn({ALSA_SENDER, name}, {.in = in[0], .out = out[1], .err = 2});
        ::close(in[0]);
        ::close(out[1]);
        in_ = in[1];
        // Its address, once its port is there.
        pollfd ready{out[0], POLLIN, 0};
        char line[32] = {};
        if (pid_ > 0 && poll(&ready, 1, 10'000) == 1 && ::read(out[0], line, sizeof line - 1) > 0)
            std::sscanf(line, "%d:%d", &address_.client, &address_.port);
        ::close(out[0]);
    }
    ~SenderProcess() { quit(); }
    SenderProcess(const SenderProcess&) = delete;
    SenderProcess& operator=(const SenderProcess&) = delete;

    bool ok() const { return address_.client >= 0; }
    Address address() const { return address_; }
    void say(const std::string& line) {
        [[maybe_unused]] const auto n = ::write(in_, (line + '\n').data(), line.size() + 1);
    }
    // Ends it, at the end of its input or by a signal that it cannot handle.
    void quit(bool kill = false) {
        if (in_ >= 0) ::close(in_);
        in_ = -1;
        if (pid_ <= 0) return;
        if (kill) ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int in_ = -1;
    Address address_{-1, -1};
};
#endif

// How far a window of stamps of ticks (s, oldest first, the last being tick
// end - 1) lies from the ticks' send times: the median of stamp minus send
// time, s. None when the machine stalled in the window: a stall of the sender
// alone moves its send time and the stamp alike, but a stall between the
// two, or of the sequencer's timer (which stamps the events of its catch-up
// late by up to the stall), moves a stamp more than 2 ms from the rest.
inline std::optional<double> stampsFromSends(const TestSender& sender, std::span<const double> stamps,
                                             std::int64_t end) {
    std::vector<double> apart;
    const auto first = end - std::int64_t(stamps.size());
    for (std::size_t i = 0; i < stamps.size(); ++i) apart.push_back(stamps[i] - sender.sentAt(first + std::int64_t(i)));
    std::vector<double> sorted = apart;
    std::ranges::nth_element(sorted, sorted.begin() + std::ptrdiff_t(sorted.size() / 2));
    const double median = sorted[sorted.size() / 2];
    if (!std::ranges::all_of(apart, [&](double a) { return std::fabs(a - median) < 2e-3; })) return std::nullopt;
    return median;
}

// The ports subscribed to a port, as the sequencer lists them (aconnect -l
// shows the same): those that write to it, or those it writes to.
inline std::vector<Address> subscribers(snd_seq_t* seq, Address port, snd_seq_query_subs_type_t type) {
    std::vector<Address> found;
    if (!seq) return found;
    snd_seq_query_subscribe_t* query = nullptr;
    snd_seq_query_subscribe_alloca(&query);
    const snd_seq_addr_t root{std::uint8_t(port.client), std::uint8_t(port.port)};
    snd_seq_query_subscribe_set_root(query, &root);
    snd_seq_query_subscribe_set_type(query, type);
    snd_seq_query_subscribe_set_index(query, 0);
    while (snd_seq_query_port_subscribers(seq, query) >= 0) {
        const snd_seq_addr_t* a = snd_seq_query_subscribe_get_addr(query);
        found.push_back({a->client, a->port});
        snd_seq_query_subscribe_set_index(query, snd_seq_query_subscribe_get_index(query) + 1);
    }
    return found;
}
inline std::vector<Address> writersTo(snd_seq_t* seq, Address port) {
    return subscribers(seq, port, SND_SEQ_QUERY_SUBS_WRITE);
}
inline std::vector<Address> readersOf(snd_seq_t* seq, Address port) {
    return subscribers(seq, port, SND_SEQ_QUERY_SUBS_READ);
}

// The address of a port of this process's client of a name; client -1 if none.
inline Address portOf(snd_seq_t* seq, const std::string& client, const std::string& port) {
    snd_seq_client_info_t* c = nullptr;
    snd_seq_port_info_t* p = nullptr;
    snd_seq_client_info_alloca(&c);
    snd_seq_port_info_alloca(&p);
    snd_seq_client_info_set_client(c, -1);
    while (snd_seq_query_next_client(seq, c) >= 0) {
        if (snd_seq_client_info_get_pid(c) != getpid() || client != snd_seq_client_info_get_name(c)) continue;
        snd_seq_port_info_set_client(p, snd_seq_client_info_get_client(c));
        snd_seq_port_info_set_port(p, -1);
        while (snd_seq_query_next_port(seq, p) >= 0)
            if (port == snd_seq_port_info_get_name(p))
                return {snd_seq_client_info_get_client(c), snd_seq_port_info_get_port(p)};
    }
    return {-1, -1};
}

} // namespace tactimo::alsatest
