// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/ClockComparison.h"
#include "core/ClockStatus.h"
#include "core/LinkTimeline.h"
#include "core/TimeSignature.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace tactimo {

// What the window shows, at a beat or at a change of state.
struct StatusLine {
    double time = 0; // seconds of CLOCK_MONOTONIC
    ClockStatus status;
    // Bar, beat and sixteenth under the signature; none where the window shows none.
    std::optional<TimeSignature::BarPosition> position;
    // With --compare: the reference's name as given and, while both clocks
    // are there, the comparison at the refresh that made the line.
    struct Compare {
        std::string name;
        std::optional<ClockComparison> comparison;
    };
    std::optional<Compare> compare = std::nullopt;
    std::optional<LinkTimeline> link = std::nullopt; // with --link: the session at that refresh
};

// One clock tick of the followed source.
struct TickLine {
    double time = 0;                // seconds of CLOCK_MONOTONIC, as stamped
    std::optional<double> interval; // seconds since the tick before; none when that one is unknown
};

// Ticks that left the analyzer's window before they could be read.
struct MissedTicks {
    std::int64_t count = 0;
};

// The ticks that follow come from this source.
struct FollowedSource {
    std::string name;
};

using WatchLine = std::variant<StatusLine, TickLine, MissedTicks, FollowedSource>;

} // namespace tactimo
