// Names of sources: the forms people know, what becomes of the bytes other
// programs hand us, names that would be equal by accident, and the names of
// our JACK ports after their sources.

#include "midi/SourceNames.h"
#include "midi/JackPortName.h"
#include "midi/SequencerPortName.h"

#include <gtest/gtest.h>

#include <set>

namespace tactimo::test {
namespace {

std::string times(int n, const std::string& text) {
    std::string result;
    for (int i = 0; i < n; ++i) result += text;
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

TEST(SequencerPortName, PortsGoByThePortNameWhereItSaysWhoItIs) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"Midi Through", "Midi Through Port-0", "Midi Through Port-0"},
        {"Virtual Raw MIDI 0-0", "VirMIDI 0-0", "Virtual Raw MIDI 0-0:VirMIDI 0-0"},
        {"Synth", "", "Synth"},
        {"", "out", "out"},
        {"USB Drum ", "USB Drum MIDI 1  ", "USB Drum MIDI 1"},
    };
    for (const auto& [client, port, name] : rows) EXPECT_EQ(SequencerPortName::shown(client, port), name) << port;
    EXPECT_EQ(SequencerPortName::full(" USB Drum", "USB Drum MIDI 1"), "USB Drum:USB Drum MIDI 1");
}

TEST(JackPortName, PortsAreNamedAfterTheirSourceInWhatJackAndPatchbaysTake) {
    const std::tuple<std::string, std::size_t, std::string> rows[] = {
        {"jack_midi_clock:mclk_out", 64, "from jack_midi_clock mclk_out"},
        {"Clock " + a, 64, "from Clock " + a},
        {"a\tb\nc\x7F"
         "d\xC2\x85"
         "e::f  ",
         64, "from a b c d e f"},
        {"\xFF", 64, "from " + replacement},
        {" : ", 64, "from source"},
        {"Drum " + a + a, 12, "from Drum " + a}, // cut to JACK's limit, never inside a character
    };
    for (const auto& [source, limit, port] : rows) EXPECT_EQ(JackPortName::forSource(source, limit), port) << source;
    // Two sources of one name get ports of their own, within the limit.
    const std::set<std::string, std::less<>> taken{"from Drum", "from Drum 2"};
    const auto isTaken = [&](std::string_view name) { return taken.contains(name); };
    EXPECT_EQ(JackPortName::unique("from Drum", 64, isTaken), "from Drum 3");
    EXPECT_EQ(JackPortName::unique("from Drum", 10, isTaken), "from Dru 2");
    EXPECT_EQ(JackPortName::unique("from Clock", 64, isTaken), "from Clock");
}

} // namespace
} // namespace tactimo::test
