import QtQuick
import Velunta

// Step 2: the screen-capture permission, with the way to grant it while it
// is missing. Where the system asks before it shares the screen (Wayland),
// the button puts that question once and the texts speak of it.
Column {
    id: step
    required property AppModel model
    required property QtObject view
    spacing: 24
    // Nothing to grant where the session lacks what captures need (a
    // Wayland desktop without its portals): the step says what is missing.
    readonly property bool blocked: step.model.screenProblem.length > 0
    readonly property bool asks: step.model.asksToShareScreen && !step.blocked

    OnboardingStepHeader {
        width: step.width
        title: "Permita ver a sua tela"
        message: step.blocked ? step.model.screenProblem
                 : step.asks ? "O sistema pede sua confirmação antes de compartilhar a tela com um app. Tudo fica no seu computador: o Velunta não envia nada para a internet."
                 : "O sistema precisa dessa permissão para qualquer print ou gravação. Tudo fica no seu computador: o Velunta não envia nada para a internet."
    }
    OnboardingGrantedBadge {
        objectName: "screenGranted"
        visible: step.model.hasScreenPermission
        text: "Gravação de Tela permitida"
    }
    Column {
        objectName: "screenInstructions"
        visible: !step.model.hasScreenPermission && !step.blocked
        width: step.width
        spacing: 10
        FilledButton {
            objectName: "openScreenSettings"
            text: step.asks ? "Compartilhar a tela" : "Abrir as configurações do sistema"
            onClicked: step.view.openScreenSettings()
        }
        OnboardingInstructionRow {
            width: parent.width
            number: 1
            text: step.asks ? "Na janela do sistema, escolha a tela e confirme."
                                               : "Nas configurações, permita o Velunta."
        }
        OnboardingInstructionRow {
            width: parent.width
            number: 2
            text: step.asks ? "O sistema guarda a resposta: as gravações começam sem perguntar de novo."
                                               : "Se o sistema pedir para reabrir o app, a introdução continua daqui."
        }
    }
}
