// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockFollower.h"

#include "core/UnicodeText.h"

#include <algorithm>

namespace tactimo {

ClockFollower::ClockFollower(std::string_view selection, TimeSignature signature, Mode mode,
                             std::string_view compare)
    : selection_(canonicalText(selection)),
      signature_(signature),
      mode_(mode),
      reference_(compare) {
    // A whole note is 96 clocks; position() reads an unknown denominator as 4 too.
    const auto& known = TimeSignature::denominators;
    if (std::find(known.begin(), known.end(), signature.denominator) != known.end())
        clocksPerBeat_ = 96 / signature.denominator;
}

std::vector<WatchLine> ClockFollower::refresh(const Readings& snapshot, double now,
                                              const std::optional<LinkTimeline>& link) {
    // The store's refresh: one snapshot, one derivation from it and the status shown before.
    status_ = deriveStatus(snapshot, selection_, activeRef_, status_);

    const ClockReading* followed = nullptr;
    if (activeRef_ && status_.sourceName) {
        const auto it = snapshot.find(*activeRef_);
        if (it != snapshot.end()) followed = &it->second;
    }
    const Seen seen = followed ? seen_[*activeRef_] : Seen{};
    link_ = link;
    if (reference_.kind() != ReferenceClock::Kind::none)
        compare_ = StatusLine::Compare{reference_.name(),
                                       reference_.compare(snapshot, activeRef_, link, now).comparison};

    std::vector<WatchLine> lines;
    if (mode_ == Mode::beats) {
        const std::int64_t newTicks =
            followed ? std::max<std::int64_t>(followed->analyzer.tickCount - seen.tickCount, 0) : 0;
        beatLines(followed, newTicks, now, lines);
    } else if (followed) {
        tickLines(*followed, seen, lines);
    }

    for (const auto& [key, reading] : snapshot) seen_[key] = {reading.analyzer.tickCount, reading.analyzer.lastTick};
    return lines;
}

void ClockFollower::beatLines(const ClockReading* followed, std::int64_t newTicks, double now,
                              std::vector<WatchLine>& out) {
    const ClockStatus& s = status_;
    LineKey key{s.state, s.receiving, followed ? activeRef_ : std::nullopt, false, std::nullopt, std::nullopt};
    std::int64_t count = 0; // the song position or the tick count, in MIDI clocks
    std::int64_t unit = 24; // MIDI clocks per beat
    if (followed && s.receiving) {
        // A beat of the signature while the song position counts, else a
        // quarter note of the clock, like the window's lamp.
        key.byPosition = s.state == ClockStatus::State::playing && s.position;
        if (key.byPosition) {
            unit = clocksPerBeat_;
            count = *s.position;
        } else {
            count = followed->analyzer.tickCount;
        }
        key.beat = count / unit; // neither count is ever negative
    } else if (s.state != ClockStatus::State::running) {
        key.stillAt = s.position;
    }
    if (printed_ == key) return;

    const auto line = [&](double time, std::optional<std::int64_t> clocks) {
        StatusLine l{time, s, std::nullopt, compare_, link_};
        // A clock without transport has no bar count, even if an older position is known.
        if (clocks && s.state != ClockStatus::State::running) l.position = signature_.position(*clocks);
        out.push_back(std::move(l));
    };
    // The time of the tick that began beat b, if it arrived since the last
    // refresh: the window holds the newest ticks, one clock apart.
    static const decltype(ClockAnalyzer::ticks) noTicks;
    const auto& ticks = followed ? followed->analyzer.ticks : noTicks;
    const auto beganAt = [&](std::int64_t b) -> std::optional<double> {
        const std::int64_t k = count - b * unit; // ticks since that one
        if (k < 0 || k >= newTicks || k >= static_cast<std::int64_t>(ticks.size())) return std::nullopt;
        return ticks[ticks.size() - 1 - static_cast<std::size_t>(k)];
    };
    const auto shownClocks = [&](std::int64_t b) { return key.byPosition ? std::optional(b * unit) : s.position; };

    const bool sameRun = printed_ && printed_->state == key.state && printed_->receiving == key.receiving &&
                         printed_->source == key.source && printed_->byPosition == key.byPosition && printed_->beat &&
                         key.beat;
    if (key.beat && !(sameRun && printed_->beat == key.beat)) {
        // Beats passed since the last refresh, each at the tick that began it;
        // a jump of the song position has no such ticks and prints only where
        // it landed. Across a change of state only the current beat prints:
        // the ticks before the change belong to the state before it.
        if (sameRun && *printed_->beat < *key.beat)
            for (std::int64_t b = std::max(*printed_->beat + 1, *key.beat - newTicks / unit - 1); b < *key.beat; ++b)
                if (const auto at = beganAt(b)) line(*at, shownClocks(b));
        const auto at = beganAt(*key.beat);
        line(at.value_or(now), at ? shownClocks(*key.beat) : s.position);
    } else {
        line(now, s.position);
    }
    printed_ = key;
}

void ClockFollower::tickLines(const ClockReading& followed, const Seen& seen, std::vector<WatchLine>& out) {
    if (tickSource_ != activeRef_) {
        out.emplace_back(FollowedSource{followed.name});
        tickSource_ = activeRef_;
    }
    const ClockAnalyzer& a = followed.analyzer;
    const std::int64_t fresh = std::max<std::int64_t>(a.tickCount - seen.tickCount, 0);
    const auto size = static_cast<std::int64_t>(a.ticks.size());
    const std::int64_t readable = std::min(fresh, size);
    if (fresh > readable) out.emplace_back(MissedTicks{fresh - readable});
    // The window is the newest ticks in a row, so the tick before each is the
    // entry before it, or for the first entry the last one read before.
    const std::optional<double> beforeWindow = fresh == readable ? seen.lastTick : std::nullopt;
    for (std::int64_t i = size - readable; i < size; ++i) {
        const double time = a.ticks[static_cast<std::size_t>(i)];
        const std::optional<double> before =
            i > 0 ? std::optional(a.ticks[static_cast<std::size_t>(i - 1)]) : beforeWindow;
        out.emplace_back(TickLine{time, before ? std::optional(time - *before) : std::nullopt});
    }
}

} // namespace tactimo
