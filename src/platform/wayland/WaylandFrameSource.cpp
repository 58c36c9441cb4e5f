#include "platform/wayland/WaylandFrameSource.h"

#include "core/Preferences.h"
#include "platform/wayland/DesktopUnits.h"
#include "platform/wayland/PipeWireStream.h"
#include "platform/wayland/WaylandOutputs.h"

#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace {

// The user may be looking at the desktop's consent dialog meanwhile.
constexpr std::chrono::minutes portalPatience {3};

int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The portal's answer, handed from the GUI thread to the waiting one. An
// answer nobody waits for any more is given back.
struct Pending {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<Result<PortalScreenCast::Cast, PlatformError>> result;
    // The screens when the cast was asked for.
    std::vector<DisplayInfo> screens;
    bool abandoned = false;
};

// The screen an area is on, and where the area lies in logical units.
struct Place {
    const DisplayInfo *screen = nullptr;
    QRectF logical;
    // A desktop pixel in logical units: the slack allowed past a monitor's
    // far edges.
    double pixel = 1.0;
};

Place placeOf(const std::vector<DisplayInfo> &screens, const FrameArea &area)
{
    Place place;
    for (const DisplayInfo &display : screens) {
        if (display.id == area.display)
            place.screen = &display;
    }
    if (place.screen) {
        place.logical = DesktopUnits::toLogical(*place.screen, area.pixels);
        place.pixel = 1.0 / (place.screen->scale > 0 ? place.screen->scale : 1.0);
    }
    return place;
}

void closeLater(PortalScreenCast *portal, const QString &session)
{
    QMetaObject::invokeMethod(
        portal, [portal, session] { portal->close(session); }, Qt::QueuedConnection);
}

} // namespace

// An open portal session and its PipeWire stream, closed with the last
// holder: the frame stream of a segment and, for a whole recording, the
// recording's source.
struct WaylandFrameSource::Cast {
    Cast(PortalScreenCast *portal, QString session, FrameArea area, std::unique_ptr<PipeWireStream> stream)
        : portal(portal)
        , session(std::move(session))
        , area(std::move(area))
        , stream(std::move(stream))
    {
    }
    ~Cast()
    {
        stream.reset();
        closeLater(portal, session);
    }
    Cast(const Cast &) = delete;
    Cast &operator=(const Cast &) = delete;

    PortalScreenCast *portal;
    QString session;
    FrameArea area;
    std::unique_ptr<PipeWireStream> stream;
};

namespace {

class WaylandFrameStream : public FrameStream {
public:
    explicit WaylandFrameStream(std::shared_ptr<WaylandFrameSource::Cast> cast)
        : m_cast(std::move(cast))
        , m_opened(steadyNanoseconds())
    {
    }

    Change waitForChange(std::chrono::milliseconds timeout) override
    {
        switch (m_cast->stream->waitForFrame(m_seen, timeout)) {
        case PipeWireStream::Wait::frame:
            return Change::changed;
        case PipeWireStream::Wait::timedOut:
            return Change::timedOut;
        case PipeWireStream::Wait::interrupted:
            return Change::interrupted;
        case PipeWireStream::Wait::ended:
            return Change::displayLost;
        }
        return Change::timedOut;
    }

    void interrupt() override { m_cast->stream->interrupt(); }

    PlatformError lossReason() const override { return m_cast->stream->endReason(); }

    Result<CapturedFrame, PlatformError> readFrame(const std::vector<NativeWindowId> &) override
    {
        PipeWireStream::Frame frame = m_cast->stream->latest();
        if (frame.image.isNull())
            return Result<CapturedFrame, PlatformError>::failure(m_cast->stream->endReason());
        m_seen = frame.sequence;
        // A picture that came during a pause is still what the screen shows,
        // but it belongs to this segment from its start: an earlier time
        // would stretch the segment by the pause.
        return CapturedFrame {std::move(frame.image), std::max(frame.nanoseconds, m_opened)};
    }

private:
    std::shared_ptr<WaylandFrameSource::Cast> m_cast;
    int64_t m_opened;
    uint64_t m_seen = 0;
};

} // namespace

// The segments of one recording, all on the session the first one opened.
class WaylandFrameSource::Recording : public FrameSource {
public:
    explicit Recording(WaylandFrameSource &source)
        : m_source(source)
    {
    }

    Result<std::unique_ptr<FrameStream>, PlatformError> open(const FrameArea &area) override
    {
        using R = Result<std::unique_ptr<FrameStream>, PlatformError>;
        std::lock_guard lock(m_mutex);
        // A stream that ended during a pause is handed on as it is: the
        // segment reports it lost, and the recording stops as it would have
        // while running.
        if (!m_cast || !(m_cast->area == area)) {
            auto cast = m_source.openCast(area);
            if (!cast)
                return R::failure(cast.error());
            m_cast = std::move(*cast);
        }
        return R(std::make_unique<WaylandFrameStream>(m_cast));
    }

private:
    WaylandFrameSource &m_source;
    std::mutex m_mutex;
    std::shared_ptr<Cast> m_cast;
};

