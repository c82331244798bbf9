#include "MainWindow.h"
#include "ProbeStore.h"

#include <QDir>
#include <QPalette>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

// The real window as the program opens it, in the states that the README
// shows, each saved as a PNG to TACTIMO_SCREENSHOT_DIR.
class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void screenshots() {
        QTemporaryDir settings;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
        ProbeStore store;
        QQmlApplicationEngine engine; // goes before the store it reads
        QQuickWindow* window = openMainWindow(engine, store);
        QVERIFY(window && QTest::qWaitForWindowExposed(window));
        QVERIFY(QDir().mkpath(TACTIMO_SCREENSHOT_DIR));
        const auto save = [&](const QString& name) {
            QTest::qWait(250); // lets the digit roll finish
            return window->grabWindow().save(TACTIMO_SCREENSHOT_DIR "/" + name + ".png");
        };
        // Its width is fixed, its height follows the content, and no field is being edited.
        QCOMPARE(QList<int>({window->minimumWidth(), window->maximumWidth()}), QList<int>({420, 420}));
        QCOMPARE(window->minimumHeight(), window->maximumHeight());
        QCoreApplication::processEvents(); // the posted focus clearing
        QVERIFY(!window->activeFocusItem() || !window->activeFocusItem()->inherits("QQuickTextInput"));

        // Without a MIDI service the footer says so, in full on one line, until one is back.
        auto* notice = window->findChild<QQuickItem*>("listeningNotice");
        const auto text = [&] { return notice->property("text").toString(); };
        const QString listening = text();
        const std::string_view none = tactimo::StatusText::serviceNotice(false);
        store.bus().setReachable(false);
        store.bus().announceSetupChange();
        QTRY_COMPARE(text(), QString::fromUtf8(none.data(), qsizetype(none.size())));
        QTRY_VERIFY(!notice->property("truncated").toBool()); // once laid out anew
        QCOMPARE(notice->property("lineCount").toInt(), 1);
        QVERIFY(save("no-midi-service"));
        store.bus().setReachable(true);
        store.bus().announceSetupChange();
        QTRY_COMPARE(text(), listening);

        const QVariantMap playing{{"state", ClockState::Playing},
                                  {"receiving", true},
                                  {"settled", true},
                                  {"bpm", 120.0},
                                  {"exactBPM", 120.02},
                                  {"jitter", 0.37},
                                  {"position", 24 * 8 + 24},
                                  {"sourceName", "Drum Machine"}};
        QVariantMap stopped = playing, warning = playing;
        stopped.insert("state", ClockState::Stopped);
        warning.insert("otherSources", QStringList{"Sequencer", "Virtual port"});
        const std::tuple<QString, QVariantMap> shots[] = {{"default", {{"state", ClockState::Waiting}}},
                                                          {"playing", playing},
                                                          {"stopped", stopped},
                                                          {"warning", warning},
                                                          {"playing-dark", playing}};
        for (const auto& [name, status] : shots) {
            // The window follows a dark desktop palette (derived from one dark button colour).
            const bool dark = name.endsWith("-dark");
            QGuiApplication::setPalette(dark ? QPalette(QColor(0x26, 0x28, 0x2c)) : QPalette());
            store.show(status);
            QVERIFY(save(name));
            const QImage image = window->grabWindow();
            QCOMPARE(qGray(image.pixel(5, image.height() / 2)) < 80, dark);
        }

        // The history open on a clock that starts, runs at 120 BPM with 1 ms
        // of jitter and steps to 128 BPM: the window still fits on a screen.
        QGuiApplication::setPalette(QPalette());
        const int key = store.plug("Drum Machine");
        QTRY_COMPARE(store.sourceList().size(), size_t(2));
        store.setHistoryOpen(true);
        store.sendBytes(key, {0xFA});
        store.clockRun(key, 120, 48 * 25, 1.0, true);
        store.clockRun(key, 128, 24 * 128 / 60 * 30, 1.0, true);
        store.update();
        QVERIFY(save("history"));
        QVERIFY(window->height() <= window->screen()->availableGeometry().height());
        QCOMPARE(store.history()->markKinds(), (QStringList{"start", "tempoChange"}));
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
