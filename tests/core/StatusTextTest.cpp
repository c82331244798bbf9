#include "core/StatusText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tactimo;
using State = ClockStatus::State;

// Numbers as "%.Nf" in the C locale: the binary value rounded half to even,
// no grouping, a dash for what is missing or not finite.
TEST(StatusText, Numbers) {
    const struct {
        std::optional<double> value;
        int decimals;
        std::string text;
    } rows[] = {
        {0.125, 2, "0.12"},
        {0.375, 2, "0.38"},
        {1.005, 2, "1.00"},
        {98.46, 1, "98.5"},
        {123456789.04, 2, "123456789.04"},
        {2.5, -3, "2"},
        {0.1, 40, "0.10000000000000001"},
        {std::nan(""), 1, "\u2013"},
        {-std::numeric_limits<double>::infinity(), 1, "\u2013"},
        {std::nullopt, 1, "\u2013"},
    };
    for (const auto& row : rows) EXPECT_EQ(StatusText::fixed(row.value, row.decimals), row.text) << row.text;
    EXPECT_EQ(StatusText::spread(0.07), "\u00b10.07");
    EXPECT_EQ(StatusText::spread(std::nullopt), "\u2013");
    EXPECT_EQ(StatusText::spread(std::nan("")), "\u2013");
}

ClockStatus clock(State state, bool receiving = true) {
    ClockStatus s;
    s.state = state;
    s.receiving = receiving;
    s.bpm = 120;
    s.exactBPM = 120.04;
    s.jitter = 0.37;
    s.sourceName = "Drum Machine";
    return s;
}

// Each row: the status, the chosen input, then the state word, tempo,
// detail, jitter, source, hint and warning.
TEST(StatusText, WindowLines) {
    ClockStatus unknownJitter = clock(State::running);
    unknownJitter.jitter.reset();
    ClockStatus lastTempo = clock(State::noClock, false);
    lastTempo.bpm = 133.3;
    ClockStatus others = clock(State::playing);
    others.otherSources = {"Sequencer", "Virtual port"};
    const std::string live = "jitter \u00b10.37 ms", old = "Last tempo before the clock stopped";
    const struct {
        ClockStatus status;
        std::string selection;
        std::vector<std::string> texts;
    } rows[] = {
        {{},
         "",
         {"Waiting for clock", "\u2013 \u2013 \u2013", " ", "", "",
          "Send MIDI clock to any input of this computer, or to the virtual port from a DAW.", ""}},
        {clock(State::waiting, false),
         "Keys",
         {"Waiting for clock", "120.0", old, "", "", "Send MIDI clock to Keys.", ""}},
        {unknownJitter,
         "",
         {"Clock running", "120.0", "120.04 BPM", "", "from Drum Machine",
          "The bar count starts at the next Start, Continue or Song Position from the sender.", ""}},
        {clock(State::playing), "", {"Playing", "120.0", "120.04 BPM", live, "from Drum Machine", " ", ""}},
        {clock(State::stopped),
         "",
         {"Stopped", "120.0", "120.04 BPM", live, "from Drum Machine", "The clock is still running; the tempo is live.",
          ""}},
        {clock(State::stopped, false),
         "",
         {"Stopped", "120.0", old, "", "from Drum Machine", "The sender stopped its clock too.", ""}},
        {lastTempo,
         "",
         {"No clock", "133.3", old, "", "from Drum Machine",
          "The clock stopped without a Stop message. The last tempo stays on screen.", ""}},
        {others,
         "",
         {"Playing", "120.0", "120.04 BPM", live, "from Drum Machine", " ",
          "Also receiving clock from Sequencer, Virtual port. Choose an input to follow that one."}},
    };
    for (const auto& row : rows) {
        const StatusText text(row.status, row.selection);
        const std::vector<std::string> shown{std::string(StatusText::stateWord(row.status.state)),
                                             text.tempo(),
                                             text.detail(),
                                             text.jitter(),
                                             text.source(),
                                             text.hint(),
                                             text.warning()};
        EXPECT_EQ(shown, row.texts);
    }
    EXPECT_EQ(StatusText(clock(State::playing)).jitterRange(1.0), "jitter \u00b10.37 ms \u00b7 worst \u00b11.00 ms");
    EXPECT_EQ(StatusText(clock(State::stopped, false)).jitterRange(std::nullopt), "jitter \u2013 \u00b7 worst \u2013");
    EXPECT_EQ(StatusText::serviceNotice(false), "No MIDI service is running. Start JACK or load snd-seq (ALSA).");
}
