// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/TimeSignature.h"

#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

#include <optional>

// Bar, beat and sixteenth as the position view shows them; all three are
// undefined in QML when there is nothing to count.
class BarPositionValue {
    Q_GADGET
    QML_VALUE_TYPE(barPosition)
    QML_UNCREATABLE("The store computes the position")
    Q_PROPERTY(QVariant bar READ bar CONSTANT)
    Q_PROPERTY(QVariant beat READ beat CONSTANT)
    Q_PROPERTY(QVariant sixteenth READ sixteenth CONSTANT)

public:
    using Position = std::optional<tactimo::TimeSignature::BarPosition>;

    BarPositionValue() = default;
    explicit BarPositionValue(Position position) : position_(position) {}

    const Position& value() const { return position_; }

    // Counts stay far below 2^53, so QML numbers hold them exactly.
    QVariant bar() const { return position_ ? QVariant(qint64(position_->bar)) : QVariant(); }
    QVariant beat() const { return position_ ? QVariant(qint64(position_->beat)) : QVariant(); }
    QVariant sixteenth() const { return position_ ? QVariant(qint64(position_->sixteenth)) : QVariant(); }

private:
    Position position_;
};
