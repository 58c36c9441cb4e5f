// Two monitors of different scales on headless mutter
// (tests/support/on-wayland --dual --scale=A,B with VELUNTA_WAYLAND_SCALES=A,B):
// the first 1920×1080 pixels, the second 1280×1024 beside it, e.g. at 2 and
// 1, or at 1 and 1.5. Each screen keeps its own density: the screenshot
// portal's picture comes at the larger one, so the denser screen's
// screenshots, drags and recordings are its very pixels, the other's
// screenshots are resampled to its own size, and its recordings (a cast of
// its monitor alone) are its pixels again.
#include "capture/CaptureEngine.h"
#include "feedback/PickRun.h"
#include "feedback/SelectionGeometry.h"
#include "feedback/SelectionOverlay.h"
#include "platform/NullPlatform.h"
#include "platform/PlatformServices.h"
#include "platform/WindowManager.h"
#include "platform/wayland/PortalScreenCast.h"
#include "platform/wayland/WaylandDesktop.h"
#include "platform/wayland/WaylandFrameSource.h"
#include "recording/ScreenRecorder.h"
#include "recording/SegmentWriter.h"
#include "support/AwaitTask.h"
#include "support/ColouredWindow.h"
#include "support/EventLoopWait.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

using namespace WaylandDesktop;
using TestSupport::nearColour;
using TestSupport::spin;
using TestSupport::waitUntil;

namespace {

// The quadrants, counting their paints.
class CountedQuadrants : public QuadrantWindow {
public:
    int painted = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QuadrantWindow::paintEvent(event);
        ++painted;
    }
};

std::string hex(QRgb pixel)
{
    return QColor(pixel).name().toStdString();
}

// The quadrant colour as the overlay shows it, under its dimming.
QColor dimmed(const QColor &colour)
{
    const double keep = 1.0 - SelectionGeometry::dimmingOpacity;
    return QColor(qRound(colour.red() * keep), qRound(colour.green() * keep), qRound(colour.blue() * keep));
}

// The quadrants meet at (X, Y) of IMAGE: the pixels EDGE away on each side
// are theirs.
void expectQuadrantsAt(const QImage &image, int x, int y, int edge, int tolerance = 2)
{
    const auto at = [&](int px, int py, const QColor &colour) {
        EXPECT_TRUE(nearColour(image.pixel(px, py), colour, tolerance))
            << "(" << px << ", " << py << ") is " << hex(image.pixel(px, py));
    };
    at(x - 1 - edge, y - 1 - edge, topLeft);
    at(x + edge, y - 1 - edge, topRight);
    at(x - 1 - edge, y + edge, bottomLeft);
    at(x + edge, y + edge, bottomRight);
}

