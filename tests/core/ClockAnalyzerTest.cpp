#include "core/ClockAnalyzer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tactimo;

// Ticks `spacing` apart from `from`; the time of the last one.
double tickSteadily(ClockAnalyzer& a, double from, double spacing, int count) {
    for (int k = 0; k < count; ++k) a.tick(from + k * spacing);
    return from + (count - 1) * spacing;
}

TEST(ClockAnalyzer, FitIsTheLeastSquaresLine) {
    EXPECT_FALSE(ClockAnalyzer::fit(std::vector{5.0}));
    const auto bent = ClockAnalyzer::fit(std::vector{0.0, 1.0, 3.0});
    EXPECT_DOUBLE_EQ(bent->slope, 1.5);
    EXPECT_DOUBLE_EQ(bent->rms, std::sqrt(1.0 / 18.0)); // divisor n, not n - 2
}

// The ends of the tempo range, from 0 s and from four months of uptime,
// where times are rounded to 1e-9 s and the estimate is exact once the
// window (192 ticks) is full. An interval from the 7th tick, jitter from the 12th.
TEST(ClockAnalyzer, SteadyClockGivesTheExactTempo) {
    for (const auto& [bpm, from] : {std::pair{20.0, 0.0}, {300.0, 86399.9}, {123.4, 1.0e7}}) {
        const double spacing = 60.0 / (24.0 * bpm);
        ClockAnalyzer a;
        for (int k = 0; k < 260; ++k) {
            a.tick(from + k * spacing);
            ASSERT_EQ(a.brokenInvariant(), std::nullopt) << k;
            ASSERT_EQ(a.ticks.size(), std::min(k + 1ul, 192ul)) << "a steady clock is never cut";
            ASSERT_EQ(a.ticks.front(), from + std::max(0, k - 191) * spacing);
            ASSERT_EQ(a.interval.has_value(), k >= 6) << k;
            ASSERT_EQ(a.jitter.has_value(), k >= 11) << k;
            ASSERT_EQ(a.recentBPM.size(), std::size_t(std::clamp(k - 5, 0, 7))) << k;
            ASSERT_LT(a.jitter.value_or(0), 1e-8);
            if (!a.interval || (from > 1e6 && k < 191)) continue;
            ASSERT_NEAR(a.recentBPM.back() / bpm, 1.0, 1e-9) << k;
        }
    }
}

// Without an interval a gap over 0.5 s restarts the window; with one of 1/64 s
// (exact in binary), a gap over 2.5 intervals. A step back or a NaN never does.
TEST(ClockAnalyzer, GapRestartsTheWindow) {
    const struct {
        int before;
        double gap;
        bool restarts;
    } cases[] = {{1, 0.5, false},    {1, 0.501, true},         {30, 2.5 / 64, false}, {30, 2.5 / 64 + 1e-9, true},
                 {30, -50.0, false}, {30, std::nan(""), false}};
    for (const auto& c : cases) {
        ClockAnalyzer a;
        a.tick(tickSteadily(a, 100.0, 1.0 / 64, c.before) + c.gap);
        EXPECT_EQ(a.tickCount, c.before + 1) << c.gap;
        EXPECT_EQ(a.ticks.size(), c.restarts ? 1u : c.before + 1u) << c.gap;
        EXPECT_EQ(a.recentBPM.empty(), c.restarts || c.before == 1) << c.gap;
    }
}

// Continue without a Start or pointer knows no position; then a walk through it.
TEST(ClockAnalyzer, FollowsTheSongPosition) {
    const ClockEvent tick = ClockEvent::tick(), start = ClockEvent::start(), cont = ClockEvent::continue_(),
                     stop = ClockEvent::stop();
    const auto spp = [](std::int64_t v) { return ClockEvent::songPosition(v); };
    using enum ClockAnalyzer::Transport;
    const std::vector<std::vector<std::tuple<ClockEvent, std::optional<std::int64_t>, ClockAnalyzer::Transport>>> runs{
        {{tick, {}, unknown}, {cont, {}, playing}, {tick, {}, playing}},
        {{spp(4), 24, unknown}, {tick, 24, unknown},    {cont, 24, playing}, {tick, 24, playing},
         {tick, 25, playing},   {start, 0, playing},    {tick, 0, playing},  {tick, 1, playing},
         {stop, 1, stopped},    {tick, 1, stopped},     {cont, 1, playing},  {tick, 2, playing},
         {stop, 2, stopped},    {spp(16), 96, stopped}, {cont, 96, playing}, {tick, 96, playing},
         {tick, 97, playing},   {spp(2), 12, playing},  {tick, 12, playing}, {tick, 13, playing}}};
    for (const auto& run : runs) {
        ClockAnalyzer a;
        double t = tickSteadily(a, 1.0, 0.02, 10);
        for (const auto& [event, position, transport] : run) {
            const auto ticks = a.ticks;
            a.apply(event, t += 0.02);
            EXPECT_EQ(a.position, position) << t;
            EXPECT_EQ(a.transport, transport) << t;
            EXPECT_EQ(a.ticks == ticks, event != tick) << "only ticks enter the window, at " << t;
        }
    }
}

