#include "MainWindow.h"
#include "ProbeStore.h"

#include <QDir>
#include <QPalette>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

namespace {

constexpr std::uint64_t second = 1'000'000'000;

// A web server on 127.0.0.1 that only notes the path of every request.
class RequestLog : public QObject {
public:
    RequestLog() {
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                paths << QStringLiteral("(connected, no request yet)");
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QList<QByteArray> line = socket->readLine().split(' ');
                    if (line.size() > 1) paths.last() = QString::fromLatin1(line[1]);
                    socket->write("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
                    socket->disconnectFromHost();
                });
            }
        });
        server_.listen(QHostAddress::LocalHost);
    }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }
    QStringList paths;

private:
    QTcpServer server_;
};

// The real window on a store of its own.
struct Window {
    ProbeStore store;
    QQmlApplicationEngine engine; // goes before the store it reads
    QQuickWindow* window = openMainWindow(engine, store);

    // Items by name in what the window draws, popups included.
    QList<QQuickItem*> items(const char* name) const {
        QList<QQuickItem*> found, next{window->contentItem()};
        while (!next.isEmpty()) {
            QQuickItem* item = next.takeFirst();
            if (item->objectName() == QLatin1String(name)) found << item;
            next << item->childItems();
        }
        return found;
    }
    QQuickItem* item(const char* name) const {
        const QList<QQuickItem*> found = items(name);
        if (found.size() != 1) qFatal("%lld items %s", qsizetype(found.size()), name);
        return found.constFirst();
    }
    QString text(const char* name) const { return item(name)->property("text").toString(); }
    // Lays the window out and draws it, as the next frame would.
    void settle() const { window->grabWindow(); }
};

// Whether a text item lays out its text as the characters it holds: a plain
// text of the same font and characters takes the same width, while markup
// would have been turned into bold words, links or an image.
bool laidOutAsWritten(const QQuickItem* text, QQmlEngine& engine) {
    QQmlComponent plain(&engine);
    plain.setData("import QtQuick\nText { textFormat: Text.PlainText }", {});
    std::unique_ptr<QObject> reference(plain.create());
    reference->setProperty("font", text->property("font"));
    reference->setProperty("text", text->property("text"));
    const double expected = reference->property("implicitWidth").toDouble();
    const double padding = text->property("leftPadding").toDouble() + text->property("rightPadding").toDouble();
    return qAbs(text->implicitWidth() - padding - expected) < 0.5;
}

} // namespace

