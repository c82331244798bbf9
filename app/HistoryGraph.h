// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "TempoHistory.h"

#include <QColor>
#include <QPointer>
#include <QQuickPaintedItem>
#include <QtQmlIntegration/qqmlintegration.h>

// Draws a TempoHistory: above, the exact tempo as a line and the shown tempo
// as steps over it; below, each tick's deviation from the fitted line as a
// dot, and the offset against a compared reference as a line; marks as
// vertical lines through both. Paints only when the history
// changes, and reduces the ticks to the pixel columns first.
class HistoryGraph : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(TempoHistory* history READ history WRITE setHistory NOTIFY historyChanged)
    // Colours from the window's theme.
    Q_PROPERTY(QColor textColor MEMBER textColor_ NOTIFY colorsChanged)
    Q_PROPERTY(QColor gridColor MEMBER gridColor_ NOTIFY colorsChanged)
    Q_PROPERTY(QColor exactColor MEMBER exactColor_ NOTIFY colorsChanged)
    Q_PROPERTY(QColor shownColor MEMBER shownColor_ NOTIFY colorsChanged)
    Q_PROPERTY(QColor dotColor MEMBER dotColor_ NOTIFY colorsChanged)
    Q_PROPERTY(QColor changeColor MEMBER changeColor_ NOTIFY colorsChanged)
    Q_PROPERTY(QColor transportColor MEMBER transportColor_ NOTIFY colorsChanged)
    Q_PROPERTY(QColor offsetColor MEMBER offsetColor_ NOTIFY colorsChanged)
    // Paints so far; for tests and measurements.
    Q_PROPERTY(int paintCount READ paintCount NOTIFY painted)

public:
    explicit HistoryGraph(QQuickItem* parent = nullptr);

    TempoHistory* history() const { return history_; }
    void setHistory(TempoHistory* history);
    int paintCount() const { return paintCount_; }

    void paint(QPainter* painter) override;

signals:
    void historyChanged();
    void colorsChanged();
    void painted();

private:
    QPointer<TempoHistory> history_;
    QMetaObject::Connection connection_;
    QColor textColor_ = Qt::black;
    QColor gridColor_ = QColor(0, 0, 0, 30);
    QColor exactColor_ = Qt::blue;
    QColor shownColor_ = QColor(0xf0, 0x8c, 0x00);
    QColor dotColor_ = Qt::gray;
    QColor changeColor_ = Qt::red;
    QColor transportColor_ = Qt::darkGreen;
    QColor offsetColor_ = Qt::magenta;
    int paintCount_ = 0;
};
