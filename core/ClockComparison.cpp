// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockComparison.h"

#include "ClockInput.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace tactimo {

namespace {

constexpr double ticksPerBeat = ClockAnalyzer::clocksPerQuarterNote;

double bpmOf(double interval) {
    return 60.0 / (interval * ticksPerBeat);
}

// The multiple of span that x less it puts in (-span/2, +span/2].
double wholeSpans(double x, double span) {
    return std::ceil(x / span - 0.5);
}
double fold(double x, double span) {
    return x - span * wholeSpans(x, span);
}

// A window's least-squares line: seconds from its first tick against the
// tick's index in the window, which may lie outside it.
struct Line {
    std::span<const double> times;
    ClockAnalyzer::MeanPoint mean;
    double slope; // seconds per tick

    explicit Line(const ClockAnalyzer& a)
        : times(a.ticks.span()),
          mean(ClockAnalyzer::MeanPoint::of(times)),
          slope(*a.interval) {}
    std::int64_t size() const { return static_cast<std::int64_t>(times.size()); }
    double at(std::int64_t index) const { return mean.meanY + slope * (static_cast<double>(index) - mean.meanK); }
};

// The song position of the newest tick, if it moved the position on.
std::optional<std::int64_t> newestPosition(const ClockAnalyzer& a) {
    if (a.transport != ClockAnalyzer::Transport::playing || !a.position || !a.nextPosition ||
        *a.nextPosition != *a.position + 1)
        return std::nullopt;
    return a.position;
}

// Counts the newest tick by: its song position, else the ticks since its run began.
std::int64_t newestKey(const ClockAnalyzer& a) {
    return newestPosition(a).value_or(a.tickCount - a.runStartTick);
}

// The RMS around their mean of value(i) for i in [low, high); none for
// fewer than minJitterTicks values.
std::optional<double> spreadOf(std::int64_t low, std::int64_t high, auto value) {
    if (high - low < static_cast<std::int64_t>(ClockAnalyzer::minJitterTicks)) return std::nullopt;
    double sum = 0;
    for (std::int64_t i = low; i < high; ++i) sum += value(i);
    const double mean = sum / static_cast<double>(high - low);
    double squares = 0;
    for (std::int64_t i = low; i < high; ++i) squares += (value(i) - mean) * (value(i) - mean);
    const double spread = std::sqrt(squares / static_cast<double>(high - low));
    return std::isfinite(spread) ? std::optional(spread) : std::nullopt;
}

// The tempo figures of a clock of `interval` against a reference of
// `referenceInterval` (seconds per tick); none if they are not finite.
std::optional<ClockComparison> tempi(double interval, double referenceInterval) {
    ClockComparison c;
    const double ratio = interval / referenceInterval; // > 1: the followed clock is slower
    c.referenceBPM = bpmOf(referenceInterval);
    c.bpmDifference = bpmOf(interval) - c.referenceBPM;
    c.ppm = (1.0 / ratio - 1.0) * 1e6;
    c.driftMsPerMinute = (ratio - 1.0) * 60'000.0;
    if (!std::isfinite(c.bpmDifference) || !std::isfinite(c.ppm) || !std::isfinite(c.driftMsPerMinute))
        return std::nullopt;
    return c;
}

bool sameTempo(double interval, double referenceInterval) {
    return std::fabs(interval / referenceInterval - 1.0) <= ClockComparison::sameTempo;
}

} // namespace

