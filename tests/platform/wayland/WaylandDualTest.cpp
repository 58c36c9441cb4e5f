// Two monitors on headless mutter (tests/support/on-wayland --dual): the
// area overlay puts one window on each screen, showing that screen; a drag
// on the second screen, a screenshot of the screen the pointer was last on,
// and a recording of an area of the second screen (the test portal casting
// that monitor) all give the second screen's own pixels, in this process and
// in the real program. Each monitor keeps its own consent to be cast.
#include "capture/CaptureEngine.h"
#include "core/Preferences.h"
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

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

using namespace WaylandDesktop;
using TestSupport::nearColour;

namespace {

// The quadrant colour as the overlay shows it, under its dimming.
QColor dimmed(const QColor &colour)
{
    const double keep = 1.0 - SelectionGeometry::dimmingOpacity;
    return QColor(qRound(colour.red() * keep), qRound(colour.green() * keep), qRound(colour.blue() * keep));
}

std::string hex(QRgb pixel)
{
    return QColor(pixel).name().toStdString();
}

QString number(double value)
{
    return QString::number(value);
}

// The four quadrants meet at (X, Y) of IMAGE, and its corners are theirs.
void expectQuadrantsAt(const QImage &image, int x, int y, int tolerance = 2)
{
    EXPECT_TRUE(nearColour(image.pixel(x - 1, y - 1), topLeft, tolerance));
    EXPECT_TRUE(nearColour(image.pixel(x, y - 1), topRight, tolerance));
    EXPECT_TRUE(nearColour(image.pixel(x - 1, y), bottomLeft, tolerance));
    EXPECT_TRUE(nearColour(image.pixel(x, y), bottomRight, tolerance));
}

// A recording of 320×240 points whose quadrants meet 100 by 80 into it.
// The last of a frame a second, as RGB; encoded in 4:2:0, so colours are
// near and edges soft: look a few pixels off.
void expectQuadrantsRecorded(const QString &path)
{
    const TestSupport::RecordingProbe probe = TestSupport::probeRecording(path);
    EXPECT_EQ(probe.videoSize, QSize(320, 240));
    EXPECT_GT(probe.videoDuration, 1.0);
    QProcess decode;
    decode.start("ffmpeg",
        {"-v", "error", "-i", path, "-map", "0:v:0", "-vf", "fps=1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ASSERT_TRUE(decode.waitForFinished(60000));
    const QByteArray raw = decode.readAllStandardOutput();
    const qsizetype bytes = 320 * 240 * 3;
    ASSERT_GE(raw.size(), bytes) << decode.readAllStandardError().toStdString();
    const QImage frame(reinterpret_cast<const uchar *>(raw.constData()) + (raw.size() / bytes - 1) * bytes, 320, 240,
        320 * 3, QImage::Format_RGB888);
    EXPECT_TRUE(nearColour(frame.pixel(90, 70), topLeft, 12));
    EXPECT_TRUE(nearColour(frame.pixel(110, 70), topRight, 12));
    EXPECT_TRUE(nearColour(frame.pixel(90, 90), bottomLeft, 12));
    EXPECT_TRUE(nearColour(frame.pixel(110, 90), bottomRight, 12));
    EXPECT_TRUE(nearColour(frame.pixel(5, 5), topLeft, 12));
    EXPECT_TRUE(nearColour(frame.pixel(314, 234), bottomRight, 12));
}

class WaylandDualScreens : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!onWayland(2))
            GTEST_SKIP() << "needs the two-screen Wayland test desktop (tests/support/on-wayland --dual)";
        services = PlatformServices::create();
        const std::vector<DisplayInfo> displays = services.screens->displays();
        ASSERT_EQ(displays.size(), 2u);
        for (const DisplayInfo &display : displays)
            (display.primary ? first : second) = display;
        ASSERT_TRUE(first.id && second.id);
        ASSERT_EQ(second.pixelGeometry, QRect(1920, 0, 1280, 1024)) << "the second virtual monitor, beside the first";
    }

