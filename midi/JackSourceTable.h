// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "JackBridge.h"
#include "SourceLedger.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tactimo {

// Source keys of JACK's MIDI output ports. A key stands for one port from
// its first listing until it goes (SourceLedger). JACK hands a freed port
// UUID to the next port registered, so UUIDs are not keys: a UUID reported
// unregistered, or missing from a listing, loses its key, and a port under
// that UUID later gets a new one. Not locked: the owner guards it.
class JackSourceTable {
public:
    // A MIDI output port of another client as listed: its UUID, full name,
    // and the device it bridges, if it bridges one.
    struct Port {
        std::uint64_t uuid = 0;
        std::string name;
        std::optional<JackBridge> bridge;
    };
    // A listed port under its key.
    struct Source {
        SourceKey key = 0;
        std::uint64_t uuid = 0;
        std::string name;
        std::optional<JackBridge> bridge;
    };
    struct Listing {
        std::vector<Source> sources;
        // Full names of the bridges left out: their devices are read directly.
        std::vector<std::string> hidden;
    };
    using Ledger = SourceLedger<std::uint64_t, std::optional<JackBridge>>;

    // A UUID reported unregistered: the port listed under it next is a new one.
    void retire(std::uint64_t uuid);
    // Every UUID retired at once, for when some retirements may have been lost.
    void retireAll();
    // Applies a listing of the MIDI output ports present now (our own left
    // out) and returns them under their keys, in the listing's order; a UUID
    // listed twice keeps its first entry. Bridges of devices that another
    // backend reads are left out unless readBridges, except those a JACK
    // driver holds for itself (JackBridge::exclusive).
    Listing list(const std::vector<Port>& ports, bool readBridges);

    // The UUID of a key's port while it is present.
    std::optional<std::uint64_t> uuidOf(SourceKey key) const { return ledger_.idOf(key); }
    // The device a present key's port bridges.
    std::optional<JackBridge> bridgeOf(SourceKey key) const;
    // The full port name a key was last listed under: present ports, and
    // the last few that went.
    std::optional<std::string> lastName(SourceKey key) const { return ledger_.lastName(key); }
    const Ledger& ledger() const { return ledger_; }

private:
    Ledger ledger_;
};

} // namespace tactimo
