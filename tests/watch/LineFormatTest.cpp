// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "watch/LineFormat.h"
#include "watch/TerminalText.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tactimo {
namespace {

using Json = nlohmann::json;
using Position = TimeSignature::BarPosition;

const LocalTime evening{2025, 3, 9, 19, 5, 3, 42, -300};

ClockStatus stopped(std::string name, std::vector<std::string> others = {}) {
    return {.state = ClockStatus::State::stopped, .bpm = 1234.5, .exactBPM = 123.45, .settled = true, .jitter = 0.07,
            .position = 24, .sourceName = std::move(name), .otherSources = std::move(others)};
}
const auto text = [](const WatchLine& line) { return formatLine(line, LineFormat::text, evening); };
const auto json = [](const WatchLine& line) { return Json::parse(formatLine(line, LineFormat::json, evening)); };

// Columns line up whatever is missing; missing values are the window's dash, in JSON null; numbers carry no
// binary noise.
TEST(LineFormat, TextAndJson) {
    ClockStatus playing = stopped("Drum", {"B", "A"});
    playing.state = ClockStatus::State::playing, playing.receiving = true, playing.jitter.reset();
    EXPECT_EQ(
        text(StatusLine{0, {}, {}}),
        "19:05:03.042  Waiting for clock      \u2013 BPM       \u2013 BPM      \u2013 ms          \u2013  \u2013");
    EXPECT_EQ(text(StatusLine{0, stopped("Drum"), Position{1, 2, 1}}),
              "19:05:03.042  Stopped            1234.5 BPM  123.45 BPM  \u00b10.07 ms      1.2.1  Drum");
    EXPECT_EQ(text(StatusLine{0, playing, Position{12, 3, 4}}),
              "19:05:03.042  Playing            1234.5 BPM  123.45 BPM      \u2013 ms     12.3.4  Drum  also: B, A");
    EXPECT_EQ(text(TickLine{12.5, 0.0202531}) + "|" + text(TickLine{12.5, std::nullopt}),
              "12.500000    20.253 ms|12.500000         \u2013 ms");
    EXPECT_EQ(text(MissedTicks{1}) + ", " + text(MissedTicks{2}), "# missed 1 tick, # missed 2 ticks");
    EXPECT_EQ(json(StatusLine{0, {}, {}}), Json::parse(R"({"time": "2025-03-09T19:05:03.042-05:00", "state": "waiting",
        "receiving": false, "bpm": null, "exactBPM": null, "settled": false, "jitter": null, "position": null,
        "source": null, "otherSources": []})"));
    EXPECT_EQ(json(StatusLine{0, stopped("Drum", {"A"}), Position{3, 2, 1}}),
              Json::parse(R"({"time": "2025-03-09T19:05:03.042-05:00", "state": "stopped", "receiving": false,
        "bpm": 1234.5, "exactBPM": 123.45, "settled": true, "jitter": 0.07,
        "position": {"bar": 3, "beat": 2, "sixteenth": 1}, "source": "Drum", "otherSources": ["A"]})"));
    EXPECT_EQ(json(TickLine{12345.678901234, 0.0202531}), (Json{{"time", 12345.678901234}, {"interval", 20.2531}}));
    EXPECT_TRUE(json(TickLine{1.0, std::nullopt}).at("interval").is_null());
    EXPECT_EQ(json(MissedTicks{58}), (Json{{"missed", 58}}));
}

// What --compare and --link add to a status line: its text's end, and the "compare" or "link" object of its JSON.
TEST(LineFormat, CompareAndLinkFields) {
    const ClockComparison late{.referenceBPM = 120.00004, .bpmDifference = 0, .ppm = 0, .driftMsPerMinute = 0.2,
                               .offsetMs = 7.8004, .spreadMs = 0.3, .pairing = ClockComparison::Pairing::position};
    ClockComparison phase = late, apart = late;
    phase.pairing = ClockComparison::Pairing::tickPhase;
    apart.offsetMs.reset();
    const struct {
        std::optional<StatusLine::Compare> compare;
        std::optional<LinkTimeline> link;
        const char* textEnd;
        const char* json;
    } rows[] = {
        {StatusLine::Compare{"DAW", late}, {},
         "\u2013  vs DAW: reference 120.00 BPM, difference 0.00 BPM \u00b7 0 ppm, offset +7.80 ms \u00b10.30 ms, drift "
         "+0.20 ms per minute",
         R"({"name":"DAW","bpm":120.0,"offsetMs":7.8,"spreadMs":0.3,"driftMsPerMinute":0.2,"paired":true})"},
        {StatusLine::Compare{"DAW", phase}, {}, "",
         R"({"name":"DAW","bpm":120.0,"offsetMs":7.8,"spreadMs":0.3,"driftMsPerMinute":0.2,"paired":false})"},
        {StatusLine::Compare{"link", apart}, {}, "",
         R"({"name":"link","bpm":120.0,"offsetMs":null,"spreadMs":null,"driftMsPerMinute":0.2,"paired":null})"},
        {StatusLine::Compare{"\x1b[2J", {}}, {}, "\u2013  vs \\x1b[2J: \u2013",
         R"({"name":"\u001b[2J","bpm":null,"offsetMs":null,"spreadMs":null,"driftMsPerMinute":null,"paired":null})"},
        // At 1 s the session is at beat 6.5 + 133.3 / 60 = 8.72: 0.72 in its bar.
        {{}, LinkTimeline{.bpm = 133.3, .peers = 2, .beatAtOrigin = 6.5, .originTime = 0},
         "\u2013  Link: 133.30 BPM \u00b7 2 peers \u00b7 beat 0.72", R"({"bpm":133.3,"peers":2,"beat":0.722})"},
        {{}, LinkTimeline{.bpm = 120, .peers = 0}, "\u2013  Link: No Link peers", R"({"bpm":null,"peers":0,"beat":null})"},
    };
    for (const auto& row : rows) {
        const StatusLine line{1.0, {}, {}, row.compare, row.link};
        EXPECT_TRUE(text(line).ends_with(row.textEnd)) << text(line);
        const Json j = json(line);
        EXPECT_EQ(j.at(row.compare ? "compare" : "link"), Json::parse(row.json)) << j;
        EXPECT_EQ(j.contains("link") + 2 * j.contains("compare"), row.link.has_value() + 2 * row.compare.has_value());
    }
}

// A name from another program stays on its line: escaped in text, in JSON only what a terminal acts on; long ones cut.
TEST(LineFormat, HostileNames) {
    const std::string name = "\"\n\x1b]0;\x07\\\xC2\x9B\xE2\x80\xAE\xE2\x80\xA8";
    const std::string inText = R"("\n\x1b]0;\x07\\\u009b\u202e\u2028)",
                      inJson = R"("\"\n\u001b]0;\u0007\\\u009b\u202e\u2028")";
    const StatusLine status{0, stopped(name, {name}), {}};
    EXPECT_TRUE(text(status).ends_with("  " + inText + "  also: " + inText)) << text(status);
    EXPECT_EQ(text(FollowedSource{name}) + "|" + formatSource({1, name}, LineFormat::text),
              "# ticks from " + inText + "|" + inText);
    EXPECT_EQ(formatLine(FollowedSource{name}, LineFormat::json, evening), R"({"source":)" + inJson + "}");
    EXPECT_EQ(formatSource({1, name}, LineFormat::json), R"({"name":)" + inJson + "}");
    EXPECT_TRUE(
        formatLine(status, LineFormat::json, evening).ends_with(inJson + R"(,"otherSources":[)" + inJson + "]}"));
    const std::string longName(600, 'x');
    EXPECT_EQ(text(StatusLine{0, stopped(longName, {longName}), {}}).size(), 605u);
    EXPECT_EQ(json(FollowedSource{longName}).at("source"), shortenedText(longName, maxShownName));
    // The escaping: every control, bidirectional format and invalid byte; cut between code points.
    const std::pair<std::string, std::string> rows[] = {
        {"Caf\xC3\xA9 \xF0\x9F\xA5\x81", "Caf\xC3\xA9 \xF0\x9F\xA5\x81"},
        {"a\nb\\\t\r\x1b[2J\x7f", "a\\nb\\\\\\t\\r\\x1b[2J\\x7f"},
        {"\xC2\x9B\xE2\x80\xA9\xE2\x81\xA6\xE2\x80\xAE\xE2\x80\x8F", "\\u009b\\u2029\\u2066\\u202e\\u200f"},
        {"\xFF\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE2\x80",
         "\\xff\\xc0\\xaf\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80\\xe2\\x80"},
    };
    for (const auto& [raw, shown] : rows) EXPECT_EQ(terminalText(raw, 100), shown);
    EXPECT_EQ(terminalText("abcdefghijkl", 8), "abcd\xE2\x80\xA6jkl");
    EXPECT_EQ(shortenedText("\xC3\x84\xC3\x84\xC3\x84\xC3\x84", 3), "\xC3\x84\xE2\x80\xA6\xC3\x84");
}

} // namespace
} // namespace tactimo
