// The system's service on a machine with the ALSA sequencer (the VM of the
// ctest label "vm"): JACK coming and going beside it, and the sequencer
// itself unloaded and loaded again. Skipped where there is no sequencer.

#include "JackTestRig.h"
#include "midi/SystemMidiService.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace tactimo::test {
namespace {

bool haveSequencer() {
    return access("/dev/snd/seq", F_OK) == 0;
}

// A sequencer client with one readable port, which may also send to our
// virtual destination "Tactimo".
struct SeqSender {
    SeqSender() {
        if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0) return;
        snd_seq_set_client_name(seq, "tactimo-test-seq");
        port = snd_seq_create_simple_port(seq, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                          SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
    ~SeqSender() {
        if (seq) snd_seq_close(seq);
    }
    // Also to the port "Tactimo" of the client "Tactimo", if there is one.
    bool connectToVirtualPort() {
        snd_seq_client_info_t* client = nullptr;
        snd_seq_port_info_t* info = nullptr;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&info);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(seq, client) >= 0) {
            if (std::string(snd_seq_client_info_get_name(client)) != "Tactimo") continue;
            snd_seq_port_info_set_client(info, snd_seq_client_info_get_client(client));
            snd_seq_port_info_set_port(info, -1);
            while (snd_seq_query_next_port(seq, info) >= 0)
                if (std::string(snd_seq_port_info_get_name(info)) == "Tactimo")
                    return snd_seq_connect_to(seq, port, snd_seq_port_info_get_client(info),
                                              snd_seq_port_info_get_port(info)) == 0;
        }
        return false;
    }
    void tick() {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, port);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        event.type = SND_SEQ_EVENT_CLOCK;
        snd_seq_event_output_direct(seq, &event);
    }
    snd_seq_t* seq = nullptr;
    int port = -1;
};

class SystemMidiServiceVm : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveSequencer()) GTEST_SKIP() << "no ALSA sequencer here; run with the label vm inside the VM";
    }
    std::map<std::string, SourceKey> listed(ClockInput& input) {
        std::map<std::string, SourceKey> result;
        for (const MIDISource& s : input.sources()) result[s.name] = s.ref;
        return result;
    }
    std::int64_t ticks(ClockInput& input, SourceKey key) {
        const Readings readings = input.readings();
        return readings.contains(key) ? readings.at(key).analyzer.tickCount : 0;
    }
    MainQueue queue;
};

TEST_F(SystemMidiServiceVm, JackComesAndGoesBesideTheSequencer) {
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    ASSERT_NE(server, nullptr) << "run through ctest: it names the server";
    SeqSender seqSender;
    ASSERT_GE(seqSender.port, 0);
    ClockInput input(makeSystemMidiService(), queue.post());
    EXPECT_TRUE(input.serviceReachable());
    const auto seqOnly = listed(input);
    ASSERT_TRUE(seqOnly.contains("tactimo-test-seq:out"));

    {
        // Long cycles: the emulated machine is slow. Senders in processes of
        // their own, as they are on stage.
        ChildProcess jackd(
            {"jackd", "-n", server, "--no-realtime", "-t", "5000", "-d", "dummy", "-r", "48000", "-p", "4096"});
        ASSERT_EQ(run({"jack_wait", "-s", server, "-w", "-t", "30"}), 0);
        ChildProcess sender({"jack_midi_clock", "-b", "120", "-B"}), transport({"jack_transport"});
        const std::string jackPort = "jack_midi_clock:mclk_out";
        ASSERT_TRUE(pumpUntil(
            queue, [&] { return listed(input).contains(jackPort); }, 30s));
        // The sequencer's sources stay, with their keys.
        for (const auto& [name, key] : seqOnly) EXPECT_EQ(listed(input)[name], key) << name;
        const SourceKey jackKey = listed(input)[jackPort];
        transport.say("play");
        EXPECT_TRUE(pumpUntil(
            queue, [&] { return ticks(input, jackKey) > 10; }, 20s));

        // Our virtual port in both: one key.
        const SourceKey virtualKey = input.virtualDestination();
        ASSERT_EQ(run({"jack_connect", jackPort, "Tactimo:Tactimo"}), 0);
        EXPECT_TRUE(pumpUntil(
            queue, [&] { return ticks(input, virtualKey) > 10; }, 20s));
        ASSERT_TRUE(seqSender.connectToVirtualPort());
        transport.say("stop");
        pumpFor(queue, 500ms);
        const std::int64_t fromJack = ticks(input, virtualKey);
        for (int i = 0; i < 24; ++i) seqSender.tick();
        EXPECT_TRUE(pumpUntil(
            queue, [&] { return ticks(input, virtualKey) >= fromJack + 24; }, 5s));
        const Readings readings = input.readings();
        ASSERT_TRUE(readings.contains(virtualKey));
        EXPECT_EQ(readings.at(virtualKey).name, "Virtual port");
    } // the server stops, its clients with it
    EXPECT_TRUE(pumpUntil(
        queue, [&] { return listed(input) == seqOnly; }, 15s));
    EXPECT_TRUE(input.serviceReachable());
    // The sequencer still delivers.
    const SourceKey seqKey = seqOnly.at("tactimo-test-seq:out");
    const std::int64_t before = ticks(input, seqKey);
    for (int i = 0; i < 24; ++i) seqSender.tick();
    EXPECT_TRUE(pumpUntil(
        queue, [&] { return ticks(input, seqKey) >= before + 24; }, 5s));
}

// Unloads the sequencer: runs last.
TEST_F(SystemMidiServiceVm, WithNeitherNothingIsReachableUntilTheSequencerIsLoaded) {
    if (run({"modprobe", "-r", "snd-virmidi", "snd-seq-dummy", "snd-seq-midi-event", "snd-seq"}) != 0 ||
        haveSequencer())
        GTEST_SKIP() << "the sequencer cannot be unloaded here";
    setenv("JACK_DEFAULT_SERVER", "tactimo-no-such-server", 1);
    ClockInput input(makeSystemMidiService(), queue.post());
    EXPECT_FALSE(input.serviceReachable());
    EXPECT_EQ(input.sources().size(), 1u);

    ASSERT_EQ(run({"modprobe", "snd-seq-dummy"}), 0);
    EXPECT_TRUE(pumpUntil(
        queue, [&] { return input.serviceReachable() && input.sources().size() > 1; }, 15s));
    EXPECT_TRUE(listed(input).contains("Midi Through:Midi Through Port-0"));
    run({"modprobe", "snd-virmidi"});
}

} // namespace
} // namespace tactimo::test
