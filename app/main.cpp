#include "ClockStore.h"
#include "MainWindow.h"
#include "Settings.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QtQml/qqmlextensionplugin.h>

#include "midi/SystemMidiService.h"

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(Settings::organization);
    QGuiApplication::setApplicationName(Settings::application);
    QGuiApplication::setDesktopFileName(QStringLiteral("tactimo"));
    QQuickStyle::setStyle(QStringLiteral("Fusion"));

    ClockStore store(tactimo::makeSystemMidiService());
    QQmlApplicationEngine engine;
    if (!openMainWindow(engine, store)) return 1;
    return QGuiApplication::exec();
}
