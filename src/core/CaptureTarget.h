#pragma once

#include <QRectF>
#include <cstdint>
#include <optional>

// The window system's identifier of one display: on X11 its RandR output id.
using DisplayId = std::uint32_t;

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
};
