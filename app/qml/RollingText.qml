// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import Tactimo

// Text whose changed characters roll upward into place. Digits sit in cells of
// equal width, whatever the font. The text can be selected with the mouse.
Item {
    id: root
    property string text
    property font font
    property color color
    property int duration: 150

    implicitWidth: cells.implicitWidth
    implicitHeight: metrics.height
    baselineOffset: metrics.ascent

    FontMetrics {
        id: metrics
        font: root.font
    }

    readonly property real digitWidth: {
        let widest = 0
        for (let d = 0; d <= 9; ++d)
            widest = Math.max(widest, metrics.advanceWidth(String(d)))
        return widest
    }

    function cellWidth(ch) {
        return ch >= "0" && ch <= "9" ? digitWidth : metrics.advanceWidth(ch)
    }

    Row {
        id: cells
        Repeater {
            model: root.text.length
            delegate: Item {
                id: cell
                required property int index
                readonly property string ch: root.text.charAt(index)
                property string shown: ch

                width: root.cellWidth(ch)
                height: root.height
                clip: roll.running

                onChChanged: {
                    outgoing.text = shown
                    shown = ch
                    roll.restart()
                }

                Text {
                    id: incoming
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: cell.shown
                    textFormat: Text.PlainText
                    font: root.font
                    color: root.color
                }
                Text {
                    id: outgoing
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    visible: roll.running
                    textFormat: Text.PlainText
                    font: root.font
                    color: root.color
                }
                ParallelAnimation {
                    id: roll
                    NumberAnimation {
                        target: incoming; property: "y"
                        from: cell.height; to: 0
                        duration: root.duration; easing.type: Easing.OutCubic
                    }
                    NumberAnimation {
                        target: outgoing; property: "y"
                        from: 0; to: -cell.height
                        duration: root.duration; easing.type: Easing.OutCubic
                    }
                }
            }
        }
    }

    // Invisible twin of the digits that takes mouse selection and copying.
    TextEdit {
        anchors.fill: parent
        readOnly: true
        selectByMouse: true
        text: root.text
        textFormat: TextEdit.PlainText
        font: root.font
        color: "transparent"
        selectionColor: Theme.palette.highlight
        selectedTextColor: Theme.palette.highlightedText
        activeFocusOnPress: false
    }
}
