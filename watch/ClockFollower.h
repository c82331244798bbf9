// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "WatchLine.h"

#include "core/ClockReading.h"
#include "core/ClockStatus.h"
#include "core/LinkTimeline.h"
#include "core/ReferenceClock.h"
#include "core/TimeSignature.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tactimo {

// Follows the clock like the window's store does (the same choice of source,
// the same status, derived at every refresh) and turns what it sees into
// lines: a status line per beat and per change of state, or one line per tick.
class ClockFollower {
public:
    enum class Mode : std::uint8_t { beats, ticks };

    // selection: the input's name as given, empty for all inputs. compare:
    // the reference's name (ReferenceClock), empty for none.
    ClockFollower(std::string_view selection, TimeSignature signature, Mode mode, std::string_view compare = {});

    // One refresh from one snapshot; now in seconds of CLOCK_MONOTONIC. link:
    // the Link session while Link is on; status lines then carry it.
    std::vector<WatchLine> refresh(const Readings& snapshot, double now,
                                   const std::optional<LinkTimeline>& link = std::nullopt);

    const ClockStatus& status() const { return status_; }

private:
    // What was read of one source at the last refresh.
    struct Seen {
        std::int64_t tickCount = 0;
        std::optional<double> lastTick;
    };
    // What a status line was last printed for; another value prints a line.
    struct LineKey {
        ClockStatus::State state = ClockStatus::State::waiting;
        bool receiving = false;
        std::optional<SourceKey> source;
        bool byPosition = false;             // beats of the song position, else of the tick count
        std::optional<std::int64_t> beat;    // while receiving
        std::optional<std::int64_t> stillAt; // the song position while not receiving
        friend bool operator==(const LineKey&, const LineKey&) = default;
    };

    void beatLines(const ClockReading* followed, std::int64_t newTicks, double now, std::vector<WatchLine>& out);
    void tickLines(const ClockReading& followed, const Seen& seen, std::vector<WatchLine>& out);

    std::string selection_; // canonical, as the store keeps it
    TimeSignature signature_;
    std::int64_t clocksPerBeat_ = 24; // MIDI clocks per beat of the signature
    Mode mode_;
    ClockStatus status_;
    std::optional<SourceKey> activeRef_;
    std::unordered_map<SourceKey, Seen> seen_;
    std::optional<LineKey> printed_;
    std::optional<SourceKey> tickSource_; // whose ticks were printed last
    ReferenceClock reference_;
    std::optional<StatusLine::Compare> compare_; // at this refresh, with a reference
    std::optional<LinkTimeline> link_;           // at this refresh
};

} // namespace tactimo
