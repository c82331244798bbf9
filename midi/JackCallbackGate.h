// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace tactimo {

// What lets libjack's threads into our callbacks. libjack cancels its threads
// asynchronously in jack_client_close (and may in jack_deactivate): a thread
// cancelled inside our code could leave a lock held or unwind through a
// noexcept frame and end the program. So close() shuts the gate and waits
// until no callback is inside before it deactivates and closes the client.
// Kept to atomics, so a cancel at the gate is harmless.
// After telling of a lost server, libjack's real-time thread still runs on
// the client for a moment, and jack_client_close then frees the client
// without joining that thread: the gate waits that moment out too.
class JackCallbackGate {
public:
    // One callback's way through, for as long as it lives; false when the
    // gate was shut.
    class Pass {
    public:
        explicit Pass(JackCallbackGate& gate) : gate_(gate) {
            gate_.inside_.fetch_add(1);
            entered_ = !gate_.shut_.load();
            if (!entered_) gate_.inside_.fetch_sub(1);
        }
        ~Pass() {
            if (entered_) gate_.inside_.fetch_sub(1);
        }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        explicit operator bool() const { return entered_; }

    private:
        JackCallbackGate& gate_;
        bool entered_ = false;
    };

    // Lets no callback in from now on, and waits for those inside. A callback
    // may block on its owner for a while, never for ever; past that bound a
    // hang would be worse than the risk.
    void shut() {
        shut_.store(true);
        for (int i = 0; i < 5000 && inside_.load() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (const auto gone = serverGoneAt_.load(); gone != Clock::rep{})
            std::this_thread::sleep_until(Clock::time_point(Clock::duration(gone)) + exitGrace);
    }

    // Called from the callback that tells of a lost server.
    void serverGone() { serverGoneAt_.store(Clock::now().time_since_epoch().count()); }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds exitGrace{200};
    std::atomic<bool> shut_{false};
    std::atomic<Clock::rep> serverGoneAt_{};
    std::atomic<int> inside_{0};
};

} // namespace tactimo
