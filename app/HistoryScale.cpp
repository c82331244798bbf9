// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "HistoryScale.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int maxSteps = 4;

// 1, 2 and 5 times a power of ten, from 0.01 on.
double roundStep(int index) {
    constexpr std::array<double, 3> mantissas{1, 2, 5};
    return mantissas[static_cast<std::size_t>(index % 3)] * std::pow(10.0, index / 3 - 2);
}

int decimalsOf(double step) {
    for (int d = 0; d < 2; ++d)
        if (std::fabs(step * std::pow(10.0, d) - std::round(step * std::pow(10.0, d))) < 1e-9) return d;
    return 2;
}

} // namespace

std::optional<HistoryScale> HistoryScale::tempo(double lowest, double highest) {
    if (!(lowest <= highest) || !std::isfinite(lowest) || !std::isfinite(highest)) return std::nullopt;
    lowest = std::clamp(lowest, 0.0, maxBPM);
    highest = std::clamp(highest, 0.0, maxBPM);
    const double middle = (lowest + highest) / 2;
    const double half = std::max((highest - lowest) / 2, minBPMSpan / 2);
    for (int i = 0;; ++i) {
        const double step = roundStep(i);
        const double low = std::floor((middle - half) / step + 1e-9) * step;
        const double high = std::ceil((middle + half) / step - 1e-9) * step;
        if ((high - low) / step <= maxSteps + 1e-9) return HistoryScale{low, high, step, decimalsOf(step)};
    }
}

HistoryScale HistoryScale::jitter(double largest) {
    const double wanted = std::isfinite(largest) ? std::clamp(largest, minJitterLimit, maxJitterLimit) : minJitterLimit;
    int i = 0;
    while (roundStep(i) < wanted - 1e-9) ++i;
    const double limit = roundStep(i);
    return HistoryScale{-limit, limit, limit, decimalsOf(limit)};
}
