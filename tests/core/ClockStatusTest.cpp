#include "core/ClockStatus.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace tactimo;
using State = ClockStatus::State;
using Transport = ClockAnalyzer::Transport;
constexpr std::nullopt_t none = std::nullopt;

// `ticks` ticks 0.02 s apart up to `last`; when given, the interval and recent tempo of `bpm`.
ClockReading reading(std::string name, bool receiving, double last, std::optional<double> bpm = none, int ticks = 30) {
    ClockReading r{std::move(name), {}, receiving};
    for (int k = ticks - 1; k >= 0; --k) r.analyzer.tick(last - k * 0.02);
    r.analyzer.interval = bpm ? std::optional(60.0 / (24.0 * *bpm)) : none;
    if (r.analyzer.recentBPM.clear(); bpm) r.analyzer.recentBPM.pushBack(*bpm);
    return r;
}

ClockStatus derive(const ClockReading& r, const ClockStatus& previous = {}) {
    std::optional<SourceKey> ref;
    return deriveStatus({{7, r}}, "", ref, previous);
}

// Readings keyed 1, 2, ... from words: "A~10" receiving, its last tick at 10 s;
// "A=10" silent since then; "A" never ticked; "-" no record under that key.
Readings readings(const std::string& words) {
    Readings out;
    std::istringstream in(words);
    for (auto [key, word] = std::pair{SourceKey{1}, std::string()}; in >> word; ++key) {
        const auto at = std::min(word.find_first_of("~="), word.size());
        const bool ticked = at < word.size();
        if (word != "-")
            out[key] = reading(word.substr(0, at), word[at] == '~', ticked ? std::stod(word.substr(at + 1)) : 0, none,
                               ticked ? 30 : 0);
    }
    return out;
}

// Refreshes in a row. A step with `from` 0 or more starts anew, following that
// key (0: none) and showing 99.5 BPM, which stays while nothing is followed.
TEST(ClockStatus, ChoosesFollowsAndHandsOver) {
    const struct {
        int from;
        std::string selection, readings;
        SourceKey followed;
        std::string shown;
        std::vector<std::string> others;
    } steps[] = {
        {0, "", "", 0, "", {}},
        {-1, "", "A~10 B~9.99", 1, "A", {"B"}},
        {-1, "", "A=10 B=10.5", 1, "A", {}}, // nobody does: A stays
        {-1, "", "A=10 B~10.5", 2, "B", {}},
        {0, "", "A=10 S C=11", 3, "C", {}},       // nothing followed, nobody sends: the newest tick wins
        {0, "A", "A=10 B~11 A~10.9", 3, "A", {}}, // a selection: only sources of that name, no others listed
        {0, "", "Main~12 b~11 \xC3\x84~11 B~11 b~11 Quiet=11.5", 1, "Main", {"B", "b", "b", "\xC3\x84"}},
        // A followed record that is gone (a newer one of its name may have
        // replaced it) is chosen afresh; one that is no candidate stays.
        {1, "Synth", "- Synth=10", 2, "Synth", {}},
        {1, "", "- A=10 A=10.5", 3, "A", {}},
        {1, "Synth", "Other=10", 1, "", {}},
    };
    std::optional<SourceKey> ref;
    ClockStatus status;
    for (const auto& s : steps) {
        if (s.from >= 0) {
            ref = s.from ? std::optional<SourceKey>(s.from) : std::nullopt;
            status = {};
            status.bpm = 99.5;
        }
        status = deriveStatus(readings(s.readings), s.selection, ref, status);
        EXPECT_EQ(ref.value_or(0), s.followed) << s.readings;
        EXPECT_EQ(status.sourceName.value_or(""), s.shown) << s.readings;
        EXPECT_EQ(status.otherSources, s.others) << s.readings;
        EXPECT_TRUE(!s.shown.empty() || status.bpm == 99.5) << s.readings;
    }
}

// The shown tempo moves only when the raw one leaves a band of 0.07 around it; without an interval it stays.
TEST(ClockStatus, TempoBandHoldsTheDisplayedValue) {
    const struct {
        std::optional<double> shown, raw;
        double bpm, exact;
    } cases[] = {{120.0, 120.05, 120.0, 120.05},
                 {120.0, 120.08, 120.1, 120.08},
                 {120.0, 119.92, 119.9, 119.92},
                 {none, 119.96, 120.0, 119.96},
                 {118.0, none, 118.0, 118.0}};
    for (const auto& c : cases) {
        ClockStatus previous;
        previous.bpm = previous.exactBPM = c.shown;
        previous.settled = true;
        const ClockStatus s = derive(reading("A", true, 10.0, c.raw, c.raw ? 30 : 1), previous);
        EXPECT_EQ(s.bpm, c.bpm) << c.raw.value_or(0);
        EXPECT_EQ(s.exactBPM, c.exact) << c.raw.value_or(0);
        EXPECT_TRUE(s.settled) << c.raw.value_or(0);
    }
}

// Once the clock goes, the oldest kept tempo shows (the newest may already slow
// with the stop), else the interval's, else the one shown; the position stays.
TEST(ClockStatus, StatesAndTheTempoHeldWhenTheClockGoes) {
    const struct {
        Transport transport;
        bool receiving;
        std::vector<double> recent;
        int ticks;
        State state;
        std::optional<double> bpm, exact;
    } cases[] = {
        {Transport::unknown, true, {}, 30, State::running, 120.0, 120.0},
        {Transport::playing, true, {}, 30, State::playing, 120.0, 120.0},
        {Transport::stopped, true, {}, 30, State::stopped, 120.0, 120.0},
        {Transport::stopped, false, {120.125, 100.0, 110.0}, 30, State::stopped, 120.1, 120.13},
        {Transport::playing, false, {120.25}, 30, State::noClock, 120.3, 120.25}, // halves away from zero
        {Transport::playing, false, {}, 1, State::noClock, 90.0, 90.01},
        {Transport::playing, false, {}, 0, State::waiting, 90.0, 90.01}, // only a Start, no tick ever
    };
    ClockStatus previous;
    previous.bpm = 90.0;
    previous.exactBPM = 90.01;
    previous.settled = true;
    for (const auto& c : cases) {
        ClockReading r = reading("A", c.receiving, 10.0, c.ticks > 1 ? std::optional(120.0) : none, c.ticks);
        r.analyzer.transport = c.transport;
        r.analyzer.position = 96;
        r.analyzer.jitter = 0.000125; // 0.13 ms, halves away
        r.analyzer.recentBPM.clear();
        for (const double bpm : c.recent) r.analyzer.recentBPM.pushBack(bpm);
        // Position 96 while playing, else 30 ticks: both on a beat.
        const bool pulse = c.receiving && c.transport == Transport::playing;
        const std::optional<double> jitter = c.receiving ? std::optional(0.13) : none;
        EXPECT_EQ(derive(r, previous),
                  (ClockStatus{c.state, c.receiving, c.bpm, c.exact, c.receiving, jitter, 96, pulse, "A", {}}))
            << &c - cases;
    }
}

TEST(ClockStatus, SettledFrom24Ticks) {
    EXPECT_FALSE(derive(reading("A", true, 10.0, 120.0, 23)).settled);
    EXPECT_TRUE(derive(reading("A", true, 10.0, 120.0, 24)).settled);
}
