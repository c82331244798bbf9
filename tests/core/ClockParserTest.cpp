#include "core/ClockParser.h"

#include <gtest/gtest.h>

#include <random>

using namespace tactimo;
using Bytes = std::vector<std::uint8_t>;
using Events = std::vector<ClockEvent>;

TEST(ClockParser, DecodesClockMessagesAndSkipsTheRest) {
    const ClockEvent t = ClockEvent::tick();
    const auto p = [](std::int64_t v) { return ClockEvent::songPosition(v); };
    const std::pair<Bytes, Events> cases[] = {
        {{0xF8, 0xF2, 0x10, 0xF8, 0x20, 0xFA}, {t, t, p(4112), ClockEvent::start()}},
        {{0xF2, 0x7F, 0x7F, 0xFB, 0xFC}, {p(16383), ClockEvent::continue_(), ClockEvent::stop()}},
        // Real-time bytes inside a pointer neither break nor delay it...
        {{0xF2, 0xF8, 0x05, 0xFE, 0x01}, {t, p(133)}},
        {{0xF2, 0x05, 0xFF, 0xF9, 0xFD, 0x01}, {p(133)}},
        // ...any other status byte abandons it; stray data bytes are skipped.
        {{0xF2, 0x05, 0x90, 0x01}, {}},
        {{0xF2, 0x05, 0xF0, 0x01, 0x02, 0xF7, 0x03}, {}},
        {{0xF2, 0x05, 0xF2, 0x03, 0x04}, {p(515)}},
    };
    for (const auto& [bytes, events] : cases) {
        ClockParser parser;
        EXPECT_EQ(parser.feed(bytes), events) << "case of length " << bytes.size();
        EXPECT_FALSE(parser.songPosition);
    }
}

// Any stream split at any point, or fed byte by byte, decodes as the whole
// stream does, and never leaves more than one data byte pending between calls.
TEST(ClockParser, SplittingAStreamAnywhereChangesNothing) {
    const std::uint8_t palette[] = {0xF8, 0xF2, 0xFA, 0xFB, 0xFC, 0xF9, 0xFE, 0x90,
                                    0xF0, 0xF7, 0xF1, 0x00, 0x05, 0x7F, 0x40};
    const auto feed = [](ClockParser& p, std::span<const std::uint8_t> bytes, Events& into) {
        for (const ClockEvent& e : p.feed(bytes)) into.push_back(e);
        EXPECT_TRUE(!p.songPosition || p.songPosition->size() <= 1);
    };
    std::mt19937 rng(20240);
    for (int round = 0; round < 300; ++round) {
        Bytes stream(rng() % 41);
        for (auto& b : stream)
            b = rng() % 4 == 0 ? static_cast<std::uint8_t>(rng()) : palette[rng() % std::size(palette)];
        const std::span<const std::uint8_t> all(stream);
        ClockParser whole, bytewise;
        Events byByte, expected = whole.feed(all);
        for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
            ClockParser parser;
            Events got;
            feed(parser, all.first(cut), got);
            feed(parser, all.subspan(cut), got);
            ASSERT_EQ(got, expected) << "round " << round << ", cut at " << cut;
            EXPECT_EQ(parser, whole);
            feed(bytewise, all.subspan(cut, cut < stream.size() ? 1 : 0), byByte);
        }
        ASSERT_EQ(byByte, expected) << "round " << round << ", byte by byte";
    }
}