    // The quadrant window, full screen on the second screen. Qt asks for the
    // output of the window's screen, which its geometry decides when the
    // window is made: the screen alone is not enough.
    void showOnSecond()
    {
        for (QScreen *screen : QGuiApplication::screens()) {
            if (screen->name() == second.name) {
                window.setScreen(screen);
                window.setGeometry(screen->geometry());
            }
        }
        ASSERT_TRUE(showFullScreen(window));
        // Where the compositor put it (the surface's enter), not only where
        // it was asked to go.
        ASSERT_EQ(window.screen()->name(), second.name);
        ASSERT_EQ(window.size(), second.frame.size());
    }

    // 320×240 points of the second screen across the quadrants' meeting
    // point, 100 by 80 into it.
    QRectF areaOnSecond() const
    {
        const QPointF centre(second.frame.width() / 2.0, second.frame.height() / 2.0);
        return QRectF(centre - QPointF(100, 80), QSizeF(320, 240));
    }

    // Records AREA of the screen DISPLAY through FRAMES into PATH for a
    // while; the refusal's text, or empty.
    std::string record(FrameSource &frames, DisplayId display, const QRectF &area, const QString &path)
    {
        NullAudioSource audio;
        LiveSegmentCapture service(frames, audio);
        ScreenRecorder recorder(*services.screens, service);
        auto started = awaitTask(recorder.start({display, area}, path, {false, false}));
        if (!started)
            return started.error().description().toStdString();
        spin(2000);
        auto stopped = awaitTask(recorder.stop());
        if (!stopped)
            return stopped.error().description().toStdString();
        return *stopped == path ? std::string() : "saved elsewhere: " + stopped->toStdString();
    }

    PlatformServices services;
    DisplayInfo first, second;
    QuadrantWindow window;
};

} // namespace

TEST_F(WaylandDualScreens, TheOverlayCoversEachScreenWithItsOwnPictureAndADragOnTheSecondGivesItsPixels)
{
    showOnSecond();
    std::unique_ptr<WindowManager> windowManager = WindowManager::create();
    SelectionOverlay overlay(*services.screens, *windowManager);
    QSignalSpy shown(&overlay, &SelectionOverlay::shown);
    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return !shown.isEmpty(); }, 30000)) << "the overlay never showed";
    spin(1000);

    ASSERT_EQ(overlay.windows().size(), 2u);
    for (const QPointer<SelectionWindow> &selection : overlay.windows()) {
        ASSERT_TRUE(selection);
        const DisplayInfo &meant = selection->displayID() == *second.id ? second : first;
        ASSERT_TRUE(selection->windowHandle());
        EXPECT_EQ(selection->windowHandle()->screen()->name(), meant.name) << "an overlay went to another screen";
        EXPECT_EQ(selection->size(), meant.frame.size());
    }

    // What the second monitor shows now, overlay included: its own quadrants,
    // dimmed (an overlay of the first screen there would show black; none
    // there would leave them bright).
    auto seen = awaitTask(services.screens->grab(GrabRequest {second.pixelGeometry, {}, false}));
    ASSERT_TRUE(seen) << seen.error().description.toStdString();
    const QSize size = second.pixelGeometry.size();
    ASSERT_EQ(seen->size(), size);
    const int qx = size.width() / 4, qy = size.height() / 4;
    EXPECT_TRUE(nearColour(seen->pixel(qx, qy), dimmed(topLeft), 4)) << hex(seen->pixel(qx, qy));
    EXPECT_TRUE(nearColour(seen->pixel(3 * qx, qy), dimmed(topRight), 4)) << hex(seen->pixel(3 * qx, qy));
    EXPECT_TRUE(nearColour(seen->pixel(qx, 3 * qy), dimmed(bottomLeft), 4)) << hex(seen->pixel(qx, 3 * qy));
    EXPECT_TRUE(nearColour(seen->pixel(3 * qx, 3 * qy), dimmed(bottomRight), 4)) << hex(seen->pixel(3 * qx, 3 * qy));

    // Across the quadrants' meeting point, in the second monitor's pixels.
    const QPointF centre(second.frame.width() / 2.0, second.frame.height() / 2.0);
    const QPointF from = centre - QPointF(50, 40), to = centre + QPointF(70, 30);
    ASSERT_TRUE(movePointer({"drag", number(from.x()), number(from.y()), number(to.x()), number(to.y()), "1"}));
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }, 10000));
    ASSERT_TRUE(run.answer());
    const CaptureTarget target = *run.answer();
    EXPECT_EQ(target.displayID, *second.id);
    ASSERT_TRUE(target.rect);
    const QRectF dragged = *target.rect;
    EXPECT_NEAR(dragged.left(), from.x(), 3);
    EXPECT_NEAR(dragged.top(), from.y(), 3);
    EXPECT_NEAR(dragged.right(), to.x(), 3);
    EXPECT_NEAR(dragged.bottom(), to.y(), 3);
    spin(300);

    auto area = awaitTask(CaptureEngine::screenshot(*services.screens, target));
    ASSERT_TRUE(area) << area.error().description().toStdString();
    ASSERT_EQ(area->image.size(), dragged.size().toSize());
    expectQuadrantsAt(area->image, qRound(centre.x() - dragged.left()), qRound(centre.y() - dragged.top()));
    auto full = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*second.id, std::nullopt}));
    ASSERT_TRUE(full);
    auto resolved = CaptureEngine::resolve(*services.screens, target);
    ASSERT_TRUE(resolved);
    const QRect pixels = CaptureEngine::pixelRect(*resolved, dragged).translated(-second.pixelGeometry.topLeft());
    EXPECT_EQ(area->image, full->image.copy(pixels)) << "not exactly the second screen's pixels there";
}

