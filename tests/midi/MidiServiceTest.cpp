// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What every backend promises, over a backend fixture (JACK on the private server, the sequencer in the VM); JACK's own.
// Every backend's promises over one fixture (JACK on the private server, the sequencer in the VM), then JACK's own.
#include "core/ClockStatus.h"
#include "midi/SystemMidiService.h"
#include "support/AlsaTestSender.h"
#include "support/ChildProcess.h"
#include "support/JackTestSender.h"
#include "support/MainQueue.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <gtest/gtest.h>
#include <jack/metadata.h>
#include <set>

namespace tactimo::test {
namespace {

using Transport = ClockAnalyzer::Transport;
using Bytes = std::vector<std::uint8_t>;

template <typename Backend>
class MidiServiceTest : public ::testing::Test {
protected:
    using Sender = typename Backend::Sender;

    void SetUp() override {
        if (const auto why = Backend::unavailable()) GTEST_SKIP() << *why;
        auto service = Backend::service();
        ASSERT_TRUE(service) << "run through ctest: it starts the server";
        input = std::make_unique<ClockInput>(std::move(service), queue.post());
    }
    std::optional<MIDISource> source(const std::string& name) {
        for (const MIDISource& s : input->sources())
            if (s.name == name) return s;
        return std::nullopt;
    }
    std::optional<ClockReading> reading(SourceKey key) {
        const Readings all = input->readings();
        return all.contains(key) ? std::optional(all.at(key)) : std::nullopt;
    }
    std::int64_t ticks(SourceKey key) { return reading(key) ? reading(key)->analyzer.tickCount : 0; }
    // Listed by name under a key not given before, once read (its port has that many listeners).
    SourceKey listed(const Sender& sender, int listeners = 1, const std::vector<SourceKey>& given = {}) {
        std::optional<MIDISource> s;
        EXPECT_TRUE(pumpUntil(queue, [&] {
            return (s = source(sender.source())) && sender.listeners() == listeners &&
                   !std::ranges::count(given, s->ref);
        })) << sender.source();
        return s ? s->ref : 0;
    }
    // Clocks until one is read (JACK connects from a later cycle on) and the rest settle, then n: how many extra.
    std::int64_t heard(Sender& sender, SourceKey key, int n, MainQueue& main) {
        for (int i = 0; i < 100 && !ticks(key); ++i) {
            sender.send({0xF8});
            pumpFor(main, 100ms);
        }
        for (std::int64_t settled = -1; settled != ticks(key);) {
            settled = ticks(key);
            pumpFor(main, 200ms);
        }
        const std::int64_t expected = ticks(key) + n;
        sender.send(Bytes(n, 0xF8));
        pumpUntil(
            main, [&] { return ticks(key) == expected; }, 20s); // a starved server runs late
        return ticks(key) - expected;
    }

