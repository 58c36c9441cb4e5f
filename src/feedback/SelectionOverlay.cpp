#include "SelectionOverlay.h"

#include "SelectionGeometry.h"
#include "platform/WindowLevel.h"
#include "platform/WindowManager.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWindow>

SelectionOverlay::SelectionOverlay(ScreenSource &screens, WindowManager &windowManager, QObject *parent)
    : QObject(parent)
    , m_screens(screens)
    , m_windowManager(windowManager)
{
}

SelectionOverlay::~SelectionOverlay()
{
    for (const QPointer<SelectionWindow> &window : m_windows)
        delete window.data();
    m_windows.clear();
    // Whoever waits gets its answer (none unless one was already chosen)
    // rather than waiting forever.
    if (m_continuation)
        m_resuming = std::exchange(m_continuation, nullptr);
    resumePending();
}

QCoro::Task<std::optional<CaptureTarget>> SelectionOverlay::pick()
{
    if (m_picking)
        co_return std::nullopt;
    m_picking = true;
    QPointer<SelectionOverlay> self(this);
    auto showing = show();
    const bool shown = co_await showing;
    if (!self)
        co_return std::nullopt;
    if (!shown) {
        m_picking = false;
        co_return std::nullopt;
    }
    Waiter waiter {this, {}, std::nullopt};
    co_return co_await waiter;
}

QCoro::Task<bool> SelectionOverlay::show()
{
    QPointer<SelectionOverlay> self(this);
    m_announced = false;
    m_previousWindow = m_windowManager.activeWindow();

    std::vector<DisplayInfo> displays;
    for (const DisplayInfo &display : m_screens.displays()) {
        if (display.id && !display.frame.isEmpty())
            displays.push_back(display);
    }
    if (displays.empty()) {
        m_previousWindow.reset();
        co_return false;
    }

    // Without a compositing manager a translucent window comes out opaque:
    // show each screen as it was just before, under the dimming.
    const bool translucent = m_windowManager.hasCompositingManager();
    std::vector<QImage> stills(displays.size());
    if (!translucent) {
        const std::vector<NativeWindowId> excluded = WindowLevel::excludedWindowIds();
        // Every grab asked for before any is awaited: a source that takes
        // one picture of the whole desktop (the Wayland portal) then takes
        // it once for all screens.
        std::vector<QCoro::Task<Result<QImage, PlatformError>>> grabs;
        for (const DisplayInfo &display : displays)
            grabs.push_back(m_screens.grab(GrabRequest {display.pixelGeometry, excluded, false}));
        for (std::size_t i = 0; i < displays.size(); ++i) {
            auto still = co_await grabs[i];
            if (!self)
                co_return false;
            // A failed grab leaves the screen black under the dimming; the
            // selection itself still works.
            if (still && !still->isNull()) {
                stills[i] = std::move(*still);
            } else {
                stills[i] = QImage(displays[i].pixelGeometry.size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
                stills[i].fill(Qt::black);
            }
        }
    }

    for (std::size_t i = 0; i < displays.size(); ++i) {
        auto *window = new SelectionWindow(displays[i], std::move(stills[i]), translucent);
        SelectionView *view = window->view();
        QPointer<SelectionOverlay> overlay(this);
        view->onDragStarted = [overlay, view] {
            if (!overlay)
                return;
            for (const QPointer<SelectionWindow> &other : overlay->m_windows) {
                if (other && other->view() != view)
                    other->view()->clearSelection();
            }
        };
        view->onCancel = [overlay] {
            if (overlay)
                overlay->finish(std::nullopt);
        };
        const DisplayId id = *displays[i].id;
        view->onSelected = [overlay, id](QRectF rect) {
            if (overlay)
                overlay->finish(SelectionGeometry::targetFor(id, rect));
        };
        connect(view, &SelectionView::firstPaint, this, &SelectionOverlay::viewPainted);
        m_windows.emplace_back(window);
        window->present();
    }

    const QPoint pointer = m_screens.pointerPosition();
    SelectionWindow *key = m_windows.front();
    for (const QPointer<SelectionWindow> &window : m_windows) {
        if (window->frame().contains(pointer)) {
            key = window;
            break;
        }
    }
    key->becomeKey();
    m_keyView = key->view();
    qApp->installEventFilter(this);
    co_return true;
}

void SelectionOverlay::viewPainted()
{
    if (m_announced || m_windows.empty())
        return;
    for (const QPointer<SelectionWindow> &window : m_windows) {
        if (!window || !window->view()->hasPainted())
            return;
    }
    m_announced = true;
    emit shown();
}

bool SelectionOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    if (!m_keyView)
        return false;
    // The keyboard is grabbed for the overlay, but Qt hands keys to the window
    // it last saw focused, which can be another of the application's windows
    // (the main window was active when the shortcut came). Those keys are
    // the overlay's.
    QWindow *target = qobject_cast<QWindow *>(watched);
    if (!target) {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget)
            return false;
        target = widget->window()->windowHandle();
    }
    for (const QPointer<SelectionWindow> &window : m_windows) {
        if (window && window->windowHandle() == target)
            return false;
    }
    QCoreApplication::sendEvent(m_keyView, event);
    return true;
}

void SelectionOverlay::finish(std::optional<CaptureTarget> target)
{
    qApp->removeEventFilter(this);
    m_keyView.clear();
    for (const QPointer<SelectionWindow> &window : m_windows) {
        if (!window)
            continue;
        window->resign();
        // Later: this may run inside one of the view's own event handlers.
        window->deleteLater();
    }
    m_windows.clear();
    if (m_previousWindow)
        m_windowManager.activate(*m_previousWindow);
    m_previousWindow.reset();
    if (!m_continuation)
        return;
    m_continuation->answer = std::move(target);
    m_resuming = std::exchange(m_continuation, nullptr);
    m_picking = false;
    // The awaiting task continues from the event loop, not from inside the
    // mouse or key handler that chose the answer.
    QTimer::singleShot(0, this, &SelectionOverlay::resumePending);
}

void SelectionOverlay::resumePending()
{
    if (Waiter *waiter = std::exchange(m_resuming, nullptr))
        waiter->handle.resume();
}

void SelectionOverlay::simulateDragForTesting(QPointF from, QPointF to)
{
    if (m_windows.empty() || !m_windows.front())
        return;
    QPointer<SelectionView> view = m_windows.front()->view();
    const auto send = [&view](QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        if (!view)
            return;
        QMouseEvent event(type, at, at, view->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &event);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}
