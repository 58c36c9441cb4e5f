#include "platform/wayland/Portal.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <QXmlStreamReader>
#include <atomic>

namespace Portal {

QString requestPath(const QString &uniqueName, const QString &token)
{
    QString sender = uniqueName;
    if (sender.startsWith(QLatin1Char(':')))
        sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

QStringList interfacesIn(const QString &introspectionXml)
{
    QStringList names;
    QXmlStreamReader reader(introspectionXml);
    int depth = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            ++depth;
            // Only the object's own interfaces, not those of child nodes.
            if (depth == 2 && reader.name() == QLatin1String("interface"))
                names << reader.attributes().value(QLatin1String("name")).toString();
        } else if (reader.isEndElement()) {
            --depth;
        }
    }
    return reader.hasError() ? QStringList {} : names;
}

QString missingText(const QString &interface)
{
    return QStringLiteral("Esta sessão Wayland não oferece o portal %1, de que o Velunta precisa para ver a tela. "
                          "Instale o xdg-desktop-portal do seu ambiente e abra o app de novo.")
        .arg(interface);
}

bool isTemporaryFile(const QString &path, const QStringList &roots)
{
    const QString file = QFileInfo(path).absoluteFilePath();
    const QString canonical = QFileInfo(path).canonicalFilePath();
    for (const QString &root : roots) {
        if (root.isEmpty())
            continue;
        for (const QString &base : {QDir::cleanPath(root), QFileInfo(root).canonicalFilePath()}) {
            if (base.isEmpty() || base == QLatin1String("/"))
                continue;
            const QString prefix = base + QLatin1Char('/');
            if (file.startsWith(prefix) || (!canonical.isEmpty() && canonical.startsWith(prefix)))
                return true;
        }
    }
    return false;
}

QStringList temporaryRoots()
{
    QStringList roots {QDir::tempPath(), QStringLiteral("/tmp"), QStringLiteral("/var/tmp")};
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        roots << runtime;
    return roots;
}

PlatformError responseError(uint code, const QString &what)
{
    if (code == 1)
        return {QStringLiteral("%1: o pedido foi cancelado.").arg(what)};
    return {QStringLiteral("%1: o portal do sistema recusou o pedido.").arg(what)};
}

void closeSession(QDBusConnection bus, const QString &session)
{
    if (session.isEmpty())
        return;
    bus.asyncCall(QDBusMessage::createMethodCall(
        service, session, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
}

} // namespace Portal

PortalInterfaces::PortalInterfaces(QDBusConnection bus, std::chrono::milliseconds timeout, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    if (!m_bus.isConnected()) {
        QTimer::singleShot(0, this, &PortalInterfaces::finish);
        return;
    }
    // Whatever has not come by then counts as not offered.
    QTimer::singleShot(timeout, this, &PortalInterfaces::finish);
    QDBusMessage introspect = QDBusMessage::createMethodCall(Portal::service, Portal::objectPath,
        QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(introspect, int(timeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, timeout](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QString> reply = *call;
        if (m_known)
            return;
        if (reply.isError()) {
            finish();
            return;
        }
        ++m_waiting;
        for (const QString &name : Portal::interfacesIn(reply.value())) {
            if (name.startsWith(QLatin1String("org.freedesktop.portal.")))
                askVersion(name, timeout);
        }
        answered();
    });
}

PortalInterfaces::PortalInterfaces(Portal::Versions versions, QObject *parent)
    : QObject(parent)
    , m_bus(QString())
    , m_versions(std::move(versions))
    , m_known(true)
{
}

void PortalInterfaces::askVersion(const QString &interface, std::chrono::milliseconds timeout)
{
    ++m_waiting;
    QDBusMessage get = QDBusMessage::createMethodCall(
        Portal::service, Portal::objectPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << QStringLiteral("version");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get, int(timeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, interface](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (m_known)
            return;
        const uint version = reply.isError() ? 0 : reply.value().variant().toUInt();
        // An interface without a readable version is still there: count it
        // as the first one.
        m_versions[interface] = std::max(version, 1u);
        answered();
    });
}

void PortalInterfaces::answered()
{
    if (--m_waiting == 0)
        finish();
}

void PortalInterfaces::finish()
{
    if (m_known)
        return;
    m_known = true;
    emit known();
}

PortalRequest::PortalRequest(QDBusConnection bus, QString what, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_what(std::move(what))
{
}

void PortalRequest::start(
    const QString &interface, const QString &method, QVariantList arguments, std::chrono::milliseconds timeout)
{
    send(interface, method, std::move(arguments), timeout);
}

void PortalRequest::startWaitingOnUser(const QString &interface, const QString &method, QVariantList arguments)
{
    send(interface, method, std::move(arguments), std::nullopt);
}

void PortalRequest::send(const QString &interface, const QString &method, QVariantList arguments,
    std::optional<std::chrono::milliseconds> timeout)
{
    static std::atomic<unsigned> counter {0};
    const QString token = QStringLiteral("velunta%1").arg(++counter);
    if (arguments.isEmpty() || arguments.constLast().typeId() != QMetaType::QVariantMap) {
        finish(Portal::Answer::failure({{m_what}, false}));
        return;
    }
    QVariantMap options = arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;
    subscribe(Portal::requestPath(m_bus.baseService(), token));

    QDBusMessage call = QDBusMessage::createMethodCall(Portal::service, Portal::objectPath, interface, method);
    call.setArguments(arguments);
    const int callTimeout = timeout ? int(timeout->count()) : -1;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, callTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        QDBusPendingReply<QDBusObjectPath> reply = *done;
        if (reply.isError()) {
            finish(Portal::Answer::failure({{QStringLiteral("%1: %2").arg(m_what, reply.error().message())}, false}));
            return;
        }
        const QString path = reply.value().path();
        if (path != m_path && !m_done) {
            unsubscribe();
            subscribe(path);
        }
    });
    if (!timeout)
        return;
    // The portal may wait on the user; requests that do not ask it to and
    // hang this long have failed.
    QTimer::singleShot(*timeout, this, [this] {
        finish(
            Portal::Answer::failure({{QStringLiteral("%1: o portal do sistema não respondeu.").arg(m_what)}, false}));
    });
}

void PortalRequest::subscribe(const QString &path)
{
    m_path = path;
    m_bus.connect(Portal::service, m_path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
        this, SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::unsubscribe()
{
    if (m_path.isEmpty())
        return;
    m_bus.disconnect(Portal::service, m_path, QStringLiteral("org.freedesktop.portal.Request"),
        QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    m_path.clear();
}

void PortalRequest::onResponse(uint code, const QVariantMap &results)
{
    finish(code == 0 ? Portal::Answer(results)
                     : Portal::Answer::failure({Portal::responseError(code, m_what), code == 1}));
}

void PortalRequest::finish(const Portal::Answer &answer)
{
    if (m_done)
        return;
    m_done = true;
    unsubscribe();
    emit finished(answer);
    deleteLater();
}
