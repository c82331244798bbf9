#include "ProbeStore.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using tactimo::ClockStatus;

namespace {

constexpr std::uint64_t second = 1'000'000'000;

QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tactimo"), QStringLiteral("Tactimo"));
}

// 120 BPM: one clock every 1/48 s, the last one at `end`.
void sendTicks(ProbeStore& store, tactimo::SourceKey key, int count, std::uint64_t end) {
    const std::uint64_t interval = second / 48;
    for (int i = 0; i < count; ++i)
        store.bus().send(key, {0xF8}, end - static_cast<std::uint64_t>(count - 1 - i) * interval);
}

} // namespace

class ClockStoreTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;

    QString settingsFile() const { return dir_->path() + QStringLiteral("/Tactimo/Tactimo.conf"); }

private slots:
    void init() {
        // A throw-away settings location for every case.
        dir_ = std::make_unique<QTemporaryDir>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_->path());
    }

    void storedValuesInAndOutOfRange_data() {
        QTest::addColumn<QVariant>("numerator");
        QTest::addColumn<QVariant>("denominator");
        QTest::addColumn<qint64>("wantNumerator");
        QTest::addColumn<qint64>("wantDenominator");
        QTest::newRow("absent") << QVariant() << QVariant() << qint64(4) << qint64(4);
        QTest::newRow("lowest") << QVariant(1) << QVariant(1) << qint64(1) << qint64(1);
        QTest::newRow("highest") << QVariant(99) << QVariant(16) << qint64(99) << qint64(16);
        QTest::newRow("7/8") << QVariant(7) << QVariant(8) << qint64(7) << qint64(8);
        QTest::newRow("2/2") << QVariant(2) << QVariant(2) << qint64(2) << qint64(2);
        QTest::newRow("zero") << QVariant(0) << QVariant(0) << qint64(4) << qint64(4);
        QTest::newRow("too large") << QVariant(100) << QVariant(32) << qint64(4) << qint64(4);
        QTest::newRow("negative / not a power") << QVariant(-3) << QVariant(3) << qint64(4) << qint64(4);
        QTest::newRow("text") << QVariant("abc") << QVariant("4.5") << qint64(4) << qint64(4);
        QTest::newRow("overflow") << QVariant("99999999999999999999") << QVariant("-99999999999999999999")
                                  << qint64(4) << qint64(4);
        QTest::newRow("list") << QVariant(QStringList{"3", "4"}) << QVariant(QStringList{"8"}) << qint64(4)
                              << qint64(4);
    }

    void storedValuesInAndOutOfRange() {
        QFETCH(QVariant, numerator);
        QFETCH(QVariant, denominator);
        QFETCH(qint64, wantNumerator);
        QFETCH(qint64, wantDenominator);
        {
            QSettings s = settings();
            if (numerator.isValid()) s.setValue(QStringLiteral("numerator"), numerator);
            if (denominator.isValid()) s.setValue(QStringLiteral("denominator"), denominator);
        }
        QFile file(settingsFile());
        const QByteArray before = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        file.close();

        ProbeStore store;
        QCOMPARE(store.numerator(), wantNumerator);
        QCOMPARE(store.denominator(), wantDenominator);
        QCOMPARE(store.selection(), QString());
        QCOMPARE(store.missingSelection(), false);
        QVERIFY(store.currentStatus() == ClockStatus{});

        // Construction reads and never writes.
        const QByteArray after = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        QCOMPARE(after, before);
        QCOMPARE(QFile::exists(settingsFile()), numerator.isValid() || denominator.isValid());
    }

    void brokenSettingsFileFallsBack() {
        QVERIFY(QDir().mkpath(dir_->path() + QStringLiteral("/Tactimo")));
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        // Invalid UTF-8 in the name, a value of no known type, and noise.
        file.write("\xff\xfe[[[\n[General]\nselection=Caf\xc3\xa9 \xff\nnumerator=@Variant(\\0\\0\\0\\x7f)\n"
                   "denominator=@Invalid()\n=====\n\x00\x01garbage\n");
        file.close();

        ProbeStore store;
        QCOMPARE(store.numerator(), qint64(4));
        QCOMPARE(store.denominator(), qint64(4));
        QCOMPARE(store.selection(), QStringLiteral("Café \uFFFD"));
    }

    void storedSelectionIsCanonical() {
        settings().setValue(QStringLiteral("selection"), QStringLiteral("Cafe\u0301 Keys"));
        ProbeStore store;
        QCOMPARE(store.selection(), QStringLiteral("Caf\u00e9 Keys"));
        // The stored text itself is left alone until the user chooses again.
        QCOMPARE(settings().value(QStringLiteral("selection")).toString(), QStringLiteral("Cafe\u0301 Keys"));
    }

    void assigningWritesAndNotifiesEveryTime() {
        ProbeStore store;
        store.stopRefreshing();
        const auto key = store.bus().addSource("Drum Machine");
        store.bus().announceSetupChange();
        QTRY_COMPARE(store.sources().size(), 2);

        // Follow a clock so that the status is not the default one.
        store.setNow(1000 * second);
        sendTicks(store, key, 30, 1000 * second);
        store.refresh();
        QCOMPARE(store.currentStatus().state, ClockStatus::State::running);
        QCOMPARE(store.currentStatus().bpm, std::optional<double>(120.0));

        QSignalSpy selectionSpy(&store, &ClockStore::selectionChanged);
        QSignalSpy statusSpy(&store, &ClockStore::statusChanged);
        QSignalSpy numeratorSpy(&store, &ClockStore::numeratorChanged);
        QSignalSpy denominatorSpy(&store, &ClockStore::denominatorChanged);

        // The current selection again: written, followed source cleared, status reset.
        store.setSelection(QString());
        QCOMPARE(selectionSpy.count(), 1);
        QCOMPARE(statusSpy.count(), 1);
        QVERIFY(store.currentStatus() == ClockStatus{});
        QVERIFY(settings().contains(QStringLiteral("selection")));
        QCOMPARE(settings().value(QStringLiteral("selection")).toString(), QString());

        // The next refresh derives the status again.
        store.refresh();
        QCOMPARE(store.currentStatus().state, ClockStatus::State::running);
        QCOMPARE(store.currentStatus().sourceName, std::optional<std::string>("Drum Machine"));

        // A refresh that derives the same status publishes nothing.
        statusSpy.clear();
        store.refresh();
        QCOMPARE(statusSpy.count(), 0);

        store.setSelection(QStringLiteral("Drum Machine"));
        QCOMPARE(settings().value(QStringLiteral("selection")).toString(), QStringLiteral("Drum Machine"));
        QCOMPARE(store.missingSelection(), false);

        // The store neither validates nor clamps; equal values still notify.
        store.setNumerator(150);
        store.setNumerator(150);
        store.setDenominator(3);
        QCOMPARE(numeratorSpy.count(), 2);
        QCOMPARE(denominatorSpy.count(), 1);
        QCOMPARE(settings().value(QStringLiteral("numerator")).toLongLong(), 150);
        QCOMPARE(settings().value(QStringLiteral("denominator")).toLongLong(), 3);

        // What was written comes back at the next start, within range.
        store.setNumerator(7);
        store.setDenominator(8);
        ProbeStore next;
        QCOMPARE(next.selection(), QStringLiteral("Drum Machine"));
        QCOMPARE(next.numerator(), qint64(7));
        QCOMPARE(next.denominator(), qint64(8));
    }

    void selectionUnpluggedAndPluggedAgain() {
        settings().setValue(QStringLiteral("selection"), QStringLiteral("Keys"));
        ProbeStore store;
        store.stopRefreshing();
        QCOMPARE(store.missingSelection(), true);

        const auto first = store.bus().addSource("Keys");
        QSignalSpy sourcesSpy(&store, &ClockStore::sourcesChanged);
        store.bus().announceSetupChange();
        QTRY_COMPARE(sourcesSpy.count(), 1);
        QCOMPARE(store.missingSelection(), false);
        QCOMPARE(store.sourceList().front().name, "Keys");
        QCOMPARE(store.sourceList().back().name, "Virtual port");

        store.bus().removeSource(first);
        store.bus().announceSetupChange();
        QTRY_COMPARE(sourcesSpy.count(), 2);
        QCOMPARE(store.missingSelection(), true);
        QCOMPARE(store.selection(), QStringLiteral("Keys"));

        // Plugged in again (a new key, the same name): followed without any action.
        const auto second_ = store.bus().addSource("Keys");
        store.bus().announceSetupChange();
        QTRY_COMPARE(sourcesSpy.count(), 3);
        QCOMPARE(store.missingSelection(), false);
        QCOMPARE(store.selection(), QStringLiteral("Keys"));

        store.setNow(50 * second);
        sendTicks(store, second_, 30, 50 * second);
        store.refresh();
        QCOMPARE(store.currentStatus().sourceName, std::optional<std::string>("Keys"));
        QCOMPARE(settings().value(QStringLiteral("selection")).toString(), QStringLiteral("Keys"));
    }

    void timerQueuesRefreshes() {
        ProbeStore store;
        const auto key = store.bus().addSource("Sequencer");
        store.bus().announceSetupChange();
        QTRY_COMPARE(store.sources().size(), 2);
        store.setNow(10 * second);
        sendTicks(store, key, 30, 10 * second);
        // Nobody calls refresh here: the repeating timer does.
        QTRY_COMPARE(store.currentStatus().state, ClockStatus::State::running);

        // The clock goes silent: noClock, the last tempo stays.
        store.setNow(12 * second);
        QTRY_COMPARE(store.currentStatus().state, ClockStatus::State::noClock);
        QCOMPARE(store.currentStatus().bpm, std::optional<double>(120.0));
    }

    void nothingRunsAfterTheStoreIsGone() {
        auto store = std::make_unique<ProbeStore>();
        const auto bus = store->sharedBus();
        const auto key = bus->addSource("Gone");
        bus->announceSetupChange(); // posts work to the store
        QTest::qWait(40);          // and a refresh is queued by the timer meanwhile
        store.reset();
        // The service is closed: deliveries are refused, no callback runs.
        QVERIFY(!bus->isOpen());
        QVERIFY(!bus->send(key, {0xF8}));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
};

QTEST_GUILESS_MAIN(ClockStoreTest)
#include "ClockStoreTest.moc"
