// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

pragma Singleton
import QtQuick

// Colours and text styles. Label colours come from the system palette, so the
// window follows light and dark themes; sizes are logical pixels.
QtObject {
    readonly property SystemPalette palette: SystemPalette { colorGroup: SystemPalette.Active }

    readonly property color label: palette.windowText
    readonly property color secondaryLabel: Qt.rgba(label.r, label.g, label.b, 0.62)
    readonly property color faintLabel: Qt.rgba(label.r, label.g, label.b, 0.3)

    readonly property color red: "#e5484d"
    readonly property color orange: "#f08c00"
    readonly property color green: "#30a46c"
    readonly property color blue: "#3e7bfa"
    readonly property color purple: "#a35ed6"

    // Text styles
    readonly property int caption2: 10
    readonly property int caption: 11
    readonly property int headline: 13
    readonly property int title3: 15

    // 0 primary, 1 secondary, 2 faintest
    function emphasis(level) {
        return level === 0 ? label : level === 1 ? secondaryLabel : faintLabel
    }
}
