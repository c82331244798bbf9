// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/ClockInput.h"
#include "support/ManualIntake.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <limits>

using namespace tactimo;
using namespace tactimo::test;
using Bytes = std::vector<std::uint8_t>;
using Kind = ClockHistory::Mark::Kind;

// NFC (not NFKC), bad UTF-8 byte by byte, "MIDI" for none, the virtual port last; a record keeps its first name.
TEST(ClockInput, NamesOfSourcesAndRecords) {
    ManualIntake h;
    const std::string fffd = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> names[] = {{"Cafe\xCC\x81", "Caf\xC3\xA9"},
                                                         {"\xEF\xAC\x81", "\xEF\xAC\x81"},
                                                         {"", "MIDI"},
                                                         {"cleared", "MIDI"},
                                                         {"A\xFF\xED\xA0\x80!", "A" + fffd + fffd + fffd + fffd + "!"}};
    std::vector<MIDISource> expected;
    for (const auto& [raw, shown] : names) expected.push_back({h.addSource(raw), shown});
    h.bus->clearName(expected[3].ref);
    expected.push_back({FakeMidiBus::virtualKey, "Virtual port"});
    EXPECT_EQ(h.input->sources(), expected);
    for (const MIDISource& s : expected) h.send(s.ref, {0xF8});
    for (const MIDISource& s : expected) EXPECT_EQ(h.reading(s.ref).name, s.name);
    h.bus->renameSource(expected[0].ref, "Renamed");
    EXPECT_EQ(h.reading(expected[0].ref).name, "Caf\xC3\xA9");
    EXPECT_EQ(h.input->sources().front().name, "Renamed");
}

