// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The ALSA sequencer backend's parts that need no kernel.

#include "midi/AlsaMidiService.h"
#include "midi/AlsaEventDecoder.h"
#include "midi/SequencerPortName.h"

#include <gtest/gtest.h>

// Designated initializers zero the sequencer's C structs; no need to name every field.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tactimo::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Address = AlsaRouteGraph::Address;

snd_seq_event_t event(snd_seq_event_type_t type, int value = 0) {
    return {.type = type, .data = {.control = {.value = value}}};
}

TEST(AlsaEventDecoder, EachMessageComesBackWholeWithItsStatusByte) {
    const snd_seq_event_t note{.type = SND_SEQ_EVENT_NOTEON, .data = {.note = {0, 60, 100, 0, 0}}};
    Bytes sysex(1000, 0x11); // longer than the decoder's buffer
    auto longSysex = event(SND_SEQ_EVENT_SYSEX), shortSysex = event(SND_SEQ_EVENT_SYSEX), foreign = shortSysex;
    snd_seq_ev_set_variable(&longSysex, sysex.size(), sysex.data());
    snd_seq_ev_set_variable(&shortSysex, 3, sysex.data());
    // Another client's "user pointer" event: the address is in its process, never ours to read.
    snd_seq_ev_set_varusr(&foreign, 3, sysex.data());
    // In turn through one decoder: the note twice (no running status); the long one dropped whole.
    const std::pair<snd_seq_event_t, Bytes> rows[] = {{event(SND_SEQ_EVENT_CLOCK), {0xF8}},
                                                      {event(SND_SEQ_EVENT_START), {0xFA}},
                                                      {event(SND_SEQ_EVENT_CONTINUE), {0xFB}},
                                                      {event(SND_SEQ_EVENT_STOP), {0xFC}},
                                                      {event(SND_SEQ_EVENT_SONGPOS, 0x1234), {0xF2, 0x34, 0x24}},
                                                      {note, {0x90, 60, 100}},
                                                      {note, {0x90, 60, 100}},
                                                      {event(SND_SEQ_EVENT_PORT_START), {}},
                                                      {longSysex, {}},
                                                      {shortSysex, {0x11, 0x11, 0x11}},
                                                      {foreign, {}},
                                                      {event(SND_SEQ_EVENT_CLOCK), {0xF8}}};
    AlsaEventDecoder decoder;
    for (int row = 0; const auto& [ev, bytes] : rows) {
        const auto out = decoder.decode(ev);
        EXPECT_EQ(Bytes(out.begin(), out.end()), bytes) << "row " << row++;
    }
}

snd_seq_event_t subscribed(bool made, Address sender, Address dest) {
    snd_seq_event_t e{.type =
                          snd_seq_event_type_t(made ? SND_SEQ_EVENT_PORT_SUBSCRIBED : SND_SEQ_EVENT_PORT_UNSUBSCRIBED)};
    e.data.connect = {{std::uint8_t(sender.client), std::uint8_t(sender.port)},
                      {std::uint8_t(dest.client), std::uint8_t(dest.port)}};
    return e;
}

