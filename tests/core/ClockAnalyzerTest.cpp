#include "core/ClockAnalyzer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace tactimo {
namespace {

using Transport = ClockAnalyzer::Transport;

// Feeds ticks at from, from + spacing, ... and returns the time of the last one.
double tickSteadily(ClockAnalyzer& a, double from, double spacing, int count) {
    double t = from;
    for (int k = 0; k < count; ++k) a.tick(t = from + k * spacing);
    return t;
}

std::vector<double> window(const ClockAnalyzer& a) { return {a.ticks.begin(), a.ticks.end()}; }

TEST(ClockAnalyzerFit, FollowsTheLeastSquaresLine) {
    const std::vector<double> one{5.0};
    EXPECT_FALSE(ClockAnalyzer::fit(one));
    EXPECT_FALSE(ClockAnalyzer::fit({}));

    const std::vector<double> two{7.25, 7.5};
    const auto line = ClockAnalyzer::fit(two);
    ASSERT_TRUE(line);
    EXPECT_DOUBLE_EQ(line->slope, 0.25);
    EXPECT_DOUBLE_EQ(line->rms, 0.0);

    const std::vector<double> bent{0, 1, 3};
    const auto bentLine = ClockAnalyzer::fit(bent);
    ASSERT_TRUE(bentLine);
    EXPECT_DOUBLE_EQ(bentLine->slope, 1.5);
    EXPECT_DOUBLE_EQ(bentLine->rms, std::sqrt(1.0 / 18.0)); // divisor n, not n - 2

    // Even spacing: the spacing, wherever the run starts.
    for (const double start : {0.0, 1.0e-3, 86400.0, 3.0e6}) {
        std::vector<double> even;
        for (int k = 0; k < 50; ++k) even.push_back(start + k * 0.02);
        const auto evenLine = ClockAnalyzer::fit(even);
        ASSERT_TRUE(evenLine);
        EXPECT_NEAR(evenLine->slope, 0.02, 0.02 * 1e-9) << start; // the times themselves are rounded
        EXPECT_NEAR(evenLine->rms, 0.0, 1e-9) << start;
    }
}

TEST(ClockAnalyzer, SteadyClockBuildsUpTheEstimate) {
    ClockAnalyzer a;
    a.tick(10.0);
    EXPECT_EQ(a.tickCount, 1);
    EXPECT_EQ(a.lastTick, 10.0);
    EXPECT_EQ(window(a), std::vector<double>{10.0});
    EXPECT_FALSE(a.interval);

    for (int n = 2; n <= 200; ++n) {
        a.tick(10.0 + (n - 1) * 0.02);
        SCOPED_TRACE(n);
        EXPECT_EQ(a.tickCount, n);
        EXPECT_EQ(a.ticks.size(), static_cast<std::size_t>(std::min(n, 192)));
        EXPECT_EQ(a.ticks.back(), *a.lastTick);
        EXPECT_EQ(a.changeTicks, 0);
        EXPECT_EQ(a.interval.has_value(), n >= 7);
        EXPECT_EQ(a.jitter.has_value(), n >= 12);
        EXPECT_EQ(a.recentBPM.size(), static_cast<std::size_t>(std::clamp(n - 6, 0, 7)));
        if (a.interval) {
            EXPECT_NEAR(*a.interval, 0.02, 1e-12);
            EXPECT_NEAR(a.recentBPM.back(), 125.0, 1e-8);
        }
        if (a.jitter) {
            EXPECT_NEAR(*a.jitter, 0.0, 1e-9);
        }
    }
    // The window keeps the newest 192: tick 9 (index 8) is now the oldest.
    EXPECT_DOUBLE_EQ(a.ticks.front(), 10.0 + 8 * 0.02);
    EXPECT_FALSE(a.position) << "ticks before any transport message leave the position alone";
}

// Any tempo the program follows, at any start time on the host clock. The
// times themselves are rounded to the double's step (1e-11 s at a day of
// uptime, 1e-9 s at four months): up to a day the estimate is exact from its
// first tick, beyond that once the window is full.
TEST(ClockAnalyzer, SteadyClockGivesTheExactInterval) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> bpm(20.0, 300.0), day(0.0, 86400.0), months(86400.0, 1.0e7);
    for (int round = 0; round < 300; ++round) {
        const double spacing = 60.0 / (24.0 * bpm(rng));
        const bool late = round % 3 == 2;
        const double from = round == 0 ? 0.0 : late ? months(rng) : day(rng);
        ClockAnalyzer a;
        for (int k = 0; k < 260; ++k) {
            a.tick(from + k * spacing);
            if (k < 6) continue;
            ASSERT_TRUE(a.interval) << k;
            ASSERT_EQ(a.ticks.size(), std::min<std::size_t>(k + 1, 192)) << "a steady clock is never cut";
            if (late && k < 191) continue;
            ASSERT_NEAR(*a.interval / spacing, 1.0, 1e-9) << "tick " << k + 1 << ", spacing " << spacing << ", from " << from;
        }
    }
}

