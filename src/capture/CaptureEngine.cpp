#include "capture/CaptureEngine.h"

#include "platform/WindowLevel.h"

#include <QBuffer>
#include <QCoroFuture>
#include <QImageWriter>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>
#include <cstdlib>

namespace {

// zlib level 3 writes screens of flat colour and text about a quarter faster
// than the default level 6, for files 1.05 to 1.35 times larger; levels 1 and
// 2 are no faster there and larger. On smooth gradients (wallpapers, shaded
// panels) every level below 6 gives files two to three times larger, and on a
// nearly uniform screen levels 1 to 3 give four times: those images get the
// default level. Qt maps quality q to zlib level (100 - q) × 9 / 91; -1 is
// zlib's default.
constexpr int fastQuality = 60;
constexpr int defaultQuality = -1;

// Samples every fourth row: the share of pixels equal to their left
// neighbour, and the share that differ from it by at most 2 in each channel.
int pngQuality(const QImage &image)
{
    if (image.depth() != 32 || image.width() < 2)
        return defaultQuality;
    qint64 same = 0;
    qint64 smooth = 0;
    qint64 total = 0;
    for (int y = 0; y < image.height(); y += 4) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 1; x < image.width(); ++x) {
            const QRgb a = line[x];
            const QRgb b = line[x - 1];
            if (a == b)
                ++same;
            else if (std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2
                && std::abs(qBlue(a) - qBlue(b)) <= 2)
                ++smooth;
        }
        total += image.width() - 1;
    }
    const bool uniform = same >= total * 95 / 100;
    const bool gradients = smooth >= total * 2 / 100;
    return uniform || gradients ? defaultQuality : fastQuality;
}

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
    QImage stamped = image;
    // 72 × scale dots per inch.
    const int dotsPerMetre = int(std::lround(72.0 * scale / 0.0254));
    stamped.setDotsPerMeterX(dotsPerMetre);
    stamped.setDotsPerMeterY(dotsPerMetre);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return Answer::failure(CaptureError::encodingFailed);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(pngQuality(stamped));
    if (!writer.write(stamped) || bytes.isEmpty())
        return Answer::failure(CaptureError::encodingFailed);
    return Answer(std::move(bytes));
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