// The last of a frame a second of the recording at PATH, as RGB.
QImage lastFrameOf(const QString &path, QSize size)
{
    QProcess decode;
    decode.start("ffmpeg",
        {"-v", "error", "-i", path, "-map", "0:v:0", "-vf", "fps=1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    decode.waitForFinished(60000);
    const QByteArray raw = decode.readAllStandardOutput();
    const qsizetype bytes = qsizetype(size.width()) * size.height() * 3;
    if (raw.size() < bytes)
        return {};
    return QImage(reinterpret_cast<const uchar *>(raw.constData()) + (raw.size() / bytes - 1) * bytes, size.width(),
        size.height(), size.width() * 3, QImage::Format_RGB888)
        .copy();
}

class WaylandMixedScales : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QStringList scales = qEnvironmentVariable("VELUNTA_WAYLAND_SCALES").split(',');
        if (!QGuiApplication::platformName().startsWith("wayland") || QGuiApplication::screens().size() < 2
            || scales.size() != 2)
            GTEST_SKIP() << "needs two Wayland screens of different scales (tests/support/on-wayland --dual "
                            "--scale=A,B, VELUNTA_WAYLAND_SCALES=A,B)";
        services = PlatformServices::create();
        const std::vector<DisplayInfo> displays = services.screens->displays();
        ASSERT_EQ(displays.size(), 2u);
        for (const DisplayInfo &display : displays)
            (display.primary ? first : second) = display;
        ASSERT_TRUE(first.id && second.id);
        // mutter offers the scales that give whole logical sizes: 1.5 on
        // 1280×1024 is 1.497.
        ASSERT_NEAR(first.scale, scales[0].toDouble(), 0.01);
        ASSERT_NEAR(second.scale, scales[1].toDouble(), 0.01);
        ASSERT_NE(first.scale, second.scale);
        const bool firstDenser = first.scale > second.scale;
        dense = firstDenser ? first : second;
        plain = firstDenser ? second : first;
        denseMonitor = firstDenser ? "Meta-0" : "Meta-1";
        plainMonitor = firstDenser ? "Meta-1" : "Meta-0";
        showOn(firstWindow, first);
        showOn(secondWindow, second);
    }

    // Full screen on the screen of DISPLAY, and repainted there: mutter at
    // scale 2 may leave a new full-screen window unpainted for a while.
    void showOn(CountedQuadrants &window, const DisplayInfo &display)
    {
        for (QScreen *screen : QGuiApplication::screens()) {
            if (screen->name() == display.name) {
                window.setScreen(screen);
                window.setGeometry(screen->geometry());
            }
        }
        window.showFullScreen();
        ASSERT_TRUE(waitUntil([&] { return window.isExposed(); }, 10000));
        QTimer ask;
        QObject::connect(&ask, &QTimer::timeout, &window, [&window] { window.update(); });
        ask.start(50);
        const int before = window.painted;
        ASSERT_TRUE(waitUntil([&] { return window.painted - before >= 5; }, 15000));
        ask.stop();
        ASSERT_EQ(window.screen()->name(), display.name);
        ASSERT_EQ(window.size(), display.frame.size());
    }

    // Where the quadrants of DISPLAY's window meet, in its screenshot.
    static QPoint meeting(const DisplayInfo &display)
    {
        return QPoint(
            qRound(display.frame.width() / 2 * display.scale), qRound(display.frame.height() / 2 * display.scale));
    }

    // A fractional scale shows Qt's whole-number buffer scaled down by the
    // compositor: edges are soft there.
    static int softness(const DisplayInfo &display) { return display.scale == std::floor(display.scale) ? 0 : 2; }

    // Records AREA (points) of DISPLAY, cast by the portal from MONITOR,
    // into PATH; the refusal's text, or empty.
    std::string record(const DisplayInfo &display, const QRectF &area, const QString &monitor, const QString &path)
    {
        portal("ScreenCast.ChooseMonitor", {"'" + monitor + "'"});
        NullAudioSource audio;
        PortalScreenCast cast(WaylandFrameSource::tokensIn(nullptr));
        WaylandFrameSource frames(&cast);
        LiveSegmentCapture service(frames, audio);
        ScreenRecorder recorder(*services.screens, service);
        auto started = awaitTask(recorder.start({*display.id, area}, path, {false, false}));
        portal("ScreenCast.ChooseMonitor", {"''"});
        if (!started)
            return started.error().description().toStdString();
        spin(2000);
        auto stopped = awaitTask(recorder.stop());
        if (!stopped)
            return stopped.error().description().toStdString();
        return *stopped == path ? std::string() : "saved elsewhere: " + stopped->toStdString();
    }

    PlatformServices services;
    DisplayInfo first, second, dense, plain;
    QString denseMonitor, plainMonitor;
    CountedQuadrants firstWindow, secondWindow;
};

} // namespace

TEST_F(WaylandMixedScales, EachScreenHasItsOwnDensityAndTheirPixelsDoNotOverlap)
{
    EXPECT_EQ(first.pixelGeometry, QRect(0, 0, 1920, 1080));
    EXPECT_EQ(first.frame.size(), QSize(qRound(1920 / first.scale), qRound(1080 / first.scale)));
    EXPECT_EQ(second.frame.topLeft(), QPoint(first.frame.right() + 1, 0));
    EXPECT_EQ(second.frame.size(), QSize(qRound(1280 / second.scale), qRound(1024 / second.scale)));
    // Placed at its logical place times the larger density, so that it
    // starts where the first screen's pixels end.
    EXPECT_EQ(second.pixelGeometry, QRect(qRound(second.frame.x() * dense.scale), 0, 1280, 1024));
    EXPECT_GE(second.pixelGeometry.left(), first.pixelGeometry.right() + 1);
}

