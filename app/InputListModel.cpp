// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "InputListModel.h"

#include "core/ReferenceClock.h"

#include <algorithm>

namespace {

template <typename Row>
std::size_t find(const std::vector<Row>& rows, std::size_t from, const Row& row) {
    for (std::size_t i = from; i < rows.size(); ++i)
        if (rows[i].sameItem(row)) return i;
    return rows.size();
}

} // namespace

InputListModel::InputListModel(QObject* parent, Purpose purpose) : QAbstractListModel(parent), purpose_(purpose) {
    update({}, {}, false);
}

int InputListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant InputListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case LabelRole: return row.label;
    case ValueRole: return row.value;
    case GroupRole:
        return row.kind == Row::Kind::all    ? QString()
               : row.kind == Row::Kind::link ? QStringLiteral("link")
                                             : QStringLiteral("inputs");
    default: return {};
    }
}

QHash<int, QByteArray> InputListModel::roleNames() const {
    return {{LabelRole, "label"}, {ValueRole, "value"}, {GroupRole, "group"}};
}

void InputListModel::update(const std::vector<tactimo::MIDISource>& sources, const std::string& selection,
                            bool missing, std::string_view followed) {
    const bool reference = purpose_ == Purpose::reference;
    std::vector<Row> next;
    next.reserve(sources.size() + 3);
    next.push_back({Row::Kind::all, 0, reference ? QStringLiteral("None") : QStringLiteral("All inputs"), QString()});
    for (const tactimo::MIDISource& source : sources) {
        if (reference && (source.name == tactimo::ReferenceClock::linkName ||
                          (source.name == followed && source.name != selection)))
            continue;
        const QString name = QString::fromStdString(source.name);
        next.push_back({Row::Kind::source, source.ref, name, name});
    }
    const QString chosen = QString::fromStdString(selection);
    if (missing) next.push_back({Row::Kind::missing, 0, chosen + QStringLiteral(" (not connected)"), chosen});
    if (reference) {
        const auto link = QString::fromUtf8(tactimo::ReferenceClock::linkName.data(),
                                            static_cast<qsizetype>(tactimo::ReferenceClock::linkName.size()));
        next.push_back({Row::Kind::link, 0, QStringLiteral("Link session"), link});
    }

    const std::vector<Row> before = rows_;

    // One pass over the new rows: keep a row that is in place, drop old rows
    // that stand before one that comes later, insert what is new. A row that
    // moved is dropped and inserted again.
    std::size_t i = 0;
    while (i < next.size()) {
        if (i < rows_.size() && rows_[i].sameItem(next[i])) {
            if (rows_[i].label != next[i].label || rows_[i].value != next[i].value) {
                rows_[i] = next[i];
                emit dataChanged(index(int(i)), index(int(i)), {LabelRole, ValueRole, Qt::DisplayRole});
            }
            ++i;
            continue;
        }
        if (const std::size_t j = find(rows_, i, next[i]); j < rows_.size()) {
            beginRemoveRows({}, int(i), int(j) - 1);
            rows_.erase(rows_.begin() + std::ptrdiff_t(i), rows_.begin() + std::ptrdiff_t(j));
            endRemoveRows();
            continue;
        }
        std::size_t end = i + 1;
        while (end < next.size() && find(rows_, i, next[end]) == rows_.size()) ++end;
        beginInsertRows({}, int(i), int(end) - 1);
        rows_.insert(rows_.begin() + std::ptrdiff_t(i), next.begin() + std::ptrdiff_t(i),
                     next.begin() + std::ptrdiff_t(end));
        endInsertRows();
        i = end;
    }
    if (rows_.size() > next.size()) {
        beginRemoveRows({}, int(next.size()), int(rows_.size()) - 1);
        rows_.erase(rows_.begin() + std::ptrdiff_t(next.size()), rows_.end());
        endRemoveRows();
    }

    rowsNow_.clear();
    for (const Row& row : before) {
        const std::size_t now = find(rows_, 0, row);
        rowsNow_.push_back(now < rows_.size() ? int(now) : -1);
    }

    const auto chosenRow =
        std::find_if(rows_.begin(), rows_.end(), [&](const Row& row) { return row.value == chosen; });
    const int selected = chosenRow == rows_.end() ? 0 : int(chosenRow - rows_.begin());
    if (selected != selectedRow_) {
        selectedRow_ = selected;
        emit selectedRowChanged();
    }
    emit updated();
}

int InputListModel::rowNow(int before) const {
    return before >= 0 && before < int(rowsNow_.size()) ? rowsNow_[std::size_t(before)] : -1;
}
