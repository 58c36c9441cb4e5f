// The recording bar and ring on a real X server, driven with xdotool: one
// click on a button works without activating Velunta, screenshots never show
// either of them, clicks pass through the ring, and only a whole-display bar
// can be dragged.
#include "capture/CaptureEngine.h"
#include "feedback/OverlayX11.h"
#include "feedback/RecordingOverlays.h"
#include "platform/PlatformServices.h"
#include "platform/WindowManager.h"
#include "support/AwaitTask.h"
#include "support/ColouredWindow.h"
#include "support/DesktopGuards.h"
#include "support/EventLoopWait.h"
#include "support/TestSupport.h"
#include "theme/Theme.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QRegularExpression>
#include <QScreen>
#include <QThread>
#include <gtest/gtest.h>

namespace {

using OverlayX11::activeWindowByXprop;
using OverlayX11::services;
using OverlayX11::windowManager;
using OverlayX11::xdotool;
using TestSupport::ColouredWindow;
using TestSupport::nearColour;
using TestSupport::spin;
using TestSupport::waitUntil;

void click(QPoint at)
{
    // No --sync: it waits for a motion that never comes when the pointer is
    // already there.
    ASSERT_EQ(xdotool({"mousemove", QString::number(at.x()), QString::number(at.y())}), 0);
    spin(50);
    ASSERT_EQ(xdotool({"click", "1"}), 0);
}

// What the X server shows now, overlays included.
QImage onScreen(const QRect &area)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

class RecordingChromeX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        ASSERT_EQ(services().backend, QStringLiteral("x11"));
        for (const DisplayInfo &candidate : services().screens->displays()) {
            if (candidate.id && (candidate.primary || !display.id))
                display = candidate;
        }
        ASSERT_TRUE(display.id);
        overlays = std::make_unique<RecordingOverlays>(*services().screens, &windowManager());
    }

    void TearDown() override
    {
        xdotool({"mouseup", "1"});
        overlays.reset();
        if (other.state() != QProcess::NotRunning) {
            other.kill();
            other.waitForFinished(3000);
        }
        compositor.stop();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        spin(100);
    }

    // Another program's window, active, so that a stolen activation shows.
    quint32 activateOtherProgram()
    {
        other.start("xmessage", {"-geometry", "300x120+40+40", "-name", "chrome-test-other", "another program"});
        EXPECT_TRUE(other.waitForStarted(5000));
        QString id;
        waitUntil([&] {
            const auto found
                = TestSupport::run("xdotool", {"search", "--onlyvisible", "--classname", "chrome-test-other"},
                    QProcessEnvironment::systemEnvironment(), 3000);
            id = QString::fromUtf8(found.out).split('\n', Qt::SkipEmptyParts).value(0);
            return !id.isEmpty();
        });
        EXPECT_FALSE(id.isEmpty()) << "xmessage never mapped a window";
        xdotool({"windowactivate", "--sync", id});
        waitUntil([&] { return activeWindowByXprop() == id.toUInt(); });
        return activeWindowByXprop();
    }

    void startCompositor()
    {
        ASSERT_TRUE(compositor.start([] { return windowManager().hasCompositingManager(); }));
    }

    void showAndWait(const CaptureTarget &target)
    {
        overlays->show(
            target, [this] { ++pauses; },
            [this] {
                ++stops;
                overlays->hide();
            });
        ControlsBackground *bar = overlays->controls().panel();
        ASSERT_TRUE(bar);
        ASSERT_TRUE(waitUntil([&] {
            return bar->windowHandle()->isExposed()
                && (!overlays->frame().window() || overlays->frame().window()->windowHandle()->isExposed());
        }));
        spin(300);
    }

    QRect barGeometry() const { return overlays->controls().panel()->geometry(); }
    QPoint centreOf(QWidget *child) const { return child->mapToGlobal(child->rect().center()); }

    DisplayInfo display;
    std::unique_ptr<RecordingOverlays> overlays;
    QProcess other;
    TestSupport::CompositingManagerRun compositor;
    int pauses = 0;
    int stops = 0;
};

} // namespace

TEST_F(RecordingChromeX11, OneClickOnPauseCallsBackOnceWithoutActivatingVelunta)
{
    const quint32 before = activateOtherProgram();
    ASSERT_NE(before, 0u);
    showAndWait(CaptureTarget {*display.id, QRectF(600, 200, 400, 300)});
    click(centreOf(overlays->controls().pauseButton()));
    ASSERT_TRUE(waitUntil([&] { return pauses == 1; }));
    spin(300);
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(activeWindowByXprop(), before);

    // The controller answers with the paused look; the next click continues.
    overlays->setPaused(true);
    click(centreOf(overlays->controls().pauseButton()));
    ASSERT_TRUE(waitUntil([&] { return pauses == 2; }));
    EXPECT_EQ(activeWindowByXprop(), before);
}

TEST_F(RecordingChromeX11, OneClickOnStopCallsBackOnceAndTheBarGoes)
{
    const quint32 before = activateOtherProgram();
    showAndWait(CaptureTarget {*display.id, std::nullopt});
    click(centreOf(overlays->controls().stopButton()));
    ASSERT_TRUE(waitUntil([&] { return stops == 1; }));
    spin(300);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(pauses, 0);
    EXPECT_FALSE(overlays->controls().panel());
    EXPECT_EQ(activeWindowByXprop(), before);
}

