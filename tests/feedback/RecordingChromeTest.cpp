// The recording bar and ring without a real window system: where they go,
// what the clock shows, and how the controller's calls change them.
#include "feedback/RecordingOverlays.h"
#include "platform/WindowLevel.h"
#include "platform/WindowManager.h"
#include "support/FakeScreenSource.h"
#include "theme/Theme.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class FakeWindowManager : public WindowManager {
public:
    bool compositor = false;
    std::optional<NativeWindowId> activeWindow() const override { return std::nullopt; }
    void activate(NativeWindowId) override { }
    bool hasCompositingManager() const override { return compositor; }
};

// Names that match no QScreen, so the usable area is the display's frame.
DisplayInfo display(DisplayId id, QRect frame, bool primary = false)
{
    return DisplayInfo {id, QStringLiteral("FAKE%1").arg(id), frame, frame, 1.0, primary};
}

const QRectF visible(0, 0, 1440, 900);

} // namespace

TEST(BarFrame, WholeDisplayIsCentredTwentyFourPointsAboveTheBottom)
{
    EXPECT_EQ(RecordingControls::barFrame(std::nullopt, visible), QRectF(632, 900 - 24 - 48, 176, 48));
    // A second screen to the right, with a panel on top.
    EXPECT_EQ(RecordingControls::barFrame(std::nullopt, QRectF(1440, 30, 1280, 994)),
        QRectF(1440 + 640 - 88, 1024 - 24 - 48, 176, 48));
}

TEST(BarFrame, GoesBelowTheAreaThenAboveThenInside)
{
    // Room below: 8 points under the area.
    EXPECT_EQ(RecordingControls::barFrame(QRectF(98, 98, 405, 305), visible), QRectF(212.5, 411, 176, 48));
    // Exactly room below: the bar touches the bottom of the usable area.
    EXPECT_EQ(RecordingControls::barFrame(QRectF(100, 100, 400, 744), visible).y(), 852);
    // Touching the bottom: 8 points above.
    EXPECT_EQ(RecordingControls::barFrame(QRectF(100, 500, 400, 400), visible).y(), 500 - 8 - 48);
    // Reaching both top and bottom: inside, 8 points above the lower edge of
    // whichever ends higher.
    EXPECT_EQ(RecordingControls::barFrame(QRectF(100, -2, 400, 904), visible).y(), 900 - 8 - 48);
    EXPECT_EQ(RecordingControls::barFrame(QRectF(100, 10, 400, 870), QRectF(0, 40, 1440, 850)).y(), 880 - 8 - 48);
}

TEST(BarFrame, StaysEightPointsInsideTheSides)
{
    EXPECT_EQ(RecordingControls::barFrame(QRectF(-2, 100, 50, 50), visible).x(), 8);
    EXPECT_EQ(RecordingControls::barFrame(QRectF(1400, 100, 42, 50), visible).x(), 1440 - 184);
    // Narrower than the bar and its margins: the right-hand limit wins.
    EXPECT_EQ(RecordingControls::barFrame(QRectF(0, 0, 100, 50), QRectF(0, 0, 150, 900)).x(), 150 - 184);
    EXPECT_EQ(RecordingControls::barFrame(QRectF(1440 + 300, 100, 400, 50), QRectF(1440, 0, 1280, 1024)).x(),
        1440 + 300 + 200 - 88);
}

TEST(TimeText, WholeMinutesAndSecondsWithoutWrapping)
{
    EXPECT_EQ(RecordingControls::timeText(0), "00:00");
    EXPECT_EQ(RecordingControls::timeText(0.999), "00:00");
    EXPECT_EQ(RecordingControls::timeText(65.9), "01:05");
    EXPECT_EQ(RecordingControls::timeText(3665), "61:05");
    EXPECT_EQ(RecordingControls::timeText(3725), "62:05");
    EXPECT_EQ(RecordingControls::timeText(7200), "120:00");
    EXPECT_EQ(RecordingControls::timeText(-3), "00:00");
}

