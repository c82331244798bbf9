#include "InputHarness.h"

#include <gtest/gtest.h>

#include <limits>

namespace tactimo {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ClockInputIntake, RecordsComeWithTheFirstClockMessage) {
    InputHarness h;
    const SourceKey drums = h.addSource("Drum Machine");
    const SourceKey nameless = h.addSource("x");
    h.bus->clearName(nameless);
    const SourceKey accented = h.addSource("Cafe\xCC\x81 \xFF");

    // Notes, an empty list, a list of empty packets: no record at all.
    EXPECT_TRUE(h.send(drums, {0x90, 0x3C, 0x40, 0x80, 0x3C, 0x00}));
    EXPECT_TRUE(h.bus->send(drums, MidiPacketList{}));
    const MidiPacket empty[2] = {};
    EXPECT_TRUE(h.bus->send(drums, MidiPacketList(empty)));
    EXPECT_TRUE(h.input->readings().empty());

    h.send(drums, {0x90, 0x3C, 0x40, 0xF8});
    h.send(nameless, {0xFA});
    h.send(FakeMidiBus::virtualKey, {0xF8});
    h.send(accented, {0xFC});

    const Readings r = h.input->readings();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r.at(drums).name, "Drum Machine");
    EXPECT_EQ(r.at(drums).analyzer.tickCount, 1);
    EXPECT_EQ(r.at(nameless).name, "MIDI");
    EXPECT_FALSE(r.at(nameless).receiving) << "a Start without ticks is not receiving";
    EXPECT_EQ(r.at(nameless).analyzer.transport, ClockAnalyzer::Transport::playing);
    // The fake has no name for the virtual key: "MIDI" would mean it was asked.
    EXPECT_EQ(r.at(FakeMidiBus::virtualKey).name, "Virtual port");
    EXPECT_EQ(r.at(accented).name, "Caf\xC3\xA9 \xEF\xBF\xBD");

    // A record keeps the name it was born with; the source list shows the new one.
    h.bus->renameSource(drums, "Renamed");
    h.send(drums, {0xF8});
    EXPECT_EQ(h.input->readings().at(drums).name, "Drum Machine");
    EXPECT_EQ(h.input->sources().front().name, "Renamed");
}

TEST(ClockInputIntake, ParserProgressIsKeptOnlyWithEvents) {
    InputHarness h;
    const SourceKey a = h.addSource("A"), b = h.addSource("B"), c = h.addSource("C"), d = h.addSource("D");

    // A list without events does not store its half-received position pointer...
    h.send(a, {0xF8});
    h.send(a, {0xF2, 0x05});
    h.send(a, {0x01, 0xF8});
    // ...nor does it create a record that would keep it.
    h.send(d, {0xF2, 0x05});
    h.send(d, {0x01, 0xF8});
    // A list with an event keeps it, even when the event came first.
    h.send(b, {0xF2, 0x05, 0xF8});
    h.send(b, {0x01});
    // Of three packets only the middle one yields; the state after all three is kept.
    const Bytes notes{0x90, 0x3C}, clock{0xF8}, pointer{0xF2, 0x05};
    const MidiPacket three[] = {{0, notes}, {0, clock}, {0, pointer}};
    h.bus->send(c, MidiPacketList(three));
    h.send(c, {0x01});

    const Readings r = h.input->readings();
    EXPECT_FALSE(r.at(a).analyzer.position);
    EXPECT_EQ(r.at(a).analyzer.tickCount, 2);
    EXPECT_FALSE(r.at(d).analyzer.position);
    EXPECT_EQ(r.at(b).analyzer.position, 6 * 133);
    EXPECT_EQ(r.at(c).analyzer.position, 6 * 133);
    EXPECT_EQ(r.at(c).analyzer.tickCount, 1);
}

TEST(ClockInputIntake, TimeStampsWithinOneSecondOfArrivalAreTrusted) {
    InputHarness h;
    const SourceKey key = h.addSource("A");
    h.at(1000.0);
    const double arrival = InputHarness::secondsOf(1000.0);
    const auto lastTickWithStamp = [&](std::uint64_t stamp) {
        h.send(key, {0xF8}, stamp);
        return *h.input->readings().at(key).analyzer.lastTick;
    };

    EXPECT_EQ(lastTickWithStamp(0), arrival);
    EXPECT_EQ(lastTickWithStamp(InputHarness::ns(999.001)), InputHarness::secondsOf(999.001));
    EXPECT_EQ(lastTickWithStamp(InputHarness::ns(1000.999)), InputHarness::secondsOf(1000.999));
    EXPECT_EQ(lastTickWithStamp(InputHarness::ns(999.0)), arrival);
    EXPECT_EQ(lastTickWithStamp(InputHarness::ns(1001.0)), arrival);
    EXPECT_EQ(lastTickWithStamp(1), arrival);
    EXPECT_EQ(lastTickWithStamp(std::numeric_limits<std::uint64_t>::max()), arrival);

    // Each packet has its own time; the events of one packet share it.
    const Bytes one{0xF8}, two{0xF8, 0xFE, 0xF8};
    const MidiPacket packets[] = {{InputHarness::ns(999.5), one}, {InputHarness::ns(999.6), two}};
    const SourceKey other = h.addSource("B");
    h.bus->send(other, MidiPacketList(packets));
    const ClockAnalyzer a = h.input->readings().at(other).analyzer;
    EXPECT_EQ(std::vector<double>(a.ticks.begin(), a.ticks.end()), (std::vector<double>{InputHarness::secondsOf(999.5), InputHarness::secondsOf(999.6),
                                           InputHarness::secondsOf(999.6)}));
}

