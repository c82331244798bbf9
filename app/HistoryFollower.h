// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "TempoHistory.h"
#include "core/ClockInput.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <optional>

// Keeps the history section's TempoHistory on the followed source while the
// section is open: copies what the intake keeps of that source, and starts
// over when another source is followed or another input is chosen. While
// closed, nothing of it runs.
class HistoryFollower : public QObject {
    Q_OBJECT

public:
    // The graph is a minute wide, a pixel column about 0.2 s: four updates a
    // second keep it live; each one repaints the whole graph.
    static constexpr int intervalMs = 250;

    HistoryFollower(tactimo::ClockInput& input, tactimo::ClockInput::HostClock clock, QObject* parent = nullptr);

    TempoHistory* history() { return &history_; }
    // The offsets to show beside the ticks, copied at each poll; none: none.
    void showOffsets(const tactimo::OffsetHistory* offsets) { offsets_ = offsets; }
    bool isOpen() const { return open_; }

    // Opening starts with what the intake kept of `followed`'s run, which
    // shows `bpm`; closing lets everything go, its memory too.
    void setOpen(bool open, const std::optional<tactimo::SourceKey>& followed, std::optional<double> bpm);
    // On every refresh, before a new status is shown: another followed source
    // starts the history over.
    void follow(const std::optional<tactimo::SourceKey>& followed, std::optional<double> bpm);
    // The window shows another tempo from now on.
    void noteShownTempo(std::optional<double> bpm);
    // Another input was chosen: starts over, with what comes after the last copy.
    void startOverFromNow();
    // Copies what is new of the followed source; the timer calls it.
    void poll();

private:
    void restart(const std::optional<tactimo::SourceKey>& followed, std::optional<double> bpm);
    double seconds() const;

    tactimo::ClockInput& input_;
    tactimo::ClockInput::HostClock clock_;
    bool open_ = false;
    TempoHistory history_;
    QTimer timer_;
    std::optional<tactimo::SourceKey> followed_; // whose entries history_ holds
    std::uint64_t since_ = 0;                    // the sequence to copy after
    bool fromNow_ = false;                       // an input was chosen: skip what came before
    tactimo::ClockHistory::Slice slice_;         // reused between copies
    const tactimo::OffsetHistory* offsets_ = nullptr;
};
