#include "core/ClockHistory.h"
#include "core/ClockInput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

using namespace tactimo;
using Kind = ClockHistory::Mark::Kind;

namespace {

// An analyzer and its history, fed the way the intake feeds them.
struct Source {
    ClockAnalyzer analyzer;
    ClockHistory history;
    std::uint64_t sequence = 0;
    double time = 100.0;
    double maxJitter = 0; // of the analyzer, over all ticks

    void apply(const ClockEvent& event) {
        const ClockHistory::Before before{analyzer.ticks.size(), !ClockInput::isReceiving(analyzer, time)};
        analyzer.apply(event, time);
        history.note(event, time, before, analyzer, sequence);
        maxJitter = std::max(maxJitter, analyzer.jitter.value_or(0));
    }
    // count ticks `spacing` apart, the k-th moved by offset(k) seconds.
    template <typename Offset>
    void ticks(int count, double spacing, Offset offset) {
        for (int k = 0; k < count; ++k) {
            time += spacing;
            const double on = time;
            time += offset(k);
            apply(ClockEvent::tick());
            time = on;
        }
    }
    void ticks(int count, double spacing) {
        ticks(count, spacing, [](int) { return 0.0; });
    }
    ClockHistory::Slice since(std::uint64_t sequence) const {
        ClockHistory::Slice out;
        history.copySince(sequence, out);
        return out;
    }
};

const auto alternating = [](double amount) { return [amount](int k) { return k % 2 ? amount : -amount; }; };

} // namespace

