// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Tactimo's Link session against a peer of the test's own, and a JACK clock a known time after the peer's grid.
#include "link/LinkSession.h"
#include "core/HostClock.h"
#include "core/ReferenceClock.h"
#include "midi/SystemMidiService.h"
#include "support/JackTestSender.h"
#include "support/MainQueue.h"
#include "support/PrivateNetwork.h"

#include <ableton/Link.hpp>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace tactimo::test {
namespace {

#ifdef __SANITIZE_THREAD__
constexpr bool timingChecked = false; // too slow for clean cycles: run for its races only
#else
constexpr bool timingChecked = true;
#endif

double monotonic() {
    return static_cast<double>(hostClock::now()) * hostClock::secondsPerTick;
}
std::ptrdiff_t openSockets() {
    return std::ranges::count_if(std::filesystem::directory_iterator("/proc/self/fd"), [](const auto& fd) {
        return std::filesystem::read_symlink(fd.path()).string().starts_with("socket:");
    });
}

// A Start, then a tick every `interval` from `first` (s, CLOCK_MONOTONIC), each at its frame.
struct GridSender {
    explicit GridSender(const char* name) : client(jack_client_open(name, JackNoStartServer, nullptr)) {
        if (!client) return;
        port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(
            client, [](jack_nframes_t frames, void* self) { return static_cast<GridSender*>(self)->process(frames); },
            this);
        jack_activate(client);
    }
    ~GridSender() {
        if (client) jack_client_close(client);
    }
    int process(jack_nframes_t frames) {
        void* buffer = jack_port_get_buffer(port, frames);
        jack_midi_clear_buffer(buffer);
        if (!armed.load(std::memory_order_acquire)) return 0;
        // JACK's clock is CLOCK_MONOTONIC_RAW: map ours onto it for this cycle.
        const double before = monotonic(), raw = static_cast<double>(jack_get_time()) * 1e-6;
        const double toRaw = raw - (before + monotonic()) / 2;
        jack_nframes_t start = 0;
        jack_time_t from = 0, to = 0;
        float period = 0;
        if (jack_get_cycle_times(client, &start, &from, &to, &period) != 0 || to <= from) return 0;
        const double perFrame = static_cast<double>(to - from) * 1e-6 / frames;
        for (std::int64_t next = sent;; next = ++sent) {
            const double at = first + static_cast<double>(next) * interval + toRaw;
            const auto in =
                static_cast<std::int64_t>(std::floor((at - static_cast<double>(from) * 1e-6) / perFrame + 0.5));
            if (in >= static_cast<std::int64_t>(frames)) break;
            // A millisecond late is a cycle run late; 5 ms bunches ticks together.
            if (in < -48) lastLate = next;
            if (in < -240) bunched = true;
            const jack_midi_data_t startAndTick[] = {0xFA, 0xF8};
            for (const auto* b = startAndTick + (next == 0 ? 0 : 1); b != startAndTick + 2; ++b)
                writeUnseen(buffer, static_cast<jack_nframes_t>(std::max<std::int64_t>(in, 0)), b, 1);
        }
        return 0;
    }

