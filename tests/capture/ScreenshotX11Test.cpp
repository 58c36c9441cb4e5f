// Screenshots on a real X server: the application's overlays stay out of the
// picture while its ordinary windows are in it.
#include "capture/CaptureEngine.h"
#include "platform/PlatformServices.h"
#include "platform/WindowLevel.h"
#include "platform/x11/X11Capture.h"
#include "support/AwaitTask.h"
#include "support/ColouredWindow.h"
#include "support/TestSupport.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace {

using TestSupport::ColouredWindow;
using TestSupport::countColour;

const QRgb ordinaryGreen = qRgb(20, 230, 40);
const QRgb overlayMagenta = qRgb(250, 0, 250);

void showAt(QWindow &window, const QRect &geometry)
{
    window.setGeometry(geometry);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
}

// Lets the window manager place the windows and Qt paint them.
void settle()
{
    QTest::qWait(400);
}

class ScreenshotX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        if (!services().screens)
            services() = PlatformServices::create();
        ASSERT_EQ(services().backend, QStringLiteral("x11"));
    }

    static PlatformServices &services()
    {
        static PlatformServices instance;
        return instance;
    }
    ScreenSource &screens() { return *services().screens; }

    std::optional<DisplayInfo> displayNamed(const QString &name)
    {
        for (const DisplayInfo &display : screens().displays()) {
            if (display.name == name)
                return display;
        }
        return std::nullopt;
    }
};

} // namespace

TEST_F(ScreenshotX11, OverlaysAreLeftOutAndOrdinaryWindowsKept)
{
    const DisplayInfo primary = screens().displays().front();
    ASSERT_TRUE(primary.id);
    const QPoint origin = primary.frame.topLeft();

    ColouredWindow ordinary(ordinaryGreen);
    showAt(ordinary, QRect(origin + QPoint(120, 140), QSize(300, 200)));
    // A raised, unshareable window over part of the ordinary one, as the
    // toast or the control bar would be.
    ColouredWindow overlay(overlayMagenta);
    overlay.setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    WindowLevel::set(&overlay, WindowLevel::Level::floating);
    WindowLevel::setSharingNone(&overlay);
    showAt(overlay, QRect(origin + QPoint(220, 200), QSize(250, 150)));
    settle();

    // The overlay really is on the glass: a capture that leaves nothing out sees it.
    auto plain = X11Capture::open();
    ASSERT_TRUE(plain) << plain.error().description.toStdString();
    auto everything = (*plain)->grab(GrabRequest {primary.pixelGeometry, {}, false});
    ASSERT_TRUE(everything);
    ASSERT_GT(countColour(*everything, overlayMagenta), 250 * 150 / 2);

    QCursor::setPos(origin + QPoint(5, 5));
    const auto target = CaptureEngine::displayUnderMouse(screens());
    ASSERT_TRUE(target);
    EXPECT_EQ(target->displayID, *primary.id);

    auto shot = awaitTask(CaptureEngine::screenshot(screens(), *target));
    ASSERT_TRUE(shot) << shot.error().description().toStdString();
    auto png = awaitTask(CaptureEngine::encodePng(shot->image, shot->scale));
    ASSERT_TRUE(png);
    QTemporaryDir folder;
    const QString path = folder.filePath("Print.png");
    TestSupport::writeFile(path, *png);

    const QByteArray bytes = TestSupport::readFile(path);
    const int phys = bytes.indexOf("pHYs");
    ASSERT_GT(phys, 0);
    EXPECT_EQ(bytes.mid(phys + 4, 9), QByteArray::fromHex("00000b1300000b1301")); // 2835 per metre, twice
    const QImage saved = QImageReader(path).read();
    ASSERT_EQ(saved.size(), primary.pixelGeometry.size());
    EXPECT_EQ(countColour(saved, overlayMagenta), 0);
    // All of the ordinary window, also the part the overlay covers on screen.
    EXPECT_EQ(countColour(saved, ordinaryGreen), 300 * 200);
}

TEST_F(ScreenshotX11, AreaTargetTakesExactlyItsPixels)
{
    const DisplayInfo primary = screens().displays().front();
    ColouredWindow ordinary(ordinaryGreen);
    showAt(ordinary, QRect(primary.frame.topLeft() + QPoint(400, 300), QSize(200, 100)));
    settle();
    // Half of the area is the window, half what is to its left.
    const QRectF area(300.25, 320, 200.5, 50);
    auto shot = awaitTask(CaptureEngine::screenshot(screens(), CaptureTarget {*primary.id, area}));
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->image.size(), QSize(201, 50));
    EXPECT_EQ(countColour(shot->image, ordinaryGreen), (201 - 100) * 50);
    EXPECT_NE(shot->image.pixel(0, 0), ordinaryGreen);
    EXPECT_EQ(shot->image.pixel(200, 49), ordinaryGreen);
}

TEST_F(ScreenshotX11, CursorOnlyWhenAsked)
{
    const DisplayInfo primary = screens().displays().front();
    ColouredWindow ordinary(ordinaryGreen);
    showAt(ordinary, QRect(primary.frame.topLeft() + QPoint(500, 500), QSize(200, 200)));
    QCursor::setPos(primary.frame.topLeft() + QPoint(600, 600));
    settle();
    const QRect aroundPointer(primary.pixelGeometry.topLeft() + QPoint(560, 560), QSize(80, 80));
    auto capture = X11Capture::open();
    ASSERT_TRUE(capture);
    auto without = (*capture)->grab(GrabRequest {aroundPointer, {}, false});
    auto with = (*capture)->grab(GrabRequest {aroundPointer, {}, true});
    ASSERT_TRUE(without && with);
    EXPECT_EQ(countColour(*without, ordinaryGreen), 80 * 80);
    EXPECT_LT(countColour(*with, ordinaryGreen), 80 * 80);
}

