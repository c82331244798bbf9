// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "HostClock.h"

#include <chrono>
#include <limits>

namespace tactimo::hostClock {

std::uint64_t now() {
    // steady_clock is CLOCK_MONOTONIC on Linux.
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count());
}

std::optional<std::int64_t> offset(std::span<const Bracket> brackets) {
    const Bracket* best = nullptr;
    for (const Bracket& b : brackets) {
        if (b.hostAfter < b.hostBefore) continue;
        if (!best || b.hostAfter - b.hostBefore < best->hostAfter - best->hostBefore) best = &b;
    }
    if (!best) return std::nullopt;
    const std::uint64_t middle = best->hostBefore + (best->hostAfter - best->hostBefore) / 2;
    return static_cast<std::int64_t>(middle) - static_cast<std::int64_t>(best->foreign);
}

std::uint64_t toHost(std::uint64_t foreign, std::int64_t offset) {
    // Foreign clocks here count from boot or from a queue's start: far below 2^63 ns.
    constexpr auto limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (foreign > limit) return 0;
    const std::int64_t f = static_cast<std::int64_t>(foreign);
    if (offset > 0 && f > std::numeric_limits<std::int64_t>::max() - offset) return 0;
    const std::int64_t host = f + offset;
    return host > 0 ? static_cast<std::uint64_t>(host) : 0;
}

} // namespace tactimo::hostClock
