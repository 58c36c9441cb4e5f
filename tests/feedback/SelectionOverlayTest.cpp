// The overlay's rules with a fake window system: one window per screen with
// an id, the answers to drags, clicks, Esc and right clicks, the still image
// without a compositing manager, and the focus given back at the end.
#include "feedback/SelectionOverlay.h"
#include "feedback/PickRun.h"
#include "platform/WindowLevel.h"
#include "platform/WindowManager.h"
#include "support/FakeScreenSource.h"

#include <QRasterWindow>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

class FakeWindowManager : public WindowManager {
public:
    std::optional<NativeWindowId> active;
    std::vector<NativeWindowId> activated;
    bool compositor = false;

    std::optional<NativeWindowId> activeWindow() const override { return active; }
    void activate(NativeWindowId window) override { activated.push_back(window); }
    bool hasCompositingManager() const override { return compositor; }
};

DisplayInfo display(std::optional<DisplayId> id, const QString &name, QRect frame)
{
    DisplayInfo info;
    info.id = id;
    info.name = name;
    info.frame = frame;
    info.pixelGeometry = frame;
    return info;
}

void press(QWidget *view, QPointF at, Qt::MouseButton button = Qt::LeftButton)
{
    QMouseEvent event(QEvent::MouseButtonPress, at, at, view->mapToGlobal(at), button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

void drag(QWidget *view, QPointF to)
{
    QMouseEvent event(QEvent::MouseMove, to, to, view->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

void release(QWidget *view, QPointF at)
{
    QMouseEvent event(
        QEvent::MouseButtonRelease, at, at, view->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

class SelectionOverlayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        screens.list = {display(11, "A", QRect(0, 0, 640, 480)), display(std::nullopt, "B", QRect(640, 0, 320, 240)),
            display(22, "C", QRect(960, 0, 400, 300))};
        screens.pointer = QPoint(1000, 100);
        screens.fill = QColor(250, 250, 250);
        windowManager.active = 0x5a0001;
    }

    SelectionView *viewOn(DisplayId id)
    {
        for (const auto &window : overlay.windows()) {
            if (window && window->displayID() == id)
                return window->view();
        }
        return nullptr;
    }

    FakeScreenSource screens;
    FakeWindowManager windowManager;
    SelectionOverlay overlay {screens, windowManager};
};

} // namespace

TEST_F(SelectionOverlayTest, OneWindowPerScreenWithAnIdOverItsWholeFrameAndNeverCaptured)
{
    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    ASSERT_EQ(overlay.windows().size(), 2u);
    EXPECT_EQ(overlay.windows()[0]->displayID(), 11u);
    EXPECT_EQ(overlay.windows()[1]->displayID(), 22u);
    EXPECT_EQ(overlay.windows()[1]->frame(), QRect(960, 0, 400, 300));
    for (const auto &window : overlay.windows()) {
        QWindow *handle = window->windowHandle();
        ASSERT_TRUE(handle);
        EXPECT_EQ(WindowLevel::of(handle), WindowLevel::Level::overlay);
        EXPECT_TRUE(WindowLevel::isSharingNone(handle));
        EXPECT_FALSE(WindowLevel::isCapturable(handle));
        EXPECT_TRUE(handle->flags().testFlag(Qt::X11BypassWindowManagerHint));
        EXPECT_EQ(window->view()->size(), window->frame().size());
        EXPECT_EQ(window->view()->cursor().shape(), Qt::CrossCursor);
    }
    // The window under the pointer takes the keyboard.
    EXPECT_TRUE(waitUntil([&] { return viewOn(22)->hasFocus(); }));
    // Everything has been drawn once.
    EXPECT_TRUE(waitUntil([&] { return viewOn(11)->hasPainted() && viewOn(22)->hasPainted(); }));

    QTest::keyClick(viewOn(22), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }));
    EXPECT_FALSE(run.answer());
    EXPECT_FALSE(overlay.isShowing());
}

TEST_F(SelectionOverlayTest, DragAnswersTheScreenAndRectangleAndGivesTheFocusBack)
{
    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    overlay.simulateDragForTesting(QPointF(600, 400), QPointF(200.4, 150.7));
    EXPECT_FALSE(run.answered()) << "answered from inside the mouse handler";
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }));
    ASSERT_TRUE(run.answer());
    EXPECT_EQ(*run.answer(), (CaptureTarget {11, QRectF(200, 150, 400, 250)}));
    EXPECT_FALSE(overlay.isShowing());
    EXPECT_EQ(windowManager.activated, std::vector<NativeWindowId> {0x5a0001});
    // Gone from the application's windows too, once the loop has run.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWindow *window : QGuiApplication::topLevelWindows())
        EXPECT_NE(WindowLevel::of(window), WindowLevel::Level::overlay);
}

