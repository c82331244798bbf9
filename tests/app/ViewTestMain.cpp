// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ProbeStore.h"

#include <QDir>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

class Setup : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir_;
public slots:
    void qmlEngineAvailable(QQmlEngine* engine) { // before any QML loads
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
        engine->addImportPath(QStringLiteral("qrc:/"));
        qmlRegisterType<ProbeStore>("TactimoTest", 1, 0, "ProbeStore");
        QDir().mkpath(TACTIMO_SCREENSHOT_DIR);
        engine->rootContext()->setContextProperty("screenshotDir", QStringLiteral(TACTIMO_SCREENSHOT_DIR));
    }
};

QUICK_TEST_MAIN_WITH_SETUP(tactimo_views, Setup)
#include "ViewTestMain.moc"
