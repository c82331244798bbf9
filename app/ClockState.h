// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "core/ClockStatus.h"

#include <QObject>
#include <QtQmlIntegration/qqmlintegration.h>

// The clock state as QML sees it: ClockState.Playing and so on. QML wants
// enumerators in upper case; the values are the core's, so each converts to
// the other by a cast and no table can fall out of step. (An object type
// only to hold the enum: Qt 6.4's compiled bindings cannot look up the enums
// of a namespace, and a gadget would need a lower-case name.)
class ClockState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Only its values are used")

public:
    using Core = tactimo::ClockStatus::State;

    enum State {
        Waiting = static_cast<int>(Core::waiting),
        NoClock = static_cast<int>(Core::noClock),
        Running = static_cast<int>(Core::running),
        Playing = static_cast<int>(Core::playing),
        Stopped = static_cast<int>(Core::stopped),
    };
    Q_ENUM(State)

    static State fromCore(Core state) { return static_cast<State>(state); }
};
