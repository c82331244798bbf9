// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Follows the clock of a real JACK server through Tactimo's own intake
// (ClockInput on the JACK backend, status derived every 1/30 s) and prints the
// tempo once a second, then the RMS errors against the true tempo. Beside it,
// the reference loop is fed the very same packet time stamps, so that its
// figures can be set against those of a real follower on the same sender.
//
//   tactimo_jack_follow --bpm 123.4 [--seconds 60] [--warmup 10]
//
// Exit status 2 when no JACK server answers.

#include "bench/PassThroughMidiService.h"
#include "bench/accuracy/ReferenceLoop.h"
#include "core/ClockInput.h"
#include "core/ClockStatus.h"
#include "midi/JackMidiService.h"
#include "support/MainQueue.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace tactimo;

namespace {

// Passes everything through to the real service and feeds the time stamp of
// every clock tick to the reference loop as well.
class TapMidiService : public PassThroughMidiService {
public:
    explicit TapMidiService(std::unique_ptr<MidiService> inner) : PassThroughMidiService(std::move(inner)) {}
    ~TapMidiService() override { close(); }

    std::optional<double> loopBPM() const {
        std::lock_guard guard(lock_);
        return loop_.bpm();
    }
    long ticks() const {
        std::lock_guard guard(lock_);
        return ticks_;
    }

private:
    void observe(MidiPacketList list, SourceKey) override {
        const std::uint64_t arrival = hostClock::now();
        std::lock_guard guard(lock_);
        for (const MidiPacket& packet : list) {
            const double t = static_cast<double>(packet.timeStamp ? packet.timeStamp : arrival) * 1e-9;
            for (const std::uint8_t byte : packet.bytes) {
                if (byte == 0xF8) {
                    loop_.clock(t);
                    ++ticks_;
                } else if (byte == 0xFA || byte == 0xFB) {
                    loop_.restart();
                }
            }
        }
    }

    mutable std::mutex lock_;
    ReferenceLoop loop_{ReferenceLoop::Bandwidth::perTempo};
    long ticks_ = 0;
};

struct Stats {
    double sum = 0, sum2 = 0;
    long n = 0;
    void add(double e) {
        sum += e;
        sum2 += e * e;
        ++n;
    }
    double rms() const { return n ? std::sqrt(sum2 / static_cast<double>(n)) : NAN; }
    double mean() const { return n ? sum / static_cast<double>(n) : NAN; }
};

} // namespace

int main(int argc, char** argv) {
    double truth = NAN, seconds = 60, warmup = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--bpm"))
            truth = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--warmup"))
            warmup = std::atof(argv[i + 1]);
    }
    if (std::isnan(truth)) {
        std::fprintf(stderr, "usage: %s --bpm TRUE_BPM [--seconds N] [--warmup N]\n", argv[0]);
        return 1;
    }

    auto jack = JackMidiService::tryCreate("TactimoFollow");
    if (!jack) {
        std::fprintf(stderr, "no JACK server\n");
        return 2;
    }
    auto tapOwned = std::make_unique<TapMidiService>(std::move(jack));
    TapMidiService* tap = tapOwned.get();

    test::MainQueue mainQueue;
    ClockInput input(std::move(tapOwned), mainQueue.post());

    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    std::optional<Clock::time_point> firstTick;
    auto next = begin;
    ClockStatus status;
    std::optional<SourceKey> active;
    Stats exact, shown, raw, loop;
    long refreshes = 0, late = 0;
    double lastPrint = -1;

    for (;;) {
        next += std::chrono::microseconds(33333);
        std::this_thread::sleep_until(next);
        if (Clock::now() - next > std::chrono::milliseconds(20)) ++late;
        mainQueue.runPending();

        const Readings snapshot = input.readings();
        status = deriveStatus(snapshot, "", active, status);
        ++refreshes;
        std::optional<double> rawBPM;
        if (active)
            if (const auto it = snapshot.find(*active); it != snapshot.end() && it->second.analyzer.interval)
                rawBPM = 60.0 / (24.0 * *it->second.analyzer.interval);

        if (!firstTick && status.receiving) firstTick = Clock::now();
        if (!firstTick) {
            if (Clock::now() - begin > std::chrono::seconds(20)) {
                std::fprintf(stderr, "no clock arrived\n");
                return 3;
            }
            continue;
        }
        const double t = std::chrono::duration<double>(Clock::now() - *firstTick).count();
        const auto loopBPM = tap->loopBPM();
        if (t >= warmup) {
            if (status.exactBPM) exact.add(*status.exactBPM - truth);
            if (status.bpm) shown.add(*status.bpm - truth);
            if (rawBPM) raw.add(*rawBPM - truth);
            if (loopBPM) loop.add(*loopBPM - truth);
        }
        if (t - lastPrint >= 1.0) {
            lastPrint = t;
            std::printf("t %6.1f s  bpm %6.1f  exactBPM %7.2f  jitter %5.2f ms  loop %8.3f  ticks %ld\n", t,
                        status.bpm.value_or(NAN), status.exactBPM.value_or(NAN), status.jitter.value_or(NAN),
                        loopBPM.value_or(NAN), tap->ticks());
            std::fflush(stdout);
        }
        if (t >= warmup + seconds) break;
    }

    std::printf("SUMMARY exact_rms %.4f exact_mean %.4f bpm_rms %.4f raw_rms %.4f raw_mean %.4f loop_rms %.4f "
                "loop_mean %.4f samples %ld late_refreshes %ld of %ld\n",
                exact.rms(), exact.mean(), shown.rms(), raw.rms(), raw.mean(), loop.rms(), loop.mean(), exact.n, late,
                refreshes);
    return 0;
}
