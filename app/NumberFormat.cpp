#include "NumberFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

QString NumberFormat::fixed(double value, int decimals) {
    if (!std::isfinite(value)) return QString(QChar(0x2013));
    // to_chars rounds exactly like printf and never reads the locale.
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed,
                                      std::clamp(decimals, 0, 17));
    if (result.ec != std::errc()) return QString(QChar(0x2013));
    return QString::fromLatin1(buffer.data(), result.ptr - buffer.data());
}
