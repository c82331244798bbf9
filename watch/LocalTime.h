// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>

namespace tactimo {

// A moment as the local wall clock shows it.
struct LocalTime {
    int year = 1970;
    int month = 1; // 1 to 12
    int day = 1;   // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0; // 0 to 60
    int millisecond = 0;
    int utcOffsetMinutes = 0; // east of UTC
};

// Milliseconds since the Unix epoch on the local wall clock (the TZ setting).
LocalTime localTime(std::int64_t epochMilliseconds);

// Seconds since the Unix epoch of a moment given in seconds of
// CLOCK_MONOTONIC, by the two clocks' difference now.
double wallSeconds(double monotonic);

} // namespace tactimo
