// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What Link costs a process that refreshes at 30 Hz and does nothing else:
// CPU with Link off, on and alone, on with one peer (a process of its own);
// and how long turning it on and off takes. Prints figures. Runs only inside
// a private network (link_idle.sh starts one).
//   tactimo_link_idle [seconds per case = 30]

#include "link/LinkSession.h"
#include "support/ChildProcess.h"
#include "support/PrivateNetwork.h"
#include "bench/ProcessUsage.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void idle(const char* what, const tactimo::LinkSession& session, int seconds) {
    const double cpu = tactimo::bench::cpuSeconds();
    const auto start = Clock::now();
    std::size_t peers = 0;
    for (auto next = start; next < start + std::chrono::seconds(seconds); std::this_thread::sleep_until(next)) {
        if (const auto t = session.timeline()) peers = t->peers;
        next += 33ms;
    }
    const double wall = millisSince(start) / 1e3;
    const double used = tactimo::bench::cpuSeconds() - cpu;
    const auto threads = std::distance(std::filesystem::directory_iterator("/proc/self/task"), {});
    std::printf("%-18s %.0f s: CPU %.3f s = %.3f %% of one core; peers %zu; threads %ld, sockets %d, resident %ld KiB\n",
                what, wall, used, 100 * used / wall, peers, long(threads), tactimo::bench::openSockets(),
                tactimo::bench::residentKiB());
}

} // namespace

int main(int argc, char** argv) {
    if (!tactimo::test::onlyLoopback()) {
        std::fprintf(stderr, "Link runs only in a private network: bench/link/link_idle.sh\n");
        return 2;
    }
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    tactimo::LinkSession session;
    idle("Link off", session, seconds);

    auto start = Clock::now();
    session.setOn(true);
    std::printf("turning on: %.2f ms\n", millisSince(start));
    idle("Link on, alone", session, seconds);
    {
        tactimo::test::ChildProcess peer({LINK_PEER, "120"});
        std::this_thread::sleep_for(2s); // enabled and joined
        idle("Link on, one peer", session, seconds);
    }
    start = Clock::now();
    session.setOn(false);
    std::printf("turning off: %.2f ms\n", millisSince(start));
}
