// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace tactimo {

// The meter the user enters; maps a song position in MIDI clocks onto bars.
//
// Invariant of every signature the program keeps: numerator in
// minNumerator..maxNumerator and denominator one of `denominators`. The two
// ways in hold it: a stored value is accepted or falls back (fromStored), a
// typed one is clamped or refused (clampedNumerator, acceptedDenominator).
// position() relies on it and pulls anything else into range rather than
// divide by zero.
struct TimeSignature {
    struct BarPosition {
        std::int64_t bar;       // from 1
        std::int64_t beat;      // from 1 to numerator
        std::int64_t sixteenth; // from 1
        friend bool operator==(const BarPosition&, const BarPosition&) = default;
    };

    static constexpr std::int64_t minNumerator = 1;
    static constexpr std::int64_t maxNumerator = 99;
    // Note values of a beat; a whole note (1) is 96 clocks, a sixteenth (16) is 6.
    static constexpr std::array<std::int64_t, 5> denominators{1, 2, 4, 8, 16};
    static constexpr std::int64_t fallback = 4; // for either field, so 4/4

    std::int64_t numerator = fallback;
    std::int64_t denominator = fallback;

    static bool isNumerator(std::int64_t n) { return n >= minNumerator && n <= maxNumerator; }
    static bool isDenominator(std::int64_t n);

    // Remembered values, absent when they were no integer: each field that is
    // not accepted falls back on its own.
    static TimeSignature fromStored(std::optional<std::int64_t> numerator, std::optional<std::int64_t> denominator);

    // Typed values: a numerator is clamped into range, never refused; a
    // denominator is accepted as it is, or refused (none).
    static std::int64_t clampedNumerator(std::int64_t typed);
    static std::optional<std::int64_t> acceptedDenominator(std::int64_t typed);

    // position: MIDI clocks since song start, 24 per quarter note.
    BarPosition position(std::int64_t of) const;

    friend bool operator==(const TimeSignature&, const TimeSignature&) = default;
};

} // namespace tactimo