// We are 130 (input port 0, public port 1); the kernel's thru port is 14:0; we read 128:0 and 129:0, not 131:0.
TEST(AlsaRouteGraph, ACopyIsAMirrorWhileItsSenderReachesUsDirectly) {
    constexpr Address input{130, 0}, publicPort{130, 1}, thru{14, 0}, a{128, 0}, b{129, 0}, unread{131, 0};
    const auto left = [](snd_seq_event_type_t type, Address who) {
        return snd_seq_event_t{.type = type, .data = {.addr = {std::uint8_t(who.client), std::uint8_t(who.port)}}};
    };
    AlsaRouteGraph graph;
    graph.setOwnPorts(input, publicPort);
    graph.setWriters(input, {a, thru});
    graph.addThru(thru, {});
    // In turn: {announcement, then whether these are mirrors: a's copy at our public port, the thru port's, b's}
    const std::tuple<snd_seq_event_t, bool, bool, bool> steps[] = {
        {subscribed(true, a, publicPort), true, false, false},
        {subscribed(true, b, publicPort), true, false, false}, // b not read directly: its only path
        {subscribed(true, b, input), true, false, true},
        {subscribed(true, a, thru), true, true, true},
        {subscribed(true, a, {15, 0}), true, true, true},
        {subscribed(true, unread, thru), true, false, true},
        {left(SND_SEQ_EVENT_CLIENT_EXIT, unread), true, true, true},
        {subscribed(true, thru, thru), true, true, true}, // fed back into itself
        {subscribed(false, a, thru), true, false, true},
        {left(SND_SEQ_EVENT_PORT_EXIT, a), false, false, true},
        {subscribed(false, b, input), false, false, false},
    };
    for (int row = 0; const auto& [event, aAtPublic, fromThru, bAtPublic] : steps) {
        graph.onAnnounce(event);
        EXPECT_EQ(graph.mirrored(a, publicPort), aAtPublic) << "row " << row;
        EXPECT_EQ(graph.mirrored(thru, input), fromThru) << "row " << row;
        EXPECT_EQ(graph.mirrored(b, publicPort), bAtPublic) << "row " << row++;
    }
    // Only the kernel's thru client passes events on: not a device's port, nor a program's.
    constexpr unsigned duplex = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE;
    EXPECT_TRUE(AlsaRouteGraph::isThru(true, -1, duplex));
    EXPECT_FALSE(AlsaRouteGraph::isThru(true, 0, duplex));
    EXPECT_FALSE(AlsaRouteGraph::isThru(false, -1, duplex));
    EXPECT_FALSE(AlsaRouteGraph::isThru(true, -1, SND_SEQ_PORT_CAP_READ));
}

