// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "HistoryGraph.h"

#include "core/StatusText.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using tactimo::ClockHistory;

namespace {

constexpr double gutter = 50;      // px left of the plots, for the value labels
constexpr double rightMargin = 6;  // px
constexpr double unitRow = 20;     // px above the tempo plot, for its unit
constexpr double timeRow = 14;     // px below the jitter plot, for the time labels
constexpr double plotGap = 18;     // px between the plots
constexpr double tempoShare = 0.6; // of the height both plots share
constexpr double labelGap = 5;     // px between a label and its plot
// Seconds between two ticks beyond which the tempo line breaks: the clock
// had stopped (the longest receiving window).
constexpr double lineBreak = 1.0;
// Seconds between two offsets beyond which their line breaks: refreshes
// that read none.
constexpr double offsetBreak = 0.2;

QString fixed(double value, int decimals) {
    return QString::fromStdString(tactimo::StatusText::fixed(value, decimals));
}

// Per pixel column: the tempo line's first, lowest, highest and last value.
struct Column {
    double first = 0, low = 0, high = 0, last = 0;
    bool used = false;
    bool joins = false; // continues the line of an earlier column
};

} // namespace

HistoryGraph::HistoryGraph(QQuickItem* parent) : QQuickPaintedItem(parent) {
    connect(this, &HistoryGraph::colorsChanged, this, [this] { update(); });
}

void HistoryGraph::setHistory(TempoHistory* history) {
    if (history == history_) return;
    disconnect(connection_);
    history_ = history;
    if (history_) connection_ = connect(history_, &TempoHistory::changed, this, [this] { update(); });
    update();
    emit historyChanged();
}

