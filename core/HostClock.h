// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace tactimo::hostClock {

// The host clock is CLOCK_MONOTONIC, counted in nanoseconds. Every time stamp
// that reaches the intake is on it; the backends move their own clocks (JACK's
// microseconds, the sequencer queue's time) onto it with the functions below.
inline constexpr double secondsPerTick = 1e-9;

// Nanoseconds of CLOCK_MONOTONIC now.
std::uint64_t now();

// One reading of a foreign clock (ns) taken between two host readings (ns).
struct Bracket {
    std::uint64_t hostBefore = 0;
    std::uint64_t foreign = 0;
    std::uint64_t hostAfter = 0;
};

// Host minus foreign clock, in ns, from the narrowest bracket (the foreign
// reading is taken to lie in its middle); none when no bracket is usable
// (none given, or the host clock ran backwards in all of them).
std::optional<std::int64_t> offset(std::span<const Bracket> brackets);

// A foreign time (ns) moved onto the host clock. 0, which the intake reads as
// "at delivery", when the result would lie at or before the host clock's start.
std::uint64_t toHost(std::uint64_t foreign, std::int64_t offset);

} // namespace tactimo::hostClock
