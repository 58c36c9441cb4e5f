#pragma once

#include "core/Result.h"
#include "platform/PlatformError.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <chrono>
#include <map>

// The desktop portal (xdg-desktop-portal) as Velunta uses it: which of its
// interfaces a session offers, and requests answered through a Request
// object's Response signal.
namespace Portal {

inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString objectPath = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString screenshotInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
inline const QString globalShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

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

using Answer = Result<QVariantMap, PlatformError>;

// The user-facing error for a Response code other than 0.
PlatformError responseError(uint code, const QString &what);

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
    // must be the options map (a handle_token is added to it).
    void start(
        const QString &interface, const QString &method, QVariantList arguments, std::chrono::milliseconds timeout);

signals:
    void finished(const Portal::Answer &answer);

private slots:
    void onResponse(uint code, const QVariantMap &results);

private:
    void subscribe(const QString &path);
    void unsubscribe();
    void finish(const Portal::Answer &answer);

    QDBusConnection m_bus;
    QString m_what;
    QString m_path;
    bool m_done = false;
};
