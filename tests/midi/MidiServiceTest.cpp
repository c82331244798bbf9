// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What every backend promises, once over a backend fixture (JACK on the private
// server, the sequencer in scripts/vm-ctest.sh's machine); then JACK's own, and
// two clocks compared through each.

#include "core/ClockComparison.h"
#include "core/ClockStatus.h"
#include "midi/SystemMidiService.h"
#include "support/AlsaTestSender.h"
#include "support/ChildProcess.h"
#include "support/JackTestSender.h"
#include "support/MainQueue.h"

#include <jack/metadata.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <set>

namespace tactimo::test {
namespace {

using Transport = ClockAnalyzer::Transport;
using Bytes = std::vector<std::uint8_t>;

#if defined(__SANITIZE_THREAD__)
constexpr bool timingChecked = false; // slowed past clean timing: run for races, no figures asked
#else
constexpr bool timingChecked = true;
#endif

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
TYPED_TEST_P(MidiServiceTest, ASenderIsListedByNameReadAndKeptWhenItQuits) {
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
    for (int restart = 0; restart < 2; ++restart) {
        sender.reset();
        EXPECT_TRUE(pumpUntil(this->queue, [&] {
            return !this->source("tactimo-test-sender:out") && !this->reading(keys.back())->receiving;
        }));
        EXPECT_EQ(this->reading(keys.back())->name, "tactimo-test-sender:out");
        sender = std::make_unique<typename TestFixture::Sender>("tactimo-test-sender");
        keys.push_back(this->listed(*sender, 1, keys));
        EXPECT_EQ(this->heard(*sender, keys.back(), 24, this->queue), 0);
    }
}

// What reaches our public port from a sender we do not read yet is read there; once we read it, the copy is not.
TYPED_TEST_P(MidiServiceTest, ThePublicPortReadsWhatReachesUsThereAlone) {
    typename TestFixture::Sender before("tactimo-test-before");
    this->listed(before); // the backend's first look at the set-up is done: the next waits for us
    typename TestFixture::Sender sender("tactimo-test-public");
    ASSERT_TRUE(sender.connectPublic());
    const SourceKey virtualPort = this->input->virtualDestination();
    MainQueue unpumped;
    EXPECT_EQ(this->heard(sender, virtualPort, 24, unpumped), 0);
    EXPECT_EQ(this->reading(virtualPort)->name, "Virtual port");
    // A tick may reach both ports while we take the sender over: count from once it is read directly.
    const SourceKey direct = this->listed(sender, 2);
    EXPECT_EQ(this->heard(sender, direct, 1, this->queue), 0);
    const std::int64_t atPublic = this->ticks(virtualPort);
    EXPECT_EQ(this->heard(sender, direct, 12, this->queue), 0);
    pumpFor(this->queue, 200ms);
    EXPECT_EQ(this->ticks(virtualPort), atPublic);
}

REGISTER_TYPED_TEST_SUITE_P(MidiServiceTest, ASenderIsListedByNameReadAndKeptWhenItQuits,
                            ThePublicPortReadsWhatReachesUsThereAlone);
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

// Reused UUIDs get new keys, parked ports of ours are reused, and a steady sender is read once throughout.
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
        std::vector<jack_port_t*> ports;
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

using ClockComparisonJack = MidiServiceTest<JackBackend>;
using ClockComparisonAlsa = MidiServiceTest<AlsaBackend>;

TEST_F(ClockComparisonJack, OffsetsOfKnownDelays) {
    // Followers 0, 3.0 and 12.5 ms late at the server's 48 kHz.
    const JackTestSender d0("tactimo-test-d0", 0), d3("tactimo-test-d3", 144), d12("tactimo-test-d12", 600);
    ASSERT_EQ(jack_get_sample_rate(d0.client()), 48000u);
    ChildProcess transport({"jack_transport"});
    transport.say("stop");
    ChildProcess sender({"jack_midi_clock", "-b", "120", "-B", d0.input(), d3.input(), d12.input()});
    const SourceKey f0 = listed(d0), f3 = listed(d3), f12 = listed(d12);
    std::optional<MIDISource> clock; // connected to us and the three
    ASSERT_TRUE(pumpUntil(queue, [&] {
        clock = source("jack_midi_clock:mclk_out");
        return clock && jack_port_connected(jack_port_by_name(d0.client(), "jack_midi_clock:mclk_out")) == 4;
    }));
    // Late cycles of a busy machine lose or move events, and a starved server's
    // frames run slow: play again until two seconds without either.
    Readings readings;
    const auto all = [&](auto condition) {
        readings = input->readings();
        return std::ranges::all_of(std::array{clock->ref, f0, f3, f12}, [&](SourceKey k) {
            return readings.contains(k) && condition(readings.at(k).analyzer);
        });
    };
    bool clean = false;
    for (const auto deadline = std::chrono::steady_clock::now() + 150s;
         !clean && std::chrono::steady_clock::now() < deadline;) {
        transport.say("stop");
        transport.say("locate 0");
        pumpUntil(queue, [&] { return all([](const ClockAnalyzer& z) { return z.transport != Transport::playing; }); });
        const std::int64_t xruns = d0.xruns();
        const auto [frame, time] = std::pair(jack_frame_time(d0.client()), hostClock::now());
        transport.say("play");
        const bool filled = pumpUntil(
            queue,
            [&] {
                return (timingChecked && d0.xruns() != xruns) || all([](const ClockAnalyzer& z) {
                           return z.transport == Transport::playing && z.position >= 120 &&
                                  z.ticks.size() >= (timingChecked ? 96u : ClockAnalyzer::minJitterTicks);
                       });
            },
            20s);
        const double rate = (jack_frame_time(d0.client()) - frame) / (double(hostClock::now() - time) * 1e-9);
        clean = filled && ((d0.xruns() == xruns && std::fabs(rate / 48000 - 1) < 1e-3) || !timingChecked);
    }
    ASSERT_TRUE(clean) << "no two seconds of clean cycles: the machine is too busy";
    const std::tuple<SourceKey, SourceKey, double> rows[] = {
        {f0, clock->ref, 0}, {f3, clock->ref, 3.0}, {f12, clock->ref, 12.5}, {clock->ref, f3, -3.0}};
    for (const auto& [followed, reference, offsetMs] : rows) { // {followed, reference, offset}
        const auto c = compareClocks(readings, followed, reference, static_cast<double>(hostClock::now()) * 1e-9);
        if (!timingChecked) continue;
        ASSERT_TRUE(c && c->offsetMs && c->spreadMs) << offsetMs;
        EXPECT_NEAR(*c->offsetMs, offsetMs, 0.1);
        EXPECT_EQ(c->pairing, ClockComparison::Pairing::position) << offsetMs;
        EXPECT_LT(*c->spreadMs, 0.05) << offsetMs;
    }
    transport.say("stop");
}

TEST_F(ClockComparisonAlsa, TwelveAndAHalfMillisecondsBehindArePairedByPosition) {
    alsatest::TestSender lead("tactimo-test-lead"), late("tactimo-test-late");
    const SourceKey leadKey = listed(lead), lateKey = listed(late); // subscribed: the Start comes in
    // Beyond half a tick at 120 BPM: only pairing by position reads it as it is.
    lead.send({0xFA});
    late.send({0xFA});
    const std::uint64_t at = alsatest::TestSender::monotonicNs() + 50'000'000;
    lead.clock(120, at);
    late.clock(120, at + 12'500'000);
    const std::size_t window = timingChecked ? ClockAnalyzer::windowCapacity : ClockAnalyzer::minJitterTicks;
    Readings r;
    const auto full = [&] {
        r = input->readings();
        return r.contains(leadKey) && r.contains(lateKey) && r.at(leadKey).analyzer.ticks.size() >= window &&
               r.at(lateKey).analyzer.ticks.size() >= window;
    };
    ASSERT_TRUE(pumpUntil(queue, full, 90s));
    const auto c = compareClocks(r, lateKey, leadKey, static_cast<double>(hostClock::now()) * 1e-9);
    if (!timingChecked) return;
    ASSERT_TRUE(c && c->offsetMs);
    EXPECT_EQ(c->pairing, ClockComparison::Pairing::position);
    // Against when the newest ticks both have counted were handed to the
    // sequencer, which stamps them up to about 1 ms late under emulation.
    const std::int64_t newest = std::min({*r.at(leadKey).analyzer.position, lead.sent() - 1, late.sent() - 1});
    double sent = 0;
    for (std::int64_t k = newest - 191; k <= newest; ++k) sent += (late.sentAt(k) - lead.sentAt(k)) / 192 * 1000;
    EXPECT_NEAR(*c->offsetMs, sent, 1.0);
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
        {
            JackTestSender sender("tactimo-test-stage");
            sender.clock(120);
            const auto receiving = [&] {
                return (status = deriveStatus(input->readings(), sender.source(), followed, status)).receiving;
            };
            EXPECT_TRUE(pumpUntil(queue, receiving, 15s) && input->serviceReachable()) << round;
            EXPECT_TRUE(followed && keys.insert(*followed).second) << "a key given before";
            run({JACK_SERVER_SCRIPT, "kill", server});
        }
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
