#include "core/ClockParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace tactimo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Events = std::vector<ClockEvent>;

const ClockEvent tick = ClockEvent::tick();
ClockEvent position(std::int64_t v) { return ClockEvent::songPosition(v); }

std::span<const std::uint8_t> part(const Bytes& bytes, std::size_t from, std::size_t to) {
    return std::span<const std::uint8_t>(bytes).subspan(from, to - from);
}

TEST(ClockParser, DecodesClockMessagesAndSkipsTheRest) {
    struct Case {
        Bytes bytes;
        Events events;
    };
    const Case cases[] = {
        {{0xF8, 0xF2, 0x10, 0xF8, 0x20, 0xFA}, {tick, tick, position(4112), ClockEvent::start()}},
        {{0xF2, 0x00, 0x00}, {position(0)}},
        {{0xF2, 0x7F, 0x7F}, {position(16383)}},
        // Real-time bytes inside a Song Position Pointer neither break nor delay it.
        {{0xF2, 0x05, 0xF8, 0x01}, {tick, position(133)}},
        {{0xF2, 0xF8, 0x05, 0xFE, 0x01}, {tick, position(133)}},
        {{0xF2, 0x05, 0xFF, 0x01}, {position(133)}},
        {{0xF2, 0x05, 0xF9, 0xFD, 0x01}, {position(133)}},
        // Any other status byte abandons it; stray data bytes are skipped.
        {{0xF2, 0x05, 0x90, 0x01}, {}},
        {{0xF2, 0x05, 0xF0, 0x01, 0x02, 0xF7, 0x03}, {}},
        {{0xF2, 0x05, 0xF2, 0x03, 0x04}, {position(515)}},
        {{0x90, 0x3C, 0x40, 0x3C, 0x00}, {}},
        {{0xF9, 0xFD}, {}},
        {{0xF8, 0xF8, 0xF8}, {tick, tick, tick}},
        {{0xFA, 0xFB, 0xFC}, {ClockEvent::start(), ClockEvent::continue_(), ClockEvent::stop()}},
    };
    for (const Case& c : cases) {
        ClockParser parser;
        EXPECT_EQ(parser.feed(c.bytes), c.events) << "case starting " << int(c.bytes[0]) << ", length " << c.bytes.size();
        EXPECT_FALSE(parser.songPosition) << "nothing may stay pending";
    }
}

TEST(ClockParser, KeepsAPendingPositionAcrossCalls) {
    ClockParser parser;
    EXPECT_TRUE(parser.feed(Bytes{0xF2, 0x05}).empty());
    ASSERT_TRUE(parser.songPosition);
    EXPECT_EQ(parser.songPosition->size(), 1u);

    EXPECT_TRUE(parser.feed(Bytes{}).empty());
    ASSERT_TRUE(parser.songPosition) << "an empty packet leaves it pending";
    EXPECT_EQ(parser.feed(Bytes{0x01}), Events{position(133)});
    EXPECT_FALSE(parser.songPosition);

    // A status byte alone is pending too, with no data yet.
    parser.feed(Bytes{0xF2, 0xFE});
    ASSERT_TRUE(parser.songPosition);
    EXPECT_TRUE(parser.songPosition->empty());
}

// Any stream split at any point decodes as the whole stream does, and never
// leaves more than one data byte pending between calls.
TEST(ClockParser, SplittingAStreamAnywhereChangesNothing) {
    const std::uint8_t palette[] = {0xF8, 0xF2, 0xFA, 0xFB, 0xFC, 0xF9, 0xFE, 0x90, 0xF0, 0xF7, 0xF1, 0x00, 0x05, 0x7F, 0x40};
    std::mt19937 rng(20240);
    for (int round = 0; round < 300; ++round) {
        Bytes stream(std::uniform_int_distribution<std::size_t>(0, 40)(rng));
        for (auto& b : stream) {
            b = rng() % 4 == 0 ? static_cast<std::uint8_t>(rng())
                               : palette[std::uniform_int_distribution<std::size_t>(0, std::size(palette) - 1)(rng)];
        }
        ClockParser whole;
        const Events expected = whole.feed(stream);

        for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
            ClockParser parser;
            Events got = parser.feed(part(stream, 0, cut));
            EXPECT_LE(parser.songPosition ? parser.songPosition->size() : 0u, 1u);
            const Events rest = parser.feed(part(stream, cut, stream.size()));
            got.insert(got.end(), rest.begin(), rest.end());
            ASSERT_EQ(got, expected) << "round " << round << ", cut at " << cut;
            EXPECT_EQ(parser, whole);
        }

        ClockParser bytewise;
        Events got;
        for (std::size_t i = 0; i < stream.size(); ++i) {
            const Events e = bytewise.feed(part(stream, i, i + 1));
            got.insert(got.end(), e.begin(), e.end());
            EXPECT_LE(bytewise.songPosition ? bytewise.songPosition->size() : 0u, 1u);
        }
        ASSERT_EQ(got, expected) << "round " << round << ", byte by byte";
    }
}

} // namespace
} // namespace tactimo
