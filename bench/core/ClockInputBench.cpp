// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "AllocationCounter.h"

#include "core/ClockComparison.h"
#include "core/ClockHistory.h"
#include "core/ClockInput.h"
#include "core/ClockStatus.h"
#include "midi/FakeMidiService.h"
#include "support/ManualIntake.h"

#include <benchmark/benchmark.h>

#include <string>

namespace tactimo {
namespace {

constexpr std::uint64_t tickNs = 20'000'000; // 125 BPM

std::vector<std::string> sourceNames(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("Source " + std::to_string(i));
    return names;
}

// The intake on the fake bus with `count` sources, each with a full window
// of a steady clock. The host clock advances one tick per read.
struct Intake : test::ManualIntake {
    explicit Intake(int count) : ManualIntake(sourceNames(count), 3'600'000'000'000) {
        for (int k = 0; k < 200; ++k) {
            now += tickNs;
            for (const SourceKey key : keys) bus->send(key, {0xF8}, now);
        }
    }
};

const std::uint8_t tickByte[] = {0xF8};
const MidiPacket tickPacket{0, tickByte};

// One packet list of one tick from the source with the most recent key, the
// others all known: lock, lookup, parse, tick, through the fake bus.
void BM_HandleOneTick(benchmark::State& state) {
    Intake intake(static_cast<int>(state.range(0)));
    const SourceKey key = intake.keys.back();
    const std::uint64_t allocationsBefore = allocationCount();
    for (auto _ : state) {
        intake.now += tickNs;
        intake.bus->send(key, MidiPacketList(&tickPacket, 1));
    }
    const auto allocations = static_cast<double>(allocationCount() - allocationsBefore);
    state.counters["allocs_per_list"] = benchmark::Counter(allocations, benchmark::Counter::kAvgIterations);
    if (allocations > 0) state.SkipWithError("the intake of a known source allocated");
    const ClockAnalyzer a = intake.input->readings().at(key).analyzer;
    if (a.ticks.size() != 192 || !a.interval) state.SkipWithError("the window did not stay full");
}
BENCHMARK(BM_HandleOneTick)->Arg(1)->Arg(8)->Arg(64);

// What the fake bus itself costs per delivery (its locks and its linear search
// for the source), to be taken off the figure above.
void BM_FakeBusDelivery(benchmark::State& state) {
    auto bus = std::make_shared<FakeMidiBus>();
    std::vector<SourceKey> keys;
    for (int i = 0; i < state.range(0); ++i) keys.push_back(bus->addSource("Source " + std::to_string(i)));
    FakeMidiService service(bus);
    std::size_t delivered = 0;
    service.open([&](MidiPacketList list, SourceKey) { delivered += list.size(); }, [] {});
    service.connectAllSources();
    for (auto _ : state) bus->send(keys.back(), MidiPacketList(&tickPacket, 1));
    benchmark::DoNotOptimize(delivered);
}
BENCHMARK(BM_FakeBusDelivery)->Arg(1)->Arg(8)->Arg(64);

// What the history adds to each tick: its note, with the deviation from the
// window's line, on a full window (the same analyzer tick, timed apart).
void BM_HistoryNoteOfOneTick(benchmark::State& state) {
    ClockAnalyzer analyzer;
    ClockHistory history;
    std::uint64_t sequence = 0;
    double t = 3600.0;
    for (int k = 0; k < 400; ++k) analyzer.tick(t += 0.02);
    const std::uint64_t allocationsBefore = allocationCount();
    for (auto _ : state) history.note(ClockEvent::tick(), t, {192, false}, analyzer, sequence);
    if (allocationCount() != allocationsBefore) state.SkipWithError("the history allocated");
}
BENCHMARK(BM_HistoryNoteOfOneTick);

// The window's copies of the followed source's history: all of a full ring
// (when the history opens) and the few ticks of a tenth of a second at 120
// BPM (every copy after), each into a slice that is reused.
void BM_HistoryCopy(benchmark::State& state) {
    Intake intake(1);
    const SourceKey key = intake.keys.front();
    for (std::size_t k = 0; k < ClockHistory::tickCapacity; ++k) {
        intake.now += tickNs;
        intake.bus->send(key, MidiPacketList(&tickPacket, 1));
    }
    const auto fresh = static_cast<std::uint64_t>(state.range(0));
    ClockHistory::Slice slice;
    intake.input->history(key, 0, slice);
    const std::uint64_t since = fresh == 0 ? 0 : slice.latest - fresh;
    for (auto _ : state) {
        intake.input->history(key, since, slice);
        benchmark::DoNotOptimize(slice);
    }
    if (slice.ticks.size() != (fresh == 0 ? ClockHistory::tickCapacity : fresh)) state.SkipWithError("wrong count");
    // Percent of one core at ten copies a second.
    state.counters["pct_core_at_10Hz"] =
        benchmark::Counter(1.0 / 1000, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_HistoryCopy)->Arg(0)->Arg(5);

// One refresh: the snapshot of all sources and one status derivation.
void BM_ReadingsAndStatus(benchmark::State& state) {
    Intake intake(static_cast<int>(state.range(0)));
    std::optional<SourceKey> activeRef;
    ClockStatus status;
    for (auto _ : state) {
        const Readings r = intake.input->readings();
        status = deriveStatus(r, "", activeRef, status);
        benchmark::DoNotOptimize(status);
    }
    if (!status.receiving || status.otherSources.size() != intake.keys.size() - 1)
        state.SkipWithError("the sources were not all receiving");
    // Percent of one core at 30 refreshes a second.
    state.counters["pct_core_at_30Hz"] =
        benchmark::Counter(1.0 / 3000, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ReadingsAndStatus)->Arg(1)->Arg(64);

// One refresh's comparison of two sources: their lines through full
// windows, and the spread of the paired ticks.
void BM_CompareClocks(benchmark::State& state) {
    Intake intake(2);
    const Readings readings = intake.input->readings();
    const double now = static_cast<double>(intake.now) * 1e-9;
    std::optional<ClockComparison> comparison;
    for (auto _ : state) {
        comparison = compareClocks(readings, intake.keys[0], intake.keys[1], now);
        benchmark::DoNotOptimize(comparison);
    }
    if (!comparison || !comparison->spreadMs) state.SkipWithError("no offset and spread");
}
BENCHMARK(BM_CompareClocks);

} // namespace
} // namespace tactimo
