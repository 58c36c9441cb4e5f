import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velunta

// The settings page's "Atualizações": the running version, and for a copy
// that receives updates the two switches, what the updater is doing, a check
// on request and the install button when there is something to install.
Column {
    id: section
    // The Updater.
    property QtObject updater: null
    property bool isBusy: false
    // Updater.Kind: available 0, downloading 1, verifying 2, waitingToInstall 3,
    // failed 4, idle 5, checking 6, upToDate 7.
    readonly property int kind: updater ? updater.state : 5
    readonly property bool isConfigured: updater ? updater.isConfigured : false

    readonly property string statusText: {
        switch (kind) {
        case 0: return "Versão " + updater.version + " disponível"
        case 1: return "Baixando a atualização…"
        case 2: return "Conferindo a atualização…"
        case 3: return "Pronta para instalar"
        case 4: return updater.failureMessage
        case 6: return "Procurando…"
        case 7: return "Você está com a versão mais recente"
        default: return "Nenhuma verificação feita agora"
        }
    }
    // What install() will do; empty: nothing to install.
    readonly property string installTitle: kind === 3 ? "Reabrir e instalar"
        : kind === 0 ? (updater.canInstallInPlace() ? "Atualizar e reabrir" : "Baixar")
        : ""

    spacing: 8
    // Plain buttons sit on the card's surface.
    palette.button: Theme.canvas
    palette.buttonText: Theme.ink

    component RowLabel: Text {
        color: Theme.ink
        font.pixelSize: Theme.bodySize
        Layout.fillWidth: true
        wrapMode: Text.Wrap
    }
    component Hairline: Rectangle {
        x: 14
        width: parent.width - 14
        height: 1
        color: Theme.line
    }
    component FormSwitch: Switch {
        id: toggle
        Accessible.name: label
        property string label
        indicator: Rectangle {
            implicitWidth: 36
            implicitHeight: 20
            x: toggle.leftPadding
            y: (toggle.height - height) / 2
            radius: 10
            color: toggle.checked ? Theme.accent : Theme.line
            opacity: toggle.enabled ? 1 : 0.5
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

    Text {
        text: "Atualizações"
        color: Theme.inkSoft
        font.pixelSize: Theme.calloutSize
        font.weight: Font.DemiBold
        Accessible.role: Accessible.Heading
    }

    Card {
        width: section.width
        height: rows.height

        Column {
            id: rows
            width: parent.width

            RowLayout {
                x: 14
                width: parent.width - 28
                height: Math.max(44, implicitHeight + 20)
                RowLabel {
                    text: "Versão instalada"
                }
                Text {
                    objectName: "installedVersion"
                    text: UpdatePreferences.installedVersion
                    color: Theme.inkSoft
                    font.pixelSize: Theme.bodySize
                }
            }
            Hairline {}
            RowLayout {
                objectName: "notConfiguredRow"
                visible: !section.isConfigured
                x: 14
                width: parent.width - 28
                height: visible ? Math.max(44, implicitHeight + 20) : 0
                Text {
                    objectName: "notConfigured"
                    Layout.fillWidth: true
                    text: "Esta cópia não recebe atualizações automáticas."
                    color: Theme.inkSoft
                    font.pixelSize: Theme.bodySize
                    wrapMode: Text.Wrap
                }
            }
            Column {
                objectName: "configuredRows"
                visible: section.isConfigured
                width: parent.width

                RowLayout {
                    x: 14
                    width: parent.width - 28
                    height: Math.max(44, implicitHeight + 20)
                    RowLabel {
                        text: "Procurar atualizações automaticamente"
                    }
                    FormSwitch {
                        objectName: "checksForUpdatesSwitch"
                        label: "Procurar atualizações automaticamente"
                        checked: Preferences.checksForUpdates
                        onToggled: Preferences.checksForUpdates = checked
                    }
                }
                Hairline {}
                RowLayout {
                    x: 14
                    width: parent.width - 28
                    height: Math.max(44, implicitHeight + 20)
                    RowLabel {
                        text: "Receber versões beta"
                    }
                    FormSwitch {
                        objectName: "usesBetaUpdatesSwitch"
                        label: "Receber versões beta"
                        checked: Preferences.usesBetaUpdates
                        onToggled: Preferences.usesBetaUpdates = checked
                    }
                }
                Hairline {}
                RowLayout {
                    x: 14
                    width: parent.width - 28
                    height: Math.max(44, implicitHeight + 20)
                    spacing: 8
                    Text {
                        objectName: "updateStatus"
                        Layout.fillWidth: true
                        text: section.statusText
                        color: section.kind === 4 ? Theme.warning : Theme.inkSoft
                        font.pixelSize: Theme.bodySize
                        wrapMode: Text.Wrap
                    }
                    Button {
                        objectName: "checkNowButton"
                        text: "Procurar agora"
                        font.pixelSize: Theme.bodySize
                        enabled: section.kind !== 1 && section.kind !== 2 && section.kind !== 3 && section.kind !== 6
                        onClicked: section.updater.checkNow()
                    }
                    FilledButton {
                        objectName: "sectionInstallButton"
                        visible: section.installTitle.length > 0
                        text: section.installTitle
                        enabled: !section.isBusy
                        onClicked: section.updater.installNow()
                    }
                }
            }
        }
    }
}
