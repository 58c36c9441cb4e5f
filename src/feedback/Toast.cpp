#include "Toast.h"

#include "platform/WindowLevel.h"
#include "platform/desktop/DesktopNotifications.h"
#include "platform/desktop/DesktopServices.h"
#include "platform/media/FrameExtractor.h"
#include "theme/Icons.h"

#include <QCoroFuture>
#include <QCursor>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QtConcurrent>

namespace {

const QColor backdrop(28, 30, 34, 240);
const QColor secondaryText(174, 180, 190);
constexpr qreal cornerRadius = 12;

QFont systemFont(qreal pointSize, QFont::Weight weight)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(int(pointSize));
    font.setWeight(weight);
    return font;
}

} // namespace

ToastView::ToastView(const QString &title, const QString &path, const QImage &thumbnail)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
    , m_title(title)
    , m_fileName(QFileInfo(path).fileName())
    , m_thumbnail(thumbnail)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_X11NetWmWindowTypeNotification);
    setWindowTitle(QStringLiteral("Velunta: ") + title);
    setFixedSize(panelSize);
    setCursor(Qt::PointingHandCursor);
    // Round corners without relying on a compositing manager.
    QPainterPath shape;
    shape.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(panelSize)), cornerRadius, cornerRadius);
    setMask(QRegion(shape.toFillPolygon().toPolygon()));
    WindowLevel::set(this, WindowLevel::Level::floating);
    WindowLevel::setSharingNone(this);
}

ToastView *ToastView::notice(const QString &text)
{
    auto *view = new ToastView(text, QString(), QImage());
    view->m_isNotice = true;
    view->m_thumbnail = Icons::render(QStringLiteral("exclamationmark.triangle.fill"), QColor(255, 204, 0),
        QSize(48, 48) * view->devicePixelRatioF());
    return view;
}

QString ToastView::shownFileName() const
{
    return QFontMetrics(systemFont(11, QFont::Normal)).elidedText(m_fileName, Qt::ElideMiddle, fileNameFrame.width());
}

void ToastView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setPen(Qt::NoPen);
    painter.setBrush(backdrop);
    painter.drawRoundedRect(rect(), cornerRadius, cornerRadius);

    QImage picture = m_thumbnail;
    if (picture.isNull())
        picture = Icons::render(QStringLiteral("doc"), secondaryText, QSize(64, 64) * devicePixelRatioF());
    const QSizeF fitted = QSizeF(picture.size()).scaled(QSizeF(thumbnailFrame.size()), Qt::KeepAspectRatio);
    const QRectF target(thumbnailFrame.x() + (thumbnailFrame.width() - fitted.width()) / 2,
        thumbnailFrame.y() + (thumbnailFrame.height() - fitted.height()) / 2, fitted.width(), fitted.height());
    painter.drawImage(target, picture);
    if (m_isNotice) {
        painter.setPen(Qt::white);
        painter.setFont(systemFont(12, QFont::DemiBold));
        painter.drawText(QRect(titleFrame.topLeft(), fileNameFrame.bottomRight()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, m_title);
        return;
    }

    painter.setPen(Qt::white);
    painter.setFont(systemFont(13, QFont::DemiBold));
    painter.drawText(titleFrame, Qt::AlignLeft | Qt::AlignVCenter, m_title);
    painter.setPen(secondaryText);
    painter.setFont(systemFont(11, QFont::Normal));
    painter.drawText(fileNameFrame, Qt::AlignLeft | Qt::AlignVCenter, shownFileName());
}

void ToastView::mousePressEvent(QMouseEvent *event)
{
    if (rect().contains(event->position().toPoint()))
        emit clicked();
}

Toast::Toast(DesktopServices *desktop, QObject *parent)
    : Toast(desktop, nullptr, parent)
{
    if (usesNotifications(QGuiApplication::platformName())) {
        m_ownNotifications = std::make_unique<DesktopNotifications>();
        listenTo(m_ownNotifications.get());
    }
}

