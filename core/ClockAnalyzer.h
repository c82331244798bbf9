// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ClockEvent.h"
#include "FixedList.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tactimo {

// The clock state of one source: transport, song position, and tempo and
// jitter estimated from the times of the latest ticks. A plain value; every
// time it uses is given by the caller, in seconds of the host's monotonic clock.
struct ClockAnalyzer {
    enum class Transport : std::uint8_t { unknown, playing, stopped };

    struct Fit {
        double slope; // seconds per tick
        double rms;   // seconds
    };

    struct ChangeRule {
        int recent;       // newest ticks that form the newer part
        double threshold; // relative slope difference that counts as a change
        int keep;         // ticks kept when a change is confirmed
    };

    // MIDI clocks: 24 per quarter note, and a song position pointer counts sixteenths of 6.
    static constexpr std::int64_t clocksPerQuarterNote = 24;
    static constexpr std::int64_t clocksPerSongPositionUnit = 6;

    static constexpr std::size_t windowCapacity = 192; // 8 quarter notes
    static constexpr std::size_t recentCapacity = 7;
    static constexpr std::array<ChangeRule, 2> changeRules{{{12, 0.04, 7}, {48, 0.004, 24}}};
    // Fewer ticks give a line whose slope one late tick can swing by percent.
    static constexpr std::size_t minFitTicks = 7;
    // Below this the residuals mostly show the fit's own freedom, not the clock's.
    static constexpr std::size_t minJitterTicks = 12;
    // A change must hold this many ticks in a row, so one stray tick never cuts the window.
    static constexpr std::int64_t changeConfirmTicks = 6;
    // A gap longer than this many intervals is a pause, not a slower tick.
    static constexpr double gapIntervals = 2.5;
    // Seconds; the gap that restarts the window while there is no interval yet (5 BPM).
    static constexpr double gapWithoutInterval = 0.5;

    std::optional<double> interval; // seconds per clock tick
    std::optional<double> jitter;   // seconds; only with interval and minJitterTicks+ ticks
    Transport transport = Transport::unknown;
    std::optional<std::int64_t> position; // MIDI clocks since song start
    std::optional<double> lastTick;
    std::int64_t tickCount = 0;              // never reset
    FixedList<double, windowCapacity> ticks; // oldest first; last entry == lastTick
    std::optional<std::int64_t> nextPosition;
    std::int64_t changeTicks = 0;                // consecutive ticks that saw a tempo change, below changeConfirmTicks
    FixedList<double, recentCapacity> recentBPM; // oldest first
    // The current run began with the first tick after a gap (or the first of
    // all): its time and its tickCount. Two clocks without song positions
    // that began within half a beat of each other pair their ticks by the
    // count since then. Written only when a run begins.
    std::optional<double> runStart;
    std::int64_t runStartTick = 0;

    void apply(const ClockEvent& event, double at);
    void tick(double at);
    void updateTempo();

    // Least-squares line through times against their index; none for fewer than 2.
    static std::optional<Fit> fit(std::span<const double> times);
    // The fitted line passes through the mean point of (index, time), times
    // taken from the first for precision. Needs at least one time.
    struct MeanPoint {
        double t0, meanY, meanK;
        static MeanPoint of(std::span<const double> times);
        // Time k off the line of that slope through this point, in seconds.
        double residual(std::span<const double> times, std::size_t k, double slope) const {
            return (times[k] - t0) - (meanY + slope * (static_cast<double>(k) - meanK));
        }
    };

    // What every analyzer keeps that starts as a default one and is fed the
    // events of a ClockParser at any times (NaN and infinities included): the
    // first rule broken, or none. The fuzz target and the tests check it.
    std::optional<std::string_view> brokenInvariant() const;

    friend bool operator==(const ClockAnalyzer&, const ClockAnalyzer&) = default;

private:
    const ChangeRule* matchingChangeRule() const;
};

} // namespace tactimo
