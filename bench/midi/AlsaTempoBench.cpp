// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Tempo through a kernel's ALSA sequencer, against a clock whose true tempo
// is known: a sender of our own sleeps to absolute deadlines on
// CLOCK_MONOTONIC, so its tempo on that clock is exact whatever its wake-up
// lateness. Prints, over 192-tick windows:
//   - the sender's own send times fitted (how steady the machine let it be);
//   - Tactimo (ClockInput over AlsaMidiService), live;
//   - the kernel's stamps of a second such sender, for a client of this
//     program's own, mapped once with a fresh offset every 2 s (how the
//     backend did it before) and once through AlsaQueueClock.
// Only windows stamped without a stall of the machine count (see
// stampsFromSends); under emulation the machine stalls often.
// Errors are in BPM against the true tempo and against the fit of the
// sender's send times of the same ticks. Needs /dev/snd/seq:
//
//   bench/midi/alsa_figures.sh, or scripts/run-in-vm.sh -- .../tactimo_alsa_tempo [seconds=60] [bpm=123.4]

#include "core/ClockInput.h"
#include "midi/AlsaMidiService.h"
#include "support/AlsaTestSender.h"
#include "support/MainQueue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ranges>
#include <span>
#include <string>
#include <vector>

using namespace tactimo;
using namespace tactimo::alsatest;
using namespace std::chrono_literals;

namespace {

// How far a window of stamps of ticks (s, oldest first, the last being tick
// end - 1) lies from the ticks' send times: the median of stamp minus send
// time, s. None when the machine stalled in the window: a stall of the sender
// alone moves its send time and the stamp alike, but a stall between the
// two, or of the sequencer's timer (which stamps the events of its catch-up
// late by up to the stall), moves a stamp more than 2 ms from the rest.
std::optional<double> stampsFromSends(const TestSender& sender, std::span<const double> stamps, std::int64_t end) {
    std::vector<double> apart;
    const auto first = end - std::int64_t(stamps.size());
    for (std::size_t i = 0; i < stamps.size(); ++i) apart.push_back(stamps[i] - sender.sentAt(first + std::int64_t(i)));
    std::vector<double> sorted = apart;
    std::ranges::nth_element(sorted, sorted.begin() + std::ptrdiff_t(sorted.size() / 2));
    const double median = sorted[sorted.size() / 2];
    if (!std::ranges::all_of(apart, [&](double a) { return std::fabs(a - median) < 2e-3; })) return std::nullopt;
    return median;
}

// A receiver of our own: a port stamped by its own queue, like Tactimo's,
// keeping the raw stamps and reads of the queue's time.
struct RawReceiver {
    snd_seq_t* seq = nullptr;
    int queue = -1;
    Address port{-1, -1};
    std::vector<std::uint64_t> stamps;                         // queue ns, one per tick
    std::vector<std::vector<hostClock::Bracket>> calibrations; // five reads each
    std::vector<std::size_t> calibratedBefore;                 // ticks received before each
    std::thread thread;
    std::atomic<bool> running{true};

