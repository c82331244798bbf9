// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/StatusText.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tactimo;
using State = ClockStatus::State;

// Numbers as "%.Nf" in the C locale (the binary value, half to even); a dash for what is missing.
TEST(StatusText, Numbers) {
    for (const auto& [value, decimals, text] :
         {std::tuple{0.125, 2, "0.12"}, {1.005, 2, "1.00"}, {2.5, -3, "2"}, {0.1, 40, "0.10000000000000001"}})
        EXPECT_EQ(StatusText::fixed(value, decimals), text) << value;
    EXPECT_EQ(StatusText::serviceNotice(false), "No MIDI service is running. Start JACK or load snd-seq (ALSA).");
}

// A status and the chosen input; the window's lines: state word, tempo, detail, jitter, source, hint, warning.
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
}
