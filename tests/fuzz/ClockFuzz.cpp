// Arbitrary bytes, split arbitrarily, through a parser, and the events they
// yield through an analyzer and its history at arbitrary times (NaN and
// infinities included).
#include "Require.h"
#include "core/ClockAnalyzer.h"
#include "core/ClockHistory.h"
#include "core/ClockParser.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

using namespace tactimo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ClockParser parser;
    ClockAnalyzer analyzer;
    // One history for the whole run: its rings are large, and any state an
    // input leaves it in is one it must take the next input in.
    static ClockHistory history;
    static std::uint64_t sequence = 0;
    const std::uint64_t first = sequence;
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
            const double time = nextTime();
            const ClockHistory::Before before{analyzer.ticks.size(), in.ConsumeBool()};
            analyzer.apply(event, time);
            history.note(event, time, before, analyzer, sequence);
            const auto broken = analyzer.brokenInvariant();
            require(!broken, broken.value_or(""));
        }
        require(!parser.songPosition || parser.songPosition->size() <= 1, "at most one byte pending between calls");
    }
    ClockParser whole;
    require(whole.feed(stream) == events, "a split stream decodes as the whole stream");
    require(whole == parser, "a split stream leaves the same state");
    require(analyzer.tickCount == ticks, "every tick counted");
    ClockHistory::Slice slice;
    history.copySince(first, slice);
    std::uint64_t previous = first;
    for (const auto& t : slice.ticks) {
        require(t.sequence > previous && t.sequence <= slice.latest, "ticks in order");
        require(!t.bpm || *t.bpm > 0, "tempos above 0");
        require(!t.deviation || std::isfinite(*t.deviation), "deviations finite");
        previous = t.sequence;
    }
    require(!slice.worstJitter || std::isfinite(*slice.worstJitter), "the worst jitter finite");
    return 0;
}
