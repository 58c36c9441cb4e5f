#include "platform/ScreenSource.h"

namespace {

bool holds(const QRect &frame, QPoint point)
{
    return point.x() >= frame.x() && point.y() >= frame.y() && point.x() < frame.x() + frame.width()
        && point.y() < frame.y() + frame.height();
}

} // namespace

std::optional<DisplayId> displayUnderPointer(const ScreenSource &source)
{
    const std::vector<DisplayInfo> displays = source.displays();
    const QPoint pointer = source.pointerPosition();
    const DisplayInfo *chosen = nullptr;
    for (const DisplayInfo &display : displays) {
        if (holds(display.frame, pointer)) {
            chosen = &display;
            break;
        }
    }
    if (!chosen) {
        for (const DisplayInfo &display : displays) {
            if (display.primary) {
                chosen = &display;
                break;
            }
        }
    }
    if (!chosen)
        return std::nullopt;
    return chosen->id;
}

bool isWaylandSession(const QProcessEnvironment &environment)
{
    return environment.value(QStringLiteral("XDG_SESSION_TYPE")).compare(QLatin1String("wayland"), Qt::CaseInsensitive)
        == 0
        || !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
}
