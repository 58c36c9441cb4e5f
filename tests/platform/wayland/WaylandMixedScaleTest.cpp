// Two monitors of different scales on headless mutter
// (tests/support/on-wayland --dual --scale=2,1 with VELUNTA_WAYLAND_SCALES=2,1):
// the first, 1920×1080 pixels at scale 2, is a 960×540 logical screen; the
// second, 1280×1024 at scale 1, lies beside it. Each screen keeps its own
// density: the screenshot portal's picture comes at the larger one, so the
// dense screen's screenshots, drags and recordings are its very pixels, the
// other's screenshots are resampled to its own size, and its recordings
// (a cast of its monitor alone) are its pixels again.
#include "capture/CaptureEngine.h"
#include "feedback/PickRun.h"
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

bool movePointer(const QStringList &arguments)
{
    QProcess pointer;
    pointer.setProcessChannelMode(QProcess::ForwardedChannels);
    pointer.start("/usr/bin/python3",
        QStringList {qEnvironmentVariable("VELUNTA_SOURCE_DIR") + "/tests/support/portal/pointer.py"} + arguments);
    if (!waitUntil([&] { return pointer.state() == QProcess::NotRunning; }, 30000))
        return false;
    return pointer.exitStatus() == QProcess::NormalExit && pointer.exitCode() == 0;
}

std::string hex(QRgb pixel)
{
    return QColor(pixel).name().toStdString();
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
        if (!QGuiApplication::platformName().startsWith("wayland") || QGuiApplication::screens().size() < 2
            || qEnvironmentVariable("VELUNTA_WAYLAND_SCALES") != QLatin1String("2,1"))
            GTEST_SKIP() << "needs two Wayland screens of scales 2 and 1 (tests/support/on-wayland --dual "
                            "--scale=2,1, VELUNTA_WAYLAND_SCALES=2,1)";
        services = PlatformServices::create();
        const std::vector<DisplayInfo> displays = services.screens->displays();
        ASSERT_EQ(displays.size(), 2u);
        for (const DisplayInfo &display : displays)
            (display.primary ? dense : plain) = display;
        ASSERT_TRUE(dense.id && plain.id);
        showOn(denseWindow, dense);
        showOn(plainWindow, plain);
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
    DisplayInfo dense, plain;
    CountedQuadrants denseWindow, plainWindow;
};

} // namespace

TEST_F(WaylandMixedScales, EachScreenHasItsOwnDensityAndTheirPixelsDoNotOverlap)
{
    EXPECT_DOUBLE_EQ(dense.scale, 2.0);
    EXPECT_EQ(dense.frame, QRect(0, 0, 960, 540));
    EXPECT_EQ(dense.pixelGeometry, QRect(0, 0, 1920, 1080));
    EXPECT_DOUBLE_EQ(plain.scale, 1.0);
    EXPECT_EQ(plain.frame, QRect(960, 0, 1280, 1024));
    // Placed at its logical place times the larger density, so that it
    // starts where the dense screen's pixels end.
    EXPECT_EQ(plain.pixelGeometry, QRect(1920, 0, 1280, 1024));
}

TEST_F(WaylandMixedScales, ScreenshotsAreEachScreensSizeAndTheDenseScreensAreItsVeryPixels)
{
    auto denseShot = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*dense.id, std::nullopt}));
    ASSERT_TRUE(denseShot) << denseShot.error().description().toStdString();
    ASSERT_EQ(denseShot->image.size(), QSize(1920, 1080));
    EXPECT_DOUBLE_EQ(denseShot->scale, 2.0);
    // Sharp to the pixel where the quadrants meet: copied, not scaled.
    expectQuadrantsAt(denseShot->image, 960, 540, 0);
    EXPECT_TRUE(nearColour(denseShot->image.pixel(0, 0), topLeft, 2));
    EXPECT_TRUE(nearColour(denseShot->image.pixel(1919, 1079), bottomRight, 2));

    // Odd places and sizes on the dense screen: the same pixels as the full
    // screenshot there.
    for (const QRectF &area : {QRectF(479 - 41, 270 - 27, 83, 61), QRectF(960 - 151, 540 - 97, 151, 97)}) {
        const CaptureTarget target {*dense.id, area};
        auto shot = awaitTask(CaptureEngine::screenshot(*services.screens, target));
        ASSERT_TRUE(shot) << shot.error().description().toStdString();
        auto resolved = CaptureEngine::resolve(*services.screens, target);
        ASSERT_TRUE(resolved);
        QRect pixels = CaptureEngine::pixelRect(*resolved, area);
        ASSERT_EQ(shot->image.size(), pixels.size());
        pixels.moveRight(std::min(pixels.right(), dense.pixelGeometry.right()));
        pixels.moveBottom(std::min(pixels.bottom(), dense.pixelGeometry.bottom()));
        EXPECT_EQ(shot->image, denseShot->image.copy(pixels)) << "at " << area.x() << "," << area.y();
    }

    // The other screen comes in the portal's picture at twice its density:
    // its own size, every colour in place, edges soft by a pixel.
    auto plainShot = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*plain.id, std::nullopt}));
    ASSERT_TRUE(plainShot) << plainShot.error().description().toStdString();
    ASSERT_EQ(plainShot->image.size(), QSize(1280, 1024));
    EXPECT_DOUBLE_EQ(plainShot->scale, 1.0);
    expectQuadrantsAt(plainShot->image, 640, 512, 2);
    EXPECT_TRUE(nearColour(plainShot->image.pixel(0, 0), topLeft, 2));
    EXPECT_TRUE(nearColour(plainShot->image.pixel(1279, 1023), bottomRight, 2));
}

