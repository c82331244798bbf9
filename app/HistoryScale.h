// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <optional>

// The value axes of the history graph: round steps, and a floor on the span
// so that a steady clock looks steady rather than its last digits of noise
// being blown up to the full height.
struct HistoryScale {
    double low = 0;
    double high = 0;
    double step = 0;  // between grid lines, a round number
    int decimals = 0; // that the labels need to show the step

    // BPM. At least minBPMSpan around the middle of what is shown, and at
    // most four grid steps. Values outside (0, maxBPM] are not drawn.
    static constexpr double minBPMSpan = 1.0;
    static constexpr double maxBPM = 9999.0;
    static std::optional<HistoryScale> tempo(double lowest, double highest);

    // Milliseconds either side of 0: the largest deviation rounded up to a
    // round number, at least minJitterLimit, at most maxJitterLimit.
    static constexpr double minJitterLimit = 1.0;
    static constexpr double maxJitterLimit = 1000.0;
    static HistoryScale jitter(double largest);

    friend bool operator==(const HistoryScale&, const HistoryScale&) = default;
};
