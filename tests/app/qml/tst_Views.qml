// SPDX-FileCopyrightText: 2026 The Tactimo developers
// SPDX-License-Identifier: GPL-3.0-or-later

import QtQuick
import QtQuick.Controls
import QtTest
import Tactimo
import TactimoTest

// The window's content on a store showing set statuses or clocks sent in simulated time; saves the README's screenshots.
Item {
    id: root
    width: 420; height: 900

    Rectangle { id: frame; width: 420; height: childrenRect.height; color: Theme.palette.window }
    Component { id: storeComponent; ProbeStore {} }
    Component { id: contentComponent; ContentView {} }
    SignalSpy { id: spy }
    Text { id: plain; textFormat: Text.PlainText; visible: false }

    TestCase {
        name: "Views"; when: windowShown

        property var store; property var content

        function init() {
            store = storeComponent.createObject(null, { selection: "", numerator: 4, denominator: 4, historyOpen: false })
            content = contentComponent.createObject(frame, { store: store })
            waitForRendering(content)
        }
        function cleanup() {
            content.destroy() // before the store it reads
            store.destroy(), wait(0)
        }
        function item(name) { return findChild(content, name) }
        function save(screenshot) { // once the digits have rolled
            wait(250), grabImage(frame).save(screenshotDir + "/" + screenshot + ".png")
        }
        // Laid out as the characters it holds: markup would take another width.
        function asWritten(text) {
            plain.font = text.font, plain.text = text.text
            return Math.abs(text.implicitWidth - text.leftPadding - text.rightPadding - plain.implicitWidth) < 0.5
        }

        // Each row: the status shown (none: waiting), what differs from a followed, playing clock. Names are text, long ones cut;
        // the copy button copies the tempo, and the counters follow the signature.
        function test_status_data() {
            const idle = { te: 2, jitter: false, lamp: Theme.secondaryLabel, from: false, bars: "– – –", be: 2, beat: -1 }
            const row = (tag, status, expected) => Object.assign({
                tag, selection: "", s: status && Object.assign({ receiving: true, settled: true, bpm: 120, exactBPM: 120.04,
                                                               jitter: 0.37, sourceName: "<b>Drum</b> &amp;", position: 24 }, status),
                te: 0, jitter: true, lamp: Theme.green, on: 1, glow: false, from: true, warned: false,
                bars: "1 2 1", be: 0, beat: 1, cut: false }, status ? {} : idle, expected)
            const longName = "Very long name ".repeat(667)
            return [
                row("waiting", null, { selection: "<i>Keys</i>" }),
                row("running, settling", { state: ClockState.Running, settled: false, pulse: true },
                    { te: 1, lamp: Theme.orange, glow: true, bars: "– – –", be: 2, beat: -1 }),
                row("playing 4/4 at 24", { state: ClockState.Playing, sourceName: "Drum Machine" }, { on: 0.35, shot: "playing" }),
                row("playing, bar 3", { state: ClockState.Playing, pulse: true, position: 192 },
                    { glow: true, bars: "3 1 1", beat: 0, signatures: ["3 3 1", "6 2 1"] }),
                row("stopped, clock running", { state: ClockState.Stopped, pulse: true }, { lamp: Theme.orange, glow: true, be: 1 }),
                row("stopped, clock stopped", { state: ClockState.Stopped, receiving: false },
                    { te: 1, jitter: false, lamp: Theme.orange, be: 1 }),
                row("no clock", { state: ClockState.NoClock, receiving: false, bpm: 133.3 },
                    { te: 1, jitter: false, lamp: Theme.red, be: 1 }),
                row("another sender, no MIDI service", { state: ClockState.Playing, otherSources: ["<i>Seq</i>"] },
                    { on: 0.35, warned: true, unreachable: true }),
                row("long names", { state: ClockState.Playing, sourceName: longName + "A", otherSources: [longName + "B"] },
                    { on: 0.35, warned: true, cut: true }),
                row("a long selection", null, { selection: longName + "C", cut: true })
            ]
        }

        function test_status(data) {
            store.selection = data.selection, store.setReachable(!data.unreachable)
            store.show(data.s ?? { state: ClockState.Waiting }), waitForRendering(content)
            const [tempo, jitter, lamp, source, hint, warning, field, notice] =
                ["tempo", "jitter", "lamp", "sourceName", "hint", "warningText", "inputField", "listeningNotice"].map(item)
            const texts = store.texts()
            for (const name of ["tempo", "detail", "stateWord", "hint", "warningText", "listeningNotice"])
                compare(item(name).text, texts[name], name)
            verify(Qt.colorEqual(tempo.color, Theme.emphasis(data.te)), "tempo emphasis")
            compare([tempo.font.weight, item("copyButton").enabled], [data.te === 2 ? Font.ExtraLight : Font.Bold, data.te !== 2])
            compare(jitter.visible ? jitter.text : "", data.jitter ? texts.jitter : "", "jitter")
            verify(Qt.colorEqual(lamp.color, data.lamp), "lamp colour")
            compare([lamp.opacity, item("stateLight").glowing], [data.on, data.glow], "lamp opacity, glow")
            compare(source.visible ? source.text : "", data.from ? texts.sourceName : "", "from line")
            compare([hint.visible, warning.visible], [!data.warned, data.warned], "hint, warning shown")
            const guide = data.warned ? warning : hint
            verify(item("guidance").height >= guide.implicitHeight, "guidance row holds its text")
            for (const text of [source, guide, field, notice]) verify(asWritten(text), text.objectName + " as written")
            compare([source.truncated, guide.truncated, notice.truncated], [data.cut && data.from, data.cut, false], "cut")
            verify(source.lineCount === 1 && guide.lineCount <= 3 && field.lineCount === 1 && notice.lineCount === 1, "lines")
            verify(content.implicitHeight < 600, "height " + content.implicitHeight)
            const counters = ["barCounter", "beatCounter", "sixteenthCounter"].map(item)
            compare(counters.map(c => c.valueText).join(" "), data.bars, "bar, beat, sixteenth")
            compare(counters.map(c => c.emphasis), [data.be, data.be, data.be], "counter emphasis")
            const strip = Array.from(item("beatStrip").children).filter(c => c.current !== undefined)
            compare(strip.map(c => c.current), [0, 1, 2, 3].map(i => i === data.beat), "current cell")
            if (data.beat >= 0) {
                verify(Qt.colorEqual(strip[data.beat].color, data.beat === 0 ? Theme.orange : Theme.blue), "cell colour")
                compare(strip[data.beat].opacity, data.be === 1 ? 0.45 : 1, "cell opacity")
            }
            if (data.shot) save(data.shot)
            Clipboard.setText(""), mouseClick(item("copyButton")), compare(Clipboard.text(), data.te === 2 ? "" : texts.tempo, "copied")
            if (data.signatures) { // 3/4, 3/8; the strip is left out past 16 beats
                const bars = () => counters.map(c => c.valueText).join(" ")
                compare([3, 8].map((n, i) => (i ? store.denominator = n : store.numerator = n, bars())), data.signatures)
                compare([17, 16].map(n => (store.numerator = n, item("beatStrip").visible)), [false, true], "17, 16 beats")
            }
        }

        // A remembered input that is missing; one separator, after "All inputs", where the keys
        // never land. Inputs come and go while the popup is open: the rows and the highlight stay.
        function test_picker() {
            const combo = item("inputCombo"), drum = store.plug("<b>Drum</b>")
            const labels = () => [combo.currentText, ...[...Array(combo.count).keys()].map(i => combo.textAt(i))].join("|")
            store.selection = "Tuba", store.selection = "Keys"
            compare(labels(), "Keys (not connected)|All inputs|<b>Drum</b>|Virtual port|Keys (not connected)")
            store.plug("Keys"), compare(labels(), "Keys|All inputs|<b>Drum</b>|Keys|Virtual port")
            store.selection = "", combo.forceActiveFocus(), keyClick(Qt.Key_Down)
            compare(store.storedSetting("selection"), "<b>Drum</b>")
            keyClick(Qt.Key_Up), combo.popup.open(), tryCompare(combo.popup, "opened", true)
            const list = combo.popup.contentItem, rows = () => Array.from(list.contentItem.children)
                .filter(d => d.contentItem && d.contentItem.objectName === "inputRow").map(d => d.contentItem)
            tryVerify(() => rows().length === 4, 1000, "a row for each label")
            rows().forEach(row => verify(asWritten(row), row.text))
            const separators = Array.from(list.contentItem.children).filter(d => d instanceof MenuSeparator)
            compare(separators.map(s => s.y > rows()[0].parent.y), [true], "one separator, after all inputs")
            keyClick(Qt.Key_Down), keyClick(Qt.Key_Down), keyClick(Qt.Key_Down)
            const rowsBefore = rows(), highlighted = () => combo.textAt(combo.highlightedIndex)
            compare(highlighted(), "Virtual port")
            store.plug("Pads"), compare(highlighted(), "Virtual port", "after an insert above it")
            verify(rows()[0] === rowsBefore[0], "rows are kept, not rebuilt")
            keyClick(Qt.Key_Up), keyClick(Qt.Key_Up), store.plug("Tuba")
            compare(highlighted(), "Keys", "after an insert below it")
            store.unplug(drum), compare(highlighted(), "Keys", "after a removal above it")
            store.plug("Zed"), compare([highlighted(), store.inputs.rowNow(5)], ["Keys", -1], "no row 5 stood before")
            compare([combo.popup.visible, store.selection], [true, ""], "still choosing")
            keyClick(Qt.Key_Return), tryCompare(combo.popup, "visible", false)
            compare(store.selection, "Keys")
        }

        // A field, what is typed, what is stored; an edit ends with Return or a click beside, and commits once.
        function test_signatureCommit_data() {
            const n = [["0", 1], ["150", 99], ["-5", 1], ["+7", 7], [" \t7\t ", 7], ["0009", 9], ["7\u00a0", 4],
                       ["3.5", 4], ["abc", 4], ["", 4], ["-", 4], ["1 2", 4], ["+-7", 4], ["\uff17", 4],
                       ["9223372036854775807", 99], ["9223372036854775808", 4], ["-9223372036854775808", 1],
                       ["-9223372036854775809", 4], ["0000000000000000000000000007", 7], ["99999999999999999999", 4]]
            const d = [["1", 1], ["16", 16], ["8", 8], ["3", 4], ["32", 4], ["0", 4], ["-2", 4], ["+08", 8],
                       ["18446744073709551624", 4]]
            const rows = field => ([typed, stored], i) => ({ tag: field + " " + typed, field, typed, stored, click: i % 2 })
            return n.map(rows("numerator")).concat(d.map(rows("denominator")))
        }

        function test_signatureCommit(data) {
            const field = item(data.field + "Field")
            spy.target = store, spy.signalName = data.field + "Changed", spy.clear()
            field.forceActiveFocus(), field.selectAll(), keyClick(Qt.Key_Delete)
            if (/[\t\u00a0\uff10-\uff19]/.test(data.typed)) field.text = data.typed // a typed Tab would move the focus
            else data.typed.split("").forEach(c => keyClick(c))
            compare(store[data.field], 4, "still editing")
            if (data.click) mouseClick(content, content.width - 4, content.height - 50)
            else keyClick(Qt.Key_Return)
            field.forceActiveFocus(), keyClick(Qt.Key_Return) // nothing more to commit
            content.clearFocus()
            compare([store[data.field], field.text, spy.count], [data.stored, String(data.stored), data.stored === 4 ? 0 : 1])
            compare(Number(store.storedSetting(data.field)), data.stored, "written to the settings")
        }

        // 200 clocks, the history opened by its toggle (closed, nothing is copied), an event, 50 more: kept or started over?
        function test_history_data() {
            return [
                { tag: "nothing", act: () => {}, kept: 250 },
                { tag: "the input chosen", act: () => { store.selection = "Drum Machine" }, kept: 50 },
                { tag: "another source followed", other: true, act: () => store.update(2), kept: 50 },
            ]
        }
        function test_history(data) {
            const source = store.plug("Drum Machine"), other = data.other ? store.plug("Sequencer") : source
            store.clockRun(source, 120, 200)
            compare([!!item("historyGraph"), store.history.tickCount], [false, 0], "closed")
            mouseClick(item("historyToggle")), compare([store.history.tickCount, store.storedSetting("history")], [200, true], "opened")
            data.act(), store.clockRun(other, 120, 50), store.update()
            compare(store.history.tickCount, data.kept)
            store.later(10), tryCompare(store, "state", ClockState.NoClock) // the refresh timer's
        }

        // Steady axes for a steady clock; the jitter line's current and worst; a Start and a step to 139 BPM
        // are marked, and the tempos, the axes and the graph follow. The README's history.
        function test_historyOfARun() {
            const source = store.plug("Drum Machine"), h = store.history
            store.historyOpen = true, store.clockRun(source, 120, 480), store.update()
            compare([h.bpmLow, h.bpmHigh, h.jitterLimit], [119.5, 120.5, 1], "steady")
            store.clockRun(source, 120, 480, 1.0, true), store.clockRun(source, 120, 480, 0.4, true), store.update()
            const line = item("historyJitter"), graph = item("historyGraph"), painted = graph.paintCount
            compare(line.text, "jitter ±0.36 ms · worst ±1.11 ms")
            store.sendBytes(source, [0xFA]), store.clockRun(source, 139, 24 * 139 / 60 * 30, 1.0, true), store.update()
            compare(h.markKinds, ["start", "tempoChange"])
            const shown = h.shownTempos
            compare([shown[0], shown[1], shown[shown.length - 1]], [undefined, 120, 139], "the shown tempos: none, first, last")
            compare([h.bpmLow, h.bpmHigh, h.jitterLimit], [110, 140, 5], "both tempos, 1 ms of jitter")
            tryVerify(() => graph.paintCount > painted, 1000, "painted anew")
            save("history")
        }

        // Two clocks started together, the followed one 7.8 ms late: the comparison reaches the Sync
        // section and the History's offset lane; the picker offers every input but the followed one.
        function test_sync() {
            const daw = store.plug("DAW"), drum = store.plug("Drum Machine")
            store.selection = "Drum Machine", store.historyOpen = true, store.sync.open = true, store.sync.reference = "DAW"
            store.sendBytes(daw, [0xFA]), store.sendBytes(drum, [0xFA]), store.clockRun(drum, 120, 24 * 32, 0.3, false, daw, 7.8)
            store.update()
            const section = item("syncContent"), combo = findChild(section, "referenceCombo")
            compare([...Array(combo.count).keys()].map(i => combo.textAt(i)), ["None", "DAW", "Virtual port", "Link session"])
            const values = Array.from(findChild(section, "syncFigures").children).filter(c => c.objectName === "syncFigureValue")
            compare(values.map(v => v.text), ["120.00 BPM", "0.00 BPM \u00b7 0 ppm", "+7.80 ms \u00b10.30 ms", "0.00 ms per minute"])
            compare(findChild(section, "syncNotice").text, "The beats fall 7.80 ms after the reference's.")
            verify(store.history.offsetCount > 400, store.history.offsetCount)
            compare(store.storedSetting("compareWith"), "DAW")
            save("sync")
        }
    }
}
