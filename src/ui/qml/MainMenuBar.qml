import QtQuick
import QtQuick.Controls.Basic
import Velunta

// The application's menus: "Velunta", "Arquivo" and "Janela".
MenuBar {
    id: bar
    required property MainMenu mainMenu

    palette.window: Theme.canvas
    palette.button: Theme.canvas
    palette.base: Theme.surface
    palette.buttonText: Theme.ink
    palette.windowText: Theme.ink
    palette.text: Theme.ink
    palette.highlight: Theme.accent
    palette.highlightedText: "white"
    palette.light: Theme.surface
    palette.mid: Theme.line
    palette.dark: Theme.line

    Menu {
        objectName: "applicationMenu"
        title: "Velunta"
        Action { text: "Sobre o Velunta"; onTriggered: bar.mainMenu.about() }
        MenuSeparator {}
        Action { text: "Ajustes…"; shortcut: "Ctrl+,"; onTriggered: bar.mainMenu.showSettings() }
        MenuItem {
            objectName: "checkForUpdatesItem"
            text: "Procurar atualizações…"
            visible: bar.mainMenu.canCheckForUpdates
            height: visible ? implicitHeight : 0
            onTriggered: bar.mainMenu.checkForUpdates()
        }
        MenuSeparator {}
        Action { text: "Ocultar o Velunta"; shortcut: "Ctrl+H"; onTriggered: bar.mainMenu.hideApplication() }
        MenuSeparator {}
        Action { text: "Encerrar o Velunta"; shortcut: "Ctrl+Q"; onTriggered: bar.mainMenu.quit() }
    }
    Menu {
        objectName: "fileMenu"
        title: "Arquivo"
        Action { text: "Fechar Janela"; shortcut: "Ctrl+W"; onTriggered: bar.mainMenu.closeActiveWindow() }
    }
    Menu {
        id: windowMenu
        objectName: "windowMenu"
        title: "Janela"
        onAboutToShow: bar.mainMenu.refreshWindows()
        Action { text: "Minimizar"; shortcut: "Ctrl+M"; onTriggered: bar.mainMenu.minimizeActiveWindow() }
        Action { text: "Velunta"; shortcut: "Ctrl+0"; onTriggered: bar.mainMenu.showMainWindow() }
        MenuSeparator {}
        Instantiator {
            model: bar.mainMenu.windowTitles
            delegate: MenuItem {
                required property string modelData
                required property int index
                text: modelData
                onTriggered: bar.mainMenu.activateWindow(index)
            }
            onObjectAdded: (index, object) => windowMenu.insertItem(3 + index, object)
            onObjectRemoved: (index, object) => windowMenu.removeItem(object)
        }
    }
}
