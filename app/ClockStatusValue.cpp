#include "ClockStatusValue.h"

namespace {

QVariant optionalValue(const std::optional<double>& value) {
    return value ? QVariant(*value) : QVariant();
}

} // namespace

QVariant ClockStatusValue::bpm() const {
    return optionalValue(status_.bpm);
}
QVariant ClockStatusValue::exactBPM() const {
    return optionalValue(status_.exactBPM);
}
QVariant ClockStatusValue::jitter() const {
    return optionalValue(status_.jitter);
}

QVariant ClockStatusValue::sourceName() const {
    return status_.sourceName ? QVariant(QString::fromStdString(*status_.sourceName)) : QVariant();
}

QStringList ClockStatusValue::otherSources() const {
    QStringList names;
    names.reserve(static_cast<qsizetype>(status_.otherSources.size()));
    for (const std::string& name : status_.otherSources) names.append(QString::fromStdString(name));
    return names;
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
