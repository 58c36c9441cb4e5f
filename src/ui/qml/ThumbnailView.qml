import QtQuick
import QtQuick.Window

// A capture's thumbnail, made by the provider at the size it is drawn, so
// that the software renderer copies it instead of scaling it every frame.
// Another drawn size (a narrower window) asks for another picture; until it
// arrives, the one already there stays on screen, scaled. Qt 6.4's Image
// drops its picture as soon as it starts loading another, so two take
// turns: one shown, the other loading hidden. Another source is another
// capture, whose picture replaces the old one in place: the old capture
// must not show under the new one's name.
Item {
    id: view
    property url source
    // In points: Image asks the provider for its sourceSize times the
    // window's pixel ratio itself, so a size already in pixels would come
    // back scaled twice.
    readonly property size wanted: Qt.size(Math.round(width), Math.round(height))
    // The picture on screen, and its size in pixels.
    readonly property int status: shown.status
    readonly property size shownSize: Qt.size(Math.round(shown.sourceSize.width * Screen.devicePixelRatio),
                                              Math.round(shown.sourceSize.height * Screen.devicePixelRatio))
    property Image shown: first
    property Image next: second
    clip: true

    onSourceChanged: load()
    onWantedChanged: load()

    function sameUrl(a, b) { return String(a) === String(b) }
    function isWanted(image) {
        return sameUrl(image.source, source) && image.sourceSize.width === wanted.width
            && image.sourceSize.height === wanted.height
    }
    function request(image) {
        // Empty first, so that setting the size does not load the old source.
        image.source = ""
        image.sourceSize = wanted
        image.source = source
    }
    function load() {
        if (wanted.width <= 0 || wanted.height <= 0)
            return
        if (isWanted(shown)) {
            next.source = ""
            return
        }
        if (!sameUrl(shown.source, source) || shown.status !== Image.Ready) {
            next.source = ""
            request(shown)
            return
        }
        if (!isWanted(next))
            request(next)
    }
    function arrived(image) {
        if (image !== next || !isWanted(image))
            return
        if (image.status !== Image.Ready && image.status !== Image.Error)
            return
        const old = shown
        image.visible = true
        old.visible = false
        shown = image
        next = old
        old.source = ""
    }

    Image {
        id: first
        anchors.fill: parent
        fillMode: Image.PreserveAspectCrop
        asynchronous: true
        // The provider keeps its own cache, which knows a file replaced
        // under the same name; the engine's would show the old picture.
        cache: false
        onStatusChanged: view.arrived(first)
    }
    Image {
        id: second
        anchors.fill: parent
        visible: false
        fillMode: Image.PreserveAspectCrop
        asynchronous: true
        cache: false
        onStatusChanged: view.arrived(second)
    }
}