TEST_F(WaylandMixedScales, ScreenshotsAreEachScreensSizeAndTheDenserScreensAreItsVeryPixels)
{
    auto denseShot = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*dense.id, std::nullopt}));
    ASSERT_TRUE(denseShot) << denseShot.error().description().toStdString();
    ASSERT_EQ(denseShot->image.size(), dense.pixelGeometry.size());
    EXPECT_DOUBLE_EQ(denseShot->scale, dense.scale);
    const QPoint denseMeeting = meeting(dense);
    expectQuadrantsAt(denseShot->image, denseMeeting.x(), denseMeeting.y(), softness(dense));
    EXPECT_TRUE(nearColour(denseShot->image.pixel(0, 0), topLeft, 2));
    // A pixel in from the corner: mutter paints a 1280×1024 monitor at
    // scale 1.497 a row short, and its own cast shows that row black.
    const QPoint denseCorner = denseShot->image.rect().bottomRight() - QPoint(1, 1);
    EXPECT_TRUE(nearColour(denseShot->image.pixel(denseCorner), bottomRight, 2))
        << hex(denseShot->image.pixel(denseCorner));

    // Odd places and sizes on the denser screen, one up to its far corner:
    // the same pixels as its full screenshot there.
    const QSizeF points = dense.frame.size();
    for (const QRectF &area : {QRectF(points.width() / 2 - 41, points.height() / 2 - 27, 83, 61),
             QRectF(points.width() - 151, points.height() - 97, 151, 97)}) {
        const CaptureTarget target {*dense.id, area};
        auto shot = awaitTask(CaptureEngine::screenshot(*services.screens, target));
        ASSERT_TRUE(shot) << shot.error().description().toStdString();
        auto resolved = CaptureEngine::resolve(*services.screens, target);
        ASSERT_TRUE(resolved);
        QRect pixels = CaptureEngine::pixelRect(*resolved, area).translated(-dense.pixelGeometry.topLeft());
        ASSERT_EQ(shot->image.size(), pixels.size());
        pixels.moveRight(std::min(pixels.right(), dense.pixelGeometry.width() - 1));
        pixels.moveBottom(std::min(pixels.bottom(), dense.pixelGeometry.height() - 1));
        EXPECT_EQ(shot->image, denseShot->image.copy(pixels)) << "at " << area.x() << "," << area.y();
    }

    // The other screen comes in the portal's picture at the denser one's
    // density: its own size, every colour in place, edges softer.
    auto plainShot = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*plain.id, std::nullopt}));
    ASSERT_TRUE(plainShot) << plainShot.error().description().toStdString();
    ASSERT_EQ(plainShot->image.size(), plain.pixelGeometry.size());
    EXPECT_DOUBLE_EQ(plainShot->scale, plain.scale);
    const QPoint plainMeeting = meeting(plain);
    expectQuadrantsAt(plainShot->image, plainMeeting.x(), plainMeeting.y(), softness(plain) + 2);
    EXPECT_TRUE(nearColour(plainShot->image.pixel(1, 1), topLeft, 2));
    const QPoint plainCorner = plainShot->image.rect().bottomRight() - QPoint(1, 1);
    EXPECT_TRUE(nearColour(plainShot->image.pixel(plainCorner), bottomRight, 2));
}

TEST_F(WaylandMixedScales, ADragOnEachScreenGivesItsPixels)
{
    for (const DisplayInfo *display : {&dense, &plain}) {
        SCOPED_TRACE(display->name.toStdString());
        std::unique_ptr<WindowManager> windowManager = WindowManager::create();
        SelectionOverlay overlay(*services.screens, *windowManager);
        QSignalSpy shown(&overlay, &SelectionOverlay::shown);
        PickRun run(overlay);
        ASSERT_TRUE(waitUntil([&] { return !shown.isEmpty(); }, 30000)) << "the overlay never showed";
        spin(1000);
        ASSERT_EQ(overlay.windows().size(), 2u);
        for (const QPointer<SelectionWindow> &selection : overlay.windows()) {
            ASSERT_TRUE(selection && selection->windowHandle());
            const DisplayInfo &meant = selection->displayID() == *dense.id ? dense : plain;
            EXPECT_EQ(selection->windowHandle()->screen()->name(), meant.name) << "an overlay went to another screen";
            EXPECT_EQ(selection->size(), meant.frame.size());
        }
        // Each screen shows its own quadrants under the overlay, dimmed, at
        // its own density: a picture drawn at the other's would show them
        // elsewhere. (The middle, where they meet, holds the overlay's hint.)
        for (const DisplayInfo *under : {&dense, &plain}) {
            auto seen = awaitTask(services.screens->grab(GrabRequest {under->pixelGeometry, {}, false}));
            ASSERT_TRUE(seen) << seen.error().description.toStdString();
            const int qx = seen->width() / 4, qy = seen->height() / 4;
            EXPECT_TRUE(nearColour(seen->pixel(qx, qy), dimmed(topLeft), 4)) << hex(seen->pixel(qx, qy));
            EXPECT_TRUE(nearColour(seen->pixel(3 * qx, qy), dimmed(topRight), 4)) << hex(seen->pixel(3 * qx, qy));
            EXPECT_TRUE(nearColour(seen->pixel(qx, 3 * qy), dimmed(bottomLeft), 4)) << hex(seen->pixel(qx, 3 * qy));
            EXPECT_TRUE(nearColour(seen->pixel(3 * qx, 3 * qy), dimmed(bottomRight), 4))
                << hex(seen->pixel(3 * qx, 3 * qy));
        }

        // Across the quadrants' meeting point, in the screen's points; the
        // pointer moves in the cast monitor's pixels.
        const QPointF centre(display->frame.width() / 2.0, display->frame.height() / 2.0);
        const QPointF from = centre - QPointF(50, 20), to = centre + QPointF(61, 41);
        const auto monitorPixel = [&](double v) { return QString::number(qRound(v * display->scale)); };
        ASSERT_TRUE(movePointer({"drag", monitorPixel(from.x()), monitorPixel(from.y()), monitorPixel(to.x()),
            monitorPixel(to.y()), display->primary ? "0" : "1"}));
        ASSERT_TRUE(waitUntil([&] { return run.answered(); }, 10000));
        ASSERT_TRUE(run.answer());
        const CaptureTarget target = *run.answer();
        EXPECT_EQ(target.displayID, *display->id);
        ASSERT_TRUE(target.rect);
        const QRectF dragged = *target.rect;
        EXPECT_NEAR(dragged.left(), from.x(), 2);
        EXPECT_NEAR(dragged.top(), from.y(), 2);
        EXPECT_NEAR(dragged.right(), to.x(), 2);
        EXPECT_NEAR(dragged.bottom(), to.y(), 2);
        spin(300);

        auto area = awaitTask(CaptureEngine::screenshot(*services.screens, target));
        ASSERT_TRUE(area) << area.error().description().toStdString();
        auto resolved = CaptureEngine::resolve(*services.screens, target);
        ASSERT_TRUE(resolved);
        const QRect pixels = CaptureEngine::pixelRect(*resolved, dragged).translated(-display->pixelGeometry.topLeft());
        ASSERT_EQ(area->image.size(), pixels.size());
        EXPECT_NEAR(pixels.width(), dragged.width() * display->scale, 1);
        const QPoint at = meeting(*display) - pixels.topLeft();
        if (display == &dense) {
            expectQuadrantsAt(area->image, at.x(), at.y(), softness(dense));
            auto full
                = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*dense.id, std::nullopt}));
            ASSERT_TRUE(full);
            EXPECT_EQ(area->image, full->image.copy(pixels)) << "not exactly the denser screen's pixels there";
        } else {
            // Resampled from the portal's denser picture.
            expectQuadrantsAt(area->image, at.x(), at.y(), softness(plain) + 2);
        }
    }
}

