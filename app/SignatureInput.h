// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>
#include <QString>
#include <QStringView>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

#include <cstdint>
#include <optional>

// What the time-signature fields make of typed text: a whole number, then the
// time signature's rule for the field. The number is read exactly: spaces
// and tabs around it are ignored, then one optional sign and digits, within
// signed 64 bits; anything else is unreadable.
class SignatureInput : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    // The fields' tooltips, which state the same rule: "Beats per bar, 1–99".
    Q_PROPERTY(QString numeratorHelp READ numeratorHelp CONSTANT)
    Q_PROPERTY(QString denominatorHelp READ denominatorHelp CONSTANT)

public:
    using QObject::QObject;

    static std::optional<std::int64_t> readInteger(QStringView typed);

    // The number to store, or undefined when the text is refused.
    Q_INVOKABLE QVariant numerator(const QString& typed) const;
    Q_INVOKABLE QVariant denominator(const QString& typed) const;

    static QString numeratorHelp();
    static QString denominatorHelp();
};
