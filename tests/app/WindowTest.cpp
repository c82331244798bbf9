#include "MainWindow.h"
#include "ProbeStore.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPalette>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

using tactimo::ClockStatus;

// The real window as the program opens it; also writes screenshots of its
// main states to TACTIMO_SCREENSHOT_DIR.
class WindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir_;
    std::unique_ptr<ProbeStore> store_;
    std::unique_ptr<QQmlApplicationEngine> engine_;
    QQuickWindow* window_ = nullptr;

    void shoot(const QString& name) {
        QCoreApplication::processEvents();
        QTest::qWait(250); // lets the digit roll finish
        const QImage image = window_->grabWindow();
        QCOMPARE(image.width(), 420 * qRound(window_->devicePixelRatio()));
        QVERIFY(image.height() > 300);
        const QString dir = QStringLiteral(TACTIMO_SCREENSHOT_DIR);
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png")));
    }

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        store_ = std::make_unique<ProbeStore>();
        store_->bus().addSource("Drum Machine");
        store_->bus().addSource("Sequencer");
        store_->bus().announceSetupChange();
        QTRY_COMPARE(store_->sourceList().size(), size_t(3));
        engine_ = std::make_unique<QQmlApplicationEngine>();
        window_ = openMainWindow(*engine_, *store_);
        QVERIFY(window_);
        QVERIFY(QTest::qWaitForWindowExposed(window_));
    }

    void cleanupTestCase() {
        engine_.reset();
        store_.reset();
    }

    void opensFixedWidthWithoutEditing() {
        QCOMPARE(window_->title(), QStringLiteral("Tactimo"));
        QCOMPARE(window_->objectName(), QStringLiteral("main"));
        QCOMPARE(window_->width(), 420);
        QCOMPARE(window_->minimumWidth(), 420);
        QCOMPARE(window_->maximumWidth(), 420);
        QCOMPARE(window_->minimumHeight(), window_->maximumHeight());
        QCOMPARE(window_->height(), window_->maximumHeight());
        // The focus clearing is posted once; afterwards no text field edits.
        QCoreApplication::processEvents();
        QQuickItem* focused = window_->activeFocusItem();
        QVERIFY(!focused || !focused->inherits("QQuickTextInput"));
    }

    void screenshots() {
        shoot(QStringLiteral("default"));

        ClockStatus playing;
        playing.state = ClockStatus::State::playing;
        playing.receiving = true;
        playing.bpm = 120.0;
        playing.exactBPM = 120.02;
        playing.settled = true;
        playing.jitter = 0.37;
        playing.position = 24 * 4 * 2 + 24; // bar 3, beat 2
        playing.pulse = true;
        playing.sourceName = "Drum Machine";
        store_->show(playing);
        shoot(QStringLiteral("playing"));

        ClockStatus stopped = playing;
        stopped.state = ClockStatus::State::stopped;
        stopped.pulse = false;
        store_->show(stopped);
        shoot(QStringLiteral("stopped"));

        ClockStatus warning = playing;
        warning.state = ClockStatus::State::running;
        warning.position.reset();
        warning.otherSources = {"Sequencer", "Virtual port"};
        store_->show(warning);
        shoot(QStringLiteral("warning"));

        // A dark desktop palette: the labels follow it.
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(0x26, 0x28, 0x2c));
        dark.setColor(QPalette::WindowText, QColor(0xe8, 0xea, 0xed));
        dark.setColor(QPalette::Base, QColor(0x1c, 0x1d, 0x20));
        dark.setColor(QPalette::Text, QColor(0xe8, 0xea, 0xed));
        dark.setColor(QPalette::Button, QColor(0x33, 0x36, 0x3b));
        dark.setColor(QPalette::ButtonText, QColor(0xe8, 0xea, 0xed));
        QGuiApplication::setPalette(dark);
        store_->show(playing);
        shoot(QStringLiteral("playing-dark"));
        const QImage image = window_->grabWindow();
        QVERIFY(qGray(image.pixel(5, image.height() / 2)) < 80); // dark background
        QGuiApplication::setPalette(QPalette());
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