TEST(RecordingClock, PausedTimeIsNotCounted)
{
    const auto t0 = std::chrono::steady_clock::time_point {} + 1000s;
    RecordingControls::Clock clock;
    clock.start(t0);
    clock.setPaused(true, t0 + 7900ms);
    EXPECT_DOUBLE_EQ(clock.elapsed(t0 + 67900ms), 7.9);
    clock.setPaused(true, t0 + 70s); // already paused: nothing changes
    clock.setPaused(false, t0 + 67900ms);
    clock.setPaused(false, t0 + 69s); // already running: the stretch goes on
    EXPECT_EQ(RecordingControls::timeText(clock.elapsed(t0 + 71100ms)), "00:11");
    clock.start(t0 + 80s);
    EXPECT_EQ(clock.elapsed(t0 + 80s), 0);
}

TEST(RingGeometry, TwoPointsOutsideTheArea)
{
    EXPECT_EQ(
        RecordingFrame::outlineFrame(QRectF(0, 0, 1440, 900), QRectF(100, 100, 401, 301)), QRectF(98, 98, 405, 305));
    EXPECT_EQ(
        RecordingFrame::outlineFrame(QRectF(1920, 0, 1280, 1024), QRectF(0, 0, 10, 10)), QRectF(1918, -2, 14, 14));

    const QRegion ring = RecordingFrame::ringRegion(QSize(405, 305));
    EXPECT_EQ(ring.boundingRect(), QRect(0, 0, 405, 305));
    EXPECT_TRUE(ring.contains(QPoint(0, 0)));
    EXPECT_TRUE(ring.contains(QPoint(1, 150)));
    EXPECT_TRUE(ring.contains(QPoint(404, 304)));
    EXPECT_TRUE(ring.contains(QPoint(200, 303)));
    EXPECT_FALSE(ring.contains(QPoint(2, 2)));
    EXPECT_FALSE(ring.contains(QPoint(402, 302)));
    // Exactly the border: 2 × 405 × 2 + 2 × 301 × 2 points.
    qint64 area = 0;
    for (const QRect &r : ring)
        area += qint64(r.width()) * r.height();
    EXPECT_EQ(area, 2 * 405 * 2 + 2 * 301 * 2);
}

class Chrome : public ::testing::Test {
protected:
    void SetUp() override
    {
        screens.list = {display(7, QRect(0, 0, 1440, 900), true), display(9, QRect(1440, 0, 1280, 1024))};
        overlays = std::make_unique<RecordingOverlays>(screens, &windowManager);
        overlays->controls().setTimeSourceForTesting([this] { return now; });
    }

