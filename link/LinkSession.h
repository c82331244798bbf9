// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/LinkTimeline.h"

#include <memory>
#include <optional>

namespace tactimo {

// Tactimo's place in the Link session of the network, as a listener: it
// never sets a tempo, never starts or stops, never commits a session state,
// and no peer ever adopts the session it holds while alone. Off until turned
// on; while off, nothing of Link exists: no thread, no socket. Every member
// is called on one thread, the main thread; Link's own threads run only
// Link's code and touch nothing of ours.
class LinkSession {
public:
    LinkSession();
    ~LinkSession();
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    // Joins (true) or leaves (false) the session; whether Link is on after
    // it. Joining starts Link's two threads, which open sockets on every
    // network interface and announce us by multicast; leaving says goodbye to
    // the peers and returns once those threads and sockets are gone (both take
    // about a millisecond).
    bool setOn(bool on);
    bool isOn() const { return link_ != nullptr; }

    // The session now (call it at the refresh, 30 times a second); none while
    // off. With peers 0 it is a session of our own, whose tempo and beat are
    // no one's. `playing` follows the starts and stops since we joined: Link
    // leaves a joiner stopped until the session next starts or stops. The
    // figures are finite, otherwise as the network gave them (Link itself
    // holds the tempo within 20 to 999 BPM).
    std::optional<LinkTimeline> timeline() const;

private:
    struct Link;
    std::unique_ptr<Link> link_;
};

} // namespace tactimo
