// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/ClockInput.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

namespace tactimo {

// The program's main thread: runs the work the MIDI side posts and a refresh
// at a fixed period, and ends on SIGINT or SIGTERM or when nobody reads the
// output any more (a closed pipe, a hung-up terminal). One per process.
class MainLoop {
public:
    // Takes over SIGINT and SIGTERM (a second one ends the process at once)
    // and ignores SIGPIPE, so that a closed pipe shows up as a failed write.
    MainLoop();
    ~MainLoop();

    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;

    // Queues work for the loop; any thread. Work posted after the loop has
    // gone is dropped.
    ClockInput::Post post();

    // Runs until stopped; refresh returns false to stop.
    void run(std::chrono::milliseconds period, const std::function<bool()>& refresh);

    // Writes one line to standard output at once. False when the output is
    // closed or a signal asked us to stop.
    bool print(std::string_view line);

    bool stopping() const;

private:
    struct Queue;
    std::shared_ptr<Queue> queue_;
};

} // namespace tactimo
