#include "core/ClockStatus.h"

#include "InputHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace tactimo {
namespace {

using State = ClockStatus::State;
using Transport = ClockAnalyzer::Transport;
using Names = std::vector<std::string>;

// What the store keeps between refreshes.
struct Store {
    std::string selection;
    std::optional<SourceKey> activeRef;
    ClockStatus status;

    const ClockStatus& refresh(const Readings& snapshot) {
        status = deriveStatus(snapshot, selection, activeRef, status);
        return status;
    }
};

double intervalFor(double bpm) { return 60.0 / (24.0 * bpm); }

// A reading whose last tick is at `last`, with `ticks` ticks in its window and,
// when given, an interval of the given tempo.
ClockReading reading(std::string name, bool receiving, double last, std::optional<double> bpm = std::nullopt,
                     int ticks = 30) {
    ClockReading r{std::move(name), {}, receiving};
    ClockAnalyzer& a = r.analyzer;
    for (int k = ticks - 1; k >= 0; --k) a.ticks.pushBack(last - k * 0.02);
    a.lastTick = last;
    a.tickCount = ticks;
    if (bpm) {
        a.interval = intervalFor(*bpm);
        a.recentBPM.pushBack(*bpm);
    }
    return r;
}

TEST(ClockStatusScenario, SilentSourceHandsOverToAnotherSender) {
    InputHarness h;
    const SourceKey a = h.addSource("A"), b = h.addSource("B");
    Store store;
    EXPECT_EQ(store.refresh(h.input->readings()), ClockStatus{}) << "nothing sent yet";
    EXPECT_FALSE(store.activeRef);

    // A runs alone at 120 BPM for a second; B joins at 100 BPM; A falls silent
    // at 2 s; B stops at 3 s. Refresh 30 times a second throughout.
    const double spacingA = intervalFor(120), spacingB = intervalFor(100);
    double nextA = 1000.0, nextB = 1001.0, refresh = 1000.0;
    std::vector<std::tuple<double, SourceKey, ClockStatus>> seen;
    while (refresh < 1003.5) {
        const double next = std::min({nextA < 1002.0 ? nextA : 1e9, nextB < 1003.0 ? nextB : 1e9, refresh});
        if (next == refresh) {
            h.at(refresh);
            seen.emplace_back(refresh, store.activeRef.value_or(0), store.refresh(h.input->readings()));
            refresh += 1.0 / 30;
        } else if (next == nextA) {
            h.tickAt(a, nextA);
            nextA += spacingA;
        } else {
            h.tickAt(b, nextB);
            nextB += spacingB;
        }
    }
    const auto at = [&](double time) {
        const auto it = std::find_if(seen.begin(), seen.end(), [&](const auto& s) { return std::get<0>(s) >= time; });
        return *it;
    };

    const auto [t1, ref1, alone] = at(1000.9);
    EXPECT_EQ(ref1, a);
    EXPECT_EQ(alone.state, State::running);
    EXPECT_EQ(alone.bpm, 120.0);
    EXPECT_TRUE(alone.settled);
    EXPECT_EQ(alone.sourceName, "A");
    EXPECT_TRUE(alone.otherSources.empty());

    const auto [t2, ref2, both] = at(1001.5);
    EXPECT_EQ(ref2, a) << "the followed source stays while it sends";
    EXPECT_EQ(both.bpm, 120.0);
    EXPECT_EQ(both.otherSources, Names{"B"});

    const auto [t3, ref3, handed] = at(1002.5);
    EXPECT_EQ(ref3, b);
    EXPECT_EQ(handed.sourceName, "B");
    EXPECT_TRUE(handed.otherSources.empty()) << "the silent source is named nowhere";
    EXPECT_EQ(handed.bpm, 100.0);
    EXPECT_TRUE(handed.receiving);

    const auto [t4, ref4, silent] = at(1003.4);
    EXPECT_EQ(ref4, b);
    EXPECT_EQ(silent.state, State::noClock);
    EXPECT_FALSE(silent.receiving);
    EXPECT_EQ(silent.bpm, 100.0) << "the last tempo stays on display";
    EXPECT_FALSE(silent.pulse);
    EXPECT_FALSE(silent.jitter);

    // Between these points the followed source changed exactly once.
    const auto changes = std::count_if(seen.begin() + 1, seen.end(), [&](const auto& s) {
        return std::get<1>(s) != std::get<1>(*(&s - 1)) && std::get<1>(*(&s - 1)) != 0;
    });
    EXPECT_EQ(changes, 1);
}

TEST(ClockStatusDerivation, NothingToFollow) {
    Store store;
    EXPECT_EQ(store.refresh({}), ClockStatus{});
    EXPECT_FALSE(store.activeRef);

    // A selection nobody matches: waiting, the tempo carried over from before.
    store.selection = "Nobody";
    store.status.bpm = 99.5;
    store.status.exactBPM = 99.52;
    store.status.settled = true;
    const Readings other{{1, reading("Somebody", true, 10.0, 120)}};
    const ClockStatus s = store.refresh(other);
    EXPECT_EQ(s.state, State::waiting);
    EXPECT_FALSE(s.sourceName);
    EXPECT_TRUE(s.otherSources.empty());
    EXPECT_EQ(s.bpm, 99.5);
    EXPECT_EQ(s.exactBPM, 99.52);
    EXPECT_TRUE(s.settled);
    EXPECT_FALSE(store.activeRef);
}

TEST(ClockStatusDerivation, ChoosesTheNewestSenderAndStaysWithIt) {
    Store store;
    Readings r{{1, reading("A", true, 10.0, 120)}, {2, reading("B", true, 9.99, 120)}};
    EXPECT_EQ(store.refresh(r).sourceName, "A");
    EXPECT_EQ(store.status.otherSources, Names{"B"});

    r[2] = reading("B", true, 10.5, 120);
    EXPECT_EQ(store.refresh(r).sourceName, "A") << "B is newer, but A still sends";

    // Nobody sends: the last followed source stays, even if older.
    r[1] = reading("A", false, 10.0, 120);
    r[2] = reading("B", false, 10.5, 120);
    EXPECT_EQ(store.refresh(r).sourceName, "A");

    // Nothing followed yet and nobody sends: the newest tick wins, no tick counts as 0.
    Store fresh;
    Readings quiet{{1, reading("A", false, 10.0, 120)}, {2, {"Started", {}, false}}, {3, reading("C", false, 11.0)}};
    EXPECT_EQ(fresh.refresh(quiet).sourceName, "C");
    Store negative;
    Readings early{{1, reading("Early", false, -5.0)}, {2, {"Started", {}, false}}};
    EXPECT_EQ(negative.refresh(early).sourceName, "Started");
}

TEST(ClockStatusDerivation, SelectionAndNames) {
    Store selected;
    selected.selection = "A";
    Readings r{{1, reading("A", false, 10.0, 120)}, {2, reading("B", true, 11.0, 90)}, {3, reading("A", true, 10.9, 125)}};
    const ClockStatus s = selected.refresh(r);
    EXPECT_EQ(selected.activeRef, 3u) << "both sources named A are candidates";
    EXPECT_EQ(s.bpm, 125.0);
    EXPECT_TRUE(s.otherSources.empty());

    Store onlyOther;
    onlyOther.selection = "A";
    const ClockStatus none = onlyOther.refresh({{2, reading("B", true, 11.0, 90)}});
    EXPECT_EQ(none.state, State::waiting);
    EXPECT_FALSE(onlyOther.activeRef);

    // All inputs: the others by name, the same name as often as it sends,
    // ordered by code point (upper case, lower case, then beyond ASCII).
    Store all;
    Readings many{{1, reading("Main", true, 12.0, 120)}, {2, reading("b", true, 11.0)}, {3, reading("\xC3\x84", true, 11.0)},
                  {4, reading("B", true, 11.0)},     {5, reading("b", true, 11.0)}, {6, reading("Quiet", false, 11.5)}};
    EXPECT_EQ(all.refresh(many).otherSources, (Names{"B", "b", "b", "\xC3\x84"}));
    Readings twins{{1, reading("Twin", true, 12.0, 120)}, {2, reading("Twin", true, 11.0, 121)}};
    Store pair;
    EXPECT_EQ(pair.refresh(twins).otherSources, Names{"Twin"});
}

TEST(ClockStatusDerivation, TempoBandHoldsTheDisplayedValue) {
    struct Case {
        std::optional<double> shown;
        double raw;
        double bpm, exact;
    };
    const Case cases[] = {
        {120.0, 120.05, 120.0, 120.05}, {120.0, 119.95, 120.0, 119.95}, {120.0, 120.08, 120.1, 120.08},
        {120.0, 119.92, 119.9, 119.92}, {std::nullopt, 119.96, 120.0, 119.96}, {120.0, 120.03, 120.0, 120.03},
        {120.1, 120.16, 120.1, 120.16}, {120.1, 120.18, 120.2, 120.18},
    };
    for (const Case& c : cases) {
        Store store;
        store.status.bpm = c.shown;
        const ClockStatus s = store.refresh({{1, reading("A", true, 10.0, c.raw)}});
        EXPECT_EQ(s.bpm, c.bpm) << c.raw;
        EXPECT_EQ(s.exactBPM, c.exact) << c.raw;
    }

    // A new followed source without an interval keeps what A showed; once it
    // has one, the band compares it with A's value.
    Store store;
    store.refresh({{1, reading("A", true, 10.0, 120.0)}});
    const ClockStatus early = store.refresh({{1, reading("A", false, 10.0, 120.0)}, {2, reading("B", true, 11.0)}});
    EXPECT_EQ(early.sourceName, "B");
    EXPECT_EQ(early.bpm, 120.0);
    EXPECT_EQ(early.exactBPM, 120.0);
    EXPECT_TRUE(early.settled);
    const ClockStatus later = store.refresh({{1, reading("A", false, 10.0, 120.0)}, {2, reading("B", true, 11.0, 120.03)}});
    EXPECT_EQ(later.bpm, 120.0);
    EXPECT_EQ(later.exactBPM, 120.03);
}

TEST(ClockStatusDerivation, ReceivingFieldsAndRounding) {
    const auto derive = [](const ClockReading& r, ClockStatus previous = {}) {
        std::optional<SourceKey> ref;
        return deriveStatus({{7, r}}, "", ref, previous);
    };
    ClockReading r = reading("A", true, 10.0, 120.0, 23);
    EXPECT_FALSE(derive(r).settled);
    r = reading("A", true, 10.0, 120.0, 24);
    EXPECT_TRUE(derive(r).settled);
    EXPECT_FALSE(derive(r).jitter) << "no jitter in the analyzer";

    r.analyzer.jitter = 0.0001234;
    EXPECT_EQ(derive(r).jitter, 0.12);
    // Halves round away from zero: 12.5 hundredths of a millisecond, 1202.5 and 12012.5.
    r.analyzer.jitter = 0.000125;
    EXPECT_EQ(derive(r).jitter, 0.13);
    ClockReading silent = reading("A", false, 10.0);
    silent.analyzer.recentBPM.pushBack(120.25);
    EXPECT_EQ(derive(silent).bpm, 120.3);
    silent.analyzer.recentBPM.clear();
    silent.analyzer.recentBPM.pushBack(120.125);
    EXPECT_EQ(derive(silent).exactBPM, 120.13);

    // Back after a gap with no interval yet: tempo held, the rest follows the reading.
    ClockStatus before;
    before.bpm = 118.0;
    before.exactBPM = 118.02;
    before.settled = true;
    before.jitter = 0.5;
    ClockReading back = reading("A", true, 20.0, std::nullopt, 1);
    const ClockStatus resumed = derive(back, before);
    EXPECT_EQ(resumed.state, State::running);
    EXPECT_EQ(resumed.bpm, 118.0);
    EXPECT_EQ(resumed.exactBPM, 118.02);
    EXPECT_TRUE(resumed.settled);
    EXPECT_FALSE(resumed.jitter);
    EXPECT_TRUE(resumed.pulse) << "tick count 1";
}

TEST(ClockStatusDerivation, PulseFollowsTheBeat) {
    ClockReading r = reading("A", true, 10.0, 120.0);
    r.analyzer.transport = Transport::playing;
    const auto pulseAt = [&](std::optional<std::int64_t> position, std::int64_t tickCount) {
        r.analyzer.position = position;
        r.analyzer.tickCount = tickCount;
        std::optional<SourceKey> ref;
        return deriveStatus({{1, r}}, "", ref, {}).pulse;
    };
    for (std::int64_t p = 0; p < 48; ++p) EXPECT_EQ(pulseAt(p, 1000), p % 24 < 6) << p;
    // Playing without a position: the tick count sets the phase.
    EXPECT_TRUE(pulseAt(std::nullopt, 25));
    EXPECT_FALSE(pulseAt(std::nullopt, 30));
    // Stopped with the clock still running: still flashing, by tick count.
    r.analyzer.transport = Transport::stopped;
    EXPECT_TRUE(pulseAt(10, 48));
    EXPECT_FALSE(pulseAt(0, 47));
}

TEST(ClockStatusDerivation, StatesAndHeldTempoWhenTheClockGoes) {
    const auto derive = [](const ClockReading& r) {
        std::optional<SourceKey> ref;
        ClockStatus previous;
        previous.bpm = 90.0;
        previous.exactBPM = 90.0;
        previous.settled = true;
        return deriveStatus({{1, r}}, "", ref, previous);
    };
    ClockReading r = reading("A", true, 10.0, 120.0);
    EXPECT_EQ(derive(r).state, State::running);
    r.analyzer.transport = Transport::playing;
    EXPECT_EQ(derive(r).state, State::playing);
    r.analyzer.transport = Transport::stopped;
    const ClockStatus stoppedRunning = derive(r);
    EXPECT_EQ(stoppedRunning.state, State::stopped);
    EXPECT_TRUE(stoppedRunning.receiving);
    EXPECT_EQ(stoppedRunning.bpm, 120.0);

    // Stop, then the clock goes: the oldest kept tempo, before any slow-down.
    r.receiving = false;
    r.analyzer.position = 96;
    r.analyzer.recentBPM.clear();
    for (const double bpm : {121.04, 120.0, 110.0}) r.analyzer.recentBPM.pushBack(bpm);
    const ClockStatus stopped = derive(r);
    EXPECT_EQ(stopped.state, State::stopped);
    EXPECT_EQ(stopped.bpm, 121.0);
    EXPECT_EQ(stopped.exactBPM, 121.04);
    EXPECT_FALSE(stopped.settled);
    EXPECT_FALSE(stopped.receiving);
    EXPECT_FALSE(stopped.pulse);
    EXPECT_EQ(stopped.position, 96) << "the song position stays on display";

    // Ticks stop without a Stop; no recent tempi, so the interval speaks.
    r.analyzer.transport = Transport::playing;
    r.analyzer.recentBPM.clear();
    const ClockStatus gone = derive(r);
    EXPECT_EQ(gone.state, State::noClock);
    EXPECT_EQ(gone.bpm, 120.0);
    // Neither: the tempo on display stays.
    r.analyzer.interval.reset();
    EXPECT_EQ(derive(r).bpm, 90.0);

    // Only a Start, no tick ever.
    ClockReading started{"S", {}, false};
    started.analyzer.apply(ClockEvent::start(), 10.0);
    EXPECT_EQ(derive(started).state, State::waiting);
    EXPECT_EQ(derive(started).sourceName, "S");
}

} // namespace
} // namespace tactimo
