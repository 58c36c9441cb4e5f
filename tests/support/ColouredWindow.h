#pragma once

// An ordinary window filled with one colour, for tests that look for it in
// what a capture saw, and counting of that colour in an image.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRasterWindow>
#include <cstdlib>

namespace TestSupport {

class ColouredWindow : public QRasterWindow {
public:
    explicit ColouredWindow(QColor colour = QColor(20, 230, 40))
        : colour(colour)
    {
    }

    // Shown from the next repaint (update()).
    QColor colour;
    int presses = 0;

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(QRect(QPoint(), size()), colour); }
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

// Whether PIXEL is COLOUR, each channel within TOLERANCE; alpha is not looked at.
inline bool nearColour(QRgb pixel, const QColor &colour, int tolerance = 8)
{
    return std::abs(qRed(pixel) - colour.red()) <= tolerance && std::abs(qGreen(pixel) - colour.green()) <= tolerance
        && std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

// How many pixels of IMAGE (32 bits a pixel) are COLOUR, each channel within
// TOLERANCE; alpha is not looked at.
inline int countColour(const QImage &image, QRgb colour, int tolerance = 0)
{
    int found = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            found += nearColour(line[x], QColor(colour), tolerance);
    }
    return found;
}

} // namespace TestSupport
