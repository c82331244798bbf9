// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Bytes split anywhere through a parser, its events through an analyzer and a history at any time, NaN or infinite.
#include "Require.h"
#include "core/ClockHistory.h"
#include "core/ClockParser.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cmath>

using namespace tactimo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ClockParser parser;
    ClockAnalyzer analyzer;
    static ClockHistory history; // one for the run: any state an input leaves, the next must take
    static std::uint64_t sequence = 0;
    const std::uint64_t first = sequence;
    std::vector<std::uint8_t> stream;
    std::vector<ClockEvent> events;
    double clock = 1000.0;
    while (in.remaining_bytes() > 0) {
        const auto chunk = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 24));
        stream.insert(stream.end(), chunk.begin(), chunk.end());
        for (const ClockEvent& event : parser.feed(chunk)) {
            events.push_back(event);
            require(event.value >= 0 && event.value <= 16383, "position pointer 0 to 16383");
            const double time = in.ConsumeBool() ? std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>())
                                                 : clock += in.ConsumeIntegralInRange<int>(0, 100000) * 1e-6;
            const ClockHistory::Before before{analyzer.ticks.size(), in.ConsumeBool()};
            analyzer.apply(event, time);
            history.note(event, time, before, analyzer, sequence);
            require(!analyzer.brokenInvariant(), analyzer.brokenInvariant().value_or(""));
        }
    }
    ClockParser whole;
    require(whole.feed(stream) == events && whole == parser, "a split stream decodes as the whole");
    require(analyzer.tickCount == std::ranges::count(events, ClockEvent::tick()), "every tick counted");
    ClockHistory::Slice slice;
    history.copySince(first, slice);
    for (std::uint64_t previous = first; const auto& t : slice.ticks) {
        require(t.sequence > previous && t.sequence <= slice.latest, "ticks in order");
        require((!t.bpm || *t.bpm > 0) && (!t.deviation || std::isfinite(*t.deviation)), "tempos and deviations");
        previous = t.sequence;
    }
    require(!slice.worstJitter || std::isfinite(*slice.worstJitter), "the worst jitter finite");
    return 0;
}
