// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "JackPortPool.h"

#include "JackPortName.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace tactimo {

JackPortPool::JackPortPool(jack_client_t* client, const std::atomic<bool>& serverGone)
    : client_(client),
      serverGone_(serverGone) {}

void JackPortPool::serve(const std::vector<JackSourceTable::Source>& listed,
                         const std::function<std::string(const JackSourceTable::Source&)>& shownName) {
    takeGone(listed);
    std::set<std::string, std::less<>> taken = takenNames();
    const auto isTaken = [&](std::string_view name) { return taken.contains(name); };
    // A full name "<client>:<short>" and its terminator within jack_port_name_size().
    const int room = jack_port_name_size() - 2 - int(std::strlen(jack_get_client_name(client_))) - 1;
    const std::size_t limit = std::size_t(std::max(room, 16));

    for (const JackSourceTable::Source& source : listed) {
        const std::string base = JackPortName::forSource(shownName(source), limit);
        Slot* slot = slotFor(source.key);
        if (!slot) {
            const auto empty =
                std::ranges::find_if(slots_, [](const Slot& s) { return !s.port.load(std::memory_order_relaxed); });
            if (empty == slots_.end()) continue; // more sources than we keep ports for
            const std::string name = JackPortName::unique(base, limit, isTaken);
            if (!parked_.empty()) taken.erase(jack_port_short_name(parked_.back().port));
            jack_port_t* port = newPort(name);
            if (!port) continue;
            taken.insert(name);
            slot = &*empty;
            slot->named = base;
            slot->key.store(source.key, std::memory_order_relaxed);
            slot->port.store(port, std::memory_order_release);
        } else if (slot->named != base) {
            // The source was renamed (a pretty name set or taken away): its port follows.
            jack_port_t* ours = slot->port.load(std::memory_order_relaxed);
            const std::string old = jack_port_short_name(ours);
            taken.erase(old);
            const std::string name = JackPortName::unique(base, limit, isTaken);
            taken.insert(jack_port_rename(client_, ours, name.c_str()) == 0 ? name : old);
            slot->named = base; // tried once, not at every listing
        }
        connectAlone(slot->port.load(std::memory_order_relaxed), source);
    }
}

// Ports of sources that are gone: taken away from the process callback,
// which finishes the cycles that may still use them, then parked.
void JackPortPool::takeGone(const std::vector<JackSourceTable::Source>& listed) {
    std::set<SourceKey> present;
    for (const JackSourceTable::Source& source : listed) present.insert(source.key);
    std::vector<jack_port_t*> gone;
    for (Slot& slot : slots_) {
        jack_port_t* port = slot.port.load(std::memory_order_relaxed);
        if (port && !present.contains(slot.key.load(std::memory_order_relaxed))) {
            slot.port.store(nullptr, std::memory_order_release);
            gone.push_back(port);
        }
    }
    if (gone.empty()) return;
    waitUntilCycle(cycles_.load(std::memory_order_acquire) + 2);
    for (jack_port_t* port : gone) parked_.push_back({port, std::chrono::steady_clock::now()});
}

JackPortPool::Slot* JackPortPool::slotFor(SourceKey key) {
    Slot* found = nullptr;
    for (Slot& slot : slots_)
        if (slot.port.load(std::memory_order_relaxed) && slot.key.load(std::memory_order_relaxed) == key) found = &slot;
    return found;
}

std::set<std::string, std::less<>> JackPortPool::takenNames() const {
    std::set<std::string, std::less<>> taken{"Tactimo"};
    for (const Slot& slot : slots_)
        if (const jack_port_t* port = slot.port.load(std::memory_order_relaxed))
            taken.insert(jack_port_short_name(port));
    for (const Parked& parked : parked_) taken.insert(jack_port_short_name(parked.port));
    return taken;
}

// The newest parked port, renamed, else a new one.
jack_port_t* JackPortPool::newPort(const std::string& name) {
    if (!parked_.empty()) {
        jack_port_t* port = parked_.back().port;
        parked_.pop_back();
        // Whatever still feeds it belongs to another key.
        if (jack_port_connected(port) > 0) jack_port_disconnect(client_, port);
        // A libjack that cannot rename would leave it named after another source.
        if (jack_port_rename(client_, port, name.c_str()) == 0) return port;
        unregisterOwn(port);
    }
    // libjack's process thread follows the connections of the graph it runs,
    // but a freed port index is handed out again at once: an input port
    // registered at the index of a source port freed in the same cycle sends
    // jack_port_get_buffer of the port that source fed into endless
    // recursion. Parked ports spare most registrations; for the rest, wait
    // until the graph without the last port freed that we know of runs.
    waitUntilCycle(releasedAt_.load() + 2);
    return jack_port_register(client_, name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
}

void JackPortPool::connectAlone(jack_port_t* ours, const JackSourceTable::Source& source) {
    const char* ourName = jack_port_name(ours);
    // The listing may be a while old, and JACK connects by name: a port that
    // has taken the listed one's name under another UUID is left for the
    // next listing, which gives it a key of its own.
    jack_port_t* theirs = jack_port_by_name(client_, source.name.c_str());
    if (!theirs || jack_port_uuid(theirs) != source.uuid) return;
    // Asking is local; connecting is a round trip to the server. When a
    // connection exists already, jack_connect gives EEXIST and doubles nothing.
    if (!jack_port_connected_to(ours, source.name.c_str())) jack_connect(client_, source.name.c_str(), ourName);
    // A port of ours carries one source only; anything else on it would be
    // filed under this source's key.
    if (const char** peers = jack_port_get_all_connections(client_, ours)) {
        for (const char** peer = peers; *peer; ++peer)
            if (source.name != *peer) jack_disconnect(client_, *peer, ourName);
        jack_free(peers);
    }
}

bool JackPortPool::reads(SourceKey key, const std::string& portName) const {
    for (const Slot& slot : slots_) {
        jack_port_t* ours = slot.port.load(std::memory_order_relaxed);
        if (ours && slot.key.load(std::memory_order_relaxed) == key && jack_port_connected_to(ours, portName.c_str()))
            return true;
    }
    return false;
}

std::optional<std::chrono::steady_clock::time_point> JackPortPool::freeParked() {
    const auto now = std::chrono::steady_clock::now();
    while (!parked_.empty() && now - parked_.front().since >= parkedFor) {
        jack_port_t* port = parked_.front().port;
        parked_.erase(parked_.begin());
        if (alive()) unregisterOwn(port); // else gone with the client
    }
    if (parked_.empty()) return std::nullopt;
    return parked_.front().since + parkedFor;
}

void JackPortPool::unregisterOwn(jack_port_t* port) {
    {
        std::lock_guard guard(ownLock_);
        ownReleasing_.push_back(jack_port_uuid(port));
    }
    jack_port_unregister(client_, port);
    releasedAt_.store(cycles_.load(std::memory_order_acquire));
}

bool JackPortPool::released(std::uint64_t uuid) {
    releasedAt_.store(cycles_.load(std::memory_order_acquire));
    std::lock_guard guard(ownLock_);
    const auto own = std::ranges::find(ownReleasing_, uuid);
    if (own == ownReleasing_.end()) return false;
    ownReleasing_.erase(own);
    return true;
}

void JackPortPool::waitUntilCycle(std::uint64_t cycle) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    while (cycles_.load(std::memory_order_acquire) < cycle && alive() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace tactimo
