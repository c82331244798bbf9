#include "core/TimeSignature.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tactimo;

namespace {

constexpr auto lowest = std::numeric_limits<std::int64_t>::min();
constexpr auto highest = std::numeric_limits<std::int64_t>::max();

} // namespace

TEST(TimeSignature, MapsClocksOntoBarsBeatsAndSixteenths) {
    const struct {
        std::int64_t numerator, denominator, clocks;
        TimeSignature::BarPosition expected;
    } cases[] = {{4, 4, 5, {1, 1, 1}},
                 {4, 4, 6, {1, 1, 2}},
                 {4, 4, 95, {1, 4, 4}},
                 {3, 4, 96, {2, 2, 1}},
                 {6, 8, 71, {1, 6, 2}},
                 {7, 16, 41, {1, 7, 1}},
                 {2, 2, 47, {1, 1, 8}},
                 {1, 1, 95, {1, 1, 16}},
                 {99, 1, 9504, {2, 1, 1}},
                 {4, 4, 6 * 16383, {1024, 4, 4}}, // the largest position a pointer can set
                 // Outside the invariant, pulled into range rather than divide by zero.
                 {0, 4, 48, {3, 1, 1}},
                 {4, 0, 24, {1, 2, 1}},
                 {lowest, 3, 96, {5, 1, 1}},
                 {4, 4, -1, {1, 1, 1}}};
    for (const auto& c : cases)
        EXPECT_EQ((TimeSignature{c.numerator, c.denominator}.position(c.clocks)), c.expected)
            << c.numerator << "/" << c.denominator << " at " << c.clocks;
}

// Each remembered field is taken when it is in range and falls back to 4 on its own otherwise.
TEST(TimeSignature, StoredValuesAreAcceptedOrFallBack) {
    const struct {
        std::optional<std::int64_t> numerator, denominator;
        TimeSignature expected;
    } cases[] = {{std::nullopt, std::nullopt, {4, 4}},
                 {1, 1, {1, 1}},
                 {99, 16, {99, 16}},
                 {0, 0, {4, 4}},
                 {100, 32, {4, 4}},
                 {-3, 3, {4, 4}},
                 {100, 8, {4, 8}},
                 {7, 12, {7, 4}},
                 {lowest, highest, {4, 4}},
                 {2, 2, {2, 2}}};
    for (const auto& c : cases)
        EXPECT_EQ(TimeSignature::fromStored(c.numerator, c.denominator), c.expected)
            << c.numerator.value_or(-999) << "/" << c.denominator.value_or(-999);
}

TEST(TimeSignature, TypedNumeratorIsClamped) {
    const std::pair<std::int64_t, std::int64_t> cases[] = {{0, 1},    {1, 1},  {7, 7},      {99, 99},
                                                           {100, 99}, {-5, 1}, {lowest, 1}, {highest, 99}};
    for (const auto& [typed, stored] : cases) EXPECT_EQ(TimeSignature::clampedNumerator(typed), stored) << typed;
}

TEST(TimeSignature, TypedDenominatorIsAcceptedOrRefused) {
    for (std::int64_t typed = -2; typed <= 33; ++typed) {
        const bool allowed = typed == 1 || typed == 2 || typed == 4 || typed == 8 || typed == 16;
        EXPECT_EQ(TimeSignature::acceptedDenominator(typed), allowed ? std::optional(typed) : std::nullopt) << typed;
    }
    EXPECT_EQ(TimeSignature::acceptedDenominator(lowest), std::nullopt);
}
