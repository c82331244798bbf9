import QtQuick
import Tactimo

// The lamp: its colour names the state; while a clock arrives it is dim for
// most of each beat and flashes with a glow on the first quarter.
Item {
    id: root
    // "state" (inherited from Item) is the clock state's name; each has a State below.
    property bool receiving: false
    property bool pulse: false
    property color fill: Theme.secondaryLabel
    readonly property bool glowing: receiving && pulse

    implicitWidth: 10
    implicitHeight: 10
    state: "waiting"

    states: [
        State { name: "waiting"; PropertyChanges { target: root; fill: Theme.secondaryLabel } },
        State { name: "noClock"; PropertyChanges { target: root; fill: Theme.red } },
        State { name: "running"; PropertyChanges { target: root; fill: Theme.orange } },
        State { name: "playing"; PropertyChanges { target: root; fill: Theme.green } },
        State { name: "stopped"; PropertyChanges { target: root; fill: Theme.orange } }
    ]

    // Glow: a soft halo of the fill colour, 4 points beyond the circle.
    Repeater {
        model: 4
        delegate: Rectangle {
            required property int index
            readonly property real spread: (index + 1)
            anchors.centerIn: parent
            width: root.width + 2 * spread
            height: width
            radius: width / 2
            color: root.fill
            opacity: root.glowing ? 0.8 * 0.28 * (1 - index / 4) : 0
        }
    }

    Rectangle {
        id: lamp
        objectName: "lamp"
        anchors.fill: parent
        radius: width / 2
        color: root.fill
        opacity: root.receiving && !root.pulse ? 0.35 : 1.0
    }
}
