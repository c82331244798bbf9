#pragma once

#include "ClockReading.h"
#include "SourceKey.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tactimo {

// Everything the window shows about the clock of the followed source.
struct ClockStatus {
    enum class State : std::uint8_t { waiting, noClock, running, playing, stopped };

    State state = State::waiting;
    bool receiving = false;
    std::optional<double> bpm;            // rounded to 0.1, held within 0.07 while receiving
    std::optional<double> exactBPM;       // rounded to 0.01
    bool settled = false;                 // the estimate rests on at least 24 ticks
    std::optional<double> jitter;         // milliseconds, rounded to 0.01; only while receiving
    std::optional<std::int64_t> position; // MIDI clocks since song start
    bool pulse = false;                   // the first 6 of every 24 clocks while receiving
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
