// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ReferenceClock.h"

#include "UnicodeText.h"

namespace tactimo {

ReferenceClock::ReferenceClock(std::string_view name) : name_(canonicalText(name)) {
    kind_ = name_.empty() ? Kind::none : name_ == linkName ? Kind::link : Kind::input;
}

ReferenceClock::Reading ReferenceClock::compare(const Readings& readings, std::optional<SourceKey> followed,
                                                const std::optional<LinkTimeline>& link, double now) {
    using State = Reading::State;
    Reading r;
    const auto f = followed ? readings.find(*followed) : readings.end();
    const ClockReading* source = f != readings.end() ? &f->second : nullptr;

    std::optional<SourceKey> reference;
    if (kind_ == Kind::input) {
        const auto stands = [&](SourceKey key) {
            const auto it = readings.find(key);
            return key != followed && it != readings.end() && it->second.name == name_ && it->second.receiving;
        };
        if (!key_ || !stands(*key_)) {
            key_.reset();
            double newest = 0;
            for (const auto& [key, reading] : readings) {
                const double tick = reading.analyzer.lastTick.value_or(0.0);
                if (stands(key) && (!key_ || tick > newest)) key_ = key, newest = tick;
            }
        }
        reference = key_;
    }
    if (kind_ == Kind::none) return r;
    const std::pair pair{followed, reference};
    r.restarted = compared_ != pair;
    compared_ = pair;

    // With the reference there and no figures, the followed clock is missing
    // or has no tempo yet.
    const auto figures = [&](std::optional<ClockComparison> c) {
        const bool followedLive = source && source->receiving && source->analyzer.interval;
        r.state = c ? State::comparing : followedLive ? State::waiting : State::followedSilent;
        r.comparison = std::move(c);
    };
    if (kind_ == Kind::link) {
        if (!link) r.state = State::linkOff;
        else if (link->peers == 0) r.state = State::noPeers;
        else figures(source ? compareClocks(source->analyzer, *link, now) : std::nullopt);
    } else if (reference) {
        figures(source ? compareClocks(readings, *followed, *reference, now) : std::nullopt);
    } else {
        bool other = false, itself = false;
        for (const auto& [key, reading] : readings)
            if (reading.name == name_) (key == followed ? itself : other) = true;
        r.state = itself && !other ? State::followedItself : State::waiting;
    }
    return r;
}

} // namespace tactimo
