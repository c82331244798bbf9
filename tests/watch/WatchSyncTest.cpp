// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "watch/ClockFollower.h"
#include "watch/LineFormat.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tactimo {
namespace {

using Json = nlohmann::json;

// What --compare and --link add to a status line: its text's end, and the
// "compare" or "link" object of its JSON.
TEST(WatchSync, CompareAndLinkFields) {
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
        const LocalTime evening{2025, 3, 9, 19, 5, 3, 42, 0};
        const std::string text = formatLine(line, LineFormat::text, evening);
        EXPECT_TRUE(text.ends_with(row.textEnd)) << text;
        const Json json = Json::parse(formatLine(line, LineFormat::json, evening));
        EXPECT_EQ(json.at(row.compare ? "compare" : "link"), Json::parse(row.json)) << json;
        EXPECT_EQ(json.contains("link") + 2 * json.contains("compare"), row.link.has_value() + 2 * row.compare.has_value());
    }
}

// Every status line carries the comparison and the session of its refresh.
TEST(WatchSync, FollowerComparesTheFollowedClock) {
    const auto started = [](double atMs) {
        ClockAnalyzer a;
        a.apply(ClockEvent::start(), 999.999 + atMs / 1000);
        for (int k = 0; k < 240; ++k) a.tick(1000.0 + atMs / 1000 + k / 48.0);
        return a;
    };
    const Readings snapshot{{1, {"Drum", started(-3), true}}, {2, {"DAW", started(0), true}}};
    ClockFollower follower("Drum", {}, ClockFollower::Mode::beats, "DAW");
    const auto lines = follower.refresh(snapshot, 1000.0 + 239 / 48.0 + 0.005, LinkTimeline{.bpm = 120, .peers = 1});
    ASSERT_FALSE(lines.empty());
    for (const WatchLine& line : lines) {
        const auto& status = std::get<StatusLine>(line);
        ASSERT_TRUE(status.compare && status.compare->comparison && status.compare->comparison->offsetMs);
        EXPECT_EQ(status.compare->name, "DAW");
        EXPECT_NEAR(*status.compare->comparison->offsetMs, -3, 1e-6);
        EXPECT_TRUE(status.link && status.link->peers == 1);
    }
}

} // namespace
} // namespace tactimo
