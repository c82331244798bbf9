// The keys every backend gives its sources: given on first sight, never
// again, and only the last few departed names kept.

#include "midi/SourceLedger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tactimo::test {
namespace {

TEST(SourceLedger, AKeyStandsForOneSourceFromFirstSightUntilItDeparts) {
    SourceLedger<int> ledger;
    // In turn: {what, the Id seen, whether the source there departed first, the key it gets}
    struct Row {
        const char* what;
        int id;
        bool departed;
        SourceKey key;
    };
    const Row rows[] = {
        {"first sight", 10, false, virtualKey + 1},
        {"another", 11, false, virtualKey + 2},
        {"seen again", 10, false, virtualKey + 1},
        {"its Id handed to a newcomer", 10, true, virtualKey + 3},
        {"the newcomer seen again", 10, false, virtualKey + 3},
        {"the other's Id handed on", 11, true, virtualKey + 4},
    };
    for (const Row& row : rows) {
        std::optional<SourceKey> old;
        if (row.departed) {
            old = ledger.find(row.id);
            ledger.depart(*old);
            EXPECT_FALSE(ledger.find(row.id)) << row.what;
        }
        EXPECT_EQ(ledger.key(row.id), row.key) << row.what;
        EXPECT_EQ(ledger.find(row.id), row.key) << row.what;
        EXPECT_EQ(ledger.idOf(row.key), row.id) << row.what;
        if (old) {
            EXPECT_FALSE(ledger.idOf(*old)) << row.what;
        }
    }
    EXPECT_EQ(ledger.keysGiven(), 4u);
}

// A sender restarting all day under the same Id: the ledger holds the
// present sources and the names of the last few that went, nothing more.
TEST(SourceLedger, OnlyTheNamesOfTheLastFewDepartedAreKept) {
    constexpr std::size_t kept = SourceLedger<int>::departedNames;
    SourceLedger<int> ledger;
    const SourceKey unnamed = *ledger.key(1);
    const SourceKey steady = *ledger.key(2);
    ledger.rename(steady, "old name");
    ledger.rename(steady, "steady");
    std::vector<SourceKey> restarts;
    for (int i = 0; i < 1000; ++i) {
        restarts.push_back(*ledger.key(3));
        ledger.rename(restarts.back(), "sender " + std::to_string(i));
        ledger.depart(restarts.back());
    }
    ledger.depart(unnamed); // leaves no name behind

    EXPECT_EQ(ledger.present(), 1u);
    EXPECT_EQ(ledger.size(), 1 + kept);
    // {key, its last name, or none}
    const std::pair<SourceKey, std::optional<std::string>> rows[] = {
        {steady, "steady"},
        {restarts.back(), "sender 999"},
        {restarts[1000 - kept], "sender " + std::to_string(1000 - kept)},
        {restarts[1000 - kept - 1], std::nullopt},
        {unnamed, std::nullopt},
        {restarts.back() + 1, std::nullopt},
    };
    for (const auto& [key, name] : rows) EXPECT_EQ(ledger.lastName(key), name) << key;
}

} // namespace
} // namespace tactimo::test
