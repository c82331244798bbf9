// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "AlsaSourceTable.h"

#include <map>

namespace tactimo {

bool AlsaSourceTable::isSource(int client, int ownClient, unsigned capability) {
    constexpr unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    return client != SND_SEQ_CLIENT_SYSTEM && client != ownClient && (capability & readable) == readable &&
           !(capability & SND_SEQ_PORT_CAP_NO_EXPORT);
}

std::optional<SourceKey> AlsaSourceTable::keyForListed(const Port& port, bool add) {
    const std::optional<SourceKey> key = add ? ledger_.key(port.address) : ledger_.find(port.address);
    if (!key) return std::nullopt;
    std::optional<Occupant>& occupant = *ledger_.info(*key);
    if (occupant && !occupant->sameClient(port.occupant)) return std::nullopt;
    occupant = port.occupant;
    ledger_.rename(*key, port.name);
    return key;
}

std::optional<AlsaSourceTable::Occupant> AlsaSourceTable::occupantOf(SourceKey key) const {
    const std::optional<Occupant>* occupant = ledger_.info(key);
    return occupant ? *occupant : std::nullopt;
}

bool AlsaSourceTable::onAnnounce(const snd_seq_event_t& event) {
    const Address address{event.data.addr.client, event.data.addr.port};
    switch (event.type) {
    case SND_SEQ_EVENT_CLIENT_START:
    case SND_SEQ_EVENT_PORT_START: break;
    case SND_SEQ_EVENT_PORT_EXIT:
        if (const auto key = ledger_.find(address)) ledger_.depart(*key);
        break;
    case SND_SEQ_EVENT_CLIENT_EXIT:
        ledger_.departIf([&](const Address& at, const auto&) { return at.client == address.client; });
        break;
    default: return false;
    }
    ++generation_;
    return true;
}

void AlsaSourceTable::resync(std::span<const Port> present) {
    std::map<Address, const Occupant*> now;
    for (const Port& p : present) now.emplace(p.address, &p.occupant);
    ledger_.departIf([&](const Address& address, const std::optional<Occupant>& occupant) {
        const auto found = now.find(address);
        return found == now.end() || !occupant || *occupant != *found->second;
    });
    ++generation_;
}

} // namespace tactimo
