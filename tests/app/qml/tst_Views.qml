import QtQuick
import QtTest
import Tactimo
import TactimoTest

// The window's content against statuses set by the test: tempo, transport,
// position and guidance together, then the picker and the signature fields.
Item {
    id: root
    width: 420; height: 700

    Component { id: storeComponent; ProbeStore {} }
    Component { id: contentComponent; ContentView {} }
    SignalSpy { id: spy; signalName: "numeratorChanged" }

    TestCase {
        name: "Views"; when: windowShown

        property var store; property var content

        function init() {
            store = storeComponent.createObject(null, { selection: "", numerator: 4, denominator: 4 })
            content = contentComponent.createObject(root, { store: store })
            waitForRendering(content)
        }
        function cleanup() {
            content.destroy() // before the store it reads
            store.destroy()
            wait(0)
        }
        function item(name) { return findChild(content, name) }
        function emphasis(color) { return [0, 1, 2].find(level => Qt.colorEqual(color, Theme.emphasis(level))) }

        function test_status_data() {
            // Each row: a tag, the status shown (none: waiting), and what differs from a followed, playing clock.
            const idle = { tempo: "– – –", te: 2, detail: " ", jitter: "", word: "Waiting for clock", lamp: Theme.secondaryLabel,
                           from: "", bars: "– – –", be: 2, beat: -1 }
            const gone = { te: 1, detail: "Last tempo before the clock stopped", jitter: "" }
            const row = (tag, status, expected) => Object.assign({
                tag, s: status && Object.assign({ receiving: true, settled: true, bpm: 120, exactBPM: 120.04, jitter: 0.37,
                                                  sourceName: "Drum Machine", position: 24 }, status),
                tempo: "120.0", te: 0, detail: "120.04 BPM", jitter: "jitter ±0.37 ms", word: "Playing", lamp: Theme.green,
                on: 1, glow: false, from: "from Drum Machine", guide: " ", bars: "1 2 1", be: 0, beat: 1 }, status ? {} : idle, expected)
            return [
                row("default", null, { guide: "Send MIDI clock to any input of this computer, or to the virtual port from a DAW." }),
                row("waiting for one input", null, { sel: "Keys", guide: "Send MIDI clock to Keys." }),
                row("running, settling", { state: ClockState.Running, settled: false, pulse: true },
                    { te: 1, word: "Clock running", lamp: Theme.orange, glow: true, bars: "– – –", be: 2, beat: -1,
                      guide: "The bar count starts at the next Start, Continue or Song Position from the sender." }),
                row("playing 4/4 at 24", { state: ClockState.Playing }, { on: 0.35 }),
                row("playing, bar 3", { state: ClockState.Playing, pulse: true, position: 192 }, { glow: true, bars: "3 1 1", beat: 0 }),
                row("stopped, clock running", { state: ClockState.Stopped, pulse: true },
                    { word: "Stopped", lamp: Theme.orange, glow: true, be: 1, guide: "The clock is still running; the tempo is live." }),
                row("stopped, clock stopped", { state: ClockState.Stopped, receiving: false }, Object.assign(
                    { word: "Stopped", lamp: Theme.orange, be: 1, guide: "The sender stopped its clock too." }, gone)),
                row("no clock", { state: ClockState.NoClock, receiving: false, bpm: 133.3 }, Object.assign(
                    { tempo: "133.3", word: "No clock", lamp: Theme.red, be: 1,
                      guide: "The clock stopped without a Stop message. The last tempo stays on screen." }, gone)),
                row("two other senders", { state: ClockState.Playing, otherSources: ["Sequencer", "Virtual port"] },
                    { on: 0.35, guide: "Also receiving clock from Sequencer, Virtual port. Choose an input to follow that one." })
            ]
        }

        function test_status(data) {
            store.selection = data.sel ?? ""
            store.show(data.s ?? { state: ClockState.Waiting })
            const [tempo, jitter, lamp, source] = ["tempo", "jitter", "lamp", "sourceName"].map(item)
            compare(tempo.text, data.tempo, "tempo")
            compare(emphasis(tempo.color), data.te, "tempo emphasis")
            compare(tempo.font.weight, data.te === 2 ? Font.ExtraLight : Font.Bold, "tempo weight")
            compare(item("copyButton").enabled, data.te !== 2, "copy button")
            compare(item("detail").text, data.detail, "detail line")
            compare(jitter.visible ? jitter.text : "", data.jitter, "jitter")
            verify(Qt.colorEqual(lamp.color, data.lamp), "lamp colour")
            compare(lamp.opacity, data.on, "lamp opacity")
            compare(item("stateLight").glowing, data.glow, "glow")
            compare(item("stateWord").text, data.word, "state word")
            compare(source.visible ? source.text : "", data.from, "from line")
            const warned = data.guide.startsWith("Also"), guide = item(warned ? "warningText" : "hint")
            compare(item("hint").visible, !warned, "hint shown")
            compare(item("warningText").visible, warned, "warning shown")
            compare(guide.text, data.guide, "guidance")
            verify(item("guidance").height >= guide.implicitHeight, "guidance row holds its text")

            const counters = ["barCounter", "beatCounter", "sixteenthCounter"].map(item)
            compare(counters.map(c => c.valueText).join(" "), data.bars, "bar, beat, sixteenth")
            for (const c of counters)
                compare(c.emphasis, data.be, c.objectName + " emphasis")
            const strip = Array.from(item("beatStrip").children).filter(c => c.current !== undefined)
            compare(strip.map(c => c.current), [0, 1, 2, 3].map(i => i === data.beat), "current cell")
            if (data.beat >= 0) {
                verify(Qt.colorEqual(strip[data.beat].color, data.beat === 0 ? Theme.orange : Theme.blue), "cell colour")
                compare(strip[data.beat].opacity, data.be === 1 ? 0.45 : 1, "cell opacity")
            }
        }

        // The counters follow a signature typed while a position shows.
        function test_positionFollowsTheSignature() {
            store.show({ state: ClockState.Playing, position: 96 })
            const bars = () => ["barCounter", "beatCounter", "sixteenthCounter"].map(n => item(n).valueText).join(" ")
            compare(bars(), "2 1 1")
            store.numerator = 3
            compare(bars(), "2 2 1")
            store.denominator = 8
            compare(bars(), "3 3 1")
        }

        function test_copyHelpAndStrip() {
            store.show({ state: ClockState.NoClock, bpm: 98.46 })
            Clipboard.setText("something else")
            mouseClick(item("copyButton"))
            compare(Clipboard.text(), "98.5")
            // The exact binary value rounded half to even, never the locale's digits.
            for (const [value, decimals, text] of [[0.125, 2, "0.12"], [0.375, 2, "0.38"], [1.005, 2, "1.00"],
                                                   [123456789.04, 2, "123456789.04"], [NaN, 1, "–"]])
                compare(NumberFormat.format(value, decimals), text)
            // The tooltips are written from the rule they describe.
            compare(item("numeratorField").help, "Beats per bar, 1–99")
            compare(item("denominatorField").help, "The note value of a beat: 1, 2, 4, 8 or 16")
            // Too many beats for the strip: it is left out.
            store.numerator = 17
            verify(!item("beatStrip").visible, "17 beats")
            store.numerator = 16
            verify(item("beatStrip").visible, "16 beats")
        }

        // The current label, then every label of the list.
        function labels(combo) {
            return [combo.currentText, ...[...Array(combo.count).keys()].map(i => combo.textAt(i))]
        }

        function test_picker() {
            const combo = item("inputCombo")
            store.plug("Drum Machine")
            tryCompare(combo, "count", 3)
            store.selection = "Keys"
            compare(labels(combo), ["Keys (not connected)", "All inputs", "Drum Machine", "Virtual port", "Keys (not connected)"])
            store.plug("Keys")
            tryCompare(store, "missingSelection", false)
            compare(labels(combo), ["Keys", "All inputs", "Drum Machine", "Keys", "Virtual port"])

            // Down from "All inputs" lands on the first input, never on the separator; in the popup too.
            store.selection = ""
            combo.forceActiveFocus()
            keyClick(Qt.Key_Down)
            compare(store.storedSetting("selection"), "Drum Machine")
            keyClick(Qt.Key_Up)
            compare(store.selection, "")
            combo.popup.open()
            tryCompare(combo.popup, "opened", true)
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Return)
            tryCompare(combo.popup, "visible", false)
            compare(store.selection, "Drum Machine")
            compare(combo.currentText, "Drum Machine")
        }

        // Inputs come and go while the popup is open: the rows stay, the
        // highlight stays on its input, and Return picks that input.
        function test_pickerKeepsTheChoiceInProgress() {
            const combo = item("inputCombo")
            const first = store.plug("Drum Machine")
            tryCompare(combo, "count", 3)
            combo.forceActiveFocus()
            combo.popup.open()
            tryCompare(combo.popup, "opened", true)
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Down)
            compare(combo.textAt(combo.highlightedIndex), "Virtual port")
            const rowsBefore = findChild(combo.popup.contentItem, "inputRow")

            store.plug("Keys") // lands before "Virtual port"
            tryCompare(combo, "count", 4)
            compare(combo.textAt(combo.highlightedIndex), "Virtual port", "after an insert above it")
            verify(findChild(combo.popup.contentItem, "inputRow") === rowsBefore, "rows are kept, not rebuilt")
            store.unplug(first) // above it
            tryCompare(combo, "count", 3)
            compare(combo.textAt(combo.highlightedIndex), "Virtual port", "after a removal above it")
            verify(combo.popup.visible, "the popup stays open")
            compare(store.selection, "", "nothing chosen yet")

            keyClick(Qt.Key_Return)
            tryCompare(combo.popup, "visible", false)
            compare(store.selection, "Virtual port")
            compare(combo.currentText, "Virtual port")
        }

        function typeInto(field, text) {
            field.forceActiveFocus()
            field.selectAll()
            keyClick(Qt.Key_Delete)
            if (/[\t\u00a0\uff10-\uff19]/.test(text)) field.text = text // a typed Tab would move the focus
            else text.split("").forEach(c => keyClick(c))
        }

        function test_signatureCommit_data() {
            const n = [["0", 1], ["150", 99], ["-5", 1], ["+7", 7], [" \t7\t ", 7], ["0009", 9], ["7\u00a0", 4],
                       ["3.5", 4], ["abc", 4], ["", 4], ["-", 4], ["1 2", 4], ["+-7", 4], ["\uff17", 4],
                       ["9223372036854775807", 99], ["9223372036854775808", 4], ["-9223372036854775808", 1],
                       ["-9223372036854775809", 4], ["0000000000000000000000000007", 7], ["99999999999999999999", 4]]
            const d = [["1", 1], ["16", 16], ["8", 8], ["3", 4], ["32", 4], ["0", 4], ["-2", 4], ["+08", 8],
                       ["18446744073709551624", 4]]
            const rows = field => ([typed, stored]) => ({ tag: field + " " + typed, field, typed, stored })
            return n.map(rows("numerator")).concat(d.map(rows("denominator")))
        }

        function test_signatureCommit(data) {
            const field = item(data.field + "Field")
            typeInto(field, data.typed)
            keyClick(Qt.Key_Return)
            compare(store[data.field], data.stored, "stored in the store")
            compare(field.text, String(data.stored), "shown in the field")
            compare(Number(store.storedSetting(data.field)), data.stored, "written to the settings")
        }

        function test_backgroundClickCommitsOnce() {
            const field = item("numeratorField")
            spy.target = store
            typeInto(field, "6")
            compare(store.numerator, 4, "still editing")
            mouseClick(content, content.width - 4, content.height - 50)
            verify(!field.activeFocus, "focus gone")
            compare(store.numerator, 6)
            compare(field.text, "6")
            compare(spy.count, 1)
            // Focus coming and going, Return without an edit: nothing more.
            field.forceActiveFocus()
            keyClick(Qt.Key_Return)
            content.clearFocus()
            compare(spy.count, 1)
        }
    }
}
