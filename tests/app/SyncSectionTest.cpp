#include "MainWindow.h"
#include "ProbeStore.h"

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(TactimoPlugin)

// The real window's Sync section on two clocks started together, the followed
// one 7.8 ms late with ±0.3 ms of jitter (+ - - +): the comparison reaches the
// figures and the History's offset lane; the picker offers every other input.
class SyncSectionTest : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir_;

    QStringList texts(QQuickWindow* window, const QString& name) {
        QStringList found;
        QList<QQuickItem*> next{window->contentItem()};
        while (!next.isEmpty()) {
            QQuickItem* item = next.takeFirst();
            if (item->objectName() == name) found << item->property("text").toString();
            next << item->childItems();
        }
        return found;
    }

private slots:
    void comparesTwoClocks() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
        ProbeStore store;
        QQmlApplicationEngine engine;
        QQuickWindow* window = openMainWindow(engine, store);
        QVERIFY(window && QTest::qWaitForWindowExposed(window));

        const auto daw = store.plug(QStringLiteral("DAW"));
        const auto drum = store.plug(QStringLiteral("Drum Machine"));
        QTRY_COMPARE(store.sourceList().size(), size_t(3));
        store.setSelection(QStringLiteral("Drum Machine"));
        store.setHistoryOpen(true);
        store.sync()->setOpen(true);
        store.sync()->setReference(QStringLiteral("DAW"));
        QStringList references;
        for (auto* model = store.sync()->references(); references.size() < model->rowCount();)
            references << model->data(model->index(references.size()), InputListModel::LabelRole).toString();
        QCOMPARE(references, (QStringList{"None", "DAW", "Virtual port", "Link session"}));

        // 16 s at 120 BPM from a Start, refreshed and copied as the timers would.
        const double start = 10, late = 0.0078, jitter = 0.0003;
        double nextRefresh = start, nextCopy = start;
        for (int k = -1; k < 24 * 32; ++k) {
            const double t = start + k / 48.0, sent = t + late + jitter;
            while (nextRefresh <= sent || nextCopy <= sent) {
                store.setNow(tactimo::test::ns(std::min(nextRefresh, nextCopy)));
                if (nextRefresh <= nextCopy) store.refresh(), nextRefresh += 1 / 30.0;
                else store.historyFollower().poll(), nextCopy += 0.25;
            }
            store.setNow(tactimo::test::ns(sent));
            const std::vector<std::uint8_t> byte{static_cast<std::uint8_t>(k < 0 ? 0xFA : 0xF8)};
            store.bus().send(static_cast<tactimo::SourceKey>(daw), byte, tactimo::test::ns(t));
            store.bus().send(static_cast<tactimo::SourceKey>(drum), byte,
                             tactimo::test::ns(t + late + (k % 4 == 0 || k % 4 == 3 ? jitter : -jitter)));
        }
        store.setNow(tactimo::test::ns(start + 16.02));
        store.update();
        QTest::qWait(250);

        QCOMPARE(texts(window, "syncFigureValue"),
                 (QStringList{"120.00 BPM", "0.00 BPM \u00b7 0 ppm", "+7.80 ms \u00b10.30 ms", "0.00 ms per minute"}));
        QCOMPARE(texts(window, "syncNotice"), QStringList{"The beats fall 7.80 ms after the reference's."});
        QVERIFY(store.history()->offsetCount() > 400);
        QCOMPARE(store.storedSetting(Settings::referenceKey).toString(), "DAW");

        QVERIFY(QDir().mkpath(TACTIMO_SCREENSHOT_DIR));
        QVERIFY(window->grabWindow().save(TACTIMO_SCREENSHOT_DIR "/sync.png"));
    }
};

QTEST_MAIN(SyncSectionTest)
#include "SyncSectionTest.moc"
