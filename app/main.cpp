// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockStore.h"
#include "MainWindow.h"
#include "Settings.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>
#include <string_view>

#include "core/Version.h"
#include "midi/SystemMidiService.h"

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

namespace {

constexpr const char* usage = "Usage: tactimo [--help] [--version] [Qt's options, such as -platform NAME]\n"
                              "Opens a window that shows the tempo, transport and song position of the MIDI\n"
                              "clock that reaches this machine.\n"
                              "\n"
                              "  --help     print this help and exit\n"
                              "  --version  print the version and exit\n";

} // namespace

int main(int argc, char* argv[]) {
    // Answered before Qt starts, so that they need no display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::puts(tactimo::versionNotice("tactimo").c_str());
            return 0;
        }
    }

    QGuiApplication app(argc, argv);
    // Qt has taken its own options out of argv; whatever is left is a mistake.
    if (argc > 1) {
        QString shown = QString::fromLocal8Bit(argv[1]).left(64);
        for (QChar& c : shown)
            if (!c.isPrint()) c = QChar::ReplacementCharacter;
        std::fprintf(stderr, "tactimo: unknown option \"%s\" (see --help)\n", qPrintable(shown));
        return 2;
    }
    QGuiApplication::setOrganizationName(Settings::organization);
    QGuiApplication::setApplicationName(Settings::application);
    QGuiApplication::setDesktopFileName(QStringLiteral("tactimo"));
    QQuickStyle::setStyle(QStringLiteral("Fusion"));

    ClockStore store(tactimo::makeSystemMidiService());
    QQmlApplicationEngine engine;
    if (!openMainWindow(engine, store)) return 1;
    return QGuiApplication::exec();
}
