import QtQuick
import QtTest
import Tactimo
import TactimoTest

// The lamp, the state word, the followed source and the guidance row.
Item {
    id: root
    width: 420
    height: 400

    TestCase {
        id: testCase
        name: "TransportPanel"
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
        Component { id: panelComponent; TransportPanel { width: 372 } }

        function makePanel(selection) {
            const store = makeStoreObject()
            store.selection = selection
            const panel = make(panelComponent, { store: store })
            return { store: store, panel: panel }
        }

        function lamp(panel) {
            return findChild(panel, "lamp")
        }

        function test_states_data() {
            const waitingAll = "Send MIDI clock to any input of this computer, or to the virtual port from a DAW."
            return [
                { tag: "default", selection: "", status: { state: "waiting" },
                  word: "Waiting for clock", colour: Theme.secondaryLabel, opacity: 1, glow: false, from: "",
                  hint: waitingAll, position: false, dimmed: true },
                { tag: "waiting for one input", selection: "Keys", status: { state: "waiting" },
                  word: "Waiting for clock", colour: Theme.secondaryLabel, opacity: 1, glow: false, from: "",
                  hint: "Send MIDI clock to Keys.", position: false, dimmed: true },
                { tag: "running, flash", selection: "", status: { state: "running", receiving: true, pulse: true, position: 96, sourceName: "Drum Machine" },
                  word: "Clock running", colour: Theme.orange, opacity: 1, glow: true, from: "from Drum Machine",
                  hint: "The bar count starts at the next Start, Continue or Song Position from the sender.", position: false, dimmed: true },
                { tag: "playing, between flashes", selection: "", status: { state: "playing", receiving: true, pulse: false, position: 30, sourceName: "Drum Machine" },
                  word: "Playing", colour: Theme.green, opacity: 0.35, glow: false, from: "from Drum Machine",
                  hint: " ", position: true, dimmed: false },
                { tag: "stopped, clock running", selection: "", status: { state: "stopped", receiving: true, pulse: true, position: 24, sourceName: "Drum Machine" },
                  word: "Stopped", colour: Theme.orange, opacity: 1, glow: true, from: "from Drum Machine",
                  hint: "The clock is still running; the tempo is live.", position: true, dimmed: true },
                { tag: "stopped, clock stopped", selection: "", status: { state: "stopped", receiving: false, position: 24, sourceName: "Drum Machine" },
                  word: "Stopped", colour: Theme.orange, opacity: 1, glow: false, from: "from Drum Machine",
                  hint: "The sender stopped its clock too.", position: true, dimmed: true },
                { tag: "no clock", selection: "", status: { state: "noClock", receiving: false, bpm: 120, sourceName: "Drum Machine" },
                  word: "No clock", colour: Theme.red, opacity: 1, glow: false, from: "from Drum Machine",
                  hint: "The clock stopped without a Stop message. The last tempo stays on screen.", position: false, dimmed: true }
            ]
        }

        function test_states(data) {
            const t = makePanel(data.selection)
            t.store.show(data.status)
            compare(findChild(t.panel, "stateWord").text, data.word)
            const light = findChild(t.panel, "stateLight")
            verify(Qt.colorEqual(lamp(t.panel).color, data.colour), "lamp colour")
            compare(lamp(t.panel).opacity, data.opacity)
            compare(light.glowing, data.glow)
            const from = findChild(t.panel, "sourceName")
            compare(from.visible, data.from !== "")
            if (data.from !== "")
                compare(from.text, data.from)
            verify(findChild(t.panel, "hint").visible)
            verify(!findChild(t.panel, "warningText").visible)
            compare(findChild(t.panel, "hint").text, data.hint)
            verify(findChild(t.panel, "guidance").height >= 30)
            const position = findChild(t.panel, "positionView")
            compare(position.position !== undefined, data.position)
            compare(position.dimmed, data.dimmed)
        }

        function test_otherSendersAreWarnedAbout() {
            const t = makePanel("")
            t.store.show({ state: "playing", receiving: true, sourceName: "Drum Machine", otherSources: ["Sequencer"] })
            const warning = findChild(t.panel, "warningText")
            verify(warning.visible)
            verify(!findChild(t.panel, "hint").visible)
            compare(warning.text, "Also receiving clock from Sequencer. Choose an input to follow that one.")
            verify(Qt.colorEqual(warning.color, Theme.orange))

            t.store.show({ state: "playing", receiving: true, sourceName: "Drum Machine", otherSources: ["Sequencer", "Virtual port"] })
            compare(warning.text, "Also receiving clock from Sequencer, Virtual port. Choose an input to follow that one.")
            // Wraps rather than being cut.
            verify(warning.lineCount >= 2)
            verify(!warning.truncated)
            verify(findChild(t.panel, "guidance").height >= warning.implicitHeight)
        }

        function test_longSourceNameShortenedInTheMiddle() {
            const t = makePanel("")
            const name = "A very long MIDI interface name, port 1 of 8, with a long tail that ends HERE"
            t.store.show({ state: "running", receiving: true, sourceName: name })
            const from = findChild(t.panel, "sourceName")
            waitForRendering(t.panel)
            verify(from.truncated)
            compare(from.lineCount, 1)
            verify(from.x + from.width <= t.panel.width + 0.5)
        }
    }
}
