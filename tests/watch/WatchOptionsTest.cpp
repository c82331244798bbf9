#include "watch/WatchOptions.h"

#include <gtest/gtest.h>

namespace tactimo {
namespace {

std::variant<WatchOptions, ArgumentError> parsed(std::vector<std::string> args) {
    const std::vector<std::string_view> views(args.begin(), args.end());
    return parseWatchOptions(views);
}

TEST(WatchOptions, AcceptedCommandLines) {
    struct Row {
        std::vector<std::string> args;
        std::string input;
        TimeSignature signature;
        bool json, ticks, list, help;
        std::string compare = {};
        bool link = false;
    };
    const Row rows[] = {
        {{}, "", {4, 4}, false, false, false, false},
        {{"--input", "Drum Machine"}, "Drum Machine", {4, 4}, false, false, false, false},
        {{"--input=a=b", "--input=-x"}, "-x", {4, 4}, false, false, false, false},
        {{"--input="}, "", {4, 4}, false, false, false, false}, // all inputs, as an empty choice is
        {{"--signature", "7/8"}, "", {7, 8}, false, false, false, false},
        {{"--signature=99/16", "--signature", "1/1"}, "", {1, 1}, false, false, false, false},
        {{"--ticks", "--json", "--list"}, "", {4, 4}, true, true, true, false},
        {{"--help", "--nonsense"}, "", {4, 4}, false, false, false, true},
        {{"--compare", "DAW", "--link"}, "", {4, 4}, false, false, false, false, "DAW", true},
        {{"--compare=link"}, "", {4, 4}, false, false, false, false, "link", true}, // Link is needed then
    };
    for (const Row& row : rows) {
        const auto result = parsed(row.args);
        const auto* options = std::get_if<WatchOptions>(&result);
        ASSERT_TRUE(options) << row.args.size();
        EXPECT_EQ(options->input, row.input);
        EXPECT_EQ(options->signature, row.signature) << row.input;
        EXPECT_EQ(options->json, row.json);
        EXPECT_EQ(options->ticks, row.ticks);
        EXPECT_EQ(options->list, row.list);
        EXPECT_EQ(options->help, row.help);
        EXPECT_EQ(options->compare, row.compare);
        EXPECT_EQ(options->link, row.link);
    }
}

// Each refusal names what was wrong, escaped and short whatever was typed.
TEST(WatchOptions, RefusedCommandLines) {
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        {{"--input"}, "--input needs"},
        {{"--input", "--json"}, "--input needs"},
        {{"--signature"}, "--signature needs"},
        {{"--compare="}, "--compare needs"},
        {{"--json=yes"}, "--json takes no value"},
        {{"--verbose"}, "unknown option \"--verbose\""},
        {{"-j"}, "unknown option \"-j\""},
        {{"drum"}, "unexpected argument \"drum\""},
        {{"--nonsense", "--help"}, "unknown option"},
        {{"--\x1b[2J\n"}, "unknown option \"--\\x1b[2J\\n\""},
        {{"--" + std::string(5000, 'x')}, "\xE2\x80\xA6"},
    };
    for (const auto& [args, message] : rows) {
        const auto result = parsed(args);
        const auto* error = std::get_if<ArgumentError>(&result);
        ASSERT_TRUE(error) << message;
        EXPECT_NE(error->message.find(message), std::string::npos) << error->message;
        EXPECT_LT(error->message.size(), 200u);
    }
    for (const char* bad : {"0/4", "100/4", "4/3", "4/32", "4/0", "-4/4", "+4/4", "4", "4/", "/4", "4//4", " 4/4",
                            "4/4 ", "4.0/4", "99999999999999999999/4", "four/4", ""}) {
        const auto result = parsed({"--signature", bad});
        const auto* error = std::get_if<ArgumentError>(&result);
        ASSERT_TRUE(error) << bad;
        EXPECT_TRUE(error->message.starts_with("bad time signature")) << bad;
    }
}

} // namespace
} // namespace tactimo
