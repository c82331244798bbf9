#pragma once

#include "MainQueue.h"
#include "core/ClockInput.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

namespace tactimo::test {

// A fixture for ClockInput on a real service, with the test as its main
// thread: set-up changes must reach the owner on that thread, once for each
// notification posted.
class IntakeTest : public ::testing::Test {
protected:
    void start(std::unique_ptr<MidiService> service) {
        input = std::make_unique<ClockInput>(std::move(service), queue.post());
        input->onSourcesChanged = [this] {
            ++changes;
            EXPECT_EQ(std::this_thread::get_id(), main) << "off the main thread";
        };
    }
    void TearDown() override { EXPECT_EQ(changes, queue.ran) << "one onSourcesChanged per notification"; }

    virtual std::optional<ClockReading> reading(SourceKey key) {
        const Readings all = input->readings();
        return all.contains(key) ? std::optional(all.at(key)) : std::nullopt;
    }
    bool waitFor(SourceKey key, auto condition, std::chrono::milliseconds limit = 10s) {
        return pumpUntil(
            queue, [&] { return reading(key) && condition(*reading(key)); }, limit);
    }

    MainQueue queue;
    std::unique_ptr<ClockInput> input;
    std::thread::id main = std::this_thread::get_id();
    int changes = 0;
};

} // namespace tactimo::test
