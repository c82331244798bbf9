// The mapping of the sequencer queue's time onto CLOCK_MONOTONIC, against a
// simulated queue: its reads lag by a timer's lateness, it may drift against
// the host clock, stall, or jump.

#include "midi/AlsaQueueClock.h"
#include "core/ClockAnalyzer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace tactimo {
namespace {

constexpr std::int64_t ms = 1'000'000; // ns

struct QueueModel {
    const char* name;
    double driftPpm;      // the queue runs slow against the host by this much
    double stallChance;   // of a read just after a timer stall: 5 to 300 ms late
    std::int64_t jump;    // ns added to host - queue 60 s in (the queue lost or gained time)
    double tempoBoundBpm; // of a 192-tick fit at 120 BPM through the mapping
};

// Host minus queue time, ns, at a host time (ns since the simulation's start).
double trueOffset(const QueueModel& model, std::int64_t host) {
    return 5e9 + model.driftPpm * 1e-6 * double(host) + (host >= 60'000 * ms ? double(model.jump) : 0.0);
}

std::uint64_t queueAt(const QueueModel& model, std::int64_t host) {
    return std::uint64_t(std::llround(double(host + 1000'000 * ms) - trueOffset(model, host)));
}

TEST(AlsaQueueClock, FollowsTheQueueSmoothlyThroughLatenessDriftAndJumps) {
    // Under emulation the sequencer timer is 0 to 1 ms late on every read;
    // replacing the mapping by each fresh estimate stepped fits by up to 0.03 BPM.
    const QueueModel models[] = {
        {"lateness only", 0, 0, 0, 0.002},
        {"stalls", 0, 0.02, 0, 0.002},
        {"drift 20 ppm", 20, 0, 0, 0.002},
        {"drift -40 ppm with stalls", -40, 0.02, 0, 0.003},
        {"jump: queue lost 50 ms", 0, 0, 50 * ms, 0.002},
        {"jump: queue gained 50 ms", 0, 0, -50 * ms, 0.002},
        {"jump: queue restarted, its time 60 s back", 0, 0, 60'000 * ms, 0.002},
    };
    constexpr std::int64_t calibrationPeriod = 250 * ms, tickPeriod = 20'833'333; // 120 BPM
    constexpr std::int64_t warmUp = 30'000 * ms, end = 150'000 * ms, hostBase = 1000'000 * ms;
    for (const QueueModel& model : models) {
        std::mt19937_64 random(7);
        std::uniform_real_distribution<double> lateness(0, 1e6), stallLateness(5e6, 300e6), width(5e3, 50e3);
        std::bernoulli_distribution stalled(model.stallChance);
        AlsaQueueClock clock;
        std::vector<double> ticks; // mapped host times, s
        double worstStamp = 0, worstTempo = 0;
        int calibrationsAfterJump = 0, calibrationsToSettle = -1;
        std::int64_t nextTick = 0;
        for (std::int64_t host = 0; host < end; host += calibrationPeriod) {
            // Five reads back to back: one interrupt's lateness, several widths.
            const double late = stalled(random) ? stallLateness(random) : lateness(random);
            std::vector<hostClock::Bracket> brackets;
            for (int i = 0; i < 5; ++i) {
                const std::int64_t at = host + i * 100'000;
                const auto half = std::int64_t(width(random) / 2);
                brackets.push_back({std::uint64_t(hostBase + at - half),
                                    queueAt(model, at) - std::uint64_t(std::llround(late)),
                                    std::uint64_t(hostBase + at + half)});
            }
            clock.calibrate(brackets);
            if (model.jump != 0 && host >= 60'000 * ms && calibrationsToSettle < 0) {
                ++calibrationsAfterJump;
                const double error = *clock.offsetAt(queueAt(model, host)) - trueOffset(model, host);
                if (std::fabs(error) < 1e6) calibrationsToSettle = calibrationsAfterJump;
            }
            // The ticks of the next period, stamped by the queue without lateness:
            // what is left is the mapping's own error.
            for (; nextTick < host + calibrationPeriod; nextTick += tickPeriod) {
                const std::uint64_t mapped = clock.toHost(queueAt(model, nextTick));
                const double stampError = double(mapped) - double(hostBase + nextTick);
                const bool nearJump = model.jump != 0 && std::llabs(nextTick - 60'000 * ms) < 5'000 * ms;
                if (nextTick >= warmUp && !nearJump)
                    worstStamp = std::max(worstStamp, std::fabs(stampError) - std::fabs(model.driftPpm) * 1e-6 * 10e9);
                ticks.push_back(double(mapped) * 1e-9);
                if (ticks.size() < ClockAnalyzer::windowCapacity || nextTick < warmUp || nearJump) continue;
                const auto fit = ClockAnalyzer::fit(std::span(ticks).last(ClockAnalyzer::windowCapacity));
                worstTempo = std::max(worstTempo, std::fabs(60.0 / (24.0 * fit->slope) - 120.0));
            }
        }
        // Beyond the steady lag of a drift: within the timer's lateness.
        EXPECT_LT(worstStamp, 0.3e6) << model.name;
        EXPECT_LT(worstTempo, model.tempoBoundBpm) << model.name;
        if (model.jump != 0) {
            EXPECT_TRUE(calibrationsToSettle >= 1 && calibrationsToSettle <= 4) << model.name;
        }
    }
}

TEST(AlsaQueueClock, NoMappingBeforeAUsableCalibration) {
    AlsaQueueClock clock;
    EXPECT_EQ(clock.toHost(1'000'000'000), 0u);
    // A host clock that ran backwards in every read is no calibration.
    clock.calibrate(std::vector<hostClock::Bracket>{{2'000'000'000, 1'000'000'000, 1'999'000'000}});
    EXPECT_FALSE(clock.offsetAt(1'000'000'000));
    clock.calibrate(std::vector<hostClock::Bracket>{{2'000'000'000, 1'000'000'000, 2'000'010'000}});
    EXPECT_EQ(clock.toHost(1'500'000'000), 2'500'010'000u);
}

} // namespace
} // namespace tactimo
