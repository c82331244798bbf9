// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockStatus.h"

#include <algorithm>
#include <cmath>

namespace tactimo {

namespace {

using Candidate = std::pair<SourceKey, const ClockReading*>;

// Rounds to a multiple of 1/scale, halves away from zero.
double roundTo(double value, double scale) {
    return std::round(value * scale) / scale;
}

// The candidate with the latest tick; on equal times the first visited wins.
const Candidate* latest(const std::vector<Candidate>& candidates, bool receivingOnly) {
    const Candidate* best = nullptr;
    double bestTime = 0;
    for (const Candidate& c : candidates) {
        if (receivingOnly && !c.second->receiving) continue;
        const double time = c.second->analyzer.lastTick.value_or(0.0);
        if (!best || time > bestTime) {
            best = &c;
            bestTime = time;
        }
    }
    return best;
}

// Beats per minute from seconds per clock tick; none when it is no usable number.
std::optional<double> tempo(double interval) {
    const double bpm = 60.0 / (interval * static_cast<double>(ClockAnalyzer::clocksPerQuarterNote));
    return std::isfinite(bpm) ? std::optional<double>(bpm) : std::nullopt;
}

} // namespace

ClockStatus deriveStatus(const Readings& snapshot, std::string_view selection, std::optional<SourceKey>& activeRef,
                         const ClockStatus& previous) {
    // A record that is gone can never be followed again (a newer record of
    // the same name may have replaced it): choose afresh.
    if (activeRef && !snapshot.contains(*activeRef)) activeRef.reset();

    std::vector<Candidate> candidates;
    candidates.reserve(snapshot.size());
    for (const auto& [key, reading] : snapshot)
        if (selection.empty() || reading.name == selection) candidates.emplace_back(key, &reading);

    const auto find = [&](SourceKey key) -> const ClockReading* {
        for (const Candidate& c : candidates)
            if (c.first == key) return c.second;
        return nullptr;
    };

    // The followed source stays while it is receiving; otherwise the candidate
    // with the newest tick takes over, if any is receiving.
    const ClockReading* followed = activeRef ? find(*activeRef) : nullptr;
    if (!followed || !followed->receiving) {
        if (const Candidate* c = latest(candidates, true)) {
            activeRef = c->first;
        } else if (!activeRef) {
            if (const Candidate* any = latest(candidates, false)) activeRef = any->first;
        }
        followed = activeRef ? find(*activeRef) : nullptr;
    }

    ClockStatus status;
    status.bpm = previous.bpm;
    status.exactBPM = previous.exactBPM;
    status.settled = previous.settled;
    if (!followed) return status; // waiting, tempo held

    const ClockAnalyzer& a = followed->analyzer;
    status.sourceName = followed->name;
    status.position = a.position;
    if (selection.empty()) {
        for (const auto& [key, reading] : snapshot)
            if (key != *activeRef && reading.receiving) status.otherSources.push_back(reading.name);
        std::sort(status.otherSources.begin(), status.otherSources.end());
    }

    if (followed->receiving) {
        status.receiving = true;
        switch (a.transport) {
        case ClockAnalyzer::Transport::unknown: status.state = ClockStatus::State::running; break;
        case ClockAnalyzer::Transport::playing: status.state = ClockStatus::State::playing; break;
        case ClockAnalyzer::Transport::stopped: status.state = ClockStatus::State::stopped; break;
        }
        const bool aligned = a.transport == ClockAnalyzer::Transport::playing && a.position;
        const std::int64_t count = aligned ? *a.position : a.tickCount;
        // A position never goes below 0, so neither does the remainder.
        status.pulse = count % ClockAnalyzer::clocksPerQuarterNote < ClockStatus::pulseClocks;

        if (const auto v = a.interval ? tempo(*a.interval) : std::nullopt) {
            status.exactBPM = roundTo(*v, 100);
            status.settled = a.ticks.size() >= ClockStatus::settleTicks;
            // The band compares the raw tempo with the value on display.
            if (!previous.bpm || !(std::fabs(*v - *previous.bpm) < ClockStatus::bpmBand)) status.bpm = roundTo(*v, 10);
        }
        if (a.jitter) status.jitter = std::round(*a.jitter * 100000.0) / 100.0; // milliseconds
    } else {
        status.settled = false;
        if (!a.lastTick)
            status.state = ClockStatus::State::waiting;
        else if (a.transport == ClockAnalyzer::Transport::stopped)
            status.state = ClockStatus::State::stopped;
        else
            status.state = ClockStatus::State::noClock;

        // The oldest kept tempo: the newest ones may already show the clock slowing down as it stops.
        std::optional<double> v;
        if (!a.recentBPM.empty())
            v = a.recentBPM.front();
        else if (a.interval)
            v = tempo(*a.interval);
        if (v && std::isfinite(*v)) {
            status.bpm = roundTo(*v, 10);
            status.exactBPM = roundTo(*v, 100);
        }
    }
    return status;
}

} // namespace tactimo
