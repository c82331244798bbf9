// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Two clocks compared through the system's service: on the private JACK server,
// and in a kernel's sequencer (scripts/vm-ctest.sh).

#include "core/ClockComparison.h"
#include "midi/SystemMidiService.h"
#include "support/AlsaTestSender.h"
#include "support/ChildProcess.h"
#include "support/JackTestSender.h"
#include "support/MainQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace tactimo::test {
namespace {

using Transport = ClockAnalyzer::Transport;

#if defined(__SANITIZE_THREAD__)
constexpr bool timingChecked = false; // slowed past clean timing: run for races, no figures asked
#else
constexpr bool timingChecked = true;
#endif

TEST(ClockComparisonJack, OffsetsOfKnownDelaysAndTheDriftOfTwoSenders) {
    MainQueue queue;
    ClockInput input(makeSystemMidiService(), queue.post());
    // Followers 0, 3.0 and 12.5 ms late at the server's 48 kHz.
    const JackTestSender d0("tactimo-test-d0", 0), d3("tactimo-test-d3", 144), d12("tactimo-test-d12", 600);
    ASSERT_TRUE(d0.ok() && d3.ok() && d12.ok()) << "run through ctest: it starts the server";
    ASSERT_EQ(jack_get_sample_rate(d0.client()), 48000u);
    ChildProcess transport({"jack_transport"});
    transport.say("stop");

    // Listed, and connected to us besides any others.
    const auto key = [&](const std::string& port, int others = 0) -> std::optional<SourceKey> {
        for (const MIDISource& s : input.sources())
            if (s.name == port && jack_port_connected(jack_port_by_name(d0.client(), port.c_str())) == others + 1)
                return s.ref;
        return std::nullopt;
    };
    // The second sender's client takes the name with "-01": start it once the first is there.
    ChildProcess sender({"jack_midi_clock", "-b", "120", "-B", d0.input(), d3.input(), d12.input()});
    ASSERT_TRUE(pumpUntil(queue, [&] { return key("jack_midi_clock:mclk_out", 3).has_value(); }));
    ChildProcess faster({"jack_midi_clock", "-b", "120.06", "-B"});
    std::optional<SourceKey> a, b, f0, f3, f12;
    ASSERT_TRUE(pumpUntil(queue, [&] {
        a = key("jack_midi_clock:mclk_out", 3), b = key("jack_midi_clock-01:mclk_out");
        f0 = key(d0.source()), f3 = key(d3.source()), f12 = key(d12.source());
        return a && b && f0 && f3 && f12;
    }));

    // Late cycles of a busy machine lose or move events, and a starved server's
    // frames run slow: play again until two seconds without either.
    Readings readings;
    const auto all = [&](auto condition) {
        readings = input.readings();
        return std::ranges::all_of(std::array{*a, *b, *f0, *f3, *f12}, [&](SourceKey k) {
            return readings.contains(k) && condition(readings.at(k).analyzer);
        });
    };
    const double drift = (120 / 120.06 - 1) * 60'000; // 500 ppm faster: ever earlier
    bool clean = false;
    for (const auto deadline = std::chrono::steady_clock::now() + 150s;
         !clean && std::chrono::steady_clock::now() < deadline;) {
        transport.say("stop");
        transport.say("locate 0");
        pumpUntil(queue, [&] { return all([](const ClockAnalyzer& z) { return z.transport != Transport::playing; }); });
        const std::int64_t xruns = d0.xruns();
        const auto [frame, time] = std::pair(jack_frame_time(d0.client()), hostClock::now());
        transport.say("play");
        const bool filled = pumpUntil(
            queue,
            [&] {
                return (timingChecked && d0.xruns() != xruns) || all([](const ClockAnalyzer& z) {
                           return z.transport == Transport::playing && z.position >= 120 &&
                                  z.ticks.size() >= (timingChecked ? 96u : ClockAnalyzer::minJitterTicks);
                       });
            },
            20s);
        const double rate = (jack_frame_time(d0.client()) - frame) / (double(hostClock::now() - time) * 1e-9);
        clean = filled && ((d0.xruns() == xruns && std::fabs(rate / 48000 - 1) < 1e-3) || !timingChecked);
        // A server cycle run late on a 2 s window can also bend one tempo by some 100 ppm: such a
        // window is played again too, so a drift that is wrong in every window still fails.
        const auto c = compareClocks(readings, *b, *a, static_cast<double>(hostClock::now()) * 1e-9);
        if (clean && timingChecked) clean = c && std::fabs(c->driftMsPerMinute / drift - 1) < 0.05;
    }
    ASSERT_TRUE(clean) << "no two seconds of clean cycles: the machine is too busy";
    const double now = static_cast<double>(hostClock::now()) * 1e-9;
    // 500 ppm faster from a common Start: ever earlier by as much as its ticks are shorter.
    const double ahead = double(*readings.at(*a).analyzer.position) * (60 / (24 * 120.06) - 60 / (24 * 120.0)) * 1000;
    const struct {
        const char* what;
        SourceKey followed, reference;
        double offsetMs;
        std::optional<double> driftMsPerMinute = {};
    } rows[] = {
        {"D = 0", *f0, *a, 0},
        {"D = 3.0 ms", *f3, *a, 3.0},
        {"D = 12.5 ms", *f12, *a, 12.5},
        {"the follower as reference", *a, *f3, -3.0},
        {"500 ppm faster", *b, *a, ahead, drift},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const auto c = compareClocks(readings, row.followed, row.reference, now);
        if (!timingChecked) continue;
        ASSERT_TRUE(c && c->offsetMs && c->spreadMs);
        EXPECT_NEAR(*c->offsetMs, row.offsetMs, 0.1);
        EXPECT_EQ(c->pairing, ClockComparison::Pairing::position);
        if (row.driftMsPerMinute) // its drift spreads the offsets over the window
            EXPECT_NEAR(c->driftMsPerMinute, *row.driftMsPerMinute, std::fabs(*row.driftMsPerMinute) * 0.05);
        else
            EXPECT_LT(*c->spreadMs, 0.05);
    }
    transport.say("stop");
}

TEST(ClockComparisonAlsa, TwelveAndAHalfMillisecondsBehindArePairedByPosition) {
    if (const auto why = AlsaBackend::unavailable()) GTEST_SKIP() << *why;
    MainQueue queue;
    ClockInput input(makeSystemMidiService(), queue.post());
    alsatest::TestSender lead("tactimo-test-lead"), late("tactimo-test-late");
    std::optional<SourceKey> leadKey, lateKey;
    // Listed, and subscribed to our input port, so that the Start comes in.
    ASSERT_TRUE(pumpUntil(queue, [&] {
        for (const MIDISource& s : input.sources()) {
            if (s.name == lead.source() && lead.listeners() == 1) leadKey = s.ref;
            if (s.name == late.source() && late.listeners() == 1) lateKey = s.ref;
        }
        return leadKey && lateKey;
    }));
    // Beyond half a tick at 120 BPM: only pairing by position reads it as it is.
    lead.send({0xFA});
    late.send({0xFA});
    const std::uint64_t at = alsatest::TestSender::monotonicNs() + 50'000'000;
    lead.clock(120, at);
    late.clock(120, at + 12'500'000);
    const std::size_t window = timingChecked ? ClockAnalyzer::windowCapacity : ClockAnalyzer::minJitterTicks;
    Readings r;
    ASSERT_TRUE(pumpUntil(
        queue,
        [&] {
            r = input.readings();
            return r.contains(*leadKey) && r.contains(*lateKey) && r.at(*leadKey).analyzer.ticks.size() >= window &&
                   r.at(*lateKey).analyzer.ticks.size() >= window;
        },
        90s));
    const auto c = compareClocks(r, *lateKey, *leadKey, static_cast<double>(hostClock::now()) * 1e-9);
    if (!timingChecked) return;
    ASSERT_TRUE(c && c->offsetMs);
    EXPECT_EQ(c->pairing, ClockComparison::Pairing::position);
    // Against when the newest ticks both have counted were handed to the
    // sequencer, which stamps them up to about 1 ms late under emulation.
    const std::int64_t newest = std::min({*r.at(*leadKey).analyzer.position, lead.sent() - 1, late.sent() - 1});
    double sent = 0;
    for (std::int64_t k = newest - 191; k <= newest; ++k) sent += (late.sentAt(k) - lead.sentAt(k)) / 192 * 1000;
    EXPECT_NEAR(*c->offsetMs, sent, 1.0);
}

} // namespace
} // namespace tactimo::test
