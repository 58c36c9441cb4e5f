#pragma once

#include "core/ControllerPorts.h"

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class DesktopNotifications;
class DesktopServices;

// The small dark panel in the lower-right corner of the screen under the
// pointer that announces a saved capture. It floats above ordinary windows,
// never takes the focus, is never captured, opens the file when clicked and
// goes away by itself after five seconds or when the next one replaces it.
class ToastView : public QWidget {
    Q_OBJECT
public:
    ToastView(const QString &title, const QString &path, const QImage &thumbnail);
    // A message alone, over both lines, beside a warning sign.
    static ToastView *notice(const QString &text);

    static constexpr QSize panelSize {320, 84};
    static constexpr QRect thumbnailFrame {10, 10, 88, 64};
    static constexpr QRect titleFrame {108, 20, 202, 20};
    static constexpr QRect fileNameFrame {108, 44, 202, 18};

    QString title() const { return m_title; }
    QString fileName() const { return m_fileName; }
    // The file name as drawn, shortened in the middle when too long.
    QString shownFileName() const;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *) override;

private:
    QString m_title;
    QString m_fileName;
    QImage m_thumbnail;
    bool m_isNotice = false;
};

// On Wayland a client cannot place its windows nor keep them out of a
// capture, so there the announcement is a desktop notification: the desktop
// puts it where it shows its own, on the screen the user is looking at, and
// a click (where the server has actions) opens the file as the panel's click
// does. Without a notification server the panel is shown instead, wherever
// the compositor puts it.
class Toast : public QObject, public CaptureNotifier {
    Q_OBJECT
public:
    static constexpr int displayTimeMs = 5000;
    static constexpr int margin = 16;

    // NOTIFICATIONS: where the announcements go instead of the panel; null
    // for the panel. The default picks by Qt's platform (usesNotifications).
    explicit Toast(DesktopServices *desktop, QObject *parent = nullptr);
    Toast(DesktopServices *desktop, DesktopNotifications *notifications, QObject *parent = nullptr);
    ~Toast() override;

    // Whether announcements go to the desktop's notifications on Qt's
    // platform PLATFORMNAME: on Wayland, where the panel cannot be placed.
    static bool usesNotifications(const QString &platformName);

    void show(const QString &title, const QString &path, const QImage &image) override;
    void showNotice(const QString &text) override;
    void hide();
    QCoro::Task<QImage> videoThumbnail(QString path) override;

    // The first frame of a video, at most 320 x 320; null when unreadable.
    static QImage videoFrame(const QString &path);
    // Where the panel goes for a screen whose usable area is AREA.
    static QRect panelFrame(const QRect &area);

    ToastView *view() const { return m_view; }
    // The desktop notification on screen; 0 when none.
    uint notificationId() const { return m_notificationId; }

private:
    // Where announcements go from now on; their clicks and closings come
    // back from there alone.
    void listenTo(DesktopNotifications *notifications);
    void present(ToastView *view);
    // Sends the notice to the desktop, or shows PANEL when no server takes
    // it. OPENS: the file a click opens (empty: a click only hides).
    void announce(const QString &summary, const QString &body, const QImage &image, const QString &opens,
        std::function<ToastView *()> panel);
    void onNotificationActivated(uint id);
    void onNotificationClosed(uint id);

    DesktopServices *m_desktop;
    std::unique_ptr<DesktopNotifications> m_ownNotifications;
    DesktopNotifications *m_notifications = nullptr;
    QPointer<ToastView> m_view;
    QTimer m_hideTimer;
    uint m_notificationId = 0;
    QString m_opens;
    // Bumped by every show and hide, so that a server's late answer to an
    // older notice withdraws it instead of taking the newer one's place.
    quint64 m_generation = 0;
};
