#pragma once

// The screens the capture benchmarks compress: a busy desktop (two windows of
// text over a gradient wallpaper, a photo-like noisy area) and dense
// antialiased strokes over a gradient, where faster deflate levels lose most.
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>

namespace BenchScreens {

// Paints the busy desktop into SIZE; FLAT gives a solid wallpaper.
inline void paintBusyDesktop(QPainter &painter, QSize size, bool flat, quint32 seed)
{
    QLinearGradient sky(0, 0, size.width(), size.height());
    sky.setColorAt(0, QColor(40, 70, 120));
    sky.setColorAt(1, QColor(200, 120, 60));
    if (flat)
        painter.fillRect(QRect(QPoint(), size), QColor(40, 70, 120));
    else
        painter.fillRect(QRect(QPoint(), size), sky);
    // Two "application windows" full of text.
    for (const QRect &window : {QRect(60, 60, 900, 700), QRect(800, 300, 1000, 700)}) {
        painter.fillRect(window, QColor(250, 250, 248));
        painter.fillRect(window.x(), window.y(), window.width(), 32, QColor(225, 225, 230));
        painter.setPen(Qt::black);
        for (int line = 0; line * 18 + 50 < window.height(); ++line)
            painter.drawText(window.x() + 12, window.y() + 50 + line * 18,
                QStringLiteral("%1  int capture(const Target &target) { return grab(target.rect, "
                               "scale * %2); } // comment")
                    .arg(line)
                    .arg(line * 7));
    }
    // A photo-like area: smooth colour with noise.
    QImage photo(480, 320, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const int n = int(random.bounded(24));
            photo.setPixel(x, y, qRgb((x / 2 + n) & 255, (y / 2 + n) & 255, (x + y) / 4 + n));
        }
    painter.drawImage(1300, 40, photo);
}

inline QImage busyDesktop(QSize size = QSize(1920, 1080), bool flat = false, quint32 seed = 1)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    paintBusyDesktop(painter, size, flat, seed);
    return image;
}

// Short antialiased lines in rows, like text, over a gradient and on a white
// page: no fonts needed.
inline QImage denseStrokes(QSize size = QSize(1920, 1080))
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(40, 70, 120));
    gradient.setColorAt(1, QColor(200, 120, 60));
    painter.fillRect(image.rect(), gradient);
    painter.fillRect(QRect(60, 60, 1200, 900), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int row = 0; row < 48; ++row) {
        for (int glyph = 0; glyph < 150; ++glyph) {
            const int x = 72 + glyph * 7;
            const int y = 80 + row * 18;
            painter.setPen(QPen(QColor(20, 20, 20), 1.3));
            painter.drawLine(QPointF(x + (glyph * 13 + row) % 5, y), QPointF(x + (glyph * 7 + row * 3) % 6, y + 11));
        }
    }
    return image;
}

} // namespace BenchScreens
