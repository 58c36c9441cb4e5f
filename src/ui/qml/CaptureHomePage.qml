import QtQuick
import QtQuick.Controls.Basic
import Velunta

// The capture page: what is going on, the two capture cards, the options and
// the latest captures.
Flickable {
    id: page
    objectName: "captureHomePage"
    required property AppModel model
    // The update banner's component, when the build has one.
    property Component updateBanner: null

    contentWidth: width
    contentHeight: column.height + 48
    boundsBehavior: Flickable.StopAtBounds
    clip: true
    ScrollBar.vertical: ScrollBar {}

    Column {
        id: column
        width: Math.max(0, Math.min(920, page.width - 48))
        x: (page.width - width) / 2
        y: 24
        spacing: 20

        Text {
            text: "Capturar"
            color: Theme.ink
            font.pixelSize: Theme.largeTitleSize
            font.weight: Font.Bold
            Accessible.role: Accessible.Heading
        }
        PermissionBanner {
            objectName: "permissionBanner"
            visible: !page.model.hasScreenPermission
            width: column.width
            model: page.model
        }
        RecordingBanner {
            objectName: "recordingBanner"
            visible: page.model.isRecording
            width: column.width
            model: page.model
        }
        Loader {
            objectName: "updateBannerLoader"
            width: column.width
            sourceComponent: page.updateBanner
            // Not item.visible: that is false while the loader itself is hidden.
            visible: item !== null && item.height > 0
        }
        Row {
            objectName: "captureCards"
            spacing: 16
            enabled: !page.model.isBusy
            CaptureCard {
                objectName: "fullScreenCard"
                width: (column.width - 16) / 2
                model: page.model
            }
            CaptureCard {
                objectName: "areaCard"
                width: (column.width - 16) / 2
                model: page.model
                isArea: true
            }
        }
        CaptureOptions {
            objectName: "captureOptions"
            enabled: !page.model.isBusy
        }
        RecentCaptures {
            objectName: "recentCaptures"
            width: column.width
            model: page.model
        }
    }
}
