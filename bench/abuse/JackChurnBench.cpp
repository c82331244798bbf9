// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Senders restarting over and over on a real JACK server, and what that
// leaves behind. A sender here is a port of a client of our own, registered,
// heard for a few clock ticks, and unregistered again; JACK hands its UUID to
// the next port, as it does when a real program restarts, only much faster.
// Every so many restarts it prints the intake's records, the JACK source
// table's entries and the process's resident memory.
//
//   tactimo_jack_churn [--restarts N] [--every N] [--parallel P] [--ticks T]
//
// Runs on the server JACK_DEFAULT_SERVER names; exit status 2 without one.

#include "core/ClockInput.h"
#include "midi/JackMidiService.h"
#include "support/MainQueue.h"
#include "bench/ProcessUsage.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

using namespace tactimo;
using Clock = std::chrono::steady_clock;

namespace {

// A client whose ports come and go. While a port is up it sends one Timing
// Clock at frame 0 of every cycle.
struct Churner {
    static constexpr int maxPorts = 16;
    struct Slot {
        std::atomic<jack_port_t*> port{nullptr}; // cleared a cycle before the port goes
        std::atomic<long> sent{0};
    };

    explicit Churner(const char* name) : client(jack_client_open(name, JackNoStartServer, nullptr)) {
        if (!client) return;
        jack_set_process_callback(
            client,
            [](jack_nframes_t frames, void* arg) {
                auto* self = static_cast<Churner*>(arg);
                for (Slot& slot : self->slots) {
                    jack_port_t* port = slot.port.load(std::memory_order_acquire);
                    if (!port) continue;
                    void* buffer = jack_port_get_buffer(port, frames);
                    jack_midi_clear_buffer(buffer);
                    const jack_midi_data_t tick = 0xF8;
                    if (jack_midi_event_write(buffer, 0, &tick, 1) == 0) slot.sent.fetch_add(1);
                }
                self->cycles.fetch_add(1, std::memory_order_release);
                return 0;
            },
            this);
        jack_activate(client);
    }
    ~Churner() {
        if (client) jack_client_close(client);
    }

    jack_client_t* client;
    std::array<Slot, maxPorts> slots;
    std::atomic<std::uint64_t> cycles{0};
};

} // namespace

int main(int argc, char** argv) {
    long restarts = 10000, every = 1000, ticks = 3;
    int parallel = 4;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--restarts"))
            restarts = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--every"))
            every = std::max(1L, std::atol(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--parallel"))
            parallel = std::clamp(std::atoi(argv[i + 1]), 1, Churner::maxPorts);
        else if (!std::strcmp(argv[i], "--ticks"))
            ticks = std::max(1L, std::atol(argv[i + 1]));
    }

    auto jack = JackMidiService::tryCreate("TactimoChurn");
    if (!jack) {
        std::fprintf(stderr, "no JACK server\n");
        return 2;
    }
    JackMidiService* backend = jack.get();
    test::MainQueue mainQueue;
    ClockInput input(std::move(jack), mainQueue.post());
    std::size_t listed = input.sources().size() - 1;
    input.onSourcesChanged = [&] { listed = input.sources().size() - 1; }; // as the window does

    Churner churner("tactimo-churn");
    if (!churner.client) {
        std::fprintf(stderr, "the sender client did not open\n");
        return 2;
    }

    enum class Phase { idle, connecting, sending, leaving };
    struct Run {
        Phase phase = Phase::idle;
        jack_port_t* port = nullptr;
        long sentAtConnection = 0;
        std::uint64_t goneAfterCycle = 0;
        Clock::time_point since;
    };
    std::array<Run, Churner::maxPorts> runs{};
    long started = 0, done = 0, unheard = 0, refused = 0;
    const auto begin = Clock::now();
    auto nextRefresh = begin;

    const auto report = [&](const char* tag) {
        const auto stats = backend->stats();
        std::printf("%s restarts %ld seconds %.1f intake_records %zu keys_by_uuid %zu names %zu listed %zu "
                    "rss_kib %ld unheard %ld refused %ld dropped_lists %llu\n",
                    tag, done, std::chrono::duration<double>(Clock::now() - begin).count(), input.readings().size(),
                    stats.present, stats.entries, listed, bench::residentKiB(), unheard, refused,
                    static_cast<unsigned long long>(stats.dropped));
        std::fflush(stdout);
    };
    report("AT");

    while (done < restarts) {
        mainQueue.runPending();
        const auto now = Clock::now();
        if (now >= nextRefresh) { // the window's refresh
            input.readings();
            nextRefresh = now + std::chrono::microseconds(33333);
        }
        for (int i = 0; i < parallel; ++i) {
            Run& run = runs[std::size_t(i)];
            Churner::Slot& slot = churner.slots[std::size_t(i)];
            switch (run.phase) {
            case Phase::idle:
                if (started >= restarts) break;
                ++started;
                run.port = jack_port_register(churner.client, ("out" + std::to_string(i)).c_str(),
                                              JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
                if (!run.port) {
                    ++refused;
                    ++done;
                    break;
                }
                slot.port.store(run.port, std::memory_order_release);
                run.phase = Phase::connecting;
                run.since = now;
                break;
            case Phase::connecting:
                if (jack_port_connected(run.port) > 0) {
                    run.sentAtConnection = slot.sent.load();
                    run.phase = Phase::sending;
                } else if (now - run.since > std::chrono::seconds(5)) {
                    ++unheard;
                    run.sentAtConnection = slot.sent.load() - ticks; // leave without sending more
                    run.phase = Phase::sending;
                }
                break;
            case Phase::sending:
                if (slot.sent.load() < run.sentAtConnection + ticks) break;
                slot.port.store(nullptr, std::memory_order_release);
                run.goneAfterCycle = churner.cycles.load(std::memory_order_acquire) + 2;
                run.phase = Phase::leaving;
                break;
            case Phase::leaving:
                if (churner.cycles.load(std::memory_order_acquire) < run.goneAfterCycle) break;
                jack_port_unregister(churner.client, run.port);
                run.phase = Phase::idle;
                if (++done % every == 0) report("AT");
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Let the last set-up changes settle, as a window left running would.
    test::pumpFor(mainQueue, std::chrono::seconds(2));
    input.readings();
    report("SUMMARY");
    return 0;
}
