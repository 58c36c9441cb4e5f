#pragma once

#include "capture/CaptureFailure.h"
#include "core/CaptureTarget.h"
#include "core/Result.h"
#include "platform/ScreenSource.h"

#include <QByteArray>
#include <QCoroTask>
#include <QImage>
#include <vector>

// What a capture sees: the display's area, without the application's own
// overlays but with its ordinary windows.
struct ContentFilter {
    // The display's area in desktop pixels.
    QRect pixels;
    // The application's windows left out of the capture, and those kept.
    std::vector<NativeWindowId> excludedWindows;
    std::vector<NativeWindowId> keptWindows;

    bool operator==(const ContentFilter &) const = default;
};

// A target matched to a display that exists now.
struct ResolvedCapture {
    DisplayInfo display;
    ContentFilter filter;
    // Pixels per point of the captured content.
    double scale = 1.0;

    bool operator==(const ResolvedCapture &) const = default;
};

// A still image in device pixels and the display's pixels per point.
struct Screenshot {
    QImage image;
    double scale = 1.0;
};

// Screenshots: from a target to pixels to PNG bytes. No state; the window
// system comes in as a ScreenSource, chosen once at start-up.
namespace CaptureEngine {

// The whole display under the pointer (else the primary display); none
// when there is no display or it has no id. GUI thread.
std::optional<CaptureTarget> displayUnderMouse(const ScreenSource &source);

// Finds the target's display among those listed now (displayNotFound when
// it is gone) and what the capture leaves out. GUI thread; nothing is cached,
// so call it again for every capture.
Result<ResolvedCapture, CaptureFailure> resolve(const ScreenSource &source, const CaptureTarget &target);

// The area a target covers on its display, in points: its rectangle, or the
// whole display.
QRectF sourceRect(const ResolvedCapture &resolved, const CaptureTarget &target);
// Output pixels for an area of POINTS: the nearest integer to scale × size,
// halves away from zero (100.25 points at scale 2 → 201 pixels).
QSize outputSize(const QSizeF &points, double scale);
// The desktop pixels that a point rectangle on the resolved display covers.
QRect pixelRect(const ResolvedCapture &resolved, const QRectF &points);

// The target at full pixel density, cursor hidden. Resumes on the GUI thread.
QCoro::Task<Result<Screenshot, CaptureFailure>> screenshot(ScreenSource &source, CaptureTarget target);

// PNG bytes at 72 × scale dots per inch (2835 dots per metre at scale 1), or
// encodingFailed. Safe on any thread; a 1080p image takes tens of
// milliseconds, so the GUI thread uses encodePng.
Result<QByteArray, CaptureFailure> pngData(const QImage &image, double scale);
// pngData on a worker thread; resumes on the caller's thread.
QCoro::Task<Result<QByteArray, CaptureFailure>> encodePng(QImage image, double scale);

// The application's top-level windows that captures keep, in window order.
std::vector<NativeWindowId> capturableWindowNumbers();

} // namespace CaptureEngine
