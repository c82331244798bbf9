#include "ClockParser.h"

namespace tactimo {

std::vector<ClockEvent> ClockParser::feed(std::span<const std::uint8_t> bytes) {
    std::vector<ClockEvent> events;
    feed(bytes, [&](const ClockEvent& e) { events.push_back(e); });
    return events;
}

} // namespace tactimo
