#include "core/ClockInput.h"
#include "support/ManualIntake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <optional>
#include <string>

using namespace tactimo;
using namespace tactimo::test;
using Bytes = std::vector<std::uint8_t>;

// Source names as listed and as fixed in a record: canonical (NFC, not NFKC),
// invalid UTF-8 replaced, "MIDI" for none or empty, "Virtual port" last.
TEST(ClockInputIntake, NamesOfSourcesAndRecords) {
    ManualIntake h;
    const std::string fffd = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> names[] = {{"Drum Machine", "Drum Machine"},
                                                         {"Cafe\xCC\x81", "Caf\xC3\xA9"},
                                                         {"\xE2\x84\xAB", "\xC3\x85"},
                                                         {"\xEF\xAC\x81", "\xEF\xAC\x81"},
                                                         {"A\xFF"
                                                          "B",
                                                          "A" + fffd + "B"},
                                                         {"\xC3", fffd},
                                                         {"\xED\xA0\x80", fffd + fffd + fffd},
                                                         {"x\xC0\xAF", "x" + fffd + fffd},
                                                         {"", "MIDI"},
                                                         {"cleared", "MIDI"}};
    std::vector<MIDISource> expected;
    for (const auto& [raw, shown] : names) expected.push_back({h.addSource(raw), shown});
    h.bus->clearName(expected.back().ref);
    h.bus->removeSource(h.addSource("Gone"));
    expected.push_back({FakeMidiBus::virtualKey, "Virtual port"});
    EXPECT_EQ(h.input->sources(), expected);
    for (const MIDISource& s : expected) h.send(s.ref, {0xF8});
    for (const MIDISource& s : expected) EXPECT_EQ(h.reading(s.ref).name, s.name);

    // A record keeps the name it was born with; the list shows the new one.
    h.bus->renameSource(expected[0].ref, "Renamed");
    h.send(expected[0].ref, {0xF8});
    EXPECT_EQ(h.reading(expected[0].ref).name, "Drum Machine");
    EXPECT_EQ(h.input->sources().front().name, "Renamed");
}

TEST(ClockInputIntake, RecordsComeWithTheFirstClockEvent) {
    ManualIntake h;
    const SourceKey a = h.addSource("A"), b = h.addSource("B"), c = h.addSource("C"), d = h.addSource("D");
    // Notes, an empty list, a list of empty packets: no record at all.
    h.send(a, {0x90, 0x3C, 0x40, 0x80, 0x3C, 0x00});
    h.bus->send(a, MidiPacketList{});
    h.bus->send(a, MidiPacketList(std::array<MidiPacket, 2>{}));
    EXPECT_TRUE(h.input->readings().empty());

    // A list without events neither stores its half-received pointer nor
    // creates a record that would keep it; a list with an event keeps the
    // state after all its packets, even when the event came first.
    h.send(a, {0xF8}); // a has a record, d none
    for (const SourceKey key : {a, d}) {
        h.send(key, {0xF2, 0x05});
        h.send(key, {0x01, 0xF8});
    }
    h.send(b, {0xF2, 0x05, 0xFA});
    h.bus->send(c, std::array<MidiPacket, 3>{{{0, Bytes{0x90, 0x3C}}, {0, Bytes{0xF8}}, {0, Bytes{0xF2, 0x05}}}});
    for (const SourceKey key : {b, c}) h.send(key, {0x01});

    const auto position = [&](SourceKey key) { return h.reading(key).analyzer.position.value_or(-1); };
    EXPECT_EQ((std::vector{position(a), position(d), position(b), position(c)}),
              (std::vector{-1l, -1l, 6 * 133l, 6 * 133l}));
    EXPECT_FALSE(h.reading(b).receiving) << "a Start without ticks is not receiving";
}

// Stamps within a second of arrival are trusted; each packet has its own
// time and the events of one packet share it.
TEST(ClockInputIntake, TimeStamps) {
    ManualIntake h;
    const SourceKey key = h.addSource("A"), other = h.addSource("B");
    const double arrival = secondsOf(1000.0);
    const std::pair<std::uint64_t, double> cases[] = {{0, arrival},
                                                      {ns(999.001), secondsOf(999.001)},
                                                      {ns(1000.999), secondsOf(1000.999)},
                                                      {ns(999.0), arrival},
                                                      {ns(1001.0), arrival},
                                                      {1, arrival},
                                                      {std::numeric_limits<std::uint64_t>::max(), arrival}};
    for (const auto& [stamp, expected] : cases) {
        h.bus->send(key, Bytes{0xF8}, stamp);
        EXPECT_EQ(h.reading(key).analyzer.lastTick, expected) << stamp;
    }
    h.bus->send(other, std::array<MidiPacket, 2>{{{ns(999.5), Bytes{0xF8}}, {ns(999.6), Bytes{0xF8, 0xFE, 0xF8}}}});
    const auto ticks = h.reading(other).analyzer.ticks;
    EXPECT_EQ(std::vector(ticks.begin(), ticks.end()),
              (std::vector{secondsOf(999.5), secondsOf(999.6), secondsOf(999.6)}));
}

