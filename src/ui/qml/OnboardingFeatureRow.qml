import QtQuick
import Velunta

// One thing Velunta does: its symbol, a title and a line of detail.
Row {
    id: row
    property string symbol
    property color tint: Theme.ink
    property string title
    property string detail
    spacing: 12

    // The symbol sits on the title's line.
    Item {
        width: 20
        height: titleText.height
        OnboardingSymbol {
            anchors.centerIn: parent
            name: row.symbol
            color: row.tint
            size: Theme.bodySize + 4
        }
    }
    Column {
        width: row.width - 32
        spacing: 1
        Text {
            id: titleText
            objectName: "featureTitle"
            width: parent.width
            text: row.title
            color: Theme.ink
            font.pixelSize: Theme.bodySize
            font.weight: Font.DemiBold
            wrapMode: Text.Wrap
        }
        Text {
            objectName: "featureDetail"
            width: parent.width
            text: row.detail
            color: Theme.inkSoft
            font.pixelSize: Theme.calloutSize
            wrapMode: Text.Wrap
        }
    }
}
