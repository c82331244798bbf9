// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tactimo

// The followed source's last minute, opened and closed by the user. While
// closed only the disclosure exists: nothing below it is created or bound.
ColumnLayout {
    id: root
    required property ClockStore store

    spacing: 8

    AbstractButton {
        id: toggle
        objectName: "historyToggle"
        // Not checkable: a toggle of its own would cut the binding to the store.
        readonly property bool open: root.store.historyOpen
        onClicked: root.store.historyOpen = !open
        padding: 0
        hoverEnabled: true
        Accessible.name: "History"
        Accessible.checkable: true
        Accessible.checked: open
        background: null
        contentItem: Row {
            spacing: 4
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: "\u25B8" // a right-pointing triangle, turned down while open
                rotation: toggle.open ? 90 : 0
                font.pixelSize: Theme.caption
                color: Theme.secondaryLabel
            }
            Text {
                text: "History"
                textFormat: Text.PlainText
                font.pixelSize: Theme.caption
                font.weight: Font.DemiBold
                color: toggle.hovered ? Theme.label : Theme.secondaryLabel
            }
        }
        ToolTip.text: "The tempo and the jitter of the last minute"
        ToolTip.visible: hovered
        ToolTip.delay: 600
    }

    Loader {
        objectName: "historyContent"
        active: root.store.historyOpen
        visible: active
        Layout.fillWidth: true
        sourceComponent: ColumnLayout {
            readonly property clockStatus status: root.store.status
            readonly property var worst: root.store.history.worstJitter
            spacing: 6

            Text {
                objectName: "historyJitter"
                Layout.fillWidth: true
                text: status.jitterRange(worst)
                textFormat: Text.PlainText
                font.pixelSize: Theme.caption
                color: Theme.secondaryLabel
            }

            HistoryGraph {
                objectName: "historyGraph"
                history: root.store.history
                Layout.fillWidth: true
                implicitHeight: 180
                textColor: Theme.secondaryLabel
                gridColor: Qt.rgba(Theme.label.r, Theme.label.g, Theme.label.b, 0.12)
                exactColor: Theme.blue
                shownColor: Qt.rgba(Theme.orange.r, Theme.orange.g, Theme.orange.b, 0.75)
                dotColor: Qt.rgba(Theme.label.r, Theme.label.g, Theme.label.b, 0.5)
                changeColor: Theme.red
                transportColor: Theme.green
                offsetColor: Theme.purple
            }

            Flow {
                objectName: "historyLegend"
                Layout.fillWidth: true
                spacing: 12
                Repeater {
                    model: [
                        { text: "exact", color: Theme.blue, dashed: false },
                        { text: "shown", color: Theme.orange, dashed: false },
                        { text: "tempo change", color: Theme.red, dashed: true },
                        { text: "start", color: Theme.green, dashed: false },
                        { text: "stop, position, gap", color: Theme.secondaryLabel, dashed: true }
                    ].concat(root.store.history.offsetCount > 0
                             ? [{ text: "offset", color: Theme.purple, dashed: false }] : [])
                    delegate: Row {
                        required property var modelData
                        spacing: 4
                        Rectangle {
                            anchors.verticalCenter: parent.verticalCenter
                            width: 10; height: 2
                            color: modelData.color
                            opacity: modelData.dashed ? 0.6 : 1
                        }
                        Text {
                            text: modelData.text
                            font.pixelSize: Theme.caption2
                            color: Theme.secondaryLabel
                        }
                    }
                }
            }
        }
    }
}
