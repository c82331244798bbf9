// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ClockComparison.h"
#include "ClockReading.h"
#include "LinkTimeline.h"
#include "SourceKey.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tactimo {

// The clock the followed one is compared with, as the user names it: none,
// an input by its name, or the Link session. The window remembers the name
// and tactimo-watch takes it on its command line; both turn it into a source
// here, at every refresh, the way the followed input is chosen: the record of
// that name that stands for it stays while it is receiving, else the one with
// the newest tick takes over. Never the followed record itself.
class ReferenceClock {
public:
    enum class Kind : std::uint8_t { none, input, link };
    // The name that stands for the Link session. An input of exactly this
    // name cannot be a reference.
    static constexpr std::string_view linkName = "link";

    // What one refresh found.
    struct Reading {
        enum class State : std::uint8_t {
            none,           // no reference chosen
            comparing,      // the figures are there
            followedSilent, // the followed clock is not receiving (or has no tempo yet)
            waiting,        // no source of the reference's name is receiving
            followedItself, // the only source of that name is the followed one
            linkOff,
            noPeers,
        };
        State state = State::none;
        std::optional<ClockComparison> comparison; // only while comparing
        // The followed source or the one standing for the reference is
        // another than at the refresh before: an offset's history starts over.
        bool restarted = false;
    };

    // Empty: none; linkName: the Link session; else an input, by its
    // canonical name.
    explicit ReferenceClock(std::string_view name = {});

    Kind kind() const { return kind_; }
    const std::string& name() const { return name_; } // as given, canonical; empty for none

    // One refresh: the followed source against the reference now (seconds,
    // host clock). link: the session at this refresh, none while Link is off.
    Reading compare(const Readings& readings, std::optional<SourceKey> followed,
                    const std::optional<LinkTimeline>& link, double now);

private:
    Kind kind_ = Kind::none;
    std::string name_;
    std::optional<SourceKey> key_; // the record that stands for an input now
    // What the last comparison was between: the followed source, and the
    // reference's record (none for Link).
    std::optional<std::pair<std::optional<SourceKey>, std::optional<SourceKey>>> compared_;
};

} // namespace tactimo
