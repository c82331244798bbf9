// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/ClockStatus.h"
#include "core/StatusText.h"

#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

// The clock status as the views read it: a few facts (an absent tempo is
// undefined in QML) and the texts to show. Two fields are the store's own
// properties: the state (ClockStore::state, an enum, which Qt 6.4's compiled
// bindings cannot read from a value type) and the song position, which the
// views get as bars (ClockStore::barPosition).
class ClockStatusValue {
    Q_GADGET
    QML_VALUE_TYPE(clockStatus)
    QML_UNCREATABLE("The store publishes the status")
    Q_PROPERTY(bool receiving READ receiving CONSTANT)
    Q_PROPERTY(QVariant bpm READ bpm CONSTANT)
    Q_PROPERTY(bool settled READ settled CONSTANT)
    Q_PROPERTY(bool pulse READ pulse CONSTANT)
    // What the views show, as tactimo::StatusText words it.
    Q_PROPERTY(QString stateWord READ stateWord CONSTANT)
    Q_PROPERTY(QString tempoText READ tempoText CONSTANT)
    Q_PROPERTY(QString detailText READ detailText CONSTANT)
    Q_PROPERTY(QString jitterText READ jitterText CONSTANT)
    Q_PROPERTY(QString sourceText READ sourceText CONSTANT)
    Q_PROPERTY(QString hint READ hint CONSTANT)
    Q_PROPERTY(QString warning READ warning CONSTANT)

public:
    ClockStatusValue() = default;
    // selection: the chosen input, which the hint names.
    ClockStatusValue(tactimo::ClockStatus status, std::string selection)
        : status_(std::move(status)),
          selection_(std::move(selection)) {}

    const tactimo::ClockStatus& value() const { return status_; }

    bool receiving() const { return status_.receiving; }
    QVariant bpm() const;
    bool settled() const { return status_.settled; }
    bool pulse() const { return status_.pulse; }

    QString stateWord() const;
    QString tempoText() const { return text(&tactimo::StatusText::tempo); }
    QString detailText() const { return text(&tactimo::StatusText::detail); }
    QString jitterText() const { return text(&tactimo::StatusText::jitter); }
    QString sourceText() const { return text(&tactimo::StatusText::source); }
    QString hint() const { return text(&tactimo::StatusText::hint); }
    QString warning() const { return text(&tactimo::StatusText::warning); }
    // The current jitter and the worst (ms; undefined while unknown).
    Q_INVOKABLE QString jitterRange(const QVariant& worst) const;

private:
    QString text(std::string (tactimo::StatusText::*line)() const) const;

    tactimo::ClockStatus status_;
    std::string selection_;
};
