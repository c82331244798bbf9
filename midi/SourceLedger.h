// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/SourceKey.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace tactimo {

// The keys of a backend's sources. A source is told apart by an Id (a JACK
// port's UUID, a sequencer address, a client's own key); it gets a key on
// first sight and keeps it until it departs. Ids are handed out again by
// their owners, so a key is never given twice: a later source under the same
// Id gets a new one. Info is what the owner records about a present source.
//
// Only present sources are held, and the names of the few that departed last
// (a late packet list of a departed source may still need its name): however
// often sources come and go, the ledger stays small. Not locked.
template <typename Id, typename Info = std::monostate>
class SourceLedger {
public:
    static constexpr SourceKey firstKey = virtualKey + 1;
    // Names of departed sources kept, the newest.
    static constexpr std::size_t departedNames = 64;

    // The key of a present source, given on first sight. None once all 2^32
    // keys are used up: dropping a newcomer beats filing it under a given key.
    std::optional<SourceKey> key(const Id& id) {
        if (const auto known = keys_.find(id); known != keys_.end()) return known->second;
        if (nextKey_ == 0) return std::nullopt;
        const SourceKey key = nextKey_++;
        keys_.emplace(id, key);
        present_.emplace(key, Entry{id, {}, {}});
        ++given_;
        return key;
    }
    // The key of a present source, without giving one.
    std::optional<SourceKey> find(const Id& id) const {
        const auto known = keys_.find(id);
        if (known == keys_.end()) return std::nullopt;
        return known->second;
    }
    std::optional<Id> idOf(SourceKey key) const {
        const auto entry = present_.find(key);
        if (entry == present_.end()) return std::nullopt;
        return entry->second.id;
    }
    // What the owner recorded about a present source; null once it departed.
    Info* info(SourceKey key) {
        const auto entry = present_.find(key);
        return entry == present_.end() ? nullptr : &entry->second.info;
    }
    const Info* info(SourceKey key) const {
        const auto entry = present_.find(key);
        return entry == present_.end() ? nullptr : &entry->second.info;
    }

    // The name a present source goes by now; empty for none.
    void rename(SourceKey key, std::string name) {
        if (const auto entry = present_.find(key); entry != present_.end()) entry->second.name = std::move(name);
    }
    // The name of a present source, or of one of the last few departed.
    std::optional<std::string> lastName(SourceKey key) const {
        std::string_view name;
        if (const auto entry = present_.find(key); entry != present_.end()) {
            name = entry->second.name;
        } else {
            const auto gone = std::ranges::find(departed_, key, &std::pair<SourceKey, std::string>::first);
            if (gone != departed_.end()) name = gone->second;
        }
        if (name.empty()) return std::nullopt;
        return std::string(name);
    }

    // The source leaves; its name is kept a while.
    void depart(SourceKey key) {
        if (const auto entry = present_.find(key); entry != present_.end()) depart(entry);
    }
    // Every present source for which leaves(id, info) holds departs.
    template <typename Leaves>
    void departIf(Leaves leaves) {
        for (auto entry = present_.begin(); entry != present_.end();) {
            if (leaves(std::as_const(entry->second.id), std::as_const(entry->second.info)))
                entry = depart(entry);
            else
                ++entry;
        }
    }

    // Entries held: present sources and departed names.
    std::size_t size() const { return present_.size() + departed_.size(); }
    std::size_t present() const { return present_.size(); }
    std::uint64_t keysGiven() const { return given_; }

private:
    struct Entry {
        Id id;
        std::string name;
        Info info;
    };
    using Entries = std::map<SourceKey, Entry>;

    typename Entries::iterator depart(typename Entries::iterator entry) {
        keys_.erase(entry->second.id);
        if (!entry->second.name.empty()) {
            departed_.emplace_back(entry->first, std::move(entry->second.name));
            if (departed_.size() > departedNames) departed_.pop_front();
        }
        return present_.erase(entry);
    }

    std::map<Id, SourceKey> keys_;
    Entries present_;
    std::deque<std::pair<SourceKey, std::string>> departed_; // oldest first
    SourceKey nextKey_ = firstKey;                           // 0 once used up
    std::uint64_t given_ = 0;
};

} // namespace tactimo