void HistoryGraph::paint(QPainter* painter) {
    ++paintCount_;
    emit painted();

    const double w = width(), h = height();
    const double left = gutter, right = w - rightMargin;
    const double plotsHeight = h - unitRow - timeRow - plotGap;
    if (right - left < 10 || plotsHeight < 20) return;
    const double tempoTop = unitRow, tempoBottom = tempoTop + plotsHeight * tempoShare;
    const double jitterTop = tempoBottom + plotGap, jitterBottom = h - timeRow;
    const int columns = static_cast<int>(right - left);

    QFont font = painter->font();
    font.setPixelSize(10);
    painter->setFont(font);
    const auto label = [&](double x, double y, const QString& text, Qt::Alignment align) {
        const QRectF box = align & Qt::AlignRight  ? QRectF(x - 100, y - 7, 100, 14)
                           : align & Qt::AlignLeft ? QRectF(x, y - 7, 100, 14)
                                                   : QRectF(x - 50, y - 7, 100, 14);
        painter->drawText(box, static_cast<int>(align | Qt::AlignVCenter), text);
    };
    const auto hline = [&](double y) { painter->drawLine(QPointF(left, y), QPointF(right, y)); };

    // Frames and the time axis, drawn also while there is nothing to show.
    painter->setPen(QPen(gridColor_, 1));
    for (const double y : {tempoTop, tempoBottom, jitterTop, jitterBottom}) hline(y);
    painter->setPen(textColor_);
    label(left - labelGap, 6, QStringLiteral("BPM"), Qt::AlignRight);
    for (int s = 0; s <= 3; ++s) {
        const double x = left + (right - left) * s / 3;
        const int ago = static_cast<int>(TempoHistory::span) * (3 - s) / 3;
        label(x, h - timeRow / 2, QStringLiteral("%1 s ago").arg(ago),
              s == 0   ? Qt::AlignLeft
              : s == 3 ? Qt::AlignRight
                       : Qt::AlignHCenter);
    }

    const TempoHistory* history = history_;
    if (!history || !history->end()) return;
    const double end = *history->end(), start = end - TempoHistory::span;
    const auto xOf = [&](double t) { return left + (t - start) / TempoHistory::span * (right - left); };
    const auto columnOf = [&](double t) {
        return static_cast<int>(std::floor((t - start) / TempoHistory::span * columns));
    };

    // Value axes.
    const HistoryScale& jitter = history->jitterScale();
    const double jitterMiddle = (jitterTop + jitterBottom) / 2;
    const auto yOfJitter = [&](double ms) { return jitterMiddle - ms / jitter.high * (jitterBottom - jitterTop) / 2; };
    painter->setPen(QPen(gridColor_, 1));
    hline(jitterMiddle);
    painter->setPen(textColor_);
    for (const int sign : {1, 0, -1}) {
        const QString value = sign == 0 ? QStringLiteral("0")
                                        : (sign > 0 ? QStringLiteral("+") : QStringLiteral("\u2212")) +
                                              fixed(jitter.high, jitter.decimals) + QStringLiteral(" ms");
        label(left - labelGap, yOfJitter(sign * jitter.high), value, Qt::AlignRight);
    }
    const std::optional<HistoryScale>& tempo = history->tempoScale();
    const auto yOfTempo = [&](double bpm) {
        return tempoBottom - (bpm - tempo->low) / (tempo->high - tempo->low) * (tempoBottom - tempoTop);
    };
    if (tempo) {
        const int steps = static_cast<int>(std::lround((tempo->high - tempo->low) / tempo->step));
        for (int i = 0; i <= steps; ++i) {
            const double bpm = tempo->low + i * tempo->step, y = yOfTempo(bpm);
            painter->setPen(QPen(gridColor_, 1));
            if (i > 0 && i < steps) hline(y);
            painter->setPen(textColor_);
            label(left - labelGap, y, fixed(bpm, tempo->decimals), Qt::AlignRight);
        }
    }

    painter->save();
    painter->setClipRect(QRectF(left, tempoTop, right - left, jitterBottom - tempoTop));

    // Marks, under the data.
    for (const ClockHistory::Mark& mark : history->marks()) {
        using Kind = ClockHistory::Mark::Kind;
        const double x = std::round(xOf(mark.time)) + 0.5;
        if (x < left || x > right) continue;
        QPen pen(textColor_, 1, Qt::DotLine);
        if (mark.kind == Kind::tempoChange) pen = QPen(changeColor_, 1, Qt::DashLine);
        if (mark.kind == Kind::start || mark.kind == Kind::continue_) pen = QPen(transportColor_, 1);
        painter->setPen(pen);
        painter->drawLine(QPointF(x, tempoTop), QPointF(x, jitterBottom));
    }

    // The ticks, reduced to the columns: the tempo's range per column, and
    // each pixel of the jitter plot that holds a deviation.
    const int rows = std::max(1, static_cast<int>(jitterBottom - jitterTop));
    std::vector<Column> tempoColumns(static_cast<std::size_t>(columns));
    std::vector<bool> dots(static_cast<std::size_t>(columns * rows));
    std::vector<QPointF> dotPoints;
    double previousTime = -std::numeric_limits<double>::infinity();
    for (const ClockHistory::Tick& tick : history->ticks()) {
        const int column = columnOf(tick.time);
        if (column < 0 || column >= columns) continue;
        if (tick.bpm && *tick.bpm > 0 && *tick.bpm <= HistoryScale::maxBPM) {
            Column& c = tempoColumns[static_cast<std::size_t>(column)];
            if (!c.used) {
                c = {*tick.bpm, *tick.bpm, *tick.bpm, *tick.bpm, true, tick.time - previousTime <= lineBreak};
            } else {
                c.low = std::min(c.low, *tick.bpm);
                c.high = std::max(c.high, *tick.bpm);
                c.last = *tick.bpm;
            }
            previousTime = tick.time;
        }
        if (tick.deviation && std::isfinite(*tick.deviation)) {
            const double ms = std::clamp(*tick.deviation * 1000.0, -jitter.high, jitter.high);
            const int row = std::clamp(static_cast<int>(yOfJitter(ms) - jitterTop), 0, rows - 1);
            const std::size_t cell = static_cast<std::size_t>(column * rows + row);
            if (!dots[cell]) {
                dots[cell] = true;
                dotPoints.emplace_back(left + column + 0.5, jitterTop + row + 0.5);
            }
        }
    }

    painter->setRenderHint(QPainter::Antialiasing, true);
    if (tempo) {
        // The shown tempo, under the exact one: a step line from each change to the next.
        painter->setPen(QPen(shownColor_, 2));
        QPolygonF steps;
        const auto& shown = history->steps();
        for (std::size_t i = 0; i < shown.size(); ++i) {
            const double from = std::max(shown[i].time, start);
            const double to = i + 1 < shown.size() ? shown[i + 1].time : end;
            const auto& bpm = shown[i].bpm;
            if (!bpm || !(*bpm > 0 && *bpm <= HistoryScale::maxBPM) || to <= from) {
                if (steps.size() > 1) painter->drawPolyline(steps);
                steps.clear();
                continue;
            }
            const double y = yOfTempo(*bpm);
            steps << QPointF(xOf(from), y) << QPointF(xOf(std::min(to, end)), y);
        }
        if (steps.size() > 1) painter->drawPolyline(steps);

        painter->setPen(QPen(exactColor_, 1));
        QPolygonF line;
        const auto flush = [&] {
            if (line.size() > 1) painter->drawPolyline(line);
            if (line.size() == 1) painter->drawPoint(line.front());
            line.clear();
        };
        bool previousUsed = false;
        for (int column = 0; column < columns; ++column) {
            const Column& c = tempoColumns[static_cast<std::size_t>(column)];
            if (!c.used) continue;
            if (!(c.joins && previousUsed)) flush();
            const double x = left + column + 0.5;
            line << QPointF(x, yOfTempo(c.first));
            if (c.high > c.low) line << QPointF(x, yOfTempo(c.low)) << QPointF(x, yOfTempo(c.high));
            line << QPointF(x, yOfTempo(c.last));
            previousUsed = true;
        }
        flush();
    }
    painter->setRenderHint(QPainter::Antialiasing, false);

    painter->setPen(QPen(dotColor_, 2, Qt::SolidLine, Qt::SquareCap));
    if (!dotPoints.empty()) painter->drawPoints(dotPoints.data(), static_cast<int>(dotPoints.size()));

    // The offset over the dots, broken where refreshes read none or its
    // pairing changed (a phase is no delay).
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(offsetColor_, 1.5));
    QPolygonF offsets;
    const tactimo::OffsetHistory::Entry* previous = nullptr;
    for (const auto& entry : history->offsets()) {
        if (previous && (entry.time - previous->time > offsetBreak || entry.pairing != previous->pairing)) {
            if (offsets.size() > 1) painter->drawPolyline(offsets);
            offsets.clear();
        }
        offsets << QPointF(xOf(entry.time), yOfJitter(std::clamp(entry.offsetMs, -jitter.high, jitter.high)));
        previous = &entry;
    }
    if (offsets.size() > 1) painter->drawPolyline(offsets);
    painter->restore();
}
