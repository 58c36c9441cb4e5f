#include "platform/wayland/WaylandFrameSource.h"

#include "core/Preferences.h"
#include "platform/wayland/PipeWireStream.h"

#include <QPointer>
#include <QThread>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace {

// The user may be looking at the desktop's consent dialog meanwhile.
constexpr std::chrono::minutes portalPatience {3};

class WaylandFrameStream : public FrameStream {
public:
    WaylandFrameStream(PortalScreenCast *portal, QString session, std::unique_ptr<PipeWireStream> stream)
        : m_portal(portal)
        , m_session(std::move(session))
        , m_stream(std::move(stream))
    {
    }

    ~WaylandFrameStream() override
    {
        m_stream.reset();
        QMetaObject::invokeMethod(
            m_portal, [portal = m_portal, session = m_session] { portal->close(session); }, Qt::QueuedConnection);
    }

    Change waitForChange(std::chrono::milliseconds timeout) override
    {
        switch (m_stream->waitForFrame(m_seen, timeout)) {
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

    void interrupt() override { m_stream->interrupt(); }

    PlatformError lossReason() const override { return m_stream->endReason(); }

    Result<CapturedFrame, PlatformError> readFrame(const std::vector<NativeWindowId> &) override
    {
        PipeWireStream::Frame frame = m_stream->latest();
        if (frame.image.isNull())
            return Result<CapturedFrame, PlatformError>::failure(m_stream->endReason());
        m_seen = frame.sequence;
        return CapturedFrame {std::move(frame.image), frame.nanoseconds};
    }

private:
    PortalScreenCast *m_portal;
    QString m_session;
    std::unique_ptr<PipeWireStream> m_stream;
    uint64_t m_seen = 0;
};

// The portal's answer, handed from the GUI thread to the waiting one. An
// answer nobody waits for any more is given back.
struct Pending {
    std::mutex mutex;
    std::condition_variable answered;
    std::optional<Result<PortalScreenCast::Cast, PlatformError>> result;
    bool abandoned = false;
};

// The stream showing the middle of AREA, else the first.
const PortalScreenCast::Stream &streamFor(const std::vector<PortalScreenCast::Stream> &streams, const QRect &area)
{
    for (const auto &stream : streams)
        if (stream.geometry.contains(area.center()))
            return stream;
    return streams.front();
}

} // namespace

WaylandFrameSource::WaylandFrameSource(PortalScreenCast::TokenStore tokens)
    : m_ownPortal(std::make_unique<PortalScreenCast>(std::move(tokens)))
    , m_portal(m_ownPortal.get())
{
}

WaylandFrameSource::WaylandFrameSource(PortalScreenCast *portal)
    : m_portal(portal)
{
}

WaylandFrameSource::~WaylandFrameSource() = default;

PortalScreenCast::TokenStore WaylandFrameSource::tokensIn(Preferences *preferences)
{
    if (!preferences) {
        auto token = std::make_shared<QString>();
        return {[token] { return *token; }, [token](const QString &value) { *token = value; }};
    }
    QPointer<Preferences> kept(preferences);
    return {[kept] { return kept ? kept->screenCastRestoreToken() : QString(); },
        [kept](const QString &value) {
            if (kept)
                kept->setScreenCastRestoreToken(value);
        }};
}

Result<std::unique_ptr<FrameStream>, PlatformError> WaylandFrameSource::open(const FrameArea &area)
{
    using R = Result<std::unique_ptr<FrameStream>, PlatformError>;
    if (QThread::currentThread() == m_portal->thread())
        return R::failure({QStringLiteral("A gravação da tela não pôde começar.")});

    auto pending = std::make_shared<Pending>();
    PortalScreenCast *portal = m_portal;
    QMetaObject::invokeMethod(
        portal,
        [portal, pending, showsCursor = area.showsCursor] {
            portal->start(showsCursor, [portal, pending](Result<PortalScreenCast::Cast, PlatformError> result) {
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

    const PortalScreenCast::Stream &chosen = streamFor(cast->streams, area.pixels);
    PipeWireStream::Options options;
    options.remoteFd = cast->pipeWireFd;
    options.node = chosen.node;
    options.shown = chosen.geometry;
    options.wanted = area.pixels;
    options.drawsCursor = area.showsCursor && !cast->cursorEmbedded;
    auto stream = PipeWireStream::open(options);
    if (!stream) {
        QMetaObject::invokeMethod(
            portal, [portal, session = cast->session] { portal->close(session); }, Qt::QueuedConnection);
        return R::failure(stream.error());
    }
    return R(std::make_unique<WaylandFrameStream>(portal, cast->session, std::move(*stream)));
}
