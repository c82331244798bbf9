#pragma once

#include "core/ClockStatus.h"

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

// The clock status as the views read it. Absent numbers are undefined in QML.
// Two fields are the store's own properties: the state (ClockStore::state, an
// enum, which Qt 6.4's compiled bindings cannot read from a value type) and
// the song position, which the views get as bars (ClockStore::barPosition).
class ClockStatusValue {
    Q_GADGET
    QML_VALUE_TYPE(clockStatus)
    QML_UNCREATABLE("The store publishes the status")
    Q_PROPERTY(bool receiving READ receiving CONSTANT)
    Q_PROPERTY(QVariant bpm READ bpm CONSTANT)
    Q_PROPERTY(QVariant exactBPM READ exactBPM CONSTANT)
    Q_PROPERTY(bool settled READ settled CONSTANT)
    Q_PROPERTY(QVariant jitter READ jitter CONSTANT)
    Q_PROPERTY(bool pulse READ pulse CONSTANT)
    Q_PROPERTY(QVariant sourceName READ sourceName CONSTANT)
    Q_PROPERTY(QStringList otherSources READ otherSources CONSTANT)

public:
    ClockStatusValue() = default;
    explicit ClockStatusValue(tactimo::ClockStatus status) : status_(std::move(status)) {}

    const tactimo::ClockStatus& value() const { return status_; }

    bool receiving() const { return status_.receiving; }
    QVariant bpm() const;
    QVariant exactBPM() const;
    bool settled() const { return status_.settled; }
    QVariant jitter() const;
    bool pulse() const { return status_.pulse; }
    QVariant sourceName() const;
    QStringList otherSources() const;

private:
    tactimo::ClockStatus status_;
};
