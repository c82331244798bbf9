// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tactimo

// The window's rows, and keyboard focus for the whole window.
Item {
    id: root
    required property ClockStore store

    implicitWidth: 420
    implicitHeight: rows.implicitHeight

    // Takes the focus away from any field, which ends (and commits) its edit.
    function clearFocus() {
        background.forceActiveFocus()
    }

    Component.onCompleted: Qt.callLater(clearFocus)

    // Declared first so that it lies below every control: it only gets the
    // clicks that nothing else takes.
    MouseArea {
        id: background
        objectName: "background"
        anchors.fill: parent
        onClicked: root.clearFocus()
    }

    ColumnLayout {
        id: rows
        width: parent.width
        spacing: 0

        InputPicker {
            store: root.store
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.topMargin: 18
        }

        BPMDisplay {
            store: root.store
            Layout.fillWidth: true
            Layout.maximumWidth: Number.POSITIVE_INFINITY // its rows are centred in the full width
            Layout.topMargin: 20
            Layout.bottomMargin: 20
        }

        Divider { Layout.fillWidth: true }

        TransportPanel {
            store: root.store
            Layout.fillWidth: true
            Layout.margins: 24
            Layout.bottomMargin: 12
        }

        HistorySection {
            store: root.store
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.bottomMargin: 12
        }

        SyncSection {
            store: root.store
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.bottomMargin: 16
        }

        Divider { Layout.fillWidth: true }

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 8
            Layout.bottomMargin: 8

            Text {
                objectName: "listeningNotice"
                text: root.store.serviceNotice
                font.pixelSize: Theme.caption2
                color: Theme.faintLabel
                elide: Text.ElideMiddle
                maximumLineCount: 1
                Layout.fillWidth: true
                Layout.minimumWidth: 0
                // Whole pixels: the layout rounds, and a fraction short elides.
                Layout.preferredWidth: Math.ceil(implicitWidth)
                Layout.maximumWidth: Math.ceil(implicitWidth)
            }

            Item { Layout.fillWidth: true }

            DonateLink {}
        }
    }
}
