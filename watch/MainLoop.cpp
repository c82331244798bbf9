// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "MainLoop.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tactimo {

namespace {

volatile std::sig_atomic_t stopSignal = 0;
int wakeFd = -1; // the loop's eventfd; the signal handler writes to it

void wake(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(fd, &one, sizeof one); // a full counter is as good as a wake-up
}

extern "C" void onStopSignal(int signal) {
    const int saved = errno;
    stopSignal = signal;
    if (wakeFd >= 0) wake(wakeFd);
    errno = saved;
}

} // namespace

struct MainLoop::Queue {
    std::mutex lock;
    std::vector<std::function<void()>> work;
    bool open = true;
    int fd = -1;
};

MainLoop::MainLoop() : queue_(std::make_shared<Queue>()) {
    queue_->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    wakeFd = queue_->fd;

    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    // No SA_RESTART: a write blocked on a stalled reader returns so that we can stop.
    stop.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

MainLoop::~MainLoop() {
    {
        std::lock_guard guard(queue_->lock);
        queue_->open = false;
        queue_->work.clear();
    }
    wakeFd = -1;
    ::close(queue_->fd);
}

ClockInput::Post MainLoop::post() {
    return [weak = std::weak_ptr<Queue>(queue_)](std::function<void()> work) {
        const auto queue = weak.lock();
        if (!queue) return;
        std::lock_guard guard(queue->lock);
        if (!queue->open) return;
        queue->work.push_back(std::move(work));
        wake(queue->fd);
    };
}

bool MainLoop::stopping() const {
    return stopSignal != 0;
}

void MainLoop::run(std::chrono::milliseconds period, const std::function<bool()>& refresh) {
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    while (!stopping()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
        // Standard output with no events asked: poll still reports an error
        // (no reader left) or a hang-up on it.
        pollfd fds[2] = {{queue_->fd, POLLIN, 0}, {STDOUT_FILENO, 0, 0}};
        if (::poll(fds, 2, left > 0 ? static_cast<int>(left) : 0) < 0 && errno != EINTR) return;
        if (stopping() || (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL))) return;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(queue_->fd, &count, sizeof count);
            std::vector<std::function<void()>> work;
            {
                std::lock_guard guard(queue_->lock);
                work.swap(queue_->work);
            }
            for (auto& w : work) w();
        }
        if (Clock::now() >= next) {
            if (!refresh()) return;
            // A late refresh is not made up for: the next one follows a period later.
            next = std::max(next + period, Clock::now());
        }
    }
}

bool MainLoop::print(std::string_view line) {
    std::string data(line);
    data += '\n';
    std::size_t done = 0;
    while (done < data.size()) {
        const auto n = ::write(STDOUT_FILENO, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR && !stopping()) {
            continue;
        } else {
            return false; // closed (EPIPE), stopped, or unwritable
        }
    }
    return true;
}

} // namespace tactimo
