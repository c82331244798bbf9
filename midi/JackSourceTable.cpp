// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "JackSourceTable.h"

#include <unordered_set>

namespace tactimo {

void JackSourceTable::retire(std::uint64_t uuid) {
    if (const auto key = ledger_.find(uuid)) ledger_.depart(*key);
}

void JackSourceTable::retireAll() {
    ledger_.departIf([](const auto&, const auto&) { return true; });
}

JackSourceTable::Listing JackSourceTable::list(const std::vector<Port>& ports, bool readBridges) {
    Listing listing;
    std::unordered_set<std::uint64_t> listed;
    for (const Port& port : ports) {
        if (port.bridge && !port.bridge->exclusive && !readBridges) {
            listing.hidden.push_back(port.name);
            continue;
        }
        if (!listed.insert(port.uuid).second) continue;
        const std::optional<SourceKey> key = ledger_.key(port.uuid);
        if (!key) continue;
        ledger_.rename(*key, port.name); // a renamed port keeps its key
        *ledger_.info(*key) = port.bridge;
        listing.sources.push_back({*key, port.uuid, port.name, port.bridge});
    }
    // Not listed: gone, even if no one told us.
    ledger_.departIf([&](std::uint64_t uuid, const auto&) { return !listed.contains(uuid); });
    return listing;
}

std::optional<JackBridge> JackSourceTable::bridgeOf(SourceKey key) const {
    const std::optional<JackBridge>* bridge = ledger_.info(key);
    return bridge ? *bridge : std::nullopt;
}

} // namespace tactimo
