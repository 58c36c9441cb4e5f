#pragma once

#include "core/ControllerPorts.h"

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

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

class Toast : public QObject, public CaptureNotifier {
    Q_OBJECT
public:
    static constexpr int displayTimeMs = 5000;
    static constexpr int margin = 16;

    explicit Toast(DesktopServices *desktop, QObject *parent = nullptr);
    ~Toast() override;

    void show(const QString &title, const QString &path, const QImage &image) override;
    void showNotice(const QString &text) override;
    void hide();
    QCoro::Task<QImage> videoThumbnail(QString path) override;

    // The first frame of a video, at most 320 x 320; null when unreadable.
    static QImage videoFrame(const QString &path);
    // Where the panel goes for a screen whose usable area is AREA.
    static QRect panelFrame(const QRect &area);

    ToastView *view() const { return m_view; }

private:
    void present(ToastView *view);

    DesktopServices *m_desktop;
    QPointer<ToastView> m_view;
    QTimer m_hideTimer;
};