TEST(ClockAnalyzer, GapRestartsTheWindow) {
    // No interval yet: the limit is 0.5 s, and only a longer gap restarts.
    ClockAnalyzer a;
    a.tick(10.0);
    a.tick(10.5);
    EXPECT_EQ(a.ticks.size(), 2u);
    ClockAnalyzer b;
    b.tick(10.0);
    b.tick(10.501);
    EXPECT_EQ(window(b), std::vector<double>{10.501});
    EXPECT_EQ(b.tickCount, 2);

    // With an interval of 1/64 s (exact in binary), 2.5 intervals keep the window.
    ClockAnalyzer c;
    const double last = tickSteadily(c, 100.0, 1.0 / 64, 30);
    ASSERT_EQ(c.interval, 1.0 / 64);
    ClockAnalyzer d = c;
    c.tick(last + 2.5 / 64);
    EXPECT_EQ(c.ticks.size(), 31u);
    EXPECT_TRUE(c.interval);

    d.changeTicks = 3; // as if a change were being seen
    const double late = last + 2.5 / 64 + 1e-9;
    d.tick(late);
    EXPECT_EQ(window(d), std::vector<double>{late});
    EXPECT_TRUE(d.recentBPM.empty());
    EXPECT_EQ(d.changeTicks, 0);
    EXPECT_FALSE(d.interval);
    EXPECT_FALSE(d.jitter);
    EXPECT_EQ(d.tickCount, 31);

    // A step back in time, or a time that is no number, never restarts.
    ClockAnalyzer e = c;
    e.tick(last - 50.0);
    EXPECT_EQ(e.ticks.size(), 32u);
    ClockAnalyzer f = c;
    f.tick(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(f.ticks.size(), 32u);
    EXPECT_TRUE(std::isnan(*f.lastTick));
}

TEST(ClockAnalyzer, FollowsTheSongPosition) {
    ClockAnalyzer a;
    double t = 1.0;
    const auto tick = [&] { a.apply(ClockEvent::tick(), t += 0.02); };

    a.apply(ClockEvent::start(), t);
    EXPECT_EQ(a.transport, Transport::playing);
    EXPECT_EQ(a.position, 0);
    tick();
    tick();
    tick();
    EXPECT_EQ(a.position, 2);
    EXPECT_EQ(a.nextPosition, 3);

    a.apply(ClockEvent::stop(), t);
    EXPECT_EQ(a.transport, Transport::stopped);
    tick();
    EXPECT_EQ(a.position, 2) << "stopped ticks feed the tempo only";
    EXPECT_EQ(a.tickCount, 4);

    a.apply(ClockEvent::continue_(), t);
    tick();
    EXPECT_EQ(a.position, 3);

    a.apply(ClockEvent::stop(), t);
    a.apply(ClockEvent::songPosition(16), t);
    EXPECT_EQ(a.position, 96);
    EXPECT_EQ(a.transport, Transport::stopped);
    a.apply(ClockEvent::continue_(), t);
    tick();
    EXPECT_EQ(a.position, 96);
    tick();
    EXPECT_EQ(a.position, 97);

    // A position pointer while playing: the next tick takes it again.
    a.apply(ClockEvent::songPosition(2), t);
    EXPECT_EQ(a.position, 12);
    tick();
    EXPECT_EQ(a.position, 12);
    tick();
    EXPECT_EQ(a.position, 13);

    // Start while playing rewinds but leaves the tempo estimate alone.
    const ClockAnalyzer before = a;
    a.apply(ClockEvent::start(), t);
    EXPECT_EQ(a.position, 0);
    EXPECT_EQ(a.ticks, before.ticks);
    EXPECT_EQ(a.interval, before.interval);
    EXPECT_EQ(a.recentBPM, before.recentBPM);
    tick();
    EXPECT_EQ(a.position, 0);
}

TEST(ClockAnalyzer, PositionNeedsAStartingPoint) {
    ClockAnalyzer a;
    a.apply(ClockEvent::tick(), 1.0);
    a.apply(ClockEvent::continue_(), 1.01);
    a.apply(ClockEvent::tick(), 1.02);
    EXPECT_EQ(a.transport, Transport::playing);
    EXPECT_FALSE(a.position) << "Continue without a Start or position pointer knows no position";

    ClockAnalyzer b;
    b.apply(ClockEvent::songPosition(4), 1.0);
    b.apply(ClockEvent::tick(), 1.0);
    EXPECT_EQ(b.position, 24);
    EXPECT_EQ(b.transport, Transport::unknown);
}

// Newer ticks 20 % faster: rule 1 sees it from tick 24 on and cuts on the
// sixth tick in a row; that same tick's estimate rests on the 7 kept ticks.
TEST(ClockAnalyzerChange, FastChangeCutsToSevenTicks) {
    ClockAnalyzer a;
    double t = tickSteadily(a, 50.0, 0.02, 12);
    for (int n = 13; n <= 28; ++n) {
        a.tick(t += 0.016);
        EXPECT_EQ(a.changeTicks, n < 24 ? 0 : n - 23) << n;
        EXPECT_EQ(a.ticks.size(), static_cast<std::size_t>(n));
    }
    a.tick(t += 0.016);
    EXPECT_EQ(a.changeTicks, 0);
    ASSERT_EQ(a.ticks.size(), 7u);
    EXPECT_DOUBLE_EQ(a.ticks.back(), t);
    EXPECT_NEAR(*a.interval, 0.016, 1e-12);
    EXPECT_FALSE(a.jitter) << "7 ticks are too few for a jitter";
    EXPECT_EQ(a.recentBPM.size(), 7u) << "a cut keeps the recent tempi";

    // At the new tempo nothing matches again, and the window grows back.
    for (int k = 0; k < 30; ++k) a.tick(t += 0.016);
    EXPECT_EQ(a.changeTicks, 0);
    EXPECT_EQ(a.ticks.size(), 37u);
}

// Newer ticks 1 % faster: too little for rule 1, enough for rule 2, which
// first has its 96 ticks at tick 96 and cuts to 24 on tick 101.
TEST(ClockAnalyzerChange, SlowDriftCutsToTwentyFourTicks) {
    ClockAnalyzer a;
    double t = tickSteadily(a, 50.0, 0.02, 48);
    for (int n = 49; n <= 100; ++n) {
        a.tick(t += 0.0198);
        EXPECT_EQ(a.changeTicks, n < 96 ? 0 : n - 95) << n;
    }
    a.tick(t += 0.0198);
    EXPECT_EQ(a.changeTicks, 0);
    ASSERT_EQ(a.ticks.size(), 24u);
    EXPECT_NEAR(*a.interval, 0.0198, 1e-12);
    EXPECT_TRUE(a.jitter);
}

// The rules on windows laid out by hand, one updateTempo each.
TEST(ClockAnalyzerChange, RulesOnGivenWindows) {
    const auto withWindow = [](std::initializer_list<std::pair<int, double>> runs, double start = 0.0) {
        ClockAnalyzer a;
        double t = start;
        a.ticks.pushBack(t);
        for (const auto& [count, spacing] : runs)
            for (int k = 0; k < count; ++k) a.ticks.pushBack(t += spacing);
        return a;
    };

    // 24 ticks, the first 12 at 0.02 s and the last 12 at 0.0185 s: rule 1.
    ClockAnalyzer one = withWindow({{11, 0.02}, {12, 0.0185}});
    one.updateTempo();
    EXPECT_EQ(one.changeTicks, 1);

    // 96 ticks, 48 at 0.02 s and 48 at 0.0199 s: only rule 2, which keeps 24.
    ClockAnalyzer two = withWindow({{47, 0.02}, {48, 0.0199}});
    two.changeTicks = 5;
    two.updateTempo();
    EXPECT_EQ(two.changeTicks, 0);
    EXPECT_EQ(two.ticks.size(), 24u);
    ClockAnalyzer twoFirst = withWindow({{47, 0.02}, {48, 0.0199}});
    twoFirst.updateTempo();
    EXPECT_EQ(twoFirst.changeTicks, 1);
    ClockAnalyzer onlyOne = withWindow({{47, 0.02}, {48, 0.0199}});
    onlyOne.ticks.keepNewest(95); // one short of rule 2
    onlyOne.updateTempo();
    EXPECT_EQ(onlyOne.changeTicks, 0) << "rule 1 must not see a 0.5 % change";

    // Five matches in a row, then none: the count starts over, the window stays.
    ClockAnalyzer calm = withWindow({{40, 0.02}});
    calm.changeTicks = 5;
    calm.updateTempo();
    EXPECT_EQ(calm.changeTicks, 0);
    EXPECT_EQ(calm.ticks.size(), 41u);

    // Older part without slope, newer part with: an infinite ratio matches.
    ClockAnalyzer frozen = withWindow({{11, 0.0}, {12, 0.02}});
    frozen.updateTempo();
    EXPECT_EQ(frozen.changeTicks, 1);

    // All ticks at one time: no slope anywhere, no match and no interval.
    ClockAnalyzer still = withWindow({{30, 0.0}}, 5.0);
    still.interval = 0.02;
    still.jitter = 0.0;
    still.recentBPM.pushBack(125.0);
    still.updateTempo();
    EXPECT_EQ(still.changeTicks, 0);
    EXPECT_FALSE(still.interval);
    EXPECT_FALSE(still.jitter);
    EXPECT_EQ(still.recentBPM.size(), 1u) << "an unusable fit leaves the recent tempi";
}

} // namespace
} // namespace tactimo
