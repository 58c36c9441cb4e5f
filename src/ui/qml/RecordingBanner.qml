import QtQuick
import QtQuick.Layouts
import Velunta

// A recording runs; it can be stopped from here.
Card {
    id: banner
    required property AppModel model
    border.color: Theme.rec
    implicitHeight: row.implicitHeight + 2 * padding

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: banner.padding
        spacing: 10
        Rectangle {
            width: 10
            height: 10
            radius: 5
            color: Theme.rec
        }
        Text {
            text: "Gravando"
            color: Theme.ink
            font.pixelSize: Theme.bodySize
            font.weight: Font.DemiBold
        }
        Item { Layout.fillWidth: true }
        FilledButton {
            objectName: "stopRecordingButton"
            kind: FilledButton.Kind.Rec
            iconName: "stop.fill"
            text: "Parar gravação"
            onClicked: banner.model.stopRecording()
        }
    }
}
