import QtQuick
import QtTest
import Tactimo
import TactimoTest

// The window's content against statuses set by the test: tempo, transport,
// position and guidance together, then the picker and the signature fields.
Item {
    id: root
    width: 420
    height: 700

    Component { id: storeComponent; ProbeStore {} }
    Component { id: contentComponent; ContentView {} }
    SignalSpy { id: spy; signalName: "numeratorChanged" }

    TestCase {
        name: "Views"
        when: windowShown

        property var store
        property var content

        function init() {
            store = storeComponent.createObject(null)
            store.selection = ""
            store.numerator = 4
            store.denominator = 4
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
            const live = { receiving: true, bpm: 120, exactBPM: 120.04, jitter: 0.37, sourceName: "Drum Machine" }
            const at = (fields) => Object.assign({}, live, fields)
            const running = "The bar count starts at the next Start, Continue or Song Position from the sender."
            return [
                { tag: "default", sel: "", s: { state: "waiting" }, tempo: "– – –", te: 2, detail: " ", jitter: "",
                  word: "Waiting for clock", lamp: Theme.secondaryLabel, on: 1, glow: false, from: "",
                  guide: "Send MIDI clock to any input of this computer, or to the virtual port from a DAW.", bars: "– – –", be: 2, beat: -1 },
                { tag: "waiting for one input", sel: "Keys", s: { state: "waiting" }, tempo: "– – –", te: 2, detail: " ", jitter: "",
                  word: "Waiting for clock", lamp: Theme.secondaryLabel, on: 1, glow: false, from: "",
                  guide: "Send MIDI clock to Keys.", bars: "– – –", be: 2, beat: -1 },
                { tag: "running, settling", s: at({ state: "running", pulse: true, position: 96 }), tempo: "120.0", te: 1,
                  detail: "120.04 BPM", jitter: "jitter ±0.37 ms", word: "Clock running", lamp: Theme.orange, on: 1, glow: true,
                  from: "from Drum Machine", guide: running, bars: "– – –", be: 2, beat: -1 },
                { tag: "playing 4/4 at 24", s: at({ state: "playing", settled: true, position: 24 }), tempo: "120.0", te: 0,
                  detail: "120.04 BPM", jitter: "jitter ±0.37 ms", word: "Playing", lamp: Theme.green, on: 0.35, glow: false,
                  from: "from Drum Machine", guide: " ", bars: "1 2 1", be: 0, beat: 1 },
                { tag: "playing, bar 3", s: at({ state: "playing", settled: true, pulse: true, position: 192 }), tempo: "120.0", te: 0,
                  detail: "120.04 BPM", jitter: "jitter ±0.37 ms", word: "Playing", lamp: Theme.green, on: 1, glow: true,
                  from: "from Drum Machine", guide: " ", bars: "3 1 1", be: 0, beat: 0 },
                { tag: "stopped, clock running", s: at({ state: "stopped", settled: true, pulse: true, position: 24 }), tempo: "120.0", te: 0,
                  detail: "120.04 BPM", jitter: "jitter ±0.37 ms", word: "Stopped", lamp: Theme.orange, on: 1, glow: true,
                  from: "from Drum Machine", guide: "The clock is still running; the tempo is live.", bars: "1 2 1", be: 1, beat: 1 },
                { tag: "stopped, clock stopped", s: at({ state: "stopped", receiving: false, settled: true, position: 24 }), tempo: "120.0", te: 1,
                  detail: "Last tempo before the clock stopped", jitter: "", word: "Stopped", lamp: Theme.orange, on: 1, glow: false,
                  from: "from Drum Machine", guide: "The sender stopped its clock too.", bars: "1 2 1", be: 1, beat: 1 },
                { tag: "no clock", s: at({ state: "noClock", receiving: false, settled: true, bpm: 133.3 }), tempo: "133.3", te: 1,
                  detail: "Last tempo before the clock stopped", jitter: "", word: "No clock", lamp: Theme.red, on: 1, glow: false,
                  from: "from Drum Machine", guide: "The clock stopped without a Stop message. The last tempo stays on screen.",
                  bars: "– – –", be: 2, beat: -1 },
                { tag: "two other senders", s: at({ state: "playing", settled: true, position: 24, otherSources: ["Sequencer", "Virtual port"] }),
                  tempo: "120.0", te: 0, detail: "120.04 BPM", jitter: "jitter ±0.37 ms", word: "Playing", lamp: Theme.green, on: 0.35,
                  glow: false, from: "from Drum Machine", bars: "1 2 1", be: 0, beat: 1,
                  guide: "Also receiving clock from Sequencer, Virtual port. Choose an input to follow that one." }
            ]
        }

        function test_status(data) {
            store.selection = data.sel ?? ""
            store.show(data.s)
            const tempo = item("tempo")
            compare([tempo.text, emphasis(tempo.color), tempo.font.weight], [data.tempo, data.te, data.te === 2 ? Font.ExtraLight : Font.Bold])
            compare(item("detail").text, data.detail)
            compare(item("jitter").visible ? item("jitter").text : "", data.jitter)
            compare(item("copyButton").enabled, data.te !== 2)

            compare(item("stateWord").text, data.word)
            verify(Qt.colorEqual(item("lamp").color, data.lamp), "lamp colour")
            compare([item("lamp").opacity, item("stateLight").glowing], [data.on, data.glow])
            compare(item("sourceName").visible ? item("sourceName").text : "", data.from)
            const warned = data.guide.startsWith("Also")
            compare([item("hint").visible, item("warningText").visible], [!warned, warned])
            compare(item(warned ? "warningText" : "hint").text, data.guide)
            verify(item("guidance").height >= item(warned ? "warningText" : "hint").implicitHeight)

            const counters = ["barCounter", "beatCounter", "sixteenthCounter"].map(item)
            compare(counters.map(c => c.valueText).join(" "), data.bars)
            compare(counters.map(c => c.emphasis), [data.be, data.be, data.be])
            const strip = Array.from(item("beatStrip").children).filter(c => c.current !== undefined)
            compare(strip.map(c => c.current), [0, 1, 2, 3].map(i => i === data.beat))
            if (data.beat >= 0) {
                verify(Qt.colorEqual(strip[data.beat].color, data.beat === 0 ? Theme.orange : Theme.blue))
                compare(strip[data.beat].opacity, data.be === 1 ? 0.45 : 1)
            }
        }

        function test_numbersFormatLikePrintf() {
            // The exact binary value rounded half to even, never the locale's digits.
            for (const [value, decimals, text] of [[0.125, 2, "0.12"], [0.375, 2, "0.38"], [1.005, 2, "1.00"],
                                                   [123456789.04, 2, "123456789.04"], [NaN, 1, "–"]])
                compare(NumberFormat.format(value, decimals), text)
        }

        function test_copyAndFooter() {
            store.show({ state: "noClock", bpm: 98.46 })
            Clipboard.setText("something else")
            mouseClick(item("copyButton"))
            compare(Clipboard.text(), "98.5")
            compare(item("listeningNotice").text, "Listening on all MIDI inputs and the virtual port “Tactimo”")
            verify(String(Links.donate).endsWith("/donate"))
        }

        function test_longBarsLeaveTheStripOut() {
            store.numerator = 17
            verify(!item("beatStrip").visible)
            store.numerator = 16
            verify(item("beatStrip").visible)
        }

        function test_picker() {
            const combo = item("inputCombo")
            const labels = () => [...Array(combo.count).keys()].map(i => combo.textAt(i))
            store.plug("Drum Machine")
            tryVerify(() => store.sources.length === 2)
            store.selection = "Keys"
            compare(labels(), ["All inputs", "Drum Machine", "Virtual port", "Keys (not connected)"])
            compare(combo.currentText, "Keys (not connected)")
            store.plug("Keys")
            tryCompare(store, "missingSelection", false)
            compare(labels(), ["All inputs", "Drum Machine", "Keys", "Virtual port"])
            compare(combo.currentText, "Keys")

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
            compare([store.selection, combo.currentText], ["Drum Machine", "Drum Machine"])
        }

        function typeInto(field, text) {
            field.forceActiveFocus()
            field.selectAll()
            keyClick(Qt.Key_Delete)
            if (text.includes("\t"))
                field.text = text // a typed Tab would move the focus
            else
                for (const c of text)
                    keyClick(c)
        }

        function test_signatureCommit_data() {
            const n = [["0", 1], ["150", 99], ["-5", 1], ["+7", 7], [" \t7\t ", 7], ["0009", 9], ["7\u00a0", 4],
                       ["3.5", 4], ["abc", 4], ["", 4], ["-", 4], ["1 2", 4], ["9223372036854775807", 99],
                       ["9223372036854775808", 4]]
            const d = [["1", 1], ["16", 16], ["8", 8], ["3", 4], ["32", 4], ["0", 4], ["-2", 4]]
            return n.map(([typed, stored]) => ({ tag: "numerator " + typed, field: "numerator", typed, stored }))
                .concat(d.map(([typed, stored]) => ({ tag: "denominator " + typed, field: "denominator", typed, stored })))
        }

        function test_signatureCommit(data) {
            const field = item(data.field + "Field")
            typeInto(field, data.typed)
            keyClick(Qt.Key_Return)
            compare(store[data.field], data.stored)
            compare(field.text, String(data.stored))
            compare(Number(store.storedSetting(data.field)), data.stored)
        }

        function test_backgroundClickCommitsOnce() {
            const field = item("numeratorField")
            spy.target = store
            spy.clear()
            typeInto(field, "6")
            compare(store.numerator, 4) // still editing
            mouseClick(content, content.width - 4, content.height - 50)
            verify(!field.activeFocus)
            compare([store.numerator, field.text, spy.count], [6, "6", 1])
            // Focus coming and going, Return without an edit: nothing more.
            field.forceActiveFocus()
            keyClick(Qt.Key_Return)
            content.clearFocus()
            compare(spy.count, 1)
        }
    }
}
