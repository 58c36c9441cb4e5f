import QtQuick
import QtQuick.Controls.Basic
import Velunta

// The prominent action: a filled rounded rectangle in ink or recording red.
// Pressed, hovered and disabled states change the opacity of the whole; a
// keyboard focus ring in the accent colour surrounds it.
Button {
    id: control
    enum Kind { Ink, Rec }
    property int kind: FilledButton.Kind.Ink
    property string iconName: ""
    // A second line under the title, e.g. the shortcut.
    property string keysText: ""
    readonly property color foreground: kind === FilledButton.Kind.Rec ? Theme.onRec : Theme.onInk

    leftPadding: 12
    rightPadding: 12
    topPadding: 7
    bottomPadding: 7
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: Math.max(32, implicitContentHeight + topPadding + bottomPadding)
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    opacity: Theme.filledButtonOpacity(enabled, pressed, hovered)
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    contentItem: Column {
        spacing: 1
        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 5
            SymbolIcon {
                visible: control.iconName.length > 0
                name: control.iconName
                color: control.foreground
                size: Theme.bodySize
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                text: control.text
                color: control.foreground
                font.pixelSize: Theme.bodySize
                font.weight: Font.DemiBold
            }
        }
        Text {
            visible: control.keysText.length > 0
            anchors.horizontalCenter: parent.horizontalCenter
            text: control.keysText
            color: control.foreground
            font.pixelSize: Theme.captionSize
        }
    }

    background: Rectangle {
        implicitHeight: 32
        radius: 8
        color: control.kind === FilledButton.Kind.Rec ? Theme.rec : Theme.ink
        Rectangle {
            visible: control.visualFocus
            anchors.fill: parent
            anchors.margins: -3
            radius: 10
            color: "transparent"
            border.width: 2
            border.color: Theme.accent
        }
    }
}
