import QtQuick
import Velunta

// Step 3: the microphone, optional. Not asked yet: ask. Refused or without an
// input: the sound settings. Available: a green check.
Column {
    id: step
    required property AppModel model
    readonly property int status: model.microphoneStatus
    spacing: 24

    OnboardingStepHeader {
        width: step.width
        title: "Quer gravar sua voz?"
        message: "É opcional. O microfone só entra nas gravações, e você pode ligar ou desligar quando quiser."
    }
    FilledButton {
        objectName: "allowMicrophone"
        visible: step.status === 0
        text: "Permitir o microfone"
        onClicked: step.model.askForMicrophone()
    }
    FilledButton {
        objectName: "openSoundSettings"
        visible: step.status === 1 || step.status === 2
        text: "Abrir as configurações de som"
        onClicked: step.model.openPrivacyPane("Privacy_Microphone")
    }
    OnboardingGrantedBadge {
        objectName: "microphoneGranted"
        visible: step.status === 3
        text: "Microfone permitido"
    }
}
