#include "core/HostClock.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace tactimo;

TEST(HostClock, TheNarrowestUsableBracketGivesTheOffset) {
    EXPECT_FALSE(hostClock::offset({}));
    // The 0.4 ms bracket loses to the 0.1 µs one; the last ran backwards and is unusable.
    const std::vector<hostClock::Bracket> brackets = {{1'000'000'000, 500, 1'000'400'000},
                                                      {2'000'000'000, 1'000'000'500, 2'000'000'100},
                                                      {3'000'000'000, 0, 2'999'000'000}};
    EXPECT_EQ(hostClock::offset(brackets), 2'000'000'050 - 1'000'000'500);
    EXPECT_FALSE(hostClock::offset(std::span(brackets).last(1)));
}

// {foreign ns, offset ns, host ns}: 0, "at delivery", at or before the
// clock's start and past its end.
TEST(HostClock, ForeignTimesMoveOntoTheHostClockOrFallBackToDelivery) {
    constexpr auto max = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    const std::tuple<std::uint64_t, std::int64_t, std::uint64_t> table[] = {
        {2'250'000'000, 7'000'000'000, 9'250'000'000},
        {2'250'000'000, -1'000'000'000, 1'250'000'000},
        {2'250'000'000, -2'250'000'000, 0},
        {2'250'000'000, -3'000'000'000, 0},
        {max, 1, 0},
        {max + 1, 0, 0},
        {0, 5, 5}};
    for (const auto& [foreign, offset, host] : table)
        EXPECT_EQ(hostClock::toHost(foreign, offset), host) << foreign << " " << offset;

    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t now = hostClock::now(), before = ts.tv_sec * 1'000'000'000ull + ts.tv_nsec;
    EXPECT_GE(now, before);
    EXPECT_LT(now - before, 1'000'000'000u) << "CLOCK_MONOTONIC";
}