TEST_F(WaylandDualScreens, TheScreenUnderThePointerIsTheOneItWasLastSeenOn)
{
    // Before the pointer has been on any of our windows: the primary screen.
    const auto before = CaptureEngine::displayUnderMouse(*services.screens);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->displayID, *first.id);

    showOnSecond();
    ASSERT_TRUE(movePointer({"move", "300", "200", "1"}));
    ASSERT_TRUE(waitUntil([&] { return second.frame.contains(services.screens->pointerPosition()); }, 5000))
        << "the pointer's enter on the second screen was not seen";
    const auto under = CaptureEngine::displayUnderMouse(*services.screens);
    ASSERT_TRUE(under);
    EXPECT_EQ(under->displayID, *second.id);
    EXPECT_FALSE(under->rect);

    auto shot = awaitTask(CaptureEngine::screenshot(*services.screens, *under));
    ASSERT_TRUE(shot) << shot.error().description().toStdString();
    const QSize size = second.pixelGeometry.size();
    ASSERT_EQ(shot->image.size(), size);
    expectQuadrantsAt(shot->image, size.width() / 2, size.height() / 2);
    EXPECT_TRUE(nearColour(shot->image.pixel(0, 0), topLeft, 2));
    EXPECT_TRUE(nearColour(shot->image.pixel(size.width() - 1, size.height() - 1), bottomRight, 2));

    // Off our windows, onto the bare first screen: no event reaches us, and
    // the last screen seen stays the answer.
    ASSERT_TRUE(movePointer({"move", "300", "200", "0"}));
    spin(300);
    const auto after = CaptureEngine::displayUnderMouse(*services.screens);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->displayID, *second.id);
}

