// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tactimo::test {

// Runs a program (from PATH unless it has a slash), output thrown away: its exit status, -1 if it did not exit.
int run(const std::vector<std::string>& argv);

// A child reading lines from us, and writing lines to us if asked; SIGINT, then SIGKILL, when it goes.
struct ChildProcess {
    explicit ChildProcess(const std::vector<std::string>& argv, bool readOutput = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    void say(const std::string& line);
    // Its next line of output, without the newline; empty after the time limit.
    std::string readLine(std::chrono::milliseconds limit);

    pid_t pid = -1;
    int in = -1;
    int out = -1;
};

} // namespace tactimo::test
