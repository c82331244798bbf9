#pragma once

#include "core/ClockInput.h"
#include "midi/FakeMidiService.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tactimo {

// A ClockInput on the fake bus, with a host clock the test sets and a main
// queue the test drains: no test waits on real time.
struct InputHarness {
    std::shared_ptr<FakeMidiBus> bus = std::make_shared<FakeMidiBus>();
    std::deque<std::function<void()>> posted;
    std::atomic<std::uint64_t> nowNs{1'000'000'000'000}; // 1000 s
    std::unique_ptr<ClockInput> input;

    InputHarness() {
        input = std::make_unique<ClockInput>(
            std::make_unique<FakeMidiService>(bus), [this](std::function<void()> work) { posted.push_back(std::move(work)); },
            [this] { return nowNs.load(); });
    }

    int runPosted() {
        int ran = 0;
        while (!posted.empty()) {
            auto work = std::move(posted.front());
            posted.pop_front();
            work();
            ++ran;
        }
        return ran;
    }

    // A source that appears while running, connected the way a set-up change connects it.
    SourceKey addSource(std::string name) {
        const SourceKey key = bus->addSource(std::move(name));
        bus->announceSetupChange();
        runPosted();
        return key;
    }

    static std::uint64_t ns(double seconds) { return static_cast<std::uint64_t>(std::llround(seconds * 1e9)); }
    // Seconds as the input converts the host clock.
    static double secondsOf(double seconds) { return static_cast<double>(ns(seconds)) * 1e-9; }

    void at(double seconds) { nowNs = ns(seconds); }
    bool send(SourceKey key, std::vector<std::uint8_t> bytes, std::uint64_t stamp = 0) {
        return bus->send(key, std::move(bytes), stamp);
    }
    // One clock byte delivered at the given time, stamped "at delivery".
    void tickAt(SourceKey key, double seconds, std::vector<std::uint8_t> bytes = {0xF8}) {
        at(seconds);
        send(key, std::move(bytes));
    }
};

} // namespace tactimo
