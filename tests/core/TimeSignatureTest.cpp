#include "core/TimeSignature.h"

#include <gtest/gtest.h>

using namespace tactimo;

TEST(TimeSignature, MapsClocksOntoBarsBeatsAndSixteenths) {
    const struct {
        std::int64_t numerator, denominator, clocks;
        TimeSignature::BarPosition expected;
    } cases[] = {{4, 4, 5, {1, 1, 1}},           {4, 4, 6, {1, 1, 2}},   {4, 4, 95, {1, 4, 4}},
                 {3, 4, 96, {2, 2, 1}},          {6, 8, 71, {1, 6, 2}},  {7, 16, 41, {1, 7, 1}},
                 {2, 2, 47, {1, 1, 8}},          {1, 1, 95, {1, 1, 16}}, {99, 1, 9504, {2, 1, 1}},
                 {4, 4, 6 * 16383, {1024, 4, 4}}}; // the largest position a pointer can set
    for (const auto& c : cases)
        EXPECT_EQ((TimeSignature{c.numerator, c.denominator}.position(c.clocks)), c.expected)
            << c.numerator << " " << c.clocks;
}
