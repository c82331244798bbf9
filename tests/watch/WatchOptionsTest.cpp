#include "watch/WatchOptions.h"

#include "support/ChildProcess.h"

#include <gtest/gtest.h>

namespace tactimo {
namespace {

// Each row: the arguments and what they set, "input|N/D|flags", or for a
// refusal "!" and part of its message. The program ends with status 2 on a
// refusal, before it looks for any MIDI service.
TEST(WatchOptions, CommandLines) {
    std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{}, "|4/4|"},
        {{"--input", "Drum Machine"}, "Drum Machine|4/4|"},
        {{"--input=a=b", "--input=-x"}, "-x|4/4|"},
        {{"--input="}, "|4/4|"}, // all inputs, as an empty choice is
        {{"--signature", "7/8"}, "|7/8|"},
        {{"--signature=99/16", "--signature", "1/1"}, "|1/1|"},
        {{"--ticks", "--json", "--list"}, "|4/4|json ticks list"},
        {{"--help", "--nonsense"}, "|4/4|help"},
        {{"--version"}, "|4/4|version"},
        {{"--compare", "DAW", "--link"}, "|4/4|link compare=DAW"},
        {{"--compare=link"}, "|4/4|link compare=link"}, // Link is needed then
        {{"--compare="}, "!--compare needs"},
        {{"--input"}, "!--input needs"},
        {{"--input", "--json"}, "!--input needs"},
        {{"--signature"}, "!--signature needs"},
        {{"--json=yes"}, "!--json takes no value"},
        {{"--verbose"}, "!unknown option \"--verbose\""},
        {{"-j"}, "!unknown option \"-j\""},
        {{"drum"}, "!unexpected argument \"drum\""},
        {{"--nonsense", "--help"}, "!unknown option"},
        {{"--\x1b[2J\n"}, "!unknown option \"--\\x1b[2J\\n\""},
        {{"--" + std::string(5000, 'x')}, "!\xE2\x80\xA6"},
    };
    const std::size_t run = rows.size(); // the program is run for these
    for (const char* bad : {"0/4", "100/4", "4/3", "4/32", "4/0", "-4/4", "+4/4", "4", "4/", "/4", "4//4", " 4/4",
                            "4/4 ", "4.0/4", "99999999999999999999/4", "four/4", ""})
        rows.push_back({{"--signature", bad}, "!bad time signature \""});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& [args, expected] = rows[i];
        const std::vector<std::string_view> views(args.begin(), args.end());
        const auto result = parseWatchOptions(views);
        if (const auto* error = std::get_if<ArgumentError>(&result)) {
            EXPECT_NE(error->message.find(expected.substr(1)), std::string::npos) << error->message;
            EXPECT_LT(error->message.size(), 200u) << expected;
            std::vector<std::string> argv{WATCH_PROGRAM};
            argv.insert(argv.end(), args.begin(), args.end());
            if (i < run) EXPECT_EQ(test::run(argv), 2) << expected;
        } else {
            const auto& o = std::get<WatchOptions>(result);
            const std::pair<bool, const char*> flags[] = {
                {o.json, "json"}, {o.ticks, "ticks"}, {o.list, "list"}, {o.help, "help"}, {o.version, "version"}, {o.link, "link"}};
            std::string set;
            for (auto [on, name] : flags)
                if (on) set += (set.empty() ? "" : " ") + std::string(name);
            if (!o.compare.empty()) set += " compare=" + o.compare;
            EXPECT_EQ(o.input + "|" + std::to_string(o.signature.numerator) + "/" +
                          std::to_string(o.signature.denominator) + "|" + set,
                      expected);
        }
    }
}

} // namespace
} // namespace tactimo
