// A MIDI clock that a JACK client of the test's own derives from a Link
// peer's beat grid, a known time after it, against Tactimo's view of the same
// session: the offset as the window and tactimo-watch read it. Inside
// private-network.sh, on a JACK server that the test command starts.
#include "core/HostClock.h"
#include "core/ReferenceClock.h"
#include "link/LinkSession.h"
#include "midi/SystemMidiService.h"
#include "support/JackTestSender.h"
#include "support/MainQueue.h"
#include "support/PrivateNetwork.h"

#include <ableton/Link.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>

namespace tactimo::test {
namespace {

#ifdef TACTIMO_TEST_TSAN
// ThreadSanitizer slows the clients past a server's clean cycles: there the
// path runs for its races, and the figures are not asked.
constexpr bool timingChecked = false;
#else
constexpr bool timingChecked = true;
#endif

double monotonic() {
    return static_cast<double>(hostClock::now()) * hostClock::secondsPerTick;
}

// Sends a Start and then a clock tick every `interval` from `first` (seconds,
// CLOCK_MONOTONIC), each at the frame whose time that is.
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
        // JACK's clock is CLOCK_MONOTONIC_RAW: map ours onto it for this
        // cycle, whose frames span its start to the next one's.
        const double before = monotonic(), raw = static_cast<double>(jack_get_time()) * 1e-6, after = monotonic();
        const double toRaw = raw - (before + after) / 2;
        jack_nframes_t start = 0;
        jack_time_t from = 0, to = 0;
        float period = 0;
        if (jack_get_cycle_times(client, &start, &from, &to, &period) != 0 || to <= from) return 0;
        const double perFrame = static_cast<double>(to - from) * 1e-6 / frames;
        for (std::int64_t next = sent;; next = ++sent) {
            const double at = first + static_cast<double>(next) * interval + toRaw;
            const auto in = static_cast<std::int64_t>(std::floor((at - static_cast<double>(from) * 1e-6) / perFrame + 0.5));
            if (in >= static_cast<std::int64_t>(frames)) break;
            // A frame or two early is the server's estimate of its clock
            // moving; a millisecond is a cycle run late; a quarter tick
            // bunches ticks that the analyzer may no longer count apart.
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
    std::atomic<std::int64_t> sent{0};      // the tick to send next
    std::atomic<std::int64_t> lastLate{-1}; // the last tick whose frame had passed by over 1 ms
    std::atomic<bool> bunched{false};       // a tick's frame had passed by over 5 ms
};

TEST(LinkJack, OffsetOfAClockDerivedFromAPeersGrid) {
    if (!onlyLoopback()) GTEST_SKIP() << "Link runs only inside private-network.sh";
    const auto began = std::chrono::steady_clock::now();
    MainQueue queue;
    ClockInput input(makeSystemMidiService(), queue.post());
    LinkSession session;
    ASSERT_TRUE(session.setOn(true));
    // Alone past Link's margin between sessions' ages: joining us, the peer would take our tempo.
    std::this_thread::sleep_for(600ms);
    ableton::BasicLink<ableton::platforms::linux::ClockMonotonic> peer(120);
    peer.enable(true);
    ASSERT_TRUE(pumpUntil(queue, [&] {
        const auto t = session.timeline();
        return t && t->peers == 1 && std::abs(t->bpm - 120) < 0.01;
    }));

    GridSender sender("tactimo-link-grid");
    ASSERT_TRUE(sender.client) << "run through ctest: it starts the server";
    const std::string name = jack_port_name(sender.port);
    std::optional<SourceKey> key;
    ASSERT_TRUE(pumpUntil(queue, [&] {
        for (const MIDISource& s : input.sources())
            if (s.name == name && jack_port_connected(sender.port) == 1) key = s.ref;
        return key.has_value();
    }));

    // The peer's bar starts at its time less its phase; the clock starts on
    // one a second ahead, 7.5 ms late. A busy machine runs the non-real-time
    // server late, which moves ticks: the offset is read once the analyzer's
    // window holds none of those, and a run with ticks bunched together
    // starts again on a later bar.
    constexpr double lateMs = 7.5, bar = 2.0; // s at 120 BPM
    ReferenceClock link("link");
    std::optional<ClockComparison> c;
    int runs = 0;
    for (const auto deadline = std::chrono::steady_clock::now() + 100s;
         !c && std::chrono::steady_clock::now() < deadline; ++runs) {
        sender.armed.store(false, std::memory_order_release);
        std::this_thread::sleep_for(50ms); // the process thread is past its last cycle armed
        sender.sent = 0;
        sender.lastLate = -1;
        sender.bunched = false;
        const auto now = peer.clock().micros();
        const double micros = static_cast<double>(now.count());
        const double phase = peer.captureAppSessionState().phaseAtTime(now, 4);
        const double barStart = micros * 1e-6 - phase * bar / 4;
        sender.first = barStart + bar * std::ceil((monotonic() + 1 - barStart) / bar) + lateMs / 1000;
        const auto ticks = [&] {
            const Readings readings = input.readings();
            return readings.contains(*key) ? readings.at(*key).analyzer.tickCount : 0;
        };
        const std::int64_t before = ticks();
        sender.armed.store(true, std::memory_order_release);
        const auto clean = [&] { return !timingChecked || sender.sent - sender.lastLate > 200; };
        const auto bunched = [&] { return timingChecked && sender.bunched; };
        if (!pumpUntil(queue, [&] { return (ticks() >= before + 48 * 5 && clean()) || bunched(); }, 30s) || bunched())
            continue;
        const auto r = link.compare(input.readings(), key, session.timeline(), monotonic());
        if (r.comparison && r.comparison->offsetMs) c = r.comparison;
        else std::printf("no offset: state %d\n", static_cast<int>(r.state));
    }
    ASSERT_TRUE(c) << runs << " runs";
    EXPECT_EQ(c->pairing, ClockComparison::Pairing::position);
    if (timingChecked) {
        EXPECT_NEAR(*c->offsetMs, lateMs, 0.5);
    }
    std::printf("offset %.3f ms (sent %.1f ms late), spread %.3f ms, %d runs, %.1f s\n", *c->offsetMs, lateMs,
                c->spreadMs.value_or(NAN), runs,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
}

} // namespace
} // namespace tactimo::test
