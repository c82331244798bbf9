#include "MainWindow.h"
#include "ProbeStore.h"

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

// The footer's notice in the real window, as MIDI services go and come back.
class ListeningNoticeTest : public QObject {
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
        QVERIFY(QDir().mkpath(TACTIMO_SCREENSHOT_DIR) &&
                window_->grabWindow().save(TACTIMO_SCREENSHOT_DIR "/no-midi-service.png"));

        store_->bus().setReachable(true);
        store_->bus().announceSetupChange();
        QTRY_COMPARE(reachable.count(), 2);
        QCOMPARE(text(), listening);
    }
};

QTEST_MAIN(ListeningNoticeTest)
#include "ListeningNoticeTest.moc"
