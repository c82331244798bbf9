// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "AlsaRouteGraph.h"

#include <algorithm>
#include <iterator>

namespace tactimo {

bool AlsaRouteGraph::isThru(bool kernelClient, int card, unsigned capability) {
    constexpr unsigned both = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE;
    return kernelClient && card < 0 && (capability & both) == both;
}

void AlsaRouteGraph::setOwnPorts(Address input, Address publicPort) {
    input_ = input;
    public_ = publicPort;
}

void AlsaRouteGraph::addThru(Address port, const std::set<Address>& writers) {
    thru_.insert(port);
    writers_[port].insert(writers.begin(), writers.end());
}

void AlsaRouteGraph::setWriters(Address ownPort, const std::set<Address>& writers) {
    writers_[ownPort] = writers;
}

void AlsaRouteGraph::clear() {
    thru_.clear();
    writers_.clear();
}

void AlsaRouteGraph::forget(Address port) {
    thru_.erase(port);
    writers_.erase(port);
    for (auto& [dest, writers] : writers_) writers.erase(port);
}

void AlsaRouteGraph::onAnnounce(const snd_seq_event_t& event) {
    switch (event.type) {
    case SND_SEQ_EVENT_PORT_SUBSCRIBED:
    case SND_SEQ_EVENT_PORT_UNSUBSCRIBED: {
        const Address sender{event.data.connect.sender.client, event.data.connect.sender.port};
        const Address dest{event.data.connect.dest.client, event.data.connect.dest.port};
        if (dest != input_ && dest != public_ && !thru_.contains(dest)) return;
        if (event.type == SND_SEQ_EVENT_PORT_SUBSCRIBED)
            writers_[dest].insert(sender);
        else
            writers_[dest].erase(sender);
        return;
    }
    case SND_SEQ_EVENT_PORT_EXIT: forget({event.data.addr.client, event.data.addr.port}); return;
    case SND_SEQ_EVENT_CLIENT_EXIT: {
        const int client = event.data.addr.client;
        const auto ofClient = [&](const Address& a) { return a.client == client; };
        std::erase_if(thru_, ofClient);
        std::erase_if(writers_, [&](const auto& entry) { return ofClient(entry.first); });
        for (auto& [dest, writers] : writers_) std::erase_if(writers, ofClient);
        return;
    }
    default: return;
    }
}

bool AlsaRouteGraph::mirrored(Address source, Address dest) const {
    const auto writersOf = [&](Address port) -> const std::set<Address>& {
        static const std::set<Address> none;
        const auto it = writers_.find(port);
        return it == writers_.end() ? none : it->second;
    };
    const std::set<Address>& direct = writersOf(input_);
    if (dest == public_) return writersOf(public_).contains(source) && direct.contains(source);
    if (dest != input_ || !thru_.contains(source)) return false;
    // All that is written to the thru port reaches us directly: it adds nothing.
    bool any = false;
    for (const Address& writer : writersOf(source)) {
        if (writer == source) continue; // a thru port fed back into itself
        if (!direct.contains(writer)) return false;
        any = true;
    }
    return any;
}

} // namespace tactimo
