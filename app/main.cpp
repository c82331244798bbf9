#include "ClockStore.h"
#include "MainWindow.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QtQml/qqmlextensionplugin.h>

#ifdef TACTIMO_HAVE_SYSTEM_MIDI
#include "midi/SystemMidiService.h"
#else
#include "midi/FakeMidiService.h"
#endif

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Tactimo"));
    QGuiApplication::setApplicationName(QStringLiteral("Tactimo"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tactimo"));
    QQuickStyle::setStyle(QStringLiteral("Fusion"));

#ifdef TACTIMO_HAVE_SYSTEM_MIDI
    ClockStore store(tactimo::makeSystemMidiService());
#else
    ClockStore store(std::make_unique<tactimo::FakeMidiService>(std::make_shared<tactimo::FakeMidiBus>()));
#endif
    QQmlApplicationEngine engine;
    if (!openMainWindow(engine, store)) return 1;
    return QGuiApplication::exec();
}
