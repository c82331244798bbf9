import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tactimo

// Chooses the input to follow: all inputs, or one by its name. Labels are
// names that other programs chose, shown as plain text on one line.
RowLayout {
    id: root
    required property ClockStore store
    property alias combo: combo

    spacing: 8

    // The separator is a section break of the popup's list, not a row of the
    // model, so neither the keyboard nor a click can ever choose it.
    function rebuild() {
        const wanted = [{ label: "All inputs", value: "", group: "all" }]
        const sources = store.sources
        for (let i = 0; i < sources.length; ++i)
            wanted.push({ label: sources[i].name, value: sources[i].name, group: "inputs" })
        if (store.missingSelection)
            wanted.push({ label: store.selection + " (not connected)", value: store.selection, group: "inputs" })
        // Resetting the model while the popup hands over a choice would lose
        // it, so the rows are only replaced when they differ.
        let same = wanted.length === items.count
        for (let j = 0; same && j < wanted.length; ++j) {
            const row = items.get(j)
            same = row.label === wanted[j].label && row.value === wanted[j].value && row.group === wanted[j].group
        }
        if (!same) {
            items.clear()
            for (let k = 0; k < wanted.length; ++k)
                items.append(wanted[k])
        }
        combo.currentIndex = combo.indexOfValue(store.selection)
    }

    ListModel { id: items }

    Connections {
        target: root.store
        function onSourcesChanged() { root.rebuild() }
        function onSelectionChanged() { root.rebuild() }
    }
    Component.onCompleted: rebuild()

    Label {
        text: "Input"
        textFormat: Text.PlainText
        color: Theme.label
    }

    ComboBox {
        id: combo
        objectName: "inputCombo"
        Layout.fillWidth: true
        Layout.minimumWidth: 0
        model: items
        textRole: "label"
        valueRole: "value"

        ToolTip.text: "The MIDI input to read the clock from"
        ToolTip.visible: hovered && !popup.visible
        ToolTip.delay: 600

        onActivated: index => root.store.selection = items.get(index).value

        contentItem: Text {
            objectName: "inputField"
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
                objectName: "inputRow"
                text: label
                textFormat: Text.PlainText
                font: combo.font
                color: highlighted ? combo.palette.highlightedText : combo.palette.text
                elide: Text.ElideMiddle
                maximumLineCount: 1
                verticalAlignment: Text.AlignVCenter
            }
        }

        popup.contentItem: ListView {
            clip: true
            implicitHeight: contentHeight
            model: combo.popup.visible ? combo.delegateModel : null
            currentIndex: combo.highlightedIndex
            highlightMoveDuration: 0
            section.property: "group"
            section.delegate: Item {
                required property string section
                width: combo.width
                height: section === "all" ? 0 : separator.implicitHeight
                MenuSeparator {
                    id: separator
                    visible: parent.section !== "all"
                    width: parent.width
                }
            }
            ScrollIndicator.vertical: ScrollIndicator {}
        }
    }
}
