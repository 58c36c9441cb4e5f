import QtQuick
import Velunta

// The check in a green disc that marks a granted permission, in its own
// colours whatever the appearance (the introduction and the settings page).
Item {
    id: check
    property real size: 18
    width: size
    height: size
    Accessible.ignored: true

    // The icon's check is a cut-out: white shows through it.
    Rectangle {
        anchors.centerIn: parent
        width: check.size * 0.6
        height: width
        radius: width / 2
        color: "white"
    }
    SymbolIcon {
        anchors.fill: parent
        name: "checkmark.circle.fill"
        color: "#2ea043"
        size: check.size
    }
}
