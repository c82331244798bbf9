// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// How long a clock tick takes from its time stamp to being visible in
// ClockInput::readings(), through a real JACK server (started here, private,
// dummy driver at 48 kHz and 256 frames) and a real sender (jack_midi_clock).
// Prints the median and the 99th percentile.
//
//   tactimo_jack_latency [ticks=3000] [bpm=300]

#include "core/ClockInput.h"
#include "midi/JackMidiService.h"
#include "support/ChildProcess.h"
#include "support/MainQueue.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace tactimo;
using namespace std::chrono_literals;

int main(int argc, char** argv) {
    const int wanted = argc > 1 ? std::max(100, std::atoi(argv[1])) : 3000;
    const double bpm = argc > 2 ? std::atof(argv[2]) : 300.0;
    // A fixed name: JACK's registry of servers keeps only eight names.
    const std::string server = JACK_SERVER_NAME;
    setenv("JACK_NO_START_SERVER", "1", 1);
    if (test::run({JACK_SERVER_SCRIPT, "start", server}) != 0) {
        std::fprintf(stderr, "could not start a JACK server\n");
        return 1;
    }
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);

    std::vector<double> delays; // seconds
    std::optional<double> jitter, interval;
    {
        test::MainQueue queue;
        auto service = JackMidiService::tryCreate();
        if (!service) {
            std::fprintf(stderr, "could not connect to the JACK server\n");
            test::run({JACK_SERVER_SCRIPT, "stop", server});
            return 1;
        }
        ClockInput input(std::move(service), queue.post());
        char bpmText[32];
        std::snprintf(bpmText, sizeof bpmText, "%g", bpm);
        test::ChildProcess sender({"jack_midi_clock", "-b", bpmText, "-B"});
        test::ChildProcess transport({"jack_transport"});
        test::pumpUntil(queue, [&] { return input.sources().size() == 2; });
        test::pumpFor(queue, 300ms);
        transport.say("play");

        std::int64_t seen = -1;
        delays.reserve(std::size_t(wanted) + 200);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(int(wanted * 60.0 / (24 * bpm)) + 30);
        while (int(delays.size()) < wanted && std::chrono::steady_clock::now() < deadline) {
            queue.runPending();
            const Readings all = input.readings();
            const double now = double(hostClock::now()) * ClockInput::secondsPerHostTick;
            for (const auto& [key, r] : all) {
                if (key == input.virtualDestination()) continue;
                const ClockAnalyzer& a = r.analyzer;
                if (seen < 0) seen = a.tickCount; // ticks before we looked are not timed
                const std::int64_t fresh = std::min<std::int64_t>(a.tickCount - seen, std::int64_t(a.ticks.size()));
                for (std::int64_t i = a.ticks.size() - fresh; i < std::int64_t(a.ticks.size()); ++i)
                    delays.push_back(now - a.ticks[std::size_t(i)]);
                seen = a.tickCount;
            }
            std::this_thread::sleep_for(50us);
        }
        for (const auto& [key, r] : input.readings())
            if (key != input.virtualDestination()) {
                jitter = r.analyzer.jitter;
                interval = r.analyzer.interval;
            }
        transport.say("stop");
    }
    test::run({JACK_SERVER_SCRIPT, "stop", server});

    if (delays.size() < 100) {
        std::fprintf(stderr, "too few ticks arrived (%zu)\n", delays.size());
        return 1;
    }
    std::sort(delays.begin(), delays.end());
    const auto at = [&](double q) {
        return delays[std::min(delays.size() - 1, std::size_t(q * double(delays.size())))] * 1e3;
    };
    std::printf("ticks %zu at %.1f BPM through JACK (48 kHz, 256-frame cycles, 5.33 ms)\n", delays.size(), bpm);
    std::printf("time stamp to readings(): min %.3f ms, median %.3f ms, p99 %.3f ms, max %.3f ms\n", at(0.0), at(0.5),
                at(0.99), delays.back() * 1e3);
    if (jitter && interval)
        std::printf("the sender's clock as read: %.3f BPM, jitter %.3f ms\n", 60.0 / (24.0 * *interval), *jitter * 1e3);
    std::printf(
        "(negative: JACK stamps a tick at its frame inside the cycle, up to one cycle after the cycle's start)\n");
    return 0;
}
