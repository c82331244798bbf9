#include "TimeSignature.h"

#include <algorithm>

namespace tactimo {

TimeSignature::BarPosition TimeSignature::position(std::int64_t of) const {
    // The store and the fields only let valid meters through; anything else is
    // pulled into range here so that no caller can divide by zero.
    const std::int64_t num = std::clamp<std::int64_t>(numerator, 1, 99);
    const bool known = std::find(denominators.begin(), denominators.end(), denominator) != denominators.end();
    const std::int64_t clocksPerBeat = 96 / (known ? denominator : 4); // a whole note is 96 clocks
    const std::int64_t clocksPerBar = num * clocksPerBeat;
    const std::int64_t p = std::max<std::int64_t>(of, 0);

    const std::int64_t inBar = p % clocksPerBar;
    const std::int64_t inBeat = inBar % clocksPerBeat;
    return {p / clocksPerBar + 1, inBar / clocksPerBeat + 1, inBeat / 6 + 1};
}

} // namespace tactimo