TEST_F(WaylandMixedScales, EachScreensRecordingIsAtItsOwnDensity)
{
    for (const char *tool : {"ffprobe", "ffmpeg"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << "needs " << tool;
    QTemporaryDir out;
    for (const auto &[display, monitor] : {std::pair {&dense, denseMonitor}, std::pair {&plain, plainMonitor}}) {
        SCOPED_TRACE(monitor.toStdString());
        // 320×240 points across the point where the quadrants meet, 100 by
        // 80 into the area; areas are in the screen's own points.
        const QPointF centre(display->frame.width() / 2.0, display->frame.height() / 2.0);
        const QRectF area(centre - QPointF(100, 80), QSizeF(320, 240));
        const QString path = out.filePath(monitor + ".mp4");
        ASSERT_EQ(record(*display, area, monitor, path), "");
        const CaptureTarget target {*display->id, area};
        auto resolved = CaptureEngine::resolve(*services.screens, target);
        ASSERT_TRUE(resolved);
        const QSize size = ScreenRecorder::segmentGeometry(*resolved, target).pixels.size();
        EXPECT_NEAR(size.width(), 320 * display->scale, 2);
        const TestSupport::RecordingProbe probe = TestSupport::probeRecording(path);
        EXPECT_EQ(probe.videoSize, size);
        EXPECT_GT(probe.videoDuration, 1.0);
        const QImage frame = lastFrameOf(path, size);
        ASSERT_FALSE(frame.isNull());
        const int x = qRound(100 * display->scale), y = qRound(80 * display->scale);
        // 4:2:0 video: colours near, edges soft.
        EXPECT_TRUE(nearColour(frame.pixel(x - 6, y - 6), topLeft, 12)) << hex(frame.pixel(x - 6, y - 6));
        EXPECT_TRUE(nearColour(frame.pixel(x + 6, y - 6), topRight, 12)) << hex(frame.pixel(x + 6, y - 6));
        EXPECT_TRUE(nearColour(frame.pixel(x - 6, y + 6), bottomLeft, 12)) << hex(frame.pixel(x - 6, y + 6));
        EXPECT_TRUE(nearColour(frame.pixel(x + 6, y + 6), bottomRight, 12)) << hex(frame.pixel(x + 6, y + 6));
        EXPECT_TRUE(nearColour(frame.pixel(size.width() - 4, size.height() - 4), bottomRight, 12));
    }
}
