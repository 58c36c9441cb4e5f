import QtQuick
import Velunta

// A card shaped like a small screen that starts the captures of one kind:
// the whole display, or an area (drawn with a dragged-selection look).
Card {
    id: card
    required property AppModel model
    property bool isArea: false
    property alias buttons: buttons

    height: Math.max(width / 1.6, caption.implicitHeight + 14 + buttons.implicitHeight + 56)

    // The whole-display card carries a strip along its top, like a menu bar.
    Rectangle {
        visible: !card.isArea
        x: 12
        y: 8
        width: parent.width - 24
        height: 8
        radius: 4
        color: Theme.line
    }

    Rectangle {
        visible: card.isArea
        anchors.fill: parent
        anchors.margins: 14
        color: "transparent"
        border.width: 1
        border.color: Theme.line
        CropMarks {
            anchors.fill: parent
            anchors.margins: -lineWidth / 2
            length: 14
            lineWidth: 3
            color: Theme.ink
        }
    }

    Column {
        id: caption
        x: 20
        y: 28
        width: parent.width - 40
        spacing: 3
        Text {
            width: parent.width
            text: card.isArea ? "Uma área" : "Tela inteira"
            color: Theme.ink
            font.pixelSize: Theme.title2Size
            font.weight: Font.DemiBold
            elide: Text.ElideRight
        }
        Text {
            width: parent.width
            text: card.isArea ? "Você arrasta para marcar o pedaço." : "A tela onde o ponteiro está."
            color: Theme.inkSoft
            font.pixelSize: Theme.calloutSize
            wrapMode: Text.Wrap
        }
    }

    CaptureButtons {
        id: buttons
        x: 20
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 28
        readonly property var printShortcut: card.isArea ? Shortcuts.screenshotArea : Shortcuts.screenshotFull
        readonly property var recordShortcut: card.isArea ? Shortcuts.recordArea : Shortcuts.recordFull
        printKeys: printShortcut.keys
        printTitle: printShortcut.title
        recordKeys: recordShortcut.keys
        recordTitle: recordShortcut.title
        onPrintRequested: card.isArea ? card.model.screenshotArea() : card.model.screenshotFull()
        onRecordRequested: card.isArea ? card.model.recordArea() : card.model.recordFull()
    }
}
