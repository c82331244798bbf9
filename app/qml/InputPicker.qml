// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tactimo

// Chooses the input to follow: all inputs, or one by its name; or, given
// other rows, the reference to compare with. The rows come from the store;
// their labels are names that other programs chose, shown as plain text on
// one line.
RowLayout {
    id: root
    required property ClockStore store
    property alias combo: combo
    property InputListModel model: root.store.inputs
    property string label: "Input"
    property string tip: "The MIDI input to read the clock from"
    property var choose: value => { root.store.selection = value }
    // Names the combo box and its rows: "inputCombo", "inputField", "inputRow".
    property string role: "input"

    spacing: 8

    // Rows come and go under an open popup: the highlight follows its input,
    // so that Return still picks what the user pointed at. The combo box
    // itself keeps only the row number, and moves it one step at a time.
    Connections {
        target: root.model
        function onUpdated() {
            if (!combo.popup.visible || combo.highlightedIndex < 0)
                return
            const now = root.model.rowNow(combo.highlightedIndex)
            if (now < 0)
                return
            for (let step = now - combo.highlightedIndex; step > 0; --step)
                combo.incrementCurrentIndex()
            for (let step = combo.highlightedIndex - now; step > 0; --step)
                combo.decrementCurrentIndex()
        }
    }

    Label {
        text: root.label
        textFormat: Text.PlainText
        color: Theme.label
    }

    ComboBox {
        id: combo
        objectName: root.role + "Combo"
        Layout.fillWidth: true
        Layout.minimumWidth: 0
        model: root.model
        textRole: "label"
        valueRole: "value"
        currentIndex: root.model.selectedRow

        ToolTip.text: root.tip
        ToolTip.visible: hovered && !popup.visible
        ToolTip.delay: 600

        onActivated: index => root.choose(valueAt(index))

        contentItem: Text {
            objectName: root.role + "Field"
            leftPadding: 6
            rightPadding: combo.indicator.width + combo.spacing
            text: combo.displayText
            textFormat: Text.PlainText
            font: combo.font
            color: combo.palette.buttonText
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideMiddle
            maximumLineCount: 1
        }

        delegate: ItemDelegate {
            required property int index
            required property string label
            width: ListView.view ? ListView.view.width : combo.width
            highlighted: combo.highlightedIndex === index
            contentItem: Text {
                objectName: root.role + "Row"
                text: label
                textFormat: Text.PlainText
                font: combo.font
                color: highlighted ? combo.palette.highlightedText : combo.palette.text
                elide: Text.ElideMiddle
                maximumLineCount: 1
                verticalAlignment: Text.AlignVCenter
            }
        }

        // The separator is a section break of the popup's list, not a row of
        // the model, so neither the keyboard nor a click can ever choose it.
        popup.contentItem: ListView {
            clip: true
            implicitHeight: contentHeight
            model: combo.popup.visible ? combo.delegateModel : null
            currentIndex: combo.highlightedIndex
            highlightMoveDuration: 0
            section.property: "group"
            section.delegate: MenuSeparator { width: combo.width }
            ScrollIndicator.vertical: ScrollIndicator {}
        }
    }
}
