// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "HistoryScale.h"
#include "core/ClockHistory.h"
#include "core/OffsetHistory.h"

#include <QObject>
#include <QStringList>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

#include <deque>
#include <optional>
#include <vector>

// The last minute of the followed source as the history graph draws it: the
// ticks and marks copied from the intake, the tempo the window showed, and the
// axes that fit them. Filled by the store only while the history is open.
class TempoHistory : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The store keeps the one history")
    Q_PROPERTY(int tickCount READ tickCount NOTIFY changed)
    // The kinds of the marks held, oldest first: "tempoChange", "gapRestart",
    // "start", "continue", "stop", "songPosition".
    Q_PROPERTY(QStringList markKinds READ markKinds NOTIFY changed)
    // The tempos the window showed, oldest first; undefined while it showed none.
    Q_PROPERTY(QVariantList shownTempos READ shownTempos NOTIFY changed)
    // The axes; undefined while there is no tempo to show.
    Q_PROPERTY(QVariant bpmLow READ bpmLow NOTIFY changed)
    Q_PROPERTY(QVariant bpmHigh READ bpmHigh NOTIFY changed)
    Q_PROPERTY(double jitterLimit READ jitterLimit NOTIFY changed) // ms either side of 0
    // The worst jitter of the run, ms rounded to 0.01; undefined while unknown.
    Q_PROPERTY(QVariant worstJitter READ worstJitter NOTIFY changed)
    // Offsets against the compared reference held, drawn in the jitter lane.
    Q_PROPERTY(int offsetCount READ offsetCount NOTIFY changed)

public:
    // A tempo shown in the window from `time` on; none while none was shown.
    struct Step {
        double time;
        std::optional<double> bpm;
    };

    static constexpr double span = 60.0; // seconds shown
    // Of the deviations held, the share the jitter axis shows within its range.
    static constexpr double jitterQuantile = 0.99;

    using QObject::QObject;

    // Forgets everything.
    void clear();
    // Adds what the intake had that is new, and lets go of what is older
    // than the span or belongs to an earlier run of the clock.
    void take(const tactimo::ClockHistory::Slice& slice);
    // The tempo the window shows from `time` on (seconds, host clock).
    void noteShownTempo(double time, std::optional<double> bpm);
    // The followed clock's offset against its reference over the last minute.
    void takeOffsets(const tactimo::OffsetHistory& offsets);

    const std::deque<tactimo::ClockHistory::Tick>& ticks() const { return ticks_; }
    const std::deque<tactimo::ClockHistory::Mark>& marks() const { return marks_; }
    const std::deque<Step>& steps() const { return steps_; }
    const std::vector<tactimo::OffsetHistory::Entry>& offsets() const { return offsets_; }
    // The newest time held: the right edge of the graph.
    std::optional<double> end() const { return end_; }
    const std::optional<HistoryScale>& tempoScale() const { return tempoScale_; }
    const HistoryScale& jitterScale() const { return jitterScale_; }

    int tickCount() const { return static_cast<int>(ticks_.size()); }
    QStringList markKinds() const;
    QVariantList shownTempos() const;
    QVariant bpmLow() const { return tempoScale_ ? QVariant(tempoScale_->low) : QVariant(); }
    QVariant bpmHigh() const { return tempoScale_ ? QVariant(tempoScale_->high) : QVariant(); }
    double jitterLimit() const { return jitterScale_.high; }
    QVariant worstJitter() const;
    int offsetCount() const { return static_cast<int>(offsets_.size()); }

signals:
    void changed();

private:
    void dropBefore(double time);
    void rescale();

    std::deque<tactimo::ClockHistory::Tick> ticks_;
    std::deque<tactimo::ClockHistory::Mark> marks_;
    std::deque<Step> steps_;
    std::vector<tactimo::OffsetHistory::Entry> offsets_;
    std::optional<double> end_;
    std::uint64_t runStart_ = 0;
    std::optional<double> worstJitter_; // seconds
    std::optional<HistoryScale> tempoScale_;
    HistoryScale jitterScale_ = HistoryScale::jitter(0);
    bool stepsChanged_ = false;      // since the last take
    std::vector<double> deviations_; // seconds; kept for its capacity
};
