import QtQuick
import QtQuick.Window
import Velunta

// One of Velunta's symbols, drawn in a colour at a size in points.
Image {
    id: icon
    property string name
    property color color: Theme.ink
    property real size: 16

    width: size
    height: size
    sourceSize: Qt.size(Math.ceil(size * Screen.devicePixelRatio), Math.ceil(size * Screen.devicePixelRatio))
    source: name.length > 0 ? "image://icon/" + name + "/" + color.toString().substring(1) : ""
    Accessible.ignored: true
}
