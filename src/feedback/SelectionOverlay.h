#pragma once

#include "SelectionView.h"
#include "SelectionWindow.h"
#include "core/CaptureTarget.h"
#include "core/ControllerPorts.h"
#include "platform/ScreenSource.h"

#include <QObject>
#include <QPointer>
#include <coroutine>
#include <optional>
#include <vector>

class WindowManager;

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
