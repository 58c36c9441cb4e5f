import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velunta

// The settings page: capture options, the save folder, the two permissions,
// the global shortcuts (and those another app holds), updates, and the way
// back into the introduction. It keeps no state: everything comes from the
// model and the settings store.
Flickable {
    id: page
    objectName: "settingsPage"
    required property AppModel model

    contentWidth: width
    contentHeight: column.height + 48
    boundsBehavior: Flickable.StopAtBounds
    clip: true
    ScrollBar.vertical: ScrollBar {}
    // Plain buttons sit on the cards' surface: give them the canvas colour.
    palette.button: Theme.canvas
    palette.buttonText: Theme.ink

    // The autostart entry is a file anyone may change: read it again
    // whenever the page comes back into view.
    readonly property bool isInView: visible && Window.active
    onIsInViewChanged: if (isInView) Autostart.refresh()

    function folderName(path) {
        const parts = path.split("/").filter(part => part.length > 0)
        return parts.length > 0 ? parts[parts.length - 1] : path
    }

    // A section's heading over its card of rows.
    component SectionHeading: Text {
        color: Theme.inkSoft
        font.pixelSize: Theme.calloutSize
        font.weight: Font.DemiBold
        Accessible.role: Accessible.Heading
    }
    component FormCard: Card {
        default property alias rows: rowColumn.data
        width: column.width
        height: rowColumn.height
        Column {
            id: rowColumn
            width: parent.width
        }
    }
    // A labelled row: the label on the left, the value (its children) on the right.
    component FormRow: Item {
        id: formRow
        property string label
        default property alias value: valueRow.data
        width: parent ? parent.width : 0
        height: Math.max(44, Math.max(labelText.implicitHeight, valueRow.implicitHeight) + 20)
        Text {
            id: labelText
            x: 14
            width: formRow.width - 42 - valueRow.implicitWidth
            anchors.verticalCenter: parent.verticalCenter
            text: formRow.label
            color: Theme.ink
            font.pixelSize: Theme.bodySize
            wrapMode: Text.Wrap
        }
        RowLayout {
            id: valueRow
            anchors.right: parent.right
            anchors.rightMargin: 14
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8
        }
    }
    component Hairline: Rectangle {
        x: 14
        width: parent ? parent.width - 14 : 0
        height: 1
        color: Theme.line
    }
    component FormSwitch: Switch {
        id: toggle
        property string label
        Accessible.name: label
        indicator: Rectangle {
            implicitWidth: 36
            implicitHeight: 20
            x: toggle.leftPadding
            y: (toggle.height - height) / 2
            radius: 10
            color: toggle.checked ? Theme.accent : Theme.line
            border.width: toggle.visualFocus ? 2 : 0
            border.color: Theme.ink
            Rectangle {
                x: toggle.checked ? parent.width - width - 2 : 2
                y: 2
                width: 16
                height: 16
                radius: 8
                color: "white"
            }
        }
    }
    // A permission: "Permitido" with a green check, or the button that fixes it.
    component PermissionRow: FormRow {
        id: permission
        property bool isGranted
        property string buttonTitle
        signal activated
        Row {
            visible: permission.isGranted
            spacing: 6
            OnboardingGreenCheck {
                anchors.verticalCenter: parent.verticalCenter
                size: Theme.bodySize + 2
            }
            Text {
                objectName: "permissionGranted"
                anchors.verticalCenter: parent.verticalCenter
                text: "Permitido"
                color: Theme.ink
                font.pixelSize: Theme.bodySize
            }
        }
        Button {
            objectName: "permissionButton"
            visible: !permission.isGranted
            text: permission.buttonTitle
            font.pixelSize: Theme.bodySize
            onClicked: permission.activated()
        }
    }

    Column {
        id: column
        width: Math.max(0, Math.min(720, page.width - 48))
        x: (page.width - width) / 2
        y: 24
        spacing: 8

        Text {
            text: "Ajustes"
            color: Theme.ink
            font.pixelSize: Theme.largeTitleSize
            font.weight: Font.Bold
            Accessible.role: Accessible.Heading
            bottomPadding: 8
        }

        SectionHeading {
            text: "Gravação"
        }
        FormCard {
            FormRow {
                label: "Gravar o áudio do sistema"
                FormSwitch {
                    objectName: "systemAudioSwitch"
                    label: "Gravar o áudio do sistema"
                    checked: Preferences.capturesSystemAudio
                    onToggled: Preferences.capturesSystemAudio = checked
                }
            }
            Hairline {}
            FormRow {
                label: "Gravar o microfone"
                // Only the setting: access is asked through the permission row.
                FormSwitch {
                    objectName: "microphoneSwitch"
                    label: "Gravar o microfone"
                    checked: Preferences.capturesMicrophone
                    onToggled: Preferences.capturesMicrophone = checked
                }
            }
            Hairline {}
            FormRow {
                label: "Dispositivo"
                // Stored by the input's name; the list comes from the sound
                // server, kept current off the GUI thread.
                ComboBox {
                    id: microphoneDevice
                    objectName: "microphoneDeviceBox"
                    Accessible.name: "Dispositivo"
                    Layout.preferredWidth: 260
                    font.pixelSize: Theme.bodySize
                    model: page.model.microphoneChoices
                    textRole: "label"
                    valueRole: "name"
                    function chosenIndex() {
                        const choices = page.model.microphoneChoices
                        for (let i = 0; i < choices.length; ++i)
                            if (choices[i].name === Preferences.microphoneDevice)
                                return i
                        return 0
                    }
                    currentIndex: chosenIndex()
                    onActivated: index => {
                        Preferences.microphoneDevice = page.model.microphoneChoices[index].name
                        // A choice made here breaks the binding; the store stays the one source.
                        currentIndex = Qt.binding(chosenIndex)
                    }
                }
            }
        }

        Item { width: 1; height: 12 }
        SectionHeading {
            text: "Arquivos"
        }
        FormCard {
            FormRow {
                label: "Salvar em"
                Text {
                    objectName: "saveFolderName"
                    text: page.folderName(page.model.saveFolder)
                    color: Theme.inkSoft
                    font.pixelSize: Theme.bodySize
                    elide: Text.ElideMiddle
                    Layout.maximumWidth: 260
                    ToolTip.visible: folderMouse.containsMouse
                    ToolTip.text: page.model.saveFolder
                    MouseArea {
                        id: folderMouse
                        anchors.fill: parent
                        hoverEnabled: true
                    }
                }
                Button {
                    objectName: "chooseFolderButton"
                    text: "Escolher"
                    font.pixelSize: Theme.bodySize
                    onClicked: page.model.chooseSaveFolder()
                }
                Button {
                    objectName: "openFolderButton"
                    text: "Abrir"
                    font.pixelSize: Theme.bodySize
                    onClicked: page.model.openSaveFolder()
                }
            }
            Hairline {}
            FormRow {
                label: "Copiar para a área de transferência ao terminar"
                FormSwitch {
                    objectName: "copySwitch"
                    label: "Copiar para a área de transferência ao terminar"
                    checked: Preferences.copiesScreenshots
                    onToggled: Preferences.copiesScreenshots = checked
                }
            }
        }

        Item { width: 1; height: 12 }
        SectionHeading {
            text: "Sistema"
        }
        FormCard {
            FormRow {
                label: "Abrir o Velunta ao entrar no sistema"
                FormSwitch {
                    objectName: "autostartSwitch"
                    label: "Abrir o Velunta ao entrar no sistema"
                    checked: Autostart.enabled
                    onToggled: Autostart.enabled = checked
                }
            }
            Text {
                objectName: "autostartError"
                visible: Autostart.errorText.length > 0
                text: Autostart.errorText
                color: Theme.warning
                font.pixelSize: Theme.calloutSize
                wrapMode: Text.Wrap
                width: parent.width - 28
                x: 14
                bottomPadding: 10
            }
        }

        Item { width: 1; height: 12 }
        SectionHeading {
            text: "Permissões"
        }
        FormCard {
            PermissionRow {
                objectName: "screenPermissionRow"
                label: "Gravação de Tela"
                isGranted: page.model.hasScreenPermission
                buttonTitle: "Permitir"
                onActivated: {
                    // Where the system asks (Wayland), Permitir puts the question.
                    if (page.model.asksToShareScreen)
                        page.model.requestScreenCapture()
                    page.model.openPrivacyPane("Privacy_ScreenCapture")
                    page.model.refreshPermissions()
                }
            }
            Hairline {}
            PermissionRow {
                objectName: "microphonePermissionRow"
                label: "Microfone (opcional)"
                isGranted: page.model.microphoneStatus === 3
                buttonTitle: page.model.microphoneStatus === 0 ? "Permitir" : "Abrir configurações"
                onActivated: {
                    if (page.model.microphoneStatus === 0)
                        page.model.askForMicrophone()
                    else
                        page.model.openPrivacyPane("Privacy_Microphone")
                }
            }
        }

        Item { width: 1; height: 12 }
        SectionHeading {
            text: "Atalhos"
        }
        FormCard {
            Repeater {
                // The global shortcuts, in the order they are registered.
                model: Shortcuts.all
                Column {
                    required property var modelData
                    required property int index
                    width: parent ? parent.width : 0
                    Hairline {
                        visible: index > 0
                    }
                    FormRow {
                        objectName: "shortcutRow"
                        label: modelData.title
                        KeyCaps {
                            objectName: "shortcutKeys"
                            text: modelData.keys
                        }
                    }
                }
            }
            Hairline {
                visible: unavailableLine.visible
            }
            RowLayout {
                id: unavailableLine
                objectName: "unavailableShortcuts"
                visible: page.model.unavailableShortcutKeys.length > 0
                x: 14
                width: parent ? parent.width - 28 : 0
                height: visible ? Math.max(40, implicitHeight + 20) : 0
                spacing: 6
                SymbolIcon {
                    name: "exclamationmark.triangle"
                    color: Theme.warning
                    size: Theme.bodySize
                }
                Text {
                    objectName: "unavailableShortcutsText"
                    Layout.fillWidth: true
                    text: page.model.shortcutsNote.length > 0
                          ? page.model.shortcutsNote
                          : "Em uso por outro app: " + page.model.unavailableShortcutKeys.join(", ")
                    color: Theme.warning
                    font.pixelSize: Theme.bodySize
                    wrapMode: Text.Wrap
                }
            }
        }

        Item { width: 1; height: 12 }
        UpdateSettingsSection {
            objectName: "updateSection"
            width: column.width
            updater: page.model.updater
            isBusy: page.model.isBusy
        }

        Item { width: 1; height: 20 }
        Button {
            objectName: "replayOnboardingButton"
            text: "Ver a introdução de novo"
            font.pixelSize: Theme.bodySize
            onClicked: page.model.replayOnboarding()
        }
    }
}
