// The JACK backend against the test's private server: the promises of every
// backend, then JACK's own (UUIDs handed out again, names from metadata and
// bridges, thru ports, the server going and coming back).

#include "MidiServiceTests.h"

#include "core/ClockStatus.h"
#include "midi/SystemMidiService.h"
#include "support/ChildProcess.h"
#include "support/JackTestSender.h"

#include <jack/metadata.h>

#include <fstream>
#include <future>
#include <set>

namespace tactimo::test {
namespace {

INSTANTIATE_TYPED_TEST_SUITE_P(Jack, MidiServiceTest, JackBackend);

using JackTest = MidiServiceTest<JackBackend>;

// Full names of the ports of ours, asked as a client.
std::set<std::string> ourPorts(jack_client_t* asker) {
    std::set<std::string> result;
    const char** names = jack_get_ports(asker, "^Tactimo:", nullptr, 0);
    for (int i = 0; names && names[i]; ++i) result.insert(names[i]);
    jack_free(names);
    return result;
}

// JACK hands freed UUIDs out again, of ports a client removes and of clients
// that quit with theirs registered. New sources get the ports of ours that
// those left, parked, rather than new ones; every tick of a steady sender is
// read once throughout.
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

// A client that passes on what reaches its input, named as a2jmidid names the
// ports of the kernel's "Midi Through": a thru port as a bridge shows it.
struct TestThru {
    jack_client_t* client = jack_client_open("a2j", jack_options_t(JackNoStartServer | JackUseExactName), nullptr);
    jack_port_t* in = jack_port_register(client, "Midi Through [14] (playback): Midi Through Port-0",
                                         JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_port_t* out = jack_port_register(client, "Midi Through [14] (capture): Midi Through Port-0",
                                          JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    TestThru() {
        jack_set_process_callback(
            client,
            [](jack_nframes_t frames, void* arg) {
                auto* self = static_cast<TestThru*>(arg);
                void* to = jack_port_get_buffer(self->out, frames);
                jack_midi_clear_buffer(to);
                jack_midi_event_t e;
                for (std::uint32_t i = 0; jack_midi_event_get(&e, jack_port_get_buffer(self->in, frames), i) == 0; ++i)
                    writeUnseen(to, e.time, Bytes(e.buffer, e.buffer + e.size));
                return 0;
            },
            this);
        jack_activate(client);
    }
    ~TestThru() { jack_client_close(client); }
};

TEST_F(JackTest, SourcesGoByTheNamesPeopleKnowAndAThruPortsCopyIsNotRead) {
    input.reset(); // named "Tactimo" only while it is the one client of ours
    auto owned = JackMidiService::tryCreate();
    JackMidiService* jack = owned.get();
    input = std::make_unique<ClockInput>(std::move(owned), queue.post());
    JackTestSender program("tactimo-test-named"), pipeWire("Midi-Bridge");
    // A device as PipeWire's sequencer bridge shows it, aliases and all.
    jack_port_t* bridged = jack_port_by_name(pipeWire.client(), pipeWire.source().c_str());
    ASSERT_EQ(jack_port_rename(pipeWire.client(), bridged, "USB Drum:(capture_0) USB Drum MIDI 1"), 0);
    jack_port_set_alias(bridged, "alsa:seq:default:client_24:capture_0");
    jack_port_set_alias(bridged, "USB Drum:USB Drum MIDI 1");
    TestThru thru;
    // The names listed, and the ports of ours after them.
    const auto shows = [&](std::set<std::string> names) {
        std::set<std::string> ports{"Tactimo:Tactimo"};
        for (std::string name : names) {
            std::ranges::replace(name, ':', ' ');
            ports.insert("Tactimo:from " + name);
        }
        names.insert("Virtual port");
        return pumpUntil(queue, [&] {
            std::set<std::string> listed;
            for (const MIDISource& s : input->sources()) listed.insert(s.name);
            return listed == names && ourPorts(thru.client) == ports;
        });
    };
    EXPECT_TRUE(shows({"tactimo-test-named:out", "USB Drum MIDI 1", "Midi Through Port-0"}));

    // Another program gives it a pretty name, however long: reported whole
    // (the system service bounds it); our port follows it within JACK's limit.
    const std::string pretty = "Clock " + std::string(1000, 'x');
    ASSERT_EQ(run({"jack_property", "-s", "--port", program.source(), JACK_METADATA_PRETTY_NAME, pretty}), 0);
    EXPECT_TRUE(pumpUntil(queue, [&] {
        return source(pretty) && !ourPorts(thru.client).contains("Tactimo:from tactimo-test-named out");
    }));
    for (const std::string& port : ourPorts(thru.client)) EXPECT_LT(port.size(), std::size_t(jack_port_name_size()));
    ASSERT_EQ(run({"jack_property", "-d", "--port", program.source(), JACK_METADATA_PRETTY_NAME}), 0);

    // Routed through the thru port too: read once, under its own key.
    ASSERT_EQ(jack_connect(program.client(), program.source().c_str(), jack_port_name(thru.in)), 0);
    EXPECT_TRUE(shows({"tactimo-test-named:out", "USB Drum MIDI 1", "Midi Through Port-0"}));
    const std::int64_t heard = this->heard(program, source("tactimo-test-named:out")->ref, queue) + 24;
    program.send(Bytes(24, 0xF8));
    EXPECT_TRUE(pumpUntil(queue, [&] { return ticks(source("tactimo-test-named:out")->ref) == heard; }));
    EXPECT_FALSE(reading(source("Midi Through Port-0")->ref)) << "the thru port's copy was read";

    // While the sequencer backend reads the devices, their bridges are left to it.
    jack->readBridgedSources(false);
    EXPECT_TRUE(shows({"tactimo-test-named:out"}));
}

// Stops the server as a crash or a control panel would: at once, with clients connected.
void killServer(const std::string& name) {
    pid_t pid = 0;
    std::ifstream(std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/tactimo-jack-" + name +
                  "/pid") >>
        pid;
    if (pid <= 0 || ::kill(pid, SIGTERM) != 0) return;
    for (int i = 0; i < 200 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(50ms);
}

// The system's service, as the window has it, while the server starts after
// it, goes away under its clients and comes back: its sender's name is
// followed again, under a key never given before. Kills the server: last.
TEST(SystemMidiServiceJack, AServerStartedLaterAndRestartedIsFollowedUnderNewKeys) {
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    ASSERT_NE(server, nullptr) << "run through ctest: it names the server";
    killServer(server);
    MainQueue queue;
    auto input = std::make_unique<ClockInput>(makeSystemMidiService(), queue.post());
    EXPECT_FALSE(input->serviceReachable());
    std::set<SourceKey> keys;
    std::optional<SourceKey> followed;
    ClockStatus status;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(run({JACK_SERVER_SCRIPT, "start", server}), 0);
        {
            JackTestSender sender("tactimo-test-stage");
            sender.clock(120);
            EXPECT_TRUE(pumpUntil(
                queue,
                [&] {
                    status = deriveStatus(input->readings(), sender.source(), followed, status);
                    return status.receiving;
                },
                15s))
                << round;
            EXPECT_TRUE(input->serviceReachable());
            EXPECT_TRUE(followed && keys.insert(*followed).second) << "a key given before";
            killServer(server);
        }
        EXPECT_TRUE(pumpUntil(queue, [&] {
            const Readings r = input->readings();
            return input->sources().size() == 1 && !input->serviceReachable() && !r.at(*followed).receiving;
        }));
    }
    // Closing after the server died neither crashes nor hangs.
    auto closing = std::async(std::launch::async, [&] { input.reset(); });
    EXPECT_EQ(closing.wait_for(10s), std::future_status::ready);
}

} // namespace
} // namespace tactimo::test
