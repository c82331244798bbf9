// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockAnalyzer.h"

#include <bit>
#include <cmath>

namespace tactimo {

void ClockAnalyzer::apply(const ClockEvent& event, double at) {
    switch (event.kind) {
    case ClockEvent::Kind::songPosition:
        position = clocksPerSongPositionUnit * event.value;
        nextPosition = clocksPerSongPositionUnit * event.value;
        break;
    case ClockEvent::Kind::tick: tick(at); break;
    case ClockEvent::Kind::start:
        transport = Transport::playing;
        position = 0;
        nextPosition = 0;
        break;
    case ClockEvent::Kind::continue_: transport = Transport::playing; break;
    case ClockEvent::Kind::stop: transport = Transport::stopped; break;
    }
}

void ClockAnalyzer::tick(double at) {
    ++tickCount;

    if (transport == Transport::playing && nextPosition) {
        position = *nextPosition;
        ++*nextPosition;
    }

    if (!ticks.empty()) {
        const double gap = at - ticks.back();
        const double limit = interval ? gapIntervals * *interval : gapWithoutInterval;
        // A NaN gap compares false: neither a NaN nor a step back restarts the window.
        if (gap > limit) {
            ticks.clear();
            changeTicks = 0;
            recentBPM.clear();
        }
    }

    if (ticks.empty()) {
        runStart = at;
        runStartTick = tickCount;
    }
    lastTick = at;
    ticks.pushBack(at);
    updateTempo();
}

const ClockAnalyzer::ChangeRule* ClockAnalyzer::matchingChangeRule() const {
    const std::size_t n = ticks.size();
    const std::span<const double> window = ticks.span();
    for (const ChangeRule& rule : changeRules) {
        const auto recent = static_cast<std::size_t>(rule.recent);
        if (n < 2 * recent) continue;
        const auto older = fit(window.first(n - recent));
        const auto newer = fit(window.last(recent));
        if (!older || !newer) continue;
        const double ratio = newer->slope / older->slope;
        // A NaN ratio compares false and does not match; an infinite one does.
        if (std::fabs(ratio - 1.0) > rule.threshold) return &rule;
    }
    return nullptr;
}

void ClockAnalyzer::updateTempo() {
    if (const ChangeRule* rule = matchingChangeRule()) {
        if (++changeTicks >= changeConfirmTicks) {
            ticks.keepNewest(static_cast<std::size_t>(rule->keep));
            changeTicks = 0;
        }
    } else {
        changeTicks = 0;
    }

    if (ticks.size() >= minFitTicks) {
        const auto line = fit(ticks.span());
        if (line && line->slope > 0) { // false for NaN
            interval = line->slope;
            jitter = ticks.size() >= minJitterTicks ? std::optional<double>(line->rms) : std::nullopt;
            recentBPM.pushBack(60.0 / (line->slope * static_cast<double>(clocksPerQuarterNote)));
            return;
        }
    }
    interval.reset();
    jitter.reset();
}

ClockAnalyzer::MeanPoint ClockAnalyzer::MeanPoint::of(std::span<const double> times) {
    const double t0 = times[0];
    double sum = 0;
    for (const double x : times) sum += x - t0;
    return {t0, sum / static_cast<double>(times.size()), static_cast<double>(times.size() - 1) * 0.5};
}

std::optional<ClockAnalyzer::Fit> ClockAnalyzer::fit(std::span<const double> times) {
    const std::size_t n = times.size();
    if (n < 2) return std::nullopt;

    const MeanPoint mean = MeanPoint::of(times);
    double sxy = 0;
    for (std::size_t k = 0; k < n; ++k)
        sxy += (static_cast<double>(k) - mean.meanK) * ((times[k] - mean.t0) - mean.meanY);
    // Closed form of the sum of (k - meanK)^2; the product in integers first.
    const auto nn = static_cast<std::int64_t>(n);
    const double sxx = static_cast<double>((nn * nn - 1) * nn) / 12.0;
    const double slope = sxy / sxx;

    double squares = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double r = mean.residual(times, k, slope);
        squares += r * r;
    }
    return Fit{slope, std::sqrt(squares / static_cast<double>(n))};
}

std::optional<std::string_view> ClockAnalyzer::brokenInvariant() const {
    // Bit for bit, so that a NaN time still equals itself.
    const auto same = [](double a, double b) {
        return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
    };
    const struct {
        bool holds;
        std::string_view what;
    } invariants[] = {
        {ticks.size() <= windowCapacity, "window at most windowCapacity entries"},
        {ticks.empty() || (lastTick && same(ticks.back(), *lastTick)), "last window entry is lastTick"},
        {lastTick.has_value() == (tickCount > 0), "lastTick present exactly when ticks were counted"},
        {tickCount == 0
             ? !runStart
             : runStart && runStartTick >= 1 && runStartTick + static_cast<std::int64_t>(ticks.size()) <= tickCount + 1,
         "the run began at a counted tick, at or before the window's first"},
        {!jitter || interval, "jitter only with interval"},
        {!interval || (*interval > 0 && ticks.size() >= minFitTicks), "interval positive, from minFitTicks ticks"},
        {!jitter || ticks.size() >= minJitterTicks, "jitter from minJitterTicks ticks"},
        {recentBPM.size() <= recentCapacity, "recentBPM at most recentCapacity"},
        {changeTicks >= 0 && changeTicks < changeConfirmTicks, "changeTicks below changeConfirmTicks between ticks"},
        // The beat flash takes a remainder of the position and must never see a negative one.
        {position.value_or(0) >= 0 && nextPosition.value_or(0) >= 0, "song positions never negative"},
    };
    for (const auto& invariant : invariants)
        if (!invariant.holds) return invariant.what;
    return std::nullopt;
}

} // namespace tactimo
