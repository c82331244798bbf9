// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "AlsaQueueClock.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tactimo {

namespace {

// Readings are at most a few per second; this only bounds memory when the
// queue's time stands still.
constexpr std::size_t windowCapacity = 256;
constexpr std::size_t highReadingsForJump = 3;

} // namespace

void AlsaQueueClock::calibrate(std::span<const hostClock::Bracket> brackets) {
    const hostClock::Bracket* best = nullptr;
    for (const hostClock::Bracket& b : brackets) {
        if (b.hostAfter < b.hostBefore) continue;
        if (!best || b.hostAfter - b.foreign < best->hostAfter - best->foreign) best = &b;
    }
    constexpr auto limit = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    if (!best || best->foreign > limit || best->hostAfter > limit) return;
    const Reading reading{best->foreign, std::int64_t(best->hostAfter) - std::int64_t(best->foreign)};

    if (!calibrated_) {
        calibrated_ = true;
        settling_ = settleReadings;
        window_.push_back(reading);
        anchorAt(reading.queue, double(reading.offset), double(reading.offset));
        return;
    }
    // The queue's time now, by the mapping: the read itself lags by the
    // timer's lateness, and anchoring there would move the mapping by its
    // rate times that lateness.
    const std::uint64_t present =
        std::max(anchor_, best->hostAfter - std::uint64_t(std::llround(*offsetAt(reading.queue))));
    const double now = *offsetAt(present);
    const double gap = double(reading.offset) - now;
    highInRow_ = gap > double(jumpLimit) ? highInRow_ + 1 : 0;

    // Readings from before a jump say nothing about the offset now. (A read
    // just after a stall of the timer may lie before the previous one on the
    // queue's time: that is no jump.)
    const bool jumpedDown = gap < -double(jumpLimit);
    const bool jumpedUp = highInRow_ >= highReadingsForJump;
    if (jumpedDown) window_.clear();
    if (jumpedUp && window_.size() >= highReadingsForJump) // keep the earlier high readings
        window_.erase(window_.begin(), window_.end() - std::ptrdiff_t(highReadingsForJump - 1));
    window_.push_back(reading);
    while (window_.size() > windowCapacity ||
           (window_.size() > 1 && std::int64_t(reading.queue - window_.front().queue) > windowNs))
        window_.pop_front();

    std::int64_t target = window_.front().offset;
    for (const Reading& r : window_) target = std::min(target, r.offset);
    if (jumpedDown || jumpedUp) {
        // The queue's time now by the new offset: after a jump back of the
        // queue's time the anchor must go back too.
        highInRow_ = 0;
        settling_ = settleReadings - 1;
        anchorAt(best->hostAfter - std::uint64_t(target), double(target), double(target));
    } else if (settling_ > 0) {
        --settling_;
        anchorAt(present, double(target), double(target));
    } else {
        anchorAt(present, now, double(target));
    }
}

void AlsaQueueClock::anchorAt(std::uint64_t queueNs, double offset, double target) {
    anchor_ = queueNs;
    from_ = offset;
    to_ = target;
    rate_ = std::clamp((target - offset) / (settleTime * 1e9), -maxRate, maxRate);
}

std::optional<double> AlsaQueueClock::offsetAt(std::uint64_t queueNs) const {
    if (!calibrated_) return std::nullopt;
    // Before the anchor (an event read just before a calibration) the
    // mapping holds its value there: at most a few ns from its last segment.
    const double since = queueNs > anchor_ ? double(queueNs - anchor_) : 0.0;
    const double moved = from_ + rate_ * since;
    return to_ >= from_ ? std::min(moved, to_) : std::max(moved, to_);
}

std::uint64_t AlsaQueueClock::toHost(std::uint64_t queueNs) const {
    const auto offset = offsetAt(queueNs);
    if (!offset) return 0;
    return hostClock::toHost(queueNs, std::llround(*offset));
}

} // namespace tactimo