    void TearDown() override
    {
        overlays.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Screens that cannot be grabbed: these tests never look at pixels.
    FakeScreenSource screens {PlatformError {QStringLiteral("sem tela")}};
    FakeWindowManager windowManager;
    std::unique_ptr<RecordingOverlays> overlays;
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point {} + 500s;
    int pauses = 0;
    int stops = 0;

    std::function<void()> countPauses()
    {
        return [this] { ++pauses; };
    }
    std::function<void()> countStops()
    {
        return [this] { ++stops; };
    }
};

TEST_F(Chrome, AreaRecordingShowsARingAndAFixedBarBelowIt)
{
    overlays->show(CaptureTarget {9, QRectF(100, 100, 401, 301)}, countPauses(), countStops());
    RecordingFrameWindow *ring = overlays->frame().window();
    ASSERT_TRUE(ring);
    EXPECT_EQ(ring->geometry(), QRect(1440 + 98, 98, 405, 305));
    EXPECT_EQ(ring->color(), SystemColors::red);
    EXPECT_TRUE(ring->windowFlags() & Qt::WindowTransparentForInput);
    EXPECT_EQ(ring->mask(), RecordingFrame::ringRegion(QSize(405, 305)));

    ControlsBackground *bar = overlays->controls().panel();
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->geometry(), QRect(1440 + 213, 411, 176, 48));
    EXPECT_FALSE(bar->isMovable());
    EXPECT_TRUE(bar->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(overlays->controls().isTicking());

    for (QWidget *window : {static_cast<QWidget *>(ring), static_cast<QWidget *>(bar)}) {
        EXPECT_TRUE(WindowLevel::isSharingNone(window->windowHandle()));
        EXPECT_FALSE(WindowLevel::isCapturable(window->windowHandle()));
    }
}

TEST_F(Chrome, WholeDisplayRecordingHasNoRingAndAMovableBar)
{
    overlays->show(CaptureTarget {7, std::nullopt}, countPauses(), countStops());
    EXPECT_FALSE(overlays->frame().window());
    ASSERT_TRUE(overlays->controls().panel());
    EXPECT_EQ(overlays->controls().panel()->geometry(), QRect(632, 828, 176, 48));
    EXPECT_TRUE(overlays->controls().panel()->isMovable());
}

TEST_F(Chrome, UnknownDisplayPutsTheBarOnTheMainScreenAndShowsNoRing)
{
    overlays->show(CaptureTarget {42, QRectF(100, 100, 401, 301)}, countPauses(), countStops());
    EXPECT_FALSE(overlays->frame().window());
    ASSERT_TRUE(overlays->controls().panel());
    EXPECT_EQ(overlays->controls().panel()->geometry(), QRect(213, 411, 176, 48));

    screens.list.clear();
    overlays->show(CaptureTarget {42, std::nullopt}, countPauses(), countStops());
    ASSERT_TRUE(overlays->controls().panel());
    EXPECT_EQ(overlays->controls().panel()->geometry(), QRect(0, -24, 176, 48));
}

TEST_F(Chrome, PauseFreezesTheClockAndTurnsDotButtonAndRingToPaused)
{
    overlays->show(CaptureTarget {7, QRectF(10, 10, 300, 200)}, countPauses(), countStops());
    RecordingControls &controls = overlays->controls();
    EXPECT_EQ(controls.timeLabel()->text(), "00:00");
    EXPECT_EQ(controls.pauseButton()->toolTip(), "Pausar");
    EXPECT_EQ(controls.stopButton()->toolTip(), "Parar");
    EXPECT_EQ(controls.stopButton()->accessibleName(), "Parar");
    EXPECT_EQ(controls.dot()->color(), Theme::hudRec);

    now += 7900ms;
    overlays->setPaused(true);
    EXPECT_EQ(controls.timeLabel()->text(), "00:07");
    EXPECT_EQ(controls.pauseButton()->symbol(), "play.fill");
    EXPECT_EQ(controls.pauseButton()->toolTip(), "Continuar");
    EXPECT_EQ(controls.pauseButton()->accessibleName(), "Continuar");
    EXPECT_EQ(controls.dot()->color(), SystemColors::orange);
    EXPECT_EQ(overlays->frame().window()->color(), SystemColors::orange);

    now += 60s;
    QTest::qWait(RecordingControls::tickMs * 2);
    EXPECT_EQ(controls.timeLabel()->text(), "00:07");

    overlays->setPaused(false);
    EXPECT_EQ(controls.pauseButton()->symbol(), "pause.fill");
    EXPECT_EQ(controls.pauseButton()->toolTip(), "Pausar");
    EXPECT_EQ(controls.dot()->color(), Theme::hudRec);
    EXPECT_EQ(overlays->frame().window()->color(), SystemColors::red);
    now += 3200ms;
    // The clock's own tick shows it.
    QTest::qWait(RecordingControls::tickMs * 2);
    EXPECT_EQ(controls.timeLabel()->text(), "00:11");
}

TEST_F(Chrome, ButtonsCallBackUntilHiddenAndStopMayHideFromItsOwnClick)
{
    overlays->show(CaptureTarget {7, std::nullopt}, countPauses(), [this] {
        ++stops;
        overlays->hide();
    });
    RecordingControls &controls = overlays->controls();
    QTest::mouseClick(controls.pauseButton(), Qt::LeftButton);
    EXPECT_EQ(pauses, 1);

    overlays->setPauseEnabled(false);
    QTest::mouseClick(controls.pauseButton(), Qt::LeftButton);
    EXPECT_EQ(pauses, 1);
    overlays->setPauseEnabled(true);

    QPointer<ControlsBackground> bar = controls.panel();
    QTest::mouseClick(controls.stopButton(), Qt::LeftButton);
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(controls.panel());
    EXPECT_FALSE(controls.isTicking());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(bar);

    // A new recording starts from zero with the new callbacks only.
    now += 30s;
    overlays->show(CaptureTarget {7, std::nullopt}, countPauses(), countStops());
    EXPECT_EQ(controls.timeLabel()->text(), "00:00");
    QTest::mouseClick(controls.stopButton(), Qt::LeftButton);
    EXPECT_EQ(stops, 2);
}

TEST_F(Chrome, ShowReplacesTheEarlierBarAndRing)
{
    overlays->show(CaptureTarget {7, QRectF(10, 10, 300, 200)}, countPauses(), countStops());
    QPointer<RecordingFrameWindow> firstRing = overlays->frame().window();
    QPointer<ControlsBackground> firstBar = overlays->controls().panel();
    overlays->show(CaptureTarget {7, std::nullopt}, countPauses(), countStops());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(firstRing);
    EXPECT_FALSE(firstBar);
    EXPECT_FALSE(overlays->frame().window());
    ASSERT_TRUE(overlays->controls().panel());

    overlays->hide();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(overlays->controls().panel());
    // Calls after hide() are harmless.
    overlays->setPaused(true);
    overlays->setPauseEnabled(false);
}

TEST_F(Chrome, WithACompositorTheBarIsTranslucentAndTheRingStillShaped)
{
    windowManager.compositor = true;
    overlays->show(CaptureTarget {7, QRectF(10, 10, 300, 200)}, countPauses(), countStops());
    EXPECT_TRUE(overlays->controls().panel()->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(overlays->controls().panel()->mask().isEmpty());
    EXPECT_TRUE(overlays->frame().window()->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_FALSE(overlays->frame().window()->mask().isEmpty());
}

TEST(SessionRules, OnlyWaylandTakesPlacingAndExclusionAwayFromVelunta)
{
    EXPECT_TRUE(WindowLevel::canPlaceWindows(QStringLiteral("xcb")));
    EXPECT_TRUE(WindowLevel::canPlaceWindows(QStringLiteral("offscreen")));
    EXPECT_FALSE(WindowLevel::canPlaceWindows(QStringLiteral("wayland")));
    EXPECT_FALSE(WindowLevel::canPlaceWindows(QStringLiteral("wayland-egl")));

    const CaptureTarget area {7, QRectF(10, 10, 300, 200)};
    const CaptureTarget whole {7, std::nullopt};
    EXPECT_TRUE(RecordingFrame::hasRing(area, true));
    EXPECT_FALSE(RecordingFrame::hasRing(area, false));
    EXPECT_FALSE(RecordingFrame::hasRing(whole, true));
    EXPECT_FALSE(RecordingFrame::hasRing(whole, false));
}

// Where the compositor places windows: the bar is an ordinary window the user
// drags, and there is no ring.
TEST_F(Chrome, WithoutPlacingTheBarIsAWindowAndThereIsNoRing)
{
    overlays->controls().setWindowsPlaceable(false);
    overlays->frame().setWindowsPlaceable(false);
    overlays->show(CaptureTarget {7, QRectF(100, 100, 401, 301)}, countPauses(), countStops());
    EXPECT_FALSE(overlays->frame().window());
    overlays->setPaused(true); // harmless without a ring

    ControlsBackground *bar = overlays->controls().panel();
    ASSERT_TRUE(bar);
    EXPECT_FALSE(bar->isPlaceable());
    EXPECT_TRUE(bar->isMovable()) << "the user must be able to drag it off the area";
    EXPECT_FALSE(bar->windowFlags() & Qt::X11BypassWindowManagerHint);
    EXPECT_EQ(bar->windowFlags() & Qt::WindowType_Mask, Qt::Window);
    EXPECT_EQ(bar->size(), RecordingControls::barSize);
    EXPECT_TRUE(bar->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(bar->mask().isEmpty());
    ASSERT_TRUE(bar->windowHandle());
    EXPECT_FALSE(WindowLevel::isCapturable(bar->windowHandle())) << "screenshots still hide it";
}

TEST_F(Chrome, WithoutPlacingAWholeDisplayRecordingStillHasNoRing)
{
    overlays->frame().setWindowsPlaceable(false);
    overlays->controls().setWindowsPlaceable(false);
    overlays->show(CaptureTarget {7, std::nullopt}, countPauses(), countStops());
    EXPECT_FALSE(overlays->frame().window());
    EXPECT_TRUE(overlays->controls().panel());
}
