// The ALSA sequencer backend under ClockInput, against a kernel's sequencer
// (scripts/vm-ctest.sh runs these in a virtual machine that has one), with
// senders of the test's own, the kernel's own clients, and raw MIDI bytes
// through a virtual card.

#include "core/ClockStatus.h"
#include "midi/AlsaMidiService.h"
#include "support/AlsaTestSender.h"
#include "support/GatedMidiService.h"
#include "support/IntakeTest.h"
#include "support/MainQueue.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace tactimo::alsatest {
namespace {

using test::GatedMidiService;
using test::IntakeTest;
using test::pumpUntil;
using namespace std::chrono_literals;

using Transport = ClockAnalyzer::Transport;

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer slows every step of an emulated machine past clean timing:
// there the clock paths run for their races, and their precision is not asked.
constexpr bool timingChecked = false;
#else
constexpr bool timingChecked = true;
#endif

class ClockInputAlsa : public IntakeTest {
protected:
    void SetUp() override {
        if (access("/dev/snd/seq", R_OK | W_OK) != 0)
            GTEST_SKIP() << "no ALSA sequencer here; scripts/vm-ctest.sh runs these in a virtual machine";
        auto service = AlsaMidiService::tryCreate();
        ASSERT_TRUE(service);
        alsa = service.get();
        start(wrap(std::move(service)));
        ASSERT_EQ(snd_seq_open(&observer, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
        inputPort = portOf(observer, "Tactimo", "Input");
        virtualPort = portOf(observer, "Tactimo", "Tactimo");
        ASSERT_GE(inputPort.client, 128);
    }
    // The service as the input is given it.
    virtual std::unique_ptr<MidiService> wrap(std::unique_ptr<MidiService> service) { return service; }
    ~ClockInputAlsa() override {
        input.reset();
        if (observer) snd_seq_close(observer);
    }

    std::optional<MIDISource> source(std::string_view name) {
        for (const MIDISource& s : input->sources())
            if (s.name == name) return s;
        return std::nullopt;
    }
    bool subscribed(Address port) { return std::ranges::count(writersTo(observer, inputPort), port) == 1; }
    // Listed under its name and subscribed to our input port.
    std::optional<MIDISource> followed(Address sender, const std::string& name) {
        std::optional<MIDISource> s;
        pumpUntil(queue, [&] { return (s = source(name + ":out")) && subscribed(sender); });
        return s;
    }

    AlsaMidiService* alsa = nullptr;
    snd_seq_t* observer = nullptr; // a client to ask the sequencer with
    Address inputPort, virtualPort;
};

TEST_F(ClockInputAlsa, ClockIsReadToAHundredthOfABpmOnceWhenAlsoRoutedToThePublicPort) {
    TestSender sender("tactimo-test-clock");
    const auto src = followed(sender.address(), "tactimo-test-clock");
    ASSERT_TRUE(src);
    // Also routed to our public port by a patchbay: the copy there is not read.
    ASSERT_TRUE(sender.connectTo(virtualPort));
    sender.startClock(123.4);
    // Tactimo's fit against the same least-squares fit of the times at which
    // those very ticks were sent, on the same clock: what is left is how the
    // ticks were stamped and mapped, for a late send moves both alike. Stamps
    // a stalled machine's timer made during its catch-up (up to the stall
    // late) are not the backend's doing: windows with such a stamp do not
    // count (stampsFromSends). What stays in is the timer's lateness
    // under emulation, 0 to about 1 ms a stamp, which moves a 192-tick fit by
    // 0.002 to 0.004 BPM (RMS), and every fault of the queue's mapping: its
    // former steps of 0.2 to 0.6 ms every 2 s moved fits by 0.018 BPM (RMS),
    // up to 0.04. So the RMS over six windows, each half new, must stay
    // within 0.01 BPM.
    std::vector<double> errors;
    std::int64_t lastWindowEnd = 0;
    pumpUntil(
        queue,
        [&] {
            const auto r = reading(src->ref);
            const std::int64_t end = r ? r->analyzer.tickCount : 0;
            if (!r || r->analyzer.ticks.size() < ClockAnalyzer::windowCapacity || end > sender.sent() ||
                end < lastWindowEnd + std::int64_t(ClockAnalyzer::windowCapacity / 2))
                return false;
            if (!timingChecked) return true;
            const std::span<const double> stamps = r->analyzer.ticks.span();
            const auto apart = stampsFromSends(sender, stamps, end);
            if (!apart) return false;
            std::vector<double> sent;
            for (std::int64_t t = end - std::int64_t(stamps.size()); t < end; ++t) sent.push_back(sender.sentAt(t));
            const double expected = 60.0 / (24.0 * ClockAnalyzer::fit(sent)->slope);
            const double got = 60.0 / (24.0 * *r->analyzer.interval);
            errors.push_back(got - expected);
            EXPECT_NEAR(got, expected, 0.03) << "window ending at tick " << end;
            // On CLOCK_MONOTONIC: a stamp lies just after its send time, or
            // up to the timer's lateness before it.
            EXPECT_NEAR(*apart, 0.0, 2e-3) << "window ending at tick " << end;
            lastWindowEnd = end;
            return errors.size() == 6;
        },
        150s);
    if (timingChecked) {
        ASSERT_EQ(errors.size(), 6u) << "windows stamped without a stall; the machine is too busy";
        double squares = 0;
        for (double e : errors) squares += e * e;
        EXPECT_LT(std::sqrt(squares / 6), 0.01) << "RMS error in BPM";
    }

    // Every tick once: doubled deliveries would count twice.
    sender.stopClock();
    waitFor(
        src->ref, [&](const ClockReading& r) { return r.analyzer.tickCount >= sender.sent(); }, 5s);
    EXPECT_EQ(reading(src->ref)->analyzer.tickCount, sender.sent());
    EXPECT_EQ(reading(src->ref)->name, src->name);
    EXPECT_FALSE(reading(input->virtualDestination())) << "the copy at our public port was read";
}

// A sender routed to us twice, through our public port or the kernel's thru
// port, is read once, under its own key; what is sent straight to either
// port, past any subscription, is read there; two senders stay two.
TEST_F(ClockInputAlsa, ASenderReachingUsByTwoPathsIsReadOnceAndAnotherStillWarns) {
    TestSender sender("tactimo-test-twice"), other("tactimo-test-other");
    const auto a = followed(sender.address(), "tactimo-test-twice");
    const auto b = followed(other.address(), "tactimo-test-other");
    const auto thru = source("Midi Through Port-0");
    ASSERT_TRUE(a && b && thru);
    const Address thruPort{14, 0};
    ASSERT_TRUE(subscribed(thruPort));

    const struct {
        const char* path;
        Address into;
        SourceKey copy;
    } paths[] = {
        {"subscribed to our public port", virtualPort, input->virtualDestination()},
        {"subscribed to the kernel's thru port", thruPort, thru->ref},
    };
    std::int64_t counted = 0;
    for (const auto& path : paths) {
        SCOPED_TRACE(path.path);
        ASSERT_TRUE(sender.connectTo(path.into));
        for (int i = 0; i < 48; ++i) sender.send(SND_SEQ_EVENT_CLOCK);
        counted += 48;
        EXPECT_TRUE(waitFor(a->ref, [&](const ClockReading& r) { return r.analyzer.tickCount >= counted; }));
        pumpUntil(
            queue, [] { return false; }, 200ms);
        EXPECT_EQ(reading(a->ref)->analyzer.tickCount, counted);
        EXPECT_FALSE(reading(path.copy)) << "the copy was read";
        ASSERT_TRUE(sender.disconnectFrom(path.into));
    }

    // Two senders, one also routed to our public port: the other is named in
    // the warning, and only it.
    ASSERT_TRUE(other.connectTo(virtualPort));
    sender.startClock(120);
    other.startClock(100);
    std::optional<SourceKey> followedKey;
    ClockStatus status;
    EXPECT_TRUE(pumpUntil(queue, [&] {
        status = deriveStatus(input->readings(), "", followedKey, status);
        return status.receiving && !status.otherSources.empty();
    }));
    sender.stopClock();
    other.stopClock();
    ASSERT_EQ(status.otherSources.size(), 1u);
    EXPECT_EQ(status.otherSources[0], followedKey == a->ref ? b->name : a->name);
    EXPECT_FALSE(reading(input->virtualDestination())) << "the copy was read";

    // Sent straight to either port: there is no other path, so it is read there.
    for (const auto& path : paths) {
        SCOPED_TRACE(path.path);
        for (int i = 0; i < 12; ++i) sender.sendTo(path.into, SND_SEQ_EVENT_CLOCK);
        EXPECT_TRUE(waitFor(path.copy, [](const ClockReading& r) { return r.analyzer.tickCount == 12; }));
    }
    EXPECT_EQ(reading(input->virtualDestination())->name, "Virtual port");
    EXPECT_EQ(reading(thru->ref)->name, "Midi Through Port-0");
}

TEST_F(ClockInputAlsa, StartStopContinueAndSongPositionReachTheAnalyzer) {
    SenderProcess sender("tactimo-test-transport");
    const auto src = followed(sender.address(), "tactimo-test-transport");
    ASSERT_TRUE(src);
    // In turn: what is sent, ticks after it, then the transport and the position in clocks.
    const struct {
        const char* message;
        int ticks;
        Transport transport;
        std::int64_t position;
    } steps[] = {
        {"start", 0, Transport::playing, 0},
        {"clock", 23, Transport::playing, 23},
        {"stop", 0, Transport::stopped, 23},
        {"songpos 4660", 0, Transport::stopped, 6 * 4660},
        {"continue", 6, Transport::playing, 6 * 4660 + 5},
    };
    for (int row = 0; const auto& step : steps) {
        sender.say(step.message);
        for (int i = 0; i < step.ticks; ++i) sender.say("clock");
        waitFor(
            src->ref,
            [&](const ClockReading& r) {
                return r.analyzer.transport == step.transport && r.analyzer.position == step.position;
            },
            3s);
        const auto r = reading(src->ref);
        ASSERT_TRUE(r) << "row " << row;
        EXPECT_EQ(r->analyzer.transport, step.transport) << "row " << row;
        EXPECT_EQ(r->analyzer.position, step.position) << "row " << row++;
    }
}

TEST_F(ClockInputAlsa, EventsPointingIntoAnotherProcessAreDroppedUnread) {
    TestSender sender("tactimo-test-pointer");
    const auto src = followed(sender.address(), "tactimo-test-pointer");
    ASSERT_TRUE(src);
    // Read, this crashed: the decoder copied from the sender's address. At
    // our input port, and sent straight to our public port.
    sender.sendForeignPointer();
    sender.send(SND_SEQ_EVENT_START);
    snd_seq_event_t foreign;
    snd_seq_ev_clear(&foreign);
    foreign.type = SND_SEQ_EVENT_SYSEX;
    snd_seq_ev_set_varusr(&foreign, 100, reinterpret_cast<void*>(std::uintptr_t(0x12345678)));
    snd_seq_ev_set_source(&foreign, sender.address().port);
    snd_seq_ev_set_dest(&foreign, virtualPort.client, virtualPort.port);
    snd_seq_ev_set_direct(&foreign);
    snd_seq_event_output_direct(sender.seq(), &foreign);
    sender.sendTo(virtualPort, SND_SEQ_EVENT_START);
    for (SourceKey key : {src->ref, input->virtualDestination()})
        EXPECT_TRUE(waitFor(key, [](const ClockReading& r) { return r.analyzer.transport == Transport::playing; }))
            << key;
}

TEST_F(ClockInputAlsa, SenderStartedWhileRunningIsListedFollowedAndKeptWhenItQuits) {
    SenderProcess sender("tactimo-test-late");
    const auto src = followed(sender.address(), "tactimo-test-late");
    ASSERT_TRUE(src);
    EXPECT_GT(changes, 0);
    for (int i = 0; i < 12; ++i) sender.say("clock");
    ASSERT_TRUE(waitFor(src->ref, [](const ClockReading& r) { return r.receiving && r.analyzer.tickCount == 12; }));

    // Killed: the kernel takes its client away.
    const Address gone = sender.address();
    sender.quit(true);
    EXPECT_TRUE(pumpUntil(queue, [&] { return !source(src->name); }));
    EXPECT_TRUE(waitFor(
        src->ref, [](const ClockReading& r) { return !r.receiving; }, 3s));
    EXPECT_EQ(reading(src->ref)->name, src->name);
    EXPECT_FALSE(subscribed(gone));
}

TEST_F(ClockInputAlsa, TwentyRestartsLeaveNoSubscriptionBehindAndNeverReuseAKey) {
    std::set<SourceKey> keys;
    std::set<int> clients;
    for (int round = 0; round < 20; ++round) {
        const std::string name = "tactimo-test-restart-" + std::to_string(round);
        Address address;
        {
            SenderProcess sender(name);
            address = sender.address();
            clients.insert(address.client);
            const auto src = followed(address, name);
            ASSERT_TRUE(src) << name;
            EXPECT_TRUE(keys.insert(src->ref).second) << name << " got a key given before";
            sender.say("start");
            EXPECT_TRUE(waitFor(src->ref, [](const ClockReading& r) {
                return r.analyzer.transport == Transport::playing;
            })) << name;
        }
        EXPECT_TRUE(pumpUntil(queue, [&] { return !source(name + ":out"); })) << name;
        EXPECT_FALSE(subscribed(address)) << name;
    }
    // The kernel handed the same few client numbers out again and again.
    EXPECT_LT(clients.size(), 20u);
    // Only the System announcements and the kernel's own sources stay subscribed.
    for (const Address writer : writersTo(observer, inputPort)) EXPECT_LT(writer.client, 128) << writer.client;
    // Present ports and a few departed names, not a record per restart.
    EXPECT_LE(alsa->stats().tableSize, input->sources().size() + AlsaSourceTable::Ledger::departedNames);
}

TEST_F(ClockInputAlsa, KernelClientsAreListedAsTheyComeAndSystemNever) {
    std::vector<std::string> names;
    for (const MIDISource& s : input->sources()) names.push_back(s.name);
    // The dummy client's port, listed like any readable port; and the virtual card's.
    EXPECT_EQ(std::ranges::count(names, "Midi Through Port-0"), 1);
    EXPECT_EQ(std::ranges::count(names, "Virtual Raw MIDI 0-0:VirMIDI 0-0"), 1);
    EXPECT_EQ(std::ranges::count_if(names, [](const std::string& n) { return n.starts_with("System"); }), 0);
    EXPECT_EQ(names.back(), "Virtual port");
    for (const Address kernel : {Address{14, 0}, Address{16, 0}}) EXPECT_TRUE(subscribed(kernel)) << kernel.client;

    // Raw MIDI written to the virtual card comes in through its client 16.
    const auto card = source("Virtual Raw MIDI 0-0:VirMIDI 0-0");
    ASSERT_TRUE(card);
    const int raw = ::open("/dev/snd/midiC0D0", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(raw, 0);
    const std::uint8_t bytes[] = {0xF2, 0x10, 0x00, 0xFB, 0xF8, 0xF8};
    EXPECT_EQ(::write(raw, bytes, sizeof bytes), ssize_t(sizeof bytes));
    ::close(raw);
    ASSERT_TRUE(waitFor(card->ref, [](const ClockReading& r) { return r.analyzer.tickCount == 2; }));
    EXPECT_EQ(reading(card->ref)->analyzer.transport, Transport::playing);
    EXPECT_EQ(reading(card->ref)->analyzer.position, 6 * 16 + 1);
}

// Holds the delivery thread while a flood to the public port overruns the
// kernel's pool for us: the announcements of a sender's leaving and of its
// successor at the same address are lost with the rest.
class ClockInputAlsaOverrun : public ClockInputAlsa {
protected:
    std::unique_ptr<MidiService> wrap(std::unique_ptr<MidiService> service) override {
        auto gated = std::make_unique<GatedMidiService>(std::move(service));
        gate = gated.get();
        return gated;
    }
    GatedMidiService* gate = nullptr;
};

TEST_F(ClockInputAlsaOverrun, ASenderReplacedUnseenGetsANewKeyAndIsConnected) {
    auto first = std::make_unique<SenderProcess>("tactimo-test-first");
    const auto old = followed(first->address(), "tactimo-test-first");
    ASSERT_TRUE(old);
    first->say("start");
    ASSERT_TRUE(waitFor(old->ref, [](const ClockReading& r) { return r.analyzer.transport == Transport::playing; }));

    TestSender flood("tactimo-test-flood");
    ASSERT_TRUE(flood.connectTo(virtualPort));
    gate->hold(true);
    flood.send(SND_SEQ_EVENT_CLOCK);
    ASSERT_TRUE(gate->holding(5s));
    for (int i = 0; i < AlsaMidiService::inputPool + 500; ++i) flood.send(SND_SEQ_EVENT_CLOCK);
    const Address address = first->address();
    first.reset();
    SenderProcess second("tactimo-test-second");
    ASSERT_EQ(second.address(), address) << "the kernel gave the freed client number to another";
    gate->hold(false);

    // Connected without the lost announcement, and read under a key of its own.
    const auto now = followed(second.address(), "tactimo-test-second");
    ASSERT_TRUE(now);
    EXPECT_NE(now->ref, old->ref);
    EXPECT_GE(alsa->stats().overruns, 1u);
    second.say("stop");
    ASSERT_TRUE(waitFor(now->ref, [](const ClockReading& r) { return r.analyzer.transport == Transport::stopped; }));
    EXPECT_EQ(reading(now->ref)->name, now->name);
    EXPECT_EQ(reading(old->ref)->name, old->name);
    EXPECT_EQ(reading(old->ref)->analyzer.transport, Transport::playing);
}

} // namespace
} // namespace tactimo::alsatest