// Receiving while the last tick is younger than 8 intervals, at least 0.25 s
// and at most 1 s; 1 s without an interval. Readings are snapshots.
TEST(ClockInputReadings, ReceivingWindowFollowsTheTempo) {
    ManualIntake h;
    std::vector<SourceKey> keys{h.addSource("once")};
    h.send(keys[0], {0xF8});
    for (const double spacing : {0.01, 0.05, 0.2}) { // windows 0.25 s, 0.4 s, 1 s
        keys.push_back(h.addSource("S"));
        for (int k = 6; k >= 0; --k) h.send(keys.back(), {0xF8}, 1000.0 - k * spacing);
    }
    const Readings first = h.input->readings(); // a snapshot
    const std::pair<double, std::vector<bool>> cases[] = {
        {1000.24, {true, true, true, true}},    {1000.25, {true, false, true, true}},
        {1000.399, {true, false, true, true}},  {1000.401, {true, false, false, true}},
        {1000.999, {true, false, false, true}}, {1001.0, {false, false, false, false}}};
    for (const auto& [now, expected] : cases) {
        std::vector<bool> receiving;
        for (h.now = ns(now); const SourceKey key : keys) receiving.push_back(h.reading(key).receiving);
        EXPECT_EQ(receiving, expected) << now;
    }
    h.send(keys[0], {0xF8}, 1001.0);
    EXPECT_EQ(first.at(keys[0]).analyzer.tickCount, 1) << "a snapshot does not change";
    EXPECT_EQ(h.reading(keys[0]).analyzer.tickCount, 2);
}

TEST(ClockInputSources, SetupChangeReconnectsThenTellsTheOwnerAndNothingRunsAfterTheEnd) {
    ManualIntake h;
    int calls = 0;
    bool deliveredInCallback = false;
    const SourceKey late = h.bus->addSource("Late");
    h.input->onSourcesChanged = [&] {
        ++calls;
        deliveredInCallback = h.send(late, {0xF8});
    };
    EXPECT_FALSE(h.send(late, {0xF8})) << "not connected before the set-up change";
    h.bus->announceSetupChange();
    EXPECT_EQ(calls, 0) << "the notification only posts";
    EXPECT_EQ(h.posted.size(), 1u);
    h.runPosted();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(deliveredInCallback) << "reconnected before the owner is told";

    // Work queued before and after the end finds nothing to do.
    h.bus->announceSetupChange();
    const int connects = h.bus->connectCalls();
    h.input.reset();
    EXPECT_FALSE(h.bus->isOpen());
    h.bus->announceSetupChange();
    h.runPosted();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(h.bus->connectCalls(), connects);
}

// Records of departed sources stay while they can still be followed: the
// status follows, among records not receiving, the one with the latest tick,
// of all or of one name. The rest go at the next set-up change.
TEST(ClockInputRecords, DepartedRecordsThatCanNoLongerBeFollowedGo) {
    ManualIntake h;
    struct Row {
        const char* name;
        std::optional<double> tick; // none: a Start, no tick
        bool departs;
        bool kept;
    };
    const Row rows[] = {
        {"Synth", 1000.0, true, false},      {"Synth", 1003.0, true, true}, // the newest of its name
        {"Synth", 1001.0, false, true},                                     // still listed
        {"Drums", 1009.5, true, true},                                      // still receiving
        {"Drums", 1002.0, true, true},                                      // the only one of its name not receiving
        {"Pad", std::nullopt, true, false},  {"Pad", 1000.5, true, true},   // a tick beats none
        {"Virtual port", 999.0, true, true},                                // a name, not the virtual port
    };
    std::vector<SourceKey> keys;
    for (const Row& row : rows) {
        keys.push_back(h.addSource(row.name));
        if (row.tick)
            h.send(keys.back(), {0xF8}, *row.tick);
        else
            h.send(keys.back(), {0xFA});
    }
    h.send(FakeMidiBus::virtualKey, {0xF8}, 990.0);
    for (std::size_t i = 0; i < std::size(rows); ++i)
        if (rows[i].departs) h.bus->removeSource(keys[i]);
    h.now = ns(1010.0);
    h.bus->announceSetupChange();
    h.runPosted();

    const Readings readings = h.input->readings();
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(readings.contains(keys[i]), rows[i].kept) << "row " << i << ", " << rows[i].name;
    EXPECT_TRUE(readings.contains(FakeMidiBus::virtualKey));
}

