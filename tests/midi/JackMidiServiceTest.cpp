// The JACK backend under ClockInput, against a real JACK server, with real
// senders (jack_midi_clock driven by jack_transport) and one of the test's
// own that counts exactly what it sent.

#include "midi/JackMidiService.h"
#include "core/ClockStatus.h"
#include "core/NullMidiService.h"
#include "support/ChildProcess.h"
#include "support/ClockRates.h"
#include "support/IntakeTest.h"
#include "support/JackTestSender.h"
#include "support/MainQueue.h"

#include <jack/metadata.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <optional>
#include <set>

namespace tactimo::test {
namespace {

using Transport = ClockAnalyzer::Transport;

class ClockInputJack : public IntakeTest {
protected:
    ClockInputJack() {
        auto service = JackMidiService::tryCreate();
        EXPECT_TRUE(service) << "run through ctest: it starts the server";
        backend = service.get();
        if (service)
            start(std::move(service));
        else
            start(std::make_unique<NullMidiService>()); // so that the cases fail rather than crash
    }

    // Every look also reads CLOCK_MONOTONIC against CLOCK_MONOTONIC_RAW.
    std::optional<ClockReading> reading(SourceKey key) override {
        rates.sample();
        return IntakeTest::reading(key);
    }
    // The first source listed under a name that starts so.
    std::optional<MIDISource> source(std::string_view prefix) {
        for (const MIDISource& s : input->sources())
            if (s.name.starts_with(prefix)) return s;
        return std::nullopt;
    }