TEST_F(RecordingChromeX11, ScreenshotsNeverShowTheBarOrTheRing)
{
    const CaptureTarget whole {*display.id, std::nullopt};
    auto before = awaitTask(CaptureEngine::screenshot(*services().screens, whole));
    ASSERT_TRUE(before);

    const QRectF area(500, 300, 401, 301);
    showAndWait(CaptureTarget {*display.id, area});
    // They are on screen: the ring's red and the bar's stop button.
    const QRect ring = overlays->frame().window()->geometry();
    const QImage shown = onScreen(display.frame);
    EXPECT_TRUE(nearColour(shown.pixel(ring.topLeft() - display.frame.topLeft()), SystemColors::red, 6));
    EXPECT_TRUE(nearColour(shown.pixel(ring.center().x(), ring.bottom() - display.frame.top()), SystemColors::red, 6));
    EXPECT_TRUE(
        nearColour(shown.pixel(centreOf(overlays->controls().stopButton()) + QPoint(0, 12) - display.frame.topLeft()),
            Theme::hudRec, 6));

    auto during = awaitTask(CaptureEngine::screenshot(*services().screens, whole));
    ASSERT_TRUE(during);
    EXPECT_EQ(during->image, before->image) << "the bar or the ring is in the screenshot";

    overlays->setPaused(true);
    spin(200);
    EXPECT_TRUE(nearColour(onScreen(ring).pixel(0, 0), SystemColors::orange, 6));
    auto paused = awaitTask(CaptureEngine::screenshot(*services().screens, CaptureTarget {*display.id, area}));
    ASSERT_TRUE(paused);
    EXPECT_EQ(paused->image, before->image.copy(area.toRect()));

    if (const QString folder = qEnvironmentVariable("CHROME_SNAPSHOT_DIR"); !folder.isEmpty()) {
        QDir().mkpath(folder);
        const QRect around = ring.united(barGeometry()).adjusted(-20, -20, 20, 20);
        onScreen(around).save(folder + "/ring-and-bar-paused.png");
        onScreen(barGeometry()).save(folder + "/bar-paused.png");
        overlays->setPaused(false);
        spin(200);
        onScreen(barGeometry()).save(folder + "/bar-running.png");
    }
}

TEST_F(RecordingChromeX11, ClicksPassThroughTheRing)
{
    ColouredWindow below;
    below.setFlags(Qt::Window | Qt::FramelessWindowHint);
    below.setGeometry(QRect(display.frame.topLeft() + QPoint(400, 150), QSize(700, 500)));
    below.show();
    ASSERT_TRUE(waitUntil([&] { return below.isExposed(); }));
    spin(300);

    const QRectF area(500, 250, 300, 200);
    showAndWait(CaptureTarget {*display.id, area});
    const QRect ring = overlays->frame().window()->geometry();
    click(ring.center());
    ASSERT_TRUE(waitUntil([&] { return below.presses == 1; })) << "a click inside the ring did not arrive";
    // The border itself lets clicks through as well.
    click(QPoint(ring.center().x(), ring.top()));
    ASSERT_TRUE(waitUntil([&] { return below.presses == 2; })) << "a click on the ring did not arrive";
}

TEST_F(RecordingChromeX11, OnlyAWholeDisplayBarCanBeDragged)
{
    const auto drag = [](QPoint from, QPoint by) {
        ASSERT_EQ(xdotool({"mousemove", "--sync", QString::number(from.x()), QString::number(from.y())}), 0);
        ASSERT_EQ(xdotool({"mousedown", "1"}), 0);
        for (int step = 1; step <= 4; ++step) {
            const QPoint at = from + by * step / 4;
            ASSERT_EQ(xdotool({"mousemove", "--sync", QString::number(at.x()), QString::number(at.y())}), 0);
            spin(30);
        }
        ASSERT_EQ(xdotool({"mouseup", "1"}), 0);
        spin(200);
    };

    showAndWait(CaptureTarget {*display.id, std::nullopt});
    QRect start = barGeometry();
    drag(start.topLeft() + QPoint(6, 24), QPoint(-300, -200));
    EXPECT_TRUE(waitUntil([&] { return barGeometry().topLeft() == start.topLeft() + QPoint(-300, -200); }))
        << "the bar is at " << barGeometry().x() << "," << barGeometry().y();
    EXPECT_EQ(pauses + stops, 0);

    showAndWait(CaptureTarget {*display.id, QRectF(600, 200, 400, 300)});
    start = barGeometry();
    drag(start.topLeft() + QPoint(6, 24), QPoint(-300, -200));
    EXPECT_EQ(barGeometry(), start);
}

TEST_F(RecordingChromeX11, WithACompositingManagerTheRingStaysClickThroughAndOutOfScreenshots)
{
    startCompositor();
    ColouredWindow below;
    below.setFlags(Qt::Window | Qt::FramelessWindowHint);
    below.setGeometry(QRect(display.frame.topLeft() + QPoint(400, 150), QSize(700, 500)));
    below.show();
    ASSERT_TRUE(waitUntil([&] { return below.isExposed(); }));
    spin(300);
    const CaptureTarget target {*display.id, QRectF(500, 250, 300, 200)};
    auto before = awaitTask(CaptureEngine::screenshot(*services().screens, target));
    ASSERT_TRUE(before);

    showAndWait(target);
    EXPECT_TRUE(overlays->controls().panel()->testAttribute(Qt::WA_TranslucentBackground));
    const QRect ring = overlays->frame().window()->geometry();
    const QImage shown = onScreen(ring);
    EXPECT_TRUE(nearColour(shown.pixel(0, 0), SystemColors::red, 6));
    // Inside the ring the window below shows through.
    EXPECT_TRUE(nearColour(shown.pixel(shown.rect().center()), QColor(20, 230, 40), 6));

    auto during = awaitTask(CaptureEngine::screenshot(*services().screens, target));
    ASSERT_TRUE(during);
    EXPECT_EQ(during->image, before->image);
    click(ring.center());
    EXPECT_TRUE(waitUntil([&] { return below.presses == 1; }));
}
