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
        QCOMPARE(QList<int>({window_->width(), window_->minimumWidth(), window_->maximumWidth()}),
                 QList<int>({420, 420, 420}));
        QCOMPARE(window_->minimumHeight(), window_->maximumHeight());
        QCoreApplication::processEvents(); // the posted focus clearing
        QVERIFY(!window_->activeFocusItem() || !window_->activeFocusItem()->inherits("QQuickTextInput"));
    }

    void screenshots_data() {
        QTest::addColumn<QVariantMap>("status");
        const QVariantMap playing{
            {"state", "playing"}, {"receiving", true}, {"settled", true},         {"bpm", 120.0},
            {"exactBPM", 120.02}, {"jitter", 0.37},    {"position", 24 * 8 + 24}, {"sourceName", "Drum Machine"}};
        const auto with = [&playing](const char* key, const QVariant& value) {
            auto s = playing;
            s.insert(key, value);
            return s;
        };
        QTest::newRow("default") << QVariantMap{{"state", "waiting"}};
        QTest::newRow("playing") << playing;
        QTest::newRow("stopped") << with("state", "stopped");
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
        QVERIFY(QDir().mkpath(TACTIMO_SCREENSHOT_DIR) &&
                image.save(TACTIMO_SCREENSHOT_DIR "/" + QString(QTest::currentDataTag()) + ".png"));
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