TEST_F(WaylandDualScreens, AnAreaOfTheSecondScreenIsRecordedWhenThePortalCastsItsMonitor)
{
    if (const std::string tool = missingTool({"ffprobe", "ffmpeg"}); !tool.empty())
        GTEST_SKIP() << "needs " << tool;
    showOnSecond();
    QTemporaryDir out;
    NullAudioSource audio;
    PortalScreenCast cast(WaylandFrameSource::tokensIn(nullptr));
    WaylandFrameSource frames(&cast);
    const QRectF area = areaOnSecond();

    // The portal shares the first monitor: the area is not on it. Asked
    // without a token, the user's own pick is final: no second dialog.
    portal("ScreenCast.ChooseMonitor", {"'Meta-0'"});
    const uint dialogs = castDialogs();
    {
        LiveSegmentCapture service(frames, audio);
        ScreenRecorder recorder(*services.screens, service);
        auto refused = awaitTask(recorder.start({*second.id, area}, out.filePath("primeira.mp4"), {false, false}));
        ASSERT_FALSE(refused) << "an area of the second screen recorded from the first monitor";
        EXPECT_EQ(refused.error().description(), WaylandFrameSource::areaOutsideText());
        awaitTask(recorder.stop());
        EXPECT_FALSE(QFileInfo::exists(out.filePath("primeira.mp4")));
    }
    EXPECT_EQ(castDialogs(), dialogs + 1);

    // The next time the user picks the second monitor in the portal's
    // chooser: the first session's token is the first monitor's, and is not
    // offered for an area of the second.
    portal("ScreenCast.ChooseMonitor", {"'Meta-1'"});
    const QString path = out.filePath("segunda.mp4");
    {
        LiveSegmentCapture service(frames, audio);
        ScreenRecorder recorder(*services.screens, service);
        auto started = awaitTask(recorder.start({*second.id, area}, path, {false, false}));
        portal("ScreenCast.ChooseMonitor", {"''"});
        ASSERT_TRUE(started) << started.error().description().toStdString();
        spin(2500);
        auto stopped = awaitTask(recorder.stop());
        ASSERT_TRUE(stopped) << stopped.error().description().toStdString();
        EXPECT_EQ(*stopped, path);
    }
    EXPECT_EQ(castDialogs(), dialogs + 2);
    EXPECT_GT(TestSupport::probeRecording(path).videoDuration, 1.5);
    expectQuadrantsRecorded(path);
}

// Each monitor keeps its own consent: the first recording on a monitor
// asks the user (the test portal's chooser picks it), and later ones on
// either monitor bring that monitor back without a dialog, even when the
// chooser would now pick the other, and across a restart.
TEST_F(WaylandDualScreens, EachMonitorIsAskedForOnceAndThenRecordedWithoutADialog)
{
    if (const std::string tool = missingTool({"ffprobe", "ffmpeg"}); !tool.empty())
        GTEST_SKIP() << "needs " << tool;
    showOnSecond();
    QTemporaryDir out;
    const QString settings = out.filePath("Velunta.conf");
    const QRectF onFirst(100, 100, 320, 240);
    const uint dialogs = castDialogs();
    {
        Preferences preferences(settings);
        PortalScreenCast cast(WaylandFrameSource::tokensIn(&preferences));
        WaylandFrameSource frames(&cast);

        portal("ScreenCast.ChooseMonitor", {"'Meta-0'"});
        EXPECT_EQ(record(frames, *first.id, onFirst, out.filePath("1.mp4")), "");
        EXPECT_EQ(castDialogs(), dialogs + 1);

        portal("ScreenCast.ChooseMonitor", {"'Meta-1'"});
        EXPECT_EQ(record(frames, *second.id, areaOnSecond(), out.filePath("2.mp4")), "");
        EXPECT_EQ(castDialogs(), dialogs + 2);
        expectQuadrantsRecorded(out.filePath("2.mp4"));

        // From here the chooser would pick the wrong monitor each time.
        portal("ScreenCast.ChooseMonitor", {"'Meta-0'"});
        EXPECT_EQ(record(frames, *second.id, areaOnSecond(), out.filePath("2b.mp4")), "");
        expectQuadrantsRecorded(out.filePath("2b.mp4"));
        EXPECT_EQ(castDialogs(), dialogs + 2) << "the second monitor asked for again";
        EXPECT_EQ(preferences.screenCastRestoreTokens().size(), 2u);
    }
    {
        // After a restart.
        Preferences preferences(settings);
        PortalScreenCast cast(WaylandFrameSource::tokensIn(&preferences));
        WaylandFrameSource frames(&cast);
        portal("ScreenCast.ChooseMonitor", {"'Meta-1'"});
        EXPECT_EQ(record(frames, *first.id, onFirst, out.filePath("1b.mp4")), "");
        EXPECT_EQ(TestSupport::probeRecording(out.filePath("1b.mp4")).videoSize, QSize(320, 240));
        EXPECT_EQ(castDialogs(), dialogs + 2) << "the first monitor asked for again";
    }
    portal("ScreenCast.ChooseMonitor", {"''"});
    EXPECT_EQ(castSessionsAfterClosing(), 0u);
}

