import QtQuick
import QtTest
import Tactimo
import TactimoTest

// Counters, the beat strip and the time-signature fields; the window's focus.
Item {
    id: root
    width: 420
    height: 600

    TestCase {
        id: testCase
        name: "PositionViewAndSignature"
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
        Component { id: positionComponent; PositionView { width: 372 } }
        Component { id: contentComponent; ContentView {} }

        function makeStore(numerator, denominator) {
            const store = makeStoreObject()
            store.numerator = numerator
            store.denominator = denominator
            return store
        }

        function counters(view) {
            return ["barCounter", "beatCounter", "sixteenthCounter"].map(n => findChild(view, n))
        }

        function cells(view) {
            const strip = findChild(view, "beatStrip")
            const found = []
            for (let i = 0; i < strip.children.length; ++i)
                if (strip.children[i].current !== undefined)
                    found.push(strip.children[i])
            return found
        }

        function test_counterAndStrip_data() {
            return [
                { tag: "no position", position: undefined, dimmed: true, numerator: 4,
                  values: ["–", "–", "–"], emphasis: 2, current: -1, colour: null, opacity: 1 },
                { tag: "playing 4/4 at 24", position: 24, dimmed: false, numerator: 4,
                  values: ["1", "2", "1"], emphasis: 0, current: 1, colour: Theme.blue, opacity: 1 },
                { tag: "playing at 0", position: 0, dimmed: false, numerator: 4,
                  values: ["1", "1", "1"], emphasis: 0, current: 0, colour: Theme.orange, opacity: 1 },
                { tag: "stopped at 24", position: 24, dimmed: true, numerator: 4,
                  values: ["1", "2", "1"], emphasis: 1, current: 1, colour: Theme.blue, opacity: 0.45 },
                { tag: "7/4 bar 2", position: 7 * 24 + 2 * 24 + 12, dimmed: false, numerator: 7,
                  values: ["2", "3", "3"], emphasis: 0, current: 2, colour: Theme.blue, opacity: 1 }
            ]
        }

        function test_counterAndStrip(data) {
            const store = makeStore(data.numerator, 4)
            const view = make(positionComponent, {
                store: store, position: data.position, dimmed: data.dimmed,
                numerator: store.numerator, denominator: store.denominator })
            const shown = counters(view)
            for (let i = 0; i < 3; ++i) {
                compare(shown[i].valueText, data.values[i])
                compare(shown[i].emphasis, data.emphasis)
            }
            const strip = cells(view)
            compare(strip.length, data.numerator)
            waitForRendering(view)
            for (let c = 0; c < strip.length; ++c) {
                compare(strip[c].current, c === data.current, "cell " + c)
                if (c === data.current) {
                    verify(Qt.colorEqual(strip[c].color, data.colour))
                    compare(strip[c].opacity, data.opacity)
                } else {
                    compare(strip[c].opacity, 1)
                }
                compare(strip[c].height, 10)
                compare(strip[c].radius, 3)
            }
            // The cells share the row equally.
            fuzzyCompare(strip[0].width, strip[strip.length - 1].width, 1)
        }

        function test_manyBeatsLeaveTheStripOut() {
            const store = makeStore(17, 8)
            const view = make(positionComponent, {
                store: store, position: 48, dimmed: false, numerator: 17, denominator: 8 })
            verify(!findChild(view, "beatStrip").visible)
            compare(cells(view).length, 0)
            compare(counters(view)[1].valueText, "5")
            verify(findChild(view, "numeratorField").visible)
            // The two fields and the "/" take 92 points together.
            const numerator = findChild(view, "numeratorField")
            const denominator = findChild(view, "denominatorField")
            fuzzyCompare(denominator.x + denominator.width - numerator.x, 92, 0.5)
            fuzzyCompare(numerator.width, denominator.width, 1)
        }

        function typeInto(field, text) {
            field.forceActiveFocus()
            field.selectAll()
            if (text.indexOf("\t") >= 0) {
                // Tab moves the focus, so a tab only arrives pasted.
                field.text = text
                return
            }
            for (let i = 0; i < text.length; ++i)
                keyClick(text[i])
        }

        function test_numeratorCommits_data() {
            return [
                { tag: "0", typed: "0", stored: 1, shown: "1" },
                { tag: "150", typed: "150", stored: 99, shown: "99" },
                { tag: "-5", typed: "-5", stored: 1, shown: "1" },
                { tag: "+7", typed: "+7", stored: 7, shown: "7" },
                { tag: "spaces", typed: "  7 ", stored: 7, shown: "7" },
                { tag: "tabs", typed: "\t7\t", stored: 7, shown: "7" },
                { tag: "other white space", typed: "7\u00a0", stored: 5, shown: "5" },
                { tag: "decimal", typed: "3.5", stored: 5, shown: "5" },
                { tag: "letters", typed: "abc", stored: 5, shown: "5" },
                { tag: "empty", typed: "", stored: 5, shown: "5" },
                { tag: "sign alone", typed: "-", stored: 5, shown: "5" },
                { tag: "inner space", typed: "1 2", stored: 5, shown: "5" },
                { tag: "overflow", typed: "9223372036854775808", stored: 5, shown: "5" },
                { tag: "largest 64-bit", typed: "9223372036854775807", stored: 99, shown: "99" },
                { tag: "leading zeros", typed: "0009", stored: 9, shown: "9" }
            ]
        }

        function test_numeratorCommits(data) {
            const store = makeStore(5, 4)
            const view = make(positionComponent, { store: store })
            const field = findChild(view, "numeratorField")
            compare(field.text, "5")
            typeInto(field, data.typed)
            if (data.typed === "")
                keyClick(Qt.Key_Delete)
            keyClick(Qt.Key_Return)
            compare(store.numerator, data.stored)
            compare(field.text, data.shown)
            compare(Number(store.storedSetting("numerator") ?? 5), data.stored)
        }

        function test_denominatorCommits() {
            const store = makeStore(4, 4)
            const view = make(positionComponent, { store: store })
            const field = findChild(view, "denominatorField")
            typeInto(field, "8")
            keyClick(Qt.Key_Return)
            compare(store.denominator, 8)
            compare(Number(store.storedSetting("denominator")), 8)
            for (const refused of ["3", "32", "0"]) {
                typeInto(field, refused)
                keyClick(Qt.Key_Return)
                compare(store.denominator, 8)
                compare(field.text, "8")
            }
            // A value set elsewhere shows up without a commit.
            store.denominator = 16
            compare(field.text, "16")
        }

        function test_focusLossCommitsOnceAndBackgroundClick() {
            const store = makeStore(4, 4)
            const content = make(contentComponent, { store: store })
            waitForRendering(content)
            // Opens with no field in edit mode.
            const numerator = findChild(content, "numeratorField")
            tryVerify(() => !numerator.activeFocus)

            const spy = createTemporaryQmlObject("import QtTest; SignalSpy { signalName: 'numeratorChanged' }", testCase)
            spy.target = store
            typeInto(numerator, "6")
            compare(store.numerator, 4) // still editing
            // A click on empty window space ends the edit and commits it.
            const background = findChild(content, "background")
            mouseClick(content, content.width - 4, content.height - 50)
            verify(!numerator.activeFocus)
            compare(store.numerator, 6)
            compare(numerator.text, "6")
            compare(spy.count, 1)

            // Focus coming and going without an edit commits nothing new.
            numerator.forceActiveFocus()
            content.clearFocus()
            numerator.forceActiveFocus()
            keyClick(Qt.Key_Return)
            content.clearFocus()
            compare(spy.count, 1)
            compare(store.numerator, 6)
        }

        function test_donateLinkAndNotice() {
            const store = makeStore(4, 4)
            const content = make(contentComponent, { store: store })
            const notice = findChild(content, "listeningNotice")
            compare(notice.text, "Listening on all MIDI inputs and the virtual port “Tactimo”")
            // With a larger text size it stays on one line, shortened in the middle.
            verify(!notice.truncated)
            notice.font.pixelSize = 24
            waitForRendering(content)
            verify(notice.truncated)
            compare(notice.lineCount, 1)
            compare(notice.elide, Text.ElideMiddle)
            compare(content.width, 420)
            const link = findChild(content, "donateLink")
            compare(link.help, "Tactimo is free. Support its development.")
            mouseClick(link)
            verify(Urls.lastUrl.startsWith("https://"))
            verify(Urls.lastUrl.endsWith("/donate"))
            compare(content.implicitWidth, 420)
        }
    }
}
