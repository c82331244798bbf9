// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Controls
import Tactimo

// The one window. Its width is fixed and its height follows the content.
ApplicationWindow {
    id: main
    objectName: "main"
    required property ClockStore store

    title: "Tactimo"
    visible: true
    width: content.implicitWidth
    height: content.implicitHeight
    minimumWidth: content.implicitWidth
    maximumWidth: content.implicitWidth
    minimumHeight: content.implicitHeight
    maximumHeight: content.implicitHeight

    ContentView {
        id: content
        store: main.store
        anchors.fill: parent
    }
}
