#include "AlsaSourceTable.h"

#include "SourceNames.h"

#include <algorithm>

namespace tactimo {

bool AlsaSourceTable::isSource(int client, int ownClient, unsigned capability) {
    constexpr unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    return client != SND_SEQ_CLIENT_SYSTEM && client != ownClient && (capability & readable) == readable &&
           !(capability & SND_SEQ_PORT_CAP_NO_EXPORT);
}

std::string AlsaSourceTable::displayName(const std::string& clientName, const std::string& portName) {
    return SourceNames::sequencerName(clientName, portName);
}

SourceKey AlsaSourceTable::keyFor(Address address) {
    const auto [it, added] = keys_.try_emplace(address, nextKey_);
    if (added) {
        live_[nextKey_] = {address, {}, std::nullopt};
        ++nextKey_;
    }
    return it->second;
}

std::optional<SourceKey> AlsaSourceTable::keyForListed(const Port& port, bool add) {
    if (!add && !keys_.contains(port.address)) return std::nullopt;
    const SourceKey key = keyFor(port.address);
    Entry& entry = live_.at(key);
    if (entry.occupant && !entry.occupant->sameClient(port.occupant)) return std::nullopt;
    entry.occupant = port.occupant;
    entry.name = port.name;
    return key;
}

std::optional<AlsaSourceTable::Address> AlsaSourceTable::addressOf(SourceKey key) const {
    const auto it = live_.find(key);
    if (it == live_.end()) return std::nullopt;
    return it->second.address;
}

std::optional<AlsaSourceTable::Occupant> AlsaSourceTable::occupantOf(SourceKey key) const {
    const auto it = live_.find(key);
    if (it == live_.end()) return std::nullopt;
    return it->second.occupant;
}

std::optional<std::string> AlsaSourceTable::lastName(SourceKey key) const {
    std::string_view name;
    if (const auto it = live_.find(key); it != live_.end()) {
        name = it->second.name;
    } else {
        const auto gone = std::ranges::find(departed_, key, &std::pair<SourceKey, std::string>::first);
        if (gone != departed_.end()) name = gone->second;
    }
    if (name.empty()) return std::nullopt;
    return std::string(name);
}

void AlsaSourceTable::depart(std::map<SourceKey, Entry>::iterator entry) {
    keys_.erase(entry->second.address);
    if (!entry->second.name.empty()) {
        departed_.emplace_back(entry->first, std::move(entry->second.name));
        if (departed_.size() > departedNames) departed_.pop_front();
    }
    live_.erase(entry);
}

bool AlsaSourceTable::onAnnounce(const snd_seq_event_t& event) {
    const Address address{event.data.addr.client, event.data.addr.port};
    switch (event.type) {
    case SND_SEQ_EVENT_CLIENT_START:
    case SND_SEQ_EVENT_PORT_START: break;
    case SND_SEQ_EVENT_PORT_EXIT:
        if (const auto it = keys_.find(address); it != keys_.end()) depart(live_.find(it->second));
        break;
    case SND_SEQ_EVENT_CLIENT_EXIT:
        // Addresses are ordered by client first: its ports lie together.
        for (auto it = keys_.lower_bound({address.client, 0}); it != keys_.end() && it->first.client == address.client;)
            depart(live_.find((it++)->second));
        break;
    default: return false;
    }
    ++generation_;
    return true;
}

void AlsaSourceTable::resync(std::span<const Port> present) {
    std::map<Address, const Occupant*> now;
    for (const Port& p : present) now.emplace(p.address, &p.occupant);
    for (auto it = live_.begin(); it != live_.end();) {
        const auto found = now.find(it->second.address);
        const bool same = found != now.end() && it->second.occupant && *it->second.occupant == *found->second;
        if (same) {
            ++it;
        } else {
            depart(it++);
        }
    }
    ++generation_;
}

} // namespace tactimo
