// The Wayland backend on a compositor that really scales (mutter's
// fractional scaling, tests/support/on-wayland --scale=S with
// VELUNTA_WAYLAND_SCALE=S): Qt sees logical screens and rounds the scale up
// to a whole number, while the portal's pictures have the monitor's real
// pixels. A screenshot, its PNG and an area recording must still be exactly
// the screen's pixels.
#include "capture/CaptureEngine.h"
#include "platform/NullPlatform.h"
#include "platform/PlatformServices.h"
#include "platform/wayland/WaylandDesktop.h"
#include "recording/ScreenRecorder.h"
#include "recording/SegmentWriter.h"
#include "support/AwaitTask.h"
#include "support/ColouredWindow.h"
#include "support/EventLoopWait.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace WaylandDesktop;
using TestSupport::nearColour;
using TestSupport::waitUntil;

namespace {

// The last frame of the video at PATH, as RGB.
QImage lastFrameOf(const QString &path, QSize size)
{
    QProcess process;
    process.start("ffmpeg", {"-v", "error", "-i", path, "-map", "0:v:0", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    process.waitForFinished(120000);
    const QByteArray raw = process.readAllStandardOutput();
    const qsizetype bytes = qsizetype(size.width()) * size.height() * 3;
    if (raw.size() < bytes)
        return {};
    return QImage(reinterpret_cast<const uchar *>(raw.constData() + raw.size() - bytes), size.width(), size.height(),
        size.width() * 3, QImage::Format_RGB888)
        .copy();
}

// The quadrants, and on demand a corner square that changes at every
// paint: mutter casts a frame only when something on screen changes.
class LiveQuadrants : public QuadrantWindow {
public:
    void tick()
    {
        live = true;
        ++ticks;
        update();
    }
    int painted = 0;
    int ticks = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QuadrantWindow::paintEvent(event);
        ++painted;
        if (live)
            QPainter(this).fillRect(QRect(0, 0, 8, 8), ticks % 2 ? Qt::white : Qt::black);
    }

private:
    bool live = false;
};

class WaylandScaled : public ::testing::Test {
protected:
    void SetUp() override
    {
        expected = qEnvironmentVariable("VELUNTA_WAYLAND_SCALE").toDouble();
        if (!onWayland() || !(expected > 0))
            GTEST_SKIP() << "needs the scaled Wayland test desktop (tests/support/on-wayland --scale=S, "
                            "VELUNTA_WAYLAND_SCALE=S)";
        services = PlatformServices::create();
        window.showFullScreen();
        ASSERT_TRUE(waitUntil([&] { return window.isExposed(); }, 10000));
        // Exposed is not yet on screen: mutter at scale 2 may leave a new
        // full-screen window unrepainted for a second or two (no frame
        // callbacks), and a cast gets no frame meanwhile. On screen is when
        // repaints asked for keep coming.
        QTimer ask;
        QObject::connect(&ask, &QTimer::timeout, &window, [this] { window.update(); });
        ask.start(50);
        const int before = window.painted;
        ASSERT_TRUE(waitUntil([&] { return window.painted - before >= 5; }, 15000))
            << "the compositor repainted the new window " << window.painted - before << " times in 15 s";
        ask.stop();
        for (const DisplayInfo &info : services.screens->displays()) {
            if (info.name == window.screen()->name())
                display = info;
        }
        ASSERT_TRUE(display.id);
    }

    double expected = 0;
    PlatformServices services;
    LiveQuadrants window;
    DisplayInfo display;
};

} // namespace

TEST_F(WaylandScaled, TheScreensDensityIsTheCompositorsScaleNotQtsRoundedOne)
{
    // 1920×1080 pixels shown as a smaller logical screen.
    EXPECT_DOUBLE_EQ(display.scale, expected);
    EXPECT_EQ(display.frame.size(), QSize(qRound(1920 / expected), qRound(1080 / expected)));
    EXPECT_EQ(display.pixelGeometry, QRect(0, 0, 1920, 1080));
    // What Qt itself believes, which is why it is not asked.
    EXPECT_EQ(window.screen()->devicePixelRatio(), std::ceil(expected));
}

TEST_F(WaylandScaled, AFullScreenshotIsEveryPixelAndItsPngSaysTheDensity)
{
    auto shot = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*display.id, std::nullopt}));
    ASSERT_TRUE(shot) << shot.error().description().toStdString();
    ASSERT_EQ(shot->image.size(), QSize(1920, 1080));
    EXPECT_DOUBLE_EQ(shot->scale, expected);
    const QImage &image = shot->image;
    EXPECT_TRUE(nearColour(image.pixel(958, 538), topLeft, 2));
    EXPECT_TRUE(nearColour(image.pixel(961, 538), topRight, 2));
    EXPECT_TRUE(nearColour(image.pixel(958, 541), bottomLeft, 2));
    EXPECT_TRUE(nearColour(image.pixel(961, 541), bottomRight, 2));
    EXPECT_TRUE(nearColour(image.pixel(0, 0), topLeft, 2));
    EXPECT_TRUE(nearColour(image.pixel(1919, 1079), bottomRight, 2));

    auto png = CaptureEngine::pngData(image, shot->scale);
    ASSERT_TRUE(png);
    QBuffer buffer(&*png);
    QImageReader reader(&buffer, "png");
    const QImage read = reader.read();
    ASSERT_EQ(read.size(), QSize(1920, 1080));
    // 72 × scale dots per inch.
    EXPECT_EQ(read.dotsPerMeterX(), qRound(72 * expected / 0.0254));
    EXPECT_EQ(read.dotsPerMeterY(), qRound(72 * expected / 0.0254));
}

