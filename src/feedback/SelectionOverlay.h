#pragma once

#include "core/ControllerPorts.h"
#include "core/CaptureTarget.h"
#include "platform/ScreenSource.h"

#include <QFont>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <coroutine>
#include <functional>
#include <optional>
#include <vector>

class WindowManager;

// Where everything the selection view draws goes, in view points (top-left
// origin, y down). No widgets here, so it can be checked on its own.
namespace SelectionGeometry {

// Smaller selections are dropped at mouse-up.
constexpr qreal minimumSize = 8;
constexpr qreal dimmingOpacity = 0.35;
constexpr qreal labelBoxOpacity = 0.75;
constexpr qreal labelCornerRadius = 6;
// The box is the text plus 8 points on each side and 4 above and below.
constexpr qreal labelPaddingX = 8;
constexpr qreal labelPaddingY = 4;
// Boxes keep this far from the view's left and right edges.
constexpr qreal labelMargin = 4;
// The size label sits this far below the selection...
constexpr qreal sizeLabelGap = 8;
// ...or, with no room below, this far above its lower edge, inside it.
constexpr qreal sizeLabelInset = 34;

QString hintText();
// Medium weight, 13 points; labels draw its digits at equal widths.
QFont labelFont();

// POINT moved into the view: x into 0…width, y into 0…height.
QPointF clampToView(QPointF point, QSizeF view);
// The smallest whole-point rectangle holding the drag from START to CURRENT,
// whichever way it went.
QRectF selectionRect(QPointF start, QPointF current);
bool isLargeEnough(const QRectF &selection);
// Where the 1-point outline is stroked: the selection grown by half a point,
// so the line lies just outside it.
QRectF outlineRect(const QRectF &selection);
// "W × H": the size in pixels, points times SCALE, each truncated.
QString sizeLabel(const QSizeF &points, qreal scale);
// Below the selection when it fits, else inside it above the lower edge.
QPointF sizeLabelPoint(const QRectF &selection, qreal viewHeight);
// The box of a label with text of TEXTSIZE meant to go at AT: x kept between
// the margins of a view VIEWWIDTH wide, y as given.
QRectF labelBox(QPointF at, QSizeF textSize, qreal viewWidth);
QPointF labelTextOrigin(const QRectF &box);
// The point that centres the hint's box in the view.
QPointF hintPoint(QSizeF textSize, QSizeF view);
// What a selection on DISPLAY captures: the rectangle is already in points
// from the screen's top-left corner.
CaptureTarget targetFor(DisplayId display, const QRectF &selection);

} // namespace SelectionGeometry

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
};

// One borderless window over a whole screen, above everything (panels and
// full-screen windows too), never in a capture.
class SelectionWindow : public QWidget {
    Q_OBJECT
public:
    // TRANSLUCENT: a compositing manager shows what is below; without one
    // the view paints STILL under the dimming.
    SelectionWindow(const DisplayInfo &display, QImage still, bool translucent);

    DisplayId displayID() const { return m_displayID; }
    QRect frame() const { return m_frame; }
    SelectionView *view() const { return m_view; }

    // Brings it up over everything.
    void present();
    // Takes the keyboard focus and grabs the keyboard: an override-redirect
    // window gets no focus from the window manager, and Esc must arrive.
    void becomeKey();
    void resign();
    bool hasKeyboardGrab() const { return m_keyboardGrabbed; }

private:
    void tryKeyboardGrab(int attemptsLeft);

    DisplayId m_displayID;
    QRect m_frame;
    SelectionView *m_view;
    bool m_keyboardGrabbed = false;
    bool m_isKey = false;
};

// The area selection before an area screenshot or recording: one window per
// screen, the answer is the screen and rectangle dragged, or none on Esc or
// a right click. GUI thread only.
class SelectionOverlay : public QObject, public AreaPicker {
    Q_OBJECT
public:
    // Both services outlive the overlay.
    SelectionOverlay(ScreenSource &screens, WindowManager &windowManager, QObject *parent = nullptr);
    ~SelectionOverlay() override;

    // Shows the overlay and answers once the user has chosen or cancelled.
    // None at once when no screen can be covered, or when a previous call is
    // still waiting.
    QCoro::Task<std::optional<CaptureTarget>> pick() override;

    // A press at FROM, a drag to TO and a release there, in the first
    // window's view coordinates. Does nothing when no overlay is up.
    void simulateDragForTesting(QPointF from, QPointF to);

    const std::vector<QPointer<SelectionWindow>> &windows() const { return m_windows; }
    bool isShowing() const { return !m_windows.empty(); }

signals:
    // Every window has painted once.
    void shown();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Waiter {
        SelectionOverlay *overlay;
        std::coroutine_handle<> handle;
        std::optional<CaptureTarget> answer;

        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiting) noexcept
        {
            handle = waiting;
            overlay->m_continuation = this;
        }
        std::optional<CaptureTarget> await_resume() { return answer; }
    };

    QCoro::Task<bool> show();
    void finish(std::optional<CaptureTarget> target);
    void resumePending();
    void viewPainted();

    ScreenSource &m_screens;
    WindowManager &m_windowManager;
    std::vector<QPointer<SelectionWindow>> m_windows;
    // The view that takes the keys while the overlay is up.
    QPointer<SelectionView> m_keyView;
    // The pending answer of pick(), set while it waits.
    Waiter *m_continuation = nullptr;
    // Answered, about to be resumed from the event loop.
    Waiter *m_resuming = nullptr;
    std::optional<NativeWindowId> m_previousWindow;
    bool m_picking = false;
    bool m_announced = false;
};
