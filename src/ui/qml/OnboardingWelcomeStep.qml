import QtQuick
import Velunta

// Step 1: what Velunta does.
Column {
    id: step
    spacing: 26

    OnboardingStepHeader {
        width: step.width
        title: "Boas-vindas ao Velunta"
        message: "Prints e gravações da sua tela, a um atalho de distância."
    }
    Column {
        width: step.width
        spacing: 16
        OnboardingFeatureRow {
            width: parent.width
            symbol: "camera.fill"
            tint: Theme.ink
            title: "Prints"
            detail: "Da tela inteira ou só de uma área."
        }
        OnboardingFeatureRow {
            width: parent.width
            symbol: "record.circle.fill"
            tint: Theme.rec
            title: "Gravações"
            detail: "Com som, pausa e controles logo abaixo da área."
        }
        OnboardingFeatureRow {
            width: parent.width
            symbol: "doc.on.clipboard.fill"
            tint: Theme.ink
            title: "Prontos para colar"
            detail: "Tudo é salvo e copiado para a área de transferência."
        }
    }
}
