// The ALSA sequencer backend without the kernel: decoding, the source
// filter, keys and announcements, time stamps; and the fall-back when
// neither JACK nor the sequencer is there.

#include "core/ClockInput.h"
#include "midi/AlsaEventDecoder.h"
#include "midi/AlsaMidiService.h"
#include "midi/AlsaSourceTable.h"
#include "midi/SystemMidiService.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

namespace tactimo {
namespace {

using Bytes = std::vector<std::uint8_t>;

snd_seq_event_t eventOf(snd_seq_event_type_t type) {
    snd_seq_event_t ev{};
    ev.type = type;
    return ev;
}

Bytes decode(AlsaEventDecoder& decoder, const snd_seq_event_t& ev) {
    const auto bytes = decoder.decode(ev);
    return Bytes(bytes.begin(), bytes.end());
}

TEST(AlsaEventDecoder, ClockMessagesComeBackAsTheirBytes) {
    AlsaEventDecoder decoder;
    EXPECT_EQ(decode(decoder, eventOf(SND_SEQ_EVENT_CLOCK)), Bytes{0xF8});
    EXPECT_EQ(decode(decoder, eventOf(SND_SEQ_EVENT_START)), Bytes{0xFA});
    EXPECT_EQ(decode(decoder, eventOf(SND_SEQ_EVENT_CONTINUE)), Bytes{0xFB});
    EXPECT_EQ(decode(decoder, eventOf(SND_SEQ_EVENT_STOP)), Bytes{0xFC});
    auto spp = eventOf(SND_SEQ_EVENT_SONGPOS);
    spp.data.control.value = 0x1234;
    EXPECT_EQ(decode(decoder, spp), (Bytes{0xF2, 0x34, 0x24}));
    spp.data.control.value = 129;
    EXPECT_EQ(decode(decoder, spp), (Bytes{0xF2, 0x01, 0x01}));
}

TEST(AlsaEventDecoder, EveryMessageKeepsItsStatusByte) {
    AlsaEventDecoder decoder;
    auto note = eventOf(SND_SEQ_EVENT_NOTEON);
    note.data.note.note = 60;
    note.data.note.velocity = 100;
    EXPECT_EQ(decode(decoder, note), (Bytes{0x90, 60, 100}));
    // A running-status decoder would give "3C 64" here.
    EXPECT_EQ(decode(decoder, note), (Bytes{0x90, 60, 100}));
}

TEST(AlsaEventDecoder, NonMidiEventsGiveNothingAndDoNotUpsetTheNext) {
    AlsaEventDecoder decoder;
    auto start = eventOf(SND_SEQ_EVENT_PORT_START);
    EXPECT_TRUE(decode(decoder, start).empty());
    EXPECT_TRUE(decode(decoder, eventOf(SND_SEQ_EVENT_TICK)).empty());
    // System exclusive longer than the buffer: dropped whole, never cut short.
    std::vector<std::uint8_t> sysex(1000, 0x11);
    sysex.front() = 0xF0;
    sysex.back() = 0xF7;
    auto ev = eventOf(SND_SEQ_EVENT_SYSEX);
    snd_seq_ev_set_variable(&ev, sysex.size(), sysex.data());
    EXPECT_TRUE(decode(decoder, ev).empty());
    EXPECT_EQ(decode(decoder, eventOf(SND_SEQ_EVENT_CLOCK)), Bytes{0xF8});
}

TEST(AlsaSourceTable, OnlyExportedReadablePortsOfOtherClientsAreSources) {
    constexpr unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    const int own = 130;
    EXPECT_TRUE(AlsaSourceTable::isSource(20, own, readable));
    EXPECT_TRUE(AlsaSourceTable::isSource(129, own, readable | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE));
    EXPECT_FALSE(AlsaSourceTable::isSource(SND_SEQ_CLIENT_SYSTEM, own, readable)); // timer, announce
    EXPECT_FALSE(AlsaSourceTable::isSource(own, own, readable));
    EXPECT_FALSE(AlsaSourceTable::isSource(20, own, readable | SND_SEQ_PORT_CAP_NO_EXPORT));
    EXPECT_FALSE(AlsaSourceTable::isSource(20, own, SND_SEQ_PORT_CAP_READ));
    EXPECT_FALSE(AlsaSourceTable::isSource(20, own, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE));
}

snd_seq_event_t announce(snd_seq_event_type_t type, int client, int port) {
    auto ev = eventOf(type);
    ev.source = {SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE};
    ev.data.addr.client = static_cast<unsigned char>(client);
    ev.data.addr.port = static_cast<unsigned char>(port);
    return ev;
}

TEST(AlsaSourceTable, KeysStayWhileASourceLivesAndAreNeverGivenAgain) {
    AlsaSourceTable table;
    const SourceKey a = table.keyFor({128, 0}, "Clock:out");
    const SourceKey b = table.keyFor({129, 0});
    EXPECT_GE(a, AlsaSourceTable::firstKey);
    EXPECT_NE(a, b);
    EXPECT_EQ(table.keyFor({128, 0}), a);
    EXPECT_EQ(table.addressOf(a)->client, 128);

    // The client leaves; a new one gets its number and a new key.
    EXPECT_TRUE(table.onAnnounce(announce(SND_SEQ_EVENT_CLIENT_EXIT, 128, 0)));
    EXPECT_FALSE(table.addressOf(a));
    EXPECT_EQ(table.lastName(a), "Clock:out") << "the name outlives the port";
    const SourceKey a2 = table.keyFor({128, 0});
    EXPECT_NE(a2, a);
    EXPECT_NE(a2, b);
    EXPECT_EQ(table.keyFor({129, 0}), b) << "other clients keep theirs";

    EXPECT_TRUE(table.onAnnounce(announce(SND_SEQ_EVENT_PORT_EXIT, 129, 0)));
    EXPECT_NE(table.keyFor({129, 0}), b);
}

TEST(AlsaSourceTable, ArrivalsAndDeparturesAreSetUpChangesRenamesAndSubscriptionsAreNot) {
    AlsaSourceTable table;
    const SourceKey a = table.keyFor({130, 1});
    EXPECT_TRUE(table.onAnnounce(announce(SND_SEQ_EVENT_CLIENT_START, 131, 0)));
    EXPECT_TRUE(table.onAnnounce(announce(SND_SEQ_EVENT_PORT_START, 131, 0)));
    EXPECT_FALSE(table.onAnnounce(announce(SND_SEQ_EVENT_CLIENT_CHANGE, 130, 0)));
    EXPECT_FALSE(table.onAnnounce(announce(SND_SEQ_EVENT_PORT_CHANGE, 130, 1)));
    EXPECT_FALSE(table.onAnnounce(announce(SND_SEQ_EVENT_PORT_SUBSCRIBED, 130, 1)));
    EXPECT_FALSE(table.onAnnounce(announce(SND_SEQ_EVENT_PORT_UNSUBSCRIBED, 130, 1)));
    EXPECT_EQ(table.keyFor({130, 1}), a);
    // Another port of the same client leaving does not touch this one.
    EXPECT_TRUE(table.onAnnounce(announce(SND_SEQ_EVENT_PORT_EXIT, 130, 2)));
    EXPECT_EQ(table.keyFor({130, 1}), a);
}

TEST(AlsaMidiServiceTime, QueueTimeMovesOntoTheMonotonicClockThroughTheNarrowestBracket) {
    using S = AlsaMidiService::QueueSample;
    EXPECT_FALSE(AlsaMidiService::queueOffsetNs({}));
    const S samples[] = {{1'000'000'000, 500, 1'000'400'000}, {2'000'000'000, 1'000'000'500, 2'000'000'100},
                         {3'000'000'000, 0, 2'999'000'000}}; // the last one ran backwards: unusable
    EXPECT_EQ(AlsaMidiService::queueOffsetNs(samples), 2'000'000'050 - 1'000'000'500);

    auto ev = eventOf(SND_SEQ_EVENT_CLOCK);
    ev.flags = SND_SEQ_TIME_STAMP_REAL;
    ev.time.time = {2, 250'000'000};
    EXPECT_EQ(AlsaMidiService::eventTimeNs(ev, 7'000'000'000), 9'250'000'000u);
    EXPECT_EQ(AlsaMidiService::eventTimeNs(ev, std::nullopt), 0u) << "no offset yet: at delivery";
    EXPECT_EQ(AlsaMidiService::eventTimeNs(ev, -3'000'000'000), 0u) << "before the clock's start";
    ev.flags = SND_SEQ_TIME_STAMP_TICK;
    EXPECT_EQ(AlsaMidiService::eventTimeNs(ev, 7'000'000'000), 0u) << "a tick stamp is no time";
}

TEST(SystemMidiService, WithNeitherJackNorTheSequencerOnlyTheVirtualPortIsListed) {
    if (access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "this machine has an ALSA sequencer";
    setenv("JACK_DEFAULT_SERVER", "tactimo-no-such-server", 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    EXPECT_FALSE(AlsaMidiService::tryCreate());
    std::vector<std::function<void()>> posted;
    ClockInput input(makeSystemMidiService(), [&](std::function<void()> work) { posted.push_back(std::move(work)); });
    const auto sources = input.sources();
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0].name, "Virtual port");
    EXPECT_EQ(sources[0].ref, input.virtualDestination());
    EXPECT_TRUE(input.readings().empty());
    EXPECT_TRUE(posted.empty());
}

} // namespace
} // namespace tactimo