TEST_F(WaylandMixedScales, ADragOnTheDenseScreenGivesItsPixels)
{
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

    // The pointer moves in the cast monitor's pixels.
    const QPointF from(430, 250), to(541, 311);
    ASSERT_TRUE(movePointer({"drag", QString::number(from.x() * 2), QString::number(from.y() * 2),
        QString::number(to.x() * 2), QString::number(to.y() * 2), "0"}));
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }, 10000));
    ASSERT_TRUE(run.answer());
    const CaptureTarget target = *run.answer();
    EXPECT_EQ(target.displayID, *dense.id);
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
    const QRect pixels = CaptureEngine::pixelRect(*resolved, dragged);
    ASSERT_EQ(area->image.size(), pixels.size());
    EXPECT_NEAR(pixels.width(), dragged.width() * 2, 1);
    expectQuadrantsAt(area->image, 960 - pixels.x(), 540 - pixels.y(), 0);
    auto full = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*dense.id, std::nullopt}));
    ASSERT_TRUE(full);
    EXPECT_EQ(area->image, full->image.copy(pixels)) << "not exactly the dense screen's pixels there";
}

TEST_F(WaylandMixedScales, EachScreensRecordingIsAtItsOwnDensity)
{
    for (const char *tool : {"ffprobe", "ffmpeg"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << "needs " << tool;
    QTemporaryDir out;
    struct Case {
        const DisplayInfo *display;
        QString monitor;
        QSize size;
    };
    // 320×240 points across the point where the quadrants meet, 100 by 80
    // into the area.
    for (const Case &c : {Case {&dense, "Meta-0", QSize(640, 480)}, Case {&plain, "Meta-1", QSize(320, 240)}}) {
        SCOPED_TRACE(c.monitor.toStdString());
        // Areas are in the screen's own points.
        const QPointF centre(c.display->frame.width() / 2.0, c.display->frame.height() / 2.0);
        const QRectF area(centre - QPointF(100, 80), QSizeF(320, 240));
        const QString path = out.filePath(c.monitor + ".mp4");
        ASSERT_EQ(record(*c.display, area, c.monitor, path), "");
        const TestSupport::RecordingProbe probe = TestSupport::probeRecording(path);
        EXPECT_EQ(probe.videoSize, c.size);
        EXPECT_GT(probe.videoDuration, 1.0);
        const QImage frame = lastFrameOf(path, c.size);
        ASSERT_FALSE(frame.isNull());
        const int density = c.size.width() / 320;
        const int x = 100 * density, y = 80 * density;
        // 4:2:0 video: colours near, edges soft.
        EXPECT_TRUE(nearColour(frame.pixel(x - 6, y - 6), topLeft, 12)) << hex(frame.pixel(x - 6, y - 6));
        EXPECT_TRUE(nearColour(frame.pixel(x + 6, y - 6), topRight, 12)) << hex(frame.pixel(x + 6, y - 6));
        EXPECT_TRUE(nearColour(frame.pixel(x - 6, y + 6), bottomLeft, 12)) << hex(frame.pixel(x - 6, y + 6));
        EXPECT_TRUE(nearColour(frame.pixel(x + 6, y + 6), bottomRight, 12)) << hex(frame.pixel(x + 6, y + 6));
        EXPECT_TRUE(nearColour(frame.pixel(c.size.width() - 4, c.size.height() - 4), bottomRight, 12));
    }
}