TEST_F(SelectionOverlayTest, ClicksAndSmallDragsLeaveTheOverlayUpWithTheHint)
{
    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    SelectionView *view = viewOn(11);
    press(view, QPointF(50, 50));
    EXPECT_TRUE(view->dragStart());
    release(view, QPointF(50, 50));
    // 7 points high.
    press(view, QPointF(50, 50));
    drag(view, QPointF(300, 57));
    ASSERT_TRUE(view->selection());
    release(view, QPointF(300, 57));
    // 7 points wide, dragged up and left.
    press(view, QPointF(57, 300));
    drag(view, QPointF(50, 50));
    release(view, QPointF(50, 50));
    spin(50);
    EXPECT_FALSE(run.answered());
    EXPECT_TRUE(overlay.isShowing());
    EXPECT_FALSE(view->selection());
    EXPECT_FALSE(view->dragStart());
    // Exactly 8 by 8 is enough.
    press(view, QPointF(10, 10));
    drag(view, QPointF(18, 18));
    release(view, QPointF(18, 18));
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }));
    EXPECT_EQ(*run.answer(), (CaptureTarget {11, QRectF(10, 10, 8, 8)}));
}

TEST_F(SelectionOverlayTest, DragPastTheEdgeStopsAtTheEdge)
{
    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    SelectionView *view = viewOn(22);
    press(view, QPointF(300, 200));
    drag(view, QPointF(900, 700));
    release(view, QPointF(900, 700));
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }));
    EXPECT_EQ(*run.answer(), (CaptureTarget {22, QRectF(300, 200, 100, 100)}));
}

TEST_F(SelectionOverlayTest, RightClickOnAnyScreenCancelsEverywhere)
{
    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    press(viewOn(11), QPointF(20, 20), Qt::RightButton);
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }));
    EXPECT_FALSE(run.answer());
    EXPECT_FALSE(overlay.isShowing());
    EXPECT_EQ(windowManager.activated.size(), 1u);
}

TEST_F(SelectionOverlayTest, StartingADragOnAnotherScreenClearsTheFirst)
{
    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    SelectionView *first = viewOn(11);
    SelectionView *second = viewOn(22);
    press(first, QPointF(10, 10));
    drag(first, QPointF(200, 200));
    ASSERT_TRUE(first->selection());
    press(second, QPointF(30, 30));
    EXPECT_FALSE(first->selection());
    EXPECT_FALSE(first->dragStart());
    EXPECT_TRUE(second->dragStart());
    drag(second, QPointF(130, 80));
    release(second, QPointF(130, 80));
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }));
    EXPECT_EQ(*run.answer(), (CaptureTarget {22, QRectF(30, 30, 100, 50)}));
}

TEST_F(SelectionOverlayTest, WithoutACompositorEachScreenIsGrabbedFirstLeavingOutOwnOverlays)
{
    // A raised window of the application, as the toast would be.
    QRasterWindow raised;
    raised.setFlags(Qt::ToolTip);
    raised.setGeometry(10, 10, 50, 50);
    raised.show();
    ASSERT_TRUE(raised.handle());
    const auto raisedId = NativeWindowId(raised.winId());

    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    ASSERT_EQ(screens.grabs.size(), 2u);
    EXPECT_EQ(screens.grabs[0].pixels, QRect(0, 0, 640, 480));
    EXPECT_EQ(screens.grabs[1].pixels, QRect(960, 0, 400, 300));
    for (const GrabRequest &grab : screens.grabs) {
        EXPECT_FALSE(grab.showsCursor);
        EXPECT_NE(
            std::find(grab.excludedWindows.begin(), grab.excludedWindows.end(), raisedId), grab.excludedWindows.end());
    }
    // Opaque windows showing the still, dimmed: 250 × 0.65.
    for (const auto &window : overlay.windows())
        EXPECT_FALSE(window->testAttribute(Qt::WA_TranslucentBackground));
    const QImage drawn = viewOn(11)->grab().toImage();
    EXPECT_NEAR(qRed(drawn.pixel(5, 5)), 162, 2);
    overlay.simulateDragForTesting(QPointF(1, 1), QPointF(100, 100));
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }));
}

TEST_F(SelectionOverlayTest, AFailedGrabStillGivesAWorkingOverlay)
{
    screens.failure = PlatformError {QStringLiteral("sem tela")};
    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    overlay.simulateDragForTesting(QPointF(1, 1), QPointF(100, 100));
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }));
    EXPECT_EQ(*run.answer(), (CaptureTarget {11, QRectF(1, 1, 99, 99)}));
}

