// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/ClockAnalyzer.h"
#include "core/ClockParser.h"
#include "core/TimeSignature.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tactimo;

// Real-time bytes pass inside a pointer or System Exclusive; other status bytes abandon a pointer; stray data goes.
TEST(ClockParser, DecodesClockMessagesAndSkipsTheRest) {
    const ClockEvent t = ClockEvent::tick();
    const auto p = [](std::int64_t v) { return ClockEvent::songPosition(v); };
    const std::pair<std::vector<std::uint8_t>, std::vector<ClockEvent>> cases[] = {
        {{0xF8, 0xF2, 0x10, 0xF8, 0x20, 0xFA}, {t, t, p(4112), ClockEvent::start()}},
        {{0xF2, 0x7F, 0x7F, 0xFB, 0xFC}, {p(16383), ClockEvent::continue_(), ClockEvent::stop()}},
        {{0xF2, 0x05, 0xFF, 0xF9, 0xFD, 0xFE, 0x01}, {p(133)}},
        {{0xF0, 0x01, 0xF8, 0x02, 0xF7, 0xF2, 0x05, 0x80, 0x01}, {t}},
        {{0xF2, 0x05, 0xF0, 0x01, 0x02, 0xF7, 0x03}, {}},
        {{0xF2, 0x05, 0xF2, 0x03, 0x04}, {p(515)}},
    };
    for (const auto& [bytes, events] : cases) {
        ClockParser parser;
        EXPECT_EQ(parser.feed(bytes), events) << bytes.size();
        EXPECT_FALSE(parser.songPosition);
    }
}

double tickSteadily(ClockAnalyzer& a, double from, double spacing, int count) {
    for (int k = 0; k < count; ++k) a.tick(from + k * spacing);
    return from + (count - 1) * spacing;
}

// The tempo range's ends, from 0 s and four months' uptime (exact once 192 ticks fill the window); an interval
// from the 7th tick, jitter from the 12th, up to 7 recent tempi.
TEST(ClockAnalyzer, SteadyClockGivesTheExactTempo) {
    for (const auto& [bpm, from] : {std::pair{20.0, 0.0}, {300.0, 86399.9}, {123.4, 1.0e7}}) {
        const double spacing = 60.0 / (24.0 * bpm);
        ClockAnalyzer a;
        for (int k = 0; k < 260; ++k) {
            a.tick(from + k * spacing);
            ASSERT_EQ(a.brokenInvariant(), std::nullopt) << k;
            ASSERT_EQ(a.ticks.front(), from + std::max(0, k - 191) * spacing) << "a steady clock is never cut";
            ASSERT_EQ(a.interval.has_value(), k >= 6) << k;
            ASSERT_EQ(a.jitter.has_value(), k >= 11) << k;
            ASSERT_EQ(a.recentBPM.size(), std::size_t(std::clamp(k - 5, 0, 7))) << k;
            ASSERT_LT(a.jitter.value_or(0), 1e-8);
            const bool exact = a.interval && (from < 1e6 || k >= 191);
            ASSERT_NEAR(exact ? a.recentBPM.back() / bpm : 1.0, 1.0, 1e-9) << k;
        }
    }
}

// A gap over 0.5 s restarts the window, or over 2.5 intervals (1/64 s: exact); a step back or a NaN never does.
TEST(ClockAnalyzer, GapRestartsTheWindow) {
    const std::tuple<int, double, bool> cases[] = {{1, 0.5, false},       {1, 0.501, true},
                                                   {30, 2.5 / 64, false}, {30, 2.5 / 64 + 1e-9, true},
                                                   {30, -50.0, false},    {30, NAN, false}};
    for (const auto& [before, gap, restarts] : cases) {
        ClockAnalyzer a;
        a.tick(tickSteadily(a, 100.0, 1.0 / 64, before) + gap);
        EXPECT_EQ(a.tickCount, before + 1) << gap;
        EXPECT_EQ(a.ticks.size(), restarts ? 1u : before + 1u) << gap;
        EXPECT_EQ(a.recentBPM.empty(), restarts || before == 1) << gap;
    }
}

// 20 % faster: rule 1 matches from tick 24, cuts to 7 on the sixth match; 1 %: rule 2 from tick 96 cuts to 24.
TEST(ClockAnalyzer, ChangeRulesCutTheWindow) {
    for (const auto& [steady, faster, firstMatch, keep] : {std::tuple{12, 0.016, 24, 7}, {48, 0.0198, 96, 24}}) {
        ClockAnalyzer a;
        double t = tickSteadily(a, 50.0, 0.02, steady);
        for (int n = steady; n < firstMatch + 5; ++n) {
            ASSERT_EQ(a.changeTicks, std::max(0, n - firstMatch + 1)) << n;
            ASSERT_EQ(a.ticks.size(), std::size_t(n)) << n;
            a.tick(t += faster);
        }
        EXPECT_EQ(a.recentBPM.size(), 7u) << "recent tempi are kept";
        EXPECT_NEAR(*a.interval, faster, 1e-12) << "the cutting tick's estimate rests on the kept ticks";
        tickSteadily(a, t + faster, faster, 30);
        EXPECT_EQ(a.ticks.size(), std::size_t(keep + 30)) << "no second cut";
    }
}

constexpr auto lowest = std::numeric_limits<std::int64_t>::min();

// Values outside the invariant are pulled into range rather than divide by zero.
TEST(TimeSignature, MapsClocksOntoBarsBeatsAndSixteenths) {
    const std::tuple<TimeSignature, std::int64_t, TimeSignature::BarPosition> cases[] = {
        {{4, 4}, 5, {1, 1, 1}},  {{4, 4}, 6, {1, 1, 2}},     {{4, 4}, 95, {1, 4, 4}},
        {{3, 4}, 96, {2, 2, 1}}, {{6, 8}, 71, {1, 6, 2}},    {{7, 16}, 41, {1, 7, 1}},
        {{2, 2}, 47, {1, 1, 8}}, {{99, 1}, 9504, {2, 1, 1}}, {{4, 4}, 6 * 16383, {1024, 4, 4}},
        {{0, 4}, 48, {3, 1, 1}}, {{4, 0}, 24, {1, 2, 1}},    {{lowest, 3}, 96, {5, 1, 1}},
        {{4, 4}, -7, {1, 1, 1}}};
    for (const auto& [signature, clocks, expected] : cases)
        EXPECT_EQ(signature.position(clocks), expected)
            << signature.numerator << "/" << signature.denominator << " at " << clocks;
}
