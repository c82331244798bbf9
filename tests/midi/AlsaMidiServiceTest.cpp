// The ALSA sequencer backend without the kernel: decoding, time stamps; and
// the fall-back when neither JACK nor the sequencer is there.

#include "midi/AlsaMidiService.h"
#include "core/ClockInput.h"
#include "midi/AlsaEventDecoder.h"
#include "midi/SystemMidiService.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

// Designated initializers zero the sequencer's C structs; no need to name every field.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tactimo {
namespace {

using Bytes = std::vector<std::uint8_t>;

snd_seq_event_t event(snd_seq_event_type_t type, int value = 0) {
    return {.type = type, .data = {.control = {.value = value}}};
}

TEST(AlsaEventDecoder, EachMessageComesBackWholeWithItsStatusByte) {
    const snd_seq_event_t note{.type = SND_SEQ_EVENT_NOTEON, .data = {.note = {0, 60, 100, 0, 0}}};
    Bytes sysex(1000, 0x11); // longer than the buffer
    auto longSysex = event(SND_SEQ_EVENT_SYSEX);
    snd_seq_ev_set_variable(&longSysex, sysex.size(), sysex.data());
    auto shortSysex = event(SND_SEQ_EVENT_SYSEX);
    snd_seq_ev_set_variable(&shortSysex, 3, sysex.data());
    // Another client's "user pointer" event: the address is in its process, never ours to read.
    auto foreignSysex = shortSysex;
    snd_seq_ev_set_varusr(&foreignSysex, 3, sysex.data());
    // In turn through one decoder: nothing upsets what follows.
    // The note twice: no running status. The long one is dropped whole, never cut short.
    const std::pair<snd_seq_event_t, Bytes> table[] = {{event(SND_SEQ_EVENT_CLOCK), {0xF8}},
                                                       {event(SND_SEQ_EVENT_START), {0xFA}},
                                                       {event(SND_SEQ_EVENT_CONTINUE), {0xFB}},
                                                       {event(SND_SEQ_EVENT_STOP), {0xFC}},
                                                       {event(SND_SEQ_EVENT_SONGPOS, 0x1234), {0xF2, 0x34, 0x24}},
                                                       {event(SND_SEQ_EVENT_SONGPOS, 129), {0xF2, 0x01, 0x01}},
                                                       {note, {0x90, 60, 100}},
                                                       {note, {0x90, 60, 100}},
                                                       {event(SND_SEQ_EVENT_PORT_START), {}},
                                                       {event(SND_SEQ_EVENT_TICK), {}},
                                                       {longSysex, {}},
                                                       {shortSysex, {0x11, 0x11, 0x11}},
                                                       {foreignSysex, {}},
                                                       {event(SND_SEQ_EVENT_CLOCK), {0xF8}}};
    AlsaEventDecoder decoder;
    for (int row = 0; const auto& [ev, bytes] : table) {
        const auto out = decoder.decode(ev);
        EXPECT_EQ(Bytes(out.begin(), out.end()), bytes) << "row " << row++;
    }
}

TEST(AlsaMidiServiceTime, OnlyRealTimeStampsMoveOntoTheMonotonicClock) {
    // The queue read 1 s at host 8 s: 7 s apart.
    AlsaQueueClock calibrated, uncalibrated;
    calibrated.calibrate(std::vector<hostClock::Bracket>{{7'999'000'000, 1'000'000'000, 8'000'000'000}});
    // An event at queue time 2.25 s: {stamp kind, calibrated?, CLOCK_MONOTONIC ns}. 0 is "at
    // delivery": no mapping yet, or a tick stamp, which is no time.
    const std::tuple<unsigned char, bool, std::uint64_t> table[] = {{SND_SEQ_TIME_STAMP_REAL, true, 9'250'000'000},
                                                                    {SND_SEQ_TIME_STAMP_REAL, false, 0},
                                                                    {SND_SEQ_TIME_STAMP_TICK, true, 0}};
    for (auto [flags, mapped, ns] : table)
        EXPECT_EQ(AlsaMidiService::eventTimeNs(
                      {.type = SND_SEQ_EVENT_CLOCK, .flags = flags, .time = {.time = {2, 250'000'000}}},
                      mapped ? calibrated : uncalibrated),
                  ns)
            << mapped;
}

TEST(SystemMidiService, WithNeitherJackNorTheSequencerOnlyTheVirtualPortIsListed) {
    if (access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "this machine has an ALSA sequencer";
    setenv("JACK_DEFAULT_SERVER", "tactimo-no-such-server", 1);
    ClockInput input(makeSystemMidiService(), [](std::function<void()>) { FAIL() << "nothing to post"; });
    EXPECT_TRUE((input.sources() == std::vector<MIDISource>{{input.virtualDestination(), "Virtual port"}}));
}

} // namespace
} // namespace tactimo