    RawReceiver() {
        if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) return;
        snd_seq_set_client_name(seq, "tactimo-bench-raw");
        queue = snd_seq_alloc_named_queue(seq, "raw");
        snd_seq_port_info_t* info = nullptr;
        snd_seq_port_info_alloca(&info);
        snd_seq_port_info_set_name(info, "in");
        snd_seq_port_info_set_capability(info, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
        snd_seq_port_info_set_type(info, SND_SEQ_PORT_TYPE_APPLICATION);
        snd_seq_port_info_set_timestamping(info, 1);
        snd_seq_port_info_set_timestamp_real(info, 1);
        snd_seq_port_info_set_timestamp_queue(info, queue);
        snd_seq_create_port(seq, info);
        port = {snd_seq_client_id(seq), snd_seq_port_info_get_port(info)};
        snd_seq_start_queue(seq, queue, nullptr);
        snd_seq_drain_output(seq);
        stamps.reserve(1 << 16);
        thread = std::thread([this] { run(); });
    }
    ~RawReceiver() {
        running = false;
        if (thread.joinable()) thread.join();
        if (seq) snd_seq_close(seq);
    }
    void calibrate() {
        snd_seq_queue_status_t* status = nullptr;
        snd_seq_queue_status_alloca(&status);
        std::vector<hostClock::Bracket> reads;
        for (int i = 0; i < 5; ++i) {
            hostClock::Bracket b;
            b.hostBefore = hostClock::now();
            if (snd_seq_get_queue_status(seq, queue, status) < 0) continue;
            b.hostAfter = hostClock::now();
            const snd_seq_real_time_t* t = snd_seq_queue_status_get_real_time(status);
            b.foreign = std::uint64_t(t->tv_sec) * 1'000'000'000u + t->tv_nsec;
            reads.push_back(b);
        }
        calibrations.push_back(reads);
        calibratedBefore.push_back(stamps.size());
    }
    void run() {
        snd_seq_nonblock(seq, 1);
        pollfd fd{};
        snd_seq_poll_descriptors(seq, &fd, 1, POLLIN);
        std::uint64_t next = 0;
        while (running) {
            if (hostClock::now() >= next) {
                calibrate();
                next = hostClock::now() + 250'000'000;
            }
            poll(&fd, 1, 50);
            snd_seq_event_t* event = nullptr;
            while (snd_seq_event_input(seq, &event) >= 0 && event)
                if (event->type == SND_SEQ_EVENT_CLOCK)
                    stamps.push_back(std::uint64_t(event->time.time.tv_sec) * 1'000'000'000u +
                                     event->time.time.tv_nsec);
        }
    }
};

double bpmOf(const std::vector<double>& times) {
    return 60.0 / (24.0 * ClockAnalyzer::fit(times)->slope);
}

struct Errors {
    std::vector<double> values;
    void add(double e) { values.push_back(e); }
    void print(const char* what) const {
        double squares = 0, worst = 0;
        for (double e : values) {
            squares += e * e;
            worst = std::max(worst, std::fabs(e));
        }
        std::printf("  %-44s %5zu windows  rms %.4f  max %.4f BPM\n", what, values.size(),
                    values.empty() ? 0.0 : std::sqrt(squares / double(values.size())), worst);
    }
};

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const double bpm = argc > 2 ? std::atof(argv[2]) : 123.4;
    constexpr std::size_t window = ClockAnalyzer::windowCapacity;

    auto service = AlsaMidiService::tryCreate();
    if (!service) {
        std::fprintf(stderr, "no ALSA sequencer here; run it in the VM: scripts/run-in-vm.sh -- %s\n", argv[0]);
        return 1;
    }
    test::MainQueue queue;
    ClockInput input(std::move(service), queue.post());
    RawReceiver raw;
    // The kernel stamps each subscriber's copy of an event as it delivers
    // it, one after the other: a second subscriber's stamps carry the
    // delivery to the first. So each receiver gets a sender of its own, with
    // the same tempo; the second (Tactimo subscribes to it too) is connected
    // to our receiver before Tactimo can.
    TestSender sender("tactimo-bench-clock"), rawSender("tactimo-bench-raw-clock");
    if (!raw.seq || !sender.ok() || !rawSender.connectTo(raw.port)) {
        std::fprintf(stderr, "could not set up the clients\n");
        return 1;
    }
    std::optional<SourceKey> key;
    test::pumpUntil(queue, [&] {
        for (const MIDISource& s : input.sources())
            if (s.name == "tactimo-bench-clock:out") key = s.ref;
        return key.has_value();
    });
    if (!key) return 1;
    test::pumpUntil(
        queue, [] { return false; }, 500ms); // connected by now
    sender.clock(bpm);
    rawSender.clock(bpm);

