#include "AlsaSourceTable.h"

namespace tactimo {

bool AlsaSourceTable::isSource(int client, int ownClient, unsigned capability) {
    constexpr unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    return client != SND_SEQ_CLIENT_SYSTEM && client != ownClient && (capability & readable) == readable &&
           !(capability & SND_SEQ_PORT_CAP_NO_EXPORT);
}

std::string AlsaSourceTable::displayName(const std::string& clientName, const std::string& portName) {
    if (clientName.empty()) return portName;
    if (portName.empty()) return clientName;
    return clientName + ":" + portName;
}

SourceKey AlsaSourceTable::keyFor(Address address, std::optional<std::string> name) {
    auto [it, added] = live_.try_emplace(address, nextKey_);
    if (added) {
        ++nextKey_;
        entries_[it->second] = {address, {}, true};
    }
    if (name) entries_[it->second].name = std::move(*name);
    return it->second;
}

std::optional<AlsaSourceTable::Address> AlsaSourceTable::addressOf(SourceKey key) const {
    const auto it = entries_.find(key);
    if (it == entries_.end() || !it->second.live) return std::nullopt;
    return it->second.address;
}

std::optional<std::string> AlsaSourceTable::lastName(SourceKey key) const {
    const auto it = entries_.find(key);
    if (it == entries_.end() || it->second.name.empty()) return std::nullopt;
    return it->second.name;
}

bool AlsaSourceTable::onAnnounce(const snd_seq_event_t& event) {
    const Address address{event.data.addr.client, event.data.addr.port};
    switch (event.type) {
    case SND_SEQ_EVENT_CLIENT_START:
    case SND_SEQ_EVENT_PORT_START: return true;
    case SND_SEQ_EVENT_PORT_EXIT:
        if (const auto it = live_.find(address); it != live_.end()) {
            entries_[it->second].live = false;
            live_.erase(it);
        }
        return true;
    case SND_SEQ_EVENT_CLIENT_EXIT:
        for (auto it = live_.begin(); it != live_.end();) {
            if (it->first.client == address.client) {
                entries_[it->second].live = false;
                it = live_.erase(it);
            } else {
                ++it;
            }
        }
        return true;
    default: return false;
    }
}

} // namespace tactimo
