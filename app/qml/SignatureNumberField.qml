import QtQuick
import QtQuick.Controls
import Tactimo

// A number field that commits on Return and on losing focus. Whatever was
// typed, once editing ends it shows the stored number again.
TextField {
    id: field
    property int value
    property string help
    // Maps a typed number to the number to store, or undefined to refuse it.
    property var validate: n => n

    // Asks the owner to store n; the owner's binding then updates value.
    signal committed(int n)

    // An optional sign and digits, nothing else, within signed 64 bits; gives
    // a number or undefined. Magnitudes past 2^53 are rounded, which no
    // validator tells apart from the exact value.
    function parse(raw) {
        const trimmed = raw.replace(/^[ \t]+|[ \t]+$/g, "")
        const match = /^([+-]?)([0-9]+)$/.exec(trimmed)
        if (!match)
            return undefined
        const digits = match[2].replace(/^0+(?=[0-9])/, "")
        const limit = match[1] === "-" ? "9223372036854775808" : "9223372036854775807"
        if (digits.length > limit.length || (digits.length === limit.length && digits > limit))
            return undefined
        return Number(match[1] + digits)
    }

    // Idempotent: editingFinished also arrives on every focus loss.
    function commit() {
        const n = parse(text)
        if (n !== undefined) {
            const accepted = validate(n)
            if (accepted !== undefined && accepted !== value)
                committed(accepted)
        }
        text = String(value)
    }

    text: String(value)
    onValueChanged: text = String(value)
    onEditingFinished: commit()

    placeholderText: ""
    horizontalAlignment: TextInput.AlignHCenter
    font.pixelSize: 15
    font.weight: Font.DemiBold
    selectByMouse: true
    implicitWidth: 40

    ToolTip.text: help
    ToolTip.visible: hovered && !activeFocus
    ToolTip.delay: 600
}
