// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "MainWindow.h"

#include "ClockStore.h"

#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QUrl>

QQuickWindow* openMainWindow(QQmlApplicationEngine& engine, ClockStore& store) {
    // One small window that changes a few times a second: the software
    // renderer redraws only what changed and loads no GPU driver, which
    // costs less CPU and tens of MB less memory than OpenGL here.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // The module is compiled in: its qmldir lives under qrc:/Tactimo.
    engine.addImportPath(QStringLiteral("qrc:/"));
    engine.setInitialProperties({{QStringLiteral("store"), QVariant::fromValue(&store)}});
    engine.load(QUrl(QStringLiteral("qrc:/Tactimo/qml/TactimoApp.qml")));
    const QList<QObject*> roots = engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.constFirst());
}
