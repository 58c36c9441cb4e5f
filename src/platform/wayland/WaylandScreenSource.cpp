#include "platform/wayland/WaylandScreenSource.h"

#include "platform/wayland/DesktopUnits.h"
#include "platform/wayland/WaylandOutputs.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QCoroTimer>
#include <QEvent>
#include <QFile>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QUrl>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>
#include <optional>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using ImageResult = Result<QImage, PlatformError>;

const QString failedText = QStringLiteral("Não foi possível capturar a tela");
const QString screenCastInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");

// Reads the portal's file and, when it sits in a temporary place, removes it:
// a file in one of the user's folders is the user's. Off the GUI thread.
ImageResult readPortalFile(const QString &uri)
{
    const QUrl url(uri);
    if (!url.isLocalFile())
        return ImageResult::failure(
            {QStringLiteral("%1: o portal do sistema não entregou um arquivo.").arg(failedText)});
    const QString path = url.toLocalFile();
    QImage image(path);
    if (Portal::isTemporaryFile(path, Portal::temporaryRoots()))
        QFile::remove(path);
    if (image.isNull())
        return ImageResult::failure(
            {QStringLiteral("%1: a imagem do portal do sistema não pôde ser lida.").arg(failedText)});
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

// One picture from the portal, shared by every grab that waits for it.
class WaylandScreenSource::Shot : public QObject {
    Q_OBJECT
public:
    std::optional<ImageResult> result;

    void take(QDBusConnection bus)
    {
        auto *request = new PortalRequest(std::move(bus), failedText);
        connect(request, &PortalRequest::finished, this, &Shot::answered);
        request->start(Portal::screenshotInterface, QStringLiteral("Screenshot"),
            {QString(), QVariantMap {{QStringLiteral("interactive"), false}, {QStringLiteral("modal"), false}}}, 30s);
    }

signals:
    void done();

private:
    void answered(const Portal::Answer &answer)
    {
        if (!answer) {
            finish(ImageResult::failure(answer.error()));
            return;
        }
        const QString uri = answer->value(QStringLiteral("uri")).toString();
        auto *watcher = new QFutureWatcher<ImageResult>(this);
        connect(watcher, &QFutureWatcher<ImageResult>::finished, this, [this, watcher] {
            watcher->deleteLater();
            finish(watcher->result());
        });
        watcher->setFuture(QtConcurrent::run(readPortalFile, uri));
    }

    void finish(ImageResult image)
    {
        result = std::move(image);
        emit done();
    }
};

WaylandPointer::WaylandPointer(QObject *parent)
    : QObject(parent)
{
    qApp->installEventFilter(this);
}

bool WaylandPointer::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Enter:
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
        if (auto *window = qobject_cast<QWindow *>(watched); window && window->screen())
            m_screen = window->screen()->name();
        break;
    default:
        break;
    }
    return false;
}

// The one question out to the ScreenCast portal, if any.
struct WaylandScreenSource::Consent {
    std::unique_ptr<PortalScreenCast> portal;
    bool asking = false;
};

WaylandScreenSource::WaylandScreenSource(
    QDBusConnection bus, std::shared_ptr<PortalInterfaces> portal, PortalScreenCast::TokenStore tokens)
    : m_bus(std::move(bus))
    , m_portal(std::move(portal))
    , m_tokens(std::move(tokens))
    , m_consent(std::make_shared<Consent>())
    , m_pointer(new WaylandPointer(qApp))
{
}

WaylandScreenSource::~WaylandScreenSource()
{
    delete m_pointer;
}

DisplayId WaylandScreenSource::idForName(const QString &name)
{
    return WaylandOutputs::idForName(name);
}

std::vector<DisplayInfo> WaylandScreenSource::displays() const
{
    return WaylandOutputs::displays();
}

QPoint WaylandScreenSource::pointerPosition() const
{
    const QString last = m_pointer->lastScreen();
    const QScreen *chosen = QGuiApplication::primaryScreen();
    for (const QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == last)
            chosen = screen;
    }
    return chosen ? chosen->geometry().center() : QPoint();
}

bool WaylandScreenSource::screenCaptureAllowed() const
{
    return !m_portal->isKnown() || m_portal->offers(Portal::screenshotInterface);
}

bool WaylandScreenSource::screenCaptureConsented() const
{
    if (!screenCaptureAllowed())
        return false;
    // Without the ScreenCast portal there are no recordings to consent to.
    if (m_portal->isKnown() && !m_portal->offers(screenCastInterface))
        return true;
    return m_tokens.load && !m_tokens.load().empty();
}

bool WaylandScreenSource::requestScreenCapture()
{
    if (screenCaptureConsented())
        return true;
    if (!screenCaptureAllowed() || !m_tokens.load || !m_tokens.save || m_consent->asking)
        return false;
    if (!m_consent->portal)
        m_consent->portal = std::make_unique<PortalScreenCast>(m_tokens, m_bus);
    m_consent->asking = true;
    std::weak_ptr<Consent> consent = m_consent;
    // The session is only there to be asked for: the token it leaves behind
    // (kept by PortalScreenCast for the monitor the user picks) is what the
    // next recording there brings.
    m_consent->portal->start(false, [consent](Result<PortalScreenCast::Cast, PlatformError> cast) {
        const std::shared_ptr<Consent> kept = consent.lock();
        if (kept)
            kept->asking = false;
        if (!cast)
            return;
        if (cast->pipeWireFd >= 0)
            ::close(cast->pipeWireFd);
        if (kept && kept->portal)
            kept->portal->close(cast->session);
    });
    return false;
}