std::optional<ClockComparison> compareClocks(const ClockAnalyzer& followed, const ClockAnalyzer& reference,
                                             double now) {
    if (!followed.interval || !reference.interval || !ClockInput::isReceiving(followed, now) ||
        !ClockInput::isReceiving(reference, now))
        return std::nullopt;
    auto c = tempi(*followed.interval, *reference.interval);
    if (!c || !sameTempo(*followed.interval, *reference.interval)) return c;

    // First, on the windows' lines, which ticks pair: followed tick i + shift
    // with reference tick i.
    const Line f(followed), r(reference);
    const double interval = *reference.interval;
    // Seconds from the reference's newest tick to the followed one paired with it.
    const auto offsetAt = [&](std::int64_t shift) {
        const std::int64_t newest = r.size() - 1;
        return (f.mean.t0 - r.mean.t0) + (f.at(newest + shift) - r.at(newest));
    };
    // The shift that pairs the newest ticks' keys, if it reads an offset within half a bar.
    const auto pairedBy = [&](std::int64_t followedKey, std::int64_t referenceKey) -> std::optional<std::int64_t> {
        const std::int64_t shift = (referenceKey - r.size()) - (followedKey - f.size());
        if (!(std::fabs(offsetAt(shift)) <= ClockComparison::pairedBeats * ticksPerBeat * interval))
            return std::nullopt;
        return shift;
    };

    std::optional<std::int64_t> shift;
    const auto fp = newestPosition(followed), rp = newestPosition(reference);
    if (fp && rp) shift = pairedBy(*fp, *rp);
    if (!shift && std::fabs(*followed.runStart - *reference.runStart) <= ticksPerBeat / 2 * interval)
        shift = pairedBy(followed.tickCount - followed.runStartTick, reference.tickCount - reference.runStartTick);
    c->pairing = ClockComparison::Pairing::position;
    if (!shift) {
        // The newest ticks, then the followed tick whose offset lies within half a tick.
        const std::int64_t newest = f.size() - r.size();
        const double ticks = wholeSpans(offsetAt(newest), interval);
        if (!(std::fabs(ticks) < ClockAnalyzer::windowCapacity)) return c; // NaN too
        shift = newest - static_cast<std::int64_t>(ticks);
        c->pairing = ClockComparison::Pairing::tickPhase;
    }

    // Then the line through the pairs' differences, which is the difference of
    // the two clocks' lines over the same ticks: what moves both alike (a
    // follower's master wavering, the stamps' clock) drops out, however
    // differently long the windows are.
    const std::int64_t low = std::max<std::int64_t>(0, -*shift), high = std::min(r.size(), f.size() - *shift);
    if (high - low < static_cast<std::int64_t>(ClockAnalyzer::minFitTicks)) return c;
    FixedList<double, ClockAnalyzer::windowCapacity> differences; // seconds, less f.t0 - r.t0
    for (std::int64_t i = low; i < high; ++i)
        differences.pushBack((f.times[static_cast<std::size_t>(i + *shift)] - f.mean.t0) -
                             (r.times[static_cast<std::size_t>(i)] - r.mean.t0));
    const double slope = ClockAnalyzer::fit(differences.span())->slope; // seconds per tick
    const auto mean = ClockAnalyzer::MeanPoint::of(differences.span());
    const double newest = static_cast<double>(differences.size() - 1);
    const double offset = (f.mean.t0 - r.mean.t0) + mean.t0 + mean.meanY + slope * (newest - mean.meanK);
    const double drift = slope / interval * 60'000.0;
    if (!std::isfinite(offset) || !std::isfinite(drift)) return c;
    c->offsetMs = offset * 1000.0;
    c->driftMsPerMinute = drift;
    const auto difference = [&](std::int64_t i) { return differences[static_cast<std::size_t>(i)]; };
    if (const auto spread = spreadOf(0, high - low, difference)) c->spreadMs = *spread * 1000.0;
    return c;
}

std::optional<ClockComparison> compareClocks(const ClockAnalyzer& followed, const LinkTimeline& reference, double now) {
    if (!followed.interval || !ClockInput::isReceiving(followed, now) || reference.peers == 0 || !(reference.bpm > 0) ||
        !std::isfinite(reference.bpm))
        return std::nullopt;
    const double linkInterval = 60.0 / (reference.bpm * ticksPerBeat);
    auto c = tempi(*followed.interval, linkInterval);
    if (!c || !sameTempo(*followed.interval, linkInterval)) return c;

    // Beats the session is ahead of the clock at one of its ticks: its beat
    // then less the clock's (its key in beats), as the line puts them.
    const Line f(followed);
    const double firstBeat = static_cast<double>(newestKey(followed) - f.size() + 1) / ticksPerBeat;
    const auto ahead = [&](std::int64_t i, double tickTime) {
        return reference.beatAt(tickTime) - (firstBeat + static_cast<double>(i) / ticksPerBeat);
    };
    const std::int64_t newest = f.size() - 1;
    const double behind = ahead(newest, f.mean.t0 + f.at(newest));
    if (!(std::fabs(behind) < 1e12)) return c; // a session's beat of any size may come in
    const double beat = fold(behind, 1.0);
    c->pairing = std::fabs(fold(behind, LinkTimeline::quantum)) <= 0.5 ? ClockComparison::Pairing::position
                                                                       : ClockComparison::Pairing::beatPhase;
    const double msPerBeat = 60'000.0 / reference.bpm;
    c->offsetMs = beat * msPerBeat;

    const auto tickAhead = [&](std::int64_t i) { return ahead(i, f.times[static_cast<std::size_t>(i)]); };
    if (const auto spread = spreadOf(0, f.size(), tickAhead)) c->spreadMs = *spread * msPerBeat;
    return c;
}

std::optional<ClockComparison> compareClocks(const Readings& readings, SourceKey followed, SourceKey reference,
                                             double now) {
    const auto f = readings.find(followed), r = readings.find(reference);
    if (followed == reference || f == readings.end() || r == readings.end()) return std::nullopt;
    return compareClocks(f->second.analyzer, r->second.analyzer, now);
}

} // namespace tactimo
