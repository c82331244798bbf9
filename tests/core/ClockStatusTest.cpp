#include "core/ClockStatus.h"

#include <gtest/gtest.h>

using namespace tactimo;
using State = ClockStatus::State;
using Transport = ClockAnalyzer::Transport;
using Names = std::vector<std::string>;
const std::optional<double> none;

// A reading whose last tick is at `last`, with `ticks` ticks 0.02 s apart and,
// when given, an interval and recent tempo of `bpm`.
ClockReading reading(std::string name, bool receiving, double last, std::optional<double> bpm = none, int ticks = 30) {
    ClockReading r{std::move(name), {}, receiving};
    for (int k = ticks - 1; k >= 0; --k) r.analyzer.tick(last - k * 0.02);
    r.analyzer.interval = bpm ? std::optional(60.0 / (24.0 * *bpm)) : none;
    if (r.analyzer.recentBPM.clear(); bpm) r.analyzer.recentBPM.pushBack(*bpm);
    return r;
}

ClockStatus derive(const ClockReading& r, const ClockStatus& previous = {}, std::optional<SourceKey> ref = {}) {
    return deriveStatus({{7, r}}, "", ref, previous);
}

// Refreshes in a row, as the store makes them; `fresh` starts a new store
// showing 99.5 BPM, which stays while nothing is followed.
TEST(ClockStatus, ChoosesFollowsAndHandsOver) {
    struct Step {
        bool fresh;
        std::string selection;
        Readings readings;
        std::optional<SourceKey> followed;
        Names others;
    };
    const Step steps[] = {
        {true, "", {}, {}, {}},
        {false, "", {{1, reading("A", true, 10.0, 120)}, {2, reading("B", true, 9.99)}}, 1, {"B"}},
        {false, "", {{1, reading("A", true, 10.0, 120)}, {2, reading("B", true, 10.5)}}, 1, {"B"}}, // A still sends
        {false, "", {{1, reading("A", false, 10.0)}, {2, reading("B", false, 10.5)}}, 1, {}}, // nobody sends: A stays
        {false, "", {{1, reading("A", false, 10.0)}, {2, reading("B", true, 10.5)}}, 2, {}},  // A silent, named nowhere
        // Nothing followed yet and nobody sends: the newest tick wins, no tick counts as 0.
        {true,
         "",
         {{1, reading("A", false, 10.0)}, {2, {"Started", {}, false}}, {3, reading("C", false, 11.0)}},
         3,
         {}},
        {true, "", {{1, reading("Early", false, -5.0)}, {2, {"Started", {}, false}}}, 2, {}},
        // A selection: only sources of that name, both of them; no others listed.
        {true,
         "A",
         {{1, reading("A", false, 10.0)}, {2, reading("B", true, 11.0)}, {3, reading("A", true, 10.9)}},
         3,
         {}},
        {true, "A", {{2, reading("B", true, 11.0)}}, {}, {}},
        // All inputs: others by name, as often as they send, ordered by code point.
        {true,
         "",
         {{1, reading("Main", true, 12.0)},
          {2, reading("b", true, 11.0)},
          {3, reading("\xC3\x84", true, 11.0)},
          {4, reading("B", true, 11.0)},
          {5, reading("b", true, 11.0)},
          {6, reading("Quiet", false, 11.5)}},
         1,
         {"B", "b", "b", "\xC3\x84"}},
        {true, "", {{1, reading("Twin", true, 12.0)}, {2, reading("Twin", true, 11.0)}}, 1, {"Twin"}},
    };
    std::optional<SourceKey> ref;
    ClockStatus status;
    for (const Step& s : steps) {
        if (s.fresh) {
            ref.reset();
            status = {};
            status.bpm = 99.5;
        }
        status = deriveStatus(s.readings, s.selection, ref, status);
        const auto name = s.followed ? std::optional(s.readings.at(*s.followed).name) : std::nullopt;
        EXPECT_EQ(ref, s.followed) << "step " << &s - steps;
        EXPECT_EQ(status.sourceName, name) << "step " << &s - steps;
        EXPECT_EQ(status.otherSources, s.others) << "step " << &s - steps;
        EXPECT_TRUE(s.followed || status.bpm == 99.5) << "step " << &s - steps;
    }
}

// The displayed tempo moves only when the raw one leaves a band of 0.07
// around it; without an interval it stays, along with its precise value.
TEST(ClockStatus, TempoBandHoldsTheDisplayedValue) {
    struct Case {
        std::optional<double> shown, raw;
        double bpm, exact;
    };
    const Case cases[] = {{120.0, 120.05, 120.0, 120.05}, {120.0, 119.95, 120.0, 119.95},
                          {120.0, 120.08, 120.1, 120.08}, {120.0, 119.92, 119.9, 119.92},
                          {none, 119.96, 120.0, 119.96},  {120.1, 120.16, 120.1, 120.16},
                          {120.1, 120.18, 120.2, 120.18}, {118.0, none, 118.0, 118.0}};
    for (const Case& c : cases) {
        ClockStatus previous;
        previous.bpm = c.shown;
        previous.exactBPM = c.shown;
        previous.settled = true;
        const ClockStatus s = derive(reading("A", true, 10.0, c.raw, c.raw ? 30 : 1), previous);
        EXPECT_EQ(s.bpm, c.bpm) << c.raw.value_or(0);
        EXPECT_EQ(s.exactBPM, c.exact) << c.raw.value_or(0);
        EXPECT_TRUE(s.settled) << c.raw.value_or(0);
    }
}

