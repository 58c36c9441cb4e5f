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

// Asks the portal which interfaces it offers. Blocking, for at most TIMEOUT
// per call: made once at start, before any window shows. Empty when no
// portal answers.
Versions detect(QDBusConnection bus, std::chrono::milliseconds timeout);

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
