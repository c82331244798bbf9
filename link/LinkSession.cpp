// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "LinkSession.h"

#include <ableton/Link.hpp>

#include <cmath>
#include <exception>

namespace tactimo {

// Link's host time: CLOCK_MONOTONIC, the clock that stamps MIDI, in µs; a
// type of its own, for the start of our own session below.
struct ListenerClock : ableton::platforms::linux::ClockMonotonic {};

} // namespace tactimo

// Where two sessions meet, Link keeps the one that began earlier, so a peer
// that comes after us would adopt our lonely session's tempo. Ours claims to
// begin 30 years from now: every session is older, we join theirs, and no
// peer ever joins ours.
template <>
inline ableton::link::GhostXForm ableton::link::detail::initXForm(const tactimo::ListenerClock& clock) {
    constexpr std::chrono::microseconds thirtyYears{30LL * 365 * 24 * 3600 * 1000000};
    return {1.0, -(clock.micros() + thirtyYears)};
}

namespace tactimo {

struct LinkSession::Link : ableton::BasicLink<ListenerClock> {
    Link() : BasicLink(120) {} // our lonely session's tempo, which no one adopts
};

namespace {

double finite(double x) { return std::isfinite(x) ? x : 0; }

} // namespace

LinkSession::LinkSession() = default;
LinkSession::~LinkSession() = default;

bool LinkSession::setOn(bool on) {
    if (on == isOn()) return on;
    if (!on) {
        link_.reset(); // joins Link's threads, closes its sockets
        return false;
    }
    try {
        auto link = std::make_unique<Link>();
        link->enableStartStopSync(true); // to see the session play; we never commit a state
        link->enable(true);
        link_ = std::move(link);
    } catch (const std::exception&) {
        // Threads or the event loop could not be made: Link stays off.
    }
    return isOn();
}

std::optional<LinkTimeline> LinkSession::timeline() const {
    if (!link_) return std::nullopt;
    const auto now = link_->clock().micros();
    const auto state = link_->captureAppSessionState(); // Link's lock, held only to copy
    LinkTimeline t;
    t.bpm = finite(state.tempo());
    t.peers = link_->numPeers();
    t.beatAtOrigin = finite(state.beatAtTime(now, LinkTimeline::quantum));
    t.originTime = double(now.count()) * 1e-6;
    t.playing = state.isPlaying();
    return t;
}

} // namespace tactimo
