#pragma once

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>

// The desktop's notifications (org.freedesktop.Notifications on the session
// bus), for the notices a Wayland client cannot place itself: the server puts
// them where the desktop shows its own, on the right screen.
//
// Every call is asynchronous: the GUI thread never waits on the server. A
// server that is not there answers with an error at once (no such name), one
// that hangs is given up after the time-out; either way the caller hears
// "not sent" and can show its own window instead. GUI thread only.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    static constexpr int callTimeoutMs = 2000;
    // The largest thumbnail sent: a whole screenshot would be megabytes on
    // the bus, and servers show a few dozen points of it.
    static constexpr int imageSide = 256;

    struct Notice {
        QString summary;
        QString body;
        QImage image;
        // Asks for a default action (a click on the notice) when the server
        // has actions.
        bool clickable = false;
        int expireTimeoutMs = -1;
    };

    explicit DesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // Sends NOTICE in place of the one with id REPLACES (0: none). SENT runs
    // once, on the GUI thread, with the server's id, or none when no server
    // took it.
    void send(const Notice &notice, uint replaces, std::function<void(std::optional<uint>)> sent);
    // Withdraws notice ID; nothing happens when it is gone already.
    void close(uint id);

    // Whether the server announced "actions"; none until it has answered.
    std::optional<bool> hasActions() const { return m_hasActions; }

    // The Notify call's action list and hints for NOTICE (for a server with
    // or without ACTIONS).
    static QStringList actionsFor(const Notice &notice, bool actions);
    static QVariantMap hintsFor(const Notice &notice);
    // The "image-data" hint's value: width, height, row stride, alpha,
    // 8 bits, 4 channels, RGBA bytes; scaled down to fit imageSide.
    static QVariant imageData(const QImage &image);
    // IMAGE as sent: RGBA, scaled down to fit imageSide.
    static QImage thumbnailFor(const QImage &image);

signals:
    // The user clicked notice ID (its default action).
    void activated(uint id);
    // The server took notice ID away (expired, dismissed or closed).
    void closed(uint id);

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);

private:
    void deliver(const Notice &notice, uint replaces, std::function<void(std::optional<uint>)> sent);
    void notify(const Notice &notice, uint replaces, std::function<void(std::optional<uint>)> sent);

    QDBusConnection m_bus;
    std::optional<bool> m_hasActions;
};
