import QtQuick
import Velunta

// Step 2: the screen-capture permission, with the way to grant it while it
// is missing.
Column {
    id: step
    required property AppModel model
    required property QtObject view
    spacing: 24

    OnboardingStepHeader {
        width: step.width
        title: "Permita ver a sua tela"
        message: "O sistema precisa dessa permissão para qualquer print ou gravação. Tudo fica no seu computador: o Velunta não envia nada para a internet."
    }
    OnboardingGrantedBadge {
        objectName: "screenGranted"
        visible: step.model.hasScreenPermission
        text: "Gravação de Tela permitida"
    }
    Column {
        objectName: "screenInstructions"
        visible: !step.model.hasScreenPermission
        width: step.width
        spacing: 10
        FilledButton {
            objectName: "openScreenSettings"
            text: "Abrir as configurações do sistema"
            onClicked: step.view.openScreenSettings()
        }
        OnboardingInstructionRow {
            width: parent.width
            number: 1
            text: "Nas configurações, permita o Velunta."
        }
        OnboardingInstructionRow {
            width: parent.width
            number: 2
            text: "Se o sistema pedir para reabrir o app, a introdução continua daqui."
        }
    }
}
