// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/ClockInput.h"
#include "midi/FakeMidiService.h"

#include <cmath>
#include <deque>

namespace tactimo::test {

// Host time in ns of a time in seconds, and that time as the intake reads it back.
inline std::uint64_t ns(double seconds) {
    return static_cast<std::uint64_t>(std::llround(seconds * 1e9));
}
inline double secondsOf(double seconds) {
    return static_cast<double>(ns(seconds)) * 1e-9;
}

// A ClockInput on the fake bus whose host clock (`now`, ns) and main thread (runPosted()) only the caller moves;
// sources named at construction are there from the start (`keys`), addSource() adds one as a set-up change does.
struct ManualIntake {
    explicit ManualIntake(const std::vector<std::string>& names = {}, std::uint64_t start = ns(1000.0)) : now(start) {
        for (const std::string& name : names) keys.push_back(bus->addSource(name));
        input = std::make_unique<ClockInput>(
            std::make_unique<FakeMidiService>(bus), [this](auto work) { posted.push_back(std::move(work)); },
            [this] { return now; });
    }
    void runPosted() {
        for (; !posted.empty(); posted.pop_front()) posted.front()();
    }
    SourceKey addSource(std::string name) {
        const SourceKey key = bus->addSource(std::move(name));
        bus->announceSetupChange();
        runPosted();
        return key;
    }
    // Bytes without a time stamp of their own that arrive at `at` seconds.
    bool send(SourceKey key, std::vector<std::uint8_t> bytes, double at = 1000.0) {
        now = ns(at);
        return bus->send(key, std::move(bytes));
    }
    ClockReading reading(SourceKey key) const { return input->readings().at(key); }

    std::shared_ptr<FakeMidiBus> bus = std::make_shared<FakeMidiBus>();
    std::deque<std::function<void()>> posted;
    std::uint64_t now;
    std::vector<SourceKey> keys; // of the sources named at construction
    std::unique_ptr<ClockInput> input;
};

} // namespace tactimo::test