// What shows while the clock runs and after it goes. Once it goes, the oldest
// kept tempo shows (the newest may already slow down with the stop), else the
// interval's, else the one on display; the song position stays.
TEST(ClockStatus, StatesAndTheTempoHeldWhenTheClockGoes) {
    struct Case {
        Transport transport;
        bool receiving;
        std::vector<double> recent;
        int ticks;
        State state;
        std::optional<double> bpm, exact;
    };
    const Case cases[] = {
        {Transport::unknown, true, {}, 30, State::running, 120.0, 120.0},
        {Transport::playing, true, {}, 30, State::playing, 120.0, 120.0},
        {Transport::stopped, true, {}, 30, State::stopped, 120.0, 120.0},
        {Transport::stopped, false, {120.125, 100.0, 110.0}, 30, State::stopped, 120.1, 120.13},
        {Transport::playing, false, {120.25}, 30, State::noClock, 120.3, 120.25}, // halves away from zero
        {Transport::playing, false, {}, 30, State::noClock, 120.0, 120.0},
        {Transport::playing, false, {}, 1, State::noClock, 90.0, 90.01},
        {Transport::playing, false, {}, 0, State::waiting, 90.0, 90.01}, // only a Start, no tick ever
    };
    ClockStatus previous;
    previous.bpm = 90.0;
    previous.exactBPM = 90.01;
    previous.settled = true;
    for (const Case& c : cases) {
        ClockReading r = reading("A", c.receiving, 10.0, c.ticks > 1 ? std::optional(120.0) : none, c.ticks);
        r.analyzer.transport = c.transport;
        r.analyzer.position = 96;
        r.analyzer.jitter = 0.000125; // 0.13 ms, halves away
        r.analyzer.recentBPM.clear();
        for (const double bpm : c.recent) r.analyzer.recentBPM.pushBack(bpm);
        const ClockStatus s = derive(r, previous);
        const std::string where = "state " + std::to_string(int(c.state)) + ", " + std::to_string(c.bpm.value_or(0));
        EXPECT_EQ(s.state, c.state) << where;
        EXPECT_EQ(s.receiving, c.receiving) << where;
        EXPECT_EQ(s.bpm, c.bpm) << where;
        EXPECT_EQ(s.exactBPM, c.exact) << where;
        EXPECT_EQ(s.settled, c.receiving) << where;
        EXPECT_EQ(s.jitter, c.receiving ? std::optional(0.13) : none) << where;
        EXPECT_EQ(s.position, 96) << "passed through, " << where;
        // Position 96 while playing, else 30 ticks: both on a beat.
        EXPECT_EQ(s.pulse, c.receiving && c.transport == Transport::playing) << where;
    }
}

TEST(ClockStatus, PulseSettledAndJitter) {
    EXPECT_FALSE(derive(reading("A", true, 10.0, 120.0, 23)).settled);
    ClockReading r = reading("A", true, 10.0, 120.0, 24);
    r.analyzer.jitter = 0.0001234;
    EXPECT_TRUE(derive(r).settled);
    EXPECT_EQ(derive(r).jitter, std::optional(0.12));

    // The first 6 of every 24 clocks: by song position while playing, else by tick count.
    const auto pulseAt = [&](Transport transport, std::optional<std::int64_t> position, std::int64_t tickCount) {
        r.analyzer.transport = transport;
        r.analyzer.position = position;
        r.analyzer.tickCount = tickCount;
        return derive(r).pulse;
    };
    for (std::int64_t n = 0; n < 72; ++n) {
        const bool onBeat = n % 24 < 6;
        EXPECT_EQ(pulseAt(Transport::playing, n, 1000), onBeat) << "playing at position " << n;
        EXPECT_EQ(pulseAt(Transport::playing, std::nullopt, n), onBeat) << "playing without position, tick " << n;
        // Stopped: the tick count rules, not a position that says otherwise.
        EXPECT_EQ(pulseAt(Transport::stopped, onBeat ? 10 : 0, n), onBeat) << "stopped, tick " << n;
    }
}

// A followed record that the intake let go (a newer record of the same name
// replaced it) can never come back: the next derivation chooses afresh rather
// than waiting for it. One that is merely not a candidate stays followed.
TEST(ClockStatus, AFollowedRecordThatIsGoneIsChosenAfresh) {
    struct Case {
        const char* name;
        std::string selection;
        Readings readings;
        std::optional<SourceKey> followed;
        State state;
    };
    const Case cases[] = {
        {"replaced by a newer record of its name",
         "Synth",
         {{2, reading("Synth", false, 10.0, 120)}},
         2,
         State::noClock},
        {"gone, two of its name left",
         "",
         {{2, reading("A", false, 10.0)}, {3, reading("A", false, 10.5)}},
         3,
         State::noClock},
        {"gone, nothing left", "", {}, std::nullopt, State::waiting},
        {"still there under another name", "Synth", {{1, reading("Other", false, 10.0)}}, 1, State::waiting},
        {"still there, silent", "", {{1, reading("A", false, 9.0)}, {2, reading("B", false, 10.0)}}, 1, State::noClock},
    };
    for (const Case& c : cases) {
        std::optional<SourceKey> ref = 1;
        const ClockStatus s = deriveStatus(c.readings, c.selection, ref, {});
        EXPECT_EQ(ref, c.followed) << c.name;
        EXPECT_EQ(s.state, c.state) << c.name;
    }
}
