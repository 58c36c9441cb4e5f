import QtQuick
import Velunta

// A numbered instruction.
Row {
    id: row
    property int number
    property string text
    spacing: 10

    Rectangle {
        width: 20
        height: 20
        radius: 10
        color: "transparent"
        border.width: 1
        border.color: Theme.line
        Text {
            anchors.centerIn: parent
            text: row.number
            color: Theme.ink
            font.pixelSize: Theme.calloutSize
            font.weight: Font.DemiBold
            Accessible.ignored: true
        }
    }
    Text {
        objectName: "instruction"
        width: row.width - 30
        anchors.verticalCenter: parent.verticalCenter
        text: row.text
        color: Theme.inkSoft
        font.pixelSize: Theme.calloutSize
        wrapMode: Text.Wrap
    }
}
