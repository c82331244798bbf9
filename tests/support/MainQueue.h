// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/ClockInput.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

namespace tactimo::test {

using namespace std::chrono_literals;

// The test's "main thread": work posted from any thread waits until the test runs it.
struct MainQueue {
    ClockInput::Post post() {
        return [this](std::function<void()> work) {
            std::lock_guard guard(lock);
            queue.push_back(std::move(work));
        };
    }
    void runPending() {
        std::unique_lock guard(lock);
        for (auto& work : std::exchange(queue, {})) {
            guard.unlock();
            work();
            guard.lock();
        }
    }
    std::mutex lock;
    std::vector<std::function<void()>> queue;
};

// Runs posted work until the condition holds or the time is up.
inline bool pumpUntil(MainQueue& main, auto condition, std::chrono::milliseconds limit = 10s) {
    for (const auto deadline = std::chrono::steady_clock::now() + limit;; std::this_thread::sleep_for(5ms)) {
        main.runPending();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
    }
}

inline void pumpFor(MainQueue& main, std::chrono::milliseconds span) {
    pumpUntil(
        main, [] { return false; }, span);
}

} // namespace tactimo::test
