import QtQuick
import QtQuick.Layouts
import Velunta

// Screen capture is not allowed yet.
Card {
    id: banner
    required property AppModel model
    border.color: Theme.warning
    implicitHeight: row.implicitHeight + 2 * padding

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.margins: banner.padding
        spacing: 12
        SymbolIcon {
            name: "exclamationmark.triangle.fill"
            color: Theme.warning
            size: Theme.title3Size + 3
        }
        Column {
            Layout.fillWidth: true
            spacing: 2
            Text {
                width: parent.width
                text: "O Velunta ainda não pode ver a tela"
                color: Theme.ink
                font.pixelSize: Theme.bodySize
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
            }
            Text {
                width: parent.width
                text: banner.model.screenProblem.length > 0 ? banner.model.screenProblem
                      : banner.model.asksToShareScreen ? "O sistema pede sua confirmação para compartilhar a tela. Clique em Permitir e confirme."
                                                       : "Permita a gravação de tela nas configurações do sistema. Pode ser preciso reabrir o app."
                color: Theme.inkSoft
                font.pixelSize: Theme.calloutSize
                wrapMode: Text.Wrap
            }
        }
        FilledButton {
            objectName: "permissionButton"
            text: "Permitir"
            onClicked: {
                // Where the system asks (Wayland), Permitir puts the question.
                if (banner.model.asksToShareScreen)
                    banner.model.requestScreenCapture()
                banner.model.openPrivacyPane("Privacy_ScreenCapture")
                banner.model.refreshPermissions()
            }
        }
    }
}
