pragma Singleton
import QtQuick

QtObject {
    readonly property url donate: "https://tactimo.org/donate"
}
