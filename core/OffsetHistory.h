// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ClockComparison.h"

#include <cmath>
#include <cstddef>
#include <deque>
#include <optional>

namespace tactimo {

// The followed clock's offset against its reference over the last minute,
// one entry per refresh that read one, for the History's deviation lane.
// Kept by whoever refreshes (the window's store, tactimo-watch), on its own
// thread. A reader breaks the line where entries lie further apart than a
// few refreshes, or where the pairing changes.
class OffsetHistory {
public:
    static constexpr double span = 60; // seconds
    // A minute at 30 refreshes a second: a faster caller loses the oldest.
    static constexpr std::size_t capacity = 1800;

    struct Entry {
        double time;     // seconds, host clock
        double offsetMs; // as ClockComparison::offsetMs
        ClockComparison::Pairing pairing;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // Notes one refresh at `now` (seconds, host clock); a comparison without
    // an offset notes nothing. Entries older than the span go.
    void note(double now, const std::optional<ClockComparison>& comparison) {
        if (!std::isfinite(now)) return;
        if (comparison && comparison->offsetMs) {
            if (entries_.size() == capacity) entries_.pop_front();
            entries_.push_back({now, *comparison->offsetMs, comparison->pairing});
        }
        while (!entries_.empty() && now - entries_.front().time > span) entries_.pop_front();
    }
    // When the followed source or the reference changes.
    void clear() { entries_.clear(); }

    const std::deque<Entry>& entries() const { return entries_; } // oldest first

private:
    std::deque<Entry> entries_;
};

} // namespace tactimo
