// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What the system's MIDI service costs while nothing changes, and whether
// trying to reach an absent JACK server leaks. Prints figures.
//
//   tactimo_system_idle idle [seconds=60]   ClockInput over makeSystemMidiService():
//                                           CPU time, threads, descriptors, memory
//   tactimo_system_idle tries [count=5000]  JackMidiService::tryCreate() with no server,
//                                           as the service does every 2 s

#include "core/ClockInput.h"
#include "midi/JackMidiService.h"
#include "midi/SystemMidiService.h"

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace tactimo;

namespace {

struct Usage {
    double cpuSeconds = 0; // user and system time of the whole process
    int threads = 0;
    int fds = 0;
    long rssKiB = 0;
};

int entries(const char* dir) {
    int n = 0;
    if (DIR* d = opendir(dir)) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

Usage usage() {
    Usage u;
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    // Fields after the command name, which may hold spaces: state is field 3, utime 14, stime 15.
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::vector<std::string> fields{"", "", ""}; // pid, comm: not in rest
    for (std::string f; rest >> f;) fields.push_back(f);
    const double tick = double(sysconf(_SC_CLK_TCK));
    if (fields.size() > 15) u.cpuSeconds = (std::stod(fields[14 - 1]) + std::stod(fields[15 - 1])) / tick;
    u.threads = entries("/proc/self/task");
    u.fds = entries("/proc/self/fd");
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    u.rssKiB = resident * (sysconf(_SC_PAGESIZE) / 1024);
    return u;
}

void print(const char* what, const Usage& u) {
    std::printf("%-8s threads %d, descriptors %d, resident %ld KiB\n", what, u.threads, u.fds, u.rssKiB);
}

int idle(int seconds) {
    std::mutex lock;
    std::vector<std::function<void()>> posted;
    ClockInput input(makeSystemMidiService(), [&](std::function<void()> work) {
        std::lock_guard guard(lock);
        posted.push_back(std::move(work));
    });
    std::printf("service reachable: %s; sources listed: %zu (with the virtual port)\n",
                input.serviceReachable() ? "yes" : "no", input.sources().size());
    const Usage start = usage();
    const auto begin = std::chrono::steady_clock::now();
    // The main thread only runs what the service posts, ten times a second.
    while (std::chrono::steady_clock::now() - begin < std::chrono::seconds(seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<std::function<void()>> work;
        {
            std::lock_guard guard(lock);
            work.swap(posted);
        }
        for (auto& w : work) w();
    }
    const Usage end = usage();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double cpu = end.cpuSeconds - start.cpuSeconds;
    std::printf("idle for %.0f s: CPU %.2f s = %.3f %% of one core\n", wall, cpu, 100 * cpu / wall);
    print("start", start);
    print("end", end);
    return 0;
}

int tries(int count) {
    if (auto client = JackMidiService::tryCreate()) {
        std::fprintf(stderr, "a JACK server answers: set JACK_DEFAULT_SERVER to a name no server has\n");
        return 1;
    }
    const Usage start = usage();
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) JackMidiService::tryCreate();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const Usage end = usage();
    std::printf("%d failed tries to reach a JACK server: %.2f ms each, of which %.2f ms CPU\n", count,
                1e3 * wall / count, 1e3 * (end.cpuSeconds - start.cpuSeconds) / count);
    print("before", start);
    print("after", end);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const int n = argc > 2 ? std::atoi(argv[2]) : 0;
    setenv("JACK_NO_START_SERVER", "1", 1);
    if (mode == "idle") return idle(n > 0 ? n : 60);
    if (mode == "tries") return tries(n > 0 ? n : 5000);
    std::fprintf(stderr, "usage: %s idle [seconds] | tries [count]\n", argv[0]);
    return 2;
}
