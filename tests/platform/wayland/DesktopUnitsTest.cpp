// Logical units, desktop pixels and the pixels of the compositor's pictures
// on a scaled Wayland desktop.
#include "platform/wayland/DesktopUnits.h"
#include "platform/wayland/WaylandScreenSource.h"

#include <gtest/gtest.h>

using DesktopUnits::Output;

namespace {

// Desktop pixels of a rectangle in points on SCREEN, as capture computes
// them: origin and size rounded on their own.
QRect pixelsOf(const DisplayInfo &screen, const QRectF &points)
{
    const double s = screen.scale;
    return QRect(screen.pixelGeometry.topLeft() + QPoint(qRound(points.x() * s), qRound(points.y() * s)),
        QSize(qRound(points.width() * s), qRound(points.height() * s)));
}

DisplayInfo screenAt(const QRect &frame, double density, const QRect &pixels)
{
    DisplayInfo screen;
    screen.id = 1;
    screen.frame = frame;
    screen.scale = density;
    screen.pixelGeometry = pixels;
    return screen;
}

} // namespace

TEST(DesktopUnits, AScreensDensityIsItsOutputsModeOverItsLogicalSize)
{
    const std::vector<Output> outputs {{QPoint(0, 0), QSize(1920, 1080)}, {QPoint(1280, 0), QSize(2560, 1440)}};
    // 150 %: Qt says 2, the output says 1.5.
    EXPECT_DOUBLE_EQ(DesktopUnits::density(QRect(0, 0, 1280, 720), outputs, 2.0), 1.5);
    EXPECT_DOUBLE_EQ(DesktopUnits::density(QRect(1280, 0, 1280, 720), outputs, 2.0), 2.0);
    // A quarter-turned output arrives with its sides swapped already.
    EXPECT_DOUBLE_EQ(DesktopUnits::density(QRect(0, 0, 720, 1280), {{QPoint(0, 0), QSize(1080, 1920)}}, 1), 1.5);
    // No output there, or nothing to divide by: what Qt says.
    EXPECT_DOUBLE_EQ(DesktopUnits::density(QRect(5000, 0, 800, 600), outputs, 1.25), 1.25);
    EXPECT_DOUBLE_EQ(DesktopUnits::density(QRect(0, 0, 0, 0), outputs, 1.0), 1.0);
    EXPECT_DOUBLE_EQ(DesktopUnits::density(QRect(0, 0, 1280, 720), {{QPoint(0, 0), QSize()}}, 2.0), 2.0);
}

TEST(DesktopUnits, ScreensOfDifferentDensitiesNeverOverlapInDesktopPixels)
{
    // Side by side at 150 %: the same layout as one big screen.
    auto layout = DesktopUnits::pixelLayout({QRect(0, 0, 1280, 720), QRect(1280, 0, 1280, 720)}, {1.5, 1.5});
    ASSERT_EQ(layout.size(), 2u);
    EXPECT_EQ(layout[0], QRect(0, 0, 1920, 1080));
    EXPECT_EQ(layout[1], QRect(1920, 0, 1920, 1080));

    // 150 % beside 100 %: each has its own pixels, and the second starts
    // where the first ends.
    layout = DesktopUnits::pixelLayout({QRect(0, 0, 1280, 720), QRect(1280, 0, 1920, 1080)}, {1.5, 1.0});
    EXPECT_EQ(layout[0], QRect(0, 0, 1920, 1080));
    EXPECT_EQ(layout[1].size(), QSize(1920, 1080));
    EXPECT_FALSE(layout[0].intersects(layout[1]));

    // One above another, the lower one denser.
    layout = DesktopUnits::pixelLayout({QRect(0, 0, 1920, 1080), QRect(0, 1080, 1280, 720)}, {1.0, 2.0});
    EXPECT_EQ(layout[1].size(), QSize(2560, 1440));
    EXPECT_FALSE(layout[0].intersects(layout[1]));
}

