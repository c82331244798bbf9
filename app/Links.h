// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>
#include <QUrl>
#include <QtQmlIntegration/qqmlintegration.h>

// Addresses the window links to. The donation page is chosen when building
// (the TACTIMO_DONATE_URL cache option, checked at configure time to be
// https with the path "/donate"), so a packager can point it at the project's
// own page.
class Links : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QUrl donate READ donate CONSTANT)

public:
    using QObject::QObject;

    static QUrl donate();
};
