#include "Toast.h"

#include "platform/WindowLevel.h"
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
    : QObject(parent)
    , m_desktop(desktop)
{
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

QRect Toast::panelFrame(const QRect &area)
{
    return QRect(area.right() + 1 - ToastView::panelSize.width() - margin,
        area.bottom() + 1 - ToastView::panelSize.height() - margin, ToastView::panelSize.width(),
        ToastView::panelSize.height());
}

void Toast::show(const QString &title, const QString &path, const QImage &image)
{
    auto *view = new ToastView(title, path, image);
    QPointer<Toast> self(this);
    connect(view, &ToastView::clicked, this, [self, path] {
        if (!self)
            return;
        if (self->m_desktop)
            self->m_desktop->openUrl(QUrl::fromLocalFile(path));
        self->hide();
    });
    present(view);
}

void Toast::showNotice(const QString &text)
{
    auto *view = ToastView::notice(text);
    connect(view, &ToastView::clicked, this, &Toast::hide);
    present(view);
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
    if (m_view)
        m_view->close();
    m_view = nullptr;
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