    ClockRates rates;
    JackMidiService* backend = nullptr; // owned by input
};

TEST_F(ClockInputJack, SenderStartedWhileRunningIsListedReadAndKeptWhenItQuits) {
    // The server's transport, stopped at 0, with a timebase master so that positions are sent.
    ChildProcess transport({"jack_transport"});
    for (const char* line : {"stop", "master", "tempo 120", "locate 0"}) transport.say(line);
    auto sender =
        std::make_unique<ChildProcess>(std::vector<std::string>{"jack_midi_clock", "-b", "123.4", "-B", "-d", "0"});
    // Listed first, then connected by the backend's connector thread: only then does it hear Start.
    const TestSender peek("tactimo-test-peek"); // never sends; a client to ask about connections
    std::optional<MIDISource> src;
    ASSERT_TRUE(
        pumpUntil(queue, [&] { return (src = source("jack_midi_clock")) && connected(peek.client, src->name); }));

    transport.say("play");
    // 8 quarter notes fill the analyzer's window.
    ASSERT_TRUE(waitFor(
        src->ref, [](const ClockReading& r) { return r.analyzer.tickCount >= 200; }, 15s));
    EXPECT_EQ(reading(src->ref)->name, src->name);
    EXPECT_TRUE(reading(src->ref)->receiving);
    EXPECT_EQ(reading(src->ref)->analyzer.transport, Transport::playing);
    // Right to 0.01 BPM on CLOCK_MONOTONIC. The dummy server paces its cycles
    // by CLOCK_MONOTONIC_RAW while NTP may slew CLOCK_MONOTONIC by hundreds
    // of ppm, so the sent tempo is scaled by the two clocks' rates over the
    // analyzer's window. A late cycle of the non-real-time server can bend a
    // window for a while: wait for a clean one.
    double expected = 0, got = 0;
    const bool clean = waitFor(
        src->ref,
        [&](const ClockReading& r) {
            if (r.analyzer.ticks.size() < 48 || !r.analyzer.interval) return false;
            expected = 123.4 * rates.rawPerMonotonic(r.analyzer.ticks[0]);
            got = 60.0 / (24.0 * *r.analyzer.interval);
            return std::fabs(got - expected) < 0.01;
        },
        20s);
    EXPECT_TRUE(clean) << "tempo " << got << " BPM, expected " << expected;
    // Ticks counted against those the stamps' span holds: a doubled delivery
    // counts twice as many; a busy server may stretch a few cycles.
    const Readings first = input->readings();
    pumpFor(queue, 1s);
    for (const auto& [key, last] : input->readings()) {
        const ClockAnalyzer& a = first.at(key).analyzer;
        const double expected = (*last.analyzer.lastTick - *a.lastTick) * 24.0 * 123.4 / 60.0;
        EXPECT_GT(expected, 10.0);
        EXPECT_NEAR(double(last.analyzer.tickCount - a.tickCount), expected, expected * 0.05) << last.name;
    }

    // Stop, then a Song Position Pointer: locate 2 s = bar 2 at 120 BPM.
    transport.say("stop");
    ASSERT_TRUE(waitFor(src->ref, [](const ClockReading& r) { return r.analyzer.transport == Transport::stopped; }));
    transport.say("locate 96000");
    ASSERT_TRUE(waitFor(
        src->ref, [](const ClockReading& r) { return r.analyzer.position == 16 * 6; }, 5s));
    // Playing from there: the pointer, then Continue; the position runs on from bar 2.
    const std::int64_t ticks = reading(src->ref)->analyzer.tickCount;
    transport.say("play");
    ASSERT_TRUE(waitFor(src->ref, [&](const ClockReading& r) {
        return r.analyzer.transport == Transport::playing && r.analyzer.tickCount > ticks + 24;
    }));
    EXPECT_GE(reading(src->ref)->analyzer.position.value_or(0), 16 * 6 + 24);

    // It quits: gone from the list, its record stays and stops receiving.
    sender.reset();
    ASSERT_TRUE(pumpUntil(queue, [&] { return std::ranges::count(input->sources(), *src) == 0; }));
    EXPECT_TRUE(waitFor(
        src->ref, [](const ClockReading& r) { return !r.receiving; }, 3s));
    EXPECT_EQ(reading(src->ref)->name, src->name);
}

TEST_F(ClockInputJack, ChurnLeavesNoPortsOfOursReusesNoKeyAndDeliversEveryTickOnce) {
    TestSender steady("tactimo-test-steady");
    // Listed first, connected soon after by the backend's connector thread.
    ASSERT_TRUE(pumpUntil(queue, [&] { return source(steady.portName()) && jack_port_connected(steady.port) > 0; }));
    const SourceKey steadyKey = source(steady.portName())->ref;
    // Listed by its pretty name while it has one. Another program sets it, as
    // in life: libjack's metadata calls within one process are not thread-safe.
    ASSERT_EQ(run({"jack_property", "-s", "--port", steady.portName(), JACK_METADATA_PRETTY_NAME, "Clock \xC3\x84"}),
              0);
    EXPECT_EQ(source("Clock \xC3\x84"), (MIDISource{steadyKey, "Clock \xC3\x84"}));
    ASSERT_EQ(run({"jack_property", "-d", "--port", steady.portName(), JACK_METADATA_PRETTY_NAME}), 0);
    const auto ourPorts = [&] {
        const char** names = jack_get_ports(steady.client, "^Tactimo:", nullptr, 0);
        int n = 0;
        while (names && names[n]) ++n;
        jack_free(names);
        return n;
    };

    steady.sending = true;
    std::set<SourceKey> seen{steadyKey};
    // JACK hands freed port UUIDs out again, both for ports a client removes
    // and for those of clients that quit with theirs still registered.
    for (int round = 0; round < 5; ++round) {
        std::vector<std::unique_ptr<TestSender>> clients;
        std::vector<jack_port_t*> ports;
        for (int i = 0; i < 4; ++i)
            clients.push_back(std::make_unique<TestSender>("tactimo-test-c" + std::to_string(i)));
        for (int i = 0; i < 10; ++i)
            ports.push_back(jack_port_register(steady.client, std::to_string(i).c_str(), JACK_DEFAULT_MIDI_TYPE,
                                               JackPortIsOutput, 0));
        // 15 sources and the virtual entry; a port of ours for each, and the virtual one.
        ASSERT_TRUE(pumpUntil(queue, [&] { return input->sources().size() == 16 && ourPorts() == 16; }));
        for (const MIDISource& s : input->sources())
            EXPECT_TRUE(s.ref == steadyKey || s.ref == input->virtualDestination() || seen.insert(s.ref).second)
                << s.name << " reuses a key";
        for (jack_port_t* port : ports) jack_port_unregister(steady.client, port);
        clients.clear();
        ASSERT_TRUE(pumpUntil(queue, [&] { return input->sources().size() == 2 && ourPorts() == 2; }));
    }
    steady.sending = false;
    const double stoppedAt = ClockRates::seconds(CLOCK_MONOTONIC);
    // Every tick in, unless the server ran late and lost some.
    waitFor(
        steadyKey, [&](const ClockReading& r) { return r.analyzer.tickCount >= steady.sent; }, 1s);
    const auto r = *reading(steadyKey);
    // Through all those reconnections never more than sent; fewer only by
    // cycles the server ran late.
    EXPECT_GT(steady.sent, 200);
    EXPECT_LE(r.analyzer.tickCount, steady.sent);
    EXPECT_GE(r.analyzer.tickCount, steady.sent - steady.xruns);
    // Stamped on CLOCK_MONOTONIC, not JACK's clock (184 ms apart here): the
    // last tick within a few cycles of the stop, at most one cycle after it.
    EXPECT_LT(stoppedAt - *r.analyzer.lastTick, 0.1);
    EXPECT_GT(stoppedAt - *r.analyzer.lastTick, -0.02);
}

// A sender that restarts gets a new key, served by the port of ours its last
// instance left: no port of ours is registered meanwhile (see JackPortPool for
// why that matters), and ticks of the new instance go to the new key only.
TEST_F(ClockInputJack, ARestartedSenderGetsANewKeyOnThePortItsLastInstanceLeft) {
    struct Watcher {
        jack_client_t* client = jack_client_open("tactimo-test-watch", JackNoStartServer, nullptr);
        std::atomic<int> ourRegistrations{0};
    } watcher;
    ASSERT_NE(watcher.client, nullptr);
    jack_set_port_registration_callback(
        watcher.client,
        [](jack_port_id_t id, int registered, void* arg) {
            auto* self = static_cast<Watcher*>(arg);
            const jack_port_t* port = jack_port_by_id(self->client, id);
            if (registered && port && std::string_view(jack_port_name(port)).starts_with("Tactimo:"))
                ++self->ourRegistrations;
        },
        &watcher);
    jack_activate(watcher.client);

    auto first = std::make_unique<TestSender>("tactimo-test-restart");
    first->sending = true;
    std::optional<MIDISource> before;
    ASSERT_TRUE(pumpUntil(queue, [&] { return (before = source(first->portName())) && reading(before->ref); }));
    const std::string name = first->portName();
    const int registrations = watcher.ourRegistrations;

    first.reset();
    TestSender second("tactimo-test-restart");
    second.sending = true;
    std::optional<MIDISource> after;
    ASSERT_TRUE(pumpUntil(queue, [&] {
        return (after = source(name)) && after->ref != before->ref && reading(after->ref) &&
               reading(after->ref)->analyzer.tickCount > 10;
    }));
    EXPECT_EQ(watcher.ourRegistrations, registrations);
    const std::int64_t left = reading(before->ref)->analyzer.tickCount;
    pumpFor(queue, 200ms);
    EXPECT_EQ(reading(before->ref)->analyzer.tickCount, left) << "the old key still hears ticks";
    jack_client_close(watcher.client);
}

// Our own ports' full names ("Tactimo:from ...").
std::set<std::string> ourPorts(jack_client_t* asker) {
    std::set<std::string> result;
    if (const char** names = jack_get_ports(asker, "^Tactimo:", nullptr, 0)) {
        for (const char** name = names; *name; ++name) result.insert(*name);
        jack_free(names);
    }
    return result;
}

TEST_F(ClockInputJack, SourcesGoByTheNamesPeopleKnowAndOurPortsAfterThem) {
    TestSender program("tactimo-test-named");
    // A device as PipeWire's sequencer bridge shows it, aliases and all; this
    // machine has no sequencer, so the bridge is read.
    TestSender pipeWire("Midi-Bridge");
    const std::string bridged = "USB Drum:(capture_0) USB Drum MIDI 1";
    ASSERT_EQ(jack_port_rename(pipeWire.client, pipeWire.port, bridged.c_str()), 0);
    ASSERT_EQ(jack_port_set_alias(pipeWire.port, "alsa:seq:default:client_24:capture_0"), 0);
    ASSERT_EQ(jack_port_set_alias(pipeWire.port, "USB Drum:USB Drum MIDI 1"), 0);
    const auto listedWithPorts = [&](const std::set<std::string>& names, const std::set<std::string>& ports) {
        std::set<std::string> listed;
        for (const MIDISource& s : input->sources()) listed.insert(s.name);
        std::set<std::string> expected = names, wanted = ports;
        expected.insert("Virtual port");
        wanted.insert("Tactimo:Tactimo");
        return listed == expected && ourPorts(program.client) == wanted;
    };
    EXPECT_TRUE(pumpUntil(queue, [&] {
        return listedWithPorts({"tactimo-test-named:out", "USB Drum MIDI 1"},
                               {"Tactimo:from tactimo-test-named out", "Tactimo:from USB Drum MIDI 1"});
    }));

    // A pretty name, however long, is reported whole (the system service
    // bounds it); the port follows it, within JACK's limit. Another program
    // sets it, as in life.
    const std::string pretty = "Clock " + std::string(10000, 'x') + " end";
    ASSERT_EQ(run({"jack_property", "-s", "--port", program.portName(), JACK_METADATA_PRETTY_NAME, pretty}), 0);
    std::optional<MIDISource> named;
    EXPECT_TRUE(pumpUntil(queue, [&] {
        named = source("Clock ");
        return named && ourPorts(program.client).size() == 3 &&
               !ourPorts(program.client).contains("Tactimo:from tactimo-test-named out");
    }));
    ASSERT_TRUE(named);
    EXPECT_EQ(named->name, pretty);
    for (const std::string& port : ourPorts(program.client))
        EXPECT_LT(port.size(), std::size_t(jack_port_name_size())) << port;
    run({"jack_property", "-d", "--port", program.portName(), JACK_METADATA_PRETTY_NAME});

    // While the sequencer backend reads the devices, their bridges are left to it.
    backend->readBridgedSources(false);
    EXPECT_TRUE(pumpUntil(
        queue, [&] { return listedWithPorts({"tactimo-test-named:out"}, {"Tactimo:from tactimo-test-named out"}); },
        15s));
    backend->readBridgedSources(true);
    EXPECT_TRUE(pumpUntil(queue, [&] {
        return listedWithPorts({"tactimo-test-named:out", "USB Drum MIDI 1"},
                               {"Tactimo:from tactimo-test-named out", "Tactimo:from USB Drum MIDI 1"});
    }));
}

// A sender routed to us twice (to our public port, or through the kernel's
// thru port as a bridge shows it) is read once, under its own key; two
// different senders are still two.
TEST_F(ClockInputJack, ASenderReachingUsByTwoPathsIsReadOnceAndAnotherStillWarns) {
    TestSender sender("tactimo-test-twice"), other("tactimo-test-other");
    TestThru thru;
    ASSERT_NE(thru.client, nullptr);
    std::optional<MIDISource> direct, mirror, second;
    // Listed, and our ports connected to all three.
    ASSERT_TRUE(pumpUntil(queue, [&] {
        direct = source(sender.portName());
        second = source(other.portName());
        mirror = source("Midi Through Port-0");
        return direct && second && mirror && ourPorts(thru.client).size() == 4 &&
               connected(thru.client, thru.outPort()) && connected(sender.client, sender.portName()) &&
               connected(other.client, other.portName());
    }));
    pumpFor(queue, 200ms); // the connector's view of the graph settles after its connections

    const struct {
        const char* path;
        std::string into;
        SourceKey copy;
    } paths[] = {
        {"to our public port", "Tactimo:Tactimo", input->virtualDestination()},
        {"through the thru port", thru.inPort(), mirror->ref},
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path.path);
        ASSERT_EQ(jack_connect(sender.client, sender.portName().c_str(), path.into.c_str()), 0);
        const long before = sender.sent, xruns = sender.xruns;
        const std::int64_t counted = reading(direct->ref) ? reading(direct->ref)->analyzer.tickCount : 0;
        sender.sending = true;
        pumpFor(queue, 500ms);
        sender.sending = false;
        const long sent = sender.sent - before;
        waitFor(
            direct->ref, [&](const ClockReading& r) { return r.analyzer.tickCount >= counted + sent; }, 2s);
        pumpFor(queue, 100ms);
        // Every tick once under the sender's key; none as a copy.
        EXPECT_GT(sent, 20);
        EXPECT_LE(reading(direct->ref)->analyzer.tickCount - counted, sent);
        EXPECT_GE(reading(direct->ref)->analyzer.tickCount - counted, sent - (sender.xruns - xruns));
        EXPECT_FALSE(reading(path.copy)) << "a copy was read";
        ASSERT_EQ(jack_disconnect(sender.client, sender.portName().c_str(), path.into.c_str()), 0);
    }