WaylandFrameSource::WaylandFrameSource(PortalScreenCast::TokenStore tokens)
    : m_ownPortal(std::make_unique<PortalScreenCast>(std::move(tokens)))
    , m_portal(m_ownPortal.get())
{
}

WaylandFrameSource::WaylandFrameSource(PortalScreenCast *portal, Screens screens)
    : m_portal(portal)
    , m_screens(std::move(screens))
{
}

WaylandFrameSource::~WaylandFrameSource() = default;

PortalScreenCast::TokenStore WaylandFrameSource::tokensIn(Preferences *preferences)
{
    using Tokens = std::vector<Preferences::ScreenCastToken>;
    if (!preferences) {
        auto tokens = std::make_shared<Tokens>();
        return {[tokens] { return *tokens; }, [tokens](const Tokens &value) { *tokens = value; }};
    }
    QPointer<Preferences> kept(preferences);
    return {[kept] { return kept ? kept->screenCastRestoreTokens() : Tokens(); },
        [kept](const Tokens &value) {
            if (kept)
                kept->setScreenCastRestoreTokens(value);
        }};
}

QString WaylandFrameSource::areaOutsideText()
{
    return QStringLiteral("A área a gravar não está inteira no monitor que o portal de captura de tela compartilhou.");
}

std::unique_ptr<FrameSource> WaylandFrameSource::forOneRecording()
{
    return std::make_unique<Recording>(*this);
}

Result<std::unique_ptr<FrameStream>, PlatformError> WaylandFrameSource::open(const FrameArea &area)
{
    using R = Result<std::unique_ptr<FrameStream>, PlatformError>;
    auto cast = openCast(area);
    if (!cast)
        return R::failure(cast.error());
    return R(std::make_unique<WaylandFrameStream>(std::move(*cast)));
}

Result<std::shared_ptr<WaylandFrameSource::Cast>, PlatformError> WaylandFrameSource::openCast(const FrameArea &area)
{
    using R = Result<std::shared_ptr<Cast>, PlatformError>;
    if (QThread::currentThread() == m_portal->thread())
        return R::failure({QStringLiteral("A gravação da tela não pôde começar.")});

    PortalScreenCast *portal = m_portal;
    const Screens screens = m_screens ? m_screens : Screens(WaylandOutputs::displays);
    // First with the token kept for the area's monitor, if any. A monitor
    // restored that does not hold the area (a token kept before monitors
    // were told apart, or a layout that changed) is given up for the
    // portal's chooser, once: a monitor the user picked there is final.
    for (const bool offersToken : {true, false}) {
        auto pending = std::make_shared<Pending>();
        QMetaObject::invokeMethod(
            portal,
            [portal, pending, screens, area, offersToken] {
                QString token;
                {
                    std::lock_guard lock(pending->mutex);
                    pending->screens = screens();
                    const Place place = placeOf(pending->screens, area);
                    if (offersToken && place.screen)
                        token = portal->restoreTokenFor(place.logical, place.pixel);
                }
                portal->start(
                    area.showsCursor, token, [portal, pending](Result<PortalScreenCast::Cast, PlatformError> result) {
                        std::unique_lock lock(pending->mutex);
                        if (pending->abandoned) {
                            lock.unlock();
                            if (result) {
                                portal->close(result->session);
                                ::close(result->pipeWireFd);
                            }
                            return;
                        }
                        pending->result = std::move(result);
                        lock.unlock();
                        pending->answered.notify_all();
                    });
            },
            Qt::QueuedConnection);

        std::unique_lock lock(pending->mutex);
        if (!pending->answered.wait_for(lock, portalPatience, [&] { return pending->result.has_value(); })) {
            pending->abandoned = true;
            return R::failure({QStringLiteral("O portal de captura de tela não respondeu.")});
        }
        auto cast = std::move(*pending->result);
        lock.unlock();
        if (!cast)
            return R::failure(cast.error());

        // Desktop pixels to the portal's logical units, through the screen
        // the area is on.
        const Place place = placeOf(pending->screens, area);
        const PortalScreenCast::Stream *chosen
            = place.screen ? DesktopUnits::streamFor(cast->streams, place.logical, place.pixel) : nullptr;
        if (!chosen) {
            closeLater(portal, cast->session);
            ::close(cast->pipeWireFd);
            if (cast->restoredFrom.isEmpty())
                break;
            continue;
        }
        PipeWireStream::Options options;
        options.remoteFd = cast->pipeWireFd;
        options.node = chosen->node;
        // A lone stream that does not say where it lies shows the area's
        // screen.
        options.shown = chosen->geometry.isEmpty() ? place.screen->frame : chosen->geometry;
        options.wanted = place.logical;
        options.size = area.pixels.size();
        options.drawsCursor = area.showsCursor && !cast->cursorEmbedded;
        auto stream = PipeWireStream::open(options);
        if (!stream) {
            closeLater(portal, cast->session);
            return R::failure(stream.error());
        }
        return R(std::make_shared<Cast>(portal, cast->session, area, std::move(*stream)));
    }
    return R::failure({areaOutsideText()});
}
