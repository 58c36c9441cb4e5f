#pragma once

#include <QColor>
#include <QObject>
#include <QPainterPath>
#include <QRectF>

// The palette every window draws with. Most colours are a light/dark pair
// resolved by the appearance being drawn; `rail` and `hudRec` are fixed.
namespace Theme {

struct DynamicColor {
    quint32 light;
    quint32 dark;

    QColor resolve(bool isDark) const { return QColor::fromRgb(0xFF000000u | (isDark ? dark : light)); }
};

inline constexpr DynamicColor canvas {0xF1F2F4, 0x17191D};
inline constexpr DynamicColor surface {0xFFFFFF, 0x23262C};
inline constexpr DynamicColor ink {0x1B1D21, 0xF0F1F3};
inline constexpr DynamicColor inkSoft {0x565C66, 0xAEB4BE};
inline constexpr DynamicColor line {0xD3D6DB, 0x3A3E46};
inline constexpr DynamicColor onInk {0xFFFFFF, 0x17191D};
inline constexpr DynamicColor rec {0xCF2A1E, 0xFF6A5C};
inline constexpr DynamicColor onRec {0xFFFFFF, 0x17191D};
inline constexpr DynamicColor warning {0x9A5B00, 0xF2B44C};

inline const QColor rail {30, 32, 36};
inline const QColor hudRec {229, 57, 44};

// Qt 6.4 has no colour-scheme query: a dark window colour means the dark
// appearance.
bool isDark(const QColor &windowColor);
// The desktop's current appearance, from the application palette.
bool systemIsDark();

// Four open L-shaped polylines, one per corner of RECT, arms LENGTH long,
// starting on the horizontal edge. Arms are not clamped.
QPainterPath cropMarks(const QRectF &rect, qreal length);

// Opacity of a filled button: disabled wins over pressed, pressed over hovered.
qreal filledButtonOpacity(bool isEnabled, bool isPressed, bool isHovered);

} // namespace Theme