// Ten thousand ticks at 300 BPM: the ring keeps the newest minute, oldest
// first, and a copy holds exactly what is newer than the sequence asked with.
TEST(ClockHistory, KeepsTheNewestMinuteAndCopiesOnlyWhatIsNew) {
    Source s;
    s.ticks(10'000, 1.0 / 120);
    const ClockHistory::Slice all = s.since(0);
    ASSERT_EQ(all.ticks.size(), ClockHistory::tickCapacity);
    EXPECT_NEAR(all.ticks.back().time - all.ticks.front().time, 60.0 - 1.0 / 120, 1e-6);
    EXPECT_EQ(all.ticks.back().time, s.time);
    EXPECT_TRUE(std::is_sorted(all.ticks.begin(), all.ticks.end(), [](const auto& a, const auto& b) {
        return a.sequence <= b.sequence;
    })) << "sequences strictly grow";
    EXPECT_EQ(all.latest, all.ticks.back().sequence);

    const std::uint64_t oldest = all.ticks.front().sequence, newest = all.latest;
    const struct {
        std::uint64_t since;
        std::size_t count;
    } cases[] = {{newest, 0},
                 {newest - 5, 5},
                 {oldest, ClockHistory::tickCapacity - 1},
                 {oldest - 1, ClockHistory::tickCapacity},
                 {1, ClockHistory::tickCapacity},
                 {newest + 9, 0}};
    for (const auto& c : cases) {
        const ClockHistory::Slice slice = s.since(c.since);
        EXPECT_EQ(slice.ticks.size(), c.count) << c.since;
        if (c.count == 0) {
            EXPECT_EQ(slice.latest, c.since) << "nothing new: the sequence stays";
            continue;
        }
        EXPECT_EQ(slice.ticks.front().sequence, all.ticks[ClockHistory::tickCapacity - c.count].sequence) << c.since;
        EXPECT_EQ(slice.latest, newest) << c.since;
    }
}

// What the window marks: a confirmed tempo change (from a growing or a full
// window), a restart after a gap, and each transport message in its order;
// neither a steady clock trimming its full window nor a single late tick.
TEST(ClockHistory, MarksCutsRestartsAndTransport) {
    const struct {
        const char* name;
        void (*run)(Source&);
        std::vector<Kind> marks;
    } cases[] = {
        {"steady past a full window", [](Source& s) { s.ticks(400, 0.02); }, {}},
        {"one late tick", [](Source& s) { s.ticks(400, 0.02, [](int k) { return k == 300 ? 0.004 : 0.0; }); }, {}},
        {"faster after 30",
         [](Source& s) {
             s.ticks(30, 0.02);
             s.ticks(60, 0.016);
         },
         {Kind::tempoChange}},
        {"1 % faster after a full window",
         [](Source& s) {
             s.ticks(250, 0.02);
             s.ticks(150, 0.0198);
         },
         {Kind::tempoChange}},
        {"a gap while still receiving",
         [](Source& s) {
             s.ticks(30, 0.02);
             s.ticks(1, 0.1);
             s.ticks(30, 0.02);
         },
         {Kind::gapRestart}},
        {"stopped and started again: only what led into the new run",
         [](Source& s) {
             s.ticks(30, 0.02);
             s.ticks(60, 0.016);
             s.apply(ClockEvent::stop());
             s.apply(ClockEvent::songPosition(8));
             s.time += 2.0;
             s.apply(ClockEvent::continue_());
             s.ticks(30, 0.02);
         },
         {Kind::stop, Kind::songPosition, Kind::continue_}},
        {"transport",
         [](Source& s) {
             s.ticks(3, 0.02);
             for (const ClockEvent e :
                  {ClockEvent::start(), ClockEvent::stop(), ClockEvent::songPosition(8), ClockEvent::continue_()})
                 s.apply(e);
         },
         {Kind::start, Kind::stop, Kind::songPosition, Kind::continue_}},
    };
    for (const auto& c : cases) {
        Source s;
        c.run(s);
        std::vector<Kind> kinds;
        for (const auto& mark : s.since(0).marks) kinds.push_back(mark.kind);
        EXPECT_EQ(kinds, c.marks) << c.name;
    }

    // A mark is placed at its event's time, between the ticks around it.
    Source s;
    s.ticks(30, 0.02);
    s.ticks(60, 0.016);
    const ClockHistory::Slice slice = s.since(0);
    ASSERT_EQ(slice.marks.size(), 1u);
    const auto cut = std::find_if(slice.ticks.begin(), slice.ticks.end(),
                                  [&](const auto& t) { return t.sequence > slice.marks[0].sequence; });
    ASSERT_NE(cut, slice.ticks.end());
    EXPECT_EQ(slice.marks[0].time, cut->time) << "the mark comes just before the tick that cut";

    // The mark ring is bounded too.
    for (int k = 0; k < 1000; ++k) s.apply(ClockEvent::stop());
    EXPECT_EQ(s.history.markCount(), ClockHistory::markCapacity);
    EXPECT_EQ(s.since(0).marks.size(), ClockHistory::markCapacity);
}

// Each tick carries the tempo of its fit (from the 7th tick) and its distance
// from the fitted line (with the jitter, from the 12th): a clock alternating
// 0.5 ms early and late shows every tick half a millisecond off, on its side.
TEST(ClockHistory, EachTickCarriesItsTempoAndItsDeviation) {
    Source s;
    s.ticks(300, 0.02, alternating(0.0005));
    const ClockHistory::Slice slice = s.since(0);
    ASSERT_EQ(slice.ticks.size(), 300u);
    for (std::size_t k = 0; k < slice.ticks.size(); ++k) {
        const ClockHistory::Tick& t = slice.ticks[k];
        ASSERT_EQ(t.bpm.has_value(), k >= 6) << k;
        ASSERT_EQ(t.deviation.has_value(), k >= 11) << k;
        if (k < 60) continue; // the first lines still lean on few ticks
        ASSERT_NEAR(*t.bpm, 125.0, 0.05) << k;
        ASSERT_NEAR(*t.deviation, k % 2 ? 0.0005 : -0.0005, 0.00005) << k;
    }
}

// The worst jitter is that of the clock, not of a tempo change: readings
// taken while a change was under way are dropped when it is confirmed. It
// counts from the last start of the clock.
TEST(ClockHistory, WorstJitterSinceTheClockStarted) {
    const struct {
        const char* name;
        void (*run)(Source&);
        std::optional<double> worst; // ms, to 0.01
    } cases[] = {
        {"steady", [](Source& s) { s.ticks(300, 0.02); }, 0.0},
        {"1 ms alternating", [](Source& s) { s.ticks(300, 0.02, alternating(0.001)); }, 1.0},
        {"too short to judge", [](Source& s) { s.ticks(60, 0.02, alternating(0.001)); }, std::nullopt},
        {"a tempo step",
         [](Source& s) {
             s.ticks(200, 0.02);
             s.ticks(200, 0.017);
             s.ticks(200, 0.02);
         },
         0.0},
        {"restarted after a gap",
         [](Source& s) {
             s.ticks(300, 0.02, alternating(0.002));
             s.time += 2.0;
             s.ticks(300, 0.02);
         },
         0.0},
        {"0.3 ms, then 1 ms",
         [](Source& s) {
             s.ticks(300, 0.02, alternating(0.0003));
             s.ticks(300, 0.02, alternating(0.001));
             s.ticks(300, 0.02, alternating(0.0003));
         },
         1.0},
    };
    for (const auto& c : cases) {
        Source s;
        c.run(s);
        const auto worst = s.since(0).worstJitter;
        ASSERT_EQ(worst.has_value(), c.worst.has_value()) << c.name;
        if (worst) {
            EXPECT_NEAR(*worst * 1000, *c.worst, 0.01) << c.name;
        }
    }

    // The step did make the analyzer's own jitter jump, which the worst left out.
    Source step;
    step.ticks(200, 0.02);
    step.ticks(200, 0.017);
    EXPECT_GT(step.maxJitter, 0.0005);
}

// Times no clock gives (NaN, infinities, a jump back): entries stay in order,
// tempos handed out are above 0 and deviations finite.
TEST(ClockHistory, AbsurdTimesGiveOrderedUsableEntries) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    Source s;
    s.ticks(100, 0.02);
    for (const double t : {nan, inf, -inf, 1e300, -5.0, 100.0, nan}) {
        s.time = t;
        s.apply(ClockEvent::tick());
        s.apply(ClockEvent::stop());
    }
    s.time = 200.0;
    s.ticks(100, 0.02);
    const ClockHistory::Slice slice = s.since(0);
    ASSERT_FALSE(slice.ticks.empty());
    std::uint64_t previous = 0;
    for (const auto& tick : slice.ticks) {
        EXPECT_GT(tick.sequence, std::exchange(previous, tick.sequence));
        EXPECT_TRUE(!tick.bpm || *tick.bpm > 0) << tick.sequence;
        EXPECT_TRUE(!tick.deviation || std::isfinite(*tick.deviation)) << tick.sequence;
    }
    EXPECT_TRUE(!slice.worstJitter || std::isfinite(*slice.worstJitter));
}
