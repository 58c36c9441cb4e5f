import QtQuick
import Velunta

// A symbol of the introduction. The application's icon set draws most of
// them; the check of the step rail and the clipboard are drawn here.
Item {
    id: symbol
    property string name
    property color color: Theme.ink
    property real size: 16
    property bool bold: false
    readonly property bool drawnHere: name === "checkmark" || name === "doc.on.clipboard.fill"

    width: size
    height: size
    Accessible.ignored: true

    SymbolIcon {
        visible: !symbol.drawnHere
        anchors.fill: parent
        name: symbol.drawnHere ? "" : symbol.name
        color: symbol.color
        size: symbol.size
    }

    Canvas {
        id: canvas
        visible: symbol.drawnHere
        anchors.fill: parent
        onPaint: {
            const ctx = getContext("2d")
            const s = Math.min(width, height)
            ctx.reset()
            ctx.fillStyle = symbol.color
            ctx.strokeStyle = symbol.color
            if (symbol.name === "checkmark") {
                ctx.lineWidth = s * (symbol.bold ? 0.17 : 0.11)
                ctx.lineCap = "round"
                ctx.lineJoin = "round"
                ctx.beginPath()
                ctx.moveTo(s * 0.14, s * 0.54)
                ctx.lineTo(s * 0.40, s * 0.80)
                ctx.lineTo(s * 0.88, s * 0.22)
                ctx.stroke()
            } else if (symbol.name === "doc.on.clipboard.fill") {
                // The board, then the clip on its top edge cut out of it.
                ctx.beginPath()
                ctx.roundedRect(s * 0.16, s * 0.12, s * 0.68, s * 0.84, s * 0.1, s * 0.1)
                ctx.fill()
                ctx.globalCompositeOperation = "destination-out"
                ctx.beginPath()
                ctx.roundedRect(s * 0.31, s * 0.04, s * 0.38, s * 0.2, s * 0.06, s * 0.06)
                ctx.fill()
                ctx.globalCompositeOperation = "source-over"
                ctx.beginPath()
                ctx.roundedRect(s * 0.36, 0, s * 0.28, s * 0.18, s * 0.05, s * 0.05)
                ctx.fill()
                // The page on the board.
                ctx.globalCompositeOperation = "destination-out"
                ctx.lineWidth = s * 0.07
                for (const y of [0.45, 0.6, 0.75]) {
                    ctx.beginPath()
                    ctx.moveTo(s * 0.32, s * y)
                    ctx.lineTo(s * 0.68, s * y)
                    ctx.stroke()
                }
                ctx.globalCompositeOperation = "source-over"
            }
        }
        Connections {
            target: symbol
            function onColorChanged() { canvas.requestPaint() }
            function onNameChanged() { canvas.requestPaint() }
            function onBoldChanged() { canvas.requestPaint() }
        }
    }
}
