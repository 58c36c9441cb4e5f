import QtQuick
import QtQuick.Controls.Basic
import Velunta

// Every capture in the save folder, grouped under day headings and filtered
// by kind. One list of rows (a heading, then rows of tiles) so that only the
// rows in or near view exist.
Item {
    id: page
    objectName: "libraryPage"
    required property AppModel model
    readonly property var filterLabels: ["Tudo", "Prints", "Gravações"]
    readonly property real gridWidth: Math.max(0, width - 48)
    readonly property int columns: library.columnsFor(gridWidth)
    // Whole pixels, so that tiles and rows sit on whole pixels and the
    // software renderer copies thumbnails instead of scaling them.
    readonly property real tileWidth: Math.floor((gridWidth - (columns - 1) * 14) / columns)
    readonly property real tileHeight: Math.round(tileWidth / 1.6) + 6 + 20
    property alias libraryModel: library

    LibraryModel {
        id: library
        objectName: "libraryModel"
        source: page.model
        columns: page.columns
    }

    Component.onCompleted: {
        library.refreshDay()
        page.model.reload()
    }

    function folderName(path) {
        const parts = path.split("/").filter(part => part.length > 0)
        return parts.length > 0 ? parts[parts.length - 1] : path
    }

    Item {
        id: toolbar
        width: parent.width
        height: 64
        Text {
            x: 24
            anchors.verticalCenter: parent.verticalCenter
            text: "Biblioteca"
            color: Theme.ink
            font.pixelSize: Theme.largeTitleSize
            font.weight: Font.Bold
            Accessible.role: Accessible.Heading
        }
        Row {
            anchors.right: parent.right
            anchors.rightMargin: 24
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: "Mostrar"
                color: Theme.inkSoft
                font.pixelSize: Theme.calloutSize
            }
            SegmentedPicker {
                objectName: "filterPicker"
                label: "Mostrar"
                options: page.filterLabels
                currentIndex: library.filter
                onActivated: (index) => library.filter = index
            }
        }
    }

    Column {
        objectName: "libraryEmpty"
        visible: library.itemCount === 0
        anchors.centerIn: parent
        anchors.verticalCenterOffset: toolbar.height / 2
        width: Math.min(parent.width - 48, 460)
        spacing: 10
        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 8
            SymbolIcon {
                anchors.verticalCenter: parent.verticalCenter
                name: "photo.on.rectangle"
                color: Theme.ink
                size: Theme.title3Size + 3
            }
            Text {
                objectName: "emptyTitle"
                text: library.filter === LibraryModel.All ? "Nenhuma captura ainda" : "Nada neste filtro"
                color: Theme.ink
                font.pixelSize: Theme.title3Size
                font.weight: Font.DemiBold
            }
        }
        Text {
            objectName: "emptyDescription"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: "Os prints e gravações salvos em " + page.folderName(page.model.saveFolder) + " aparecem aqui."
            color: Theme.inkSoft
            font.pixelSize: Theme.bodySize
        }
        Item { width: 1; height: 4 }
        FilledButton {
            objectName: "makeCaptureButton"
            visible: library.filter === LibraryModel.All
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Fazer uma captura"
            onClicked: page.model.page = 0
        }
    }

    ListView {
        id: list
        objectName: "libraryList"
        visible: library.itemCount > 0
        anchors.top: toolbar.bottom
        anchors.bottom: parent.bottom
        width: parent.width
        topMargin: 8
        bottomMargin: 24
        clip: true
        model: library
        cacheBuffer: 400
        boundsBehavior: Flickable.StopAtBounds
        reuseItems: true
        // No current row: ListView would keep that row's delegate alive and
        // slide a default highlight item after it, and with rows of
        // estimated heights that slide never settles, so the window would
        // draw a frame every 16 ms while nothing changes.
        currentIndex: -1
        highlightFollowsCurrentItem: false
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AlwaysOn }

        delegate: Item {
            id: row
            required property int kind
            required property string title
            required property var items
            required property bool isLastInGroup
            required property bool isFirst
            x: 24
            width: page.gridWidth
            height: kind === LibraryModel.Heading ? (isFirst ? 0 : 24) + Math.ceil(heading.implicitHeight) + 10
                                                  : page.tileHeight + (isLastInGroup ? 0 : 16)
            Text {
                id: heading
                objectName: "dayHeading"
                visible: row.kind === LibraryModel.Heading
                y: row.isFirst ? 0 : 24
                text: row.title
                color: Theme.ink
                font.pixelSize: Theme.headlineSize + 2
                font.weight: Font.DemiBold
                Accessible.role: Accessible.Heading
            }
            // The row's tiles by capture: when its captures shift (one trashed
            // before them, a new one in front, another width) the tiles of
            // the captures still in it stay, thumbnails and all.
            ListModel {
                id: tiles
            }
            // A row taken from the pool gets its new kind and items one
            // role at a time, in no set order: each change syncs, and once
            // all have arrived (onReused) the row syncs again with both.
            onItemsChanged: syncTiles()
            onKindChanged: syncTiles()
            Component.onCompleted: syncTiles()
            // A row out of the list (scrolled away, or its day gone) waits in
            // the pool, hidden, until another row takes it.
            ListView.onPooled: visible = false
            ListView.onReused: {
                visible = true
                syncTiles()
            }
            // A tile whose capture left the row takes the next capture that
            // has none, rather than being destroyed while another is built:
            // a row taken from the pool, while scrolling, rebinds its tiles.
            // Tiles left over (a shorter row, a heading) wait hidden, and
            // show again when their capture comes back, as after a jump
            // away and back to the same row.
            function syncTiles() {
                // Roles arrive one by one while the row is made: the kind
                // can come before the items.
                if (row.items === undefined)
                    return
                if (row.kind !== LibraryModel.Tiles) {
                    for (let i = 0; i < tiles.count; ++i)
                        tiles.setProperty(i, "shown", false)
                    return
                }
                const next = row.items
                const wanted = new Set(next.map(tile => tile.key))
                for (let i = 0; i < next.length; ++i) {
                    if (i < tiles.count && tiles.get(i).key === next[i].key) {
                        if (!tiles.get(i).shown)
                            tiles.setProperty(i, "shown", true)
                        continue
                    }
                    let from = i + 1
                    while (from < tiles.count && tiles.get(from).key !== next[i].key)
                        ++from
                    if (from < tiles.count) {
                        tiles.move(from, i, 1)
                        tiles.setProperty(i, "shown", true)
                        continue
                    }
                    let spare = i
                    while (spare < tiles.count && wanted.has(tiles.get(spare).key))
                        ++spare
                    if (spare < tiles.count) {
                        if (spare !== i)
                            tiles.move(spare, i, 1)
                        tiles.set(i, { key: next[i].key, tile: next[i], shown: true })
                    } else {
                        tiles.insert(i, { key: next[i].key, tile: next[i], shown: true })
                    }
                }
                for (let i = next.length; i < tiles.count; ++i)
                    tiles.setProperty(i, "shown", false)
            }
            Row {
                visible: row.kind === LibraryModel.Tiles
                spacing: 14
                Repeater {
                    model: tiles
                    CaptureTile {
                        required property var tile
                        required property bool shown
                        visible: shown
                        width: page.tileWidth
                        model: page.model
                        tileData: tile
                    }
                }
            }
        }
    }
}
