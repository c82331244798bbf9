// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tactimo

// The followed clock against a reference, and the Link session; opened and
// closed by the user. While closed only the disclosure exists. Every text
// comes from the store; names in it are other programs' and shown as plain text.
ColumnLayout {
    id: root
    required property ClockStore store
    readonly property SyncFollower sync: store.sync

    spacing: 8

    AbstractButton {
        id: toggle
        objectName: "syncToggle"
        // Not checkable: a toggle of its own would cut the binding to the store.
        readonly property bool open: root.sync.open
        onClicked: root.sync.open = !open
        padding: 0
        hoverEnabled: true
        Accessible.name: "Sync"
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
                text: "Sync"
                textFormat: Text.PlainText
                font.pixelSize: Theme.caption
                font.weight: Font.DemiBold
                color: toggle.hovered ? Theme.label : Theme.secondaryLabel
            }
        }
        ToolTip.text: "How far the followed clock is from another one, or from the Link session"
        ToolTip.visible: hovered
        ToolTip.delay: 600
    }

    Loader {
        objectName: "syncContent"
        active: root.sync.open
        visible: active
        Layout.fillWidth: true
        sourceComponent: ColumnLayout {
            spacing: 6

            InputPicker {
                Layout.fillWidth: true
                store: root.store
                model: root.sync.references
                role: "reference"
                label: "Compare with"
                tip: "The clock to measure the followed one against"
                choose: value => { root.sync.reference = value }
            }

            GridLayout {
                objectName: "syncFigures"
                Layout.fillWidth: true
                visible: root.sync.figures.length > 0
                columns: 2
                columnSpacing: 12
                rowSpacing: 2
                Repeater {
                    model: root.sync.figures
                    delegate: Text {
                        required property var modelData
                        required property int index
                        objectName: "syncFigureLabel"
                        text: modelData.label
                        textFormat: Text.PlainText
                        font.pixelSize: Theme.caption
                        color: Theme.secondaryLabel
                        Layout.row: index
                        Layout.column: 0
                    }
                }
                Repeater {
                    model: root.sync.figures
                    delegate: Text {
                        required property var modelData
                        required property int index
                        objectName: "syncFigureValue"
                        text: modelData.value
                        textFormat: Text.PlainText
                        font.pixelSize: Theme.headline
                        color: Theme.label
                        Layout.row: index
                        Layout.column: 1
                        Layout.fillWidth: true
                    }
                }
            }

            Text {
                objectName: "syncNotice"
                Layout.fillWidth: true
                text: root.sync.notice
                textFormat: Text.PlainText
                font.pixelSize: Theme.caption
                color: Theme.secondaryLabel
                wrapMode: Text.Wrap
                maximumLineCount: 3
                elide: Text.ElideRight
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 8

                Switch {
                    objectName: "linkSwitch"
                    // Not checkable: the store says whether Link is on.
                    checkable: false
                    checked: root.sync.linkOn
                    onClicked: root.sync.linkOn = !checked
                    text: "Link"
                    padding: 0
                    ToolTip.text: "Listen to the Link session of the network (UDP multicast on every network interface)"
                    ToolTip.visible: hovered
                    ToolTip.delay: 600
                }

                // The session's bar: the lamp of its beat lit, bright on the beat.
                Row {
                    id: lamps
                    objectName: "linkLamps"
                    readonly property var phase: root.sync.linkPhase
                    visible: phase !== undefined
                    spacing: 4
                    Repeater {
                        model: 4
                        delegate: Rectangle {
                            required property int index
                            readonly property bool lit: lamps.phase !== undefined && Math.floor(lamps.phase) === index
                            width: 8; height: 8; radius: 4
                            color: lit ? Theme.blue : Theme.faintLabel
                            opacity: lit && lamps.phase - index >= 0.25 ? 0.5 : 1
                        }
                    }
                }

                Text {
                    objectName: "linkText"
                    Layout.fillWidth: true
                    text: root.sync.linkText
                    textFormat: Text.PlainText
                    font.pixelSize: Theme.caption
                    color: Theme.secondaryLabel
                    elide: Text.ElideRight
                    maximumLineCount: 1
                }
            }
        }
    }
}
