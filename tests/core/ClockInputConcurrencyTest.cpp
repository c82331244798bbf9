#include "core/ClockInput.h"
#include "midi/FakeMidiService.h"
#include "support/MainQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <thread>

using namespace tactimo;

// Two delivery threads and a set-up change thread against the main thread's
// readings and source lists: no tick may be lost or doubled, and no snapshot
// may show a half-processed list.
TEST(ClockInputConcurrency, NoTickIsLostBetweenDeliveryThreadsAndReadings) {
    auto bus = std::make_shared<FakeMidiBus>();
    std::vector<SourceKey> keys;
    for (const char* name : {"A", "B", "C", "A", "B", "D"}) keys.push_back(bus->addSource(name));
    test::MainQueue mainQueue;
    std::atomic<std::uint64_t> clock{5'000'000'000'000};
    // 0.4 ms of host time passes with every read.
    ClockInput input(std::make_unique<FakeMidiService>(bus), mainQueue.post(),
                     [&] { return clock.fetch_add(400'000); });
    int changes = 0; // main thread only
    input.onSourcesChanged = [&] { ++changes; };

    std::atomic<std::int64_t> ticksSent{0};
    std::atomic<int> running{2};
    const auto deliver = [&](int thread) {
        std::mt19937 rng(thread + 1);
        // Each thread has sources of its own, and both share the virtual port.
        std::vector<SourceKey> mine(keys.begin() + thread * 3, keys.begin() + thread * 3 + 3);
        mine.push_back(FakeMidiBus::virtualKey);
        const std::uint8_t bytes[] = {0xF8, 0xF8, 0xF8, 0x90, 0x3C, 0xF2, 0x05, 0xFE, 0xFA, 0xFC, 0xFB};
        for (int i = 0; i < 30000; ++i) {
            std::vector<std::vector<std::uint8_t>> data(1 + rng() % 3);
            std::vector<MidiPacket> packets;
            int ticks = 0;
            for (auto& d : data) {
                for (unsigned n = rng() % 4; n > 0; --n) d.push_back(bytes[rng() % std::size(bytes)]);
                ticks += static_cast<int>(std::count(d.begin(), d.end(), 0xF8));
                packets.push_back({0, d});
            }
            if (bus->send(mine[rng() % mine.size()], packets)) ticksSent += ticks;
        }
        --running;
    };
    std::thread first(deliver, 0), second(deliver, 1);
    std::thread notifier([&] {
        for (; running > 0; std::this_thread::sleep_for(std::chrono::milliseconds(5))) bus->announceSetupChange();
    });

    std::map<SourceKey, std::int64_t> seen;
    std::map<SourceKey, std::uint64_t> historySeen; // the newest sequence copied, per source
    ClockHistory::Slice slice;
    while (running > 0) {
        for (const auto& [key, reading] : input.readings()) {
            EXPECT_GE(reading.analyzer.tickCount, std::exchange(seen[key], reading.analyzer.tickCount)) << "went back";
            EXPECT_TRUE(reading.analyzer.ticks.empty() || reading.analyzer.ticks.back() == reading.analyzer.lastTick);
            // The history is copied while ticks arrive: only newer entries, in order.
            input.history(key, historySeen[key], slice);
            std::uint64_t previous = historySeen[key];
            for (const auto& tick : slice.ticks) EXPECT_GT(tick.sequence, std::exchange(previous, tick.sequence));
            historySeen[key] = slice.latest;
        }
        EXPECT_EQ(input.sources().size(), keys.size() + 1);
        mainQueue.runPending();
    }
    for (std::thread* t : {&first, &second, &notifier}) t->join();

    std::int64_t counted = 0;
    for (const auto& [key, reading] : input.readings()) counted += reading.analyzer.tickCount;
    EXPECT_EQ(counted, ticksSent.load());
    EXPECT_GT(ticksSent.load(), 30000); // the run did deliver
    EXPECT_GT(changes, 0);
}
