// The ALSA sequencer backend against a kernel's sequencer (scripts/vm-ctest.sh
// runs these in a virtual machine that has one): the promises of every
// backend, then the sequencer's own (overruns, the kernel's stamps,
// user-pointer events, its own clients), and the system's service there.

#include "MidiServiceTests.h"

#include "core/ClockStatus.h"
#include "midi/SystemMidiService.h"
#include "support/AlsaTestSender.h"
#include "support/GatedMidiService.h"
#include "support/JackTestSender.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <fstream>

// Designated initializers zero the sequencer's C structs; no need to name every field.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tactimo::test {
namespace {

using alsatest::Address;
using alsatest::TestSender;

INSTANTIATE_TYPED_TEST_SUITE_P(Alsa, MidiServiceTest, AlsaBackend);

// Its deliveries held at the test's word, as a stalled consumer would.
class AlsaTest : public MidiServiceTest<AlsaBackend> {
protected:
    void SetUp() override {
        MidiServiceTest::SetUp();
        if (IsSkipped()) return;
        input.reset();
        auto gated = std::make_unique<GatedMidiService>(AlsaMidiService::tryCreate());
        gate = gated.get();
        input = std::make_unique<ClockInput>(std::move(gated), queue.post());
    }
    GatedMidiService* gate = nullptr;
};

// A flood to the public port while delivery is held overruns the kernel's
// pool for us: the announcements of a sender's leaving and of another's
// coming at its address are lost with the rest. The kernel tells the two
// apart by their processes: the first is a child of ours that sends Start.
TEST_F(AlsaTest, ASenderReplacedUnseenInAnOverrunGetsANewKey) {
    TestSender flood("tactimo-test-flood");
    ASSERT_TRUE(flood.connectPublic());
    int up[2], down[2];
    ASSERT_EQ(pipe(up) | pipe(down), 0);
    const pid_t first = fork();
    if (first == 0) {
        TestSender sender("tactimo-test-first");
        const Address at = sender.address();
        char go = 0;
        if (write(up[1], &at, sizeof at) == sizeof at && read(down[0], &go, 1) == 1) sender.send({0xFA});
        _exit(read(down[0], &go, 1));
    }
    Address address;
    ASSERT_EQ(read(up[0], &address, sizeof address), ssize_t(sizeof address));
    std::optional<MIDISource> old;
    ASSERT_TRUE(pumpUntil(queue, [&] {
        return (old = source("tactimo-test-first:out")) && alsatest::readersOf(flood.seq(), address).size() == 1;
    }));
    ASSERT_EQ(write(down[1], "s", 1), 1);
    ASSERT_TRUE(pumpUntil(
        queue, [&] { return reading(old->ref) && reading(old->ref)->analyzer.transport == Transport::playing; }));
    gate->hold(true);
    flood.send({0xF8});
    ASSERT_TRUE(gate->holding(5s));
    flood.send(Bytes(AlsaMidiService::inputPool + 500, 0xF8));
    close(down[1]);
    waitpid(first, nullptr, 0);
    TestSender second("tactimo-test-second");
    ASSERT_EQ(second.address(), address) << "the kernel gave the freed client number to another";
    gate->hold(false);

    const SourceKey now = listed(second);
    EXPECT_NE(now, old->ref);
    second.send({0xFC});
    EXPECT_TRUE(
        pumpUntil(queue, [&] { return reading(now) && reading(now)->analyzer.transport == Transport::stopped; }));
    EXPECT_EQ(reading(old->ref)->analyzer.transport, Transport::playing);
}

// The kernel stamps events as they arrive: held up on their way to us, ticks
// keep their spacing. Another client's "user pointer" events point into its
// own process: read, they crashed us; now they are dropped, and what follows is read.
TEST_F(AlsaTest, TicksKeepTheKernelsStampsAndForeignPointersAreDropped) {
    TestSender sender("tactimo-test-stamps");
    const SourceKey key = listed(sender);
    gate->hold(true);
    sender.send({0xF8});
    ASSERT_TRUE(gate->holding(5s));
    sender.clock(120);
    while (sender.sent() < 24) std::this_thread::sleep_for(10ms);
    sender.stopClock();
    gate->hold(false);
    ASSERT_TRUE(pumpUntil(queue, [&] { return ticks(key) == 1 + sender.sent(); }));
    const auto r = reading(key);
    std::vector<double> spacing;
    for (std::size_t i = 2; i < r->analyzer.ticks.size(); ++i)
        spacing.push_back(r->analyzer.ticks[i] - r->analyzer.ticks[i - 1]);
    std::ranges::sort(spacing);
    EXPECT_NEAR(spacing[spacing.size() / 2], 60.0 / (24 * 120), 5e-3);

    snd_seq_event_t foreign{.type = SND_SEQ_EVENT_SYSEX}, start{.type = SND_SEQ_EVENT_START};
    snd_seq_ev_set_varusr(&foreign, 100, reinterpret_cast<void*>(std::uintptr_t(0x12345678)));
    for (const std::optional<Address> to : {std::optional<Address>(), std::optional(sender.publicPort())}) {
        sender.sendEvent(foreign, to);
        sender.sendEvent(start, to);
    }
    for (SourceKey k : {key, virtualKey})
        EXPECT_TRUE(pumpUntil(queue, [&] {
            return reading(k) && reading(k)->analyzer.transport == Transport::playing;
        })) << k;
}

// Raw MIDI into the virtual card, as a USB device's bytes: they come out of
// the sequencer's client 16.
constexpr const char* card = "Virtual Raw MIDI 0-0:VirMIDI 0-0";
bool play(const Bytes& bytes) {
    const int raw = ::open("/dev/snd/midiC0D0", O_WRONLY | O_CLOEXEC);
    const bool written = raw >= 0 && ::write(raw, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    if (raw >= 0) ::close(raw);
    return written;
}

// The kernel's own clients are listed like any other (System never); a
// sender routed also through the kernel's thru port is read once.
TEST_F(AlsaTest, KernelClientsAreListedAndTheThruPortsCopyIsNotRead) {
    std::vector<std::string> names;
    for (const MIDISource& s : input->sources()) names.push_back(s.name);
    EXPECT_EQ(std::ranges::count(names, "Midi Through Port-0"), 1);
    EXPECT_EQ(std::ranges::count_if(names, [](const std::string& n) { return n.starts_with("System"); }), 0);
    ASSERT_TRUE(play({0xF2, 0x10, 0x00, 0xFB, 0xF8, 0xF8}));
    EXPECT_TRUE(pumpUntil(queue, [&] { return ticks(source(card)->ref) == 2; }));
    EXPECT_EQ(reading(source(card)->ref)->analyzer.position, 6 * 16 + 1);

    TestSender sender("tactimo-test-thru");
    const SourceKey key = listed(sender);
    ASSERT_TRUE(sender.connectTo({14, 0}));
    ASSERT_TRUE(pumpUntil(queue, [&] { return sender.listeners() == 2; }));
    sender.send(Bytes(24, 0xF8));
    EXPECT_TRUE(pumpUntil(queue, [&] { return ticks(key) == 24; }));
    pumpFor(queue, 200ms);
    EXPECT_FALSE(reading(source("Midi Through Port-0")->ref)) << "the thru port's copy was read";
}

// The system's service: an input chosen by a device's name follows it,
// unplugged while we are subscribed and plugged in again, under a new key.
TEST(SystemMidiServiceVm, ADeviceIsFollowedByItsNameThroughAReplug) {
    if (const auto why = AlsaBackend::unavailable()) GTEST_SKIP() << *why;
    MainQueue queue;
    ClockInput input(makeSystemMidiService(), queue.post());
    const auto listed = [&] { return std::ranges::count(input.sources(), std::string(card), &MIDISource::name); };
    std::optional<SourceKey> followed;
    std::set<SourceKey> keys;
    ClockStatus status;
    for (const std::string step : {"plugged", "unbind", "bind"}) {
        if (step != "plugged") std::ofstream("/sys/bus/platform/drivers/snd_virmidi/" + step) << "snd_virmidi.0";
        if (step == "unbind") {
            EXPECT_TRUE(pumpUntil(
                queue, [&] { return listed() == 0; }, 15s));
            continue;
        }
        auto played = std::chrono::steady_clock::now() - 1s;
        EXPECT_TRUE(pumpUntil(
            queue,
            [&] {
                if (std::chrono::steady_clock::now() - played > 100ms) {
                    play({0xF8});
                    played = std::chrono::steady_clock::now();
                }
                status = deriveStatus(input.readings(), card, followed, status);
                return listed() == 1 && status.receiving && keys.insert(*followed).second;
            },
            30s))
            << step;
    }
}

// Under PipeWire (pipewire-session.sh gives it a private daemon and PipeWire's
// libjack): a DAW's clock arrives, and each device, which PipeWire bridges
// into its JACK graph too, is listed once.
TEST(SystemMidiServicePipeWire, ADawsClockArrivesAndEachDeviceIsListedOnce) {
    if (!std::getenv("TACTIMO_TEST_PIPEWIRE")) GTEST_SKIP() << "pipewire-session.sh runs this";
    MainQueue queue;
    ClockInput input(makeSystemMidiService(), queue.post());
    JackTestSender daw("tactimo-test-daw");
    daw.clock(120);
    std::vector<std::string> names;
    EXPECT_TRUE(pumpUntil(
        queue,
        [&] {
            names.clear();
            std::optional<SourceKey> dawKey;
            for (const MIDISource& s : input.sources()) {
                names.push_back(s.name);
                if (s.name == daw.source()) dawKey = s.ref;
            }
            return dawKey && input.readings().contains(*dawKey) && std::ranges::count(names, card);
        },
        30s));
    for (const char* device : {card, "Midi Through Port-0"}) EXPECT_EQ(std::ranges::count(names, device), 1) << device;
    for (const std::string& name : names) EXPECT_FALSE(name.starts_with("Midi-Bridge")) << name;
}

} // namespace
} // namespace tactimo::test