// A single token kept by an earlier version brings back the monitor it was
// given for. When that monitor does not hold the area, its session is
// closed and the chooser asked once; the token's successor stays that
// monitor's.
TEST_F(WaylandDualScreens, AnEarlierSingleTokenOfTheOtherMonitorLeadsToTheChooserOnce)
{
    if (const std::string tool = missingTool({"ffprobe", "ffmpeg"}); !tool.empty())
        GTEST_SKIP() << "needs " << tool;
    showOnSecond();
    QTemporaryDir out;

    // The consent an earlier version got, for the first monitor.
    portal("ScreenCast.ChooseMonitor", {"'Meta-0'"});
    auto given = std::make_shared<std::vector<Preferences::ScreenCastToken>>();
    {
        PortalScreenCast consent(
            {[given] { return *given; }, [given](const std::vector<Preferences::ScreenCastToken> &v) { *given = v; }});
        std::optional<Result<PortalScreenCast::Cast, PlatformError>> cast;
        consent.start(false, [&](Result<PortalScreenCast::Cast, PlatformError> result) { cast = std::move(result); });
        ASSERT_TRUE(waitUntil([&] { return cast.has_value(); }, 20000));
        ASSERT_TRUE(*cast) << cast->error().description.toStdString();
        ::close((*cast)->pipeWireFd);
        consent.close((*cast)->session);
        ASSERT_EQ(given->size(), 1u);
    }
    const QString settings = out.filePath("Velunta.conf");
    TestSupport::writeFile(settings, ("[General]\nscreenCastRestoreToken=" + given->front().token + "\n").toUtf8());

    Preferences preferences(settings);
    PortalScreenCast cast(WaylandFrameSource::tokensIn(&preferences));
    WaylandFrameSource frames(&cast);
    const uint dialogs = castDialogs();
    portal("ScreenCast.ChooseMonitor", {"'Meta-1'"});
    EXPECT_EQ(record(frames, *second.id, areaOnSecond(), out.filePath("2.mp4")), "");
    EXPECT_EQ(castDialogs(), dialogs + 1);
    expectQuadrantsRecorded(out.filePath("2.mp4"));
    EXPECT_EQ(castSessionsAfterClosing(), 0u) << "the restored session that missed the area is left open";

    EXPECT_EQ(record(frames, *first.id, QRectF(100, 100, 320, 240), out.filePath("1.mp4")), "");
    EXPECT_EQ(castDialogs(), dialogs + 1) << "the earlier consent was lost";
    portal("ScreenCast.ChooseMonitor", {"''"});
    for (const Preferences::ScreenCastToken &kept : preferences.screenCastRestoreTokens())
        EXPECT_FALSE(kept.monitor.isEmpty());
    EXPECT_EQ(preferences.screenCastRestoreTokens().size(), 2u);
}

