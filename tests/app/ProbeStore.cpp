#include "ProbeStore.h"

#include "ClockStatusValue.h"

#include <QSettings>

ProbeStore::ProbeStore(std::shared_ptr<tactimo::FakeMidiBus> bus, std::shared_ptr<std::atomic<std::uint64_t>> now,
                       QObject* parent)
    : ClockStore(std::make_unique<tactimo::FakeMidiService>(bus),
                 [now] { return now->load(); }, parent),
      bus_(std::move(bus)),
      now_(std::move(now)) {}

void ProbeStore::show(const QVariantMap& fields) {
    tactimo::ClockStatus status;
    if (const auto state = ClockStatusValue::stateNamed(fields.value(QStringLiteral("state")).toString()))
        status.state = *state;
    status.receiving = fields.value(QStringLiteral("receiving")).toBool();
    status.settled = fields.value(QStringLiteral("settled")).toBool();
    status.pulse = fields.value(QStringLiteral("pulse")).toBool();
    if (fields.contains(QStringLiteral("bpm"))) status.bpm = fields.value(QStringLiteral("bpm")).toDouble();
    if (fields.contains(QStringLiteral("exactBPM"))) status.exactBPM = fields.value(QStringLiteral("exactBPM")).toDouble();
    if (fields.contains(QStringLiteral("jitter"))) status.jitter = fields.value(QStringLiteral("jitter")).toDouble();
    if (fields.contains(QStringLiteral("position")))
        status.position = fields.value(QStringLiteral("position")).toLongLong();
    if (fields.contains(QStringLiteral("sourceName")))
        status.sourceName = fields.value(QStringLiteral("sourceName")).toString().toStdString();
    for (const QString& name : fields.value(QStringLiteral("otherSources")).toStringList())
        status.otherSources.push_back(name.toStdString());
    show(status);
}

int ProbeStore::addSource(const QString& name) {
    return static_cast<int>(bus_->addSource(name.toStdString()));
}

void ProbeStore::removeSource(int key) { bus_->removeSource(static_cast<tactimo::SourceKey>(key)); }

QVariant ProbeStore::storedSetting(const QString& key) const {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tactimo"),
                             QStringLiteral("Tactimo"));
    return settings.value(key);
}
