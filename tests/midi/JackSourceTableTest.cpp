// Source keys of JACK ports without a server: what a listing and the
// unregistration notices do to keys, JACK handing freed UUIDs out again.

#include "midi/JackSourceTable.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace tactimo::test {
namespace {

using Port = JackSourceTable::Port;

// One port in a listing, and who it really is: the same sender keeps its
// key; a new one gets a key never given before.
struct Seen {
    std::uint64_t uuid;
    std::string name;
    char sender;
};

TEST(JackSourceTable, KeysFollowPortsNotTheirUuids) {
    struct Step {
        const char* what;
        std::vector<std::uint64_t> retired;
        bool retireAll;
        std::vector<Seen> listing;
    };
    const Step steps[] = {
        {"first listing", {}, false, {{10, "a:out", 'A'}, {11, "b:out", 'B'}}},
        {"listed again", {}, false, {{11, "b:out", 'B'}, {10, "a:out", 'A'}}},
        {"renamed", {}, false, {{10, "a:renamed", 'A'}, {11, "b:out", 'B'}}},
        {"an unknown UUID retired", {99}, false, {{10, "a:renamed", 'A'}, {11, "b:out", 'B'}}},
        {"UUID given again after a notice", {10}, false, {{10, "a:renamed", 'C'}, {11, "b:out", 'B'}}},
        {"gone without a notice", {}, false, {{10, "a:renamed", 'C'}}},
        {"its UUID given again", {}, false, {{10, "a:renamed", 'C'}, {11, "b:out", 'D'}}},
        {"notices lost", {}, true, {{10, "a:renamed", 'E'}, {11, "b:out", 'F'}}},
        {"a UUID listed twice", {}, false, {{10, "a:renamed", 'E'}, {10, "x:out", 'E'}, {11, "b:out", 'F'}}},
    };
    JackSourceTable table;
    std::map<char, SourceKey> keyOf;
    std::set<SourceKey> given;
    for (const Step& step : steps) {
        for (const std::uint64_t uuid : step.retired) table.retire(uuid);
        if (step.retireAll) table.retireAll();
        std::vector<Port> ports;
        for (const Seen& seen : step.listing) ports.push_back({seen.uuid, seen.name, std::nullopt});
        const auto listed = table.list(ports, true).sources;

        std::vector<char> senders; // in the listing's order, a UUID's first entry only
        std::set<std::uint64_t> uuids;
        for (const Seen& seen : step.listing)
            if (uuids.insert(seen.uuid).second) senders.push_back(seen.sender);
        ASSERT_EQ(listed.size(), senders.size()) << step.what;
        for (std::size_t i = 0; i < listed.size(); ++i) {
            const auto [known, added] = keyOf.try_emplace(senders[i], listed[i].key);
            if (added)
                EXPECT_TRUE(given.insert(listed[i].key).second) << step.what << ": " << senders[i] << " got a used key";
            else
                EXPECT_EQ(listed[i].key, known->second) << step.what << ": " << senders[i] << " changed its key";
            EXPECT_GT(listed[i].key, virtualKey) << step.what;
            EXPECT_EQ(table.lastName(listed[i].key), listed[i].name) << step.what;
        }
    }
}

} // namespace
} // namespace tactimo::test