// The real program: Alt+Shift+2 (the portal's Activated signal) and a drag
// on the second screen save exactly that part of it; Alt+Shift+1 then saves
// the second screen, where the pointer was last seen on Velunta's windows.
TEST_F(WaylandDualScreens, TheProgramSavesAnAreaDraggedOnTheSecondScreenAndThenThatScreen)
{
    showOnSecond();
    TestSupport::TempHome home;
    const QString saveFolder = home.path() + "/Capturas";
    ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(home.settingsFile(), runSettings(saveFolder)));
    const auto shots = [&] { return QDir(saveFolder).entryList({"Print *.png"}, QDir::Files, QDir::Name); };
    const auto load = [&](const QString &file) {
        // The name can show up a moment before the last bytes are written.
        QImage image;
        waitUntil([&] { return image.load(saveFolder + "/" + file); }, 5000);
        return image;
    };

    TestSupport::TrayApp app(home);
    ASSERT_TRUE(app.start());
    ASSERT_TRUE(programBound("'velunta-2', 'ALT+SHIFT+2'", 15000))
        << "Velunta did not bind its shortcuts: " << portal("Bound").toStdString();

    EXPECT_EQ(portal("Activate", {"velunta-2"}), "(uint32 1,)");
    // Until its overlay is up the drag would reach the quadrant window: wait
    // until the second screen shows the quadrants dimmed.
    const QPoint quarter(second.pixelGeometry.width() / 4, second.pixelGeometry.height() / 4);
    ASSERT_TRUE(waitUntil(
        [&] {
            auto seen = awaitTask(services.screens->grab(GrabRequest {second.pixelGeometry, {}, false}));
            return seen && nearColour(seen->pixel(quarter), dimmed(topLeft), 4);
        },
        30000))
        << "the program's overlay never showed the second screen there";
    spin(500);
    const QPointF centre(second.frame.width() / 2.0, second.frame.height() / 2.0);
    const QPointF from = centre - QPointF(60, 50), to = centre + QPointF(40, 70);
    ASSERT_TRUE(movePointer({"drag", number(from.x()), number(from.y()), number(to.x()), number(to.y()), "1"}));
    ASSERT_TRUE(waitUntil([&] { return shots().size() == 1; }, 30000)) << "no screenshot of the dragged area";
    const QImage area = load(shots().first());
    ASSERT_FALSE(area.isNull());
    EXPECT_NEAR(area.width(), 100, 3);
    EXPECT_NEAR(area.height(), 120, 3);
    // The quadrants meet about 60 by 50 into it (the drag's ends are where
    // the compositor delivered them, to within a pixel or two).
    EXPECT_TRUE(nearColour(area.pixel(3, 3), topLeft, 2));
    EXPECT_TRUE(nearColour(area.pixel(area.width() - 4, 3), topRight, 2));
    EXPECT_TRUE(nearColour(area.pixel(3, area.height() - 4), bottomLeft, 2));
    EXPECT_TRUE(nearColour(area.pixel(area.width() - 4, area.height() - 4), bottomRight, 2));

    spin(1100); // the next screenshot gets a name of its own second
    EXPECT_EQ(portal("Activate", {"velunta-1"}), "(uint32 1,)");
    ASSERT_TRUE(waitUntil([&] { return shots().size() == 2; }, 30000)) << "no screenshot from Alt+Shift+1";
    const QImage screen = load(shots().last());
    ASSERT_EQ(screen.size(), QSize(1280, 1024)) << "not the second screen";
    // Along the edges: the main window may sit in the middle.
    EXPECT_TRUE(nearColour(screen.pixel(10, 10), topLeft, 2));
    EXPECT_TRUE(nearColour(screen.pixel(1270, 10), topRight, 2));
    EXPECT_TRUE(nearColour(screen.pixel(10, 1014), bottomLeft, 2));
    EXPECT_TRUE(nearColour(screen.pixel(1270, 1014), bottomRight, 2));
}
