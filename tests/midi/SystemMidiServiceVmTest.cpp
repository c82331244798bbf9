// The system's service on a machine with the ALSA sequencer (the VM of the
// ctest label "sequencer"): JACK coming and going beside it, bridged or not,
// devices plugged again, PipeWire, and the sequencer itself unloaded and
// loaded again. Skipped where there is no sequencer.

#include "core/ClockStatus.h"
#include "midi/AlsaMidiService.h"
#include "midi/JackMidiService.h"
#include "midi/SystemMidiService.h"
#include "support/AlsaTestSender.h"
#include "support/ChildProcess.h"
#include "support/MainQueue.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <fstream>
#include <map>

namespace tactimo::test {
namespace {

bool haveSequencer() {
    return access("/dev/snd/seq", F_OK) == 0;
}

// Raw MIDI into the virtual card, as a USB device's bytes: they come out of
// the sequencer's client 16, "Virtual Raw MIDI 0-0".
constexpr const char* card = "Virtual Raw MIDI 0-0:VirMIDI 0-0";
bool play(std::initializer_list<std::uint8_t> bytes) {
    const int raw = ::open("/dev/snd/midiC0D0", O_WRONLY | O_CLOEXEC);
    if (raw < 0) return false;
    const std::vector<std::uint8_t> data(bytes);
    const bool written = ::write(raw, data.data(), data.size()) == ssize_t(data.size());
    ::close(raw);
    return written;
}

// Names of the JACK ports whose full name starts so, asked as a client of our own.
std::vector<std::string> jackPorts(const std::string& prefix) {
    std::vector<std::string> result;
    jack_client_t* peek = jack_client_open("tactimo-test-peek", JackNoStartServer, nullptr);
    if (!peek) return result;
    if (const char** names = jack_get_ports(peek, ("^" + prefix).c_str(), JACK_DEFAULT_MIDI_TYPE, 0)) {
        for (const char** name = names; *name; ++name) result.emplace_back(*name);
        jack_free(names);
    }
    jack_client_close(peek);
    return result;
}

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
    // How many sources are listed under a name.
    long count(ClockInput& input, const std::string& name) {
        return std::ranges::count(input.sources(), name, &MIDISource::name);
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
    alsatest::TestSender seqSender{"tactimo-test-seq"};
    ASSERT_TRUE(seqSender.ok());
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

        // Routed to our public port in JACK too: a copy, not read. What is
        // sent straight to our public port in the sequencer is read there.
        const SourceKey virtualKey = input.virtualDestination();
        ASSERT_EQ(run({"jack_connect", jackPort, "Tactimo:Tactimo"}), 0);
        const std::int64_t fromJack = ticks(input, jackKey);
        EXPECT_TRUE(pumpUntil(
            queue, [&] { return ticks(input, jackKey) > fromJack + 24; }, 20s));
        EXPECT_EQ(ticks(input, virtualKey), 0);
        transport.say("stop");
        for (int i = 0; i < 24; ++i)
            seqSender.sendTo(alsatest::portOf(seqSender.seq(), "Tactimo", "Tactimo"), SND_SEQ_EVENT_CLOCK);
        EXPECT_TRUE(pumpUntil(
            queue, [&] { return ticks(input, virtualKey) == 24; }, 5s));
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
    for (int i = 0; i < 24; ++i) seqSender.send(SND_SEQ_EVENT_CLOCK);
    EXPECT_TRUE(pumpUntil(
        queue, [&] { return ticks(input, seqKey) >= before + 24; }, 5s));
}

// A device is listed once, by its own name, whether the sequencer reads it
// or (as in a sandbox without the sequencer) a JACK bridge does; plugged in
// again, or with JACK restarted, it keeps that name, and an input chosen by it
// is followed again.
TEST_F(SystemMidiServiceVm, DevicesKeepOneNameThroughReplugsBridgesAndJackRestarts) {
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    ASSERT_NE(server, nullptr) << "run through ctest: it names the server";
    // The sequencer backend here comes and goes at the test's word.
    std::atomic<bool> sequencer{true};
    std::vector<SystemMidiService::Backend> backends{
        {[]() -> std::unique_ptr<MidiService> { return JackMidiService::tryCreate(); }, {}},
        {[&]() -> std::unique_ptr<MidiService> { return sequencer ? AlsaMidiService::tryCreate() : nullptr; },
         [&](const MidiService&) { return !sequencer; }, true}};
    ClockInput input(std::make_unique<SystemMidiService>(std::move(backends), 200ms), queue.post());
    const std::string thru = "Midi Through Port-0";

    // The input chosen by its name follows the device's clock: on a new key
    // where the path changed, else on the one it had.
    std::optional<SourceKey> followed;
    ClockStatus status;
    const auto follows = [&](const char* step, bool newKey) {
        SCOPED_TRACE(step);
        EXPECT_TRUE(pumpUntil(
            queue, [&] { return count(input, card) == 1 && count(input, thru) == 1; }, 30s))
            << "each device once";
        const std::optional<SourceKey> before = followed;
        const std::int64_t counted = before ? ticks(input, *before) : 0;
        // Played until it arrives: the path may still change meanwhile.
        auto played = std::chrono::steady_clock::now() - 1s;
        EXPECT_TRUE(pumpUntil(
            queue,
            [&] {
                if (std::chrono::steady_clock::now() - played > 400ms) {
                    EXPECT_TRUE(play({0xF8, 0xF8}));
                    played = std::chrono::steady_clock::now();
                }
                status = deriveStatus(input.readings(), card, followed, status);
                return status.receiving && (newKey ? followed != before : ticks(input, *followed) > counted);
            },
            20s));
        EXPECT_EQ(status.sourceName, card);
    };
    follows("the sequencer", true);

    // Unplugged and plugged in again, as USB devices are: the card goes
    // while we are subscribed to it.
    const auto driver = [](const char* action) {
        std::ofstream(std::string("/sys/bus/platform/drivers/snd_virmidi/") + action) << "snd_virmidi.0";
    };
    driver("unbind");
    EXPECT_TRUE(pumpUntil(
        queue, [&] { return count(input, card) == 0; }, 15s));
    driver("bind");
    follows("plugged in again", true);

    // A JACK server whose bridge (a2jmidid) carries the sequencer's devices
    // into JACK: left to the sequencer, so still each once; and again after
    // JACK restarts.
    for (const char* round : {"a JACK server with a bridge", "JACK restarted"}) {
        SCOPED_TRACE(round);
        ChildProcess jackd(
            {"jackd", "-n", server, "--no-realtime", "-t", "5000", "-d", "dummy", "-r", "48000", "-p", "4096"});
        ASSERT_EQ(run({"jack_wait", "-s", server, "-w", "-t", "30"}), 0);
        ChildProcess a2j({"a2jmidid", "-e", "-j", server});
        ASSERT_TRUE(pumpUntil(
            queue, [&] { return !jackPorts("a2j:").empty() && input.serviceReachable(); }, 30s))
            << "a2jmidid bridges nothing";
        pumpFor(queue, 1s);
        follows(round, false);

        if (std::string_view(round) == "JACK restarted") {
            // The sequencer goes (a sandbox): the bridge serves the device, by the same name.
            sequencer = false;
            follows("only JACK's bridge", true);
            sequencer = true;
            follows("the sequencer back", true);
        }
    }
}

// Under PipeWire (pipewire-session.sh runs it with a private daemon and
// PipeWire's libjack): a DAW's clock arrives, and each device, which
// PipeWire also bridges into its JACK graph as "Midi-Bridge", is listed once.
TEST(SystemMidiServicePipeWire, ADawsClockArrivesAndEachDeviceIsListedOnce) {
    if (!std::getenv("TACTIMO_TEST_PIPEWIRE")) GTEST_SKIP() << "pipewire-session.sh runs this";
    if (!haveSequencer()) GTEST_SKIP() << "no ALSA sequencer here";
    MainQueue queue;
    ClockInput input(makeSystemMidiService(), queue.post());
    const auto names = [&] {
        std::vector<std::string> result;
        for (const MIDISource& s : input.sources()) result.push_back(s.name);
        return result;
    };
    ChildProcess daw({"jack_midi_clock", "-b", "120", "-B"}), transport({"jack_transport"});
    const std::string dawPort = "jack_midi_clock:mclk_out";
    std::optional<MIDISource> listed;
    ASSERT_TRUE(pumpUntil(
        queue,
        [&] {
            for (const MIDISource& s : input.sources())
                if (s.name == dawPort) listed = s;
            return listed.has_value();
        },
        30s))
        << ::testing::PrintToString(names());
    transport.say("play");
    EXPECT_TRUE(pumpUntil(
        queue,
        [&] {
            const Readings r = input.readings();
            return r.contains(listed->ref) && r.at(listed->ref).analyzer.tickCount > 48;
        },
        30s));

    // PipeWire bridges the devices into its graph; they are read from the sequencer, once.
    EXPECT_FALSE(jackPorts("Midi-Bridge:").empty()) << "no bridge to leave out";
    for (const std::string& name : names()) EXPECT_FALSE(name.starts_with("Midi-Bridge")) << name;
    EXPECT_EQ(std::ranges::count(names(), std::string(card)), 1);
    EXPECT_EQ(std::ranges::count(names(), std::string("Midi Through Port-0")), 1);
    std::optional<SourceKey> cardKey;
    for (const MIDISource& s : input.sources())
        if (s.name == card) cardKey = s.ref;
    ASSERT_TRUE(cardKey);
    transport.say("stop");
    ASSERT_TRUE(play({0xF8, 0xF8, 0xF8}));
    EXPECT_TRUE(pumpUntil(
        queue,
        [&] {
            const Readings r = input.readings();
            return r.contains(*cardKey) && r.at(*cardKey).analyzer.tickCount == 3;
        },
        10s));
    pumpFor(queue, 500ms);
    // Nothing else heard those ticks.
    for (const auto& [key, reading] : input.readings()) {
        if (key != *cardKey && key != listed->ref) {
            EXPECT_EQ(reading.analyzer.tickCount, 0) << reading.name;
        }
    }
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
    EXPECT_TRUE(listed(input).contains("Midi Through Port-0"));
    run({"modprobe", "snd-virmidi"});
}

} // namespace
} // namespace tactimo::test
