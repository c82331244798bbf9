// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/ClockComparison.h"

#include <gtest/gtest.h>

#include <cmath>
#include <variant>

using namespace tactimo;
using Pairing = ClockComparison::Pairing;

namespace {

// Ticks 0 to 239 from 1000 s + atMs, after `lead` ticks `gap` s early and a Start or a pointer and Continue.
struct Stream {
    double bpm = 120, atMs = 0;
    enum { none, start, pointer } transport = none;
    int sixteenths = 0, lead = 0;
    double gap = 0;

    double interval() const { return 60.0 / (24.0 * bpm); }
    ClockAnalyzer play() const {
        ClockAnalyzer a;
        const double zero = 1000.0 + atMs / 1000;
        for (int k = -lead; k < 0; ++k) a.tick(zero + k * interval() - gap);
        if (transport == start) a.apply(ClockEvent::start(), zero - 0.001);
        if (transport == pointer) a.apply(ClockEvent::songPosition(sixteenths), zero - 0.002);
        if (transport == pointer) a.apply(ClockEvent::continue_(), zero - 0.001);
        for (int k = 0; k < 240; ++k) a.tick(zero + k * interval());
        return a;
    }
};
LinkTimeline link(double bpm, double beatAt1000) {
    return {.bpm = bpm, .peers = 1, .beatAtOrigin = beatAt1000, .originTime = 1000.0};
}
// Just after the later of the last ticks.
std::optional<ClockComparison> compare(const ClockAnalyzer& followed, const Stream& stream) {
    const ClockAnalyzer reference = stream.play();
    return compareClocks(followed, reference, std::max(*followed.lastTick, *reference.lastTick) + 1e-3);
}
std::optional<ClockComparison> compare(const ClockAnalyzer& followed, const LinkTimeline& timeline) {
    return compareClocks(followed, timeline, *followed.lastTick + 1e-3);
}

} // namespace

// Pairing by song position (within half a bar), by count in runs begun within half a beat, else by tick phase.
TEST(ClockComparison, ReadsOffsetPairingSpreadAndDrift) {
    // At 160 BPM a tick is 1/64 s, and the arithmetic exact at the fold's edge.
    const Stream start{.transport = Stream::start}, fast{.bpm = 160}, unrelatedFast{.bpm = 160, .lead = 64};
    const auto at = [](Stream s, double ms) { return s.atMs = ms, s; };
    // 500 ppm slower: each tick 10.4 us later, 30.015 ms a minute.
    const double slower = 120 * (1 - 500e-6), slowerBy = (60 / (24 * slower) - 1.0 / 48) * 1000,
                 drift = (120 / slower - 1) * 60'000;
    const struct {
        const char* what;
        Stream followed;
        std::variant<Stream, LinkTimeline> reference;
        std::optional<double> offsetMs;
        Pairing pairing;
        double spreadMs = 0, driftMsPerMinute = 0;
    } cases[] = {
        // clang-format off
        {"12.5 ms, by Start", at(start, 12.5), start, 12.5, Pairing::position},
        {"a beat late by song position", {.atMs = 3, .transport = Stream::pointer, .sixteenths = 16},
         Stream{.transport = Stream::pointer, .sixteenths = 20}, 503, Pairing::position},
        {"runs begun together, one after a gap", at({}, 12.5), Stream{.lead = 30, .gap = 0.3}, 12.5, Pairing::position},
        {"-1/2 tick reads +1/2", at(fast, -7.8125), unrelatedFast, 7.8125, Pairing::tickPhase},
        {"0.51 tick reads -0.49", at(fast, 0.51 * 15.625), unrelatedFast, -0.49 * 15.625, Pairing::tickPhase},
        {"500 ppm slower, both started", {.bpm = slower, .transport = Stream::start}, start,
         239 * slowerBy, Pairing::position, std::sqrt((192.0 * 192 - 1) / 12) * slowerBy, drift},
        {"a tempo apart: no offset", {.bpm = 121}, Stream{}, {}, {}, 0, (120.0 / 121 - 1) * 60'000},
        {"a beat and 12.5 ms after Link's bar", start, link(120, 1.025), 12.5, Pairing::beatPhase},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto compared = std::visit([&](const auto& r) { return compare(c.followed.play(), r); }, c.reference);
        ASSERT_TRUE(compared);
        const double referenceBPM = std::visit([](const auto& r) { return r.bpm; }, c.reference);
        EXPECT_NEAR(compared->bpmDifference, c.followed.bpm - referenceBPM, 1e-9);
        EXPECT_NEAR(compared->ppm, (c.followed.bpm / referenceBPM - 1) * 1e6, 1e-6);
        EXPECT_NEAR(compared->driftMsPerMinute, c.driftMsPerMinute, 1e-6);
        EXPECT_NEAR(compared->offsetMs.value_or(-1e9), c.offsetMs.value_or(-1e9), 1e-6);
        EXPECT_NEAR(compared->spreadMs.value_or(-1e9), c.offsetMs ? c.spreadMs : -1e9, 1e-6);
        EXPECT_EQ(compared->offsetMs ? compared->pairing : Pairing{}, c.pairing);
    }
}

// Only two receiving clocks with a tempo, or a session with peers, compare.
TEST(ClockComparison, NeedsTwoLiveClocks) {
    const ClockAnalyzer playing = Stream{}.play();
    const double now = *playing.lastTick + 1e-3;
    EXPECT_FALSE(compareClocks(playing, Stream{}.play(), now + 0.3));                          // both silent for 0.3 s
    EXPECT_FALSE(compareClocks(playing, LinkTimeline{.bpm = 120, .originTime = 1000.0}, now)); // no peers
    EXPECT_FALSE(compareClocks(playing, link(std::nan(""), 0), now));
    const Readings readings{{1, {"A", playing, true}}, {2, {"B", Stream{.atMs = 3}.play(), true}}};
    EXPECT_NEAR(*compareClocks(readings, 2, 1, now)->offsetMs, 3, 1e-6);
    EXPECT_FALSE(compareClocks(readings, 1, 3, now)) << "no such source";
}