TEST_F(ScreenshotX11, DisplaysCarryTheirRandROutputs)
{
    const std::vector<DisplayInfo> displays = screens().displays();
    ASSERT_EQ(displays.size(), QGuiApplication::screens().size());
    // Cross-check against the X server's own answer.
    QProcess xrandr;
    xrandr.start("xrandr", {"--verbose"});
    ASSERT_TRUE(xrandr.waitForFinished(10000));
    const QString listing = QString::fromUtf8(xrandr.readAllStandardOutput());
    for (const DisplayInfo &display : displays) {
        ASSERT_TRUE(display.id) << display.name.toStdString();
        // "DUMMY1 connected 1280x1024+1920+0 (0x44) ..." — the output's id follows in its own block.
        const int at = listing.indexOf(QRegularExpression(
            "^" + QRegularExpression::escape(display.name) + " ", QRegularExpression::MultilineOption));
        ASSERT_GE(at, 0);
        const QRegularExpressionMatch id = QRegularExpression(R"(Identifier: (0x[0-9a-f]+))").match(listing, at);
        ASSERT_TRUE(id.hasMatch());
        EXPECT_EQ(*display.id, id.captured(1).toUInt(nullptr, 16)) << display.name.toStdString();
        EXPECT_EQ(display.pixelGeometry.size(), display.frame.size() * display.scale);
    }
    const auto left = displayNamed("DUMMY0");
    const auto right = displayNamed("DUMMY1");
    if (!left || !right)
        GTEST_SKIP() << "the two-screen checks need the dual desktop";
    EXPECT_EQ(left->frame, QRect(0, 0, 1920, 1080));
    EXPECT_EQ(right->frame, QRect(1920, 0, 1280, 1024));
    EXPECT_EQ(right->pixelGeometry, QRect(1920, 0, 1280, 1024));
    EXPECT_NE(*left->id, *right->id);
    EXPECT_TRUE(left->primary);
}

TEST_F(ScreenshotX11, SecondDisplayAndItsUnplugging)
{
    const auto right = displayNamed("DUMMY1");
    if (!right)
        GTEST_SKIP() << "needs the dual desktop";
    ColouredWindow ordinary(ordinaryGreen);
    showAt(ordinary, QRect(right->frame.topLeft() + QPoint(100, 100), QSize(150, 120)));
    settle();
    QCursor::setPos(right->frame.center());
    const auto target = CaptureEngine::displayUnderMouse(screens());
    ASSERT_TRUE(target);
    EXPECT_EQ(target->displayID, *right->id);
    auto shot = awaitTask(CaptureEngine::screenshot(screens(), *target));
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->image.size(), QSize(1280, 1024));
    EXPECT_EQ(countColour(shot->image, ordinaryGreen), 150 * 120);
    ordinary.hide();

    ASSERT_EQ(QProcess::execute("xrandr", {"--output", "DUMMY1", "--off"}), 0);
    for (int i = 0; i < 50 && QGuiApplication::screens().size() > 1; ++i)
        QTest::qWait(100);
    auto gone = awaitTask(CaptureEngine::screenshot(screens(), *target));
    QProcess::execute("xrandr", {"--output", "DUMMY1", "--mode", "1280x1024", "--pos", "1920x0"});
    for (int i = 0; i < 50 && QGuiApplication::screens().size() < 2; ++i)
        QTest::qWait(100);
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().captureError(), CaptureError(CaptureError::displayNotFound));
}

TEST_F(ScreenshotX11, AnExcludedWindowEmbeddedInAnotherClientLeavesThatClientAlone)
{
    // Another program's window, managed by the window manager, as a tray
    // panel would be; one of our top-level windows gets embedded into it, as
    // a tray icon does.
    const DisplayInfo primary = screens().displays().front();
    xcb_connection_t *other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
    const xcb_window_t panel = xcb_generate_id(other);
    const uint32_t background = ordinaryGreen & 0xffffff;
    xcb_create_window(other, XCB_COPY_FROM_PARENT, panel, screen->root, 700, 100, 300, 60, 0,
        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, &background);
    xcb_map_window(other, panel);
    xcb_flush(other);
    settle();

    ColouredWindow icon(overlayMagenta);
    WindowLevel::setSharingNone(&icon);
    showAt(icon, QRect(primary.frame.topLeft() + QPoint(100, 600), QSize(40, 40)));
    xcb_reparent_window(other, static_cast<xcb_window_t>(icon.winId()), panel, 10, 10);
    xcb_flush(other);
    settle();

    auto shot = awaitTask(CaptureEngine::screenshot(screens(), CaptureTarget {*primary.id, std::nullopt}));
    xcb_destroy_window(other, panel);
    xcb_disconnect(other);
    ASSERT_TRUE(shot);
    EXPECT_GT(countColour(shot->image, ordinaryGreen), 300 * 60 - 40 * 40 - 100);
}
