#pragma once

#include "core/Result.h"
#include "platform/PlatformError.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <chrono>
#include <map>
#include <optional>

// The desktop portal (xdg-desktop-portal) as Velunta uses it: which of its
// interfaces a session offers, and requests answered through a Request
// object's Response signal.
namespace Portal {

inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString objectPath = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString screenshotInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
inline const QString globalShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
inline const QString screenCastInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");

// The Request object a call made with TOKEN answers on: the caller's unique
// bus name without its ':' and with '.' as '_'.
QString requestPath(const QString &uniqueName, const QString &token);

// The interface names an introspection document declares.
QStringList interfacesIn(const QString &introspectionXml);

// The offered interfaces and their `version` properties.
using Versions = std::map<QString, uint>;

// The sentence for a session without INTERFACE, naming it.
QString missingText(const QString &interface);

// Whether a file a portal handed over sits in a temporary place that the
// caller is meant to clean up (the system's temporary folders or the
// session's runtime folder), rather than in one of the user's folders.
bool isTemporaryFile(const QString &path, const QStringList &temporaryRoots);
// The roots isTemporaryFile checks on this system.
QStringList temporaryRoots();

// Why a request brought no results, in the user's words. CANCELLED when the
// user said no (Response code 1), which callers that ask the user word
// themselves.
struct RequestError : PlatformError {
    bool cancelled = false;
};

using Answer = Result<QVariantMap, RequestError>;

// The user-facing error for a Response code other than 0.
PlatformError responseError(uint code, const QString &what);

// Ends a portal session (ScreenCast, GlobalShortcuts) without waiting.
void closeSession(QDBusConnection bus, const QString &session);

} // namespace Portal

// The interfaces the portal offers, asked once at start in the background:
// a portal that is slow to start (or a session bus that does not answer)
// must not hold up the tray and the windows. Known once every answer came,
// or at the time-out with what came by then (nothing, without a portal).
class PortalInterfaces : public QObject {
    Q_OBJECT
public:
    PortalInterfaces(QDBusConnection bus, std::chrono::milliseconds timeout, QObject *parent = nullptr);
    // Known from the start.
    explicit PortalInterfaces(Portal::Versions versions, QObject *parent = nullptr);

    bool isKnown() const { return m_known; }
    // What is offered; empty until known.
    const Portal::Versions &versions() const { return m_versions; }
    bool offers(const QString &interface) const { return m_versions.count(interface) > 0; }

signals:
    // Once, on the GUI thread.
    void known();

private:
    void askVersion(const QString &interface, std::chrono::milliseconds timeout);
    void answered();
    void finish();

    QDBusConnection m_bus;
    Portal::Versions m_versions;
    int m_waiting = 0;
    bool m_known = false;
};

// One portal call and its Response. The Response is subscribed to on the
// path the portal is expected to use before the call goes out, so an answer
// that comes quickly is never missed; a portal that answers on another path
// (older versions) is followed there. finished() comes exactly once, on the
// GUI thread, and the request deletes itself after it.
class PortalRequest : public QObject {
    Q_OBJECT
public:
    PortalRequest(QDBusConnection bus, QString what, QObject *parent = nullptr);

    // Calls METHOD of INTERFACE on the portal with ARGUMENTS, whose last one
    // must be the options map (a handle_token is added to it). TIMEOUT bounds
    // the call and the wait for its Response.
    void start(
        const QString &interface, const QString &method, QVariantList arguments, std::chrono::milliseconds timeout);
    // The same for a request that waits on the user (the screen cast's
    // chooser), which may take as long as the user does: only the call
    // itself is bounded, by D-Bus's default.
    void startWaitingOnUser(const QString &interface, const QString &method, QVariantList arguments);

signals:
    void finished(const Portal::Answer &answer);

private slots:
    void onResponse(uint code, const QVariantMap &results);

private:
    void send(const QString &interface, const QString &method, QVariantList arguments,
        std::optional<std::chrono::milliseconds> timeout);
    void subscribe(const QString &path);
    void unsubscribe();
    void finish(const Portal::Answer &answer);

    QDBusConnection m_bus;
    QString m_what;
    QString m_path;
    bool m_done = false;
};
