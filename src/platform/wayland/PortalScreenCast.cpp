#include "platform/wayland/PortalScreenCast.h"

#include "platform/wayland/CastTokens.h"
#include "platform/wayland/Portal.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <atomic>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr uint sourceMonitor = 1;
constexpr uint cursorHidden = 1;
constexpr uint cursorEmbedded = 2;
constexpr uint cursorMetadata = 4;
constexpr uint persistUntilRevoked = 2;

PlatformError unavailable()
{
    return {QStringLiteral("O portal de captura de tela do sistema não está disponível.")};
}

PlatformError portalFailed()
{
    return {QStringLiteral("O portal de captura de tela não conseguiu começar a gravação.")};
}

PlatformError notAllowed()
{
    return {QStringLiteral("A gravação da tela não foi permitida.")};
}

// Values inside a{sv} arrive as QDBusArgument when they are structures.
QPoint pairOf(const QVariant &value)
{
    if (!value.canConvert<QDBusArgument>())
        return {};
    const QDBusArgument argument = value.value<QDBusArgument>();
    int first = 0;
    int second = 0;
    argument.beginStructure();
    argument >> first >> second;
    argument.endStructure();
    return {first, second};
}

std::vector<PortalScreenCast::Stream> streamsOf(const QVariant &value)
{
    std::vector<PortalScreenCast::Stream> streams;
    if (!value.canConvert<QDBusArgument>())
        return streams;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        uint node = 0;
        QVariantMap properties;
        argument.beginStructure();
        argument >> node >> properties;
        argument.endStructure();
        const QPoint position = pairOf(properties.value(QStringLiteral("position")));
        const QPoint size = pairOf(properties.value(QStringLiteral("size")));
        streams.push_back({node, QRect(position, QSize(size.x(), size.y()))});
    }
    argument.endArray();
    return streams;
}

} // namespace

struct PortalScreenCast::Conversation {
    bool showsCursor = true;
    Done done;
    uint version = 0;
    uint cursorModes = 0;
    uint cursorMode = cursorHidden;
    QString restoreToken;
    Cast cast;
};

