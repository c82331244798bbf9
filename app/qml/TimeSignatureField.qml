// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Layouts
import Tactimo

// Beats per bar over the note value of a beat, both written into the store.
ColumnLayout {
    id: root
    required property ClockStore store
    property alias numeratorField: numeratorField
    property alias denominatorField: denominatorField

    spacing: 2

    Text {
        text: "SIGNATURE"
        textFormat: Text.PlainText
        font.pixelSize: Theme.caption2
        font.weight: Font.DemiBold
        color: Theme.secondaryLabel
    }

    RowLayout {
        Layout.preferredWidth: 92
        Layout.maximumWidth: 92
        spacing: 4

        SignatureNumberField {
            id: numeratorField
            objectName: "numeratorField"
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            value: root.store.numerator
            help: SignatureInput.numeratorHelp
            read: typed => SignatureInput.numerator(typed)
            onCommitted: n => root.store.numerator = n
        }
        Text {
            text: "/"
            textFormat: Text.PlainText
            font.pixelSize: 15
            color: Theme.secondaryLabel
        }
        SignatureNumberField {
            id: denominatorField
            objectName: "denominatorField"
            Layout.fillWidth: true
            Layout.preferredWidth: 1
            value: root.store.denominator
            help: SignatureInput.denominatorHelp
            read: typed => SignatureInput.denominator(typed)
            onCommitted: n => root.store.denominator = n
        }
    }
}
