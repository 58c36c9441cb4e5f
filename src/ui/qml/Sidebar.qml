import QtQuick
import Velunta

// The three pages of the main window.
Rectangle {
    id: sidebar
    required property AppModel model
    readonly property var pages: [
        { title: "Capturar", icon: "viewfinder" },
        { title: "Biblioteca", icon: "photo.on.rectangle" },
        { title: "Ajustes", icon: "gearshape" }
    ]
    color: Theme.isDark ? Qt.lighter(Theme.canvas, 1.25) : Qt.darker(Theme.canvas, 1.03)

    ListView {
        id: list
        objectName: "sidebarList"
        anchors.fill: parent
        anchors.margins: 10
        anchors.topMargin: 16
        spacing: 2
        interactive: false
        model: sidebar.pages
        activeFocusOnTab: true
        keyNavigationEnabled: false
        Accessible.role: Accessible.List
        Keys.onUpPressed: sidebar.model.page = Math.max(0, sidebar.model.page - 1)
        Keys.onDownPressed: sidebar.model.page = Math.min(2, sidebar.model.page + 1)

        delegate: Rectangle {
            id: entry
            required property var modelData
            required property int index
            readonly property bool selected: index === sidebar.model.page
            objectName: "sidebar_" + modelData.title
            width: ListView.view.width
            height: 32
            radius: 6
            color: selected ? (list.activeFocus ? Theme.accent : Theme.line) : "transparent"
            Accessible.role: Accessible.ListItem
            Accessible.name: modelData.title
            Accessible.selected: selected
            readonly property color foreground: selected && list.activeFocus ? "white" : Theme.ink
            Row {
                anchors.verticalCenter: parent.verticalCenter
                x: 10
                spacing: 8
                SymbolIcon {
                    anchors.verticalCenter: parent.verticalCenter
                    name: entry.modelData.icon
                    color: entry.foreground
                    size: 16
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: entry.modelData.title
                    color: entry.foreground
                    font.pixelSize: Theme.bodySize
                }
            }
            MouseArea {
                anchors.fill: parent
                onClicked: sidebar.model.page = entry.index
            }
        }
    }
}
