#pragma once

#include <QFont>
#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>

// The content of one overlay window: dims the screen, shows the hint, and
// follows a drag with a clear hole, a white outline and the size in pixels.
class SelectionView : public QWidget {
    Q_OBJECT
public:
    // STILL: the screen's pixels to show under the dimming when the window
    // system cannot show what is below a translucent window; null otherwise.
    SelectionView(QSize size, QImage still, QWidget *parent = nullptr);

    std::function<void()> onDragStarted;
    std::function<void(QRectF)> onSelected;
    std::function<void()> onCancel;

    std::optional<QPointF> dragStart() const { return m_dragStart; }
    std::optional<QRectF> selection() const { return m_selection; }
    // Back to the hint (another screen started a drag).
    void clearSelection();
    bool hasPainted() const { return m_hasPainted; }
    // Pixels per point of the captured screen, for the size label; unset,
    // the window's device pixel ratio. On a Wayland desktop scaled to 150 %
    // Qt's ratio is 2 while a capture has 1.5 pixels per point.
    void setPixelScale(qreal scale) { m_pixelScale = scale; }

    // The hint or the size label as drawn now: its text and its box.
    struct Label {
        QString text;
        QRectF box;
    };
    std::optional<Label> currentLabel() const;

signals:
    void firstPaint();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // What the hint, outline and label cover now, for partial repaints.
    QRect decorationArea() const;
    void changed(QRect before);
    QPointF clamped(QPointF position) const;

    QImage m_still;
    QImage m_dimmedStill;
    QFont m_font;
    std::optional<QPointF> m_dragStart;
    std::optional<QRectF> m_selection;
    bool m_hasPainted = false;
    qreal m_pixelScale = 0;
};
