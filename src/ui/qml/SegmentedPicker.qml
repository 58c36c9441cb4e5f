import QtQuick
import Velunta

// A row of mutually exclusive choices.
Rectangle {
    id: picker
    property var options: []
    property int currentIndex: 0
    property string label: ""
    signal activated(int index)

    implicitWidth: row.implicitWidth + 4
    implicitHeight: 28
    radius: 7
    color: Theme.line
    Accessible.role: Accessible.PageTabList
    Accessible.name: label

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 2
        Repeater {
            model: picker.options
            Rectangle {
                id: segment
                required property string modelData
                required property int index
                readonly property bool selected: index === picker.currentIndex
                objectName: "filter_" + modelData
                width: Math.max(64, segmentText.implicitWidth + 24)
                height: 24
                radius: 5
                color: selected ? Theme.surface : "transparent"
                border.width: activeFocus ? 2 : 0
                border.color: Theme.accent
                activeFocusOnTab: true
                Accessible.role: Accessible.PageTab
                Accessible.name: modelData
                Accessible.checked: selected
                Keys.onSpacePressed: picker.activated(index)
                Keys.onReturnPressed: picker.activated(index)
                Text {
                    id: segmentText
                    anchors.centerIn: parent
                    text: segment.modelData
                    color: Theme.ink
                    font.pixelSize: Theme.calloutSize
                    font.weight: segment.selected ? Font.DemiBold : Font.Normal
                }
                MouseArea {
                    anchors.fill: parent
                    onClicked: picker.activated(segment.index)
                }
            }
        }
    }
}
