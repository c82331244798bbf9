// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>
#include <QString>
#include <QtQmlIntegration/qqmlintegration.h>

// The desktop's plain-text clipboard, which QML in Qt 6.4 cannot reach.
class Clipboard : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // Replaces whatever the clipboard held.
    Q_INVOKABLE void setText(const QString& text);
    Q_INVOKABLE QString text() const;
};
