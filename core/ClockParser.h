// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ClockEvent.h"
#include "FixedList.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tactimo {

// Decodes the raw bytes of one MIDI source into clock events. Everything that
// is not Timing Clock, Start, Continue, Stop or Song Position Pointer is skipped.
struct ClockParser {
    // Data bytes of a pending Song Position Pointer; absent when none is pending.
    // Holds at most one byte between calls.
    std::optional<FixedList<std::uint8_t, 2>> songPosition;

    // Feeds the bytes of one packet and calls emit(ClockEvent) for every event
    // they complete, in byte order. Allocates nothing.
    template <typename Emit>
    void feed(std::span<const std::uint8_t> bytes, Emit&& emit);

    std::vector<ClockEvent> feed(std::span<const std::uint8_t> bytes);

    friend bool operator==(const ClockParser&, const ClockParser&) = default;
};

template <typename Emit>
void ClockParser::feed(std::span<const std::uint8_t> bytes, Emit&& emit) {
    for (const std::uint8_t byte : bytes) {
        switch (byte) {
        case 0xF8: emit(ClockEvent::tick()); break;
        case 0xFA: emit(ClockEvent::start()); break;
        case 0xFB: emit(ClockEvent::continue_()); break;
        case 0xFC: emit(ClockEvent::stop()); break;
        case 0xF9:
        case 0xFD:
        case 0xFE:
        case 0xFF: break; // real-time: leave a pending position alone
        case 0xF2: songPosition.emplace(); break;
        default:
            if (byte >= 0x80) {
                songPosition.reset();
            } else if (songPosition) {
                songPosition->pushBack(byte);
                if (songPosition->size() == 2) {
                    const std::int64_t value = (std::int64_t{(*songPosition)[1]} << 7) | (*songPosition)[0];
                    songPosition.reset();
                    emit(ClockEvent::songPosition(value));
                }
            }
        }
    }
}

} // namespace tactimo
