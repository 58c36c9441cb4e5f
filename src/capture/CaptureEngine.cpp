#include "capture/CaptureEngine.h"

#include "capture/PngEncoder.h"
#include "platform/WindowLevel.h"

#include <QCoroFuture>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>

namespace {

// libdeflate level 7: the lowest that stays within 1.05 times zlib's default
// size on every screen tried. Levels 4 to 6 are a few milliseconds faster and
// fine on a desktop of wallpaper and text windows (0.92 to 0.99 times), but
// give 1.15 to 1.36 times on dense antialiased strokes over a gradient, where
// level 7's deeper match search finds the repeats. Level 8 doubles the time.
constexpr int pngLevel = 7;

} // namespace

namespace CaptureEngine {

std::optional<CaptureTarget> displayUnderMouse(const ScreenSource &source)
{
    const std::optional<DisplayId> id = displayUnderPointer(source);
    if (!id)
        return std::nullopt;
    return CaptureTarget {*id, std::nullopt};
}

Result<ResolvedCapture, CaptureFailure> resolve(const ScreenSource &source, const CaptureTarget &target)
{
    using Answer = Result<ResolvedCapture, CaptureFailure>;
    for (const DisplayInfo &display : source.displays()) {
        if (display.id != target.displayID)
            continue;
        ResolvedCapture resolved;
        resolved.display = display;
        resolved.scale = display.scale;
        resolved.filter.pixels = display.pixelGeometry;
        resolved.filter.excludedWindows = WindowLevel::excludedWindowIds();
        resolved.filter.keptWindows = capturableWindowNumbers();
        return Answer(std::move(resolved));
    }
    return Answer::failure(CaptureError::displayNotFound);
}

QRectF sourceRect(const ResolvedCapture &resolved, const CaptureTarget &target)
{
    if (target.rect)
        return *target.rect;
    return QRectF(QPointF(0, 0), QSizeF(resolved.display.frame.size()));
}

QSize outputSize(const QSizeF &points, double scale)
{
    // std::round takes halves away from zero.
    return QSize(int(std::round(points.width() * scale)), int(std::round(points.height() * scale)));
}

QRect pixelRect(const ResolvedCapture &resolved, const QRectF &points)
{
    const QPoint origin = resolved.display.pixelGeometry.topLeft()
        + QPoint(int(std::round(points.x() * resolved.scale)), int(std::round(points.y() * resolved.scale)));
    return QRect(origin, outputSize(points.size(), resolved.scale));
}

QCoro::Task<Result<Screenshot, CaptureFailure>> screenshot(ScreenSource &source, CaptureTarget target)
{
    using Answer = Result<Screenshot, CaptureFailure>;
    auto resolved = resolve(source, target);
    if (!resolved)
        co_return Answer::failure(resolved.error());
    GrabRequest request;
    request.pixels = pixelRect(*resolved, sourceRect(*resolved, target));
    request.excludedWindows = resolved->filter.excludedWindows;
    request.showsCursor = false;
    if (request.pixels.isEmpty())
        co_return Answer::failure(PlatformError {QStringLiteral("A área a capturar está vazia.")});
    const double scale = resolved->scale;
    auto grabbing = source.grab(std::move(request));
    auto image = co_await grabbing;
    if (!image)
        co_return Answer::failure(image.error());
    co_return Answer(Screenshot {std::move(*image), scale});
}

Result<QByteArray, CaptureFailure> pngData(const QImage &image, double scale)
{
    using Answer = Result<QByteArray, CaptureFailure>;
    if (image.isNull() || !(scale > 0) || !std::isfinite(scale))
        return Answer::failure(CaptureError::encodingFailed);
    PngEncoder::Options options;
    // 72 × scale dots per inch.
    options.dotsPerMetre = int(std::lround(72.0 * scale / 0.0254));
    options.level = pngLevel;
    std::optional<QByteArray> bytes = PngEncoder::encode(image, options);
    if (!bytes)
        return Answer::failure(CaptureError::encodingFailed);
    return Answer(std::move(*bytes));
}

QCoro::Task<Result<QByteArray, CaptureFailure>> encodePng(QImage image, double scale)
{
    // The future is a named local: g++ 12 destroys temporaries inside a
    // co_await expression twice.
    auto encoding = QtConcurrent::run([image = std::move(image), scale] { return pngData(image, scale); });
    co_return co_await encoding;
}

std::vector<NativeWindowId> capturableWindowNumbers()
{
    return WindowLevel::capturableWindowIds();
}

} // namespace CaptureEngine
