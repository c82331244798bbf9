#pragma once

#include "core/SourceKey.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tactimo {

// Source keys of JACK's MIDI output ports. A key stands for one port from
// its first listing until it goes, and is never given again. JACK hands a
// freed port UUID to the next port registered, so UUIDs are not keys: a UUID
// reported unregistered, or missing from a listing, loses its key, and a port
// under that UUID later gets a new one.
//
// Only what present ports need is kept, and the names of a few ports that
// went last (a late packet list of a departed port may still need its name):
// however often senders come and go, the table stays small.
class JackSourceTable {
public:
    // Keys below this are left for the virtual destination.
    static constexpr SourceKey firstKey = 2;
    // Names of departed ports kept, newest first.
    static constexpr std::size_t departedNames = 32;

    // A MIDI output port as listed: its UUID and full name.
    struct Port {
        std::uint64_t uuid = 0;
        std::string name;
    };
    // A listed port under its key.
    struct Source {
        SourceKey key = 0;
        std::uint64_t uuid = 0;
        std::string name;
        friend bool operator==(const Source&, const Source&) = default;
    };

    // A UUID reported unregistered: the port listed under it next is a new one.
    void retire(std::uint64_t uuid);
    // Every UUID retired at once, for when some retirements may have been lost.
    void retireAll();
    // Applies a listing of the MIDI output ports present now (our own left
    // out) and returns them under their keys, in the listing's order. A UUID
    // listed twice keeps its first entry.
    std::vector<Source> list(const std::vector<Port>& ports);

    // The UUID of a key's port while it is present.
    std::optional<std::uint64_t> uuidOf(SourceKey key) const;
    // The full port name a key was last listed under: present ports, and
    // the last few that went.
    std::optional<std::string> lastName(SourceKey key) const;

    struct Sizes {
        std::size_t present = 0;  // keys of present ports
        std::size_t departed = 0; // names kept of ports that went
    };
    Sizes sizes() const;

private:
    void depart(SourceKey key);

    std::unordered_map<std::uint64_t, SourceKey> keyByUuid_; // present ports
    std::map<SourceKey, Port> present_;
    std::deque<std::pair<SourceKey, std::string>> departed_; // newest first
    SourceKey nextKey_ = firstKey;
};

} // namespace tactimo
