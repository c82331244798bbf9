// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Layouts
import Tactimo

// One labelled number of the song position; an en dash when there is none.
ColumnLayout {
    id: root
    property string label
    property var value // a number, or undefined
    property bool dimmed: false
    readonly property bool missing: value === undefined || value === null
    readonly property alias valueText: number.text
    // 0 primary, 1 secondary, 2 faintest
    readonly property int emphasis: missing ? 2 : dimmed ? 1 : 0

    spacing: 2

    Text {
        text: root.label.toUpperCase()
        textFormat: Text.PlainText
        font.pixelSize: Theme.caption2
        font.weight: Font.DemiBold
        color: Theme.secondaryLabel
    }
    Text {
        id: number
        text: root.missing ? "–" : String(root.value)
        textFormat: Text.PlainText
        font.pixelSize: 28
        font.weight: Font.DemiBold
        color: Theme.emphasis(root.emphasis)
    }
}
