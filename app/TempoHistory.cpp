// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "TempoHistory.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

using tactimo::ClockHistory;

namespace {

// A tempo the graph can draw.
bool drawable(double bpm) {
    return bpm > 0 && bpm <= HistoryScale::maxBPM; // false for NaN
}

} // namespace

void TempoHistory::clear() {
    const bool wasEmpty = ticks_.empty() && marks_.empty() && steps_.empty() && offsets_.empty() && !worstJitter_;
    ticks_.clear();
    marks_.clear();
    steps_.clear();
    offsets_.clear();
    end_.reset();
    worstJitter_.reset();
    stepsChanged_ = false;
    rescale();
    if (!wasEmpty) emit changed();
}

void TempoHistory::take(const ClockHistory::Slice& slice) {
    if (!slice.held) return; // the source went: keep what it left
    bool added = std::exchange(stepsChanged_, false);
    if (slice.runStart > runStart_) {
        runStart_ = slice.runStart;
        const auto older = [this](const auto& entry) { return entry.sequence < runStart_; };
        const std::size_t before = ticks_.size() + marks_.size();
        std::erase_if(ticks_, older);
        std::erase_if(marks_, older);
        added = added || ticks_.size() + marks_.size() != before;
        if (ticks_.empty() && marks_.empty()) end_.reset();
    }
    for (const ClockHistory::Tick& tick : slice.ticks) {
        if (tick.sequence < runStart_ || !std::isfinite(tick.time)) continue;
        ticks_.push_back(tick);
        // A fit of fewer ticks than the jitter needs is provisional: one late
        // tick swings it by a percent, which would set the scale for a minute.
        if (!tick.deviation) ticks_.back().bpm.reset();
        end_ = std::max(end_.value_or(tick.time), tick.time);
        added = true;
    }
    for (const ClockHistory::Mark& mark : slice.marks) {
        if (mark.sequence < runStart_ || !std::isfinite(mark.time)) continue;
        marks_.push_back(mark);
        end_ = std::max(end_.value_or(mark.time), mark.time);
        added = true;
    }
    if (worstJitter_ != slice.worstJitter) {
        worstJitter_ = slice.worstJitter;
        added = true;
    }
    if (!added) return;

    // A new run drops the steps shown before it, all but the one in effect.
    const double firstOfRun = std::min(ticks_.empty() ? std::numeric_limits<double>::infinity() : ticks_.front().time,
                                       marks_.empty() ? std::numeric_limits<double>::infinity() : marks_.front().time);
    if (end_) dropBefore(std::max(*end_ - span, std::isfinite(firstOfRun) ? firstOfRun : *end_ - span));
    rescale();
    emit changed();
}

void TempoHistory::takeOffsets(const tactimo::OffsetHistory& offsets) {
    const auto& entries = offsets.entries();
    if (std::equal(entries.begin(), entries.end(), offsets_.begin(), offsets_.end())) return;
    offsets_.assign(entries.begin(), entries.end());
    rescale();
    emit changed();
}

void TempoHistory::noteShownTempo(double time, std::optional<double> bpm) {
    if (!steps_.empty() && steps_.back().bpm == bpm) return;
    if (!std::isfinite(time)) return;
    steps_.push_back({time, bpm});
    stepsChanged_ = true;
}

// Lets go of what lies before `time`, and of more than the intake's rings
// hold; of the steps the one in effect at `time` stays, moved to it.
void TempoHistory::dropBefore(double time) {
    while (!ticks_.empty() && (ticks_.front().time < time || ticks_.size() > ClockHistory::tickCapacity))
        ticks_.pop_front();
    while (!marks_.empty() && (marks_.front().time < time || marks_.size() > ClockHistory::markCapacity))
        marks_.pop_front();
    while (steps_.size() > 1 && steps_[1].time <= time) steps_.pop_front();
    if (!steps_.empty() && steps_.front().time < time) steps_.front().time = time;
}

void TempoHistory::rescale() {
    double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
    deviations_.clear();
    for (const ClockHistory::Tick& tick : ticks_) {
        if (tick.bpm && drawable(*tick.bpm)) {
            lowest = std::min(lowest, *tick.bpm);
            highest = std::max(highest, *tick.bpm);
        }
        if (tick.deviation && std::isfinite(*tick.deviation)) deviations_.push_back(std::fabs(*tick.deviation));
    }
    for (const Step& step : steps_) {
        if (!step.bpm || !drawable(*step.bpm) || !end_ || step.time > *end_) continue;
        lowest = std::min(lowest, *step.bpm);
        highest = std::max(highest, *step.bpm);
    }
    tempoScale_ = HistoryScale::tempo(lowest, highest);
    // The ticks read across a tempo change lie far off the line until the
    // change is confirmed: a handful that would squash the minute's jitter
    // into a thin band. The scale fits all but the farthest, which the graph
    // draws at its edge. The offsets share the lane, and their first readings
    // (before a comparison's line settles) are such a handful too.
    const auto quantile = [this] {
        if (deviations_.empty()) return 0.0;
        const auto kept = deviations_.begin() + static_cast<std::ptrdiff_t>((deviations_.size() - 1) * jitterQuantile);
        std::nth_element(deviations_.begin(), kept, deviations_.end());
        return *kept;
    };
    const double largest = quantile();
    deviations_.clear();
    for (const auto& entry : offsets_) deviations_.push_back(std::fabs(entry.offsetMs) / 1000.0);
    jitterScale_ = HistoryScale::jitter(std::max(largest, quantile()) * 1000.0);
}

QStringList TempoHistory::markKinds() const {
    QStringList kinds;
    for (const ClockHistory::Mark& mark : marks_) {
        switch (mark.kind) {
        case ClockHistory::Mark::Kind::tempoChange: kinds << QStringLiteral("tempoChange"); break;
        case ClockHistory::Mark::Kind::gapRestart: kinds << QStringLiteral("gapRestart"); break;
        case ClockHistory::Mark::Kind::start: kinds << QStringLiteral("start"); break;
        case ClockHistory::Mark::Kind::continue_: kinds << QStringLiteral("continue"); break;
        case ClockHistory::Mark::Kind::stop: kinds << QStringLiteral("stop"); break;
        case ClockHistory::Mark::Kind::songPosition: kinds << QStringLiteral("songPosition"); break;
        }
    }
    return kinds;
}

QVariant TempoHistory::worstJitter() const {
    if (!worstJitter_) return {};
    return std::round(*worstJitter_ * 100000.0) / 100.0; // ms, to 0.01 as the status rounds
}

QVariantList TempoHistory::shownTempos() const {
    QVariantList tempos;
    for (const Step& step : steps_) tempos << (step.bpm ? QVariant(*step.bpm) : QVariant());
    return tempos;
}