// The real window as the program opens it; also writes PNG screenshots of its
// main states to TACTIMO_SCREENSHOT_DIR. The screenshots come before the cases
// that open windows of their own, which would leave the shared glyph cache
// in another state and change the anti-aliasing of the big digits.
class WindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir_;
    std::unique_ptr<ProbeStore> store_;
    std::unique_ptr<QQmlApplicationEngine> engine_; // goes before the store it reads
    QQuickWindow* window_ = nullptr;

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        store_ = std::make_unique<ProbeStore>();
        engine_ = std::make_unique<QQmlApplicationEngine>();
        window_ = openMainWindow(*engine_, *store_);
        QVERIFY(window_ && QTest::qWaitForWindowExposed(window_));
    }

    void opensFixedWidthWithoutEditing() {
        QCOMPARE(window_->width(), 420);
        QCOMPARE(window_->minimumWidth(), window_->width());
        QCOMPARE(window_->maximumWidth(), window_->width());
        QCOMPARE(window_->minimumHeight(), window_->maximumHeight());
        QCoreApplication::processEvents(); // the posted focus clearing
        QVERIFY(!window_->activeFocusItem() || !window_->activeFocusItem()->inherits("QQuickTextInput"));
    }

    // The footer's notice as MIDI services go and come back.
    void followsWhetherAServiceIsReachable() {
        auto* notice = window_->findChild<QQuickItem*>("listeningNotice");
        QVERIFY(notice);
        const auto text = [&] { return notice->property("text").toString(); };
        const QString listening = text();
        QSignalSpy reachable(store_.get(), &ClockStore::serviceReachableChanged);
        QSignalSpy sources(store_.get(), &ClockStore::sourcesChanged);
        QVERIFY(store_->serviceReachable());

        // A set-up change that leaves a service reachable says nothing of it.
        store_->bus().announceSetupChange();
        QTRY_COMPARE(sources.count(), 1);
        QCOMPARE(reachable.count(), 0);

        store_->bus().setReachable(false);
        store_->bus().announceSetupChange();
        QTRY_COMPARE(reachable.count(), 1);
        QVERIFY(!store_->serviceReachable());
        QVERIFY(text() != listening);
        // Said in full on one line at the window's width.
        QTRY_VERIFY(!notice->property("truncated").toBool()); // once laid out anew
        QCOMPARE(notice->property("lineCount").toInt(), 1);
        QVERIFY(QDir().mkpath(TACTIMO_SCREENSHOT_DIR));
        QVERIFY(window_->grabWindow().save(TACTIMO_SCREENSHOT_DIR "/no-midi-service.png"));

        store_->bus().setReachable(true);
        store_->bus().announceSetupChange();
        QTRY_COMPARE(reachable.count(), 2);
        QCOMPARE(text(), listening);
    }

    void screenshots_data() {
        QTest::addColumn<QVariantMap>("status");
        const QVariantMap playing{{"state", ClockState::Playing},
                                  {"receiving", true},
                                  {"settled", true},
                                  {"bpm", 120.0},
                                  {"exactBPM", 120.02},
                                  {"jitter", 0.37},
                                  {"position", 24 * 8 + 24},
                                  {"sourceName", "Drum Machine"}};
        const auto with = [&playing](const char* key, const QVariant& value) {
            auto s = playing;
            s.insert(key, value);
            return s;
        };
        QTest::newRow("default") << QVariantMap{{"state", ClockState::Waiting}};
        QTest::newRow("playing") << playing;
        QTest::newRow("stopped") << with("state", ClockState::Stopped);
        QTest::newRow("warning") << with("otherSources", QStringList{"Sequencer", "Virtual port"});
        QTest::newRow("playing-dark") << playing;
    }

    void screenshots() {
        QFETCH(QVariantMap, status);
        const bool dark = QByteArray(QTest::currentDataTag()).endsWith("-dark");
        // The window follows a dark desktop palette (derived from one dark button colour).
        QGuiApplication::setPalette(dark ? QPalette(QColor(0x26, 0x28, 0x2c)) : QPalette());
        store_->show(status);
        QTest::qWait(250); // lets the digit roll finish
        const QImage image = window_->grabWindow();
        QCOMPARE(image.width(), 420 * qRound(window_->devicePixelRatio()));
        QCOMPARE(qGray(image.pixel(5, image.height() / 2)) < 80, dark);
        QVERIFY(QDir().mkpath(TACTIMO_SCREENSHOT_DIR));
        QVERIFY(image.save(TACTIMO_SCREENSHOT_DIR "/" + QString(QTest::currentDataTag()) + ".png"));
    }

    // The history open on a clock that starts, runs at 120 BPM with 1 ms of
    // jitter and steps to 128 BPM: the graph drawn, and the window still fits
    // on a screen.
    void historyScreenshot() {
        QGuiApplication::setPalette(QPalette());
        store_->setSelection({});
        const auto key = store_->plug(QStringLiteral("Drum Machine"));
        QTRY_COMPARE(store_->sourceList().size(), size_t(2));
        store_->setHistoryOpen(true);
        store_->sendBytes(key, {0xFA});
        store_->clockRun(key, 120, 48 * 25, 1.0, true);
        store_->clockRun(key, 128, 24 * 128 / 60 * 30, 1.0, true);
        store_->update();
        QTest::qWait(250);
        const QImage image = window_->grabWindow();
        QVERIFY(window_->height() <= window_->screen()->availableGeometry().height());
        QCOMPARE(store_->history()->markKinds(), (QStringList{"start", "tempoChange"}));
        QVERIFY(QDir().mkpath(TACTIMO_SCREENSHOT_DIR));
        QVERIFY(image.save(TACTIMO_SCREENSHOT_DIR "/history.png"));
        store_->setHistoryOpen(false); // the cases below open windows of their own on these settings
    }

    // Names come from any program on the machine (a JACK client may even set
    // another's port name). Markup in them is shown as written: it fetches
    // nothing, styles nothing and links nowhere.
    void namesAreShownAsWritten() {
        RequestLog web;
        const QString image = QStringLiteral("<img src=\"%1\">").arg(web.url("/image.png"));
        const QString styled = QStringLiteral("<b>Bold</b> <font color=\"red\">Red</font> Fish &amp; Chips");
        const QString link = QStringLiteral("<a href=\"%1\">Link</a>").arg(web.url("/link"));
        const QString chosen = QStringLiteral("<img src=\"%1\"><i>Keys</i>").arg(web.url("/chosen.png"));

        Window w;
        QVERIFY(w.window && QTest::qWaitForWindowExposed(w.window));
        const auto followed = w.store.plug(image);
        const auto other = w.store.plug(styled);
        const auto third = w.store.plug(link);
        QTRY_COMPARE(w.store.sourceList().size(), size_t(4));
        w.store.sendClock(other, 100 * second - 2);
        w.store.sendClock(third, 100 * second - 1);
        w.store.sendClock(followed, 100 * second); // newest: followed; the others are named in the warning
        w.store.refresh();

        QCOMPARE(w.text("sourceName"), "from " + image);
        QCOMPARE(w.text("warningText"), // in code-point order: '<a' before '<b'
                 "Also receiving clock from " + link + ", " + styled + ". Choose an input to follow that one.");
        for (const char* name : {"sourceName", "warningText"}) QVERIFY2(laidOutAsWritten(w.item(name), w.engine), name);

        w.store.setSelection(chosen); // not connected: named in the hint and the picker
        QTRY_COMPARE(w.text("inputField"), chosen + " (not connected)");
        QCOMPARE(w.text("hint"), "Send MIDI clock to " + chosen + ".");
        for (const char* name : {"inputField", "hint"}) QVERIFY2(laidOutAsWritten(w.item(name), w.engine), name);

        auto* combo = w.item("inputCombo");
        QMetaObject::invokeMethod(combo->property("popup").value<QObject*>(), "open");
        const auto rows = [&] {
            QStringList shown;
            for (const QQuickItem* row : w.items("inputRow"))
                shown << (laidOutAsWritten(row, w.engine) ? "" : "(markup) ") + row->property("text").toString();
            shown.sort();
            return shown;
        };
        QTRY_COMPARE(rows().size(), 6);
        w.settle();
        QStringList expected{"All inputs", image, styled, link, "Virtual port", chosen + " (not connected)"};
        expected.sort();
        QCOMPARE(rows(), expected);

        // A text that is meant to be rich fetches its image from the same
        // server; once it has, a name's image would have been fetched too.
        QQmlComponent rich(&w.engine);
        rich.setData(QStringLiteral("import QtQuick\nText { textFormat: Text.RichText; text: '<img src=\"%1\">' }")
                         .arg(web.url("/control.png"))
                         .toUtf8(),
                     {});
        std::unique_ptr<QObject> control(rich.create());
        QTRY_VERIFY(web.paths.contains("/control.png"));
        web.paths.removeAll("/control.png");
        QCOMPARE(web.paths, QStringList());
    }

    // Ten thousand characters of name or selection do not make the window
    // taller than a screen: the single lines are cut in the middle, the
    // guidance after a few lines.
    void longNamesKeepTheWindowOnScreen() {
        const QString longName = QStringLiteral("Very long name ").repeated(667).left(10'000);
        Window w;
        QVERIFY(w.window && QTest::qWaitForWindowExposed(w.window));
        w.store.setSelection({}); // all inputs, whatever an earlier case left in the settings
        const auto followed = w.store.plug(longName + " A");
        const auto other = w.store.plug(longName + " B");
        QTRY_COMPARE(w.store.sourceList().size(), size_t(3));
        w.store.sendClock(other, 100 * second - 1);
        w.store.sendClock(followed, 100 * second);
        w.store.refresh();
        w.settle();
        QVERIFY(w.item("warningText")->isVisible());
        const int screen = w.window->screen()->availableGeometry().height();
        QVERIFY2(w.window->height() <= screen, qPrintable(QString::number(w.window->height())));

        QCOMPARE(w.item("sourceName")->property("lineCount").toInt(), 1);
        QVERIFY(w.item("sourceName")->property("truncated").toBool());
        QVERIFY(w.item("warningText")->property("lineCount").toInt() <= 3);
        QVERIFY(w.item("warningText")->property("truncated").toBool());

        w.store.setSelection(longName + " C");
        w.settle();
        QVERIFY(w.item("hint")->isVisible());
        QVERIFY2(w.window->height() <= screen, qPrintable(QString::number(w.window->height())));
        QVERIFY(w.item("hint")->property("lineCount").toInt() <= 3);
        QVERIFY(w.item("hint")->property("truncated").toBool());
        QCOMPARE(w.item("inputField")->property("lineCount").toInt(), 1);
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
