import QtQuick
import QtQuick.Controls.Basic
import Velunta

// One saved capture: its thumbnail and a caption. A click opens the file; the
// context menu opens, shows, copies or trashes it; dragging it out offers
// the file itself.
Item {
    id: tile
    required property AppModel model
    // path, url, isVideo, caption, thumbnail, spokenLabel
    required property var tileData
    readonly property bool highlighted: mouse.containsMouse || activeFocus

    implicitWidth: 180
    implicitHeight: thumb.height + 6 + captionRow.height
    activeFocusOnTab: true

    Accessible.role: Accessible.Button
    Accessible.name: tileData.spokenLabel
    Accessible.description: "Abre o arquivo"

    function open() { model.openCapture(tileData.path) }

    Keys.onReturnPressed: open()
    Keys.onEnterPressed: open()
    Keys.onSpacePressed: open()
    Keys.onMenuPressed: popupMenu(0, thumb.height)

    Drag.dragType: Drag.Automatic
    Drag.supportedActions: Qt.CopyAction
    Drag.mimeData: { "text/uri-list": tile.tileData.url.toString() }
    Drag.active: dragHandler.active

    Rectangle {
        id: thumb
        width: parent.width
        // Whole pixels: the software renderer copies a picture drawn at its
        // own size on whole pixels, and scales anything else on every frame.
        height: Math.round(width / 1.6)
        radius: 8
        color: Theme.surface

        ThumbnailView {
            objectName: "thumbnail"
            anchors.fill: parent
            source: tile.tileData.thumbnail
        }
        // Rounds the picture's corners by covering them with the page colour
        // (clipping to a rounded shape needs effects the software renderer lacks).
        Rectangle {
            anchors.fill: parent
            anchors.margins: -5
            radius: 8 + 5
            color: "transparent"
            border.width: 5
            border.color: Theme.canvas
        }
        Rectangle {
            anchors.fill: parent
            radius: 8
            color: "transparent"
            border.width: tile.highlighted ? 2 : 1
            border.color: tile.highlighted ? Theme.ink : Theme.line
        }
    }

    Row {
        id: captionRow
        y: thumb.height + 6
        width: parent.width
        spacing: 5
        SymbolIcon {
            anchors.verticalCenter: parent.verticalCenter
            name: tile.tileData.isVideo ? "record.circle.fill" : "camera.fill"
            color: tile.tileData.isVideo ? Theme.rec : Theme.inkSoft
            size: Theme.captionSize + 1
        }
        Text {
            objectName: "tileCaption"
            width: parent.width - 17
            text: tile.tileData.caption
            color: Theme.inkSoft
            font.pixelSize: Theme.calloutSize
            elide: Text.ElideRight
            maximumLineCount: 1
        }
    }

    MouseArea {
        id: mouse
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        cursorShape: Qt.PointingHandCursor
        onClicked: (event) => {
            if (event.button === Qt.RightButton)
                tile.popupMenu()
            else
                tile.open()
        }
    }
    DragHandler {
        id: dragHandler
        target: null
    }

    // Made on first use: a menu and its items cost more to build than the
    // rest of the tile, and a scrolled library builds tiles by the hundred.
    property Menu menu: null
    function popupMenu(x, y) {
        if (!menu)
            menu = menuComponent.createObject(tile)
        if (x === undefined)
            menu.popup()
        else
            menu.popup(tile, x, y)
    }
    Component {
        id: menuComponent
        Menu {
            objectName: "tileMenu"
            MenuItem { text: "Abrir"; onTriggered: tile.open() }
            MenuItem { text: "Mostrar na pasta"; onTriggered: tile.model.revealCapture(tile.tileData.path) }
            MenuItem { text: "Copiar"; onTriggered: tile.model.copyCaptureToClipboard(tile.tileData.path, tile.tileData.isVideo) }
            MenuSeparator {}
            MenuItem {
                text: "Mover para a Lixeira"
                onTriggered: tile.model.moveToTrash(tile.tileData.path)
            }
        }
    }
}
