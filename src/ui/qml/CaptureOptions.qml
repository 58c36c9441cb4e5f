import QtQuick
import QtQuick.Controls.Basic
import Velunta

// The three options the next capture reads, stored as soon as they change.
Row {
    spacing: 20

    component OptionBox: CheckBox {
        id: box
        font.pixelSize: Theme.bodySize
        palette.text: Theme.ink
        palette.windowText: Theme.ink
        palette.base: Theme.surface
        palette.mid: Theme.line
        contentItem: Text {
            leftPadding: box.indicator.width + box.spacing
            text: box.text
            font: box.font
            color: Theme.ink
            verticalAlignment: Text.AlignVCenter
        }
    }

    OptionBox {
        objectName: "systemAudioOption"
        text: "Som do sistema"
        checked: Preferences.capturesSystemAudio
        onToggled: Preferences.capturesSystemAudio = checked
    }
    OptionBox {
        objectName: "microphoneOption"
        text: "Microfone"
        checked: Preferences.capturesMicrophone
        onToggled: Preferences.capturesMicrophone = checked
    }
    OptionBox {
        objectName: "copyOption"
        text: "Copiar ao terminar"
        checked: Preferences.copiesScreenshots
        onToggled: Preferences.copiesScreenshots = checked
    }
}
