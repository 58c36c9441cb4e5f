// The overlay on a real X server, driven through the X server with xdotool:
// drags, Esc, right clicks, plain clicks, captures while it is up, and the
// focus given back to the window that had it.
#include "capture/CaptureEngine.h"
#include "feedback/OverlayX11.h"
#include "platform/x11/X11Capture.h"
#include "support/AwaitTask.h"
#include "support/DesktopGuards.h"

#include <QImageReader>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace OverlayX11;

namespace {

const QRgb ordinaryGreen = qRgb(20, 230, 40);
// The same green under 35 % black.
const QRgb dimmedGreen = qRgb(13, 150, 26);

class SelectionOverlayX11 : public Fixture {
protected:
    DisplayInfo primary() const
    {
        for (const DisplayInfo &display : services().screens->displays()) {
            if (display.primary && display.id)
                return display;
        }
        return services().screens->displays().front();
    }
};

} // namespace

TEST_F(SelectionOverlayX11, DragUpAndLeftGivesExactlyTheDraggedRectangleAndItsPng)
{
    const DisplayInfo screen = primary();
    ASSERT_TRUE(screen.id);
    auto run = startPick();
    ASSERT_TRUE(keyWindow()) << "no overlay window holds the keyboard";
    dragWithXdotool(screen.frame.topLeft() + QPoint(700, 500), screen.frame.topLeft() + QPoint(300, 200));
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
    ASSERT_TRUE(run->answer());
    EXPECT_EQ(*run->answer(), (CaptureTarget {*screen.id, QRectF(300, 200, 400, 300)}));
    EXPECT_FALSE(overlay->isShowing());

    auto shot = awaitTask(CaptureEngine::screenshot(*services().screens, *run->answer()));
    ASSERT_TRUE(shot) << shot.error().description().toStdString();
    auto png = awaitTask(CaptureEngine::encodePng(shot->image, shot->scale));
    ASSERT_TRUE(png);
    QTemporaryDir folder;
    TestSupport::writeFile(folder.filePath("Print.png"), *png);
    EXPECT_EQ(QImageReader(folder.filePath("Print.png")).size(), QSize(400, 300));
}

TEST_F(SelectionOverlayX11, EscAndRightClickAnswerNone)
{
    const DisplayInfo screen = primary();
    auto run = startPick();
    ASSERT_TRUE(keyWindow());
    ASSERT_EQ(xdotool({"key", "Escape"}), 0);
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
    EXPECT_FALSE(run->answer());
    EXPECT_FALSE(overlay->isShowing());

    auto again = startPick();
    ASSERT_EQ(
        xdotool({"mousemove", QString::number(screen.frame.x() + 900), QString::number(screen.frame.y() + 600)}), 0);
    ASSERT_EQ(xdotool({"click", "3"}), 0);
    ASSERT_TRUE(waitUntil([&] { return again->answered(); }));
    EXPECT_FALSE(again->answer());
}

TEST_F(SelectionOverlayX11, PlainClickAndSmallDragLeaveTheOverlayUp)
{
    const DisplayInfo screen = primary();
    auto run = startPick();
    ASSERT_EQ(
        xdotool({"mousemove", QString::number(screen.frame.x() + 400), QString::number(screen.frame.y() + 400)}), 0);
    ASSERT_EQ(xdotool({"click", "1"}), 0);
    dragWithXdotool(screen.frame.topLeft() + QPoint(500, 500), screen.frame.topLeft() + QPoint(700, 505));
    spin(400);
    EXPECT_FALSE(run->answered());
    ASSERT_TRUE(overlay->isShowing());
    for (const auto &window : overlay->windows())
        EXPECT_FALSE(window->view()->selection());
    ASSERT_EQ(xdotool({"key", "Escape"}), 0);
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
    EXPECT_FALSE(run->answer());
}

TEST_F(SelectionOverlayX11, CoversFullScreenWindowsYetCapturesNeverShowIt)
{
    const DisplayInfo screen = primary();
    // An ordinary window of the application, full-screen and kept above
    // others: the overlay must still cover it, and captures must show it.
    ColouredWindow ordinary(ordinaryGreen);
    ordinary.setFlags(ordinary.flags() | Qt::WindowStaysOnTopHint);
    ordinary.setGeometry(screen.frame);
    ordinary.showFullScreen();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ordinary));
    WindowLevel::set(&ordinary, WindowLevel::Level::normal);
    spin(400);

    auto run = startPick();
    // On the glass: the green, dimmed, under the overlay.
    auto glass = X11Capture::open();
    ASSERT_TRUE(glass);
    auto seen = (*glass)->grab(GrabRequest {screen.pixelGeometry, {}, false});
    ASSERT_TRUE(seen);
    const int pixels = screen.pixelGeometry.width() * screen.pixelGeometry.height();
    EXPECT_GT(countColour(*seen, dimmedGreen, 3), pixels * 9 / 10);
    EXPECT_EQ(countColour(*seen, ordinaryGreen), 0);

    // In a capture: the green as it is, nothing of the overlay.
    auto shot = awaitTask(CaptureEngine::screenshot(*services().screens, CaptureTarget {*screen.id, std::nullopt}));
    ASSERT_TRUE(shot);
    EXPECT_EQ(countColour(shot->image, ordinaryGreen), pixels);

    ASSERT_EQ(xdotool({"key", "Escape"}), 0);
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
}

