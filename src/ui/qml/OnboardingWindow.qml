import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velunta

// The introduction: the step rail on the left, the step and its footer on the
// right. No title bar: the window is moved by dragging its background and
// closed with the button on the rail, which only hides it.
Window {
    id: window
    required property AppModel model
    // OnboardingView: the step, the footer it calls for, the rail's texts.
    required property QtObject view

    title: "Velunta"
    flags: Qt.Window | Qt.FramelessWindowHint
    width: 680
    height: 480
    minimumWidth: 680
    maximumWidth: 680
    minimumHeight: 480
    maximumHeight: 480
    color: Theme.canvas

    palette.window: Theme.canvas
    palette.windowText: Theme.ink
    palette.base: Theme.surface
    palette.text: Theme.ink
    palette.button: Theme.surface
    palette.buttonText: Theme.ink
    palette.highlight: Theme.accent
    palette.mid: Theme.line
    palette.dark: Theme.inkSoft

    // A permission granted in the system's settings shows within a second.
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

    // Return belongs to the default button alone: without one it does nothing,
    // even when another button has the focus.
    Shortcut {
        objectName: "returnKey"
        sequences: ["Return", "Enter"]
        onActivated: {
            if (window.view.primaryIsDefault)
                window.view.activatePrimary()
        }
    }

    MouseArea {
        objectName: "moveArea"
        anchors.fill: parent
        onPressed: window.startSystemMove()
    }

    OnboardingStepRail {
        id: rail
        objectName: "stepRail"
        width: 208
        height: parent.height
        current: window.view.step
        names: window.view.railNames
        label: window.view.railLabel
        onCloseRequested: window.close()
    }

    Item {
        id: content
        x: rail.width
        width: parent.width - rail.width
        height: parent.height

        Loader {
            id: stepLoader
            objectName: "stepLoader"
            x: 36
            y: 52
            width: parent.width - 72
            height: footer.y - 20 - y
            sourceComponent: [welcomeStep, screenStep, microphoneStep, shortcutsStep][window.view.step]
        }

        RowLayout {
            id: footer
            objectName: "footer"
            x: 36
            width: parent.width - 72
            y: parent.height - 20 - height
            spacing: 8

            Button {
                objectName: "backButton"
                visible: window.view.showsBack
                text: "Voltar"
                font.pixelSize: Theme.bodySize
                implicitHeight: 32
                leftPadding: 14
                rightPadding: 14
                onClicked: window.view.back()
            }
            Item {
                Layout.fillWidth: true
            }
            FilledButton {
                objectName: "defaultButton"
                visible: window.view.primaryIsDefault
                text: window.view.primaryIsDefault ? window.view.primaryTitle : ""
                onClicked: window.view.activatePrimary()
            }
            Button {
                objectName: "laterButton"
                visible: !window.view.primaryIsDefault
                text: window.view.primaryIsDefault ? "" : window.view.primaryTitle
                font.pixelSize: Theme.bodySize
                implicitHeight: 32
                leftPadding: 14
                rightPadding: 14
                onClicked: window.view.activatePrimary()
            }
        }
    }

    Component {
        id: welcomeStep
        OnboardingWelcomeStep {
            objectName: "welcomeStep"
        }
    }
    Component {
        id: screenStep
        OnboardingScreenStep {
            objectName: "screenStep"
            model: window.model
            view: window.view
        }
    }
    Component {
        id: microphoneStep
        OnboardingMicrophoneStep {
            objectName: "microphoneStep"
            model: window.model
        }
    }
    Component {
        id: shortcutsStep
        OnboardingShortcutsStep {
            objectName: "shortcutsStep"
        }
    }
}
