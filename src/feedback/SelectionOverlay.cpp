#include "SelectionOverlay.h"

#include "TabularDigits.h"
#include "platform/WindowLevel.h"
#include "platform/WindowManager.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>

namespace SelectionGeometry {

QString hintText()
{
    return QStringLiteral("Arraste para selecionar · Esc para cancelar");
}

QFont labelFont()
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    return font;
}

QPointF clampToView(QPointF point, QSizeF view)
{
    return QPointF(std::clamp(point.x(), 0.0, view.width()), std::clamp(point.y(), 0.0, view.height()));
}

QRectF selectionRect(QPointF start, QPointF current)
{
    const qreal left = std::floor(std::min(start.x(), current.x()));
    const qreal top = std::floor(std::min(start.y(), current.y()));
    const qreal right = std::ceil(std::max(start.x(), current.x()));
    const qreal bottom = std::ceil(std::max(start.y(), current.y()));
    return QRectF(left, top, right - left, bottom - top);
}

bool isLargeEnough(const QRectF &selection)
{
    return selection.width() >= minimumSize && selection.height() >= minimumSize;
}

QRectF outlineRect(const QRectF &selection)
{
    return selection.adjusted(-0.5, -0.5, 0.5, 0.5);
}

QString sizeLabel(const QSizeF &points, qreal scale)
{
    // The small epsilon keeps 0.1 × 30 style products from landing one below.
    const auto pixels = [scale](qreal length) { return qint64(std::floor(length * scale + 1e-9)); };
    return QStringLiteral("%1 × %2").arg(pixels(points.width())).arg(pixels(points.height()));
}

QPointF sizeLabelPoint(const QRectF &selection, qreal viewHeight)
{
    const qreal lowerEdge = selection.y() + selection.height();
    if (lowerEdge + sizeLabelInset < viewHeight)
        return QPointF(selection.x(), lowerEdge + sizeLabelGap);
    return QPointF(selection.x(), lowerEdge - sizeLabelInset);
}

QRectF labelBox(QPointF at, QSizeF textSize, qreal viewWidth)
{
    const qreal width = textSize.width() + 2 * labelPaddingX;
    const qreal height = textSize.height() + 2 * labelPaddingY;
    // On a view narrower than the box, the left margin wins.
    const qreal x = std::max(labelMargin, std::min(at.x(), viewWidth - width - labelMargin));
    return QRectF(x, at.y(), width, height);
}

QPointF labelTextOrigin(const QRectF &box)
{
    return box.topLeft() + QPointF(labelPaddingX, labelPaddingY);
}

QPointF hintPoint(QSizeF textSize, QSizeF view)
{
    const qreal width = textSize.width() + 2 * labelPaddingX;
    const qreal height = textSize.height() + 2 * labelPaddingY;
    return QPointF(view.width() / 2 - width / 2, view.height() / 2 - height / 2);
}

CaptureTarget targetFor(DisplayId display, const QRectF &selection)
{
    return CaptureTarget {display, selection};
}

} // namespace SelectionGeometry

namespace {

using namespace SelectionGeometry;

// Digits of equal width: the size label keeps its box while the numbers change.
QSizeF textSize(const QFont &font, const QString &text)
{
    return TabularDigits::size(font, text);
}

void drawLabel(QPainter &painter, const QFont &font, const QString &text, const QRectF &box)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, labelBoxOpacity));
    painter.drawRoundedRect(box, labelCornerRadius, labelCornerRadius);
    painter.setPen(Qt::white);
    TabularDigits::draw(
        painter, font, QRectF(labelTextOrigin(box), textSize(font, text)), Qt::AlignLeft | Qt::AlignTop, text);
}

} // namespace

// ---------------------------------------------------------------------------

