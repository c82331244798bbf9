#include "core/HostClock.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace tactimo;

TEST(HostClock, TheNarrowestUsableBracketGivesTheOffset) {
    using B = hostClock::Bracket;
    EXPECT_FALSE(hostClock::offset({}));
    // The 0.4 ms bracket loses to the 0.1 µs one; the last ran backwards and is unusable.
    const std::vector<B> brackets = {{1'000'000'000, 500, 1'000'400'000},
                                     {2'000'000'000, 1'000'000'500, 2'000'000'100},
                                     {3'000'000'000, 0, 2'999'000'000}};
    EXPECT_EQ(hostClock::offset(brackets), 2'000'000'050 - 1'000'000'500);
    EXPECT_FALSE(hostClock::offset(std::span(brackets).last(1)));
}

TEST(HostClock, ForeignTimesMoveOntoTheHostClockOrFallBackToDelivery) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    // {foreign ns, offset ns, host ns}; 0 means "at delivery".
    const struct {
        std::uint64_t foreign;
        std::int64_t offset;
        std::uint64_t host;
    } table[] = {
        {2'250'000'000, 7'000'000'000, 9'250'000'000},
        {2'250'000'000, -1'000'000'000, 1'250'000'000},
        {2'250'000'000, -2'250'000'000, 0}, // exactly the clock's start
        {2'250'000'000, -3'000'000'000, 0}, // before it
        {std::uint64_t(max), 1, 0},         // past the end of the clock
        {std::uint64_t(max) + 1, 0, 0},
        {0, 5, 5},
    };
    for (const auto& row : table)
        EXPECT_EQ(hostClock::toHost(row.foreign, row.offset), row.host) << row.foreign << " " << row.offset;
}

TEST(HostClock, NowIsTheMonotonicClock) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t before = std::uint64_t(ts.tv_sec) * 1'000'000'000u + std::uint64_t(ts.tv_nsec);
    const std::uint64_t now = hostClock::now();
    EXPECT_GE(now, before);
    EXPECT_LT(now - before, 1'000'000'000u);
}
