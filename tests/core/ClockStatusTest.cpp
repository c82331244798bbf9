// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/StatusText.h"

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

// Keyed 1, 2, ...: "A~10" receiving, last tick at 10 s; "A=10" silent since; "A" never ticked; "-" no record.
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

// A step with `from` >= 0 starts anew following that key (0: none) at 99.5 BPM, kept while nothing is followed.
TEST(ClockStatus, ChoosesFollowsAndHandsOver) {
    // from, selection, readings; the followed key, the name shown, the others listed
    const std::tuple<int, std::string, std::string, SourceKey, std::string, std::vector<std::string>> steps[] = {
        {0, "", "", 0, "", {}},
        {-1, "", "A~10 B~9.99", 1, "A", {"B"}},
        {-1, "", "A=10 B=10.5", 1, "A", {}}, // nobody does: A stays
        {-1, "", "A=10 B~10.5", 2, "B", {}},
        {0, "", "A=10 S C=11", 3, "C", {}},       // nothing followed, nobody sends: the newest tick wins
        {0, "A", "A=10 B~11 A~10.9", 3, "A", {}}, // a selection: only sources of that name, no others listed
        {0, "", "Main~12 b~11 \xC3\x84~11 B~11 b~11 Quiet=11.5", 1, "Main", {"B", "b", "b", "\xC3\x84"}},
        // A followed record gone (maybe for a newer one of its name) is chosen afresh; one no candidate stays.
        {1, "Synth", "- Synth=10", 2, "Synth", {}},
        {1, "", "- A=10 A=10.5", 3, "A", {}},
        {1, "Synth", "Other=10", 1, "", {}},
    };
    std::optional<SourceKey> ref;
    ClockStatus status;
    for (const auto& [from, selection, words, followed, shown, others] : steps) {
        SCOPED_TRACE(words);
        if (from >= 0) {
            ref = from ? std::optional<SourceKey>(from) : std::nullopt;
            status = {};
            status.bpm = 99.5;
        }
        status = deriveStatus(readings(words), selection, ref, status);
        EXPECT_EQ(ref.value_or(0), followed);
        EXPECT_EQ(status.sourceName.value_or(""), shown);
        EXPECT_EQ(status.otherSources, others);
        EXPECT_TRUE(!shown.empty() || status.bpm == 99.5);
    }
}

// The shown tempo (90.0, exactly 90.01) moves only when the raw one leaves a band of 0.07. Once the clock goes,
// the oldest kept tempo shows (the newest may slow with the stop), else the interval's, else the one shown.
TEST(ClockStatus, StatesAndTheTempoShown) {
    // transport, receiving, raw tempo, recent tempi, ticks; the state, the tempo shown and its exact value
    using Opt = std::optional<double>;
    const std::tuple<Transport, bool, Opt, std::vector<double>, int, State, Opt, Opt> cases[] = {
        {Transport::unknown, true, 120.0, {}, 30, State::running, 120.0, 120.0},
        {Transport::playing, true, 90.05, {}, 24, State::playing, 90.0, 90.05}, // settled from 24 ticks
        {Transport::playing, true, 90.08, {}, 23, State::playing, 90.1, 90.08},
        {Transport::stopped, true, 89.92, {}, 30, State::stopped, 89.9, 89.92},
        {Transport::stopped, false, 120.0, {120.125, 100.0, 110.0}, 30, State::stopped, 120.1, 120.13},
        {Transport::playing, false, 120.0, {120.25}, 30, State::noClock, 120.3, 120.25}, // halves away from zero
        {Transport::playing, false, none, {}, 1, State::noClock, 90.0, 90.01},
        {Transport::playing, false, none, {}, 0, State::waiting, 90.0, 90.01}, // only a Start, no tick ever
    };
    ClockStatus previous;
    previous.bpm = 90.0;
    previous.exactBPM = 90.01;
    previous.settled = true;
    for (int row = 0; const auto& [transport, receiving, raw, recent, ticks, state, bpm, exact] : cases) {
        SCOPED_TRACE(row++);
        ClockReading r = reading("A", receiving, 10.0, raw, ticks);
        r.analyzer.transport = transport;
        r.analyzer.position = 96;
        r.analyzer.jitter = 0.000125; // 0.13 ms, halves away
        r.analyzer.recentBPM.clear();
        for (const double v : recent) r.analyzer.recentBPM.pushBack(v);
        const bool pulse = receiving && transport == Transport::playing;
        const std::optional<double> jitter = receiving ? std::optional(0.13) : none;
        std::optional<SourceKey> ref;
        EXPECT_EQ(deriveStatus({{7, r}}, "", ref, previous),
                  (ClockStatus{state, receiving, bpm, exact, receiving && ticks >= 24, jitter, 96, pulse, "A", {}}));
    }
}

// A status and the chosen input; the window's lines: state word, tempo, detail, jitter, source, hint, warning.
// Numbers as "%.Nf" in the C locale (the binary value, half to even).
TEST(StatusText, WindowLines) {
    const auto clock = [](State state, bool receiving = true, std::optional<double> jitter = 0.37) {
        return ClockStatus{state, receiving, 120, 120.04, false, jitter, {}, false, "Drum Machine", {}};
    };
    ClockStatus lastTempo = clock(State::noClock, false), others = clock(State::playing);
    lastTempo.bpm = 133.3;
    others.otherSources = {"Sequencer", "Virtual port"};
    const std::tuple<ClockStatus, std::string, std::string> rows[] = {
        {{},
         "",
         "Waiting for clock|– – –| |||Send MIDI clock to any input of this computer, or to the virtual port from a "
         "DAW.|"},
        {clock(State::waiting, false), "Keys",
         "Waiting for clock|120.0|Last tempo before the clock stopped|||Send MIDI clock to Keys.|"},
        {clock(State::running, true, {}), "",
         "Clock running|120.0|120.04 BPM||from Drum Machine|The bar count starts at the next Start, Continue or Song "
         "Position from the sender.|"},
        {clock(State::stopped), "",
         "Stopped|120.0|120.04 BPM|jitter ±0.37 ms|from Drum Machine|The clock is still running; the tempo is live.|"},
        {clock(State::stopped, false), "",
         "Stopped|120.0|Last tempo before the clock stopped||from Drum Machine|The sender stopped its clock too.|"},
        {lastTempo, "",
         "No clock|133.3|Last tempo before the clock stopped||from Drum Machine|The clock stopped without a Stop "
         "message. The last tempo stays on screen.|"},
        {others, "",
         "Playing|120.0|120.04 BPM|jitter ±0.37 ms|from Drum Machine| |Also receiving clock from Sequencer, Virtual "
         "port. Choose an input to follow that one."},
    };
    for (const auto& [status, selection, lines] : rows) {
        const StatusText t(status, selection);
        EXPECT_EQ(std::string(StatusText::stateWord(status.state)) + "|" + t.tempo() + "|" + t.detail() + "|" +
                      t.jitter() + "|" + t.source() + "|" + t.hint() + "|" + t.warning(),
                  lines);
    }
    EXPECT_EQ(StatusText(clock(State::playing)).jitterRange(1.0), "jitter ±0.37 ms · worst ±1.00 ms");
    for (const auto& [value, decimals, text] :
         {std::tuple{0.125, 2, "0.12"}, {1.005, 2, "1.00"}, {2.5, -3, "2"}, {0.1, 40, "0.10000000000000001"}})
        EXPECT_EQ(StatusText::fixed(value, decimals), text) << value;
}
