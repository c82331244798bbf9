// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Layouts
import Tactimo

// Bar, beat and sixteenth under the user's time signature, and the beat strip.
ColumnLayout {
    id: root
    required property ClockStore store
    property barPosition bars // computed by the store; undefined fields when there is nothing to count
    property int numerator: 4
    property bool dimmed: true

    spacing: 12

    RowLayout {
        Layout.fillWidth: true
        spacing: 22

        Counter { objectName: "barCounter"; label: "Bar"; value: root.bars.bar; dimmed: root.dimmed; Layout.alignment: Qt.AlignBottom }
        Counter { objectName: "beatCounter"; label: "Beat"; value: root.bars.beat; dimmed: root.dimmed; Layout.alignment: Qt.AlignBottom }
        Counter { objectName: "sixteenthCounter"; label: "16th"; value: root.bars.sixteenth; dimmed: root.dimmed; Layout.alignment: Qt.AlignBottom }
        Item { Layout.fillWidth: true }
        TimeSignatureField { store: root.store; Layout.alignment: Qt.AlignBottom }
    }

    RowLayout {
        objectName: "beatStrip"
        visible: root.numerator <= 16
        Layout.fillWidth: true
        spacing: 6

        Repeater {
            model: root.numerator <= 16 ? Math.max(root.numerator, 0) : 0
            delegate: Rectangle {
                required property int index
                readonly property bool current: root.bars.beat === index + 1
                Layout.fillWidth: true
                Layout.preferredWidth: 1 // cells share the row equally
                implicitHeight: 10
                radius: 3
                color: current ? (index === 0 ? Theme.orange : Theme.blue)
                               : Qt.rgba(Theme.label.r, Theme.label.g, Theme.label.b, 0.08)
                opacity: current && root.dimmed ? 0.45 : 1.0
            }
        }
    }
}
