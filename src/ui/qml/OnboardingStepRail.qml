import QtQuick
import Velunta

// The dark rail of the introduction: crop marks around the panel, the close
// button, and the four steps with the current one marked. Assistive
// technologies read it as one element, "Passo 2 de 4: Sua tela".
Rectangle {
    id: rail
    property int current: 0
    property var names: []
    property string label: ""
    signal closeRequested

    color: Theme.rail
    Accessible.role: Accessible.StaticText
    Accessible.name: label

    CropMarks {
        x: 18
        y: 44
        width: rail.width - 36
        height: rail.height - 44 - 18
        length: 22
        lineWidth: 3
        color: Qt.rgba(1, 1, 1, 0.9)
    }

    Rectangle {
        id: closeButton
        objectName: "closeButton"
        x: 14
        y: 14
        width: 14
        height: 14
        radius: 7
        color: closeArea.containsMouse ? Qt.rgba(1, 1, 1, 0.3) : Qt.rgba(1, 1, 1, 0.16)
        Accessible.role: Accessible.Button
        Accessible.name: "Fechar"
        Accessible.onPressAction: rail.closeRequested()

        Text {
            anchors.centerIn: parent
            text: "×"
            color: Qt.rgba(1, 1, 1, 0.85)
            font.pixelSize: 12
            font.weight: Font.DemiBold
            Accessible.ignored: true
        }
        MouseArea {
            id: closeArea
            anchors.fill: parent
            anchors.margins: -4
            hoverEnabled: true
            onClicked: rail.closeRequested()
        }
    }

    Column {
        x: 38
        y: rail.height - 44 - height
        spacing: 14

        Repeater {
            model: rail.names
            Row {
                id: row
                required property string modelData
                required property int index
                readonly property bool isCurrent: index === rail.current
                readonly property bool isDone: index < rail.current
                objectName: "railRow"
                spacing: 8

                Item {
                    width: 14
                    height: name.height
                    Rectangle {
                        objectName: "currentDot"
                        visible: row.isCurrent
                        anchors.centerIn: parent
                        width: 12
                        height: 12
                        radius: 6
                        color: Theme.hudRec
                    }
                    OnboardingSymbol {
                        objectName: "doneCheck"
                        visible: row.isDone
                        anchors.centerIn: parent
                        name: "checkmark"
                        size: Theme.captionSize
                        bold: true
                        color: Qt.rgba(1, 1, 1, 0.8)
                    }
                    Rectangle {
                        objectName: "pendingCircle"
                        visible: !row.isCurrent && !row.isDone
                        anchors.centerIn: parent
                        width: 12
                        height: 12
                        radius: 6
                        color: "transparent"
                        border.width: 1.5
                        border.color: Qt.rgba(1, 1, 1, 0.55)
                    }
                }
                Text {
                    id: name
                    objectName: "railName"
                    text: row.modelData
                    color: row.isCurrent ? "white" : Qt.rgba(1, 1, 1, 0.75)
                    font.pixelSize: Theme.bodySize
                    font.weight: row.isCurrent ? Font.DemiBold : Font.Normal
                    Accessible.ignored: true
                }
            }
        }
    }
}