TEST(ClockInput, RecordsComeWithTheFirstClockEvent) {
    ManualIntake h;
    const SourceKey a = h.addSource("A"), b = h.addSource("B"), c = h.addSource("C"), d = h.addSource("D");
    h.send(a, {0x90, 0x3C, 0x40});
    h.bus->send(a, MidiPacketList(std::array<MidiPacket, 2>{}));
    EXPECT_TRUE(h.input->readings().empty()) << "notes or empty packets make no record";
    // A list without events keeps no half-received pointer; one with an event keeps all its packets' state.
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

// Stamps within a second of arrival are trusted; the events of a packet share its time.
TEST(ClockInput, TimeStamps) {
    ManualIntake h({"A", "B"});
    const double arrival = secondsOf(1000.0);
    const std::pair<std::uint64_t, double> cases[] = {{0, arrival},
                                                      {ns(999.001), secondsOf(999.001)},
                                                      {ns(1000.999), secondsOf(1000.999)},
                                                      {ns(999.0), arrival},
                                                      {ns(1001.0), arrival},
                                                      {std::numeric_limits<std::uint64_t>::max(), arrival}};
    for (const auto& [stamp, expected] : cases) {
        h.bus->send(h.keys[0], Bytes{0xF8}, stamp);
        EXPECT_EQ(h.reading(h.keys[0]).analyzer.lastTick, expected) << stamp;
    }
    h.bus->send(h.keys[1], std::array<MidiPacket, 2>{{{ns(999.5), Bytes{0xF8}}, {ns(999.6), Bytes{0xF8, 0xFE, 0xF8}}}});
    const auto ticks = h.reading(h.keys[1]).analyzer.ticks;
    EXPECT_EQ(std::vector(ticks.begin(), ticks.end()),
              (std::vector{secondsOf(999.5), secondsOf(999.6), secondsOf(999.6)}));
}

// Receiving while the last tick is younger than 8 intervals within [0.25 s, 1 s]; 1 s without an interval.
TEST(ClockInput, ReceivingWindowFollowsTheTempo) {
    ManualIntake h({"once", "fast", "mid", "slow"});
    h.send(h.keys[0], {0xF8});
    for (int i = 1; i < 4; ++i) // windows 0.25 s, 0.4 s, 1 s
        for (int k = 6; k >= 0; --k) h.send(h.keys[i], {0xF8}, 1000.0 - k * std::array{0.01, 0.05, 0.2}[i - 1]);
    const std::pair<double, std::vector<bool>> cases[] = {{1000.24, {true, true, true, true}},
                                                          {1000.25, {true, false, true, true}},
                                                          {1000.401, {true, false, false, true}},
                                                          {1001.0, {false, false, false, false}}};
    for (const auto& [now, expected] : cases) {
        std::vector<bool> receiving;
        for (h.now = ns(now); const SourceKey key : h.keys) receiving.push_back(h.reading(key).receiving);
        EXPECT_EQ(receiving, expected) << now;
    }
}

// A set-up change posts work that reconnects, then tells the owner; none runs after the end.
TEST(ClockInput, SetupChangeReconnectsThenTellsTheOwner) {
    ManualIntake h;
    std::vector<bool> delivered;
    const SourceKey late = h.bus->addSource("Late");
    h.input->onSourcesChanged = [&] { delivered.push_back(h.send(late, {0xF8})); };
    EXPECT_FALSE(h.send(late, {0xF8})) << "not connected before the set-up change";
    h.bus->announceSetupChange();
    EXPECT_TRUE(delivered.empty());
    h.runPosted();
    h.bus->announceSetupChange();
    const int connects = h.bus->connectCalls();
    h.input.reset();
    EXPECT_FALSE(h.bus->isOpen());
    h.bus->announceSetupChange();
    h.runPosted();
    EXPECT_EQ(delivered, std::vector{true});
    EXPECT_EQ(h.bus->connectCalls(), connects);
}

// A departed source's record stays while receiving or the latest tick of its name; at most maxDepartedRecords.
TEST(ClockInput, DepartedRecordsThatCanNoLongerBeFollowedGo) {
    ManualIntake h;
    const std::tuple<const char*, std::optional<double>, bool, bool> rows[] = {
        // name, tick (or a Start), departs, kept
        {"Synth", 1000.0, true, false},      {"Synth", 1003.0, true, true}, // the newest of its name
        {"Synth", 1001.0, false, true},                                     // still listed
        {"Drums", 1009.5, true, true},                                      // still receiving
        {"Drums", 1002.0, true, true},                                      // the only one of its name not receiving
        {"Pad", std::nullopt, true, false},  {"Pad", 1000.5, true, true},   // a tick beats none
        {"Virtual port", 999.0, true, true},                                // a name, not the virtual port
    };
    std::vector<SourceKey> keys, older; // older: departed, each of its own name
    for (const auto& [name, tick, departs, kept] : rows) {
        keys.push_back(h.addSource(name));
        h.send(keys.back(), {std::uint8_t(tick ? 0xF8 : 0xFA)}, tick.value_or(1000.0));
        if (departs) h.bus->removeSource(keys.back());
    }
    for (int i = 0; i < 80; ++i) {
        older.push_back(h.addSource("S" + std::to_string(i)));
        h.send(older.back(), {0xF8}, 900.0 + i);
        h.bus->removeSource(older.back());
    }
    h.send(FakeMidiBus::virtualKey, {0xF8}, 990.0);
    h.now = ns(1010.0);
    h.bus->announceSetupChange();
    h.runPosted();
    const Readings readings = h.input->readings();
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(readings.contains(keys[i]), std::get<3>(rows[i])) << "row " << i;
    EXPECT_TRUE(readings.contains(FakeMidiBus::virtualKey));
    const std::size_t firstKept = older.size() - (ClockInput::maxDepartedRecords - 4); // 4 rows depart and stay
    EXPECT_FALSE(readings.contains(older[firstKept - 1]));
    EXPECT_TRUE(readings.contains(older[firstKept]));
}

struct Source {
    ManualIntake h{{"A"}};
    double time = 1000.0;
    // `count` ticks (or other bytes) `spacing` apart, every other one `wobble` s early, the rest as late.
    Source& ticks(int count, double spacing, double wobble = 0, const Bytes& bytes = {0xF8}) {
        for (int k = 0; k < count; ++k) h.send(h.keys[0], bytes, (time += spacing) + (k % 2 ? wobble : -wobble));
        return *this;
    }
    ClockHistory::Slice since(std::uint64_t sequence) const {
        ClockHistory::Slice out;
        h.input->history(h.keys[0], sequence, out);
        return out;
    }
};

// At 300 BPM the ring keeps the newest minute; a copy holds what is newer than the sequence asked with.
TEST(ClockHistory, KeepsTheNewestMinuteAndCopiesOnlyWhatIsNew) {
    Source s;
    s.ticks(10'000, 1.0 / 120);
    const ClockHistory::Slice all = s.since(0);
    ASSERT_EQ(all.ticks.size(), ClockHistory::tickCapacity);
    const std::uint64_t oldest = all.ticks.front().sequence, newest = all.latest, capacity = ClockHistory::tickCapacity;
    for (const auto& [since, count] :
         {std::pair{newest, 0ul}, {newest - 5, 5}, {oldest, capacity - 1}, {oldest - 1, capacity}, {newest + 9, 0}}) {
        const ClockHistory::Slice slice = s.since(since);
        EXPECT_EQ(slice.ticks.size(), count) << since;
        EXPECT_EQ(slice.latest, count ? newest : since) << since;
    }
}

// Marks: a confirmed tempo change (growing or full window), a gap restart, transport; a new run keeps its lead-in
// marks. The worst jitter (ms) since the clock last started; readings during a tempo change go when it is confirmed.
TEST(ClockHistory, MarksAndWorstJitter) {
    using enum ClockHistory::Mark::Kind;
    constexpr std::nullopt_t none = std::nullopt;
    const std::tuple<std::function<void(Source&)>, std::vector<Kind>, std::optional<double>> cases[] = {
        {[](Source& s) { s.ticks(300, 0.02, 0.001); }, {}, 1.0},
        {[](Source& s) { s.ticks(60, 0.02, 0.001); }, {}, none},                                  // too short to judge
        {[](Source& s) { s.ticks(300, 0.02).ticks(1, 0.02, -0.004).ticks(99, 0.02); }, {}, 0.29}, // one late tick
        {[](Source& s) { s.ticks(300, 0.02, 0.0003).ticks(300, 0.02, 0.001).ticks(300, 0.02, 0.0003); }, {}, 1.0},
        {[](Source& s) { s.ticks(30, 0.02).ticks(60, 0.016); }, {tempoChange}, none},
        {[](Source& s) { s.ticks(250, 0.02).ticks(150, 0.0198); }, {tempoChange}, 0.0},
        {[](Source& s) { s.ticks(200, 0.02).ticks(200, 0.017).ticks(200, 0.02); }, {tempoChange, tempoChange}, 0.0},
        {[](Source& s) { s.ticks(300, 0.02, 0.002).ticks(1, 2.0).ticks(300, 0.02); }, {}, 0.0}, // the clock stopped
        {[](Source& s) { s.ticks(300, 0.02, 0.002).ticks(1, 0.1).ticks(300, 0.02); }, {gapRestart}, 2.0},
        {[](Source& s) {
             s.ticks(30, 0.02)
                 .ticks(60, 0.016)
                 .ticks(1, 0, 0, {0xFC, 0xF2, 0x08, 0x00, 0xFA, 0xFB})
                 .ticks(1, 2.02)
                 .ticks(29, 0.02);
         },
         {stop, songPosition, start, continue_},
         none},
        {[](Source& s) { s.ticks(1, 0, 0, Bytes(1000, 0xFC)); }, std::vector(ClockHistory::markCapacity, stop),
         none}, // bounded
    };
    for (int row = 0; const auto& [scene, marks, worstMs] : cases) {
        SCOPED_TRACE(row++);
        Source s;
        scene(s);
        const ClockHistory::Slice slice = s.since(0);
        std::vector<Kind> kinds;
        for (const auto& mark : slice.marks) kinds.push_back(mark.kind);
        EXPECT_EQ(kinds, marks);
        EXPECT_NEAR(slice.worstJitter.value_or(-0.001) * 1000, worstMs.value_or(-1), 0.01);
    }
}

// Now is CLOCK_MONOTONIC; foreign times on the host clock.
TEST(HostClock, NowAndForeignTimes) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    EXPECT_LT(hostClock::now() - (ts.tv_sec * 1'000'000'000ull + ts.tv_nsec), 1'000'000'000u) << "CLOCK_MONOTONIC";
    // {foreign ns, offset ns, host ns}: 0 means "at delivery"; before the clock's start or past its end, 0.
    constexpr auto max = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    const std::tuple<std::uint64_t, std::int64_t, std::uint64_t> table[] = {
        {2'250'000'000, 7'000'000'000, 9'250'000'000},
        {2'250'000'000, -1'000'000'000, 1'250'000'000},
        {2'250'000'000, -3'000'000'000, 0},
        {max, 1, 0},
        {max + 1, 0, 0},
        {0, 5, 5}};
    for (const auto& [foreign, offset, host] : table)
        EXPECT_EQ(hostClock::toHost(foreign, offset), host) << foreign << " " << offset;
}
