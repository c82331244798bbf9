// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "watch/WatchOptions.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

namespace tactimo {
namespace {

// Each row: the arguments and what they set, "input|N/D|flags", or "!" and part of the refusal.
// The first rows are also run: a refusal ends the program with status 2 before it looks for MIDI.
TEST(WatchOptions, CommandLines) {
    std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"--input"}, "!--input needs"},
        {{"--input", "--json"}, "!--input needs"},
        {{"--signature"}, "!--signature needs"},
        {{"--compare="}, "!--compare needs"},
        {{"--json=yes"}, "!--json takes no value"},
        {{"--nonsense", "--help"}, "!unknown option \"--nonsense\""},
        {{"drum"}, "!unexpected argument \"drum\""},
        {{"--\x1b[2J\n"}, "!unknown option \"--\\x1b[2J\\n\""},
        {{"--" + std::string(5000, 'x')}, "!\xE2\x80\xA6"},
        {{"--help", "--nonsense"}, "|4/4|help "},
        {{"--version"}, "|4/4|version "},
        {{}, "|4/4|"},
        {{"--input", "Drum Machine"}, "Drum Machine|4/4|"},
        {{"--input=a=b", "--input=-x"}, "-x|4/4|"},
        {{"--input="}, "|4/4|"}, // all inputs, as an empty choice is
        {{"--signature=99/16", "--signature", "1/1"}, "|1/1|"},
        {{"--ticks", "--json", "--list"}, "|4/4|json ticks list "},
        {{"--compare", "DAW", "--link"}, "|4/4|link compare=DAW"},
        {{"--compare=link"}, "|4/4|link compare=link"}, // Link is needed then
    };
    const std::size_t run = 11; // refusals, help and version: the program ends on its own
    for (const char* bad : {"0/4", "100/4", "4/3", "4/32", "4/0", "-4/4", "+4/4", "4", "4/", "/4", "4//4", " 4/4",
                            "4/4 ", "4.0/4", "99999999999999999999/4", "four/4", ""})
        rows.push_back({{"--signature", bad}, "!bad time signature \""});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& [args, expected] = rows[i];
        const auto result = parseWatchOptions(std::vector<std::string_view>(args.begin(), args.end()));
        std::vector<std::string> argv{WATCH_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto* o = std::get_if<WatchOptions>(&result);
        if (i < run && (!o || o->help || o->version)) { // else it would wait for a clock
            EXPECT_EQ(test::run(argv), expected[0] == '!' ? 2 : 0) << expected;
        }
        if (const auto* error = std::get_if<ArgumentError>(&result)) {
            EXPECT_NE(error->message.find(expected.substr(1)), std::string::npos) << error->message;
            EXPECT_LT(error->message.size(), 200u) << expected;
        } else {
            const std::string flags = std::string(o->json ? "json " : "") + (o->ticks ? "ticks " : "") +
                                      (o->list ? "list " : "") + (o->help ? "help " : "") +
                                      (o->version ? "version " : "") + (o->link ? "link " : "") +
                                      (o->compare.empty() ? "" : "compare=" + o->compare);
            EXPECT_EQ(o->input + "|" + std::to_string(o->signature.numerator) + "/" +
                          std::to_string(o->signature.denominator) + "|" + flags,
                      expected);
        }
    }
}

} // namespace
} // namespace tactimo
