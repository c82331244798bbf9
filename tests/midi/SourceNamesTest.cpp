// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "midi/SourceNames.h"
#include "midi/SourceLedger.h"

#include <gtest/gtest.h>

namespace tactimo::test {
namespace {

std::string times(int n, const std::string& text) {
    std::string result;
    while (n-- > 0) result += text;
    return result;
}

const std::string a = "\xC3\x84", ellipsis = "\xE2\x80\xA6", replacement = "\xEF\xBF\xBD";

TEST(SourceNames, NamesAreValidPlainTextOfBoundedSizeThatKeepsBothEnds) {
    const std::pair<std::string, std::string> rows[] = {
        {"Clock \xFF", "Clock " + replacement},
        {"<b>Drum</b> &amp;", "<b>Drum</b> &amp;"}, // shown as it is, never as markup
        {"A\xCC\x88", a},                           // composed
        {std::string(160, 'a'), std::string(160, 'a')},
        {std::string(161, 'a'), std::string(105, 'a') + ellipsis + std::string(52, 'a')},
        {times(200, a), times(52, a) + ellipsis + times(26, a)}, // cut between characters
        {std::string(4'000'000, 'b') + " port 2", std::string(105, 'b') + ellipsis + std::string(45, 'b') + " port 2"},
    };
    for (const auto& [name, shown] : rows) EXPECT_EQ(SourceNames::bounded(name), shown) << name.substr(0, 20);
}

TEST(SourceNames, OnlyNamesEqualByAccidentTakeTheirLongForm) {
    using Forms = SourceNames::Forms;
    const std::pair<std::vector<Forms>, std::vector<std::string>> rows[] = {
        {{{"A MIDI 1", "A:A MIDI 1"}, {"B", "B:B"}}, {"A MIDI 1", "B"}},
        // Two units of one model; two devices that shorten alike.
        {{{"Drum", "Drum:Drum"}, {"Drum", "Drum:Drum"}}, {"Drum", "Drum"}},
        {{{"Drum", "Drum:Drum"}, {"Drum", "Pad:Drum"}, {"C", "C:C"}}, {"Drum:Drum", "Pad:Drum", "C"}},
        {{{"X", "P:X"}, {"X", "P:X"}, {"X", "Q:X"}}, {"P:X", "P:X", "Q:X"}},
        // A long form equal to another's short one; a name with no long form.
        {{{"out", "a:out"}, {"out", "b:out"}, {"a:out", "c:a:out"}}, {"a:out", "b:out", "c:a:out"}},
        {{{"Clock", "Clock"}, {"Clock", "x:Clock"}}, {"Clock", "x:Clock"}},
    };
    for (int row = 0; const auto& [sources, names] : rows) EXPECT_EQ(SourceNames::distinct(sources), names) << row++;
}

TEST(SourceLedger, KeysAreGivenOnFirstSightNeverAgainAndFewNamesOutliveThem) {
    SourceLedger<int> ledger;
    constexpr SourceKey first = SourceLedger<int>::firstKey, kept = SourceLedger<int>::departedNames;
    // A sender restarting all day under one Id, beside one that stays and one that left without a name.
    ledger.rename(*ledger.key(1), "steady");
    ledger.depart(*ledger.key(2));
    for (int i = 0; i < 1000; ++i) {
        ledger.rename(*ledger.key(3), "sender " + std::to_string(i));
        ledger.depart(*ledger.find(3));
    }
    EXPECT_EQ(ledger.size(), 1 + kept);
    EXPECT_EQ(std::pair(ledger.key(1), ledger.idOf(first)), std::pair(std::optional(first), std::optional(1)));
    const SourceKey last = first + 1001;
    const std::pair<SourceKey, std::optional<std::string>> names[] = {
        {first, "steady"}, {last, "sender 999"},      {last + 1 - kept, "sender " + std::to_string(1000 - kept)},
        {last - kept, {}}, {first + 1, std::nullopt}, {last + 1, std::nullopt}};
    for (const auto& [key, name] : names) EXPECT_EQ(ledger.lastName(key), name) << key;
}

} // namespace
} // namespace tactimo::test
