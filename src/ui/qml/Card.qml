import QtQuick
import Velunta

// A panel on the surface colour with a hairline border.
Rectangle {
    property real padding: 14
    radius: 12
    color: Theme.surface
    border.width: 1
    border.color: Theme.line
}
