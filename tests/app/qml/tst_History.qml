import QtQuick
import QtTest
import Tactimo
import TactimoTest

// The history section on a store fed clocks in simulated time: what it keeps,
// when it starts over, its marks and its axes, and that it costs nothing
// while closed.
Item {
    id: root
    width: 420; height: 900

    Component { id: storeComponent; ProbeStore {} }
    Component { id: contentComponent; ContentView {} }

    TestCase {
        name: "History"; when: windowShown

        property var store; property var content; property int source

        function init() {
            store = storeComponent.createObject(null, { selection: "" })
            store.historyOpen = false // whatever an earlier case left in the settings
            content = contentComponent.createObject(root, { store: store })
            source = store.plug("Drum Machine")
            tryVerify(() => store.inputs.rowCount() === 3)
        }
        function cleanup() {
            content.destroy() // before the store it reads
            store.destroy()
            wait(0)
        }
        function item(name) { return findChild(content, name) }
        function open() {
            mouseClick(item("historyToggle"))
            verify(store.historyOpen, "opened by its toggle")
        }

        // Closed, nothing of it exists and nothing is copied; opened, it
        // shows at once what the intake kept of the run.
        function test_closedCostsNothingAndOpensWithTheRun() {
            verify(!item("historyGraph"), "no graph while closed")
            store.clockRun(source, 120, 480)
            compare(store.history.tickCount, 0, "nothing copied while closed")
            open()
            verify(item("historyGraph"), "graph created")
            compare(store.history.tickCount, 480)
            compare(store.storedSetting("history"), true)
            mouseClick(item("historyToggle"))
            verify(!store.historyOpen)
            tryVerify(() => !item("historyGraph"), 1000, "graph gone")
            compare(store.history.tickCount, 0)
            compare(store.storedSetting("history"), false)
        }

        // 200 clocks, then what happens, then 50: does the history start over?
        function test_startsOver_data() {
            return [
                { tag: "nothing", act: () => {}, kept: 250 },
                { tag: "a short gap", act: () => store.pause(0.1), kept: 250 },
                { tag: "the input chosen", act: () => { store.selection = "Drum Machine" }, kept: 50 },
                { tag: "the clock starting again", act: () => store.pause(2), kept: 50 },
                { tag: "another source followed", other: true, act: () => store.pause(2), kept: 50 },
            ]
        }
        function test_startsOver(data) {
            open()
            const other = data.other ? store.plug("Sequencer") : source
            tryVerify(() => store.inputs.rowCount() === (data.other ? 4 : 3))
            store.clockRun(source, 120, 200)
            store.update()
            data.act()
            store.clockRun(other, 120, 50)
            store.update()
            compare(store.history.tickCount, data.kept)
        }

        // A step from 120 to 140 BPM is marked where the window was cut, and
        // the shown tempo steps with it.
        function test_marksACutAfterATempoStep() {
            open()
            store.clockRun(source, 120, 480)
            store.sendBytes(source, [0xFC])
            store.clockRun(source, 140, 480)
            store.update()
            compare(store.history.markKinds, ["stop", "tempoChange"])
            const shown = store.history.shownTempos.filter(bpm => bpm !== undefined)
            compare(shown[0], 120, "the shown tempo, first")
            compare(shown[shown.length - 1], 140, "the shown tempo, last")
            verify(store.history.bpmLow <= 120, "the slower tempo on the axis")
            verify(store.history.bpmHigh >= 140, "the faster tempo on the axis")
        }

        // A steady clock looks steady: the tempo axis spans at least 1 BPM
        // and the jitter axis at least ±1 ms, whatever the noise.
        function test_scale_data() {
            return [
                { tag: "steady", jitter: 0, steady: true, limit: 1 },
                { tag: "0.2 ms jitter", jitter: 0.2, steady: true, limit: 1 },
                { tag: "3 ms jitter", jitter: 3, steady: false, limit: 5 },
            ]
        }
        function test_scale(data) {
            open()
            store.clockRun(source, 120, 960, data.jitter)
            store.update()
            const h = store.history
            // The span of 1 BPM, widened to the grid's half steps at most.
            verify(h.bpmHigh - h.bpmLow >= 1, "tempo span " + (h.bpmHigh - h.bpmLow))
            if (data.steady)
                verify(h.bpmHigh - h.bpmLow <= 1.5, "tempo span " + (h.bpmHigh - h.bpmLow))
            verify(h.bpmLow < 120 && h.bpmHigh > 120, "the tempo within")
            compare(h.jitterLimit, data.limit, "jitter limit")
        }

        // The current jitter comes from the status, the worst from the run:
        // once the clock is gone the worst stays.
        function test_jitterLine() {
            open()
            store.clockRun(source, 120, 480, 0.4)
            store.clockRun(source, 120, 480, 1.0)
            store.clockRun(source, 120, 480, 0.4)
            store.update()
            const line = item("historyJitter")
            verify(/^jitter ±0\.[0-4]\d ms · worst ±1\.00 ms$/.test(line.text), line.text) // the current is not the worst
            store.pause(2)
            store.update()
            compare(line.text, "jitter – · worst ±1.00 ms")
        }

        // It paints when its data changes, not on every refresh.
        function test_paintsOnlyOnChange() {
            open()
            const graph = item("historyGraph")
            store.clockRun(source, 120, 96)
            store.update() // the last clocks too
            tryVerify(() => graph.paintCount > 0)
            wait(100) // the window settles
            const painted = graph.paintCount
            store.update()
            store.update()
            wait(100)
            compare(graph.paintCount, painted, "nothing new")
            store.clockRun(source, 120, 24)
            tryVerify(() => graph.paintCount > painted, 1000, "new clocks")
        }
    }
}
