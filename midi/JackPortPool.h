// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "JackSourceTable.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <jack/jack.h>

namespace tactimo {

// Our input ports, one per source, because JACK merges everything connected
// to one port into one buffer. Each is named after its source, so that a
// patchbay shows what it carries, and connected to that source alone.
//
// Registering a port is a round trip that the server answers only after
// telling every other client, so ports of sources that went are parked a
// while for the next source that comes (a sender restarting) rather than
// unregistered at once.
//
// Threads: serve() and freeParked() run on the connector thread; the process
// callback reads the slots and calls cycleDone(); the notification thread
// calls released().
class JackPortPool {
public:
    static constexpr std::size_t maxSources = 256;

    struct Slot {
        std::atomic<jack_port_t*> port{nullptr}; // published last, cleared first
        std::atomic<SourceKey> key{0};
        std::string named; // the name its port was given for; connector thread only
    };

    JackPortPool(jack_client_t* client, const std::atomic<bool>& serverGone);

    // Process callback: the ports to read, and the end of each cycle.
    const std::array<Slot, maxSources>& slots() const { return slots_; }
    void cycleDone() { cycles_.fetch_add(1, std::memory_order_release); }

    // Gives every listed source a port of ours, named after shownName(source),
    // connected to the source alone; takes the ports of sources that went away.
    void serve(const std::vector<JackSourceTable::Source>& listed,
               const std::function<std::string(const JackSourceTable::Source&)>& shownName);
    // Whether the port of ours for a key is connected to a port.
    bool reads(SourceKey key, const std::string& portName) const;
    // Unregisters the ports parked long enough; when the next one is due.
    std::optional<std::chrono::steady_clock::time_point> freeParked();
    // The client is closing: parked ports go with it.
    void forgetParked() { parked_.clear(); }

    // Notification thread: some client's port was unregistered. True when
    // it was one of ours, which reads as foreign once released.
    bool released(std::uint64_t uuid);

private:
    struct Parked {
        jack_port_t* port;
        std::chrono::steady_clock::time_point since;
    };
    static constexpr std::chrono::seconds parkedFor{2};

    void takeGone(const std::vector<JackSourceTable::Source>& listed);
    Slot* slotFor(SourceKey key);
    jack_port_t* newPort(const std::string& name);
    void connectAlone(jack_port_t* ours, const JackSourceTable::Source& source);
    // Takes a port of ours away, noted so that its notice is not taken for another's.
    void unregisterOwn(jack_port_t* port);
    void waitUntilCycle(std::uint64_t cycle) const;
    // Short names of our ports, which JACK gives only once.
    std::set<std::string, std::less<>> takenNames() const;
    bool alive() const { return !serverGone_.load(); }

    jack_client_t* const client_;
    const std::atomic<bool>& serverGone_;
    std::array<Slot, maxSources> slots_;
    std::atomic<std::uint64_t> cycles_{0};
    std::vector<Parked> parked_; // oldest first
    // Our cycle count when a port was last unregistered, anyone's.
    std::atomic<std::uint64_t> releasedAt_{0};
    std::mutex ownLock_;
    std::vector<std::uint64_t> ownReleasing_; // our ports being unregistered
};

} // namespace tactimo
