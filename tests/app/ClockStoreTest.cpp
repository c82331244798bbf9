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
Q_DECLARE_METATYPE(Position)
Q_DECLARE_METATYPE(State)

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
        const auto row = [](const QByteArray& tag, QByteArray file, QString signature = "4/4", QString selection = {}) {
            QTest::newRow(tag.constData()) << file << signature << selection;
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
        QTest::qWait(50); // a few refreshes
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QCOMPARE(conf.readAll(), file); // read, never written back
    }

    void assigningWritesNotifiesAndResets() {
        ProbeStore store;
        store.stopRefreshing();
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
        store.stopRefreshing();
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

    // What the position view shows, for a status and a signature.
    void barPosition_data() {
        QTest::addColumn<State>("state");
        QTest::addColumn<std::optional<qint64>>("position");
        QTest::addColumn<qint64>("numerator");
        QTest::addColumn<qint64>("denominator");
        QTest::addColumn<Position>("shown");
        using P = tactimo::TimeSignature::BarPosition;
        const auto none = std::optional<qint64>();
        QTest::newRow("playing 4/4") << State::playing << std::optional<qint64>(24) << 4ll << 4ll
                                     << Position(P{1, 2, 1});
        QTest::newRow("stopped 6/8") << State::stopped << std::optional<qint64>(71) << 6ll << 8ll
                                     << Position(P{1, 6, 2});
        QTest::newRow("no clock keeps the position")
            << State::noClock << std::optional<qint64>(96) << 3ll << 4ll << Position(P{2, 2, 1});
        QTest::newRow("running hides an older position")
            << State::running << std::optional<qint64>(96) << 4ll << 4ll << Position();
        QTest::newRow("no position") << State::playing << none << 4ll << 4ll << Position();
        // Assigned values the fields would never let through are pulled into range rather than divide by zero.
        QTest::newRow("numerator 0") << State::playing << std::optional<qint64>(96) << 0ll << 4ll
                                     << Position(P{5, 1, 1});
        QTest::newRow("denominator 3") << State::playing << std::optional<qint64>(96) << 4ll << 3ll
                                       << Position(P{2, 1, 1});
    }

    void barPosition() {
        QFETCH(State, state);
        QFETCH(std::optional<qint64>, position);
        QFETCH(qint64, numerator);
        QFETCH(qint64, denominator);
        ProbeStore store;
        QVariantMap status{{"state", int(state)}};
        if (position) status.insert("position", *position);
        store.show(status);
        store.setNumerator(numerator);
        store.setDenominator(denominator);
        QTEST(store.barPosition().value(), "shown");
    }

    // Recomputed on every change of the status and of the signature, and
    // announced only when what the view shows changes.
    void barPositionFollowsStatusAndSignature() {
        ProbeStore store;
        QSignalSpy changed(&store, &ClockStore::barPositionChanged);
        store.show({{"state", int(State::playing)}, {"position", 96}});
        QCOMPARE(changed.count(), 1);
        store.setNumerator(3); // bar 2, beat 1 becomes bar 2, beat 2
        QCOMPARE(changed.count(), 2);
        QCOMPARE(store.barPosition().value()->beat, 2);
        store.setDenominator(4); // the same signature again
        QCOMPARE(changed.count(), 2);
        store.show({{"state", int(State::stopped)}, {"position", 96}, {"receiving", true}});
        QCOMPARE(changed.count(), 2);
        store.setSelection(QString()); // the status resets: nothing to count
        QCOMPARE(changed.count(), 3);
        QVERIFY(!store.barPosition().value());
    }
};

QTEST_GUILESS_MAIN(ClockStoreTest)
#include "ClockStoreTest.moc"
