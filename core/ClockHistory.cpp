// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockHistory.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tactimo {

namespace {

constexpr float absent = std::numeric_limits<float>::quiet_NaN();

float stored(const std::optional<double>& value) {
    return value ? static_cast<float>(*value) : absent;
}

std::optional<double> shown(float value) {
    return std::isnan(value) ? std::nullopt : std::optional<double>(value);
}

} // namespace

ClockHistory::ClockHistory() : ticks_(tickCapacity), marks_(markCapacity), pendingJitter_(worstDelayTicks) {}

std::optional<double> ClockHistory::newestDeviation(std::span<const double> window, double slope) {
    const std::size_t n = window.size();
    if (n < 2) return std::nullopt;
    const double deviation = ClockAnalyzer::MeanPoint::of(window).residual(window, n - 1, slope);
    return std::isfinite(deviation) ? std::optional<double>(deviation) : std::nullopt;
}

// Lets go of the ticks of the run before, and of the marks up to its last
// tick: what came after it (a Song Position, a Start) leads into this run.
void ClockHistory::startRun() {
    if (ticks_.size() > 0) {
        const std::uint64_t lastTick = ticks_[ticks_.size() - 1].sequence;
        while (marks_.size() > 0 && marks_[0].sequence < lastTick) marks_.dropFront();
        runStart_ = lastTick + 1;
    }
    ticks_.clear();
    pendingJitter_.clear();
    worstJitter_.reset();
}

void ClockHistory::note(const ClockEvent& event, double time, Before before, const ClockAnalyzer& analyzer,
                        std::uint64_t& sequence) {
    const auto mark = [&](Mark::Kind kind) { marks_.push({++sequence, time, kind}); };
    switch (event.kind) {
    case ClockEvent::Kind::start: return mark(Mark::Kind::start);
    case ClockEvent::Kind::continue_: return mark(Mark::Kind::continue_);
    case ClockEvent::Kind::stop: return mark(Mark::Kind::stop);
    case ClockEvent::Kind::songPosition: return mark(Mark::Kind::songPosition);
    case ClockEvent::Kind::tick: break;
    }

    // The window grows by one up to its capacity; after a gap it holds only
    // this tick, and after a confirmed change the ticks its rule keeps.
    const std::size_t window = analyzer.ticks.size();
    if (before.stopped) {
        startRun();
    } else if (window == 1 && before.window > 0) {
        mark(Mark::Kind::gapRestart);
        pendingJitter_.clear(); // the clock may have slowed into the gap
    } else if (window < std::min(before.window + 1, ClockAnalyzer::windowCapacity)) {
        mark(Mark::Kind::tempoChange);
        pendingJitter_.clear(); // read across the change
    }

    std::optional<double> bpm, deviation;
    if (analyzer.interval) {
        bpm = 60.0 / (*analyzer.interval * static_cast<double>(ClockAnalyzer::clocksPerQuarterNote));
        if (analyzer.jitter) deviation = newestDeviation(analyzer.ticks.span(), *analyzer.interval);
    }
    ticks_.push({++sequence, time, stored(bpm), stored(deviation)});

    if (analyzer.jitter && std::isfinite(*analyzer.jitter)) {
        if (pendingJitter_.size() == pendingJitter_.capacity())
            worstJitter_ = std::max(worstJitter_.value_or(0.0), pendingJitter_[0]);
        pendingJitter_.push(*analyzer.jitter);
    }
}

void ClockHistory::copySince(std::uint64_t since, Slice& out) const {
    out.held = true;
    out.ticks.clear();
    out.marks.clear();
    out.latest = since;
    out.runStart = runStart_;
    out.worstJitter = worstJitter_;

    // Sequences grow along each ring: find the first newer one by bisection.
    const auto firstNewer = [since](const auto& ring) {
        std::size_t low = 0, high = ring.size();
        while (low < high) {
            const std::size_t mid = low + (high - low) / 2;
            if (ring[mid].sequence > since)
                high = mid;
            else
                low = mid + 1;
        }
        return low;
    };
    for (std::size_t i = firstNewer(ticks_); i < ticks_.size(); ++i) {
        const StoredTick& t = ticks_[i];
        out.ticks.push_back({t.sequence, t.time, shown(t.bpm), shown(t.deviation)});
    }
    for (std::size_t i = firstNewer(marks_); i < marks_.size(); ++i) out.marks.push_back(marks_[i]);
    if (!out.ticks.empty()) out.latest = std::max(out.latest, out.ticks.back().sequence);
    if (!out.marks.empty()) out.latest = std::max(out.latest, out.marks.back().sequence);
}

} // namespace tactimo
