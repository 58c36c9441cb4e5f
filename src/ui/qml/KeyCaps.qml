import QtQuick
import Velunta

// A shortcut shown as a key cap.
Rectangle {
    property alias text: label.text
    implicitWidth: label.implicitWidth + 14
    implicitHeight: label.implicitHeight + 4
    radius: 5
    color: "transparent"
    border.color: Theme.line
    border.width: 1

    Text {
        id: label
        anchors.centerIn: parent
        color: Theme.ink
        font.pixelSize: Theme.calloutSize
        font.weight: Font.Medium
    }
}
