// Arbitrary bytes, split arbitrarily, through a parser, and the events they
// yield through an analyzer at arbitrary times (NaN and infinities included).
#include "core/ClockAnalyzer.h"
#include "core/ClockParser.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <vector>

namespace {

using tactimo::ClockAnalyzer;
using tactimo::ClockEvent;
using tactimo::ClockParser;

void require(bool holds, std::string_view what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %.*s\n", static_cast<int>(what.size()), what.data());
        std::abort();
    }
}

double nextTime(FuzzedDataProvider& in, double& clock) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return std::numeric_limits<double>::infinity();
    case 2: return -std::numeric_limits<double>::infinity();
    case 3: return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>()); // any bits
    case 4: return in.ConsumeFloatingPoint<double>();
    default: // a plausible clock: 0 to 0.1 s after the last plausible time, in microseconds
        clock += static_cast<double>(in.ConsumeIntegralInRange<int>(0, 100000)) * 1e-6;
        return clock;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ClockParser parser;
    ClockAnalyzer analyzer;
    std::vector<std::uint8_t> stream;
    std::vector<ClockEvent> events;
    double clock = 1000.0;
    std::int64_t ticks = 0;

    while (in.remaining_bytes() > 0) {
        const auto chunk = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 24));
        stream.insert(stream.end(), chunk.begin(), chunk.end());
        for (const ClockEvent& event : parser.feed(chunk)) {
            events.push_back(event);
            if (event.kind == ClockEvent::Kind::songPosition)
                require(event.value >= 0 && event.value <= 16383, "position pointer 0 to 16383");
            if (event.kind == ClockEvent::Kind::tick) ++ticks;
            analyzer.apply(event, nextTime(in, clock));
            const auto broken = analyzer.brokenInvariant();
            require(!broken, broken.value_or(""));
        }
        require(!parser.songPosition || parser.songPosition->size() <= 1, "at most one byte pending between calls");
    }

    ClockParser whole;
    require(whole.feed(stream) == events, "a split stream decodes as the whole stream");
    require(whole == parser, "a split stream leaves the same state");
    require(analyzer.tickCount == ticks, "every tick counted");
    return 0;
}
