import QtQuick
import Velunta

// A permission that is in place: a green check and what is allowed.
Row {
    id: badge
    property string text
    spacing: 6

    OnboardingGreenCheck {
        anchors.verticalCenter: parent.verticalCenter
        size: Theme.bodySize + 4
    }
    Text {
        objectName: "grantedText"
        anchors.verticalCenter: parent.verticalCenter
        text: badge.text
        color: Theme.ink
        font.pixelSize: Theme.bodySize
        font.weight: Font.DemiBold
    }
}