QString WaylandScreenSource::accessProblem() const
{
    return screenCaptureAllowed() ? QString() : Portal::missingText(Portal::screenshotInterface);
}

void WaylandScreenSource::whenAccessKnown(std::function<void()> then)
{
    if (m_portal->isKnown()) {
        then();
        return;
    }
    QObject::connect(
        m_portal.get(), &PortalInterfaces::known, m_portal.get(), std::move(then), Qt::SingleShotConnection);
}

QCoro::Task<ImageResult> WaylandScreenSource::desktopPicture()
{
    std::shared_ptr<Shot> shot = m_pending;
    // A picture already taken is never handed out again: it may be stale.
    if (!shot || shot->result) {
        shot = std::make_shared<Shot>();
        m_pending = shot;
        shot->take(m_bus);
    }
    if (!shot->result)
        co_await qCoro(shot.get(), &Shot::done);
    if (m_pending == shot)
        m_pending.reset();
    // A copy of its own for each grab: QCoro's co_return of a non-const
    // lvalue moves from it, which would leave the grabs that share this
    // picture (one per screen) with an empty one.
    ImageResult picture = *shot->result;
    co_return picture;
}

QCoro::Task<ImageResult> WaylandScreenSource::grab(GrabRequest request)
{
    if (!m_portal->isKnown()) {
        const std::shared_ptr<PortalInterfaces> portal = m_portal;
        co_await qCoro(portal.get(), &PortalInterfaces::known);
    }
    if (!screenCaptureAllowed())
        co_return ImageResult::failure({accessProblem()});
    // The screens as they are now: they may change while the portal works.
    // Desktop pixels go to logical units through the screen that holds them,
    // and from there into the picture at whatever density it comes in.
    const std::vector<DisplayInfo> screens = displays();
    QRect logicalDesktop;
    std::optional<QRect> wanted;
    std::optional<DisplayInfo> holder;
    for (const DisplayInfo &display : screens) {
        logicalDesktop = logicalDesktop.united(display.frame);
        const QRect &screen = display.pixelGeometry;
        if (!wanted && holdsArea(screen, request.pixels)) {
            // A pixel past the far edges is rounding: the same size, inside.
            wanted = request.pixels;
            wanted->moveRight(std::min(wanted->right(), screen.right()));
            wanted->moveBottom(std::min(wanted->bottom(), screen.bottom()));
            holder = display;
        }
    }
    // The portal's picture is black between and beyond the monitors.
    if (!wanted)
        co_return ImageResult::failure({areaOutsideText()});
    const QRectF logical = DesktopUnits::toLogical(*holder, *wanted);

    std::vector<QPointer<QWindow>> hidden;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible())
            continue;
        const auto id = static_cast<NativeWindowId>(window->winId());
        if (std::find(request.excludedWindows.begin(), request.excludedWindows.end(), id)
            != request.excludedWindows.end()) {
            window->hide();
            hidden.emplace_back(window);
        }
    }
    // Windows hidden just before (these, or the main window the controller
    // hid) leave the screen only with the compositor's next frame.
    co_await QCoro::sleepFor(100ms);
    auto taking = desktopPicture();
    ImageResult picture = co_await taking;
    for (const QPointer<QWindow> &window : hidden) {
        if (window)
            window->show();
    }
    if (!picture)
        co_return picture;
    // The picture covers the logical desktop; its size tells its density.
    co_return cropPicture(
        *picture, DesktopUnits::inPicture(logicalDesktop, picture->size(), logical, wanted->size()), wanted->size());
}

QString WaylandScreenSource::areaOutsideText()
{
    return QStringLiteral("A área a capturar não está inteira numa das telas.");
}

bool WaylandScreenSource::holdsArea(const QRect &screen, const QRect &area)
{
    // A scaled area's edges are rounded on their own, so one that reaches the
    // screen's far edge may pass it by a pixel.
    return !area.isEmpty() && screen.adjusted(0, 0, 1, 1).contains(area);
}

QImage cropPicture(const QImage &picture, const QRect &from, QSize size)
{
    QImage out(size, QImage::Format_RGB32);
    out.fill(Qt::black);
    if (picture.isNull() || from.isEmpty() || size.isEmpty())
        return out;
    const QImage source = picture.convertToFormat(QImage::Format_RGB32);
    if (from.size() == size) {
        const QRect inPicture = from.intersected(source.rect());
        if (inPicture.isEmpty())
            return out;
        const QPoint at = inPicture.topLeft() - from.topLeft();
        for (int y = 0; y < inPicture.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(source.constScanLine(inPicture.y() + y)) + inPicture.x();
            auto *to = reinterpret_cast<QRgb *>(out.scanLine(at.y() + y)) + at.x();
            std::copy(line, line + inPicture.width(), to);
        }
        return out;
    }
    // A picture of another density than the screen's: scale.
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(out.rect()), source, QRectF(from));
    return out;
}

QImage cropDesktopPicture(const QImage &picture, const QRect &desktop, const QRect &pixels)
{
    if (desktop.isEmpty() || pixels.isEmpty()) {
        QImage out(pixels.size(), QImage::Format_RGB32);
        out.fill(Qt::black);
        return out;
    }
    // Desktop pixels stand in for logical units here, one to one.
    return cropPicture(
        picture, DesktopUnits::inPicture(desktop, picture.size(), QRectF(pixels), pixels.size()), pixels.size());
}

#include "WaylandScreenSource.moc"
