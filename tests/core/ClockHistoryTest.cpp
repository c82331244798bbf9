// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

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
    Source& events(const std::vector<ClockEvent>& events) {
        for (const ClockEvent& e : events) apply(e);
        return *this;
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

// Marks: a confirmed tempo change (growing or full window), a gap restart, transport; a new run keeps its lead-in
// marks. The worst jitter (ms) since the clock last started; readings during a tempo change go when it is confirmed.
TEST(ClockHistory, MarksAndWorstJitter) {
    using enum Kind;
    constexpr std::nullopt_t none = std::nullopt;
    const std::tuple<std::function<void(Source&)>, std::vector<Kind>, std::optional<double>> cases[] = {
        {[](Source& s) { s.ticks(300, 0.02, 0.001); }, {}, 1.0},
        {[](Source& s) { s.ticks(60, 0.02, 0.001); }, {}, none},                                  // too short to judge
        {[](Source& s) { s.ticks(300, 0.02).ticks(1, 0.02, -0.004).ticks(99, 0.02); }, {}, 0.29}, // one late tick
        {[](Source& s) { s.ticks(300, 0.02, 0.0003).ticks(300, 0.02, 0.001).ticks(300, 0.02, 0.0003); }, {}, 1.0},
        {[](Source& s) { s.ticks(30, 0.02).ticks(60, 0.016); }, {tempoChange}, none},
        {[](Source& s) { s.ticks(250, 0.02).ticks(150, 0.0198); }, {tempoChange}, 0.0},
        {[](Source& s) { s.ticks(200, 0.02).ticks(200, 0.017).ticks(200, 0.02); }, {tempoChange, tempoChange}, 0.0},
        {[](Source& s) { s.ticks(300, 0.02, 0.002).ticks(1, 2.0).ticks(300, 0.02); }, {}, 0.0}, // the clock stopped
        {[](Source& s) { s.ticks(300, 0.02, 0.002).ticks(1, 0.1).ticks(300, 0.02); }, {gapRestart}, 2.0},
        {[](Source& s) {
             const std::vector e{ClockEvent::stop(), ClockEvent::songPosition(8), ClockEvent::start(),
                                 ClockEvent::continue_()};
             s.ticks(30, 0.02).ticks(60, 0.016).events(e).ticks(1, 2.02).ticks(29, 0.02);
         },
         {stop, songPosition, start, continue_},
         none},
        {[](Source& s) { s.events(std::vector(1000, ClockEvent::stop())); },
         std::vector(ClockHistory::markCapacity, stop), none}, // bounded
    };
    for (int row = 0; const auto& [scene, marks, worstMs] : cases) {
        SCOPED_TRACE(row++);
        Source s;
        scene(s);
        const ClockHistory::Slice slice = s.since(0);
        std::vector<Kind> kinds;
        for (const auto& mark : slice.marks) kinds.push_back(mark.kind);
        EXPECT_EQ(kinds, marks);
        EXPECT_NEAR(slice.worstJitter.value_or(-0.001) * 1000, worstMs.value_or(-1), 0.01);
    }
}
