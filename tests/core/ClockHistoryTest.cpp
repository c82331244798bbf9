// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/ClockHistory.h"
#include "core/ClockInput.h"

#include <gtest/gtest.h>

#include <functional>

using namespace tactimo;
using Kind = ClockHistory::Mark::Kind;

namespace {

// An analyzer and its history, fed as the intake feeds them.
struct Source {
    ClockAnalyzer analyzer;
    ClockHistory history;
    std::uint64_t sequence = 0;
    double time = 100.0;

    void apply(const ClockEvent& event) {
        const ClockHistory::Before before{analyzer.ticks.size(), !ClockInput::isReceiving(analyzer, time)};
        analyzer.apply(event, time);
        history.note(event, time, before, analyzer, sequence);
    }
    // `count` ticks `spacing` apart, every other one `wobble` s early, the rest as late.
    Source& ticks(int count, double spacing, double wobble = 0) {
        for (int k = 0; k < count; ++k) {
            time += spacing + (k % 2 ? wobble : -wobble);
            apply(ClockEvent::tick());
            time -= k % 2 ? wobble : -wobble;
        }
        return *this;
    }
    ClockHistory::Slice since(std::uint64_t sequence) const {
        ClockHistory::Slice out;
        history.copySince(sequence, out);
        return out;
    }
};

} // namespace

// At 300 BPM the ring keeps the newest minute; a copy holds what is newer than the sequence asked with.
TEST(ClockHistory, KeepsTheNewestMinuteAndCopiesOnlyWhatIsNew) {
    Source s;
    s.ticks(10'000, 1.0 / 120);
    const ClockHistory::Slice all = s.since(0);
    ASSERT_EQ(all.ticks.size(), ClockHistory::tickCapacity);
    const std::uint64_t oldest = all.ticks.front().sequence, newest = all.latest, capacity = ClockHistory::tickCapacity;
    for (const auto& [since, count] :
         {std::pair{newest, 0ul}, {newest - 5, 5}, {oldest, capacity - 1}, {oldest - 1, capacity}, {newest + 9, 0}}) {
        const ClockHistory::Slice slice = s.since(since);
        EXPECT_EQ(slice.ticks.size(), count) << since;
        EXPECT_EQ(slice.latest, count ? newest : since) << since;
    }
}

// A confirmed tempo change (growing or full window), a gap restart, transport; a new run keeps its lead-in marks.
TEST(ClockHistory, MarksCutsRestartsAndTransport) {
    const auto transportThenRestart = [](Source& s) {
        for (const ClockEvent e :
             {ClockEvent::stop(), ClockEvent::songPosition(8), ClockEvent::start(), ClockEvent::continue_()})
            s.apply(e);
        s.time += 2.0;
        s.ticks(30, 0.02);
    };
    const std::pair<std::function<void(Source&)>, std::vector<Kind>> cases[] = {
        {[](Source& s) { s.ticks(400, 0.02); }, {}},
        {[](Source& s) { s.ticks(300, 0.02).ticks(1, 0.02, -0.004).ticks(99, 0.02); }, {}}, // one late tick
        {[](Source& s) { s.ticks(30, 0.02).ticks(60, 0.016); }, {Kind::tempoChange}},
        {[](Source& s) { s.ticks(250, 0.02).ticks(150, 0.0198); }, {Kind::tempoChange}},
        {[](Source& s) { s.ticks(30, 0.02).ticks(1, 0.1).ticks(30, 0.02); }, {Kind::gapRestart}},
        {[&](Source& s) { transportThenRestart(s.ticks(30, 0.02).ticks(60, 0.016)); },
         {Kind::stop, Kind::songPosition, Kind::start, Kind::continue_}},
        {[](Source& s) {
             for (int k = 0; k < 1000; ++k) s.apply(ClockEvent::stop());
         },
         std::vector(ClockHistory::markCapacity, Kind::stop)}, // bounded
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Source s;
        cases[i].first(s);
        std::vector<Kind> kinds;
        for (const auto& mark : s.since(0).marks) kinds.push_back(mark.kind);
        EXPECT_EQ(kinds, cases[i].second) << i;
    }
}

// The clock's worst jitter since it last started; readings during a tempo change go when it is confirmed.
TEST(ClockHistory, WorstJitterSinceTheClockStarted) {
    const std::pair<std::function<void(Source&)>, std::optional<double>> cases[] = {
        {[](Source& s) { s.ticks(300, 0.02, 0.001); }, 1.0},
        {[](Source& s) { s.ticks(60, 0.02, 0.001); }, std::nullopt}, // too short to judge
        {[](Source& s) { s.ticks(200, 0.02).ticks(200, 0.017).ticks(200, 0.02); }, 0.0},
        {[](Source& s) { s.ticks(300, 0.02, 0.002).ticks(1, 2.0).ticks(300, 0.02); }, 0.0},
        {[](Source& s) { s.ticks(300, 0.02, 0.0003).ticks(300, 0.02, 0.001).ticks(300, 0.02, 0.0003); }, 1.0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Source s;
        cases[i].first(s);
        const auto worst = s.since(0).worstJitter; // ms; none as -1
        EXPECT_NEAR(worst.value_or(-0.001) * 1000, cases[i].second.value_or(-1), 0.01) << i;
    }
}