    // Two senders, one also routed to our public port: the window warns of
    // the other one only, by its own name.
    ASSERT_EQ(jack_connect(other.client, other.portName().c_str(), "Tactimo:Tactimo"), 0);
    sender.sending = other.sending = true;
    std::optional<SourceKey> followed;
    ClockStatus status;
    EXPECT_TRUE(pumpUntil(queue, [&] {
        status = deriveStatus(input->readings(), "", followed, status);
        return status.receiving && !status.otherSources.empty();
    }));
    sender.sending = other.sending = false;
    ASSERT_EQ(status.otherSources.size(), 1u);
    EXPECT_EQ(status.otherSources[0], followed == direct->ref ? second->name : direct->name);
    EXPECT_FALSE(reading(input->virtualDestination())) << "a copy was read";
    EXPECT_GE(backend->stats().mirrored, 1u);
}

// Kills the server: ctest runs it on its own, after the others.
using ClockInputJackServer = ClockInputJack;
TEST_F(ClockInputJackServer, SurvivesTheServerGoingAway) {
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    ASSERT_NE(name, nullptr) << "run through ctest: it starts the server";
    ChildProcess sender({"jack_midi_clock", "-b", "120", "-B"}), transport({"jack_transport"});
    ASSERT_TRUE(pumpUntil(queue, [&] { return input->sources().size() == 2; }));
    transport.say("play");
    const SourceKey key = input->sources().front().ref;
    ASSERT_TRUE(waitFor(key, [](const ClockReading& r) { return r.receiving; }));

    ASSERT_EQ(run({JACK_SERVER_SCRIPT, "stop", name}), 0);
    // The list empties to the virtual entry; the record stays, not receiving.
    EXPECT_TRUE(pumpUntil(
        queue, [&] { return input->sources().size() == 1; }, 5s));
    EXPECT_TRUE(waitFor(
        key, [](const ClockReading& r) { return !r.receiving; }, 3s));
    // Closing after the server died neither crashes nor hangs.
    auto closing = std::async(std::launch::async, [&] { input.reset(); });
    EXPECT_EQ(closing.wait_for(10s), std::future_status::ready);
}

} // namespace
} // namespace tactimo::test
