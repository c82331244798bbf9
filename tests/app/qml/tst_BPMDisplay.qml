import QtQuick
import QtTest
import Tactimo
import TactimoTest

// The input picker and the tempo readout.
Item {
    id: root
    width: 420
    height: 400

    TestCase {
        id: testCase
        name: "InputPickerAndBPMDisplay"
        when: windowShown

        Component { id: storeComponent; ProbeStore {} }

        // Views go before the stores they read.
        property var made: []
        function makeStoreObject() {
            const store = storeComponent.createObject(null)
            made.push(store)
            return store
        }
        function make(component, properties) {
            const view = component.createObject(root, properties)
            made.unshift(view)
            return view
        }
        function cleanup() {
            for (const object of made)
                object.destroy()
            made = []
            wait(0)
        }
        Component { id: displayComponent; BPMDisplay { width: 420 } }
        Component { id: pickerComponent; InputPicker { width: 372 } }

        function makeStore() {
            const store = makeStoreObject()
            store.selection = ""
            return store
        }

        function child(root, name) {
            return findChild(root, name)
        }

        function test_defaultStatus() {
            const store = makeStore()
            const view = make(displayComponent, { store: store })
            const tempo = child(view, "tempo")
            compare(tempo.text, "– – –")
            compare(tempo.font.weight, Font.ExtraLight)
            verify(Qt.colorEqual(tempo.color, Theme.faintLabel))
            compare(child(view, "detail").text, " ")
            verify(!child(view, "jitter").visible)
            verify(!child(view, "copyButton").enabled)
        }

        function test_tempoEmphasisAndDetail_data() {
            return [
                { tag: "settling", status: { state: "running", receiving: true, bpm: 120.0, exactBPM: 120.04, jitter: 0.37 },
                  tempo: "120.0", emphasis: 1, detail: "120.04 BPM", jitter: "jitter ±0.37 ms" },
                { tag: "settled", status: { state: "playing", receiving: true, settled: true, bpm: 120.0, exactBPM: 120.04, jitter: 0.37 },
                  tempo: "120.0", emphasis: 0, detail: "120.04 BPM", jitter: "jitter ±0.37 ms" },
                { tag: "no jitter yet", status: { state: "running", receiving: true, bpm: 98.5, exactBPM: 98.46 },
                  tempo: "98.5", emphasis: 1, detail: "98.46 BPM", jitter: "" },
                { tag: "clock stopped", status: { state: "noClock", receiving: false, settled: true, bpm: 133.3, exactBPM: 133.33 },
                  tempo: "133.3", emphasis: 1, detail: "Last tempo before the clock stopped", jitter: "" },
                { tag: "receiving without a tempo", status: { state: "running", receiving: true },
                  tempo: "– – –", emphasis: 2, detail: " ", jitter: "" }
            ]
        }

        function test_tempoEmphasisAndDetail(data) {
            const store = makeStore()
            const view = make(displayComponent, { store: store })
            store.show(data.status)
            const tempo = child(view, "tempo")
            compare(tempo.text, data.tempo)
            compare(tempo.font.weight, data.tempo === "– – –" ? Font.ExtraLight : Font.Bold)
            verify(Qt.colorEqual(tempo.color, Theme.emphasis(data.emphasis)))
            compare(child(view, "detail").text, data.detail)
            compare(child(view, "jitter").visible, data.jitter !== "")
            if (data.jitter !== "")
                compare(child(view, "jitter").text, data.jitter)
            compare(child(view, "copyButton").enabled, data.tempo !== "– – –")
        }

        // printf's rounding of the exact binary value (halves to even), never the locale's.
        function test_numbersFormatLikePrintf_data() {
            return [
                { tag: "120.0", value: 120, decimals: 1, text: "120.0" },
                { tag: "0.125", value: 0.125, decimals: 2, text: "0.12" },
                { tag: "0.375", value: 0.375, decimals: 2, text: "0.38" },
                { tag: "2.5", value: 2.5, decimals: 0, text: "2" },
                { tag: "1.005", value: 1.005, decimals: 2, text: "1.00" },
                { tag: "300.25", value: 300.25, decimals: 1, text: "300.2" },
                { tag: "large", value: 123456789.04, decimals: 2, text: "123456789.04" },
                { tag: "not a number", value: NaN, decimals: 1, text: "–" }
            ]
        }

        function test_numbersFormatLikePrintf(data) {
            compare(NumberFormat.format(data.value, data.decimals), data.text)
        }

        function test_copyPutsTheTempoOnTheClipboard() {
            const store = makeStore()
            const view = make(displayComponent, { store: store })
            Clipboard.setText("something else")
            store.show({ state: "noClock", bpm: 98.5 })
            waitForRendering(view)
            mouseClick(child(view, "copyButton"))
            compare(Clipboard.text(), "98.5")

            // Nothing to copy: the clipboard stays as it was.
            store.show({ state: "waiting" })
            Clipboard.setText("kept")
            view.copyTempo()
            compare(Clipboard.text(), "kept")
        }

        function test_rollingDigitsSettleOnTheNewValue() {
            const store = makeStore()
            const view = make(displayComponent, { store: store })
            store.show({ state: "running", receiving: true, bpm: 119.9, exactBPM: 119.9 })
            store.show({ state: "running", receiving: true, bpm: 120.1, exactBPM: 120.1 })
            const tempo = child(view, "tempo")
            compare(tempo.text, "120.1")
            // The digits can be selected and copied as text.
            const selectable = tempo.children[1]
            selectable.selectAll()
            compare(selectable.selectedText, "120.1")
            selectable.copy()
            compare(Clipboard.text(), "120.1")
            // Once the roll ends every cell shows its character at rest.
            tryVerify(() => {
                const shown = []
                for (let i = 0; i < 5; ++i)
                    shown.push(tempo.children[0].children[i].shown)
                return shown.join("") === "120.1"
            }, 1000)
        }

        function itemLabels(picker) {
            const labels = []
            for (let i = 0; i < picker.combo.count; ++i)
                labels.push(picker.combo.textAt(i))
            return labels
        }

        function test_pickerListsInputsAndTheMissingChoice() {
            const store = makeStore()
            store.addSource("Drum Machine")
            store.addSource("Sequencer")
            store.announceSetupChange()
            tryCompare(store.sources, "length", 3)
            const picker = make(pickerComponent, { store: store })
            compare(itemLabels(picker), ["All inputs", "Drum Machine", "Sequencer", "Virtual port"])
            compare(picker.combo.currentText, "All inputs")

            store.selection = "Keyboard"
            compare(itemLabels(picker), ["All inputs", "Drum Machine", "Sequencer", "Virtual port",
                                         "Keyboard (not connected)"])
            compare(picker.combo.currentText, "Keyboard (not connected)")

            // Plugged in: the regular item takes the place of the missing one.
            store.addSource("Keyboard")
            store.announceSetupChange()
            tryCompare(store, "missingSelection", false)
            compare(itemLabels(picker), ["All inputs", "Drum Machine", "Sequencer", "Keyboard", "Virtual port"])
            compare(picker.combo.currentText, "Keyboard")
            compare(store.selection, "Keyboard")
        }

        function test_choosingAnInputAndTheSeparator() {
            const store = makeStore()
            store.addSource("Drum Machine")
            store.announceSetupChange()
            tryCompare(store.sources, "length", 2)
            const picker = make(pickerComponent, { store: store })
            const combo = picker.combo

            // Down from "All inputs" lands on the first input, never on a separator.
            combo.forceActiveFocus()
            keyClick(Qt.Key_Down)
            compare(store.selection, "Drum Machine")
            compare(store.storedSetting("selection"), "Drum Machine")
            keyClick(Qt.Key_Up)
            compare(store.selection, "")
            compare(store.storedSetting("selection"), "")

            // In the open popup, too.
            combo.popup.open()
            tryCompare(combo.popup, "opened", true)
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Return)
            tryCompare(combo.popup, "visible", false)
            compare(store.selection, "Drum Machine")
            compare(combo.currentText, "Drum Machine")
        }
    }
}