TEST(DesktopUnits, EveryAreaComesBackAsExactlyItsPixelsFromAPictureOfTheScreensDensity)
{
    // The second of two monitors at each density; its stream shows its
    // logical frame in pictures of its real pixels.
    for (double density : {1.0, 1.25, 1.5, 1.7391303777694702, 2.0}) {
        const QRect frame(1280, 0, 1104, 621);
        const QSize picture(qRound(frame.width() * density), qRound(frame.height() * density));
        const DisplayInfo screen = screenAt(frame, density, QRect(QPoint(qRound(1280 * density), 0), picture));
        for (int x = 0; x < 40; x += 3) {
            for (int w = 8; w < 60; w += 7) {
                const QRectF points(x + 0.0, x / 2 + 0.0, w, w + 3);
                const QRect pixels = pixelsOf(screen, points);
                const QRectF logical = DesktopUnits::toLogical(screen, pixels);
                const QRect from = DesktopUnits::inPicture(frame, picture, logical, pixels.size());
                ASSERT_EQ(from, pixels.translated(-screen.pixelGeometry.topLeft()))
                    << "density " << density << " at " << x << " width " << w;
            }
        }
        // The whole screen is the whole picture.
        const QRectF whole = DesktopUnits::toLogical(screen, screen.pixelGeometry);
        EXPECT_EQ(DesktopUnits::inPicture(frame, picture, whole, picture), QRect(QPoint(0, 0), picture));
    }
}

TEST(DesktopUnits, APictureOfAnotherDensityGivesTheAreaAtThatDensity)
{
    // Qt's 1.0 on the screen, a picture twice as dense from the compositor.
    const QRect frame(0, 0, 960, 540);
    const QRect from = DesktopUnits::inPicture(frame, QSize(1920, 1080), QRectF(100, 50, 200, 100), QSize(200, 100));
    EXPECT_EQ(from, QRect(200, 100, 400, 200));
    // A picture of logical size (some compositors): the area shrinks.
    EXPECT_EQ(
        DesktopUnits::inPicture(QRect(0, 0, 1280, 720), QSize(1280, 720), QRectF(100, 100, 400, 300), QSize(600, 450)),
        QRect(100, 100, 400, 300));
}

TEST(DesktopUnits, TheStreamChosenIsTheOneWholeUnderTheAreaGivingARoundedPixelPastItsFarEdges)
{
    const std::vector<PortalScreenCast::Stream> streams {{7, QRect(0, 0, 1280, 720)}, {8, QRect(1280, 0, 1280, 720)}};
    const double pixel = 1 / 1.5;
    const auto chosen = [&](const QRectF &area) {
        const PortalScreenCast::Stream *stream = DesktopUnits::streamFor(streams, area, pixel);
        return stream ? stream->node : 0u;
    };
    EXPECT_EQ(chosen(QRectF(100, 100, 400, 300)), 7u);
    EXPECT_EQ(chosen(QRectF(1380, 100, 400, 300)), 8u);
    // Up to the far edges, and a rounded pixel past them.
    EXPECT_EQ(chosen(QRectF(880, 420, 400, 300)), 7u);
    EXPECT_EQ(chosen(QRectF(880 + pixel, 420 + pixel, 400, 300)), 7u);
    // Across the seam, more than a pixel past, or empty: none.
    EXPECT_EQ(chosen(QRectF(1180, 100, 200, 100)), 0u);
    EXPECT_EQ(chosen(QRectF(2160 + 2 * pixel, 100, 400, 300)), 0u);
    EXPECT_EQ(chosen(QRectF(100, 100, 0, 0)), 0u);
    // A portal that does not say where its monitor is: a lone stream is it.
    const std::vector<PortalScreenCast::Stream> unplaced {{9, QRect()}};
    ASSERT_NE(DesktopUnits::streamFor(unplaced, QRectF(5, 5, 10, 10), pixel), nullptr);
    EXPECT_EQ(DesktopUnits::streamFor(unplaced, QRectF(5, 5, 10, 10), pixel)->node, 9u);
}

TEST(DesktopUnits, ACropOfThePicturesOwnDensityIsCopiedAndOneOfAnotherIsScaled)
{
    QImage picture(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            picture.setPixel(x, y, qRgb(x % 256, y, x < 150 ? 0 : 255));
    // Same size: the very pixels, black where it runs off the picture.
    QImage crop = cropPicture(picture, QRect(280, 10, 30, 20), QSize(30, 20));
    ASSERT_EQ(crop.size(), QSize(30, 20));
    EXPECT_EQ(crop.pixel(0, 0), picture.pixel(280, 10));
    EXPECT_EQ(crop.pixel(19, 19), picture.pixel(299, 29));
    EXPECT_EQ(crop.pixel(20, 0), qRgb(0, 0, 0));
    // Twice the size in the picture: scaled down into SIZE.
    crop = cropPicture(picture, QRect(100, 0, 100, 100), QSize(50, 50));
    ASSERT_EQ(crop.size(), QSize(50, 50));
    EXPECT_EQ(qBlue(crop.pixel(5, 25)), 0);
    EXPECT_EQ(qBlue(crop.pixel(45, 25)), 255);
}
