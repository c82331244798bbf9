// Keys of sequencer addresses without the kernel: which ports are sources,
// what announcements and lost announcements do to keys, and that a day of
// restarting senders does not grow the table.

#include "midi/AlsaSourceTable.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

// Designated initializers zero the sequencer's C structs; no need to name every field.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tactimo {
namespace {

using Address = AlsaSourceTable::Address;
using Occupant = AlsaSourceTable::Occupant;
using Port = AlsaSourceTable::Port;

snd_seq_event_t announce(snd_seq_event_type_t type, int client, int port = 0) {
    return {.type = type, .data = {.addr = {std::uint8_t(client), std::uint8_t(port)}}};
}

TEST(AlsaSourceTable, OnlyExportedReadablePortsOfOtherClientsAreSources) {
    constexpr unsigned read = SND_SEQ_PORT_CAP_READ, subs = SND_SEQ_PORT_CAP_SUBS_READ;
    constexpr unsigned write = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    // {client, capabilities, a source?}; we are client 130, 0 is System
    const std::tuple<int, unsigned, bool> table[] = {{20, read | subs, true},
                                                     {129, read | subs | write, true},
                                                     {0, read | subs, false},
                                                     {130, read | subs, false},
                                                     {20, read | subs | SND_SEQ_PORT_CAP_NO_EXPORT, false},
                                                     {20, read, false},
                                                     {20, subs, false},
                                                     {20, write, false}};
    for (auto [client, caps, source] : table)
        EXPECT_EQ(AlsaSourceTable::isSource(client, 130, caps), source) << client << " " << caps;
}

TEST(AlsaSourceTable, KeysLastWhileTheirPortLivesAndAreNeverGivenAgain) {
    AlsaSourceTable table;
    const SourceKey a = *table.keyForListed({{128, 0}, "Clock:out", {1000, -1, "Clock"}}), b = *table.keyFor({129, 0});
    EXPECT_NE(a, b);
    EXPECT_GT(std::min(a, b), virtualKey);
    // In turn: {announcement, client, port, a set-up change?, 128:0 keeps its key?, 129:0 keeps its key?}
    // Renames and subscriptions change nothing; another port of 128 leaving leaves 128:0.
    const std::tuple<snd_seq_event_type_t, int, int, bool, bool, bool> steps[] = {
        {SND_SEQ_EVENT_CLIENT_START, 131, 0, true, true, true},
        {SND_SEQ_EVENT_PORT_START, 131, 0, true, true, true},
        {SND_SEQ_EVENT_CLIENT_CHANGE, 128, 0, false, true, true},
        {SND_SEQ_EVENT_PORT_CHANGE, 128, 0, false, true, true},
        {SND_SEQ_EVENT_PORT_SUBSCRIBED, 128, 0, false, true, true},
        {SND_SEQ_EVENT_PORT_UNSUBSCRIBED, 128, 0, false, true, true},
        {SND_SEQ_EVENT_PORT_EXIT, 128, 1, true, true, true},
        {SND_SEQ_EVENT_CLIENT_EXIT, 128, 0, true, false, true},
        {SND_SEQ_EVENT_PORT_EXIT, 129, 0, true, false, false}};
    for (int row = 0; auto [type, client, port, change, keepA, keepB] : steps) {
        EXPECT_EQ(table.onAnnounce(announce(type, client, port)), change) << "row " << row;
        EXPECT_EQ(table.addressOf(a).has_value(), keepA) << "row " << row;
        EXPECT_EQ(table.addressOf(b).has_value(), keepB) << "row " << row++;
    }
    // Newcomers at the old addresses get new keys; the old name outlives its port.
    const SourceKey a2 = *table.keyFor({128, 0}), b2 = *table.keyFor({129, 0});
    EXPECT_EQ((std::set{a, b, a2, b2}.size()), 4u);
    EXPECT_EQ(table.keyFor({128, 0}), a2);
    EXPECT_EQ(table.lastName(a), "Clock:out");
}

TEST(AlsaSourceTable, ListingNeverFilesAnotherClientUnderAKey) {
    AlsaSourceTable table;
    const Port clock{{128, 0}, "Clock:out", {1000, -1, "Clock"}};
    const SourceKey key = *table.keyForListed(clock);
    // {listed port, may add?, the key it gets, or none}
    const std::tuple<Port, bool, std::optional<SourceKey>> rows[] = {
        {clock, true, key},
        // Renamed (not announced before Linux 6.6): the same client, newly named.
        {{{128, 0}, "Tempo:out", {1000, -1, "Tempo"}}, true, key},
        // Another process at the address: its arrival is still to be read.
        {{{128, 0}, "Clock:out", {1001, -1, "Clock"}}, true, std::nullopt},
        // A listing that may be stale names no new address.
        {{{129, 0}, "Other:out", {1002, -1, "Other"}}, false, std::nullopt},
    };
    for (int row = 0; const auto& [port, add, expected] : rows)
        EXPECT_EQ(table.keyForListed(port, add), expected) << "row " << row++;
    EXPECT_EQ(table.lastName(key), "Tempo:out");
    EXPECT_FALSE(table.addressOf(key + 1));
}

TEST(AlsaSourceTable, AfterLostAnnouncementsOnlyProvenOccupantsKeepTheirKeys) {
    // Each row: a listed occupant of 128:0, then who holds 128:0 once announcements were lost.
    const Occupant clock{1000, -1, "Clock"};
    const Occupant card{-1, 1, "USB MIDI"};
    const std::tuple<const char*, std::optional<Occupant>, std::optional<Occupant>, bool> rows[] = {
        {"the same process", clock, clock, true},
        {"the same card", card, card, true},
        {"another process", clock, Occupant{1001, -1, "Clock"}, false},
        {"renamed, or another client of the same process", clock, Occupant{1000, -1, "Clock 2"}, false},
        {"another device on the card", card, Occupant{-1, 1, "Keyboard"}, false},
        {"gone", clock, std::nullopt, false},
        {"only ever seen sending", std::nullopt, clock, false},
    };
    for (const auto& [what, before, after, keeps] : rows) {
        AlsaSourceTable table;
        const SourceKey key = before ? *table.keyForListed({{128, 0}, "Clock:out", *before}) : *table.keyFor({128, 0});
        const SourceKey other = *table.keyForListed({{129, 0}, "Other:out", clock});
        std::vector<Port> present{{{129, 0}, "Other:out", clock}};
        if (after) present.push_back({{128, 0}, "Clock:out", *after});
        const std::uint64_t generation = table.generation();
        table.resync(present);
        EXPECT_EQ(table.keyFor({128, 0}) == key, keeps) << what;
        EXPECT_EQ(table.keyFor({129, 0}), other) << what;
        EXPECT_GT(table.generation(), generation) << what;
    }
}

TEST(AlsaSourceTable, ADayOfRestartsKeepsOnlyPresentPortsAndRecentNames) {
    // A sender restarting every 2 s for a day, given the same client number
    // each time, beside one that stays; now and then the restart is only
    // found by a resync after lost announcements.
    AlsaSourceTable table;
    const Port steady{{129, 0}, "Steady:out", {900, -1, "Steady"}};
    const SourceKey steadyKey = *table.keyForListed(steady);
    SourceKey last = steadyKey, previous = 0;
    std::size_t largest = 0;
    for (int restart = 0; restart < 43'200; ++restart) {
        const Port sender{{128, 0}, "Sender " + std::to_string(restart), {1000 + restart, -1, "Sender"}};
        if (restart % 10 == 0) {
            table.resync(std::vector{steady, sender});
        } else {
            table.onAnnounce(announce(SND_SEQ_EVENT_CLIENT_START, 128));
            table.onAnnounce(announce(SND_SEQ_EVENT_PORT_START, 128));
        }
        const SourceKey key = *table.keyForListed(sender);
        ASSERT_GT(key, last) << "restart " << restart; // never given before
        previous = std::exchange(last, key);
        table.keyFor({128, 0}); // its clock
        table.keyFor({128, 1}); // a second port, only ever seen sending
        largest = std::max(largest, table.ledger().size());
        if (restart % 10 != 9) table.onAnnounce(announce(SND_SEQ_EVENT_CLIENT_EXIT, 128));
    }
    EXPECT_LE(largest, 3 + AlsaSourceTable::Ledger::departedNames);
    EXPECT_EQ(table.keyFor({129, 0}), steadyKey);
    // The newest departed names are kept, the oldest are not.
    EXPECT_EQ(table.lastName(previous), "Sender 43198");
    EXPECT_FALSE(table.lastName(steadyKey + 1));
}

} // namespace
} // namespace tactimo
