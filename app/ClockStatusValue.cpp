#include "ClockStatusValue.h"

#include <array>
#include <utility>

namespace {

using State = tactimo::ClockStatus::State;

constexpr std::array<std::pair<State, const char*>, 5> stateNames{{
    {State::waiting, "waiting"},
    {State::noClock, "noClock"},
    {State::running, "running"},
    {State::playing, "playing"},
    {State::stopped, "stopped"},
}};

template <typename T>
QVariant optionalValue(const std::optional<T>& value) {
    return value ? QVariant::fromValue(*value) : QVariant();
}

} // namespace

QString ClockStatusValue::stateName(State state) {
    for (const auto& [s, name] : stateNames)
        if (s == state) return QString::fromLatin1(name);
    return QStringLiteral("waiting");
}

std::optional<State> ClockStatusValue::stateNamed(const QString& name) {
    for (const auto& [s, n] : stateNames)
        if (name == QLatin1String(n)) return s;
    return std::nullopt;
}

QString ClockStatusValue::state() const {
    return stateName(status_.state);
}
QVariant ClockStatusValue::bpm() const {
    return optionalValue(status_.bpm);
}
QVariant ClockStatusValue::exactBPM() const {
    return optionalValue(status_.exactBPM);
}
QVariant ClockStatusValue::jitter() const {
    return optionalValue(status_.jitter);
}

QVariant ClockStatusValue::position() const {
    // JS numbers hold song positions exactly up to 2^53 clocks, far beyond any song.
    return status_.position ? QVariant(static_cast<double>(*status_.position)) : QVariant();
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
