#pragma once

#include "core/Preferences.h"
#include "core/Result.h"
#include "platform/PlatformError.h"

#include <QDBusConnection>
#include <QObject>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The conversation with the desktop's ScreenCast portal that yields a
// PipeWire node showing one monitor: CreateSession, SelectSources, Start,
// OpenPipeWireRemote. Every call is asynchronous; lives on the GUI thread.
//
// Sessions ask to persist (persist_mode 2): the restore token the portal
// hands back is kept through TokenStore, under the monitor the session
// shows, and the caller offers it next time, so the desktop asks the user
// once per monitor and not at every recording.
class PortalScreenCast : public QObject {
    Q_OBJECT

public:
    // Restore tokens by monitor (CastTokens).
    struct TokenStore {
        std::function<std::vector<Preferences::ScreenCastToken>()> load;
        std::function<void(const std::vector<Preferences::ScreenCastToken> &)> save;
    };

    struct Stream {
        uint32_t node = 0;
        // Where the monitor lies on the desktop (empty when not told).
        QRect geometry;
    };

    struct Cast {
        QString session;
        std::vector<Stream> streams;
        // A connection to PipeWire that can see the streams; the receiver
        // owns it.
        int pipeWireFd = -1;
        // Whether the pointer is drawn into the pictures (otherwise it is
        // sent beside them as metadata, or not at all).
        bool cursorEmbedded = false;
        // The restore token the session was started with (empty: none, and
        // so the user was asked which monitor to share).
        QString restoredFrom;
    };

    using Done = std::function<void(Result<Cast, PlatformError>)>;

    explicit PortalScreenCast(
        TokenStore tokens, QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~PortalScreenCast() override;

    // Starts a session showing a monitor, the one RESTORETOKEN brings back
    // if it is still good, else the one the user picks; DONE runs once, on
    // this object's thread, with the cast or why there is none.
    void start(bool showsCursor, const QString &restoreToken, Done done);
    void start(bool showsCursor, Done done) { start(showsCursor, QString(), std::move(done)); }
    // The kept token that brings back the monitor holding the logical AREA
    // (SLACK: as CastTokens::forArea), or none.
    QString restoreTokenFor(const QRectF &area, double slack) const;
    // Ends a session start() delivered.
    void close(const QString &session);

private:
    struct Conversation;
    using Talk = std::shared_ptr<Conversation>;
    void fail(const Talk &talk, PlatformError error);
    void createSession(const Talk &talk);
    void selectSources(const Talk &talk);
    void startSession(const Talk &talk);
    void openRemote(const Talk &talk);
    // Calls METHOD, whose last argument is its options, and hands the
    // Response's results to NEXT; fails the conversation with REFUSED when
    // the user said no, and with the portal's failure otherwise.
    void request(const Talk &talk, const QString &method, QVariantList arguments, PlatformError refused,
        std::function<void(const QVariantMap &)> next);
    QString newToken();

    TokenStore m_tokens;
    QDBusConnection m_bus;
};
