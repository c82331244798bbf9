// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>

namespace tactimo {

// One decoded clock message. Only songPosition carries a value: the Song
// Position Pointer in MIDI beats (sixteenths, six clocks each), 0 to 16383.
struct ClockEvent {
    enum class Kind : std::uint8_t { songPosition, tick, start, continue_, stop };

    Kind kind = Kind::tick;
    std::int64_t value = 0;

    static constexpr ClockEvent songPosition(std::int64_t v) { return {Kind::songPosition, v}; }
    static constexpr ClockEvent tick() { return {Kind::tick, 0}; }
    static constexpr ClockEvent start() { return {Kind::start, 0}; }
    static constexpr ClockEvent continue_() { return {Kind::continue_, 0}; }
    static constexpr ClockEvent stop() { return {Kind::stop, 0}; }

    friend constexpr bool operator==(const ClockEvent& a, const ClockEvent& b) {
        return a.kind == b.kind && (a.kind != Kind::songPosition || a.value == b.value);
    }
};

} // namespace tactimo