TEST_F(WaylandScaled, AnAreaIsThoseVeryPixelsOfTheScreenUpToItsFarEdges)
{
    auto full = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*display.id, std::nullopt}));
    ASSERT_TRUE(full);
    const QSizeF points = display.frame.size();
    // Odd places and sizes, so that edges fall between pixels; the last
    // reaches the screen's far corner.
    for (const QRectF &area : {QRectF(points.width() / 2 - 41, points.height() / 2 - 27, 83, 61),
             QRectF(13, 7, 101, 55), QRectF(points.width() - 151, points.height() - 97, 151, 97)}) {
        const CaptureTarget target {*display.id, area};
        auto shot = awaitTask(CaptureEngine::screenshot(*services.screens, target));
        ASSERT_TRUE(shot) << "refused " << area.x() << "," << area.y() << ": "
                          << shot.error().description().toStdString();
        auto resolved = CaptureEngine::resolve(*services.screens, target);
        ASSERT_TRUE(resolved);
        QRect pixels = CaptureEngine::pixelRect(*resolved, area);
        ASSERT_EQ(shot->image.size(), pixels.size());
        // Edges rounded on their own may end a pixel past the screen: the
        // same size, moved inside.
        pixels.moveRight(std::min(pixels.right(), display.pixelGeometry.right()));
        pixels.moveBottom(std::min(pixels.bottom(), display.pixelGeometry.bottom()));
        EXPECT_EQ(shot->image, full->image.copy(pixels)) << "at " << area.x() << "," << area.y();
    }
}

TEST_F(WaylandScaled, AnAreaRecordingShowsTheAreasOwnPixelsEvenAtTheScreensCorner)
{
    QTemporaryDir out;
    NullAudioSource audio;
    LiveSegmentCapture service(*services.frames, audio);
    // Far from both areas, something changes as on a live screen.
    QTimer redraw;
    QObject::connect(&redraw, &QTimer::timeout, &window, [this] { window.tick(); });
    redraw.start(100);
    const QSizeF points = display.frame.size();
    const QPointF centre(points.width() / 2, points.height() / 2);
    struct Case {
        QRectF area;
        QString name;
    };
    // Across the point where the quadrants meet; then up to the far corner,
    // which lies past the logical size in desktop pixels.
    for (const Case &c : {Case {QRectF(centre.x() - 100, centre.y() - 60, 200, 120), "meio.mp4"},
             Case {QRectF(points.width() - 160, points.height() - 90, 160, 90), "canto.mp4"}}) {
        ScreenRecorder recorder(*services.screens, service);
        const QString path = out.filePath(c.name);
        const CaptureTarget target {*display.id, c.area};
        const int paintsBefore = window.painted;
        const int ticksBefore = window.ticks;
        auto started = awaitTask(recorder.start(target, path, {false, false}));
        ASSERT_TRUE(started) << c.name.toStdString() << ": " << started.error().description().toStdString();
        QTest::qWait(1500);
        auto stopped = awaitTask(recorder.stop());
        const int paints = window.painted - paintsBefore;
        const int ticks = window.ticks - ticksBefore;
        ASSERT_TRUE(stopped) << c.name.toStdString() << ": " << stopped.error().description().toStdString() << " ("
                             << paints << " paints in " << ticks << " ticks)";

        auto resolved = CaptureEngine::resolve(*services.screens, target);
        ASSERT_TRUE(resolved);
        const QSize size = ScreenRecorder::segmentGeometry(*resolved, target).pixels.size();
        EXPECT_EQ(size.width(), int(std::floor(c.area.width() * expected)) & ~1);
        const QImage frame = lastFrameOf(path, size);
        ASSERT_FALSE(frame.isNull()) << c.name.toStdString();
        // Where the quadrants meet, in the recording's pixels; a few pixels
        // off it, as video blurs colour edges.
        const QPoint meet(qRound((centre.x() - c.area.x()) * expected), qRound((centre.y() - c.area.y()) * expected));
        const auto colourAt = [&](int x, int y) {
            return QColor(frame.pixel(std::clamp(x, 0, size.width() - 1), std::clamp(y, 0, size.height() - 1)));
        };
        if (QRect(QPoint(0, 0), size).contains(meet)) {
            EXPECT_TRUE(nearColour(colourAt(meet.x() - 6, meet.y() - 6).rgb(), topLeft, 24));
            EXPECT_TRUE(nearColour(colourAt(meet.x() + 6, meet.y() - 6).rgb(), topRight, 24));
            EXPECT_TRUE(nearColour(colourAt(meet.x() - 6, meet.y() + 6).rgb(), bottomLeft, 24));
            EXPECT_TRUE(nearColour(colourAt(meet.x() + 6, meet.y() + 6).rgb(), bottomRight, 24));
        } else {
            // The corner area is all bottom-right, to its last pixel.
            EXPECT_TRUE(nearColour(colourAt(3, 3).rgb(), bottomRight, 24));
            EXPECT_TRUE(nearColour(colourAt(size.width() - 2, size.height() - 2).rgb(), bottomRight, 24));
        }
    }
}
