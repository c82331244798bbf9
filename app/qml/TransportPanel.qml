// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tactimo

// What the followed sender is doing: lamp, state word, source, position and guidance.
// Names come from other programs: every text here is plain, and the long ones are cut.
ColumnLayout {
    id: root
    required property ClockStore store
    readonly property clockStatus status: store.status
    readonly property bool warning: status.warning !== ""
    // Keeps a name thousands of characters long from making the window taller than a screen.
    readonly property int guidanceLines: 3

    spacing: 16

    RowLayout {
        Layout.fillWidth: true
        spacing: 8

        StateLight {
            objectName: "stateLight"
            clockState: root.store.state
            receiving: root.status.receiving
            pulse: root.status.pulse
        }
        Text {
            objectName: "stateWord"
            text: root.status.stateWord
            textFormat: Text.PlainText
            font.pixelSize: Theme.headline
            font.weight: Font.DemiBold
            color: Theme.label
        }
        Text {
            objectName: "sourceName"
            visible: text !== ""
            text: root.status.sourceText
            textFormat: Text.PlainText
            font.pixelSize: Theme.headline
            color: Theme.secondaryLabel
            elide: Text.ElideMiddle
            maximumLineCount: 1
            Layout.fillWidth: true
            Layout.minimumWidth: 0
            // Whole pixels: the layout rounds, and a fraction short elides.
            Layout.preferredWidth: Math.ceil(implicitWidth)
            Layout.maximumWidth: Math.ceil(implicitWidth)
        }
        Item { Layout.fillWidth: true }
    }

    PositionView {
        objectName: "positionView"
        Layout.fillWidth: true
        store: root.store
        bars: root.store.barPosition
        numerator: root.store.numerator
        dimmed: root.store.state !== ClockState.Playing
    }

    Item {
        objectName: "guidance"
        Layout.fillWidth: true
        implicitHeight: Math.max(30, root.warning ? warningRow.implicitHeight : hintText.implicitHeight)

        RowLayout {
            id: warningRow
            visible: root.warning
            width: parent.width
            spacing: 4
            IconImage {
                Layout.alignment: Qt.AlignTop
                Layout.topMargin: 1
                source: "qrc:/Tactimo/icons/warning.svg"
                sourceSize: Qt.size(Theme.caption + 1, Theme.caption + 1)
                color: Theme.orange
            }
            Text {
                objectName: "warningText"
                Layout.fillWidth: true
                text: root.status.warning
                textFormat: Text.PlainText
                font.pixelSize: Theme.caption
                color: Theme.orange
                wrapMode: Text.Wrap
                maximumLineCount: root.guidanceLines
                elide: Text.ElideRight
            }
        }
        Text {
            id: hintText
            objectName: "hint"
            visible: !root.warning
            width: parent.width
            text: root.status.hint
            textFormat: Text.PlainText
            font.pixelSize: Theme.caption
            color: Theme.secondaryLabel
            wrapMode: Text.Wrap
            maximumLineCount: root.guidanceLines
            elide: Text.ElideRight
        }
    }
}
