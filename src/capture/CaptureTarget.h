#pragma once

#include "platform/ScreenSource.h"

#include <QRectF>
#include <optional>

// What one capture takes: a whole display, or a rectangle on it in points
// (device-independent pixels) from the display's top-left corner, y down.
struct CaptureTarget {
    DisplayId displayID = 0;
    std::optional<QRectF> rect;

    // Exact comparison (QRectF's own operator== is fuzzy).
    friend bool operator==(const CaptureTarget &a, const CaptureTarget &b)
    {
        if (a.displayID != b.displayID || a.rect.has_value() != b.rect.has_value())
            return false;
        return !a.rect
            || (a.rect->x() == b.rect->x() && a.rect->y() == b.rect->y() && a.rect->width() == b.rect->width()
                && a.rect->height() == b.rect->height());
    }

    // The whole display under the pointer (else the primary display); none
    // when there is no display or it has no id. GUI thread.
    static std::optional<CaptureTarget> displayUnderMouse(const ScreenSource &source);
};
