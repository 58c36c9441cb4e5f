import QtQuick
import Velunta

// Step 4: the four global shortcuts.
Column {
    id: step
    spacing: 20

    OnboardingStepHeader {
        width: step.width
        title: "Tudo a um atalho"
        message: "Eles funcionam em qualquer app. O ícone na bandeja do sistema tem as mesmas ações."
    }
    Column {
        width: step.width
        Repeater {
            // The global shortcuts, in the order they are registered.
            model: Shortcuts.all
            Column {
                id: entry
                required property var modelData
                required property int index
                width: step.width
                Item {
                    objectName: "shortcutRow"
                    width: parent.width
                    height: Math.max(title.height, caps.height) + 18
                    Text {
                        id: title
                        objectName: "shortcutTitle"
                        anchors.verticalCenter: parent.verticalCenter
                        text: entry.modelData.title
                        color: Theme.ink
                        font.pixelSize: Theme.bodySize
                    }
                    KeyCaps {
                        id: caps
                        objectName: "shortcutKeys"
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        text: entry.modelData.keys
                    }
                }
                Rectangle {
                    objectName: "shortcutSeparator"
                    visible: entry.index < 3
                    width: parent.width
                    height: 1
                    color: Theme.line
                }
            }
        }
    }
}
