#include "SourceKeyMap.h"

#include <algorithm>

namespace tactimo {

SourceKeyMap::Client SourceKeyMap::add(SourceKey innerVirtual) {
    const Client client = nextClient_++;
    clients_[client].innerVirtual = innerVirtual;
    return client;
}

void SourceKeyMap::remove(Client client) {
    const auto found = clients_.find(client);
    if (found == clients_.end()) return;
    for (const auto& [inner, outer] : found->second.outerByInner) {
        const auto entry = entries_.find(outer);
        if (entry == entries_.end()) continue;
        if (entry->second.name) departed_.emplace_back(outer, std::move(*entry->second.name));
        entries_.erase(entry);
    }
    clients_.erase(found);
    while (departed_.size() > departedNameLimit) departed_.pop_front();
}

std::optional<SourceKey> SourceKeyMap::outer(Client client, SourceKey inner) {
    const auto found = clients_.find(client);
    if (found == clients_.end()) return std::nullopt;
    ClientKeys& keys = found->second;
    if (inner == keys.innerVirtual) return virtualKey;
    if (const auto known = keys.outerByInner.find(inner); known != keys.outerByInner.end()) return known->second;
    // Dropping a newcomer's data beats filing it under a key already given.
    if (nextKey_ == 0) return std::nullopt;
    const SourceKey key = nextKey_++;
    keys.outerByInner.emplace(inner, key);
    entries_.emplace(key, Entry{{client, inner}, std::nullopt});
    return key;
}

std::optional<SourceKeyMap::Origin> SourceKeyMap::origin(SourceKey outer) const {
    const auto found = entries_.find(outer);
    if (found == entries_.end()) return std::nullopt;
    return found->second.origin;
}

void SourceKeyMap::rememberName(SourceKey outer, std::string name) {
    if (const auto found = entries_.find(outer); found != entries_.end()) found->second.name = std::move(name);
}

std::optional<std::string> SourceKeyMap::lastName(SourceKey outer) const {
    if (const auto found = entries_.find(outer); found != entries_.end()) return found->second.name;
    const auto departed =
        std::find_if(departed_.rbegin(), departed_.rend(), [&](const auto& entry) { return entry.first == outer; });
    if (departed != departed_.rend()) return departed->second;
    return std::nullopt;
}

} // namespace tactimo
