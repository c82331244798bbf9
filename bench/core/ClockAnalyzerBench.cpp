// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "AllocationCounter.h"

#include "core/ClockAnalyzer.h"
#include "core/ClockParser.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace tactimo {
namespace {

constexpr double spacing = 0.02; // 125 BPM

// Tick times of a clock at 125 BPM with the given timing noise (seconds, rms);
// the noise is far too small for either change rule to match.
std::vector<double> clockTimes(std::size_t count, double noise) {
    std::mt19937_64 rng(3);
    std::normal_distribution<double> jitter(0.0, noise);
    std::vector<double> times(count);
    for (std::size_t k = 0; k < count; ++k) times[k] = 3600.0 + k * spacing + (noise > 0 ? jitter(rng) : 0.0);
    return times;
}

// One tick on a full window. Rule 1 never matches, so both rules are tried on
// every tick: five fits per tick, the most a tick without a cut does.
void tickOnFullWindow(benchmark::State& state, double noise) {
    const std::vector<double> times = clockTimes(1 << 16, noise);
    ClockAnalyzer a;
    std::size_t k = 0;
    for (; k < 400; ++k) a.tick(times[k]);

    const std::uint64_t allocationsBefore = allocationCount();
    for (auto _ : state) {
        if (k == times.size()) state.SkipWithError("ran out of tick times");
        a.tick(times[k++]);
        benchmark::DoNotOptimize(a);
    }
    const auto allocations = static_cast<double>(allocationCount() - allocationsBefore);
    state.counters["allocs_per_tick"] = benchmark::Counter(allocations, benchmark::Counter::kAvgIterations);
    if (a.ticks.size() != 192 || a.changeTicks != 0) state.SkipWithError("the window did not stay full and steady");
    if (allocations > 0) state.SkipWithError("a tick on a full window allocated");
}

void BM_TickSteady(benchmark::State& state) {
    tickOnFullWindow(state, 0.0);
}
void BM_TickJittery(benchmark::State& state) {
    tickOnFullWindow(state, 1e-4);
}
BENCHMARK(BM_TickSteady)->Iterations(60000);
BENCHMARK(BM_TickJittery)->Iterations(60000);

// The arithmetic such a tick cannot avoid: the fit over the whole window, and
// the older and newer parts of each rule.
void BM_FitsOfOneTick(benchmark::State& state) {
    const std::vector<double> window = clockTimes(192, 1e-4);
    const std::span<const double> w(window);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ClockAnalyzer::fit(w));
        for (const auto& rule : ClockAnalyzer::changeRules) {
            const auto recent = static_cast<std::size_t>(rule.recent);
            benchmark::DoNotOptimize(ClockAnalyzer::fit(w.first(w.size() - recent)));
            benchmark::DoNotOptimize(ClockAnalyzer::fit(w.last(recent)));
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FitsOfOneTick);

void BM_FitWholeWindow(benchmark::State& state) {
    const std::vector<double> window = clockTimes(192, 1e-4);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ClockAnalyzer::fit(window));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FitWholeWindow);

// A clock stream as a busy source sends it: mostly Timing Clock, with Active
// Sensing, notes, controller changes and now and then a position pointer.
std::vector<std::uint8_t> busyStream() {
    std::mt19937 rng(5);
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < 4096) {
        switch (rng() % 8) {
        case 0: bytes.insert(bytes.end(), {0x90, std::uint8_t(rng() % 128), 0x64}); break;
        case 1: bytes.insert(bytes.end(), {0xB0, 0x07, std::uint8_t(rng() % 128)}); break;
        case 2: bytes.push_back(0xFE); break;
        case 3: bytes.insert(bytes.end(), {0xF2, std::uint8_t(rng() % 128), std::uint8_t(rng() % 128)}); break;
        default: bytes.push_back(0xF8);
        }
    }
    return bytes;
}

void BM_FeedPerByte(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = busyStream();
    ClockParser parser;
    std::size_t events = 0;
    for (auto _ : state) {
        parser.feed(bytes, [&](const ClockEvent& e) { events += static_cast<std::size_t>(e.kind); });
        benchmark::DoNotOptimize(events);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.counters["ns_per_byte"] =
        benchmark::Counter(static_cast<double>(bytes.size()) * 1e-9,
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FeedPerByte);

// The same through the list-returning form, as one packet of 3 bytes.
void BM_FeedListPerPacket(benchmark::State& state) {
    const std::vector<std::uint8_t> packet{0xF8, 0xFE, 0xF8};
    ClockParser parser;
    for (auto _ : state) benchmark::DoNotOptimize(parser.feed(packet));
}
BENCHMARK(BM_FeedListPerPacket);

} // namespace
} // namespace tactimo