// The queue's time on the host's: the least late read counts; it steps only while settling or at a jump.
TEST(AlsaQueueClock, StepsOnlyWhileSettlingOrAtAJumpAndElseSlews) {
    AlsaQueueClock clock, least;
    const auto read = [&](std::uint64_t queue, std::uint64_t offset) { // ns; host after the read minus queue
        clock.calibrate(std::vector<hostClock::Bracket>{{queue + offset, queue, queue + offset}});
    };
    EXPECT_EQ(clock.toHost(1'000'000'000), 0u) << "mapped before any read";
    clock.calibrate(std::vector<hostClock::Bracket>{{2'000'000'000, 1'000'000'000, 1'999'000'000}}); // host ran back
    EXPECT_EQ(clock.offsetAt(0), std::nullopt);
    least.calibrate(std::vector<hostClock::Bracket>{{100, 50, 110}, {200, 100, 205}});
    EXPECT_EQ(least.offsetAt(0), 60.0);
    for (std::uint64_t s = 1; s <= 8; ++s) read(s * 1'000'000'000, 5'001'000'000); // settling on 1 ms late
    read(9'000'000'000, 5'000'500'000);                                            // the last read that steps it
    read(10'000'000'000, 4'999'000'000); // slewed to at 50 ppm from the queue's time now
    const std::pair<std::uint64_t, double> slewed[] = {
        {9'998'500'000, 5.0005e9}, {10'998'500'000, 5.00045e9}, {1'000'000'000'000, 4.999e9}};
    for (const auto& [queue, offset] : slewed) EXPECT_NEAR(*clock.offsetAt(queue), offset, 1) << queue;
    read(11'000'000'000, 4'950'000'000); // the queue jumped: taken at once
    EXPECT_EQ(clock.toHost(12'000'000'000), 16'950'000'000u);
}

// We are 130, public port 1, reading 128:0; the queue read 1 s at host 8 s; every event is at queue time 2.25 s.
TEST(AlsaMidiService, EventsGoUnderTheirSourcesKeyOnceStampedOnTheHostClock) {
    AlsaEventDecoder decoder;
    AlsaSourceTable table;
    AlsaRouteGraph routes;
    routes.setOwnPorts({130, 0}, {130, 1});
    routes.setWriters({130, 0}, {{128, 0}});
    AlsaQueueClock clock, unmapped;
    clock.calibrate(std::vector<hostClock::Bracket>{{7'999'000'000, 1'000'000'000, 8'000'000'000}});
    const SourceKey first = *table.keyFor({128, 0});
    const auto at = [](snd_seq_event_type_t type, Address from, int to, unsigned char stamp) {
        return snd_seq_event_t{.type = type,
                               .flags = stamp,
                               .time = {.time = {2, 250'000'000}},
                               .source = {std::uint8_t(from.client), std::uint8_t(from.port)},
                               .dest = {130, std::uint8_t(to)},
                               .data = {.connect = {{128, 0}, {130, 1}}}}; // as an announcement tells it
    };
    constexpr unsigned char real = SND_SEQ_TIME_STAMP_REAL;
    // In turn: {event, queue mapped?, a set-up change?, the key (none: not delivered), the stamp}
    const std::tuple<snd_seq_event_t, bool, bool, std::optional<SourceKey>, std::uint64_t> rows[] = {
        {at(SND_SEQ_EVENT_PORT_START, {0, 1}, 0, real), true, true, std::nullopt, 0},
        {at(SND_SEQ_EVENT_PORT_SUBSCRIBED, {0, 1}, 0, real), true, false, std::nullopt, 0},
        {at(SND_SEQ_EVENT_CLOCK, {128, 0}, 0, real), true, false, first, 9'250'000'000},
        {at(SND_SEQ_EVENT_CLOCK, {128, 0}, 0, real), false, false, first, 0}, // at delivery
        {at(SND_SEQ_EVENT_CLOCK, {128, 0}, 0, SND_SEQ_TIME_STAMP_TICK), true, false, first, 0},
        {at(SND_SEQ_EVENT_CLOCK, {128, 0}, 1, real), true, false, std::nullopt, 0}, // a copy of what we read
        {at(SND_SEQ_EVENT_CLOCK, {129, 0}, 1, real), true, false, virtualKey, 9'250'000'000},
        {at(SND_SEQ_EVENT_CLOCK, {129, 0}, 0, real), true, false, first + 1, 9'250'000'000},
        {at(SND_SEQ_EVENT_PORT_START, {129, 0}, 0, real), true, false, std::nullopt, 0}, // not the kernel's
    };
    for (int row = 0; const auto& [e, mapped, change, key, stamp] : rows) {
        const auto routed = AlsaMidiService::route(e, 1, decoder, table, routes, mapped ? clock : unmapped);
        EXPECT_EQ(routed.setupChanged, change) << "row " << row;
        EXPECT_EQ(routed.key, key) << "row " << row;
        EXPECT_EQ(key ? routed.packet.timeStamp : 0, stamp) << "row " << row++;
    }
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

TEST(SequencerPortName, PortsGoByThePortNameWhereItSaysWhoItIs) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"Midi Through", "Midi Through Port-0", "Midi Through Port-0"},
        {"Virtual Raw MIDI 0-0", "VirMIDI 0-0", "Virtual Raw MIDI 0-0:VirMIDI 0-0"},
        {"Synth", "", "Synth"},
        {"", "out", "out"},
        {"USB Drum ", "USB Drum MIDI 1  ", "USB Drum MIDI 1"},
    };
    for (const auto& [client, port, name] : rows) EXPECT_EQ(SequencerPortName::shown(client, port), name) << port;
    EXPECT_EQ(SequencerPortName::full(" USB Drum", "USB Drum MIDI 1"), "USB Drum:USB Drum MIDI 1");
}

} // namespace
} // namespace tactimo::test
