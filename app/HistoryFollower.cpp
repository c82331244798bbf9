// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "HistoryFollower.h"

#include <utility>

HistoryFollower::HistoryFollower(tactimo::ClockInput& input, tactimo::ClockInput::HostClock clock, QObject* parent)
    : QObject(parent),
      input_(input),
      clock_(std::move(clock)) {
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &HistoryFollower::poll);
}

void HistoryFollower::setOpen(bool open, const std::optional<tactimo::SourceKey>& followed, std::optional<double> bpm) {
    open_ = open;
    followed_.reset();
    fromNow_ = false;
    history_.clear();
    if (open) {
        timer_.start();
        restart(followed, bpm);
        poll();
    } else {
        timer_.stop();
        slice_ = {}; // its memory too
    }
}

void HistoryFollower::follow(const std::optional<tactimo::SourceKey>& followed, std::optional<double> bpm) {
    if (open_ && followed != followed_) restart(followed, bpm);
}

void HistoryFollower::noteShownTempo(std::optional<double> bpm) {
    if (open_) history_.noteShownTempo(seconds(), bpm);
}

void HistoryFollower::startOverFromNow() {
    if (!open_) return;
    history_.clear();
    followed_.reset();
    fromNow_ = true;
}

// The history starts over, with what the intake kept of that source's run
// (up to a minute), unless another input was chosen: then with what came
// after the choice.
void HistoryFollower::restart(const std::optional<tactimo::SourceKey>& followed, std::optional<double> bpm) {
    history_.clear();
    if (!std::exchange(fromNow_, false)) since_ = 0;
    followed_ = followed;
    history_.noteShownTempo(seconds(), bpm);
}

void HistoryFollower::poll() {
    if (!open_ || !followed_) return;
    input_.history(*followed_, since_, slice_);
    since_ = slice_.latest;
    history_.take(slice_);
    if (offsets_) history_.takeOffsets(*offsets_);
}

double HistoryFollower::seconds() const {
    return static_cast<double>(clock_()) * tactimo::ClockInput::secondsPerHostTick;
}