TEST_F(SelectionOverlayX11, FocusGoesBackToTheWindowThatWasActive)
{
    QProcess message;
    message.start("xmessage", {"-geometry", "+200+200", "Velunta overlay focus"});
    ASSERT_TRUE(message.waitForStarted());
    const auto stop = qScopeGuard([&message] {
        message.kill();
        message.waitForFinished();
    });
    const auto found
        = TestSupport::run("xdotool", {"search", "--sync", "--onlyvisible", "--limit", "1", "--class", "Xmessage"},
            QProcessEnvironment::systemEnvironment(), 10000);
    const quint32 window = QString::fromUtf8(found.out).trimmed().toUInt();
    ASSERT_NE(window, 0u);
    ASSERT_EQ(xdotool({"windowactivate", "--sync", QString::number(window)}), 0);
    ASSERT_TRUE(waitUntil([&] { return activeWindowByXprop() == window; }));
    EXPECT_EQ(windowManager().activeWindow(), window);

    auto run = startPick();
    // Meanwhile the keyboard is the overlay's.
    const auto focus = TestSupport::run("xdotool", {"getwindowfocus"}, QProcessEnvironment::systemEnvironment());
    ASSERT_TRUE(keyWindow());
    EXPECT_EQ(QString::fromUtf8(focus.out).trimmed().toULongLong(), keyWindow()->winId());
    ASSERT_EQ(xdotool({"key", "Escape"}), 0);
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
    EXPECT_TRUE(waitUntil([&] { return activeWindowByXprop() == window; }))
        << "active: " << std::hex << activeWindowByXprop();

    // The same after a selection.
    auto selected = startPick();
    dragWithXdotool(QPoint(50, 50), QPoint(150, 150));
    ASSERT_TRUE(waitUntil([&] { return selected->answered(); }));
    EXPECT_TRUE(selected->answer());
    EXPECT_TRUE(waitUntil([&] { return activeWindowByXprop() == window; }));
}

namespace {

const QRgb ordinaryRed = qRgb(230, 30, 20);
const QRgb dimmedRed = qRgb(150, 20, 13);

QRgb onGlass(QPoint global)
{
    auto glass = X11Capture::open();
    if (!glass)
        return 0;
    auto pixel = (*glass)->grab(GrabRequest {QRect(global, QSize(1, 1)), {}, false});
    return pixel ? pixel->pixel(0, 0) | 0xff000000u : 0;
}

} // namespace

TEST_F(SelectionOverlayX11, WithoutACompositorTheScreenIsShownAsItWasJustBefore)
{
    if (windowManager().hasCompositingManager())
        GTEST_SKIP() << "a compositing manager runs on this desktop";
    const DisplayInfo screen = primary();
    ColouredWindow window;
    window.setGeometry(QRect(screen.frame.topLeft() + QPoint(300, 300), QSize(300, 200)));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    spin(300);
    const QPoint inside = screen.frame.topLeft() + QPoint(320, 320);

    auto run = startPick();
    for (const auto &overlayWindow : overlay->windows())
        EXPECT_FALSE(overlayWindow->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(nearColour(onGlass(inside), dimmedGreen, 3)) << std::hex << onGlass(inside);
    window.colour = ordinaryRed;
    window.update();
    spin(300);
    // Opaque windows: the still stays.
    EXPECT_TRUE(nearColour(onGlass(inside), dimmedGreen, 3)) << std::hex << onGlass(inside);
    ASSERT_EQ(xdotool({"key", "Escape"}), 0);
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
}

TEST_F(SelectionOverlayX11, WithACompositorTheDesktopShowsThroughLive)
{
    if (const QString missing = TestSupport::CompositingManagerRun::unavailable(); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    if (windowManager().hasCompositingManager())
        GTEST_SKIP() << "a compositing manager runs already";
    TestSupport::CompositingManagerRun compositor;
    ASSERT_TRUE(compositor.start([] { return windowManager().hasCompositingManager(); }));

    const DisplayInfo screen = primary();
    ColouredWindow window;
    window.setGeometry(QRect(screen.frame.topLeft() + QPoint(300, 300), QSize(300, 200)));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    spin(300);
    const QPoint inside = screen.frame.topLeft() + QPoint(320, 320);

    auto run = startPick();
    for (const auto &overlayWindow : overlay->windows())
        EXPECT_TRUE(overlayWindow->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(nearColour(onGlass(inside), dimmedGreen, 3)) << std::hex << onGlass(inside);
    window.colour = ordinaryRed;
    window.update();
    spin(300);
    EXPECT_TRUE(nearColour(onGlass(inside), dimmedRed, 3)) << std::hex << onGlass(inside);

    // The hole is clear, the selection still exact.
    dragWithXdotool(screen.frame.topLeft() + QPoint(310, 310), screen.frame.topLeft() + QPoint(410, 360));
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
    EXPECT_EQ(*run->answer(), (CaptureTarget {*screen.id, QRectF(310, 310, 100, 50)}));
}