Toast::Toast(DesktopServices *desktop, DesktopNotifications *notifications, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
{
    listenTo(notifications);
    m_hideTimer.setSingleShot(true);
    // A coarse timer may end a toast up to a quarter of a second early.
    m_hideTimer.setTimerType(Qt::PreciseTimer);
    m_hideTimer.setInterval(displayTimeMs);
    connect(&m_hideTimer, &QTimer::timeout, this, &Toast::hide);
}

Toast::~Toast()
{
    hide();
}

void Toast::listenTo(DesktopNotifications *notifications)
{
    if (m_notifications)
        disconnect(m_notifications, nullptr, this, nullptr);
    m_notifications = notifications;
    if (!m_notifications)
        return;
    connect(m_notifications, &DesktopNotifications::activated, this, &Toast::onNotificationActivated);
    connect(m_notifications, &DesktopNotifications::closed, this, &Toast::onNotificationClosed);
}

QRect Toast::panelFrame(const QRect &area)
{
    return QRect(area.right() + 1 - ToastView::panelSize.width() - margin,
        area.bottom() + 1 - ToastView::panelSize.height() - margin, ToastView::panelSize.width(),
        ToastView::panelSize.height());
}

bool Toast::usesNotifications(const QString &platformName)
{
    return !WindowLevel::canPlaceWindows(platformName);
}

void Toast::show(const QString &title, const QString &path, const QImage &image)
{
    QPointer<Toast> self(this);
    announce(title, QFileInfo(path).fileName(), image, path, [self, title, path, image]() -> ToastView * {
        auto *view = new ToastView(title, path, image);
        connect(view, &ToastView::clicked, self.data(), [self, path] {
            if (!self)
                return;
            if (self->m_desktop)
                self->m_desktop->openUrl(QUrl::fromLocalFile(path));
            self->hide();
        });
        return view;
    });
}

void Toast::showNotice(const QString &text)
{
    QPointer<Toast> self(this);
    announce(text, QString(), QImage(), QString(), [self, text]() -> ToastView * {
        auto *view = ToastView::notice(text);
        connect(view, &ToastView::clicked, self.data(), &Toast::hide);
        return view;
    });
}

void Toast::announce(const QString &summary, const QString &body, const QImage &image, const QString &opens,
    std::function<ToastView *()> panel)
{
    if (!m_notifications) {
        present(panel());
        return;
    }
    // The notice on screen is replaced in place, not withdrawn and sent anew.
    m_hideTimer.stop();
    if (m_view)
        m_view->close();
    m_view = nullptr;
    const quint64 generation = ++m_generation;
    DesktopNotifications::Notice notice;
    notice.summary = summary;
    notice.body = body;
    notice.image = image;
    notice.clickable = !opens.isEmpty();
    notice.expireTimeoutMs = displayTimeMs;
    QPointer<Toast> self(this);
    QPointer<DesktopNotifications> notifications(m_notifications);
    m_notifications->send(notice, m_notificationId,
        [self, notifications, generation, opens, panel = std::move(panel)](std::optional<uint> id) {
            if (!self || generation != self->m_generation) {
                // A newer notice or a hide came first: this one must not stay.
                if (id && notifications && (!self || *id != self->m_notificationId))
                    notifications->close(*id);
                return;
            }
            if (!id) {
                // No notification server: the panel, wherever the compositor puts it.
                self->m_notificationId = 0;
                self->present(panel());
                return;
            }
            self->m_notificationId = *id;
            self->m_opens = opens;
            // Many servers keep a notice longer than asked (or until
            // dismissed): it is withdrawn after the same time as the panel.
            self->m_hideTimer.start();
        });
}

void Toast::onNotificationActivated(uint id)
{
    if (id == 0 || id != m_notificationId)
        return;
    const QString opens = m_opens;
    if (!opens.isEmpty() && m_desktop)
        m_desktop->openUrl(QUrl::fromLocalFile(opens));
    hide();
}

void Toast::onNotificationClosed(uint id)
{
    if (id == 0 || id != m_notificationId)
        return;
    // Dismissed or expired on the desktop: nothing left to withdraw.
    m_notificationId = 0;
    m_opens.clear();
    m_hideTimer.stop();
}

void Toast::present(ToastView *view)
{
    hide();
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), ToastView::panelSize);
    view->setGeometry(panelFrame(area));
    view->show();
    view->raise();
    m_view = view;
    m_hideTimer.start();
}

void Toast::hide()
{
    m_hideTimer.stop();
    ++m_generation;
    if (m_view)
        m_view->close();
    m_view = nullptr;
    if (m_notificationId && m_notifications)
        m_notifications->close(m_notificationId);
    m_notificationId = 0;
    m_opens.clear();
}

QImage Toast::videoFrame(const QString &path)
{
    auto extractor = FrameExtractor::open(path);
    if (!extractor)
        return {};
    auto frame = extractor->firstFrame(QSize(320, 320), Qt::KeepAspectRatio);
    return frame ? *frame : QImage();
}

QCoro::Task<QImage> Toast::videoThumbnail(QString path)
{
    co_return co_await QtConcurrent::run(&Toast::videoFrame, path);
}
