// Two clocks compared on a kernel's ALSA sequencer through the system's MIDI
// service (scripts/vm-ctest.sh runs it in a virtual machine that has one):
// two senders started together, one 12.5 ms behind the other.

#include "core/ClockComparison.h"
#include "midi/SystemMidiService.h"
#include "support/AlsaTestSender.h"
#include "support/MainQueue.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tactimo::alsatest {
namespace {

using test::pumpUntil;
using namespace std::chrono_literals;

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer slows an emulated machine past clean timing: there the
// paths run for their races, and the figures are not asked.
constexpr bool timingChecked = false;
#else
constexpr bool timingChecked = true;
#endif

TEST(ClockComparisonAlsa, TwelveAndAHalfMillisecondsBehindArePairedByPosition) {
    if (access("/dev/snd/seq", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no ALSA sequencer here; scripts/vm-ctest.sh runs this in a virtual machine";
    test::MainQueue queue;
    ClockInput input(makeSystemMidiService(), queue.post());
    TestSender lead("tactimo-test-lead"), late("tactimo-test-late");
    ASSERT_TRUE(lead.ok() && late.ok());
    // Listed, and subscribed to our input port, so that the Start comes in.
    const auto key = [&](const TestSender& sender, const std::string& name) -> std::optional<SourceKey> {
        for (const MIDISource& s : input.sources())
            if (s.name == name && sender.listeners() == 1) return s.ref;
        return std::nullopt;
    };
    std::optional<SourceKey> leadKey, lateKey;
    ASSERT_TRUE(pumpUntil(queue, [&] {
        leadKey = key(lead, "tactimo-test-lead:out"), lateKey = key(late, "tactimo-test-late:out");
        return leadKey && lateKey;
    }));
    // Beyond half a tick at 120 BPM: only pairing by position reads it as it is.
    lead.send({0xFA});
    late.send({0xFA});
    const std::uint64_t at = TestSender::monotonicNs() + 50'000'000;
    lead.clock(120, at);
    late.clock(120, at + 12'500'000);

    Readings readings;
    const std::size_t window = timingChecked ? ClockAnalyzer::windowCapacity : ClockAnalyzer::minJitterTicks;
    ASSERT_TRUE(pumpUntil(
        queue,
        [&] {
            readings = input.readings();
            return readings.contains(*leadKey) && readings.contains(*lateKey) &&
                   readings.at(*leadKey).analyzer.ticks.size() >= window &&
                   readings.at(*lateKey).analyzer.ticks.size() >= window;
        },
        90s));
    const auto c = compareClocks(readings, *lateKey, *leadKey, static_cast<double>(hostClock::now()) * 1e-9);
    if (!timingChecked) return;
    ASSERT_TRUE(c && c->offsetMs);
    EXPECT_EQ(c->pairing, ClockComparison::Pairing::position);
    // Against the times the newest ticks were handed to the sequencer, which
    // stamps them up to about 1 ms late under emulation. Only ticks both
    // senders have counted have their times there to read.
    const std::int64_t newest = std::min({*readings.at(*leadKey).analyzer.position, lead.sent() - 1, late.sent() - 1});
    double sent = 0;
    for (std::int64_t k = newest - 191; k <= newest; ++k) sent += late.sentAt(k) - lead.sentAt(k);
    sent = sent / 192 * 1000;
    std::printf("offset %.4f ms (sent %.4f ms apart), spread %.4f ms, drift %.4f ms/min\n", *c->offsetMs, sent,
                c->spreadMs.value_or(NAN), c->driftMsPerMinute);
    EXPECT_NEAR(*c->offsetMs, sent, 1.0);
}

} // namespace
} // namespace tactimo::alsatest
