// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "LocalTime.h"

#include <ctime>

namespace tactimo {

LocalTime localTime(std::int64_t epochMilliseconds) {
    const std::int64_t ms = epochMilliseconds >= 0 ? epochMilliseconds : 0;
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    if (!localtime_r(&seconds, &tm)) return {};
    return {tm.tm_year + 1900,
            tm.tm_mon + 1,
            tm.tm_mday,
            tm.tm_hour,
            tm.tm_min,
            tm.tm_sec,
            static_cast<int>(ms % 1000),
            static_cast<int>(tm.tm_gmtoff / 60)};
}

double wallSeconds(double monotonic) {
    timespec real{}, mono{};
    clock_gettime(CLOCK_REALTIME, &real);
    clock_gettime(CLOCK_MONOTONIC, &mono);
    const auto seconds = [](const timespec& ts) { return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9; };
    return seconds(real) - (seconds(mono) - monotonic);
}

} // namespace tactimo
