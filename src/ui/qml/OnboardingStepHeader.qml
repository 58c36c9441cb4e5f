import QtQuick
import Velunta

// A step's title and its explanation.
Column {
    id: header
    property string title
    property string message
    spacing: 8

    Text {
        objectName: "stepTitle"
        width: header.width
        text: header.title
        color: Theme.ink
        font.pixelSize: Theme.largeTitleSize
        font.weight: Font.Bold
        wrapMode: Text.Wrap
        Accessible.role: Accessible.Heading
    }
    Text {
        objectName: "stepMessage"
        width: header.width
        text: header.message
        color: Theme.inkSoft
        font.pixelSize: Theme.bodySize
        wrapMode: Text.Wrap
    }
}
