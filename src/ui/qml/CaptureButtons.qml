import QtQuick
import Velunta

// A card's two actions with their shortcuts.
Row {
    id: buttons
    property string printKeys
    property string printTitle
    property string recordKeys
    property string recordTitle
    property alias printButton: printButton
    property alias recordButton: recordButton
    signal printRequested
    signal recordRequested
    spacing: 8

    FilledButton {
        id: printButton
        objectName: "printButton"
        anchors.verticalCenter: parent.verticalCenter
        kind: FilledButton.Kind.Ink
        iconName: "camera.fill"
        text: "Print"
        keysText: buttons.printKeys
        Accessible.name: buttons.printTitle
        Accessible.description: "Atalho " + buttons.printKeys
        onClicked: buttons.printRequested()
    }
    FilledButton {
        id: recordButton
        objectName: "recordButton"
        anchors.verticalCenter: parent.verticalCenter
        kind: FilledButton.Kind.Rec
        iconName: "record.circle.fill"
        text: "Gravar"
        keysText: buttons.recordKeys
        Accessible.name: buttons.recordTitle
        Accessible.description: "Atalho " + buttons.recordKeys
        onClicked: buttons.recordRequested()
    }
}
