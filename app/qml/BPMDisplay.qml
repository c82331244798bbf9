// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tactimo

// The tempo in large digits, the exact tempo and jitter, and the copy button.
ColumnLayout {
    id: root
    required property ClockStore store
    readonly property clockStatus status: store.status
    readonly property bool hasTempo: status.bpm !== undefined
    // 0 primary, 1 secondary, 2 faintest
    readonly property int tempoEmphasis: !hasTempo ? 2 : status.receiving && status.settled ? 0 : 1

    function copyTempo() {
        if (hasTempo)
            Clipboard.setText(status.tempoText)
    }

    spacing: 8

    RowLayout {
        Layout.alignment: Qt.AlignHCenter
        spacing: 6

        RollingText {
            id: tempo
            objectName: "tempo"
            Layout.alignment: Qt.AlignBaseline
            text: root.status.tempoText
            font.pixelSize: 76
            font.weight: root.hasTempo ? Font.Bold : Font.ExtraLight
            color: Theme.emphasis(root.tempoEmphasis)
        }
        Text {
            Layout.alignment: Qt.AlignBaseline
            text: "BPM"
            textFormat: Text.PlainText
            font.pixelSize: Theme.title3
            font.weight: Font.DemiBold
            color: Theme.secondaryLabel
        }
    }

    RowLayout {
        Layout.alignment: Qt.AlignHCenter
        spacing: 10

        Text {
            objectName: "detail"
            text: root.status.detailText
            textFormat: Text.PlainText
            font.pixelSize: Theme.caption
            color: Theme.secondaryLabel
        }
        Text {
            visible: root.status.jitterText !== ""
            text: "·"
            textFormat: Text.PlainText
            font.pixelSize: Theme.caption
            color: Theme.secondaryLabel
        }
        Text {
            objectName: "jitter"
            visible: root.status.jitterText !== ""
            text: root.status.jitterText
            textFormat: Text.PlainText
            font.pixelSize: Theme.caption
            color: Theme.secondaryLabel
            HoverHandler { id: jitterHover }
            ToolTip.text: "How much the clock ticks wander around a perfectly steady clock (RMS)"
            ToolTip.visible: jitterHover.hovered
            ToolTip.delay: 600
        }
        ToolButton {
            objectName: "copyButton"
            enabled: root.hasTempo
            padding: 3
            icon.source: "qrc:/Tactimo/icons/copy.svg"
            icon.width: 14
            icon.height: 14
            icon.color: enabled ? Theme.secondaryLabel : Theme.faintLabel
            ToolTip.text: "Copy the tempo"
            ToolTip.visible: hovered
            ToolTip.delay: 600
            onClicked: root.copyTempo()
        }
    }
}
