// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockStatusValue.h"

QVariant ClockStatusValue::bpm() const {
    return status_.bpm ? QVariant(*status_.bpm) : QVariant();
}

QString ClockStatusValue::stateWord() const {
    const std::string_view word = tactimo::StatusText::stateWord(status_.state);
    return QString::fromUtf8(word.data(), static_cast<qsizetype>(word.size()));
}

QString ClockStatusValue::text(std::string (tactimo::StatusText::*line)() const) const {
    return QString::fromStdString((tactimo::StatusText(status_, selection_).*line)());
}

QString ClockStatusValue::jitterRange(const QVariant& worst) const {
    const std::optional<double> ms = worst.isValid() ? std::optional(worst.toDouble()) : std::nullopt;
    return QString::fromStdString(tactimo::StatusText(status_, selection_).jitterRange(ms));
}
