// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "SourceKey.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tactimo {

// One selectable input.
struct MIDISource {
    SourceKey ref = 0;
    std::string name;
    friend bool operator==(const MIDISource&, const MIDISource&) = default;
};

// One packet of a delivered packet list.
struct MidiPacket {
    std::uint64_t timeStamp = 0; // nanoseconds of CLOCK_MONOTONIC; 0 means "at delivery"
    std::span<const std::uint8_t> bytes;
};

using MidiPacketList = std::span<const MidiPacket>;

// What ClockInput needs of a MIDI service. The backends in midi/ implement it;
// nothing in the core knows which one runs.
class MidiService {
public:
    // Called on a delivery thread of the service, once per packet list.
    using Receive = std::function<void(MidiPacketList, SourceKey)>;
    // Called on any thread when sources or clients come or go. Must only post work.
    using SetupChanged = std::function<void()>;

    virtual ~MidiService() = default;

    // Registers the client "Tactimo", its input port and the public virtual
    // destination "Tactimo", and starts delivering to receive. Called once.
    // Failures are not reported: the service then simply delivers nothing.
    virtual void open(Receive receive, SetupChanged setupChanged) = 0;

    // Stops all delivery and notification; no callback runs once it returns.
    // Idempotent; the destructor calls it too.
    virtual void close() = 0;

    // Key of the virtual destination, under which its data is delivered.
    virtual SourceKey virtualDestination() const = 0;

    // Keys of the sources present now, in the service's order, without the
    // virtual destination.
    virtual std::vector<SourceKey> sources() const = 0;

    // Display name of a source as the service gives it (any bytes), or none.
    // May be called from a delivery thread.
    virtual std::optional<std::string> displayName(SourceKey source) const = 0;

    // The long form of a source's name ("client:port"), by which sources
    // whose display names are equal by accident are told apart; the display
    // name where there is no longer one.
    virtual std::optional<std::string> fullName(SourceKey source) const { return displayName(source); }

    // Whether sources that merely bridge the devices of another service into
    // this one are read (JACK's ports for the sequencer's devices), or left to
    // that service, which reads them directly. Read unless told otherwise; a
    // change comes back as a set-up change.
    virtual void readBridgedSources(bool /*read*/) {}

    // Connects every present source; already connected ones are not doubled.
    // Main thread only.
    virtual void connectAllSources() = 0;

    // Whether a MIDI service (a server, the sequencer) is reachable now.
    // Changes come with a set-up change. Main thread.
    virtual bool reachable() const { return true; }
};

} // namespace tactimo