TEST(ClockInputRecords, DepartedRecordsAreCappedOldestTickFirst) {
    ManualIntake h;
    const SourceKey listed = h.addSource("Listed");
    h.send(listed, {0xF8}, 900.0);
    std::vector<SourceKey> departed;
    for (int i = 0; i < 100; ++i) {
        departed.push_back(h.addSource("S" + std::to_string(i)));
        h.send(departed.back(), {0xF8}, 1000.0 + i);
        h.bus->removeSource(departed.back());
    }
    h.now = ns(1200.0);
    h.bus->announceSetupChange();
    h.runPosted();
    const Readings readings = h.input->readings();
    EXPECT_EQ(readings.size(), ClockInput::maxDepartedRecords + 1);
    EXPECT_TRUE(readings.contains(listed));
    const std::size_t firstKept = departed.size() - ClockInput::maxDepartedRecords;
    EXPECT_FALSE(readings.contains(departed[firstKept - 1]));
    EXPECT_TRUE(readings.contains(departed[firstKept]));
}

// A sender restarting all day: its records stay two at most (the one still
// receiving, the last one heard before it), and the newest is always there.
TEST(ClockInputRecords, ARestartingSenderLeavesNoTrail) {
    ManualIntake h;
    std::size_t most = 0;
    for (int restart = 0; restart < 500; ++restart) {
        const SourceKey key = h.addSource("Synth");
        h.send(key, {0xF8}, 1000.0 + restart * 2.0);
        h.bus->removeSource(key);
        h.bus->announceSetupChange();
        h.runPosted();
        ASSERT_TRUE(h.input->readings().contains(key)) << restart;
        most = std::max(most, h.input->readings().size());
    }
    EXPECT_LE(most, 2u);
}

// The history of one source is copied apart from the readings, only what is
// newer than the caller's sequence; sequences grow across all sources. A
// departed source's reading stays, its history goes.
TEST(ClockInputHistory, CopiesOneSourceSinceASequenceAndLetsDepartedOnesGo) {
    ManualIntake h;
    const SourceKey a = h.addSource("A"), b = h.addSource("B");
    ClockHistory::Slice slice;
    h.input->history(a, 0, slice);
    EXPECT_FALSE(slice.held) << "no record yet";

    for (int k = 0; k < 10; ++k) {
        h.send(a, {0xF8}, 1000.0 + k * 0.02);
        h.send(b, {0xF8}, 1000.0 + k * 0.02);
    }
    h.send(a, {0xFA}, 1000.19);
    ClockHistory::Slice first;
    h.input->history(a, 0, first);
    h.input->history(b, 0, slice);
    ASSERT_TRUE(first.held);
    EXPECT_EQ(first.ticks.size(), 10u);
    EXPECT_EQ(first.marks.size(), 1u);
    ASSERT_EQ(slice.ticks.size(), 10u);
    for (std::size_t k = 0; k < 10; ++k) EXPECT_NE(first.ticks[k].sequence, slice.ticks[k].sequence) << k;

    for (int k = 0; k < 3; ++k) h.send(a, {0xF8}, 1000.2 + k * 0.02);
    h.input->history(a, first.latest, slice);
    EXPECT_EQ(slice.ticks.size(), 3u);
    EXPECT_TRUE(slice.marks.empty());
    EXPECT_EQ(slice.ticks.front().time, secondsOf(1000.2));

    h.bus->removeSource(a);
    h.now = ns(1010.0);
    h.bus->announceSetupChange();
    h.runPosted();
    EXPECT_TRUE(h.input->readings().contains(a));
    h.input->history(a, 0, slice);
    EXPECT_FALSE(slice.held);
    EXPECT_TRUE(slice.ticks.empty());
    h.input->history(b, 0, slice);
    EXPECT_TRUE(slice.held) << "still listed";

    // A tick after the clock had stopped starts a new run: the ticks before go.
    const std::uint64_t lastOfRun = slice.ticks.back().sequence;
    for (int k = 0; k < 5; ++k) h.send(b, {0xF8}, 1010.0 + k * 0.02);
    h.input->history(b, 0, slice);
    ASSERT_EQ(slice.ticks.size(), 5u);
    EXPECT_EQ(slice.runStart, lastOfRun + 1);
    EXPECT_EQ(slice.ticks.front().time, secondsOf(1010.0));
}