    MainQueue queue;
    std::unique_ptr<ClockInput> input;
};
TYPED_TEST_SUITE_P(MidiServiceTest);

// Listed once by name, read, kept when it quits; restarted on a reused port, it gets a key never given before.
// What reaches our public port from a sender we do not read yet is read there; once we read it, the copy is not.
TYPED_TEST_P(MidiServiceTest, ASenderIsListedByNameReadAndKeptWhenItQuitsAndThePublicPortReadsTheRest) {
    auto sender = std::make_unique<typename TestFixture::Sender>("tactimo-test-sender");
    std::vector<SourceKey> keys{this->listed(*sender)};
    EXPECT_EQ(this->heard(*sender, keys[0], 1, this->queue), 0);
    // In turn: bytes sent, then the transport and the song position in clocks.
    const std::tuple<Bytes, Transport, std::int64_t> steps[] = {
        {{0xFA, 0xF8, 0xF8}, Transport::playing, 1},
        {{0xFC, 0xF2, 0x34, 0x24}, Transport::stopped, 6 * 0x1234},
        {{0xFB, 0xF8}, Transport::playing, 6 * 0x1234},
    };
    for (int row = 0; const auto& [bytes, transport, position] : steps) {
        sender->send(bytes);
        EXPECT_TRUE(pumpUntil(this->queue,
                              [&, &t = transport, &p = position] {
                                  return this->reading(keys[0])->analyzer.transport == t &&
                                         this->reading(keys[0])->analyzer.position == p;
                              }))
            << "row " << row++;
    }
    EXPECT_EQ(std::ranges::count(this->input->sources(), keys[0], &MIDISource::ref), 1);
    sender.reset();
    EXPECT_TRUE(pumpUntil(
        this->queue, [&] { return !this->source("tactimo-test-sender:out") && !this->reading(keys[0])->receiving; }));
    EXPECT_EQ(this->reading(keys[0])->name, "tactimo-test-sender:out");
    sender = std::make_unique<typename TestFixture::Sender>("tactimo-test-sender");
    keys.push_back(this->listed(*sender, 1, keys));
    EXPECT_EQ(this->heard(*sender, keys[1], 24, this->queue), 0);
    // Unpumped, the service does not take the new sender over yet: its first look at the set-up is long done.
    typename TestFixture::Sender atPublic("tactimo-test-public");
    ASSERT_TRUE(atPublic.connectPublic());
    const SourceKey virtualPort = this->input->virtualDestination();
    MainQueue unpumped;
    EXPECT_EQ(this->heard(atPublic, virtualPort, 24, unpumped), 0);
    EXPECT_EQ(this->reading(virtualPort)->name, "Virtual port");
    // A tick may reach both ports while we take the sender over: count from once it is read directly.
    const SourceKey direct = this->listed(atPublic, 2);
    EXPECT_EQ(this->heard(atPublic, direct, 1, this->queue), 0);
    const std::int64_t publicTicks = this->ticks(virtualPort);
    EXPECT_EQ(this->heard(atPublic, direct, 12, this->queue), 0);
    pumpFor(this->queue, 200ms);
    EXPECT_EQ(this->ticks(virtualPort), publicTicks);
}

REGISTER_TYPED_TEST_SUITE_P(MidiServiceTest, ASenderIsListedByNameReadAndKeptWhenItQuitsAndThePublicPortReadsTheRest);
INSTANTIATE_TYPED_TEST_SUITE_P(Jack, MidiServiceTest, JackBackend);
INSTANTIATE_TYPED_TEST_SUITE_P(Alsa, MidiServiceTest, AlsaBackend);

using JackTest = MidiServiceTest<JackBackend>;

std::set<std::string> ourPorts(jack_client_t* asker) {
    std::set<std::string> result;
    const char** names = jack_get_ports(asker, "^Tactimo:", nullptr, 0);
    for (int i = 0; names && names[i]; ++i) result.insert(names[i]);
    jack_free(names);
    return result;
}

// Parked ports of ours are reused, and a steady sender is read once throughout, each tick stamped at its frame.
TEST_F(JackTest, PortsThatComeAndGoGetNewKeysAndTheParkedPortsOfOurs) {
    JackTestSender steady("tactimo-test-steady");
    const SourceKey key = listed(steady);
    steady.clock(240);
    ASSERT_TRUE(pumpUntil(queue, [&] { return ticks(key) > 0; }));
    const std::int64_t sent = steady.sent(), read = ticks(key);
    std::set<SourceKey> seen;
    std::size_t most = 0;
    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<JackTestSender>> clients;
        std::vector<jack_port_t*> ports; // ports that go while their client stays
        for (int i = 0; i < 4; ++i)
            clients.push_back(std::make_unique<JackTestSender>("tactimo-test-" + std::to_string(i)));
        for (int i = 0; i < 10; ++i)
            ports.push_back(jack_port_register(steady.client(), std::to_string(i).c_str(), JACK_DEFAULT_MIDI_TYPE,
                                               JackPortIsOutput, 0));
        // 15 sources and the virtual port; a port of ours for each, and the public one.
        ASSERT_TRUE(pumpUntil(queue, [&] {
            most = std::max(most, ourPorts(steady.client()).size());
            return input->sources().size() == 16 && ourPorts(steady.client()).size() == 16;
        }));
        for (const MIDISource& s : input->sources())
            EXPECT_TRUE(s.ref == key || s.ref == virtualKey || seen.insert(s.ref).second) << s.name;
        for (jack_port_t* port : ports) jack_port_unregister(steady.client(), port);
        clients.clear();
        ASSERT_TRUE(pumpUntil(queue, [&] { return input->sources().size() == 2; }));
    }
    EXPECT_EQ(most, 16u) << "ports of ours registered while parked ones were free";
    EXPECT_TRUE(pumpUntil(queue, [&] { return ourPorts(steady.client()).size() == 2; }));
    steady.stopClock();
    pumpFor(queue, 300ms);
    EXPECT_LE(ticks(key) - read, steady.sent() - sent + 2);
    EXPECT_GE(ticks(key) - read, steady.sent() - sent - steady.xruns());
    const auto stamps = reading(key)->analyzer.ticks;
    long off = 0; // from the time of the frame it was sent in, by over 0.5 ms: only where reading a clock was preempted
    for (const double stamp : stamps) {
        double nearest = 1;
        for (std::int64_t k = 0; k < steady.sent(); ++k)
            nearest = std::min(nearest, std::fabs(steady.sentAt(k) - stamp));
        off += nearest > 5e-4;
    }
    EXPECT_LT(off, std::ssize(stamps) / 4) << "of " << stamps.size();
}

TEST_F(JackTest, SourcesGoByTheNamesPeopleKnowAndAThruPortsCopyIsNotRead) {
    input.reset(); // named "Tactimo" only while it is the one client of ours
    JackTestSender program("tactimo-test-named"), pipeWire("Midi-Bridge");
    // A device as PipeWire's bridge shows it, named before our client's threads start to read it.
    jack_port_t* bridged = jack_port_by_name(pipeWire.client(), pipeWire.source().c_str());
    ASSERT_EQ(jack_port_rename(pipeWire.client(), bridged, "USB Drum:(capture_0) USB Drum MIDI 1"), 0);
    jack_port_set_alias(bridged, "alsa:seq:default:client_24:capture_0");
    jack_port_set_alias(bridged, "USB Drum:USB Drum MIDI 1");
    auto owned = JackMidiService::tryCreate();
    JackMidiService* jack = owned.get();
    input = std::make_unique<ClockInput>(std::move(owned), queue.post());
    // A thru port as a bridge shows it: a2jmidid's names of the kernel's "Midi Through".
    const JackTestSender thru("a2j", 0, "Midi Through [14] (capture): Midi Through Port-0",
                              "Midi Through [14] (playback): Midi Through Port-0");
    const auto shows = [&](std::set<std::string> names) {
        std::set<std::string> ports{"Tactimo:Tactimo"};
        for (std::string name : names) ports.insert("Tactimo:from " + (std::ranges::replace(name, ':', ' '), name));
        names.insert("Virtual port");
        return pumpUntil(queue, [&] {
            std::set<std::string> listed;
            for (const MIDISource& s : input->sources()) listed.insert(s.name);
            return listed == names && ourPorts(thru.client()) == ports;
        });
    };
    const std::set<std::string> all{"tactimo-test-named:out", "USB Drum MIDI 1", "Midi Through Port-0"};
    EXPECT_TRUE(shows(all));
    // A port of ours reads its source alone: a peer a patchbay adds goes at the next look.
    const std::string ours = "Tactimo:from tactimo-test-named out";
    ASSERT_EQ(jack_connect(pipeWire.client(), pipeWire.source().c_str(), ours.c_str()), 0);
    {
        JackTestSender look("tactimo-test-look");
        EXPECT_TRUE(
            pumpUntil(queue, [&] { return jack_port_connected(jack_port_by_name(thru.client(), ours.c_str())) == 1; }));
    }
    // A pretty name, however long, is reported whole; our port follows it within JACK's limit.
    const std::string pretty = "Clock " + std::string(1000, 'x');
    ASSERT_EQ(run({"jack_property", "-s", "--port", program.source(), JACK_METADATA_PRETTY_NAME, pretty}), 0);
    EXPECT_TRUE(pumpUntil(queue, [&] { return source(pretty) && !ourPorts(thru.client()).contains(ours); }));
    for (const std::string& port : ourPorts(thru.client())) EXPECT_LT(port.size(), std::size_t(jack_port_name_size()));
    ASSERT_EQ(run({"jack_property", "-d", "--port", program.source(), JACK_METADATA_PRETTY_NAME}), 0);
    // Routed through the thru port too: read once, under its own key.
    ASSERT_EQ(jack_connect(program.client(), program.source().c_str(), thru.input().c_str()), 0);
    EXPECT_TRUE(shows(all));
    EXPECT_EQ(heard(program, source("tactimo-test-named:out")->ref, 24, queue), 0);
    EXPECT_FALSE(reading(source("Midi Through Port-0")->ref)) << "the thru port's copy was read";
    // While the sequencer backend reads the devices, their bridges are left to it.
    jack->readBridgedSources(false);
    EXPECT_TRUE(shows({"tactimo-test-named:out"}));
}

// A server that starts late, dies under its clients and comes back: the name is followed again, under a new key.
TEST(SystemMidiServiceJack, AServerStartedLaterAndRestartedIsFollowedUnderNewKeys) {
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    ASSERT_NE(server, nullptr) << "run through ctest: it names the server";
    run({JACK_SERVER_SCRIPT, "kill", server});
    MainQueue queue;
    auto input = std::make_unique<ClockInput>(makeSystemMidiService(), queue.post());
    EXPECT_EQ(input->sources(), (std::vector<MIDISource>{{virtualKey, "Virtual port"}})) << "with no server";
    EXPECT_FALSE(input->serviceReachable());
    std::set<SourceKey> keys;
    std::optional<SourceKey> followed;
    ClockStatus status;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(run({JACK_SERVER_SCRIPT, "start", server}), 0);
        // A client opens only while no other of this process is left from a dead server:
        // libjack frees those behind their owners' backs. So the service first, the sender after.
        ASSERT_TRUE(pumpUntil(queue, [&] { return input->serviceReachable(); }, 15s)) << round;
        {
            JackTestSender sender("tactimo-test-stage");
            sender.clock(120);
            const auto receiving = [&] {
                return (status = deriveStatus(input->readings(), sender.source(), followed, status)).receiving;
            };
            EXPECT_TRUE(pumpUntil(queue, receiving, 15s)) << round;
            EXPECT_TRUE(followed && keys.insert(*followed).second) << "a key given before";
        }
        run({JACK_SERVER_SCRIPT, "kill", server});
        EXPECT_TRUE(pumpUntil(queue, [&] {
            return input->sources().size() == 1 && !input->serviceReachable() &&
                   !input->readings().at(*followed).receiving;
        }));
    }
    // Closing after the server died neither crashes nor hangs.
    auto closing = std::async(std::launch::async, [&] { input.reset(); });
    EXPECT_EQ(closing.wait_for(10s), std::future_status::ready);
}

} // namespace
} // namespace tactimo::test
