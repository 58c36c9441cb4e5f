#include "platform/wayland/DesktopUnits.h"

#include <algorithm>
#include <cmath>

namespace DesktopUnits {

double density(const QRect &frame, const std::vector<Output> &outputs, double fallback)
{
    if (frame.isEmpty())
        return fallback;
    for (const Output &output : outputs) {
        if (output.position == frame.topLeft() && output.pixels.width() > 0)
            return double(output.pixels.width()) / frame.width();
    }
    return fallback;
}

std::vector<QRect> pixelLayout(const std::vector<QRect> &frames, const std::vector<double> &densities)
{
    double largest = 0;
    for (double d : densities)
        largest = std::max(largest, d);
    if (!(largest > 0))
        largest = 1;
    std::vector<QRect> layout;
    for (size_t i = 0; i < frames.size(); ++i) {
        const QRect &frame = frames[i];
        const double own = i < densities.size() && densities[i] > 0 ? densities[i] : 1.0;
        layout.emplace_back(QPoint(qRound(frame.x() * largest), qRound(frame.y() * largest)),
            QSize(qRound(frame.width() * own), qRound(frame.height() * own)));
    }
    return layout;
}

QRectF toLogical(const DisplayInfo &screen, const QRect &pixels)
{
    const double d = screen.scale > 0 ? screen.scale : 1.0;
    const QPoint offset = pixels.topLeft() - screen.pixelGeometry.topLeft();
    return QRectF(
        screen.frame.x() + offset.x() / d, screen.frame.y() + offset.y() / d, pixels.width() / d, pixels.height() / d);
}

QRect inPicture(const QRect &shown, QSize picture, const QRectF &area, QSize size)
{
    if (shown.isEmpty() || picture.isEmpty())
        return QRect(QPoint(0, 0), size);
    const double sx = double(picture.width()) / shown.width();
    const double sy = double(picture.height()) / shown.height();
    const auto snap = [](double length, int wanted) {
        const int rounded = int(std::lround(length));
        return std::abs(rounded - wanted) <= 1 ? wanted : rounded;
    };
    return QRect(int(std::lround((area.x() - shown.x()) * sx)), int(std::lround((area.y() - shown.y()) * sy)),
        snap(area.width() * sx, size.width()), snap(area.height() * sy, size.height()));
}

const PortalScreenCast::Stream *streamFor(
    const std::vector<PortalScreenCast::Stream> &streams, const QRectF &area, double slack)
{
    // Logical edges computed from pixels carry floating-point dust.
    const double dust = 1e-6;
    for (const auto &stream : streams) {
        if (stream.geometry.isEmpty())
            continue;
        const QRectF held = QRectF(stream.geometry).adjusted(-dust, -dust, slack + dust, slack + dust);
        if (!area.isEmpty() && held.contains(area))
            return &stream;
    }
    if (streams.size() == 1 && streams.front().geometry.isEmpty())
        return &streams.front();
    return nullptr;
}

} // namespace DesktopUnits
