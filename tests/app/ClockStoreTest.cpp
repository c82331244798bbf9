#include "ProbeStore.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

constexpr std::uint64_t second = 1'000'000'000;

// 120 BPM from the source, the last clock at `end` (ns); then a refresh.
static void follow(ProbeStore& store, tactimo::SourceKey key, std::uint64_t end) {
    store.sendClock(key, end);
    store.refresh();
}

using Position = BarPositionValue::Position;
using State = tactimo::ClockStatus::State;

class ClockStoreTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>(); // a throw-away settings location per case
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_->path());
    }

    void storedValues_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("signature");
        QTest::addColumn<QString>("selection");
        QTest::addColumn<bool>("historyOpen");
        const auto row = [](const QByteArray& tag, QByteArray file, QString signature = "4/4", QString selection = {},
                            bool historyOpen = false) {
            QTest::newRow(tag.constData()) << file << signature << selection << historyOpen;
        };
        row("absent", {});
        row("lowest", "numerator=1\ndenominator=1", "1/1");
        row("highest, a selection", "selection=Keys\nnumerator=99\ndenominator=16", "99/16", "Keys");
        row("each field falls back on its own", "numerator=100\ndenominator=8", "4/8");
        // Zero, one past the range, negative, not a power of two, text, overflow, a list, a bad variant: the default.
        for (const char* file :
             {"numerator=0\ndenominator=0", "numerator=100\ndenominator=32", "numerator=-3\ndenominator=3",
              "numerator=abc\ndenominator=99999999999999999999", "numerator=3, 4\ndenominator=@Invalid()"})
            row(QByteArray(file).replace('\n', ' '), file);
        // Invalid UTF-8 and noise; a decomposed name reads as its composed form.
        row("broken", QByteArrayLiteral("\xff\xfe[[[\n[General]\nselection=Caf\xc3\xa9 \xff\n=====\n\x00\x01x\n"),
            "4/4", QStringLiteral("Café \uFFFD"));
        row("decomposed", "selection=Cafe\xcc\x81 Keys", "4/4", QStringLiteral("Caf\u00e9 Keys"));
        // The history opens only for the true that is written; anything else keeps it closed.
        row("history open", "history=true", "4/4", {}, true);
        for (const char* file : {"history=false", "history=1", "history=TRUE", "history=yes", "history=true, true",
                                 "history=@Invalid()", "history=\xff"})
            row(file, file);
    }

    void storedValues() {
        QFETCH(QByteArray, file);
        QFile conf(Settings::open().fileName());
        QVERIFY(QDir().mkpath(QFileInfo(conf).path()));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        QCOMPARE(conf.write(file), file.size());
        conf.close();

        ProbeStore store;
        QTEST(QStringLiteral("%1/%2").arg(store.numerator()).arg(store.denominator()), "signature");
        QTEST(store.selection(), "selection");
        QTEST(store.historyOpen(), "historyOpen");
        QTest::qWait(150); // a few refreshes and history copies
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QCOMPARE(conf.readAll(), file); // read, never written back
    }

    void assigningWritesNotifiesAndResets() {
        ProbeStore store;
        const auto key = store.plug(QStringLiteral("Drum Machine"));
        QTRY_COMPARE(store.sourceList().size(), size_t(2));
        follow(store, key, 1000 * second);
        QCOMPARE(store.currentStatus().state, State::running);

        QSignalSpy selection(&store, &ClockStore::selectionChanged), status(&store, &ClockStore::statusChanged);
        QSignalSpy numerator(&store, &ClockStore::numeratorChanged);
        // The current selection again: written, followed source cleared, status reset.
        store.setSelection(QString());
        QCOMPARE(selection.count(), 1);
        QCOMPARE(status.count(), 1);
        QVERIFY(store.currentStatus() == tactimo::ClockStatus{});
        QVERIFY(Settings::open().contains(Settings::selectionKey));
        store.refresh();
        QCOMPARE(store.currentStatus().sourceName, std::optional<std::string>("Drum Machine"));
        store.refresh(); // the same status again publishes nothing
        QCOMPARE(status.count(), 2);

        // Equal values still notify and are written at once, unchecked.
        store.setNumerator(150);
        store.setNumerator(150);
        QCOMPARE(numerator.count(), 2);
        QCOMPARE(Settings::open().value(Settings::numeratorKey).toLongLong(), 150);
        store.setSelection(QStringLiteral("Drum Machine"));
        store.setNumerator(7);
        store.setDenominator(8);
        const ProbeStore next;
        QCOMPARE(next.selection(), QStringLiteral("Drum Machine"));
        QCOMPARE(next.numerator(), 7);
        QCOMPARE(next.denominator(), 8);
    }

    void selectionUnpluggedAndPluggedAgain() {
        Settings::writeSelection(QStringLiteral("Keys"));
        ProbeStore store;
        QVERIFY(store.missingSelection());
        const auto first = store.plug(QStringLiteral("Keys"));
        QTRY_VERIFY(!store.missingSelection());

        store.bus().removeSource(first);
        store.bus().announceSetupChange();
        QTRY_VERIFY(store.missingSelection());
        QCOMPARE(store.selection(), QStringLiteral("Keys"));

        // Back under a new key: followed again without any action.
        const auto again = store.plug(QStringLiteral("Keys"));
        QTRY_VERIFY(!store.missingSelection());
        follow(store, again, 50 * second);
        QCOMPARE(store.currentStatus().sourceName, std::optional<std::string>("Keys"));
    }

    void timerRefreshes() {
        ProbeStore store;
        const auto key = store.plug(QStringLiteral("Sequencer"));
        QTRY_COMPARE(store.sourceList().size(), size_t(2));
        follow(store, key, 10 * second);
        store.setNow(12 * second); // silent: no clock, the last tempo stays
        QTRY_COMPARE(store.currentStatus().state, State::noClock);
        QCOMPARE(store.currentStatus().bpm, std::optional<double>(120.0));
    }

    // Nothing to count while the clock runs without transport (an older
    // position would mislead) or without a position; else the signature's bars.
    void barPosition() {
        using P = tactimo::TimeSignature::BarPosition;
        const struct {
            State state;
            std::optional<qint64> position;
            Position shown;
        } cases[] = {{State::playing, 96, P{2, 2, 1}},
                     {State::stopped, 96, P{2, 2, 1}},
                     {State::noClock, 96, P{2, 2, 1}},
                     {State::running, 96, std::nullopt},
                     {State::playing, std::nullopt, std::nullopt}};
        ProbeStore store;
        store.setNumerator(3);
        for (const auto& c : cases) {
            QVariantMap status{{"state", int(c.state)}};
            if (c.position) status.insert("position", *c.position);
            store.show(status);
            QVERIFY2(store.barPosition().value() == c.shown, qPrintable(QString::number(int(c.state))));
        }
    }
};

QTEST_GUILESS_MAIN(ClockStoreTest)
#include "ClockStoreTest.moc"
