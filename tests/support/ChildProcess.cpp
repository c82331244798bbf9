// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ChildProcess.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tactimo::test {

// Its standard input from `in` (-1: ours), its output to `out` (-1: /dev/null), its errors to /dev/null.
static pid_t spawn(std::vector<std::string> argv, int in = -1, int out = -1) {
    std::vector<char*> args(argv.size() + 1); // null-terminated
    std::ranges::transform(argv, args.begin(), [](std::string& a) { return a.data(); });
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, 0);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
    if (out < 0) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int run(const std::vector<std::string>& argv) {
    int status = 0;
    const pid_t pid = spawn(argv);
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool readOutput) {
    int fds[2];
    int output[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC) != 0 || (readOutput && pipe2(output, O_CLOEXEC) != 0)) return;
    pid = spawn(argv, fds[0], output[1]);
    in = fds[1];
    out = output[0];
    ::close(fds[0]);
    if (readOutput) ::close(output[1]);
}

ChildProcess::~ChildProcess() {
    using namespace std::chrono_literals;
    ::close(in);
    if (out >= 0) ::close(out);
    if (pid <= 0) return;
    ::kill(pid, SIGINT);
    for (int i = 0; i < 300; ++i, std::this_thread::sleep_for(10ms))
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

void ChildProcess::say(const std::string& line) {
    [[maybe_unused]] const auto n = ::write(in, (line + '\n').data(), line.size() + 1);
}

std::string ChildProcess::readLine(std::chrono::milliseconds limit) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + limit;
    for (char c = 0; out >= 0; line += c) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{.fd = out, .events = POLLIN, .revents = 0};
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0 || ::read(out, &c, 1) != 1) return {};
        if (c == '\n') return line;
    }
    return {};
}

} // namespace tactimo::test
