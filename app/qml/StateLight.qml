// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import Tactimo

// The lamp: its colour names the state; while a clock arrives it is dim for
// most of each beat and flashes with a glow on the first quarter.
Item {
    id: root
    property int clockState: ClockState.Waiting // a ClockState value
    property bool receiving: false
    property bool pulse: false
    readonly property bool glowing: receiving && pulse
    readonly property color fill: {
        switch (clockState) {
        case ClockState.NoClock: return Theme.red
        case ClockState.Running:
        case ClockState.Stopped: return Theme.orange
        case ClockState.Playing: return Theme.green
        default: return Theme.secondaryLabel
        }
    }

    implicitWidth: 10
    implicitHeight: 10

    // Glow: a soft halo of the fill colour, 4 points beyond the circle.
    Repeater {
        model: 4
        delegate: Rectangle {
            required property int index
            readonly property real spread: (index + 1)
            anchors.centerIn: parent
            width: root.width + 2 * spread
            height: width
            radius: width / 2
            color: root.fill
            opacity: root.glowing ? 0.8 * 0.28 * (1 - index / 4) : 0
        }
    }

    Rectangle {
        id: lamp
        objectName: "lamp"
        anchors.fill: parent
        radius: width / 2
        color: root.fill
        opacity: root.receiving && !root.pulse ? 0.35 : 1.0
    }
}