    // Tactimo live: each window ending at least 24 ticks after the last one.
    Errors liveTruth, liveSent;
    std::int64_t lastEnd = 0;
    std::size_t liveWindows = 0, windows = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        queue.runPending();
        const Readings all = input.readings();
        if (all.contains(*key)) {
            const ClockAnalyzer& a = all.at(*key).analyzer;
            const std::int64_t last = a.tickCount, n = std::int64_t(a.ticks.size());
            if (n == std::int64_t(window) && a.interval && last >= lastEnd + 24 && last <= sender.sent()) {
                lastEnd = last;
                std::vector<double> sent;
                for (std::int64_t t = last - n; t < last; ++t) sent.push_back(sender.sentAt(t));
                ++liveWindows;
                if (!stampsFromSends(sender, a.ticks.span(), last)) continue;
                const double got = 60.0 / (24.0 * *a.interval);
                liveTruth.add(got - bpm);
                liveSent.add(got - bpmOf(sent));
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    sender.stopClock();
    rawSender.stopClock();
    std::this_thread::sleep_for(300ms);
    raw.running = false;
    raw.thread.join();

    // The raw stamps, mapped both ways, the mapping as it stood when each tick was read.
    const std::size_t ticks = std::min<std::size_t>(raw.stamps.size(), std::size_t(rawSender.sent()));
    std::vector<double> oldWay(ticks), newWay(ticks);
    AlsaQueueClock clock;
    std::optional<std::int64_t> offset;
    std::size_t c = 0;
    for (std::size_t i = 0; i < ticks; ++i) {
        for (; c < raw.calibrations.size() && raw.calibratedBefore[c] <= i; ++c) {
            clock.calibrate(raw.calibrations[c]);
            if (c % 8 == 0) // every 2 s: replaced by the narrowest bracket's middle
                if (const auto fresh = hostClock::offset(raw.calibrations[c])) offset = fresh;
        }
        newWay[i] = double(clock.toHost(raw.stamps[i])) * 1e-9;
        oldWay[i] = double(hostClock::toHost(raw.stamps[i], offset.value_or(0))) * 1e-9;
    }
    Errors sentTruth, oldTruth, oldSent, newTruth, newSent;
    std::vector<double> late;
    for (std::size_t i = 0; i < ticks; ++i) late.push_back(rawSender.lateness(std::int64_t(i)) * 1e3);
    const std::size_t skip = 2 * window; // the first mapping settles
    for (std::size_t first = skip; first + window <= ticks; first += 24) {
        ++windows;
        const auto end = std::int64_t(first + window);
        if (!stampsFromSends(rawSender, std::span(newWay).subspan(first, window), end) ||
            !stampsFromSends(rawSender, std::span(oldWay).subspan(first, window), end))
            continue;
        std::vector<double> sent, o(oldWay.begin() + first, oldWay.begin() + first + window),
            n(newWay.begin() + first, newWay.begin() + first + window);
        for (std::size_t t = first; t < first + window; ++t) sent.push_back(rawSender.sentAt(std::int64_t(t)));
        const double truth = bpmOf(sent);
        sentTruth.add(truth - bpm);
        oldTruth.add(bpmOf(o) - bpm);
        oldSent.add(bpmOf(o) - truth);
        newTruth.add(bpmOf(n) - bpm);
        newSent.add(bpmOf(n) - truth);
    }
    std::sort(late.begin(), late.end());
    const auto pct = [&](double p) { return late.empty() ? 0.0 : late[std::size_t(p * double(late.size() - 1))]; };
    std::printf("ALSA sequencer tempo: %.1f BPM for %.0f s, %zu ticks sent, %zu stamped; the sender woke late by "
                "%.2f ms (median), %.2f ms (99th percentile), %.1f ms (worst)\n",
                bpm, seconds, std::size_t(rawSender.sent()), raw.stamps.size(), pct(0.5), pct(0.99), pct(1.0));
    std::printf("192-tick fits, every 24 ticks, of windows stamped without a stall of the machine:"
                " %zu of %zu live, %zu of %zu afterwards\n",
                liveTruth.values.size(), liveWindows, newTruth.values.size(), windows);
    std::printf("error against the true tempo:\n");
    sentTruth.print("sender's send times");
    liveTruth.print("Tactimo (live)");
    oldTruth.print("kernel stamps, fresh offset every 2 s (before)");
    newTruth.print("kernel stamps, AlsaQueueClock");
    std::printf("error against the fit of the same ticks' send times:\n");
    liveSent.print("Tactimo (live)");
    oldSent.print("kernel stamps, fresh offset every 2 s (before)");
    newSent.print("kernel stamps, AlsaQueueClock");
    return 0;
}
