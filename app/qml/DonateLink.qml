// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import Tactimo

AbstractButton {
    id: link
    objectName: "donateLink"
    hoverEnabled: true
    padding: 0

    readonly property string help: "Tactimo is free. Support its development."

    ToolTip.text: help
    ToolTip.visible: hovered
    ToolTip.delay: 600

    contentItem: Row {
        spacing: 3
        IconImage {
            anchors.verticalCenter: parent.verticalCenter
            source: "qrc:/Tactimo/icons/heart.svg"
            sourceSize: Qt.size(label.font.pixelSize, label.font.pixelSize)
            color: label.color
        }
        Text {
            id: label
            text: "Donate"
            font.pixelSize: Theme.caption
            color: link.hovered ? Qt.darker(Theme.palette.highlight, 1.1) : Theme.palette.highlight
        }
    }
    background: null

    HoverHandler { cursorShape: Qt.PointingHandCursor }
    onClicked: Qt.openUrlExternally(Links.donate)
}
