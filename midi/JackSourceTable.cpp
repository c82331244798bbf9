#include "JackSourceTable.h"

#include <unordered_set>

namespace tactimo {

void JackSourceTable::retire(std::uint64_t uuid) {
    const auto it = keyByUuid_.find(uuid);
    if (it == keyByUuid_.end()) return;
    depart(it->second);
    keyByUuid_.erase(it);
}

void JackSourceTable::retireAll() {
    for (const auto& [uuid, key] : keyByUuid_) depart(key);
    keyByUuid_.clear();
}

std::vector<JackSourceTable::Source> JackSourceTable::list(const std::vector<Port>& ports) {
    std::vector<Source> result;
    std::unordered_set<std::uint64_t> listed;
    for (const Port& port : ports) {
        if (!listed.insert(port.uuid).second) continue;
        const auto [it, added] = keyByUuid_.try_emplace(port.uuid, nextKey_);
        if (added) ++nextKey_;
        present_[it->second] = port; // a renamed port keeps its key
        result.push_back({it->second, port.uuid, port.name});
    }
    // Not listed: gone, even if no one told us.
    for (auto it = keyByUuid_.begin(); it != keyByUuid_.end();) {
        if (listed.count(it->first)) {
            ++it;
        } else {
            depart(it->second);
            it = keyByUuid_.erase(it);
        }
    }
    return result;
}

void JackSourceTable::depart(SourceKey key) {
    const auto it = present_.find(key);
    if (it == present_.end()) return;
    departed_.emplace_front(key, std::move(it->second.name));
    if (departed_.size() > departedNames) departed_.pop_back();
    present_.erase(it);
}

std::optional<std::uint64_t> JackSourceTable::uuidOf(SourceKey key) const {
    const auto it = present_.find(key);
    if (it == present_.end()) return std::nullopt;
    return it->second.uuid;
}

std::optional<std::string> JackSourceTable::lastName(SourceKey key) const {
    if (const auto it = present_.find(key); it != present_.end()) return it->second.name;
    for (const auto& [departedKey, name] : departed_)
        if (departedKey == key) return name;
    return std::nullopt;
}

JackSourceTable::Sizes JackSourceTable::sizes() const {
    return {present_.size(), departed_.size()};
}

} // namespace tactimo
