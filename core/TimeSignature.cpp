// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "TimeSignature.h"

#include <algorithm>

namespace tactimo {

namespace {

constexpr std::int64_t clocksPerWholeNote = 96;
constexpr std::int64_t clocksPerSixteenth = 6;

} // namespace

bool TimeSignature::isDenominator(std::int64_t n) {
    return std::find(denominators.begin(), denominators.end(), n) != denominators.end();
}

TimeSignature TimeSignature::fromStored(std::optional<std::int64_t> numerator,
                                        std::optional<std::int64_t> denominator) {
    return {numerator && isNumerator(*numerator) ? *numerator : fallback,
            denominator && isDenominator(*denominator) ? *denominator : fallback};
}

std::int64_t TimeSignature::clampedNumerator(std::int64_t typed) {
    return std::clamp(typed, minNumerator, maxNumerator);
}

std::optional<std::int64_t> TimeSignature::acceptedDenominator(std::int64_t typed) {
    return isDenominator(typed) ? std::optional(typed) : std::nullopt;
}

TimeSignature::BarPosition TimeSignature::position(std::int64_t of) const {
    const std::int64_t clocksPerBeat = clocksPerWholeNote / acceptedDenominator(denominator).value_or(fallback);
    const std::int64_t clocksPerBar = clampedNumerator(numerator) * clocksPerBeat;
    const std::int64_t p = std::max<std::int64_t>(of, 0);

    const std::int64_t inBar = p % clocksPerBar;
    const std::int64_t inBeat = inBar % clocksPerBeat;
    return {p / clocksPerBar + 1, inBar / clocksPerBeat + 1, inBeat / clocksPerSixteenth + 1};
}

} // namespace tactimo
