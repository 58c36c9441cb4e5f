#pragma once

#include <QPointF>
#include <QRect>
#include <QWidget>
#include <optional>

// The bar's window: a dark rounded panel that can be moved by dragging its
// background when MOVABLE.
class ControlsBackground : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal cornerRadius = 14;

    // Where the session lets Velunta place its windows: an override-redirect
    // panel at FRAME. Otherwise (Wayland) an ordinary frameless window of
    // FRAME's size that the compositor places and the user can always drag;
    // MOVABLE and TRANSLUCENT are then moot (the compositor blends it).
    ControlsBackground(const QRect &frame, bool movable, bool translucent, bool placeable = true);

    bool isMovable() const { return m_movable; }
    bool isPlaceable() const { return m_placeable; }

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_movable;
    bool m_translucent;
    bool m_placeable;
    // Where the drag grabbed the window, relative to its top-left corner.
    std::optional<QPointF> m_dragOffset;
};
