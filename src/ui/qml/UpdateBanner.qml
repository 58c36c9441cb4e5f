import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velunta

// The capture page's card about an update: an offer, the download, the
// verification, an update waiting for the capture to end, or a failure. In
// every other state of the updater it takes no space.
Item {
    id: banner
    // The Updater; none shows nothing.
    property QtObject updater: null
    // A capture is under way: nothing may quit the app to install.
    property bool isBusy: false
    // Updater.Kind: available 0, downloading 1, verifying 2, waitingToInstall 3,
    // failed 4, idle 5, checking 6, upToDate 7.
    readonly property int kind: updater ? updater.state : 5
    readonly property bool showsUpdate: kind >= 0 && kind <= 3
    readonly property bool showsFailure: kind === 4

    visible: showsUpdate || showsFailure
    // The plain button sits on the card's surface.
    palette.button: Theme.canvas
    palette.buttonText: Theme.ink
    implicitWidth: 600
    implicitHeight: showsUpdate ? updateCard.implicitHeight : showsFailure ? failureCard.implicitHeight : 0
    height: implicitHeight

    Card {
        id: updateCard
        objectName: "updateCard"
        visible: banner.showsUpdate
        width: banner.width
        implicitHeight: updateRow.implicitHeight + 2 * padding

        RowLayout {
            id: updateRow
            anchors.fill: parent
            anchors.margins: updateCard.padding
            spacing: 12

            UpdateSymbol {
                color: Theme.ink
                size: Theme.title3Size + 9
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Text {
                    objectName: "updateTitle"
                    Layout.fillWidth: true
                    text: "Versão " + (banner.updater ? banner.updater.version : "") + " disponível"
                    color: Theme.ink
                    font.pixelSize: Theme.bodySize
                    font.weight: Font.DemiBold
                    wrapMode: Text.Wrap
                }
                Text {
                    objectName: "updateNotes"
                    Layout.fillWidth: true
                    visible: text.length > 0
                    text: banner.updater ? banner.updater.notes : ""
                    color: Theme.inkSoft
                    font.pixelSize: Theme.calloutSize
                    wrapMode: Text.Wrap
                    maximumLineCount: 2
                    elide: Text.ElideRight
                }
            }
            FilledButton {
                objectName: "bannerInstallButton"
                visible: banner.kind === 0 || banner.kind === 3
                text: banner.kind === 3 ? "Reabrir e instalar"
                    : banner.kind === 0 && banner.updater && banner.updater.canInstallInPlace() ? "Atualizar e reabrir"
                    : "Baixar"
                enabled: !banner.isBusy
                onClicked: banner.updater.installNow()
            }
            Column {
                objectName: "bannerProgress"
                visible: banner.kind === 1
                spacing: 4
                Text {
                    objectName: "progressLabel"
                    text: "Baixando a atualização"
                    color: Theme.inkSoft
                    font.pixelSize: Theme.calloutSize
                }
                ProgressBar {
                    objectName: "progressBar"
                    width: 120
                    from: 0
                    to: 1
                    value: banner.updater ? Math.min(Math.max(banner.updater.progress, 0), 1) : 0
                }
            }
            Text {
                objectName: "verifyingLabel"
                visible: banner.kind === 2
                text: "Conferindo a atualização"
                color: Theme.inkSoft
                font.pixelSize: Theme.calloutSize
            }
        }
    }

    Card {
        id: failureCard
        objectName: "failureCard"
        visible: banner.showsFailure
        width: banner.width
        border.color: Theme.warning
        implicitHeight: failureRow.implicitHeight + 2 * padding

        RowLayout {
            id: failureRow
            anchors.fill: parent
            anchors.margins: failureCard.padding
            spacing: 12

            SymbolIcon {
                name: "exclamationmark.triangle.fill"
                color: Theme.warning
                size: Theme.title3Size + 3
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2
                Text {
                    objectName: "failureTitle"
                    Layout.fillWidth: true
                    text: "A atualização não foi concluída"
                    color: Theme.ink
                    font.pixelSize: Theme.bodySize
                    font.weight: Font.DemiBold
                    wrapMode: Text.Wrap
                }
                Text {
                    objectName: "failureMessage"
                    Layout.fillWidth: true
                    text: banner.updater ? banner.updater.failureMessage : ""
                    color: Theme.inkSoft
                    font.pixelSize: Theme.calloutSize
                    wrapMode: Text.Wrap
                }
            }
            Button {
                objectName: "retryButton"
                text: "Procurar de novo"
                font.pixelSize: Theme.bodySize
                onClicked: banner.updater.checkNow()
            }
        }
    }
}