SelectionView::SelectionView(QSize size, QImage still, QWidget *parent)
    : QWidget(parent)
    , m_still(std::move(still))
    , m_font(labelFont())
{
    resize(size);
    setCursor(Qt::CrossCursor);
    setFocusPolicy(Qt::StrongFocus);
    if (!m_still.isNull()) {
        // Dimmed once here rather than blended over the whole screen at
        // every mouse move.
        m_dimmedStill = m_still.convertToFormat(QImage::Format_RGB32);
        m_dimmedStill.setDevicePixelRatio(m_still.devicePixelRatio());
        QPainter dim(&m_dimmedStill);
        dim.fillRect(
            QRectF(QPointF(0, 0), m_dimmedStill.deviceIndependentSize()), QColor::fromRgbF(0, 0, 0, dimmingOpacity));
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
}

void SelectionView::clearSelection()
{
    const QRect before = decorationArea();
    m_dragStart.reset();
    m_selection.reset();
    changed(before);
}

std::optional<SelectionView::Label> SelectionView::currentLabel() const
{
    if (m_selection) {
        const qreal scale = window() && window()->windowHandle() ? devicePixelRatioF() : 1.0;
        const QString text = sizeLabel(m_selection->size(), scale);
        return Label {text, labelBox(sizeLabelPoint(*m_selection, height()), textSize(m_font, text), width())};
    }
    if (m_dragStart)
        return std::nullopt;
    const QString text = hintText();
    const QSizeF size = textSize(m_font, text);
    return Label {text, labelBox(hintPoint(size, QSizeF(this->size())), size, width())};
}

QRect SelectionView::decorationArea() const
{
    QRectF area;
    if (m_selection)
        area = outlineRect(*m_selection).adjusted(-1, -1, 1, 1);
    if (const auto label = currentLabel())
        area = area.united(label->box);
    return area.toAlignedRect().adjusted(-1, -1, 1, 1);
}

void SelectionView::changed(QRect before)
{
    // The dimming only changes where the hole, outline and labels were or are.
    update(QRegion(before) | QRegion(decorationArea()));
}

QPointF SelectionView::clamped(QPointF position) const
{
    return clampToView(position, QSizeF(size()));
}

void SelectionView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRectF bounds(rect());
    QRegion outside(event->rect());
    if (m_selection)
        outside -= QRegion(m_selection->toRect());
    if (!m_dimmedStill.isNull()) {
        painter.save();
        painter.setClipRegion(outside);
        painter.drawImage(bounds, m_dimmedStill);
        painter.restore();
        if (m_selection) {
            painter.save();
            painter.setClipRect(*m_selection);
            painter.drawImage(bounds, m_still);
            painter.restore();
        }
    } else {
        // The compositing manager shows what is below; the hole stays clear.
        QPainterPath dimming;
        dimming.setFillRule(Qt::OddEvenFill);
        dimming.addRect(bounds);
        if (m_selection)
            dimming.addRect(*m_selection);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(event->rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.fillPath(dimming, QColor::fromRgbF(0, 0, 0, dimmingOpacity));
    }

    painter.setRenderHint(QPainter::Antialiasing);
    if (m_selection) {
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(outlineRect(*m_selection));
    }
    if (const auto label = currentLabel())
        drawLabel(painter, m_font, label->text, label->box);

    if (!m_hasPainted) {
        m_hasPainted = true;
        emit firstPaint();
    }
}

void SelectionView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        if (onCancel)
            onCancel();
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    if (onDragStarted)
        onDragStarted();
    const QRect before = decorationArea();
    m_dragStart = clamped(event->position());
    m_selection.reset();
    changed(before);
}

void SelectionView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragStart || !(event->buttons() & Qt::LeftButton))
        return;
    const QRect before = decorationArea();
    m_selection = selectionRect(*m_dragStart, clamped(event->position()));
    changed(before);
}

void SelectionView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_dragStart)
        return;
    m_dragStart.reset();
    if (m_selection && isLargeEnough(*m_selection)) {
        // The selection stays on screen until the window goes away.
        if (onSelected)
            onSelected(*m_selection);
        return;
    }
    const QRect before = decorationArea();
    m_selection.reset();
    changed(before);
}

void SelectionView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        if (onCancel)
            onCancel();
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------------------

SelectionWindow::SelectionWindow(const DisplayInfo &display, QImage still, bool translucent)
    : QWidget(nullptr,
        Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint
            | Qt::NoDropShadowWindowHint)
    , m_displayID(display.id.value_or(0))
    , m_frame(display.frame)
{
    // Never shown (no decorations, no task bar); it names the window for tools.
    setWindowTitle(QStringLiteral("Velunta: seleção"));
    if (translucent)
        setAttribute(Qt::WA_TranslucentBackground);
    else
        setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == display.name)
            setScreen(screen);
    }
    setGeometry(display.frame);
    setCursor(Qt::CrossCursor);
    if (!still.isNull())
        still.setDevicePixelRatio(qreal(still.width()) / std::max(1, display.frame.width()));
    m_view = new SelectionView(display.frame.size(), translucent ? QImage() : std::move(still), this);
    // The window exists natively from here on, with its level recorded so
    // that captures leave it out.
    WindowLevel::set(this, WindowLevel::Level::overlay);
    WindowLevel::setSharingNone(this);
}

void SelectionWindow::present()
{
    show();
    raise();
}

void SelectionWindow::becomeKey()
{
    m_isKey = true;
    activateWindow();
    m_view->setFocus(Qt::ActiveWindowFocusReason);
    tryKeyboardGrab(20);
}

void SelectionWindow::tryKeyboardGrab(int attemptsLeft)
{
    if (!m_isKey || !isVisible())
        return;
    QWindow *handle = windowHandle();
    // Fails while the window is not viewable yet or another client holds the
    // keyboard (a menu that is still open); both pass quickly.
    if (handle && handle->setKeyboardGrabEnabled(true)) {
        m_keyboardGrabbed = true;
        return;
    }
    if (attemptsLeft <= 1)
        return;
    QPointer<SelectionWindow> self(this);
    QTimer::singleShot(50, this, [self, attemptsLeft] {
        if (self)
            self->tryKeyboardGrab(attemptsLeft - 1);
    });
}

void SelectionWindow::resign()
{
    m_isKey = false;
    if (m_keyboardGrabbed) {
        if (QWindow *handle = windowHandle())
            handle->setKeyboardGrabEnabled(false);
        m_keyboardGrabbed = false;
    }
    hide();
}

// ---------------------------------------------------------------------------

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
        for (std::size_t i = 0; i < displays.size(); ++i) {
            auto grabbing = m_screens.grab(GrabRequest {displays[i].pixelGeometry, excluded, false});
            auto still = co_await grabbing;
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
                overlay->finish(targetFor(id, rect));
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
