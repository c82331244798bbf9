#include "core/ClockAnalyzer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace tactimo;

// Ticks at from, from + spacing, ...; returns the time of the last one.
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

// Any tempo the program follows, at any start time on the host clock. The
// times themselves are rounded to the double's step (1e-11 s at a day of
// uptime, 1e-9 s at four months): up to a day the estimate is exact from its
// first tick, beyond that once the window is full.
TEST(ClockAnalyzer, SteadyClockGivesTheExactInterval) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> bpm(20.0, 300.0), day(0.0, 86400.0), months(86400.0, 1.0e7);
    for (int round = 0; round < 300; ++round) {
        const double spacing = 60.0 / (24.0 * bpm(rng)), from = round == 0       ? 0.0
                                                                : round % 3 == 2 ? months(rng)
                                                                                 : day(rng);
        ClockAnalyzer a;
        for (int k = 0; k < 260; ++k) {
            a.tick(from + k * spacing);
            ASSERT_EQ(a.brokenInvariant(), std::nullopt) << k;
            // A steady clock is never cut.
            ASSERT_EQ(a.ticks.size(), std::min(k + 1ul, 192ul));
            ASSERT_EQ(a.ticks.front(), from + std::max(0, k - 191) * spacing);
            // An interval from the 7th tick, jitter from the 12th.
            ASSERT_EQ(a.interval.has_value(), k >= 6) << k;
            ASSERT_EQ(a.jitter.has_value(), k >= 11) << k;
            ASSERT_EQ(a.recentBPM.size(), std::size_t(std::clamp(k - 5, 0, 7))) << k;
            ASSERT_LT(a.jitter.value_or(0), 1e-8);
            if (!a.interval || (round % 3 == 2 && k < 191)) continue;
            ASSERT_NEAR(*a.interval / spacing, 1.0, 1e-9) << "tick " << k + 1 << " at " << spacing << " from " << from;
            ASSERT_NEAR(a.recentBPM.back() * spacing * 24 / 60, 1.0, 1e-9);
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
        EXPECT_EQ(a.recentBPM.empty(), c.restarts || c.before == 1) << c.gap; // recent tempi go with the window
        EXPECT_EQ(a.brokenInvariant(), std::nullopt) << c.gap;
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
    struct Case {
        int steady;
        double faster;
        int firstMatch;
        std::size_t keep;
    };
    for (const Case& c : {Case{12, 0.016, 24, 7}, Case{48, 0.0198, 96, 24}}) {
        ClockAnalyzer a;
        double t = tickSteadily(a, 50.0, 0.02, c.steady);
        // State after n ticks; the loop's last tick is the sixth match in a row.
        for (int n = c.steady; n < c.firstMatch + 5; ++n) {
            ASSERT_EQ(a.changeTicks, std::max(0, n - c.firstMatch + 1)) << n;
            ASSERT_EQ(a.ticks.size(), std::size_t(n)) << n;
            a.tick(t += c.faster);
        }
        EXPECT_EQ(a.ticks.size(), c.keep);
        EXPECT_EQ(a.ticks.back(), t);
        EXPECT_EQ(a.recentBPM.size(), 7u) << "recent tempi are kept";
        EXPECT_NEAR(*a.interval, c.faster, 1e-12) << "the estimate of the cutting tick rests on the kept ticks";
        for (int k = 0; k <= 30; ++k) {
            ASSERT_EQ(a.changeTicks, 0) << k;
            ASSERT_EQ(a.ticks.size(), c.keep + k) << k;
            a.tick(t += c.faster);
        }
    }
}

// The rules on windows laid out by hand, one updateTempo each, after a
// previous estimate and five matches in a row.
TEST(ClockAnalyzer, ChangeRulesOnGivenWindows) {
    const struct {
        std::vector<std::pair<int, double>> runs;
        bool cuts, interval;
    } cases[] = {
        {{{40, 0.02}}, false, true},              // no change: the count starts over
        {{{11, 0.0}, {12, 0.02}}, true, true},    // older part without slope: an infinite ratio matches
        {{{29, 0.0}}, false, false},              // no slope anywhere: no match, no interval
        {{{47, 0.02}, {47, 0.0199}}, false, true} // one short of rule 2; rule 1 must not see 0.5 %
    };
    for (const auto& c : cases) {
        ClockAnalyzer a;
        a.ticks.pushBack(5.0);
        a.recentBPM.pushBack(125.0);
        a.changeTicks = 5;
        for (double t = 5.0; const auto& [count, spacing] : c.runs)
            for (int k = 0; k < count; ++k) a.ticks.pushBack(t += spacing);
        const std::size_t size = a.ticks.size();
        a.updateTempo();
        EXPECT_EQ(a.changeTicks, 0) << size;
        EXPECT_EQ(a.ticks.size(), c.cuts ? 7u : size) << size;
        EXPECT_EQ(a.interval.has_value(), c.interval) << size;
        EXPECT_EQ(a.recentBPM.size(), c.interval ? 2u : 1u) << "an unusable fit leaves the recent tempi, " << size;
    }
}

// The check the fuzz target relies on finds each rule broken on its own,
// and nothing in a default analyzer.
TEST(ClockAnalyzer, BrokenInvariantFindsEachBrokenRule) {
    ClockAnalyzer valid;
    tickSteadily(valid, 10.0, 0.02, 30);
    ASSERT_EQ(valid.brokenInvariant(), std::nullopt);
    ASSERT_EQ(ClockAnalyzer{}.brokenInvariant(), std::nullopt);

    const std::vector<std::pair<const char*, void (*)(ClockAnalyzer&)>> breaks{
        {"last entry is not lastTick", [](ClockAnalyzer& a) { a.lastTick = 3.0; }},
        {"lastTick without a count", [](ClockAnalyzer& a) { a.tickCount = 0; }},
        {"a run begun after the window's first tick", [](ClockAnalyzer& a) { a.runStartTick = a.tickCount; }},
        {"a count without lastTick",
         [](ClockAnalyzer& a) {
             a.ticks.clear();
             a.lastTick.reset();
             a.interval.reset();
             a.jitter.reset();
         }},
        {"jitter without interval", [](ClockAnalyzer& a) { a.interval.reset(); }},
        {"interval not positive",
         [](ClockAnalyzer& a) {
             a.interval = 0.0;
             a.jitter.reset();
         }},
        {"interval from 6 ticks",
         [](ClockAnalyzer& a) {
             a.ticks.keepNewest(6);
             a.jitter.reset();
         }},
        {"jitter from 11 ticks", [](ClockAnalyzer& a) { a.ticks.keepNewest(11); }},
        {"changeTicks at the confirmation", [](ClockAnalyzer& a) { a.changeTicks = 6; }},
        {"changeTicks negative", [](ClockAnalyzer& a) { a.changeTicks = -1; }},
        {"negative position", [](ClockAnalyzer& a) { a.position = -1; }},
        {"negative next position", [](ClockAnalyzer& a) { a.nextPosition = -6; }},
    };
    for (const auto& [what, breakIt] : breaks) {
        ClockAnalyzer a = valid;
        breakIt(a);
        EXPECT_NE(a.brokenInvariant(), std::nullopt) << what;
    }
}
