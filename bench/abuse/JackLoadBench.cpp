// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What the window's store does, on a real JACK server, with figures: the
// intake (ClockInput on the JACK backend) refreshed every 1/30 s, the source
// list taken again on every set-up change. Counts every clock tick the
// service delivers per source and the gaps between them, times each refresh,
// and prints the process's CPU share. Used by the abuse runs for the load of
// many senders, the churn of senders coming and going, and a server that dies.
//
//   tactimo_jack_load [--seconds N] [--bpm B] [--expect N] [--after-first-tick]
//
// --expect N waits (up to 30 s) until N sources are listed and prints READY;
// --after-first-tick starts the N seconds at the first tick.

#include "bench/PassThroughMidiService.h"
#include "bench/ProcessUsage.h"
#include "core/ClockInput.h"
#include "core/ClockStatus.h"
#include "midi/JackMidiService.h"
#include "support/MainQueue.h"

#include <jack/jack.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace tactimo;

namespace {

// Passes everything through and counts the ticks of each source on the way.
class CountingService : public PassThroughMidiService {
public:
    struct Count {
        long ticks = 0;
        long longGaps = 0; // gaps longer than 1.5 intervals: late or missing ticks
        double maxGap = 0; // seconds
        double first = NAN, last = NAN;
        // Ticks missing between the first and the last one, from the nominal interval.
        long missing(double interval) const {
            if (ticks < 2) return 0;
            return std::max(0L, std::lround((last - first) / interval) + 1 - ticks);
        }
    };

    CountingService(std::unique_ptr<MidiService> inner, double interval)
        : PassThroughMidiService(std::move(inner)),
          interval_(interval) {}
    ~CountingService() override { close(); }

    std::map<SourceKey, Count> counts() const {
        std::lock_guard guard(lock_);
        return counts_;
    }

private:
    void observe(MidiPacketList list, SourceKey key) override {
        const std::uint64_t arrival = hostClock::now();
        std::lock_guard guard(lock_);
        Count& c = counts_[key];
        for (const MidiPacket& packet : list) {
            const double t = static_cast<double>(packet.timeStamp ? packet.timeStamp : arrival) * 1e-9;
            for (const std::uint8_t byte : packet.bytes) {
                if (byte != 0xF8) continue;
                if (!std::isnan(c.last)) {
                    const double gap = t - c.last;
                    c.maxGap = std::max(c.maxGap, gap);
                    if (gap > 1.5 * interval_) ++c.longGaps;
                } else {
                    c.first = t;
                }
                c.last = t;
                ++c.ticks;
            }
        }
    }

    double interval_;
    mutable std::mutex lock_;
    std::map<SourceKey, Count> counts_;
};

// Ports of a client that a source feeds, as another client of the server
// sees them: the backend names each port of its own "from <source>".
long fedPorts(jack_client_t* probe, const std::string& client) {
    long fed = 0;
    const std::string pattern = "^" + client + ":from ";
    if (const char** names = jack_get_ports(probe, pattern.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput)) {
        for (const char** name = names; *name; ++name)
            if (const jack_port_t* port = jack_port_by_name(probe, *name); port && jack_port_connected(port) > 0) ++fed;
        jack_free(names);
    }
    return fed;
}

const char* stateName(ClockStatus::State s) {
    switch (s) {
    case ClockStatus::State::waiting: return "waiting";
    case ClockStatus::State::noClock: return "noClock";
    case ClockStatus::State::running: return "running";
    case ClockStatus::State::playing: return "playing";
    case ClockStatus::State::stopped: return "stopped";
    }
    return "?";
}

} // namespace

