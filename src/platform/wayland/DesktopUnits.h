#pragma once

#include "platform/ScreenSource.h"
#include "platform/wayland/PortalScreenCast.h"

#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <vector>

// Three kinds of units meet on a Wayland desktop that the compositor scales:
//
// - logical units, the compositor's layout: QScreen::geometry(), the
//   position and size of a ScreenCast portal stream, a wl_output's place;
// - Velunta's desktop pixels (DisplayInfo::pixelGeometry, GrabRequest,
//   FrameArea): each screen's logical frame at the screen's real density;
// - the pixels of a picture the compositor hands out (the Screenshot
//   portal's PNG, a PipeWire frame), whose density is read off its size.
//
// The real density is not Qt's devicePixelRatio: Qt 6.4 only knows the
// integer wl_output scale, which is 2 on a monitor scaled to 150 %. It is
// the output's current mode (pixels) over its logical size.
namespace DesktopUnits {

// One wl_output as the compositor describes it.
struct Output {
    // In logical units.
    QPoint position;
    // The current mode, turned the way the output is.
    QSize pixels;

    bool operator==(const Output &) const = default;
};

// Pixels per logical unit of the screen whose logical frame is FRAME: the
// mode of the output at the frame's place over the frame's size; FALLBACK
// when no output lies there.
double density(const QRect &frame, const std::vector<Output> &outputs, double fallback);

// The desktop pixel rectangles of screens with these logical FRAMES and
// DENSITIES: each one its frame's size at its own density, placed at its
// logical position times the largest density, so that no two overlap.
std::vector<QRect> pixelLayout(const std::vector<QRect> &frames, const std::vector<double> &densities);

// Where the desktop pixels PIXELS of SCREEN lie, in logical units.
QRectF toLogical(const DisplayInfo &screen, const QRect &pixels);

// The part of a picture of PICTURE pixels, which shows the logical rectangle
// SHOWN, where the logical rectangle AREA lies. Its size is SIZE whenever the
// picture is as dense as SIZE says (edges rounded on their own may otherwise
// make it a pixel more or less); another size means another density.
QRect inPicture(const QRect &shown, QSize picture, const QRectF &area, QSize size);

// The stream whose monitor holds the whole logical AREA, allowing SLACK
// logical units past its far edges (a pixel of rounding). A portal that does
// not say where its monitors lie is trusted with a lone stream.
const PortalScreenCast::Stream *streamFor(
    const std::vector<PortalScreenCast::Stream> &streams, const QRectF &area, double slack);

} // namespace DesktopUnits
