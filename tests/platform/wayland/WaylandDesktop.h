#pragma once

// What the Wayland tests share: a full-screen window of four known colours
// and the test portal's control interface.
#include "support/TestSupport.h"

#include <QPainter>
#include <QRasterWindow>
#include <QStringList>

namespace WaylandDesktop {

// Quadrants of these colours, meeting at the window's centre.
inline const QColor topLeft(230, 40, 40), topRight(20, 230, 40), bottomLeft(40, 60, 230), bottomRight(230, 220, 30);

class QuadrantWindow : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const int w = width(), h = height();
        painter.fillRect(QRect(0, 0, w / 2, h / 2), topLeft);
        painter.fillRect(QRect(w / 2, 0, w - w / 2, h / 2), topRight);
        painter.fillRect(QRect(0, h / 2, w / 2, h - h / 2), bottomLeft);
        painter.fillRect(QRect(w / 2, h / 2, w - w / 2, h - h / 2), bottomRight);
    }
};

// A method of the test portal's control interface, through gdbus.
inline QByteArray portal(const QString &method, const QStringList &arguments = {})
{
    return TestSupport::tool("gdbus",
        QStringList {"call", "--session", "--dest", "org.freedesktop.portal.Desktop", "--object-path",
            "/org/freedesktop/portal/desktop", "--method", "app.velunta.TestPortal." + method}
            + arguments);
}

// The files the portal has handed out so far.
inline QStringList portalFiles()
{
    QString out = QString::fromUtf8(portal("Screenshots"));
    QStringList files;
    for (const QString &part : out.split('\'')) {
        if (part.startsWith('/'))
            files << part;
    }
    return files;
}

} // namespace WaylandDesktop
