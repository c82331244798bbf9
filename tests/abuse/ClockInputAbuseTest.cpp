// Hostile input through the whole intake (fake service, host clock driven by
// the test) and the status derivation: floods of bytes that are not clock, and
// source names that are not text.

#include "core/ClockInput.h"
#include "core/ClockStatus.h"
#include "support/ManualIntake.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace tactimo {
namespace {

using test::ManualIntake;
using test::ns;

constexpr double kInterval = 60.0 / (24.0 * 120.0); // 120 BPM
constexpr int kTicks = 480;                         // 10 s

// The same 480 ticks, clean or buried in 1 MB of System Exclusive and random
// bytes, some of it inside the very packets that carry the ticks.
ClockAnalyzer runClock(bool flood, std::uint64_t* floodBytes = nullptr) {
    ManualIntake rig({"Clock"});
    const SourceKey key = rig.input->sources().front().ref;
    std::mt19937 random(1234);
    std::uint64_t sent = 0;
    auto junk = [&](std::size_t n, bool sysex) {
        std::vector<std::uint8_t> bytes;
        if (sysex) bytes.push_back(0xF0);
        while (bytes.size() < n) {
            auto b = static_cast<std::uint8_t>(random() & (sysex ? 0x7F : 0xFF));
            if (b == 0xF8) continue; // a clock byte would be a real tick
            bytes.push_back(b);
        }
        if (sysex) bytes.push_back(0xF7);
        sent += bytes.size();
        return bytes;
    };

    for (int i = 0; i < kTicks; ++i) {
        const double t = 1000.0 + i * kInterval;
        if (flood) {
            // Between the ticks: SysEx, bare random bytes, and a SysEx whose end comes later.
            rig.now = ns(t - kInterval / 2);
            rig.bus->send(key, junk(1600, true), ns(t - kInterval / 2));
            rig.bus->send(key, junk(300, false), 0);
            auto open = junk(200, true);
            open.pop_back();
            rig.bus->send(key, open, ns(t - kInterval / 3));
        }
        rig.now = ns(t + 0.0005);
        std::vector<std::uint8_t> packet;
        if (flood) packet = junk(100, true); // the tick arrives inside a SysEx, as real-time bytes may
        packet.insert(packet.begin() + static_cast<std::ptrdiff_t>(packet.size() / 2), 0xF8);
        rig.bus->send(key, packet, ns(t));
    }
    if (floodBytes) *floodBytes = sent;
    return rig.input->readings().at(key).analyzer;
}

TEST(IntakeAbuse, FloodOfSysExAndRandomBytesLeavesTheTempoAlone) {
    std::uint64_t floodBytes = 0;
    const ClockAnalyzer clean = runClock(false);
    const ClockAnalyzer flooded = runClock(true, &floodBytes);
    ASSERT_GE(floodBytes, 1u << 20);

    ASSERT_TRUE(flooded.interval);
    EXPECT_EQ(flooded.ticks, clean.ticks);
    EXPECT_EQ(flooded.interval, clean.interval);
    const double bpm = 60.0 / (24.0 * *flooded.interval);
    EXPECT_NEAR(bpm, 120.0, 0.01);

    Readings snapshot{{1, ClockReading{"Clock", flooded, true}}};
    std::optional<SourceKey> active;
    const ClockStatus status = deriveStatus(snapshot, "", active, ClockStatus{});
    ASSERT_TRUE(status.exactBPM);
    EXPECT_NEAR(*status.exactBPM, 120.0, 0.01);
}

// Exact replacements are pinned by the intake tests; here: sheer size, NULs,
// and that every such name can still be followed and chosen.
TEST(IntakeAbuse, NamesThatAreNotTextAreListedAndFollowed) {
    const std::string overlong(10'000, 'x');
    std::string accented;
    for (int i = 0; i < 10'000; ++i) accented += "e\xcc\x81"; // e + combining acute: 10 000 characters after NFC
    ManualIntake rig({"Synth \xff\xfe\xc3 end", overlong, "", accented, std::string("nul\0inside", 10)});
    const auto sources = rig.input->sources();
    ASSERT_EQ(sources.size(), 6u); // five and the virtual port
    EXPECT_EQ(sources[1].name, overlong);
    EXPECT_EQ(sources[2].name, "MIDI");
    EXPECT_EQ(sources[3].name.size(), 10'000u * 2); // é is two bytes once composed
    EXPECT_EQ(sources[4].name, std::string("nul\0inside", 10));
    for (int i = 0; i < 30; ++i) {
        rig.now = ns(1000.0 + i * kInterval);
        for (std::size_t k = 0; k + 1 < sources.size(); ++k) rig.bus->send(sources[k].ref, {0xF8});
    }
    const Readings snapshot = rig.input->readings();
    ASSERT_EQ(snapshot.size(), 5u);
    std::optional<SourceKey> active;
    const ClockStatus all = deriveStatus(snapshot, "", active, ClockStatus{});
    EXPECT_EQ(all.otherSources.size(), 4u);
    ASSERT_TRUE(all.exactBPM);
    EXPECT_NEAR(*all.exactBPM, 120.0, 0.01);
    for (std::size_t k = 0; k + 1 < sources.size(); ++k) {
        std::optional<SourceKey> chosen;
        const ClockStatus one = deriveStatus(snapshot, sources[k].name, chosen, ClockStatus{});
        EXPECT_EQ(chosen, sources[k].ref) << k;
        EXPECT_EQ(one.sourceName, sources[k].name) << k;
    }
}

} // namespace
} // namespace tactimo