PortalScreenCast::PortalScreenCast(TokenStore tokens, QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_tokens(std::move(tokens))
    , m_bus(std::move(bus))
{
}

PortalScreenCast::~PortalScreenCast() = default;

QString PortalScreenCast::newToken()
{
    // One count for the process: two casts (the consent question and a
    // recording) may talk to the portal at once, and their request and
    // session paths must not meet.
    static std::atomic<quint64> counter {0};
    return QStringLiteral("velunta%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}

void PortalScreenCast::fail(const Talk &talk, PlatformError error)
{
    if (!talk->cast.session.isEmpty())
        close(talk->cast.session);
    if (talk->cast.pipeWireFd >= 0)
        ::close(talk->cast.pipeWireFd);
    if (auto done = std::move(talk->done))
        done(Result<Cast, PlatformError>::failure(std::move(error)));
}

void PortalScreenCast::start(bool showsCursor, const QString &restoreToken, Done done)
{
    auto talk = std::make_shared<Conversation>();
    talk->showsCursor = showsCursor;
    talk->restoreToken = restoreToken;
    talk->done = std::move(done);
    if (!m_bus.isConnected()) {
        fail(talk, unavailable());
        return;
    }
    // What this portal offers decides the cursor mode and whether sessions
    // can persist.
    QDBusMessage getAll = QDBusMessage::createMethodCall(Portal::service, Portal::objectPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    getAll << Portal::screenCastInterface;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(getAll), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, talk](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QVariantMap> reply = *call;
        if (reply.isError()) {
            fail(talk, unavailable());
            return;
        }
        const QVariantMap properties = reply.value();
        talk->version = properties.value(QStringLiteral("version")).toUInt();
        talk->cursorModes = properties.value(QStringLiteral("AvailableCursorModes")).toUInt();
        if (!(properties.value(QStringLiteral("AvailableSourceTypes")).toUInt() & sourceMonitor)) {
            fail(talk, {QStringLiteral("O portal de captura de tela do sistema não grava monitores.")});
            return;
        }
        if (!talk->showsCursor)
            talk->cursorMode = cursorHidden;
        else if (talk->cursorModes & cursorEmbedded)
            talk->cursorMode = cursorEmbedded;
        else if (talk->cursorModes & cursorMetadata)
            talk->cursorMode = cursorMetadata;
        talk->cast.cursorEmbedded = talk->cursorMode == cursorEmbedded;
        createSession(talk);
    });
}

void PortalScreenCast::request(const Talk &talk, const QString &method, QVariantList arguments, PlatformError refused,
    std::function<void(const QVariantMap &)> next)
{
    auto *request = new PortalRequest(m_bus, method, this);
    connect(request, &PortalRequest::finished, this,
        [this, talk, refused = std::move(refused), next = std::move(next)](const Portal::Answer &answer) {
            if (!answer) {
                fail(talk, answer.error().cancelled ? refused : portalFailed());
                return;
            }
            next(*answer);
        });
    // The user may be choosing a monitor in the portal's dialog meanwhile.
    request->startWaitingOnUser(Portal::screenCastInterface, method, std::move(arguments));
}

void PortalScreenCast::createSession(const Talk &talk)
{
    const QVariantMap options {{QStringLiteral("session_handle_token"), newToken()}};
    request(talk, QStringLiteral("CreateSession"), {options}, portalFailed(), [this, talk](const QVariantMap &results) {
        talk->cast.session = results.value(QStringLiteral("session_handle")).toString();
        if (talk->cast.session.isEmpty()) {
            fail(talk, portalFailed());
            return;
        }
        selectSources(talk);
    });
}

void PortalScreenCast::selectSources(const Talk &talk)
{
    QVariantMap options;
    options.insert(QStringLiteral("types"), sourceMonitor);
    options.insert(QStringLiteral("multiple"), false);
    if (talk->cursorModes)
        options.insert(QStringLiteral("cursor_mode"), talk->cursorMode);
    // Restoring came with version 4 of the interface.
    if (talk->version >= 4) {
        options.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
        if (!talk->restoreToken.isEmpty()) {
            options.insert(QStringLiteral("restore_token"), talk->restoreToken);
            talk->cast.restoredFrom = talk->restoreToken;
        }
    }
    request(talk, QStringLiteral("SelectSources"), {QVariant::fromValue(QDBusObjectPath(talk->cast.session)), options},
        notAllowed(), [this, talk](const QVariantMap &) { startSession(talk); });
}

void PortalScreenCast::startSession(const Talk &talk)
{
    request(talk, QStringLiteral("Start"),
        {QVariant::fromValue(QDBusObjectPath(talk->cast.session)), QString(), QVariantMap()}, notAllowed(),
        [this, talk](const QVariantMap &results) {
            talk->cast.streams = streamsOf(results.value(QStringLiteral("streams")));
            if (talk->cast.streams.empty()) {
                fail(talk, portalFailed());
                return;
            }
            // Tokens are good for one session: keep the new one at once, for
            // the monitor shown (one stream: sessions ask for one monitor).
            const QString token = results.value(QStringLiteral("restore_token")).toString();
            if (!token.isEmpty() && m_tokens.load && m_tokens.save)
                m_tokens.save(CastTokens::keeping(
                    m_tokens.load(), talk->cast.streams.front().geometry, token, talk->cast.restoredFrom));
            openRemote(talk);
        });
}

void PortalScreenCast::openRemote(const Talk &talk)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        Portal::service, Portal::objectPath, Portal::screenCastInterface, QStringLiteral("OpenPipeWireRemote"));
    message.setArguments({QVariant::fromValue(QDBusObjectPath(talk->cast.session)), QVariantMap()});
    auto *call = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, talk](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *done;
        if (reply.isError() || !reply.value().isValid()) {
            fail(talk, {QStringLiteral("O portal de captura de tela não deu acesso ao PipeWire.")});
            return;
        }
        // The reply closes its copy when it goes.
        talk->cast.pipeWireFd = fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 3);
        if (talk->cast.pipeWireFd < 0) {
            fail(talk, {QStringLiteral("O portal de captura de tela não deu acesso ao PipeWire.")});
            return;
        }
        if (auto finished = std::move(talk->done))
            finished(std::move(talk->cast));
    });
}

QString PortalScreenCast::restoreTokenFor(const QRectF &area, double slack) const
{
    return m_tokens.load ? CastTokens::forArea(m_tokens.load(), area, slack) : QString();
}

void PortalScreenCast::close(const QString &session)
{
    Portal::closeSession(m_bus, session);
}
