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
            // The words themselves are StatusText's; here, what is shown and how.
            const idle = { te: 2, jitter: false, lamp: Theme.secondaryLabel, from: false, bars: "– – –", be: 2, beat: -1 }
            const row = (tag, status, expected) => Object.assign({
                tag, s: status && Object.assign({ receiving: true, settled: true, bpm: 120, exactBPM: 120.04, jitter: 0.37,
                                                  sourceName: "Drum Machine", position: 24 }, status),
                te: 0, jitter: true, lamp: Theme.green, on: 1, glow: false, from: true, warned: false,
                bars: "1 2 1", be: 0, beat: 1 }, status ? {} : idle, expected)
            return [
                row("waiting", null),
                row("running, settling", { state: ClockState.Running, settled: false, pulse: true },
                    { te: 1, lamp: Theme.orange, glow: true, bars: "– – –", be: 2, beat: -1 }),
                row("playing 4/4 at 24", { state: ClockState.Playing }, { on: 0.35 }),
                row("playing, bar 3", { state: ClockState.Playing, pulse: true, position: 192 }, { glow: true, bars: "3 1 1", beat: 0 }),
                row("stopped, clock running", { state: ClockState.Stopped, pulse: true },
                    { lamp: Theme.orange, glow: true, be: 1 }),
                row("stopped, clock stopped", { state: ClockState.Stopped, receiving: false },
                    { te: 1, jitter: false, lamp: Theme.orange, be: 1 }),
                row("no clock", { state: ClockState.NoClock, receiving: false, bpm: 133.3 },
                    { te: 1, jitter: false, lamp: Theme.red, be: 1 }),
                row("two other senders", { state: ClockState.Playing, otherSources: ["Sequencer", "Virtual port"] },
                    { on: 0.35, warned: true })
            ]
        }

        function test_status(data) {
            store.show(data.s ?? { state: ClockState.Waiting })
            const [tempo, jitter, lamp, source] = ["tempo", "jitter", "lamp", "sourceName"].map(item)
            const s = store.status
            for (const [name, text] of [["tempo", s.tempoText], ["detail", s.detailText], ["stateWord", s.stateWord],
                                        ["hint", s.hint], ["warningText", s.warning]])
                compare(item(name).text, text, name)
            compare(emphasis(tempo.color), data.te, "tempo emphasis")
            compare(tempo.font.weight, data.te === 2 ? Font.ExtraLight : Font.Bold, "tempo weight")
            compare(item("copyButton").enabled, data.te !== 2, "copy button")
            compare(jitter.visible ? jitter.text : "", data.jitter ? s.jitterText : "", "jitter")
            verify(Qt.colorEqual(lamp.color, data.lamp), "lamp colour")
            compare(lamp.opacity, data.on, "lamp opacity")
            compare(item("stateLight").glowing, data.glow, "glow")
            compare(source.visible ? source.text : "", data.from ? s.sourceText : "", "from line")
            const guide = item(data.warned ? "warningText" : "hint")
            compare(item("hint").visible, !data.warned, "hint shown")
            compare(item("warningText").visible, data.warned, "warning shown")
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
