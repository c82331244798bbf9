// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "SignatureInput.h"

#include "core/TimeSignature.h"

#include <QStringList>

#include <charconv>
#include <cstdint>
#include <limits>

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QVariant number(std::optional<std::int64_t> n) {
    return n ? QVariant(qint64(*n)) : QVariant();
}

} // namespace

std::optional<std::int64_t> SignatureInput::readInteger(QStringView typed) {
    while (!typed.isEmpty() && isBlank(typed.front())) typed = typed.sliced(1);
    while (!typed.isEmpty() && isBlank(typed.back())) typed.chop(1);

    bool negative = false;
    if (!typed.isEmpty() && (typed.front() == u'+' || typed.front() == u'-')) {
        negative = typed.front() == u'-';
        typed = typed.sliced(1);
    }
    if (typed.isEmpty()) return std::nullopt;
    for (const QChar c : typed)
        if (c < u'0' || c > u'9') return std::nullopt;
    while (typed.size() > 1 && typed.front() == u'0') typed = typed.sliced(1);
    // 2^63 has 19 digits: anything longer is out of range, and 19 fit unsigned 64 bits.
    if (typed.size() > 19) return std::nullopt;
    char digits[19];
    for (qsizetype i = 0; i < typed.size(); ++i) digits[i] = static_cast<char>(typed[i].unicode());
    std::uint64_t magnitude = 0;
    std::from_chars(digits, digits + typed.size(), magnitude);

    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (magnitude > largest + 1) return std::nullopt;
        return magnitude == largest + 1 ? std::numeric_limits<std::int64_t>::min()
                                        : -static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > largest) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

QVariant SignatureInput::numerator(const QString& typed) const {
    const auto n = readInteger(typed);
    return number(n ? std::optional(tactimo::TimeSignature::clampedNumerator(*n)) : std::nullopt);
}

QVariant SignatureInput::denominator(const QString& typed) const {
    const auto n = readInteger(typed);
    return number(n ? tactimo::TimeSignature::acceptedDenominator(*n) : std::nullopt);
}

QString SignatureInput::numeratorHelp() {
    using tactimo::TimeSignature;
    return QStringLiteral("Beats per bar, %1\u2013%2")
        .arg(TimeSignature::minNumerator)
        .arg(TimeSignature::maxNumerator);
}

QString SignatureInput::denominatorHelp() {
    QStringList values;
    for (const std::int64_t d : tactimo::TimeSignature::denominators) values << QString::number(d);
    const QString last = values.takeLast();
    return QStringLiteral("The note value of a beat: %1 or %2").arg(values.join(QStringLiteral(", ")), last);
}
