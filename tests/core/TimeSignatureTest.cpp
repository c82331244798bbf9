// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/TimeSignature.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tactimo;
constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
using Position = TimeSignature::BarPosition;

// Values outside the invariant are pulled into range rather than divide by zero.
TEST(TimeSignature, MapsClocksOntoBarsBeatsAndSixteenths) {
    const std::tuple<TimeSignature, std::int64_t, Position> cases[] = {
        {{4, 4}, 5, {1, 1, 1}},  {{4, 4}, 6, {1, 1, 2}},     {{4, 4}, 95, {1, 4, 4}},
        {{3, 4}, 96, {2, 2, 1}}, {{6, 8}, 71, {1, 6, 2}},    {{7, 16}, 41, {1, 7, 1}},
        {{2, 2}, 47, {1, 1, 8}}, {{99, 1}, 9504, {2, 1, 1}}, {{4, 4}, 6 * 16383, {1024, 4, 4}},
        {{0, 4}, 48, {3, 1, 1}}, {{4, 0}, 24, {1, 2, 1}},    {{lowest, 3}, 96, {5, 1, 1}},
        {{4, 4}, -1, {1, 1, 1}}};
    for (const auto& [signature, clocks, expected] : cases)
        EXPECT_EQ(signature.position(clocks), expected)
            << signature.numerator << "/" << signature.denominator << " at " << clocks;
}

// A stored field out of range falls back to 4 alone; typed, a numerator is clamped, a denominator refused (0).
TEST(TimeSignature, StoredAndTypedValues) {
    EXPECT_EQ(TimeSignature::fromStored(-3, 2), (TimeSignature{4, 2}));
    EXPECT_EQ(TimeSignature::fromStored(7, 12), (TimeSignature{7, 4}));
    const std::tuple<std::int64_t, std::int64_t, std::int64_t> typed[] = {
        {lowest, 1, 0}, {0, 1, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 0}, {16, 16, 16}, {32, 32, 0}, {100, 99, 0}};
    for (const auto& [n, numerator, denominator] : typed) {
        EXPECT_EQ(TimeSignature::clampedNumerator(n), numerator) << n;
        EXPECT_EQ(TimeSignature::acceptedDenominator(n).value_or(0), denominator) << n;
    }
}
