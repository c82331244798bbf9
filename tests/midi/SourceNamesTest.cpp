// Names of sources: the forms people know, bounds on what other programs
// hand us, and names that would be equal by accident.

#include "midi/SourceNames.h"
#include "midi/SequencerPortName.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tactimo::test {
namespace {

TEST(SequencerPortName, PortsGoByThePortNameWhereItSaysWhoItIs) {
    struct Row {
        const char* client;
        const char* port;
        const char* name;
    };
    const Row rows[] = {
        {"Midi Through", "Midi Through Port-0", "Midi Through Port-0"},
        {"USB Drum", "USB Drum MIDI 1", "USB Drum MIDI 1"},
        {"Virtual Raw MIDI 0-0", "VirMIDI 0-0", "Virtual Raw MIDI 0-0:VirMIDI 0-0"},
        {"jack_midi_clock", "out", "jack_midi_clock:out"},
        {"Synth", "", "Synth"},
        {"", "out", "out"},
        {"USB Drum ", "USB Drum MIDI 1  ", "USB Drum MIDI 1"},
    };
    for (const Row& row : rows) EXPECT_EQ(SequencerPortName::shown(row.client, row.port), row.name) << row.port;
    EXPECT_EQ(SequencerPortName::full("USB Drum", "USB Drum MIDI 1"), "USB Drum:USB Drum MIDI 1");
}

std::string umlauts(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "\xC3\x84";
    return text;
}

TEST(SourceNames, NamesAreValidTextOfBoundedSizeThatKeepsBothEnds) {
    EXPECT_EQ(SourceNames::bounded("Clock \xFF"), "Clock \xEF\xBF\xBD");
    EXPECT_EQ(SourceNames::bounded(std::string(SourceNames::maxBytes, 'a')), std::string(SourceNames::maxBytes, 'a'));

    struct Row {
        const char* what;
        std::string name;
    };
    const Row rows[] = {
        {"long ASCII", std::string(1000, 'a') + " port 1"},
        {"long, two-byte characters", std::string(500, 'x') + umlauts(300) + "Z"},
        {"megabytes", std::string(4'000'000, 'b') + " port 2"},
    };
    for (const Row& row : rows) {
        const std::string name = SourceNames::bounded(row.name);
        EXPECT_LE(name.size(), SourceNames::maxBytes) << row.what;
        EXPECT_EQ(name, SourceNames::bounded(name)) << row.what << ": not valid, canonical text";
        EXPECT_EQ(name.substr(0, 3), row.name.substr(0, 3)) << row.what;
        EXPECT_TRUE(name.ends_with(row.name.substr(row.name.size() - 1))) << row.what;
    }
    // Cut between characters, never inside one.
    EXPECT_EQ(SourceNames::bounded(umlauts(200)).find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(SourceNames, OnlyNamesEqualByAccidentTakeTheirLongForm) {
    using Forms = SourceNames::Forms;
    struct Row {
        const char* what;
        std::vector<Forms> sources;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {"all different", {{"A MIDI 1", "A:A MIDI 1"}, {"B", "B:B"}}, {"A MIDI 1", "B"}},
        {"two units of one model",
         {{"Drum MIDI 1", "Drum:Drum MIDI 1"}, {"Drum MIDI 1", "Drum:Drum MIDI 1"}},
         {"Drum MIDI 1", "Drum MIDI 1"}},
        {"two devices that shorten alike",
         {{"Drum MIDI 1", "Drum:Drum MIDI 1"}, {"Drum MIDI 1", "Drum MIDI 1:Drum MIDI 1"}, {"C", "C:C"}},
         {"Drum:Drum MIDI 1", "Drum MIDI 1:Drum MIDI 1", "C"}},
        {"two units and a look-alike", {{"X", "P:X"}, {"X", "P:X"}, {"X", "Q:X"}}, {"P:X", "P:X", "Q:X"}},
        {"a long form equal to another's short one",
         {{"out", "a:out"}, {"out", "b:out"}, {"a:out", "c:a:out"}},
         {"a:out", "b:out", "c:a:out"}},
        {"a name with no long form", {{"Clock", "Clock"}, {"Clock", "x:Clock"}}, {"Clock", "x:Clock"}},
    };
    for (const Row& row : rows) EXPECT_EQ(SourceNames::distinct(row.sources), row.names) << row.what;
}

} // namespace
} // namespace tactimo::test
