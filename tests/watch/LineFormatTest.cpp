#include "watch/LineFormat.h"
#include "watch/TerminalText.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <random>

namespace tactimo {
namespace {

using Json = nlohmann::json;
using State = ClockStatus::State;

const LocalTime evening{2025, 3, 9, 19, 5, 3, 42, -300};

ClockStatus playing(std::string name = "Drum", std::vector<std::string> others = {}) {
    ClockStatus s;
    s.state = State::playing;
    s.receiving = true;
    s.bpm = 123.5;
    s.exactBPM = 123.45;
    s.settled = true;
    s.jitter = 0.07;
    s.position = 24;
    s.sourceName = std::move(name);
    s.otherSources = std::move(others);
    return s;
}

std::string textOf(const ClockStatus& status, std::optional<TimeSignature::BarPosition> at = {}) {
    return formatLine(StatusLine{0, status, at}, LineFormat::text, evening);
}
Json jsonOf(const WatchLine& line) {
    return Json::parse(formatLine(line, LineFormat::json, evening));
}

// Columns line up whatever is missing; missing values are the window's dash.
TEST(LineFormat, TextColumns) {
    ClockStatus stopped = playing();
    stopped.state = State::stopped;
    stopped.receiving = false;
    stopped.jitter.reset();
    ClockStatus fast = playing("Drum", {"B", "A"});
    fast.bpm = 1234.5;
    const std::pair<std::string, std::string> rows[] = {
        {textOf({}),
         "19:05:03.042  Waiting for clock      \u2013 BPM       \u2013 BPM      \u2013 ms          \u2013  \u2013"},
        {textOf(playing(), TimeSignature::BarPosition{1, 2, 1}),
         "19:05:03.042  Playing            123.5 BPM  123.45 BPM  \u00b10.07 ms      1.2.1  Drum"},
        {textOf(stopped, TimeSignature::BarPosition{12, 3, 4}),
         "19:05:03.042  Stopped            123.5 BPM  123.45 BPM      \u2013 ms     12.3.4  Drum"},
        {textOf(fast),
         "19:05:03.042  Playing            1234.5 BPM  123.45 BPM  \u00b10.07 ms          \u2013  Drum  also: B, A"},
    };
    for (const auto& [got, expected] : rows) EXPECT_EQ(got, expected);
}

TEST(LineFormat, JsonFieldsAndAbsentValues) {
    const Json waiting = jsonOf(StatusLine{0, {}, {}});
    for (const char* field : {"bpm", "exactBPM", "jitter", "position", "source"})
        EXPECT_TRUE(waiting.at(field).is_null()) << field;
    EXPECT_EQ(waiting.at("otherSources"), Json::array());
    EXPECT_EQ(waiting.at("time"), "2025-03-09T19:05:03.042-05:00");

    const Json beat = jsonOf(StatusLine{0, playing("Drum", {"A"}), TimeSignature::BarPosition{3, 2, 1}});
    EXPECT_EQ(beat.at("position"), (Json{{"bar", 3}, {"beat", 2}, {"sixteenth", 1}}));
    EXPECT_EQ(beat.at("exactBPM"), 123.45) << "no binary noise";

    const Json tick = jsonOf(TickLine{12345.678901234, 0.0202531});
    EXPECT_EQ(tick.at("time"), 12345.678901234);
    EXPECT_EQ(tick.at("interval"), 20.2531); // milliseconds
    EXPECT_TRUE(jsonOf(TickLine{1.0, std::nullopt}).at("interval").is_null());
    EXPECT_EQ(jsonOf(MissedTicks{58}).at("missed"), 58);
}

bool showsNoControl(const std::string& line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        const auto next = i + 1 < line.size() ? static_cast<unsigned char>(line[i + 1]) : 0;
        if (c < 0x20 || c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F)) return false;
        if (line.compare(i, 3, "\xE2\x80\xA8") == 0 || line.compare(i, 3, "\xE2\x80\xAE") == 0) return false;
    }
    return true;
}

// A name is shown on its one line whatever it holds: text escapes it, JSON
// carries it unchanged (shortened only when absurdly long).
TEST(LineFormat, HostileNames) {
    const std::string names[] = {
        "say \"hi\"\n{\"state\":\"playing\"}",
        "\x1b]0;owned\x07\x1b[2J",
        std::string("nul\0inside", 10),
        "back\\slash\r\t",
        "c1 \xC2\x9B"
        "31m and \xC2\x85",
        "\xE2\x80\xAE"
        "desrever \xE2\x80\xA8 split",
        std::string(10'000, 'x'),
    };
    for (const std::string& name : names) {
        for (const WatchLine& line :
             {WatchLine{StatusLine{0, playing(name, {name}), {}}}, WatchLine{FollowedSource{name}}}) {
            const std::string text = formatLine(line, LineFormat::text, evening);
            const std::string json = formatLine(line, LineFormat::json, evening);
            EXPECT_TRUE(showsNoControl(text)) << text;
            EXPECT_TRUE(showsNoControl(json)) << json;
            EXPECT_LT(text.size(), 2 * 6 * maxShownName + 200);
            const Json parsed = Json::parse(json);
            EXPECT_EQ(parsed.at("source"), name.size() > maxShownName ? shortenedText(name, maxShownName) : name);
        }
        EXPECT_TRUE(showsNoControl(formatSource({1, name}, LineFormat::text)));
    }
}

// Escaping never lets a control character through and keeps everything
// else, for any bytes at all; shortening cuts between code points.
TEST(TerminalText, EscapesEveryControlAndKeepsTheRest) {
    const std::pair<std::string, std::string> rows[] = {
        {"Caf\xC3\xA9 \xF0\x9F\xA5\x81", "Caf\xC3\xA9 \xF0\x9F\xA5\x81"},
        {"a\nb\\", "a\\nb\\\\"},
        {"\x1b[2J\x7f", "\\x1b[2J\\x7f"},
        {"\xC2\x9B\xE2\x80\xA9\xE2\x81\xA6", "\\u009b\\u2029\\u2066"},
        {"\xFF\xC0\xAF\xED\xA0\x80\xE2\x80", "\\xff\\xc0\\xaf\\xed\\xa0\\x80\\xe2\\x80"},
    };
    for (const auto& [raw, shown] : rows) EXPECT_EQ(terminalText(raw, 100), shown);
    EXPECT_EQ(terminalText("abcdefghijkl", 8), "abcd\xE2\x80\xA6jkl");
    EXPECT_EQ(shortenedText("\xC3\x84\xC3\x84\xC3\x84\xC3\x84", 3), "\xC3\x84\xE2\x80\xA6\xC3\x84");

    std::mt19937 random(11);
    for (int round = 0; round < 5000; ++round) {
        std::string bytes(random() % 12, '\0');
        for (char& c : bytes) c = static_cast<char>(random() % 4 ? 0x80 + random() % 0x80 : random() % 0x80);
        const std::string shown = terminalText(bytes, 6);
        EXPECT_TRUE(showsNoControl(shown)) << shown;
        EXPECT_NO_THROW(Json(shown).dump()) << "valid UTF-8 throughout";
    }
}

} // namespace
} // namespace tactimo
