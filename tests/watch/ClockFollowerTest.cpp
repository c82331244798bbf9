// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The follower against a ClockInput on the fake bus, in simulated time.
#include "watch/ClockFollower.h"
#include "core/StatusText.h"
#include "support/ManualIntake.h"

#include <gtest/gtest.h>
#include <random>

namespace tactimo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Mode = ClockFollower::Mode;
using test::ns;
using test::secondsOf;

// Refreshes every gap() as the host clock moves to each stamped send, with a Link session of one peer.
struct Rig {
    Rig(std::string_view selection, TimeSignature signature, Mode mode, std::function<double()> gap)
        : follower(selection, signature, mode, "Drum"), gap(std::move(gap)) {}

    void send(SourceKey key, Bytes bytes, double at) {
        until(at);
        intake.bus->send(key, std::move(bytes), ns(at));
    }
    void until(double at) {
        for (; nextRefresh <= at; nextRefresh += gap()) {
            intake.now = ns(nextRefresh);
            for (WatchLine& line : follower.refresh(intake.input->readings(), nextRefresh, LinkTimeline{.peers = 1}))
                lines.push_back(line);
        }
        intake.now = ns(at);
    }

    test::ManualIntake intake;
    ClockFollower follower;
    std::function<double()> gap;
    double nextRefresh = 1000.0;
    std::vector<WatchLine> lines;
};

// Steps of bytes, ticks, a wait and the gap between refreshes: transitions print once, a jump where it landed, and
// each beat at the tick that began it (@ its index in the step) however far apart the refreshes; the input is found
// by its canonical name.
TEST(ClockFollowerBeats, ChangesOfStateAndPosition) {
    const struct {
        Bytes bytes;
        int ticks;
        double wait;
        std::vector<std::string> lines;
        double gap = 0.01;
    } steps[] = {
        {{}, 0, 0.1, {"Waiting for clock silent"}},
        // A position before any clock shows at once; a clock without transport has none.
        {{0xF2, 8, 0}, 30, 0.01, {"Waiting for clock silent 1.5.1", "Clock running", "Clock running @23"}},
        {{0xFC}, 12, 0.01, {"Stopped 1.5.1"}},
        {{}, 0, 0.5, {"Stopped silent 1.5.1"}},
        {{0xF2, 16, 0}, 0, 0.1, {"Stopped silent 2.3.1"}},
        {{0xFB, 0xF8}, 24, 0.01, {"Playing 2.3.1", "Playing 2.4.1 @11", "Playing 2.5.1 @23"}}, // Continue, a tick
        {{0xF2, 64, 0}, 30, 0.01, {"Playing 6.3.1", "Playing 6.4.1 @12", "Playing 6.5.1 @24"}},
        {{0xFA}, 48, 0.3, {"Playing 1.1.1", "Playing 1.2.1 @12", "Playing 1.3.1 @24", "Playing 1.4.1 @36"}, 0.6},
        {{}, 0, 5.0, {"No clock silent 1.4.2"}},
    };
    double gap = 0.01;
    Rig rig("Cafe\xCC\x81", {6, 8}, Mode::beats, [&] { return gap; }); // decomposed, as typed on some systems
    rig.intake.addSource("Drum");
    const SourceKey key = rig.intake.addSource("Caf\xC3\xA9");
    double t = 1000.0;
    for (const auto& step : steps) {
        gap = step.gap;
        if (!step.bytes.empty()) rig.send(key, step.bytes, t += 0.001);
        std::vector<double> sent; // 20 ms apart
        for (int i = 0; i < step.ticks; ++i) rig.send(key, {0xF8}, sent.emplace_back(t += 0.02));
        rig.until(t += step.wait);
        std::vector<std::string> lines; // state, "silent", position, the tick it stands at
        for (const WatchLine& each : std::exchange(rig.lines, {})) {
            const auto& line = std::get<StatusLine>(each); // beats mode prints nothing else
            EXPECT_TRUE(line.compare.value().name == "Drum" && line.link.value().peers == 1); // of every refresh
            std::string& text = lines.emplace_back(StatusText::stateWord(line.status.state));
            if (!line.status.receiving) text += " silent";
            if (const auto& p = line.position)
                text += " " + std::to_string(p->bar) + "." + std::to_string(p->beat) + "." + std::to_string(p->sixteenth);
            const auto tick = std::ranges::find_if(sent, [&](double at) { return secondsOf(at) == line.time; });
            if (tick != sent.end()) text += " @" + std::to_string(tick - sent.begin());
        }
        EXPECT_EQ(lines, step.lines) << &step - steps;
    }
}

// Refreshes up to 2 s apart on an uneven clock with pauses, past the analyzer's
// window: every tick printed once, in order, with its interval, or counted missed.
TEST(ClockFollowerTicks, EveryTickOnceOrCountedAsMissed) {
    std::mt19937 random(7);
    Rig rig("", {}, Mode::ticks, [&] { return std::uniform_real_distribution(0.0, 2.0)(random); });
    const SourceKey key = rig.intake.addSource("Drum");
    std::vector<double> sent;
    for (double t = 1000.1; sent.size() < 2000;) {
        t += sent.size() % 500 == 0 ? 1.0 : std::uniform_real_distribution(0.015, 0.025)(random);
        rig.send(key, {0xF8}, t);
        sent.push_back(secondsOf(t));
    }
    rig.until(sent.back() + 3.0);
    ASSERT_EQ(std::get<FollowedSource>(rig.lines.at(0)).name, "Drum");
    std::size_t next = 0;  // the first tick not yet accounted for
    std::int64_t owed = 0; // missed, not yet skipped
    for (const WatchLine& line : rig.lines) {
        if (const auto* missed = std::get_if<MissedTicks>(&line)) owed += missed->count;
        const auto* tick = std::get_if<TickLine>(&line);
        if (!tick) continue;
        const bool afterMissed = owed > 0;
        next += static_cast<std::size_t>(std::exchange(owed, 0));
        ASSERT_LT(next, sent.size());
        EXPECT_EQ(tick->time, sent[next]) << next;
        const auto interval = next > 0 && !afterMissed ? std::optional(sent[next] - sent[next - 1]) : std::nullopt;
        EXPECT_EQ(tick->interval, interval) << next;
        ++next;
    }
    EXPECT_EQ(next + static_cast<std::size_t>(owed), sent.size());
    EXPECT_EQ(std::count_if(rig.lines.begin(), rig.lines.end(), [](const auto& l) { return l.index() == 3; }), 1);
}

// The followed clock is the one compared with the reference, 3 ms ahead of it.
TEST(ClockFollowerSync, ComparesTheFollowedClockWithTheReference) {
    const auto started = [](double atMs) {
        ClockAnalyzer a;
        a.apply(ClockEvent::start(), 999.999 + atMs / 1000);
        for (int k = 0; k < 240; ++k) a.tick(1000.0 + atMs / 1000 + k / 48.0);
        return a;
    };
    const Readings snapshot{{1, {"Drum", started(-3), true}}, {2, {"DAW", started(0), true}}};
    ClockFollower follower("Drum", {}, Mode::beats, "DAW");
    const auto lines = follower.refresh(snapshot, 1000.0 + 239 / 48.0 + 0.005, LinkTimeline{});
    ASSERT_FALSE(lines.empty());
    const auto& compare = std::get<StatusLine>(lines.back()).compare;
    ASSERT_TRUE(compare && compare->comparison && compare->comparison->offsetMs);
    EXPECT_NEAR(*compare->comparison->offsetMs, -3, 1e-6);
}

} // namespace
} // namespace tactimo
