// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/SyncText.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <variant>

using namespace tactimo;
using Pairing = ClockComparison::Pairing;
using State = ReferenceClock::Reading::State;

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
LinkTimeline link(double bpm, double beatAt1000, std::size_t peers = 1) {
    return {.bpm = bpm, .peers = peers, .beatAtOrigin = beatAt1000, .originTime = 1000.0};
}
// Just after the later of the last ticks.
std::optional<ClockComparison> compare(const ClockAnalyzer& followed, const Stream& stream) {
    const ClockAnalyzer reference = stream.play();
    return compareClocks(followed, reference, std::max(*followed.lastTick, *reference.lastTick) + 1e-3);
}
std::optional<ClockComparison> compare(const ClockAnalyzer& followed, const LinkTimeline& timeline) {
    return compareClocks(followed, timeline, *followed.lastTick + 1e-3);
}

// 240 ticks at 120 BPM from 1000 s, then 8 ms.
const double now = 1000.0 + 239 / 48.0 + 0.008;

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

// What a reference's name stands for at one refresh, and its notice; only live clocks and a session with a tempo
// compare. "A" (key 1) is followed; its beats fall 5 ms after those of "B"; of two "B", the receiving one counts.
TEST(SyncText, ReferenceStatesAndTheirWords) {
    using enum ReferenceClock::Reading::State;
    const auto started = [](double atMs) { return Stream{.atMs = atMs, .transport = Stream::start}.play(); };
    const ClockReading a{"A", started(5), true}, b{"B", started(0), true}, silentB{"B", started(1), false},
        silentA{"A", started(-1000), false};
    const Readings ab{{1, a}, {2, b}};
    // the reference's name, the readings, Link; the state, offset and notice
    using Row =
        std::tuple<const char*, Readings, std::optional<LinkTimeline>, State, std::optional<double>, std::string>;
    const Row rows[] = {
        // clang-format off
        {"", ab, {}, none, {}, "Compare the followed clock with another input or the Link session."},
        {"B", ab, {}, comparing, 5, "The beats fall 5.00 ms after the reference's."},
        {"B", {{1, a}, {2, silentB}, {3, b}}, {}, comparing, 5, "The beats fall 5.00 ms after the reference's."},
        {"B", {{1, a}, {2, silentB}}, {}, waiting, {}, "Waiting for clock from \u201CB\u201D."},
        {"A", ab, {}, followedItself, {}, "\u201CA\u201D is the followed input: compare it with another one."},
        {"B", {{1, silentA}, {2, b}}, {}, followedSilent, {}, "Waiting for the followed clock."},
        {"link", {{1, a}}, {}, linkOff, {}, "Turn Link on to compare with the Link session."},
        {"link", {{1, a}}, link(120, 0.004, 0), noPeers, {}, "No Link peers."},
        {"link", {{1, a}}, link(NAN, 0.004, 2), waiting, {}, "Waiting for the Link session."},
        // The session's beat 0 falls 2 ms before 1000 s, the clock's 5 ms after.
        {"link", {{1, a}}, link(120, 0.004, 2), comparing, 7, "The beats fall 7.00 ms after the reference's."},
        // clang-format on
    };
    for (const auto& [name, readings, session, state, offsetMs, notice] : rows) {
        SCOPED_TRACE(name);
        const auto r = ReferenceClock(name).compare(readings, SourceKey{1}, session, now);
        EXPECT_EQ(r.state, state);
        EXPECT_EQ(r.comparison && r.comparison->offsetMs, offsetMs.has_value());
        EXPECT_NEAR(r.comparison ? r.comparison->offsetMs.value_or(0) : 0, offsetMs.value_or(0), 1e-6);
        EXPECT_EQ(SyncText::notice(r, name), notice);
    }
    // A comparison between other records starts the offset's history over.
    ReferenceClock b2("B");
    const auto restarted = [&](Readings r) { return b2.compare(r, SourceKey{1}, {}, now).restarted; };
    EXPECT_EQ((std::array{restarted(ab), restarted(ab), restarted({{1, a}, {3, b}})}), (std::array{true, false, true}));
}

// Signs say which clock is late; the offset's name says whether it is a delay.
TEST(SyncText, FiguresNoticeAndSession) {
    // clang-format off
    const ClockComparison early{.referenceBPM = 120, .bpmDifference = 0.0004, .ppm = 3.4, .driftMsPerMinute = -0.204,
                                .offsetMs = -7.8, .spreadMs = 0.3, .pairing = Pairing::position};
    // clang-format on
    ClockComparison phase = early, beat = early, apart = early;
    phase.offsetMs = -0.004, phase.pairing = Pairing::tickPhase;
    beat.offsetMs = -12.5, beat.spreadMs.reset(), beat.pairing = Pairing::beatPhase;
    apart.offsetMs.reset(), apart.bpmDifference = -1.2, apart.ppm = -9900, apart.driftMsPerMinute = 594;
    const char* const head = "reference 120.00 BPM, difference 0.00 BPM \u00b7 +3 ppm, ";
    const std::tuple<ClockComparison, std::string, const char*> rows[] = {
        {early, "offset \u22127.80 ms \u00b10.30 ms", "The beats fall 7.80 ms before the reference's."},
        {phase, "phase within a tick 0.00 ms \u00b10.30 ms",
         "Only the phase within a tick is known: the clocks did not start together."},
        {beat, "phase within a beat \u221212.50 ms",
         "Only the phase within a beat is known: the clock did not start on a bar of the session."},
    };
    for (const auto& [c, offset, notice] : rows) {
        EXPECT_EQ(SyncText::summary(c), head + offset + ", drift \u22120.20 ms per minute");
        EXPECT_EQ(SyncText::notice({State::comparing, c}, "B"), notice);
    }
    EXPECT_EQ(SyncText::summary(apart),
              "reference 120.00 BPM, difference \u22121.20 BPM \u00b7 \u22129900 ppm, drift +594.00 ms per minute");
    EXPECT_EQ(SyncText::notice({State::comparing, apart}, "B"),
              "Different tempos: the clocks drift apart, and have no offset.");
    // The lamp's beat in the bar, before the origin too.
    EXPECT_NEAR(link(120, 0.004).phaseAt(1000.0 + 2.5), 1.004, 1e-9); // beat 5.004, in the second bar
    EXPECT_NEAR(link(120, 0.004).phaseAt(1000.0 - 0.5), 3.004, 1e-9);
    EXPECT_TRUE(std::isnan(LinkTimeline{.bpm = NAN}.phaseAt(1)));
}
