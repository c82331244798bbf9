#include "BarCounter.h"

#include "core/TimeSignature.h"

#include <cmath>
#include <limits>

QVariantMap BarCounter::position(double clocks, qint64 numerator, qint64 denominator) const {
    // Positions come from the status as JS numbers; anything not a count is none.
    if (!std::isfinite(clocks) || std::abs(clocks) > 9.0e15) return {};
    const tactimo::TimeSignature signature{numerator, denominator};
    const auto p = signature.position(static_cast<std::int64_t>(clocks));
    return {{QStringLiteral("bar"), static_cast<double>(p.bar)},
            {QStringLiteral("beat"), static_cast<double>(p.beat)},
            {QStringLiteral("sixteenth"), static_cast<double>(p.sixteenth)}};
}