int main(int argc, char** argv) {
    const auto programStart = std::chrono::steady_clock::now();
    double seconds = 60, bpm = 120;
    long expect = -1;
    bool afterFirstTick = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--bpm") && i + 1 < argc)
            bpm = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--expect") && i + 1 < argc)
            expect = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--after-first-tick"))
            afterFirstTick = true;
    }

    auto jack = JackMidiService::tryCreate("TactimoLoad");
    if (!jack) {
        std::fprintf(stderr, "no JACK server\n");
        return 2;
    }
    JackMidiService* backend = jack.get();
    auto counting = std::make_unique<CountingService>(std::move(jack), 60.0 / (24.0 * bpm));
    CountingService* counter = counting.get();

    test::MainQueue mainQueue;
    ClockInput input(std::move(counting), mainQueue.post());
    std::vector<MIDISource> sources = input.sources();
    long setupChanges = 0;
    input.onSourcesChanged = [&] {
        ++setupChanges;
        sources = input.sources();
    };
    using Clock = std::chrono::steady_clock;
    // Kept until the end: its going would be a set-up change in the run.
    const std::unique_ptr<jack_client_t, int (*)(jack_client_t*)> probe(
        expect >= 0 ? jack_client_open("tactimo-load-probe", JackNoStartServer, nullptr) : nullptr, jack_client_close);
    if (expect >= 0) {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        // Listed is not yet connected: wait until each source feeds a port of ours.
        const auto idle = [](tactimo::test::MainQueue& main) {
            std::lock_guard guard(main.lock);
            return main.queue.empty();
        };
        auto connected = [&] {
            const long listed = static_cast<long>(sources.size()) - 1;
            return listed >= expect && probe && fedPorts(probe.get(), "TactimoLoad") >= listed && idle(mainQueue);
        };
        while (!connected() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            mainQueue.runPending();
        }
        std::printf("READY %zu sources listed and connected %.2f s after the start\n", sources.size() - 1,
                    std::chrono::duration<double>(Clock::now() - programStart).count());
        std::fflush(stdout);
    }

    ClockStatus status;
    std::optional<SourceKey> active;
    std::vector<double> costs; // seconds per refresh
    long refreshes = 0, late = 0;
    double maxLate = 0, maxLateAt = 0, maxPosted = 0, maxPostedAt = 0;
    bool afterSetupWork = false; // the set-up work of the last round delays this one
    std::optional<Clock::time_point> begin;
    std::optional<double> cpuBegin;
    if (!afterFirstTick) {
        begin = Clock::now();
        cpuBegin = bench::cpuSeconds();
    }
    auto next = Clock::now();
    double lastPrint = -1;
    const auto giveUp = Clock::now() + std::chrono::duration<double>(seconds + 30);

    for (;;) {
        next += std::chrono::microseconds(33333);
        std::this_thread::sleep_until(next);
        const double lateBy = std::chrono::duration<double>(Clock::now() - next).count();
        if (lateBy > 0.1) next = Clock::now(); // a timer skips the rounds it missed
        const auto p0 = Clock::now();
        mainQueue.runPending();
        const double postedCost = std::chrono::duration<double>(Clock::now() - p0).count();
        const bool delayedBySetup = afterSetupWork;
        afterSetupWork = postedCost > 0.005;
        if (postedCost > maxPosted) {
            maxPosted = postedCost;
            maxPostedAt = begin ? std::chrono::duration<double>(Clock::now() - *begin).count() : -1.0;
        }

        const auto t0 = Clock::now();
        const Readings snapshot = input.readings();
        status = deriveStatus(snapshot, "", active, status);
        const double cost = std::chrono::duration<double>(Clock::now() - t0).count();

        if (!begin) {
            if (status.receiving) {
                begin = Clock::now();
                cpuBegin = bench::cpuSeconds();
            } else if (Clock::now() > giveUp) {
                std::fprintf(stderr, "no clock arrived\n");
                return 3;
            } else {
                continue;
            }
        }
        ++refreshes;
        costs.push_back(cost);
        const double t = std::chrono::duration<double>(Clock::now() - *begin).count();
        if (!delayedBySetup) {
            if (lateBy > maxLate) {
                maxLate = lateBy;
                maxLateAt = t;
            }
            if (lateBy > 1.0 / 60) ++late;
        }

        if (t - lastPrint >= 1.0) {
            lastPrint = t;
            std::printf("t %5.1f s  state %-8s receiving %d  bpm %6.1f  sources listed %zu  sending %zu  server %s\n",
                        t, stateName(status.state), status.receiving, status.bpm.value_or(NAN), sources.size() - 1,
                        status.otherSources.size() + (status.receiving ? 1 : 0), backend->reachable() ? "up" : "gone");
            std::fflush(stdout);
        }
        if (t >= seconds) break;
    }
    const double wall = std::chrono::duration<double>(Clock::now() - *begin).count();
    const double cpu = bench::cpuSeconds() - *cpuBegin;

    const auto counts = counter->counts();
    const double interval = 60.0 / (24.0 * bpm);
    long minTicks = counts.empty() ? 0 : LONG_MAX, maxTicks = 0, missing = 0, longGaps = 0;
    double maxGap = 0, minRate = INFINITY, maxRate = 0;
    for (const auto& [key, c] : counts) {
        minTicks = std::min(minTicks, c.ticks);
        maxTicks = std::max(maxTicks, c.ticks);
        missing += c.missing(interval);
        longGaps += c.longGaps;
        maxGap = std::max(maxGap, c.maxGap);
        if (c.ticks > 1) {
            const double rate = 60.0 * static_cast<double>(c.ticks - 1) / (24.0 * (c.last - c.first));
            minRate = std::min(minRate, rate);
            maxRate = std::max(maxRate, rate);
        }
    }
    std::sort(costs.begin(), costs.end());
    const double p99 = costs.empty() ? NAN : costs[costs.size() * 99 / 100];
    const double worst = costs.empty() ? NAN : costs.back();

    std::printf("SUMMARY seconds %.1f sources_with_clock %zu ticks_min %ld ticks_max %ld missing %ld long_gaps %ld "
                "max_gap_ms %.2f bpm_min %.3f bpm_max %.3f dropped_lists %llu rejected_records %llu refreshes %ld "
                "rate_hz %.2f late %ld "
                "max_late_ms %.1f max_late_at %.1f setup_work_max_ms %.1f setup_work_at %.1f refresh_p99_us %.0f "
                "refresh_max_us %.0f "
                "cpu_share %.1f%% setup_changes %ld listed %zu server %s state %s\n",
                wall, counts.size(), minTicks, maxTicks, missing, longGaps, maxGap * 1e3, minRate, maxRate,
                static_cast<unsigned long long>(backend->stats().dropped),
                static_cast<unsigned long long>(backend->stats().rejected), refreshes, refreshes / wall, late,
                maxLate * 1e3, maxLateAt, maxPosted * 1e3, maxPostedAt, p99 * 1e6, worst * 1e6, 100.0 * cpu / wall,
                setupChanges, sources.size() - 1, backend->reachable() ? "up" : "gone", stateName(status.state));
    for (const MIDISource& s : sources) {
        std::printf("SOURCE %s\n", s.name.c_str());
        if (const auto it = counts.find(s.ref); it != counts.end())
            std::printf("COUNT %ld %s\n", it->second.ticks, s.name.c_str());
    }
    // The leak check at exit ends the process before stdio would flush.
    std::fflush(stdout);
    return 0;
}
