#include "MainWindow.h"
#include "ProbeStore.h"

#include <QDir>
#include <QPalette>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

// The real window as the program opens it; also writes PNG screenshots of its
// main states to TACTIMO_SCREENSHOT_DIR.
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
        QCOMPARE(QStringList({window_->title(), window_->objectName()}), QStringList({"Tactimo", "main"}));
        QCOMPARE(QList<int>({window_->width(), window_->minimumWidth(), window_->maximumWidth()}), QList<int>({420, 420, 420}));
        QCOMPARE(window_->minimumHeight(), window_->maximumHeight());
        QCoreApplication::processEvents(); // the posted focus clearing
        QQuickItem* focused = window_->activeFocusItem();
        QVERIFY(!focused || !focused->inherits("QQuickTextInput"));
    }

    void screenshots_data() {
        QTest::addColumn<QVariantMap>("status");
        QTest::addColumn<bool>("dark");
        const QVariantMap playing{{"state", "playing"}, {"receiving", true}, {"settled", true}, {"bpm", 120.0},
                                  {"exactBPM", 120.02}, {"jitter", 0.37}, {"position", 24 * 8 + 24},
                                  {"sourceName", "Drum Machine"}};
        QVariantMap stopped = playing, warning = playing;
        stopped.insert("state", "stopped");
        warning.insert("otherSources", QStringList{"Sequencer", "Virtual port"});
        QTest::newRow("default") << QVariantMap{{"state", "waiting"}} << false;
        QTest::newRow("playing") << playing << false;
        QTest::newRow("stopped") << stopped << false;
        QTest::newRow("warning") << warning << false;
        QTest::newRow("playing-dark") << playing << true;
    }

    void screenshots() {
        QFETCH(QVariantMap, status);
        QFETCH(bool, dark);
        QPalette palette;
        if (dark) { // the window follows a dark desktop palette
            for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button}) palette.setColor(role, QColor(0x26, 0x28, 0x2c));
            for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) palette.setColor(role, QColor(0xe8, 0xea, 0xed));
        }
        QGuiApplication::setPalette(palette);
        store_->show(status);
        QTest::qWait(250); // lets the digit roll finish
        const QImage image = window_->grabWindow();
        QCOMPARE(image.width(), 420 * qRound(window_->devicePixelRatio()));
        QCOMPARE(qGray(image.pixel(5, image.height() / 2)) < 80, dark);
        const QString dir = QStringLiteral(TACTIMO_SCREENSHOT_DIR);
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(image.save(dir + QLatin1Char('/') + QTest::currentDataTag() + QStringLiteral(".png")));
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
