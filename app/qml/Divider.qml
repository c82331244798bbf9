import QtQuick
import Tactimo

Rectangle {
    implicitHeight: 1
    color: Qt.rgba(Theme.label.r, Theme.label.g, Theme.label.b, 0.12)
}
