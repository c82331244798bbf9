#pragma once

#include "core/SourceKey.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace tactimo {

// Our source keys for the keys of several backend clients. Each client (one
// appearance of a backend) has a key space of its own; a key of ours is
// assigned on first sight of a client's key and never given again, so a
// backend that comes back with the keys it used before still gets new ones.
// The virtual destination of every client is the one virtualKey.
// Not locked: the owner guards it.
class SourceKeyMap {
public:
    using Client = std::uint64_t;
    static constexpr SourceKey virtualKey = 1;
    // Last names kept of the keys of clients that are gone.
    static constexpr std::size_t departedNameLimit = 64;

    struct Origin {
        Client client = 0;
        SourceKey inner = 0;
    };

    // A new client whose virtual destination has the key innerVirtual.
    Client add(SourceKey innerVirtual);
    // Forgets a client's keys; their last names are kept, the newest few only.
    void remove(Client client);

    // Our key for a client's key, assigned on first sight. None for a client
    // that is not (or no longer) there, and once all 2^32 keys are used up.
    std::optional<SourceKey> outer(Client client, SourceKey inner);
    // The client and its key behind our key, while that client is there.
    std::optional<Origin> origin(SourceKey outer) const;

    // The latest display name a client gave for our key, which outlives the client.
    void rememberName(SourceKey outer, std::string name);
    std::optional<std::string> lastName(SourceKey outer) const;

private:
    struct Entry {
        Origin origin;
        std::optional<std::string> name;
    };
    struct ClientKeys {
        SourceKey innerVirtual = 0;
        std::unordered_map<SourceKey, SourceKey> outerByInner;
    };

    std::unordered_map<Client, ClientKeys> clients_;
    std::unordered_map<SourceKey, Entry> entries_;
    std::deque<std::pair<SourceKey, std::string>> departed_; // oldest first
    Client nextClient_ = 1;
    SourceKey nextKey_ = virtualKey + 1; // 0 once used up
};

} // namespace tactimo
