// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ClockReading.h"
#include "SourceKey.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tactimo {

// Everything the window shows about the clock of the followed source.
struct ClockStatus {
    enum class State : std::uint8_t { waiting, noClock, running, playing, stopped };

    // BPM; the shown tempo holds while the raw one stays this close to it.
    // Wider than half the 0.1 display step, so a tempo hovering at a rounding
    // boundary does not flicker between two readings.
    static constexpr double bpmBand = 0.07;
    // Tick times in the analyzer's window from which the tempo counts as
    // settled: one quarter note.
    static constexpr std::size_t settleTicks = 24;
    // MIDI clocks; the beat flash lights for the first pulseClocks of every
    // quarter note, a sixteenth note.
    static constexpr std::int64_t pulseClocks = 6;

    State state = State::waiting;
    bool receiving = false;
    std::optional<double> bpm;            // rounded to 0.1, held within bpmBand while receiving
    std::optional<double> exactBPM;       // rounded to 0.01
    bool settled = false;                 // the estimate rests on at least settleTicks ticks
    std::optional<double> jitter;         // milliseconds, rounded to 0.01; only while receiving
    std::optional<std::int64_t> position; // MIDI clocks since song start
    bool pulse = false;                   // the beat flash, only while receiving
    std::optional<std::string> sourceName;
    std::vector<std::string> otherSources; // ascending; all-inputs mode only

    friend bool operator==(const ClockStatus&, const ClockStatus&) = default;
};

// Derives the status of one refresh from one snapshot. selection is the chosen
// input's name, empty for all inputs; activeRef is the followed source, read
// and updated; previous is the status currently shown.
ClockStatus deriveStatus(const Readings& snapshot, std::string_view selection, std::optional<SourceKey>& activeRef,
                         const ClockStatus& previous);

} // namespace tactimo
