#include "core/TimeSignature.h"

#include <gtest/gtest.h>

namespace tactimo {
namespace {

TEST(TimeSignature, MapsClocksOntoBarsBeatsAndSixteenths) {
    struct Case {
        std::int64_t numerator, denominator, clocks;
        TimeSignature::BarPosition expected;
    };
    const Case cases[] = {
        {4, 4, 0, {1, 1, 1}},   {4, 4, 5, {1, 1, 1}},   {4, 4, 6, {1, 1, 2}},  {4, 4, 23, {1, 1, 4}},
        {4, 4, 24, {1, 2, 1}},  {4, 4, 95, {1, 4, 4}},  {4, 4, 96, {2, 1, 1}}, {3, 4, 96, {2, 2, 1}},
        {6, 8, 71, {1, 6, 2}},  {6, 8, 72, {2, 1, 1}},  {7, 16, 41, {1, 7, 1}}, {2, 2, 47, {1, 1, 8}},
        {1, 1, 95, {1, 1, 16}}, {99, 1, 9504, {2, 1, 1}},
        // The largest song position a pointer can set: 16383 sixteenths.
        {4, 4, 6 * 16383, {1024, 4, 4}},
    };
    for (const Case& c : cases) {
        const TimeSignature signature{c.numerator, c.denominator};
        EXPECT_EQ(signature.position(c.clocks), c.expected)
            << c.numerator << "/" << c.denominator << " at " << c.clocks;
    }
    EXPECT_EQ(TimeSignature::denominators, (std::array<std::int64_t, 5>{1, 2, 4, 8, 16}));
}

} // namespace
} // namespace tactimo
