// Two clocks compared in a kernel's sequencer (scripts/vm-ctest.sh), through the system's service.

#include "core/ClockComparison.h"
#include "midi/SystemMidiService.h"
#include "support/AlsaTestSender.h"
#include "support/MainQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tactimo::test {
namespace {

TEST(ClockComparisonAlsa, TwelveAndAHalfMillisecondsBehindArePairedByPosition) {
    if (const auto why = AlsaBackend::unavailable()) GTEST_SKIP() << *why;
    MainQueue queue;
    ClockInput input(makeSystemMidiService(), queue.post());
    alsatest::TestSender lead("tactimo-test-lead"), late("tactimo-test-late");
    std::optional<SourceKey> leadKey, lateKey;
    // Listed, and subscribed to our input port, so that the Start comes in.
    ASSERT_TRUE(pumpUntil(queue, [&] {
        for (const MIDISource& s : input.sources()) {
            if (s.name == lead.source() && lead.listeners() == 1) leadKey = s.ref;
            if (s.name == late.source() && late.listeners() == 1) lateKey = s.ref;
        }
        return leadKey && lateKey;
    }));
    // Beyond half a tick at 120 BPM: only pairing by position reads it as it is.
    lead.send({0xFA});
    late.send({0xFA});
    const std::uint64_t at = alsatest::TestSender::monotonicNs() + 50'000'000;
    lead.clock(120, at);
    late.clock(120, at + 12'500'000);
#if defined(__SANITIZE_THREAD__)
    constexpr bool timed = false; // slowed past clean timing: run for races, no figures asked
#else
    constexpr bool timed = true;
#endif
    const std::size_t window = timed ? ClockAnalyzer::windowCapacity : ClockAnalyzer::minJitterTicks;
    Readings r;
    ASSERT_TRUE(pumpUntil(
        queue,
        [&] {
            r = input.readings();
            return r.contains(*leadKey) && r.contains(*lateKey) && r.at(*leadKey).analyzer.ticks.size() >= window &&
                   r.at(*lateKey).analyzer.ticks.size() >= window;
        },
        90s));
    const auto c = compareClocks(r, *lateKey, *leadKey, static_cast<double>(hostClock::now()) * 1e-9);
    if (!timed) return;
    ASSERT_TRUE(c && c->offsetMs);
    EXPECT_EQ(c->pairing, ClockComparison::Pairing::position);
    // Against when the newest ticks both have counted were handed to the
    // sequencer, which stamps them up to about 1 ms late under emulation.
    const std::int64_t newest = std::min({*r.at(*leadKey).analyzer.position, lead.sent() - 1, late.sent() - 1});
    double sent = 0;
    for (std::int64_t k = newest - 191; k <= newest; ++k) sent += (late.sentAt(k) - lead.sentAt(k)) / 192 * 1000;
    std::printf("offset %.4f ms (sent %.4f ms apart), spread %.4f ms\n", *c->offsetMs, sent, c->spreadMs.value_or(NAN));
    EXPECT_NEAR(*c->offsetMs, sent, 1.0);
}

} // namespace
} // namespace tactimo::test