// Newer ticks 20 % faster: rule 1 sees it from tick 24 on and cuts to 7 on the
// sixth tick in a row. Newer ticks 1 % faster: only rule 2, which first has its
// 96 ticks at tick 96 and cuts to 24 on tick 101. At the new tempo the window
// then grows back untouched.
TEST(ClockAnalyzer, ChangeRulesCutTheWindow) {
    const struct {
        int steady;
        double faster;
        int firstMatch;
        std::size_t keep;
    } cases[] = {{12, 0.016, 24, 7}, {48, 0.0198, 96, 24}};
    for (const auto& c : cases) {
        ClockAnalyzer a;
        double t = tickSteadily(a, 50.0, 0.02, c.steady);
        for (int n = c.steady; n < c.firstMatch + 5; ++n) {
            ASSERT_EQ(a.changeTicks, std::max(0, n - c.firstMatch + 1)) << n;
            ASSERT_EQ(a.ticks.size(), std::size_t(n)) << n;
            a.tick(t += c.faster);
        }
        EXPECT_EQ(a.ticks.size(), c.keep);
        EXPECT_EQ(a.recentBPM.size(), 7u) << "recent tempi are kept";
        EXPECT_NEAR(*a.interval, c.faster, 1e-12) << "the cutting tick's estimate rests on the kept ticks";
        for (int k = 0; k <= 30; ++k) {
            ASSERT_EQ(a.changeTicks, 0) << k;
            ASSERT_EQ(a.ticks.size(), c.keep + k) << k;
            a.tick(t += c.faster);
        }
    }
    // Laid out by hand after five matches in a row: a steady window starts
    // the count over; an older part without slope is an infinite ratio,
    // which matches; no slope at all gives no interval, and no recent tempo.
    for (const auto& [still, moving, cuts] : {std::tuple{0, 40, false}, {11, 12, true}, {29, 0, false}}) {
        ClockAnalyzer a;
        a.recentBPM.pushBack(125.0);
        a.changeTicks = 5;
        for (int k = 0; k <= still; ++k) a.ticks.pushBack(5.0);
        for (int k = 1; k <= moving; ++k) a.ticks.pushBack(5.0 + k * 0.02);
        a.updateTempo();
        EXPECT_EQ(a.changeTicks, 0) << still;
        EXPECT_EQ(a.ticks.size(), cuts ? 7u : still + moving + 1u) << still;
        EXPECT_EQ(a.interval.has_value(), moving > 0) << still;
        EXPECT_EQ(a.recentBPM.size(), moving > 0 ? 2u : 1u) << still;
    }
}

// The check the fuzz target relies on finds each rule broken on its own.
TEST(ClockAnalyzer, BrokenInvariantFindsEachBrokenRule) {
    ClockAnalyzer valid;
    tickSteadily(valid, 10.0, 0.02, 30);
    ASSERT_EQ(valid.brokenInvariant(), std::nullopt);
    const std::vector<void (*)(ClockAnalyzer&)> breaks{
        [](ClockAnalyzer& a) { a.lastTick = 3.0; },       [](ClockAnalyzer& a) { a.tickCount = 0; },
        [](ClockAnalyzer& a) { a.interval.reset(); },     [](ClockAnalyzer& a) { a.interval = -1.0; },
        [](ClockAnalyzer& a) { a.ticks.keepNewest(11); }, [](ClockAnalyzer& a) { a.changeTicks = 6; },
        [](ClockAnalyzer& a) { a.changeTicks = -1; },     [](ClockAnalyzer& a) { a.position = -1; },
        [](ClockAnalyzer& a) { a.nextPosition = -6; },
        [](ClockAnalyzer& a) { a.runStartTick = a.tickCount; },
    };
    for (std::size_t i = 0; i < breaks.size(); ++i) {
        ClockAnalyzer a = valid;
        breaks[i](a);
        EXPECT_NE(a.brokenInvariant(), std::nullopt) << i;
    }
}
