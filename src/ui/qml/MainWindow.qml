import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velunta

// The main window: a sidebar of three pages beside the page chosen.
ApplicationWindow {
    id: window
    required property AppModel model
    required property MainMenu mainMenu
    // The update banner on the capture page, over the model's updater.
    property Component updateBanner: Component {
        UpdateBanner {
            objectName: "updateBanner"
            updater: window.model.updater
            isBusy: window.model.isBusy
        }
    }

    title: "Velunta"
    width: 980
    height: 660
    minimumWidth: 820
    minimumHeight: 560
    color: Theme.canvas

    palette.window: Theme.canvas
    palette.windowText: Theme.ink
    palette.base: Theme.surface
    palette.text: Theme.ink
    palette.button: Theme.surface
    palette.buttonText: Theme.ink
    palette.highlight: Theme.accent
    palette.highlightedText: "white"
    palette.light: Theme.surface
    palette.mid: Theme.line
    palette.dark: Theme.inkSoft
    palette.placeholderText: Theme.inkSoft
    palette.toolTipBase: Theme.surface
    palette.toolTipText: Theme.ink

    menuBar: MainMenuBar {
        mainMenu: window.mainMenu
    }

    // Each time the window comes up: a rescan, then the permissions every
    // second while it stays up, so a permission granted elsewhere shows at once.
    onVisibleChanged: if (visible) window.model.reload()
    Timer {
        objectName: "permissionPoll"
        interval: 1000
        repeat: true
        running: window.visible
        onTriggered: {
            if (!window.model.isPreview)
                window.model.refreshPermissions()
        }
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Sidebar {
            objectName: "sidebar"
            Layout.preferredWidth: 190
            Layout.fillHeight: true
            model: window.model
        }
        Rectangle {
            Layout.preferredWidth: 1
            Layout.fillHeight: true
            color: Theme.line
        }
        Loader {
            id: pageLoader
            objectName: "pageLoader"
            Layout.fillWidth: true
            Layout.fillHeight: true
            sourceComponent: [homePage, libraryPage, settingsPage][window.model.page] ?? homePage
        }
    }

    Component {
        id: homePage
        CaptureHomePage {
            model: window.model
            updateBanner: window.updateBanner
        }
    }
    Component {
        id: libraryPage
        LibraryPage {
            model: window.model
        }
    }
    Component {
        id: settingsPage
        SettingsPage {
            model: window.model
        }
    }
}
