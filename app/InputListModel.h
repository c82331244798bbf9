// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/MidiService.h"
#include "core/SourceKey.h"

#include <QAbstractListModel>
#include <QString>
#include <QtQmlIntegration/qqmlintegration.h>

#include <string>
#include <vector>

// The input picker's rows: "All inputs", one row per source in the list's
// order, and the remembered input while no source carries its name. For the
// reference of a comparison: "None", the sources but the followed input, the
// remembered one while missing, and "Link session". A change
// is reported as rows inserted, removed or changed, never as a reset, so that
// an open popup keeps its rows and what the user points at. The separator is
// no row: the popup draws it where the group starts, which is empty for the
// first row, "link" for the Link session and "inputs" for the rest.
class InputListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The store owns the list of inputs")
    // The row shown as chosen: the first whose value is the selection.
    Q_PROPERTY(int selectedRow READ selectedRow NOTIFY selectedRowChanged)

public:
    enum Role { LabelRole = Qt::UserRole + 1, ValueRole, GroupRole };
    enum class Purpose { input, reference };

    explicit InputListModel(QObject* parent = nullptr, Purpose purpose = Purpose::input);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int selectedRow() const { return selectedRow_; }

    // Brings the rows in line with the sources and the selection (empty: all
    // inputs); missing says that no source carries the selected name. For a
    // reference, the followed input's name is left out unless it is chosen.
    void update(const std::vector<tactimo::MIDISource>& sources, const std::string& selection, bool missing,
                std::string_view followed = {});

    // Where the row that stood at `before` ahead of the last update stands
    // now, or -1 when it went. Lets a view keep pointing at the same input.
    Q_INVOKABLE int rowNow(int before) const;

signals:
    void selectedRowChanged();
    // After an update, once every change of it was announced.
    void updated();

private:
    struct Row {
        enum class Kind { all, source, missing, link } kind;
        tactimo::SourceKey ref; // sources only
        QString label;
        QString value; // the selection that choosing the row sets

        // The same item, perhaps under a new name.
        bool sameItem(const Row& other) const {
            return kind == other.kind && (kind != Kind::source || ref == other.ref);
        }
    };

    Purpose purpose_;
    std::vector<Row> rows_;
    std::vector<int> rowsNow_; // by row before the last update
    int selectedRow_ = 0;
};
