#include "core/ClockInput.h"
#include "core/ClockStatus.h"
#include "midi/FakeMidiService.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <thread>

namespace tactimo {
namespace {

// Two delivery threads and a notification thread against the main thread's
// readings, refreshes and source lists. No tick may be lost or doubled, and no
// snapshot may show a half-processed list.
TEST(ClockInputConcurrency, NoTickIsLostBetweenDeliveryThreadsAndReadings) {
    auto bus = std::make_shared<FakeMidiBus>();
    std::vector<SourceKey> keys;
    for (int i = 0; i < 6; ++i) keys.push_back(bus->addSource("Source " + std::to_string(i % 4)));

    std::mutex queueLock;
    std::deque<std::function<void()>> mainQueue;
    std::atomic<std::uint64_t> clock{5'000'000'000'000};
    ClockInput input(
        std::make_unique<FakeMidiService>(bus),
        [&](std::function<void()> work) {
            std::lock_guard guard(queueLock);
            mainQueue.push_back(std::move(work));
        },
        [&] { return clock.fetch_add(400'000); }); // 0.4 ms per read

    int changes = 0; // main thread only
    input.onSourcesChanged = [&] { ++changes; };

    constexpr int listsPerThread = 30000;
    std::atomic<std::int64_t> ticksSent{0};
    std::atomic<int> running{2};
    const auto deliver = [&](int thread) {
        std::mt19937 rng(thread + 1);
        // Each thread has sources of its own, and both share the virtual port.
        std::vector<SourceKey> mine(keys.begin() + thread * 3, keys.begin() + thread * 3 + 3);
        mine.push_back(FakeMidiBus::virtualKey);
        const std::uint8_t noise[] = {0x90, 0x3C, 0x40, 0xF2, 0x05, 0xFE, 0xFA, 0xFC, 0xFB};
        std::int64_t sent = 0;
        for (int i = 0; i < listsPerThread; ++i) {
            std::vector<std::vector<std::uint8_t>> bytes(1 + rng() % 3);
            std::vector<MidiPacket> packets;
            int ticks = 0;
            for (auto& b : bytes) {
                for (unsigned n = rng() % 4; n > 0; --n) {
                    if (rng() % 3 == 0) {
                        b.push_back(noise[rng() % std::size(noise)]);
                    } else {
                        b.push_back(0xF8);
                        ++ticks;
                    }
                }
                packets.push_back({0, b});
            }
            if (bus->send(mine[rng() % mine.size()], packets)) sent += ticks;
        }
        ticksSent += sent;
        --running;
    };
    std::thread first(deliver, 0), second(deliver, 1);
    std::thread notifier([&] {
        while (running > 0) {
            bus->announceSetupChange();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    std::map<SourceKey, std::int64_t> seen;
    std::optional<SourceKey> activeRef;
    ClockStatus status;
    int snapshots = 0;
    while (running > 0) {
        const Readings r = input.readings();
        for (const auto& [key, reading] : r) {
            const ClockAnalyzer& a = reading.analyzer;
            EXPECT_GE(a.tickCount, seen[key]) << "a snapshot went back in time";
            seen[key] = a.tickCount;
            EXPECT_LE(a.ticks.size(), 192u);
            if (!a.ticks.empty()) {
                EXPECT_EQ(a.ticks.back(), a.lastTick);
            }
        }
        status = deriveStatus(r, "", activeRef, status);
        EXPECT_EQ(input.sources().size(), keys.size() + 1);
        std::deque<std::function<void()>> work;
        {
            std::lock_guard guard(queueLock);
            work.swap(mainQueue);
        }
        for (auto& w : work) w();
        ++snapshots;
    }
    first.join();
    second.join();
    notifier.join();

    std::int64_t counted = 0;
    for (const auto& [key, reading] : input.readings()) counted += reading.analyzer.tickCount;
    EXPECT_EQ(counted, ticksSent.load());
    EXPECT_GT(ticksSent.load(), listsPerThread); // the run did deliver
    EXPECT_GT(snapshots, 1);
    EXPECT_GT(changes, 0);
}

} // namespace
} // namespace tactimo