TEST_F(SelectionOverlayTest, WithACompositorNothingIsGrabbedAndTheWindowsAreTranslucent)
{
    windowManager.compositor = true;
    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    EXPECT_TRUE(screens.grabs.empty());
    for (const auto &window : overlay.windows())
        EXPECT_TRUE(window->testAttribute(Qt::WA_TranslucentBackground));
    QTest::keyClick(viewOn(22), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }));
}

TEST_F(SelectionOverlayTest, NoScreenToCoverAnswersNoneAtOnce)
{
    screens.list = {display(std::nullopt, "B", QRect(0, 0, 640, 480))};
    PickRun run(overlay);
    EXPECT_TRUE(run.answered());
    EXPECT_FALSE(run.answer());
    EXPECT_FALSE(overlay.isShowing());
    EXPECT_TRUE(windowManager.activated.empty());

    screens.list.clear();
    PickRun again(overlay);
    EXPECT_TRUE(again.answered());
}

TEST_F(SelectionOverlayTest, ASecondPickWhileOneWaitsAnswersNoneAndLeavesTheFirst)
{
    PickRun first(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    PickRun second(overlay);
    EXPECT_TRUE(second.answered());
    EXPECT_FALSE(second.answer());
    EXPECT_TRUE(overlay.isShowing());
    overlay.simulateDragForTesting(QPointF(10, 10), QPointF(50, 50));
    ASSERT_TRUE(waitUntil([&] { return first.answered(); }));
    EXPECT_TRUE(first.answer());
    // And the overlay can be used again afterwards.
    PickRun third(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    QTest::keyClick(viewOn(11), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return third.answered(); }));
}

TEST_F(SelectionOverlayTest, SimulatedDragWithNothingShownDoesNothing)
{
    overlay.simulateDragForTesting(QPointF(10, 10), QPointF(50, 50));
    EXPECT_FALSE(overlay.isShowing());
}

TEST(SelectionOverlayLifetime, DestroyingTheOverlayAnswersTheWaitingPick)
{
    FakeScreenSource screens;
    screens.list = {display(5, "A", QRect(0, 0, 300, 200))};
    FakeWindowManager windowManager;
    auto overlay = std::make_unique<SelectionOverlay>(screens, windowManager);
    PickRun run(*overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay->isShowing(); }));
    overlay.reset();
    EXPECT_TRUE(run.answered());
    EXPECT_FALSE(run.answer());
}

TEST(SelectionViewDrawing, HoleIsClearOutlineWhiteAndLabelBelow)
{
    QImage still(400, 300, QImage::Format_RGB32);
    still.fill(QColor(200, 200, 200));
    SelectionView view(QSize(400, 300), still);
    press(&view, QPointF(100, 50));
    drag(&view, QPointF(200, 100));
    const QImage drawn = view.grab().toImage();
    // Inside the hole: the screen as it is.
    EXPECT_EQ(drawn.pixel(150, 75), qRgb(200, 200, 200));
    // Outside: dimmed by 35 %.
    EXPECT_NEAR(qRed(drawn.pixel(300, 20)), 130, 2);
    // The outline: the pixel row and column just outside the selection.
    EXPECT_EQ(drawn.pixel(99, 75), qRgb(255, 255, 255));
    EXPECT_EQ(drawn.pixel(150, 49), qRgb(255, 255, 255));
    EXPECT_EQ(drawn.pixel(200, 75), qRgb(255, 255, 255));
    EXPECT_EQ(drawn.pixel(150, 100), qRgb(255, 255, 255));
    // The label's dark box starts 8 points below the lower edge, at the left edge.
    EXPECT_LT(qRed(drawn.pixel(104, 112)), 60);
    EXPECT_NEAR(qRed(drawn.pixel(104, 104)), 130, 2);
}

TEST_F(SelectionOverlayTest, KeysQtHandsToAnotherOwnWindowReachTheOverlay)
{
    // The main window was active when the shortcut came.
    QWidget mainWindow;
    mainWindow.setGeometry(100, 100, 200, 100);
    mainWindow.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&mainWindow));
    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return overlay.isShowing(); }));
    QTest::keyClick(&mainWindow, Qt::Key_A);
    spin(50);
    EXPECT_FALSE(run.answered());
    QTest::keyClick(&mainWindow, Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }));
    EXPECT_FALSE(run.answer());
    // Afterwards the main window has its keys back.
    QTest::keyClick(&mainWindow, Qt::Key_Escape);
}
