// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockParser.h"

namespace tactimo {

std::vector<ClockEvent> ClockParser::feed(std::span<const std::uint8_t> bytes) {
    std::vector<ClockEvent> events;
    feed(bytes, [&](const ClockEvent& e) { events.push_back(e); });
    return events;
}

} // namespace tactimo
