// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ClockAnalyzer.h"
#include "ClockReading.h"
#include "LinkTimeline.h"
#include "SourceKey.h"

#include <cstdint>
#include <optional>

namespace tactimo {

// The followed clock against a reference at one refresh: the reference's
// tempo, how far apart the tempos are, how far the followed clock's beats
// fall after the reference's and how steadily, and how fast that changes.
// Computed from the analyzers' windows: the offset and the drift from the
// line through the differences of the paired ticks, so no state of its own.
// Call it at every refresh.
struct ClockComparison {
    // How the followed clock's ticks were matched with the reference's.
    enum class Pairing : std::uint8_t {
        // By song position, by the count since both began (within half a beat
        // of each other), or against Link by the beat in its bar: the offset
        // is read as it is, up to half a bar.
        position,
        // Only the phase between the two tick grids is known: the offset is
        // folded into (-1/2, +1/2] tick and is no delay.
        tickPhase,
        // Against Link, a clock whose beats do not fall on the session's beats
        // of the same number in the bar: the phase within a beat, folded
        // into (-1/2, +1/2] beat.
        beatPhase,
    };

    // Relative tempo difference up to which two clocks count as playing the
    // same tempo and get an offset; beyond it only the drift. Within it the
    // two grids slide apart by at most 0.2 tick across a full window (192
    // ticks), so one pairing holds for every tick in it, and the offset moves
    // at most 60 ms a minute. A slaved clock is 0 apart on average and a free
    // running crystal within 100 ppm; tempos set apart by hand differ more
    // (0.2 BPM at 120 is 1700 ppm).
    static constexpr double sameTempo = 1e-3;
    // Song positions or counts that put the offset beyond half a bar (4/4)
    // belong to unrelated songs or runs: then only the phase is read.
    static constexpr double pairedBeats = 2;

    double referenceBPM = 0;
    double bpmDifference = 0; // followed minus reference
    double ppm = 0;           // the followed tempo against the reference's, in parts per million
    // Positive: the followed clock's beats fall later and later. With an
    // offset, how fast it moves; else from the tempo ratio.
    double driftMsPerMinute = 0;
    // Only at the same tempo. Milliseconds; positive: the followed clock's
    // beats fall after the reference's.
    std::optional<double> offsetMs;
    // Milliseconds; the RMS of the tick-by-tick offsets around their mean,
    // with at least ClockAnalyzer::minJitterTicks ticks paired.
    std::optional<double> spreadMs;
    Pairing pairing = Pairing::tickPhase; // how offsetMs was read; only with one

    friend bool operator==(const ClockComparison&, const ClockComparison&) = default;
};

// Both clocks' windows compared; none unless both are receiving at `now`
// (seconds, host clock) with a tempo.
std::optional<ClockComparison> compareClocks(const ClockAnalyzer& followed, const ClockAnalyzer& reference, double now);

// A MIDI clock's beats (every 24 ticks from its song position, or from the
// start of its run) against a Link session's beat grid; none unless the clock
// is receiving with a tempo and the session has peers and a tempo.
std::optional<ClockComparison> compareClocks(const ClockAnalyzer& followed, const LinkTimeline& reference, double now);

// The same for two sources of one snapshot; none when either is not in it, or
// both are one.
std::optional<ClockComparison> compareClocks(const Readings& readings, SourceKey followed, SourceKey reference,
                                             double now);

} // namespace tactimo
