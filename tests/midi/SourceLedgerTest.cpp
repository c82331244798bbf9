// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Keys of sources: given on first sight and never again, though JACK and the kernel reuse ids.

#include "midi/AlsaSourceTable.h"
#include "midi/JackSourceTable.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace tactimo::test {
namespace {

TEST(SourceLedger, KeysAreGivenOnFirstSightNeverAgainAndFewNamesOutliveThem) {
    SourceLedger<int> ledger;
    constexpr SourceKey first = SourceLedger<int>::firstKey, kept = SourceLedger<int>::departedNames;
    // In turn: {the Id seen, whether the source there departed first, the key it gets}
    const std::tuple<int, bool, SourceKey> rows[] = {
        {10, false, first}, {11, false, first + 1}, {10, false, first}, {10, true, first + 2}, {11, true, first + 3}};
    for (const auto& [id, departed, key] : rows) {
        if (departed) ledger.depart(*ledger.find(id));
        EXPECT_EQ(ledger.key(id), key) << id;
        EXPECT_EQ(ledger.idOf(key), id) << id;
    }
    // A sender restarting all day under one Id, beside one that stays and one without a name.
    ledger.rename(first + 2, "steady");
    ledger.depart(first + 3);
    for (int i = 0; i < 1000; ++i) {
        ledger.rename(*ledger.key(3), "sender " + std::to_string(i));
        ledger.depart(*ledger.find(3));
    }
    EXPECT_EQ(ledger.size(), 1 + kept);
    const SourceKey last = first + 1003;
    const std::pair<SourceKey, std::optional<std::string>> names[] = {
        {first + 2, "steady"}, {last, "sender 999"},      {last + 1 - kept, "sender " + std::to_string(1000 - kept)},
        {last - kept, {}},     {first + 3, std::nullopt}, {last + 1, std::nullopt}};
    for (const auto& [key, name] : names) EXPECT_EQ(ledger.lastName(key), name) << key;
}

TEST(JackSourceTable, KeysFollowPortsNotTheirUuids) {
    // In turn: UUIDs unregistered (-1: notices lost), a listing of {UUID, name}, and who that is.
    using Listing = std::vector<std::pair<std::uint64_t, std::string>>;
    const std::tuple<std::vector<int>, Listing, std::string> steps[] = {
        {{}, {{10, "a:out"}, {11, "b:out"}}, "AB"},
        {{99}, {{11, "b:out"}, {10, "a:renamed"}}, "BA"},
        {{10}, {{10, "a:renamed"}, {11, "b:out"}}, "CB"},
        {{}, {{10, "a:renamed"}}, "C"},
        {{}, {{10, "a:renamed"}, {11, "b:out"}}, "CD"},
        {{-1}, {{10, "a:renamed"}, {10, "x:out"}, {11, "b:out"}}, "EF"},
    };
    JackSourceTable table;
    std::map<char, SourceKey> keyOf;
    std::set<SourceKey> given;
    for (int row = 0; const auto& [retired, listing, senders] : steps) {
        for (const int uuid : retired) uuid < 0 ? table.retireAll() : table.retire(std::uint64_t(uuid));
        std::vector<JackSourceTable::Port> ports;
        for (const auto& [uuid, name] : listing) ports.push_back({uuid, name, std::nullopt});
        const auto listed = table.list(ports, true).sources;
        ASSERT_EQ(listed.size(), senders.size()) << "row " << row;
        for (std::size_t i = 0; i < listed.size(); ++i) {
            const auto [known, added] = keyOf.try_emplace(senders[i], listed[i].key);
            EXPECT_TRUE(added ? given.insert(listed[i].key).second : listed[i].key == known->second) << "row " << row;
        }
        ++row;
    }
    EXPECT_EQ(table.lastName(keyOf['A']), "a:renamed");
}

// After lost announcements, a listing tells who holds 128:0: {listed before, listed after, keeps its key?}.
TEST(AlsaSourceTable, AfterLostAnnouncementsOnlyProvenOccupantsKeepTheirKeys) {
    using Occupant = AlsaSourceTable::Occupant;
    const Occupant clock{1000, -1, "Clock"}, card{-1, 1, "USB MIDI"};
    const std::tuple<std::optional<Occupant>, std::optional<Occupant>, bool> rows[] = {
        {clock, clock, true},
        {clock, Occupant{1000, -1, "Clock 2"}, false}, // renamed, or another client of the process
        {card, card, true},
        {clock, Occupant{1001, -1, "Clock"}, false},
        {card, Occupant{-1, 1, "Keyboard"}, false}, // another device on the card
        {clock, std::nullopt, false},
        {std::nullopt, clock, false}, // only ever seen sending: no one to tell apart
    };
    for (int row = 0; const auto& [before, after, keeps] : rows) {
        AlsaSourceTable table;
        const SourceKey key = before ? *table.keyForListed({{128, 0}, "Clock:out", *before}) : *table.keyFor({128, 0});
        const SourceKey other = *table.keyForListed({{129, 0}, "Other:out", clock});
        std::vector<AlsaSourceTable::Port> present{{{129, 0}, "Other:out", clock}};
        if (after) present.push_back({{128, 0}, "Clock:out", *after});
        table.resync(present);
        EXPECT_EQ(table.keyFor({128, 0}) == key, keeps) << "row " << row;
        EXPECT_EQ(table.keyFor({129, 0}), other) << "row " << row++;
    }
    // Only exported readable ports of other clients (we are 130; 0 is System) are sources.
    constexpr unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    const std::pair<int, unsigned> notSources[] = {
        {0, readable}, {130, readable}, {20, SND_SEQ_PORT_CAP_READ}, {20, readable | SND_SEQ_PORT_CAP_NO_EXPORT}};
    for (const auto& [client, caps] : notSources)
        EXPECT_FALSE(AlsaSourceTable::isSource(client, 130, caps)) << client << " " << caps;
    EXPECT_TRUE(AlsaSourceTable::isSource(129, 130, readable | SND_SEQ_PORT_CAP_WRITE));
}

} // namespace
} // namespace tactimo::test
