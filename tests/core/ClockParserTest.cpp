// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "core/ClockParser.h"

#include <gtest/gtest.h>

using namespace tactimo;

// Real-time bytes pass inside a pointer or System Exclusive; other status bytes abandon a pointer; stray data goes.
TEST(ClockParser, DecodesClockMessagesAndSkipsTheRest) {
    const ClockEvent t = ClockEvent::tick();
    const auto p = [](std::int64_t v) { return ClockEvent::songPosition(v); };
    const std::pair<std::vector<std::uint8_t>, std::vector<ClockEvent>> cases[] = {
        {{0xF8, 0xF2, 0x10, 0xF8, 0x20, 0xFA}, {t, t, p(4112), ClockEvent::start()}},
        {{0xF2, 0x7F, 0x7F, 0xFB, 0xFC}, {p(16383), ClockEvent::continue_(), ClockEvent::stop()}},
        {{0xF2, 0x05, 0xFF, 0xF9, 0xFD, 0xFE, 0x01}, {p(133)}},
        {{0xF0, 0x01, 0xF8, 0x02, 0xF7, 0xF2, 0x05, 0x80, 0x01}, {t}},
        {{0xF2, 0x05, 0xF0, 0x01, 0x02, 0xF7, 0x03}, {}},
        {{0xF2, 0x05, 0xF2, 0x03, 0x04}, {p(515)}},
    };
    for (const auto& [bytes, events] : cases) {
        ClockParser parser;
        EXPECT_EQ(parser.feed(bytes), events) << bytes.size();
        EXPECT_FALSE(parser.songPosition);
    }
}
