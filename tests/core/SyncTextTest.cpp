// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/ReferenceClock.h"
#include "core/SyncText.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

using namespace tactimo;
using State = ReferenceClock::Reading::State;
using Pairing = ClockComparison::Pairing;

namespace {

// 240 ticks at 120 BPM from 1000 s + atMs, after a Start.
ClockAnalyzer started(double atMs) {
    ClockAnalyzer a;
    const double zero = 1000.0 + atMs / 1000;
    a.apply(ClockEvent::start(), zero - 0.001);
    for (int k = 0; k < 240; ++k) a.tick(zero + k / 48.0);
    return a;
}
const double now = 1000.0 + 239 / 48.0 + 0.008;
LinkTimeline session(std::size_t peers) {
    return {.bpm = 120, .peers = peers, .beatAtOrigin = 0.004, .originTime = 1000.0};
}

} // namespace

// What a reference's name stands for at one refresh, and the notice for it.
// "A" (key 1) is followed; its beats fall 5 ms after those of "B".
TEST(SyncText, ReferenceStatesAndTheirWords) {
    const ClockReading a{"A", started(5), true}, b{"B", started(0), true}, silentB{"B", started(1), false},
        silentA{"A", {}, true};
    const struct {
        const char* name;
        Readings readings;
        std::optional<LinkTimeline> link;
        State state;
        std::optional<double> offsetMs;
        const char* notice;
    } rows[] = {
        {"", {{1, a}, {2, b}}, {}, State::none, {}, "Compare the followed clock with another input or the Link session."},
        {"B", {{1, a}, {2, b}}, {}, State::comparing, 5, "The beats fall 5.00 ms after the reference's."},
        {"B", {{1, a}, {2, silentB}, {3, b}}, {}, State::comparing, 5, nullptr}, // the receiving record of the name
        {"B", {{1, a}, {2, silentB}}, {}, State::waiting, {}, "Waiting for clock from \u201CB\u201D."},
        {"A", {{1, a}, {2, b}}, {}, State::followedItself, {}, "\u201C" "A\u201D is the followed input: compare it with another one."},
        {"B", {{1, silentA}, {2, b}}, {}, State::followedSilent, {}, "Waiting for the followed clock."},
        {"link", {{1, a}}, {}, State::linkOff, {}, "Turn Link on to compare with the Link session."},
        {"link", {{1, a}}, session(0), State::noPeers, {}, "No Link peers."},
        // The session's beat 0 falls 2 ms before 1000 s, the clock's 5 ms after.
        {"link", {{1, a}}, session(2), State::comparing, 7, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto r = ReferenceClock(row.name).compare(row.readings, SourceKey{1}, row.link, now);
        EXPECT_EQ(r.state, row.state);
        ASSERT_EQ(r.comparison && r.comparison->offsetMs, row.offsetMs.has_value());
        if (row.offsetMs) { EXPECT_NEAR(*r.comparison->offsetMs, *row.offsetMs, 1e-6); }
        if (row.notice) { EXPECT_EQ(SyncText::notice(r, row.name), row.notice); }
    }

    // A comparison between other records starts the offset's history over.
    ReferenceClock b2("B");
    const auto restarted = [&](Readings r) { return b2.compare(r, SourceKey{1}, {}, now).restarted; };
    EXPECT_EQ((std::array{restarted({{1, a}, {2, b}}), restarted({{1, a}, {2, b}}), restarted({{1, a}, {3, b}})}),
              (std::array{true, false, true}));
}

// Signs say which clock is late; the offset's name says whether it is a delay.
TEST(SyncText, FiguresNoticeAndSession) {
    const ClockComparison early{.referenceBPM = 120, .bpmDifference = 0.0004, .ppm = 3.4, .driftMsPerMinute = -0.204,
                                .offsetMs = -7.8, .spreadMs = 0.3, .pairing = Pairing::position};
    ClockComparison phase = early, beat = early, apart = early;
    phase.offsetMs = -0.004, phase.pairing = Pairing::tickPhase;
    beat.offsetMs = -12.5, beat.spreadMs.reset(), beat.pairing = Pairing::beatPhase;
    apart.offsetMs.reset(), apart.bpmDifference = -1.2, apart.ppm = -9900, apart.driftMsPerMinute = 594;
    const char* const head = "reference 120.00 BPM, difference 0.00 BPM \u00b7 +3 ppm, ";
    const std::tuple<ClockComparison, std::string, const char*> rows[] = {
        {early, "offset \u22127.80 ms \u00b10.30 ms", "The beats fall 7.80 ms before the reference's."},
        {phase, "phase within a tick 0.00 ms \u00b10.30 ms", nullptr},
        {beat, "phase within a beat \u221212.50 ms",
         "Only the phase within a beat is known: the clock did not start on a bar of the session."},
    };
    for (const auto& [c, offset, notice] : rows) {
        EXPECT_EQ(SyncText::summary(c), head + offset + ", drift \u22120.20 ms per minute");
        if (notice) { EXPECT_EQ(SyncText::notice({State::comparing, c}, "B"), notice); }
    }
    EXPECT_EQ(SyncText::summary(apart),
              "reference 120.00 BPM, difference \u22121.20 BPM \u00b7 \u22129900 ppm, drift +594.00 ms per minute");
    EXPECT_EQ(SyncText::notice({State::comparing, apart}, "B"), "Different tempos: the clocks drift apart, and have no offset.");
    EXPECT_EQ(SyncText::figures(early).at(2).label, "Offset");

    LinkTimeline odd = session(2);
    odd.bpm = 133.335;
    EXPECT_EQ(SyncText::link(std::nullopt) + "|" + SyncText::link(session(0)) + "|" + SyncText::link(session(1)) + "|" +
                  SyncText::link(odd),
              "|No Link peers|120.00 BPM \u00b7 1 peer|133.34 BPM \u00b7 2 peers");
    // The lamp's beat in the bar, before the origin too.
    EXPECT_NEAR(session(1).phaseAt(1000.0 + 2.5), 1.004, 1e-9); // beat 5.004, in the second bar
    EXPECT_NEAR(session(1).phaseAt(1000.0 - 0.5), 3.004, 1e-9);
    EXPECT_TRUE(std::isnan(LinkTimeline{.bpm = NAN}.phaseAt(1)));
}
