import QtQuick
import QtQuick.Controls.Basic
import Velunta

// The newest captures in a horizontal strip, with a way into the library.
Column {
    id: strip
    required property AppModel model
    spacing: 10

    RecentCapturesModel {
        id: recent
        source: strip.model
    }

    Item {
        width: parent.width
        height: Math.max(heading.implicitHeight, seeAll.implicitHeight)
        Text {
            id: heading
            anchors.verticalCenter: parent.verticalCenter
            text: "Recentes"
            color: Theme.ink
            font.pixelSize: Theme.headlineSize
            font.weight: Font.DemiBold
            Accessible.role: Accessible.Heading
        }
        Text {
            id: seeAll
            objectName: "seeAllButton"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: "Ver todas"
            color: Theme.accent
            font.pixelSize: Theme.bodySize
            font.underline: seeAllMouse.containsMouse || activeFocus
            activeFocusOnTab: true
            Accessible.role: Accessible.Link
            Accessible.name: text
            Keys.onReturnPressed: strip.model.page = 1
            Keys.onSpacePressed: strip.model.page = 1
            MouseArea {
                id: seeAllMouse
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: strip.model.page = 1
            }
        }
    }

    Rectangle {
        objectName: "recentEmpty"
        visible: recent.count === 0
        width: parent.width
        height: Math.max(90, emptyText.implicitHeight + 24)
        radius: 10
        color: "transparent"
        border.width: 1
        border.color: Theme.line
        Text {
            id: emptyText
            anchors.centerIn: parent
            width: parent.width - 24
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: "Seu primeiro print ou gravação aparece aqui."
            color: Theme.inkSoft
            font.pixelSize: Theme.calloutSize
        }
    }

    ListView {
        id: list
        objectName: "recentList"
        visible: recent.count > 0
        width: parent.width
        height: 180 / 1.6 + 6 + 20
        orientation: ListView.Horizontal
        spacing: 12
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        model: recent
        // No current tile: it would keep its delegate alive and trail a
        // highlight after it, as in the library.
        currentIndex: -1
        highlightFollowsCurrentItem: false
        delegate: CaptureTile {
            required property var tile
            width: 180
            model: strip.model
            tileData: tile
        }
    }
}
