// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ClockStore.h"
#include "HistoryScale.h"
#include "Settings.h"
#include "TempoHistory.h"
#include "midi/FakeMidiService.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class ClockStoreTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>(); // a throw-away settings location per case
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_->path());
    }

    // A settings file and what the store reads from it: "signature|selection|history".
    void storedValues_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("read");
        const auto row = [](QByteArray file, QString read = "4/4||closed") {
            QTest::newRow(QByteArray(file).replace('\n', ' ').constData()) << file << read;
        };
        row({});
        row("selection=Keys\nnumerator=99\ndenominator=16", "99/16|Keys|closed");
        // Out of the range, text, overflow, a list, a bad variant: the default. Invalid UTF-8 and noise; a decomposed
        // name reads as its composed form. Only the true that is written opens the history.
        for (const char* file : {"numerator=100\ndenominator=32", "numerator=abc\ndenominator=99999999999999999999",
                                 "numerator=3, 4\ndenominator=@Invalid()"})
            row(file);
        row(QByteArrayLiteral("\xff\xfe[[[\n[General]\nselection=Caf\xc3\xa9 \xff\n=====\n\x00\x01x\n"),
            QStringLiteral("4/4|Café \uFFFD|closed"));
        row("selection=Cafe\xcc\x81 Keys", QStringLiteral("4/4|Caf\u00e9 Keys|closed"));
        row("history=true", "4/4||open");
        for (const char* file : {"history=1", "history=TRUE"}) row(file);
    }

    void storedValues() {
        QFETCH(QByteArray, file);
        QFile conf(Settings::open().fileName());
        QVERIFY(QDir().mkpath(QFileInfo(conf).path()) && conf.open(QIODevice::WriteOnly) && conf.write(file) == file.size());
        conf.close();
        ClockStore store(std::make_unique<tactimo::FakeMidiService>(std::make_shared<tactimo::FakeMidiBus>()));
        const QString history = store.historyOpen() ? "open" : "closed";
        QTEST(QStringLiteral("%1/%2|%3|%4").arg(store.numerator()).arg(store.denominator()).arg(store.selection(), history),
              "read");
        QTest::qWait(150); // a few refreshes and history copies
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QCOMPARE(conf.readAll(), file); // read, never written back
    }

    // The history's axes, beyond the views test's: no span for nonsense. A provisional fit, of too few ticks to
    // know the jitter, stays off the tempo axis.
    void historyScales() {
        using S = HistoryScale;
        QVERIFY(S::tempo(120, 145) == S({120, 150, 10, 0}) && !S::tempo(130, 120) && !S::tempo(120, INFINITY));
        TempoHistory history;
        tactimo::ClockHistory::Slice slice;
        slice.held = true;
        slice.ticks = {{1, 1.0, 150.0, {}}, {2, 2.0, 120.0, 0.0}};
        history.take(slice);
        QCOMPARE(history.bpmHigh(), QVariant(120.5));
    }
};

QTEST_GUILESS_MAIN(ClockStoreTest)
#include "ClockStoreTest.moc"
