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

    ControlsBackground(const QRect &frame, bool movable, bool translucent);

    bool isMovable() const { return m_movable; }

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_movable;
    bool m_translucent;
    // Where the drag grabbed the window, relative to its top-left corner.
    std::optional<QPointF> m_dragOffset;
};
