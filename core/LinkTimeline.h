// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cmath>
#include <cstddef>

namespace tactimo {

// A Link session as one moment shows it, on our host clock: its tempo, how
// many peers it has, and its beat timeline, which is straight between tempo
// changes. Everything in it came from the network and may be anything.
struct LinkTimeline {
    static constexpr double quantum = 4; // beats per bar, for phase and the lamp

    double bpm = 0;
    std::size_t peers = 0;
    double beatAtOrigin = 0; // the session's beat (quantum 4) at originTime
    double originTime = 0;   // seconds, host clock (CLOCK_MONOTONIC)
    bool playing = false;

    // The session's beat at host time t (seconds).
    double beatAt(double t) const { return beatAtOrigin + (t - originTime) * bpm / 60.0; }
    // Where in its bar the session is at t: in [0, quantum), the beat lamp's
    // phase; NaN where the numbers give none.
    double phaseAt(double t) const {
        const double phase = std::fmod(beatAt(t), quantum);
        return phase < 0 ? (phase + quantum < quantum ? phase + quantum : 0.0) : phase;
    }
};

} // namespace tactimo