    jack_client_t* client;
    jack_port_t* port = nullptr;
    std::atomic<double> first{0}; // set again while not armed
    const double interval = 1.0 / 48;
    std::atomic<bool> armed{false};
    std::atomic<std::int64_t> sent{0}, lastLate{-1}; // the next tick; the last sent over 1 ms late
    std::atomic<bool> bunched{false};
};

// Sockets only while on; the peer's tempo (to 0.01 BPM) and beat line, the offset of the clock, the tempo changed and
// the play state.
TEST(LinkSession, FollowsAPeerAndReadsAClockOnItsGrid) {
    if (!onlyLoopback()) GTEST_SKIP() << "Link runs only inside private-network.sh";
    MainQueue queue;
    ClockInput input(makeSystemMidiService(), queue.post());
    const auto sockets = openSockets();
    LinkSession session;
    ASSERT_TRUE(session.setOn(true));
    // Alone past Link's margin between sessions' ages: joining us, the peer would take our tempo.
    std::this_thread::sleep_for(600ms);
    EXPECT_GT(openSockets(), sockets);
    // Refreshed as the window does until it shows the tempo, one peer and the play state; every value finite.
    const auto shows = [&](double bpm, bool playing) {
        return pumpUntil(queue, [&] {
            const auto t = session.timeline();
            EXPECT_TRUE(t && std::isfinite(t->bpm) && std::isfinite(t->beatAtOrigin) && std::isfinite(t->originTime));
            return t && std::abs(t->bpm - bpm) < 0.01 && t->peers == 1 && t->playing == playing;
        });
    };
    auto peer = std::make_unique<ableton::BasicLink<ableton::platforms::linux::ClockMonotonic>>(120);
    peer->enable(true);
    ASSERT_TRUE(shows(120, false)) << "bpm " << session.timeline()->bpm;
    const auto now = peer->clock().micros();
    auto state = peer->captureAppSessionState();
    const double beat = session.timeline()->beatAt(double(now.count()) * 1e-6); // on the same host clock
    EXPECT_NEAR(std::remainder(beat - state.phaseAtTime(now, 4), 4), 0, 0.01) << beat;
    auto sender = std::make_unique<GridSender>("tactimo-link-grid"); // closed before the sockets are counted
    ASSERT_TRUE(sender->client) << "run through ctest: it starts the server";
    const std::string name = jack_port_name(sender->port);
    std::optional<SourceKey> key;
    ASSERT_TRUE(pumpUntil(queue, [&] {
        for (const MIDISource& s : input.sources())
            if (s.name == name && jack_port_connected(sender->port) == 1) key = s.ref;
        return key.has_value();
    }));
    // The clock starts on the peer's bar a second ahead, 7.5 ms late. A busy machine runs the server late: the
    // offset is read once the analyzer's window holds no late tick, and a run with bunched ticks starts over.
    constexpr double lateMs = 7.5, bar = 2.0; // s at 120 BPM
    ReferenceClock link("link");
    std::optional<ClockComparison> c;
    int runs = 0;
    for (const auto deadline = std::chrono::steady_clock::now() + 100s;
         !c && std::chrono::steady_clock::now() < deadline; ++runs) {
        sender->armed.store(false, std::memory_order_release);
        std::this_thread::sleep_for(50ms); // the process thread is past its last cycle armed
        sender->sent = 0, sender->lastLate = -1, sender->bunched = false;
        const auto now = peer->clock().micros();
        const double barStart =
            static_cast<double>(now.count()) * 1e-6 - peer->captureAppSessionState().phaseAtTime(now, 4) * bar / 4;
        sender->first = barStart + bar * std::ceil((monotonic() + 1 - barStart) / bar) + lateMs / 1000;
        const auto ticks = [&] {
            const Readings readings = input.readings();
            return readings.contains(*key) ? readings.at(*key).analyzer.tickCount : 0;
        };
        const std::int64_t before = ticks();
        sender->armed.store(true, std::memory_order_release);
        const auto clean = [&] { return !timingChecked || sender->sent - sender->lastLate > 200; };
        const auto bunched = [&] { return timingChecked && sender->bunched; };
        const auto done = [&] { return (ticks() >= before + 240 && clean()) || bunched(); };
        if (!pumpUntil(queue, done, 30s) || bunched()) continue;
        const auto r = link.compare(input.readings(), key, session.timeline(), monotonic());
        if (r.comparison && r.comparison->offsetMs) c = r.comparison;
    }
    ASSERT_TRUE(c) << runs << " runs";
    EXPECT_EQ(c->pairing, ClockComparison::Pairing::position);
    EXPECT_NEAR(*c->offsetMs, lateMs, timingChecked ? 0.5 : INFINITY);
    std::printf("offset %.3f ms (sent %.1f ms late), %d runs\n", *c->offsetMs, lateMs, runs);
    peer->enableStartStopSync(true); // for the play state only: with it on, offsets came a tick off now and then
    state = peer->captureAppSessionState();
    state.setTempo(140.25, peer->clock().micros()), state.setIsPlaying(true, peer->clock().micros());
    peer->commitAppSessionState(state);
    EXPECT_TRUE(shows(140.25, true));
    peer.reset(), sender.reset();
    EXPECT_FALSE(session.setOn(false));
    EXPECT_FALSE(session.timeline());
    EXPECT_EQ(openSockets(), sockets);
}

} // namespace
} // namespace tactimo::test
