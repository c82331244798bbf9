// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Memory of the ALSA backend while a sender restarts again and again, through
// a kernel's sequencer: a child process opens a client, waits until Tactimo
// has subscribed to its port, sends one Timing Clock (or nothing) and closes
// the client, over and over; the kernel gives it the same few client numbers.
// Prints, every 1000 restarts, the backend's table size, the keys given, the
// records ClockInput keeps (one per key that ever sent clock, by its design),
// the heap in use and the resident memory. Needs /dev/snd/seq:
//
//   bench/midi/alsa_figures.sh, or scripts/run-in-vm.sh -- .../tactimo_alsa_churn [restarts=10000] [clock=1]

#include "core/ClockInput.h"
#include "midi/AlsaMidiService.h"
#include "support/AlsaTestSender.h"
#include "support/MainQueue.h"
#include "bench/ProcessUsage.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using namespace tactimo;
using namespace tactimo::alsatest;
using namespace std::chrono_literals;

namespace {

// The child: restarts a sender as often as asked, one byte to the parent each time.
[[noreturn]] void restartSenders(int restarts, bool clock, int go, int done) {
    char byte = 0;
    if (::read(go, &byte, 1) != 1) _exit(1);
    for (int i = 0; i < restarts; ++i) {
        TestSender sender("tactimo-bench-churn");
        if (!sender.ok()) _exit(1);
        // Until Tactimo has subscribed: at most 2 s.
        for (int wait = 0; wait < 2000; ++wait) {
            snd_seq_query_subscribe_t* query = nullptr;
            snd_seq_query_subscribe_alloca(&query);
            const snd_seq_addr_t root{std::uint8_t(sender.address().client), std::uint8_t(sender.address().port)};
            snd_seq_query_subscribe_set_root(query, &root);
            snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
            snd_seq_query_subscribe_set_index(query, 0);
            if (snd_seq_query_port_subscribers(sender.seq(), query) >= 0) break;
            usleep(1000);
        }
        if (clock) sender.send({0xF8});
        byte = 1;
        if (::write(done, &byte, 1) != 1) _exit(1);
    }
    _exit(0);
}

} // namespace

int main(int argc, char** argv) {
    const int restarts = argc > 1 ? std::atoi(argv[1]) : 10000;
    const bool clock = argc > 2 ? std::atoi(argv[2]) != 0 : true;
    int go[2], done[2];
    if (pipe(go) != 0 || pipe(done) != 0) return 1;
    // Before any thread of ours starts.
    const pid_t child = fork();
    if (child == 0) restartSenders(restarts, clock, go[0], done[1]);
    ::close(go[0]);
    ::close(done[1]);

    auto service = AlsaMidiService::tryCreate();
    if (!service) {
        std::fprintf(stderr, "no ALSA sequencer here; run it in the VM: scripts/run-in-vm.sh -- %s\n", argv[0]);
        ::close(go[1]);
        return 1;
    }
    AlsaMidiService* alsa = service.get();
    test::MainQueue queue;
    ClockInput input(std::move(service), queue.post());
    test::pumpUntil(
        queue, [] { return false; }, 200ms);
    const char byte = 1;
    if (::write(go[1], &byte, 1) != 1) return 1;

    std::printf("restarts  seconds  table   keys  records  heap-KiB  rss-KiB\n");
    const auto start = std::chrono::steady_clock::now();
    fcntl(done[0], F_SETFL, O_NONBLOCK);
    for (int seen = 0; seen < restarts;) {
        queue.runPending();
        char bytes[256];
        const ssize_t n = ::read(done[0], bytes, sizeof bytes);
        if (n == 0) break; // the child ended early
        if (n < 0) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (++seen % 1000 != 0 && seen != 100) continue;
            queue.runPending();
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("%8d  %7.0f  %5zu  %5llu  %7zu  %8zu  %7ld\n", seen, seconds, alsa->stats().tableSize,
                        (unsigned long long)alsa->stats().keysGiven, input.readings().size(),
                        mallinfo2().uordblks / 1024, bench::residentKiB());
            std::fflush(stdout);
        }
    }
    ::close(go[1]);
    waitpid(child, nullptr, 0);
    return 0;
}