TEST(ClockInputReadings, ReceivingWindowFollowsTheTempo) {
    InputHarness h;
    // Seven ticks, the last at exactly 1000 s, give an interval of the spacing.
    const auto source = [&](double spacing) {
        const SourceKey key = h.addSource("S");
        for (int k = 6; k >= 0; --k) h.tickAt(key, 1000.0 - k * spacing);
        return key;
    };
    const SourceKey once = h.addSource("once");
    h.tickAt(once, 1000.0);
    const SourceKey fast = source(0.01), mid = source(0.05), slow = source(0.2);

    const auto receivingAt = [&](double seconds) {
        h.at(seconds);
        std::vector<bool> flags;
        const Readings r = h.input->readings();
        for (const SourceKey key : {once, fast, mid, slow}) flags.push_back(r.at(key).receiving);
        return flags;
    };
    ASSERT_NEAR(*h.input->readings().at(mid).analyzer.interval, 0.05, 1e-9);
    //                                       once   0.25 s  0.4 s  1.0 s
    EXPECT_EQ(receivingAt(1000.0), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(receivingAt(1000.24), (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(receivingAt(1000.25), (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(receivingAt(1000.399), (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(receivingAt(1000.401), (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(receivingAt(1000.9), (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(receivingAt(1001.0), (std::vector<bool>{false, false, false, false}));
}

TEST(ClockInputReadings, AreSnapshots) {
    InputHarness h;
    const SourceKey key = h.addSource("A");
    h.tickAt(key, 1000.0);
    const Readings before = h.input->readings();
    h.tickAt(key, 1000.02);
    h.tickAt(key, 1000.04);
    EXPECT_EQ(before.at(key).analyzer.tickCount, 1);
    EXPECT_EQ(h.input->readings().at(key).analyzer.tickCount, 3);
}

TEST(ClockInputSources, ListsTheServiceOrderThenTheVirtualPort) {
    InputHarness h;
    EXPECT_EQ(h.input->sources(), (std::vector<MIDISource>{{FakeMidiBus::virtualKey, "Virtual port"}}));

    const SourceKey a = h.bus->addSource("Zeta");
    const SourceKey b = h.bus->addSource("x");
    const SourceKey c = h.bus->addSource("A\xCC\x8A \xC3"); // A + ring, then a cut-off sequence
    const SourceKey d = h.bus->addSource("Alpha");
    const SourceKey e = h.bus->addSource(""); // an empty name could never be selected
    h.bus->clearName(b);
    h.bus->removeSource(d);
    EXPECT_EQ(h.input->sources(), (std::vector<MIDISource>{{a, "Zeta"},
                                                           {b, "MIDI"},
                                                           {c, "\xC3\x85 \xEF\xBF\xBD"},
                                                           {e, "MIDI"},
                                                           {FakeMidiBus::virtualKey, "Virtual port"}}));
}

TEST(ClockInputSources, SetupChangeReconnectsThenTellsTheOwner) {
    InputHarness h;
    int calls = 0;
    bool deliveredInCallback = false;
    SourceKey late = 0;
    h.input->onSourcesChanged = [&] {
        ++calls;
        deliveredInCallback = h.send(late, {0xF8});
    };

    late = h.bus->addSource("Late");
    EXPECT_FALSE(h.send(late, {0xF8})) << "not connected before the set-up change";
    h.bus->announceSetupChange();
    EXPECT_EQ(calls, 0) << "the notification only posts";
    EXPECT_EQ(h.runPosted(), 1);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(deliveredInCallback) << "reconnected before the owner is told";

    // Without a callback the sources are still connected.
    InputHarness quiet;
    const SourceKey other = quiet.bus->addSource("Other");
    quiet.bus->announceSetupChange();
    quiet.runPosted();
    EXPECT_TRUE(quiet.send(other, {0xF8}));
    EXPECT_EQ(quiet.input->readings().size(), 1u);
}

TEST(ClockInputLifetime, NothingRunsAfterDestruction) {
    InputHarness h;
    bool called = false;
    h.input->onSourcesChanged = [&] { called = true; };
    const SourceKey key = h.bus->addSource("A");
    h.bus->announceSetupChange();
    const int connects = h.bus->connectCalls();

    h.input.reset();
    EXPECT_FALSE(h.bus->isOpen());
    EXPECT_FALSE(h.send(FakeMidiBus::virtualKey, {0xF8}));
    EXPECT_FALSE(h.send(key, {0xF8}));
    h.bus->announceSetupChange();
    h.runPosted(); // work queued before and after the end finds nothing to do
    EXPECT_FALSE(called);
    EXPECT_EQ(h.bus->connectCalls(), connects);
}

} // namespace
} // namespace tactimo
