// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Controls
import Tactimo

// A number field that commits on Return and on losing focus. Whatever was
// typed, once editing ends it shows the stored number again.
TextField {
    id: field
    property int value
    property string help
    // Turns the typed text into the number to store, or undefined to refuse it.
    property var read: typed => undefined

    // Asks the owner to store n; the owner's binding then updates value.
    signal committed(int n)

    // Idempotent: editingFinished also arrives on every focus loss.
    function commit() {
        const accepted = read(text)
        if (accepted !== undefined && accepted !== value)
            committed(accepted)
        text = String(value)
    }

    text: String(value)
    onValueChanged: text = String(value)
    onEditingFinished: commit()

    placeholderText: ""
    horizontalAlignment: TextInput.AlignHCenter
    font.pixelSize: 15
    font.weight: Font.DemiBold
    selectByMouse: true
    implicitWidth: 40

    ToolTip.text: help
    ToolTip.visible: hovered && !activeFocus
    ToolTip.delay: 600
}
