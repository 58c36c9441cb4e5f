import QtQuick
import Velunta

// The update card's symbol: a downward arrow cut out of a filled circle.
Canvas {
    id: symbol
    property color color: Theme.ink
    property real size: 28
    width: size
    height: size
    Accessible.ignored: true
    onColorChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        const s = Math.min(width, height)
        ctx.reset()
        ctx.fillStyle = symbol.color
        ctx.beginPath()
        ctx.arc(s / 2, s / 2, s / 2, 0, 2 * Math.PI)
        ctx.fill()
        ctx.globalCompositeOperation = "destination-out"
        ctx.lineWidth = s * 0.1
        ctx.lineCap = "round"
        ctx.lineJoin = "round"
        ctx.beginPath()
        ctx.moveTo(s * 0.5, s * 0.24)
        ctx.lineTo(s * 0.5, s * 0.74)
        ctx.moveTo(s * 0.3, s * 0.54)
        ctx.lineTo(s * 0.5, s * 0.74)
        ctx.lineTo(s * 0.7, s * 0.54)
        ctx.stroke()
        ctx.globalCompositeOperation = "source-over"
    }
}
