// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/HostClock.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>

namespace tactimo {

// Maps the real time of a sequencer queue (ns since the queue started) onto
// CLOCK_MONOTONIC (ns).
//
// The queue's time is its timer's count of periods up to the last interrupt
// plus the host time since that interrupt, so it lags the host clock by that
// interrupt's lateness: a reading of host minus queue is the true offset plus
// 0 to about 1 ms, never less (the host side is taken after the read). The
// smallest readings of the last few seconds come closest to the truth, but
// that minimum moves as readings come and go, and moving the mapping in steps
// would step every later stamp and bend the tempo fitted over them. So the
// mapping is continuous: it slews towards that minimum at a rate of at most
// maxRate, which also lets it follow a genuine drift between the two clocks
// (with a steady lag of drift times settleTime). A genuine jump (the queue
// restarted, its timer stalled for long) is taken at once: a reading more
// than jumpLimit below the mapping, or three in a row more than jumpLimit
// above it. For a few readings after the first and after a jump, while the
// minimum still falls fast, the mapping steps to it.
class AlsaQueueClock {
public:
    static constexpr std::int64_t windowNs = 8'000'000'000; // readings kept for the minimum
    static constexpr double settleTime = 10.0;              // seconds to close a gap by 1/e
    static constexpr double maxRate = 50e-6;                // slew, ns per ns of queue time
    static constexpr std::int64_t jumpLimit = 10'000'000;   // ns
    static constexpr int settleReadings = 8;

    // One calibration: a few reads of the queue's time (Bracket::foreign)
    // taken one after another; the one with the earliest host reading after
    // the read counts. Brackets whose host clock ran backwards are ignored.
    void calibrate(std::span<const hostClock::Bracket> brackets);

    // Host minus queue time at a queue time, ns; none before any calibration.
    std::optional<double> offsetAt(std::uint64_t queueNs) const;

    // A queue time on CLOCK_MONOTONIC, ns; 0 ("at delivery") before any
    // calibration, or when the result would not lie on the host clock.
    std::uint64_t toHost(std::uint64_t queueNs) const;

private:
    struct Reading {
        std::uint64_t queue; // ns
        std::int64_t offset; // host after the read minus queue, ns
    };

    void anchorAt(std::uint64_t queueNs, double offset, double target);

    std::deque<Reading> window_; // oldest first
    std::size_t highInRow_ = 0;  // readings in a row more than jumpLimit above the mapping
    int settling_ = 0;           // readings left that may step the mapping
    // The mapping: offset(q) = from_ + rate_ * (q - anchor_), held within
    // [from_, to_] (or [to_, from_]): it stops at its target.
    bool calibrated_ = false;
    std::uint64_t anchor_ = 0;
    double from_ = 0;
    double to_ = 0;
    double rate_ = 0;
};

} // namespace tactimo
