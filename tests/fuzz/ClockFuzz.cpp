// Arbitrary bytes, split arbitrarily, through a parser, and the events they
// yield through an analyzer at arbitrary times (NaN and infinities included).
#include "Require.h"
#include "core/ClockAnalyzer.h"
#include "core/ClockParser.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <limits>
#include <vector>

using namespace tactimo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ClockParser parser;
    ClockAnalyzer analyzer;
    std::vector<std::uint8_t> stream;
    std::vector<ClockEvent> events;
    double clock = 1000.0; // the last plausible time
    std::int64_t ticks = 0;
    const auto nextTime = [&]() -> double {
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: return std::numeric_limits<double>::quiet_NaN();
        case 1: return std::numeric_limits<double>::infinity();
        case 2: return -std::numeric_limits<double>::infinity();
        case 3: return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>()); // any bits
        case 4: return in.ConsumeFloatingPoint<double>();
        default: return clock += in.ConsumeIntegralInRange<int>(0, 100000) * 1e-6; // up to 0.1 s on
        }
    };
    while (in.remaining_bytes() > 0) {
        const auto chunk = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 24));
        stream.insert(stream.end(), chunk.begin(), chunk.end());
        for (const ClockEvent& event : parser.feed(chunk)) {
            events.push_back(event);
            if (event.kind == ClockEvent::Kind::songPosition)
                require(event.value >= 0 && event.value <= 16383, "position pointer 0 to 16383");
            ticks += event.kind == ClockEvent::Kind::tick;
            analyzer.apply(event, nextTime());
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
