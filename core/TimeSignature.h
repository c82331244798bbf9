#pragma once

#include <array>
#include <cstdint>

namespace tactimo {

// The meter the user enters; maps a song position in MIDI clocks onto bars.
struct TimeSignature {
    struct BarPosition {
        std::int64_t bar;       // from 1
        std::int64_t beat;      // from 1 to numerator
        std::int64_t sixteenth; // from 1
        friend bool operator==(const BarPosition&, const BarPosition&) = default;
    };

    static constexpr std::array<std::int64_t, 5> denominators{1, 2, 4, 8, 16};

    std::int64_t numerator = 4;
    std::int64_t denominator = 4;

    // position: MIDI clocks since song start, 24 per quarter note.
    BarPosition position(std::int64_t of) const;

    friend bool operator==(const TimeSignature&, const TimeSignature&) = default;
};

} // namespace tactimo
