// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/HostClock.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tactimo;

// Now is CLOCK_MONOTONIC. The 0.4 ms bracket loses to the 0.1 µs one; one that ran backwards is unusable.
TEST(HostClock, OffsetNowAndForeignTimes) {
    const hostClock::Bracket brackets[] = {{1'000'000'000, 500, 1'000'400'000},
                                           {2'000'000'000, 1'000'000'500, 2'000'000'100},
                                           {3'000'000'000, 0, 2'999'000'000}};
    EXPECT_EQ(hostClock::offset(brackets), 2'000'000'050 - 1'000'000'500);
    EXPECT_FALSE(hostClock::offset(std::span(brackets).last(1)));
    EXPECT_FALSE(hostClock::offset({}));
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    EXPECT_LT(hostClock::now() - (ts.tv_sec * 1'000'000'000ull + ts.tv_nsec), 1'000'000'000u) << "CLOCK_MONOTONIC";
    // {foreign ns, offset ns, host ns}: 0 means "at delivery"; before the clock's start or past its end, 0.
    constexpr auto max = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    const std::tuple<std::uint64_t, std::int64_t, std::uint64_t> table[] = {
        {2'250'000'000, 7'000'000'000, 9'250'000'000},
        {2'250'000'000, -1'000'000'000, 1'250'000'000},
        {2'250'000'000, -2'250'000'000, 0},
        {max, 1, 0},
        {max + 1, 0, 0},
        {0, 5, 5}};
    for (const auto& [foreign, offset, host] : table)
        EXPECT_EQ(hostClock::toHost(foreign, offset), host) << foreign << " " << offset;
}
