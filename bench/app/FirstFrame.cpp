// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Opens the real window exactly as the program does (system MIDI service,
// same QML) and prints the wall-clock time of the first frame on screen in
// nanoseconds since the epoch, then quits. The benchmark script subtracts its
// own launch time. The program itself prints nothing, hence this harness.
#include "ClockStore.h"
#include "MainWindow.h"
#include "Settings.h"
#include "midi/SystemMidiService.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>
#include <ctime>

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(Settings::organization);
    QGuiApplication::setApplicationName(Settings::application);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));

    ClockStore store(tactimo::makeSystemMidiService());
    QQmlApplicationEngine engine;
    QQuickWindow* window = openMainWindow(engine, store);
    if (!window) return 1;
    QObject::connect(
        window, &QQuickWindow::frameSwapped, &app,
        [] {
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            std::printf("%lld\n", static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec);
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QGuiApplication::quit);
        },
        Qt::SingleShotConnection);
    return QGuiApplication::exec();
}
