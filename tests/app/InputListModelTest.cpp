#include "InputListModel.h"
#include "ProbeStore.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Every change the model announces, in order: "+2..3" inserted, "-1..1"
// removed, "~4" changed; a reset, move or layout change is named as such.
class ChangeLog : public QObject {
public:
    explicit ChangeLog(QAbstractItemModel* model) {
        const auto range = [this](const char* sign) {
            return [this, sign](const QModelIndex&, int first, int last) {
                changes << QStringLiteral("%1%2..%3").arg(sign).arg(first).arg(last);
            };
        };
        connect(model, &QAbstractItemModel::rowsInserted, this, range("+"));
        connect(model, &QAbstractItemModel::rowsRemoved, this, range("-"));
        connect(model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& from, const QModelIndex& to) {
            for (int row = from.row(); row <= to.row(); ++row) changes << QStringLiteral("~%1").arg(row);
        });
        connect(model, &QAbstractItemModel::modelReset, this, [this] { changes << "reset"; });
        connect(model, &QAbstractItemModel::rowsMoved, this, [this] { changes << "moved"; });
        connect(model, &QAbstractItemModel::layoutChanged, this, [this] { changes << "layout"; });
    }
    QStringList take() { return std::exchange(changes, {}); }

private:
    QStringList changes;
};

QStringList labels(const QAbstractItemModel& model) {
    QStringList all;
    for (int row = 0; row < model.rowCount(); ++row)
        all << model.index(row, 0).data(InputListModel::LabelRole).toString();
    return all;
}

using Sources = std::vector<tactimo::MIDISource>;
const tactimo::MIDISource drum{1, "Drum"}, keys{2, "Keys"}, pads{3, "Pads"}, bass{4, "Bass"},
    virtualPort{0x7FFF'FFFF, "Virtual port"};

} // namespace

Q_DECLARE_METATYPE(Sources)

class InputListModelTest : public QObject {
    Q_OBJECT

private slots:
    // Steps in a row on one model: the sources and the selection it is given,
    // the changes it must announce, the rows it then holds, the chosen row,
    // and where each earlier row went when that matters.
    void changesAreRowsNeverAReset() {
        const Sources some{drum, keys, pads, virtualPort}, renamed{{1, "Drum Machine"}, pads, bass, virtualPort},
            moved{pads, {1, "Drum Machine"}, bass, virtualPort};
        const struct Step {
            const char* what;
            Sources sources;
            std::string selection;
            QString changes, rows;
            int chosen;
            QString rowsNow = {};
        } steps[] = {
            // clang-format off
            {"first list", {virtualPort}, "", "+1..1", "All inputs|Virtual port", 0},
            {"the same list", {virtualPort}, "", "", "All inputs|Virtual port", 0},
            {"plugged", {drum, virtualPort}, "", "+1..1", "All inputs|Drum|Virtual port", 0},
            {"two plugged at once", some, "", "+2..3", "All inputs|Drum|Keys|Pads|Virtual port", 0},
            {"a missing choice", some, "Bass", "+5..5", "All inputs|Drum|Keys|Pads|Virtual port|Bass (not connected)", 5},
            {"another missing choice", some, "Tuba", "~5", "All inputs|Drum|Keys|Pads|Virtual port|Tuba (not connected)", 5},
            {"the missing one arrives", {drum, keys, pads, bass, virtualPort}, "Bass", "+4..4 -6..6",
             "All inputs|Drum|Keys|Pads|Bass|Virtual port", 4, "0 1 2 3 5 -1"},
            {"unplugged before the choice", {drum, pads, bass, virtualPort}, "Bass", "-2..2",
             "All inputs|Drum|Pads|Bass|Virtual port", 3, "0 1 -1 2 3 4"},
            {"renamed", renamed, "Bass", "~1", "All inputs|Drum Machine|Pads|Bass|Virtual port", 3},
            {"moved ahead: dropped and inserted again", moved, "Bass", "-1..1 +2..2",
             "All inputs|Pads|Drum Machine|Bass|Virtual port", 3, "0 2 1 3 4"},
            {"all inputs chosen", moved, "", "", "All inputs|Pads|Drum Machine|Bass|Virtual port", 0},
            {"twins: the first is chosen", {{5, "Twin"}, {6, "Twin"}, virtualPort}, "Twin", "+1..2 -3..5",
             "All inputs|Twin|Twin|Virtual port", 1},
            {"nothing left", {}, "", "-1..3", "All inputs", 0},
            // clang-format on
        };

        InputListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        ChangeLog log(&model);
        for (const Step& step : steps) {
            const bool missing =
                !step.selection.empty() && std::none_of(step.sources.begin(), step.sources.end(),
                                                        [&](const auto& s) { return s.name == step.selection; });
            model.update(step.sources, step.selection, missing);
            const QString changes = log.take().join(' '), rows = labels(model).join('|');
            QVERIFY2(changes == step.changes, qPrintable(QStringLiteral("%1: announced %2").arg(step.what, changes)));
            QVERIFY2(rows == step.rows, qPrintable(QStringLiteral("%1: rows %2").arg(step.what, rows)));
            QVERIFY2(model.selectedRow() == step.chosen, step.what);
            for (int row = 0; row < model.rowCount(); ++row) // the separator stands where the group is no longer empty
                QVERIFY2(model.index(row, 0).data(InputListModel::GroupRole).toString().isEmpty() == (row == 0),
                         step.what);
            const QStringList rowsNow = step.rowsNow.split(' ', Qt::SkipEmptyParts);
            for (int before = 0; before < rowsNow.size(); ++before)
                QVERIFY2(model.rowNow(before) == rowsNow[before].toInt(), step.what);
        }
    }

    // The store keeps the rows in step with the bus.
    void storeFollowsTheBus() {
        QTemporaryDir settings;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
        ProbeStore store;
        ChangeLog log(store.inputs());
        const auto key = store.plug(QStringLiteral("Drum Machine"));
        QTRY_COMPARE(store.sourceList().size(), size_t(2));
        QCOMPARE(log.take(), QStringList({"+1..1"}));

        // A set-up change that changes nothing announces nothing: the next
        // one's insert is all there is.
        store.bus().announceSetupChange();
        store.plug(QStringLiteral("Keys"));
        QTRY_COMPARE(store.sourceList().size(), size_t(3));
        QCOMPARE(log.take(), QStringList({"+2..2"}));

        store.bus().removeSource(static_cast<tactimo::SourceKey>(key));
        store.bus().announceSetupChange();
        QTRY_COMPARE(store.sourceList().size(), size_t(2));
        QCOMPARE(log.take(), QStringList({"-1..1"}));
    }
};

QTEST_GUILESS_MAIN(InputListModelTest)
#include "InputListModelTest.moc"
