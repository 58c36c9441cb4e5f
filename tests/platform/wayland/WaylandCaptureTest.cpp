// The Wayland backend on a real compositor (headless mutter) and the test
// portal: screenshots of a window of known colours, an area dragged on the
// selection overlay, the global shortcuts, and a session without the
// Screenshot portal. Run through tests/support/on-wayland, also at a scale
// of 1.5 in Qt (QT_SCALE_FACTOR) and at 1.5 and 2 in the compositor.
#include "capture/CaptureEngine.h"
#include "feedback/PickRun.h"
#include "feedback/SelectionOverlay.h"
#include "platform/PlatformServices.h"
#include "platform/WindowManager.h"
#include "platform/wayland/Portal.h"
#include "platform/wayland/WaylandDesktop.h"
#include "platform/wayland/WaylandScreenSource.h"
#include "support/AwaitTask.h"
#include "support/ColouredWindow.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace WaylandDesktop;
using TestSupport::nearColour;

namespace {

class WaylandCapture : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!onWayland())
            GTEST_SKIP() << "needs the Wayland test desktop (tests/support/on-wayland)";
        services = PlatformServices::create();
        ASSERT_TRUE(showFullScreen(window));
    }

    DisplayInfo shownDisplay() const
    {
        for (const DisplayInfo &display : services.screens->displays()) {
            if (display.name == window.screen()->name())
                return display;
        }
        return {};
    }

    PlatformServices services;
    QuadrantWindow window;
};

} // namespace

TEST_F(WaylandCapture, AFullScreenshotIsTheScreensPixelsAndThePortalsFileIsRemoved)
{
    EXPECT_EQ(services.backend, "wayland");
    ASSERT_TRUE(services.screens->screenCaptureAllowed());
    const DisplayInfo display = shownDisplay();
    ASSERT_TRUE(display.id);
    EXPECT_EQ(display.pixelGeometry.size(), QSize(1920, 1080)) << "the virtual monitor is 1920×1080 pixels";

    auto shot = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*display.id, std::nullopt}));
    ASSERT_TRUE(shot) << shot.error().description().toStdString();
    const QImage &image = shot->image;
    ASSERT_EQ(image.size(), QSize(1920, 1080));
    EXPECT_DOUBLE_EQ(shot->scale, display.scale);
    // The quadrants meet at the centre pixel, exactly.
    EXPECT_TRUE(nearColour(image.pixel(959, 539), topLeft, 2));
    EXPECT_TRUE(nearColour(image.pixel(960, 539), topRight, 2));
    EXPECT_TRUE(nearColour(image.pixel(959, 540), bottomLeft, 2));
    EXPECT_TRUE(nearColour(image.pixel(960, 540), bottomRight, 2));
    EXPECT_TRUE(nearColour(image.pixel(0, 0), topLeft, 2));
    EXPECT_TRUE(nearColour(image.pixel(1919, 1079), bottomRight, 2));

    const QStringList handedOut = portalFiles();
    ASSERT_FALSE(handedOut.isEmpty());
    for (const QString &file : handedOut)
        EXPECT_FALSE(QFile::exists(file)) << file.toStdString() << " was left behind";
}

TEST_F(WaylandCapture, AnAreaDraggedOnTheOverlayGivesExactlyThosePixels)
{
    const DisplayInfo display = shownDisplay();
    ASSERT_TRUE(display.id);
    std::unique_ptr<WindowManager> windowManager = WindowManager::create();
    SelectionOverlay overlay(*services.screens, *windowManager);
    QSignalSpy shown(&overlay, &SelectionOverlay::shown);
    PickRun run(overlay);
    ASSERT_TRUE(waitUntil([&] { return !shown.isEmpty(); }, 30000)) << "the overlay never showed";
    // The overlay shows the screen as it was, under the dimming.
    ASSERT_EQ(overlay.windows().size(), 1u);
    // Painted is not yet on screen: give the compositor time to map it and
    // send it the pointer.
    spin(1000);

    // Across the point where the quadrants meet, with the compositor's own
    // pointer (positions in the monitor's pixels).
    const QPointF centre(display.frame.width() / 2.0, display.frame.height() / 2.0);
    const QPointF from = (centre - QPointF(40, 30)) * display.scale, to = (centre + QPointF(60, 50)) * display.scale;
    ASSERT_TRUE(movePointer({"drag", QString::number(from.x()), QString::number(from.y()), QString::number(to.x()),
        QString::number(to.y())}));
    ASSERT_TRUE(waitUntil([&] { return run.answered(); }, 10000));
    ASSERT_TRUE(run.answer());
    const CaptureTarget target = *run.answer();
    ASSERT_TRUE(target.rect);
    // Where the compositor delivered the press and the release, to within a
    // pixel or two of pointer motion.
    const QRectF dragged = *target.rect;
    EXPECT_NEAR(dragged.left(), centre.x() - 40, 3);
    EXPECT_NEAR(dragged.top(), centre.y() - 30, 3);
    EXPECT_NEAR(dragged.right(), centre.x() + 60, 3);
    EXPECT_NEAR(dragged.bottom(), centre.y() + 50, 3);
    spin(300);

    auto area = awaitTask(CaptureEngine::screenshot(*services.screens, target));
    ASSERT_TRUE(area) << area.error().description().toStdString();
    const double scale = display.scale;
    ASSERT_EQ(area->image.size(), CaptureEngine::outputSize(target.rect->size(), scale));
    // The quadrants meet where the centre falls in the rectangle.
    const int x = qRound((centre.x() - dragged.left()) * scale), y = qRound((centre.y() - dragged.top()) * scale);
    EXPECT_TRUE(nearColour(area->image.pixel(x - 1, y - 1), topLeft, 2));
    EXPECT_TRUE(nearColour(area->image.pixel(x, y - 1), topRight, 2));
    EXPECT_TRUE(nearColour(area->image.pixel(x - 1, y), bottomLeft, 2));
    EXPECT_TRUE(nearColour(area->image.pixel(x, y), bottomRight, 2));

    // And it is the same pixels as that part of a full screenshot.
    auto full = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*display.id, std::nullopt}));
    ASSERT_TRUE(full);
    auto resolved = CaptureEngine::resolve(*services.screens, target);
    ASSERT_TRUE(resolved);
    const QRect pixels = CaptureEngine::pixelRect(*resolved, *target.rect).translated(-display.pixelGeometry.topLeft());
    EXPECT_EQ(area->image, full->image.copy(pixels));
}

TEST_F(WaylandCapture, ShortcutsAreBoundOnceAndThePortalsPressesArrive)
{
    QSignalSpy pressed(services.hotKeys.get(), &HotKeySource::pressed);
    for (Qt::Key key : {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4})
        EXPECT_TRUE(
            services.hotKeys->registerShortcuts({QKeyCombination(Qt::AltModifier | Qt::ShiftModifier, key)}).isEmpty());
    ASSERT_TRUE(waitUntil([] { return portal("Bound").count("velunta-") == 4; }, 10000))
        << portal("Bound").toStdString();
    const QByteArray bound = portal("Bound");
    EXPECT_TRUE(bound.contains("'velunta-1', 'ALT+SHIFT+1'")) << bound.toStdString();
    EXPECT_TRUE(bound.contains("'velunta-4', 'ALT+SHIFT+4'")) << bound.toStdString();

    EXPECT_EQ(portal("Activate", {"velunta-2"}), "(uint32 1,)");
    ASSERT_TRUE(waitUntil([&] { return !pressed.isEmpty(); }, 5000));
    spin(200);
    ASSERT_EQ(pressed.size(), 1) << "one press, not one per Activated and Deactivated";
    EXPECT_EQ(pressed.first().first().toInt(), 1);
}

TEST_F(WaylandCapture, AnAreaThatLeavesItsScreenIsRefusedAndNoPictureIsAsked)
{
    const DisplayInfo display = shownDisplay();
    ASSERT_TRUE(display.id);
    const qsizetype handedOut = portalFiles().size();
    const QSizeF points = display.frame.size();
    for (const QRectF &area : {QRectF(points.width() - 200, 100, 401, 301), QRectF(-50, -50, 200, 200),
             QRectF(100, points.height() - 1, 300, 200)}) {
        auto shot = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*display.id, area}));
        ASSERT_FALSE(shot) << "a picture, partly black, of " << area.x() << "," << area.y();
        EXPECT_EQ(shot.error().description(), WaylandScreenSource::areaOutsideText());
    }
    EXPECT_EQ(portalFiles().size(), handedOut);

    // Up to the far edges is fine.
    auto edge = awaitTask(CaptureEngine::screenshot(
        *services.screens, CaptureTarget {*display.id, QRectF(points.width() - 401, points.height() - 301, 401, 301)}));
    ASSERT_TRUE(edge) << edge.error().description().toStdString();
    EXPECT_TRUE(nearColour(edge->image.pixel(edge->image.width() - 1, edge->image.height() - 1), bottomRight, 2));
}

// Run with the portal started without its Screenshot interface.
TEST(WaylandWithoutScreenshot, CaptureIsRefusedNamingTheMissingPortal)
{
    if (!onWayland())
        GTEST_SKIP() << "needs the Wayland test desktop (tests/support/on-wayland --without=Screenshot)";
    PlatformServices services = PlatformServices::create();
    EXPECT_EQ(services.backend, "wayland");
    // The portal is asked in the background.
    bool known = false;
    services.screens->whenAccessKnown([&] { known = true; });
    ASSERT_TRUE(waitUntil([&] { return known; }, 10000));
    EXPECT_FALSE(services.screens->screenCaptureAllowed());
    EXPECT_TRUE(services.screens->accessProblem().contains("org.freedesktop.portal.Screenshot"))
        << services.screens->accessProblem().toStdString();
    const auto display = services.screens->displays().at(0);
    auto grab = awaitTask(services.screens->grab(GrabRequest {display.pixelGeometry, {}, false}));
    ASSERT_FALSE(grab);
    EXPECT_TRUE(grab.error().description.contains("org.freedesktop.portal.Screenshot"));
    // Shortcuts still come from the portal that is there.
    EXPECT_TRUE(services.hotKeys->unavailableReason().isEmpty());
}

// Run on two monitors (tests/support/on-wayland --dual): the portal's picture
// spans both, and each screen's screenshot is its own part of it. (The window
// is shown full screen wherever the compositor puts it, and the test looks
// where it went.)
TEST(WaylandDual, EachScreenIsItsOwnPartOfTheDesktopPicture)
{
    if (!onWayland(2))
        GTEST_SKIP() << "needs the two-screen Wayland test desktop (tests/support/on-wayland --dual)";
    PlatformServices services = PlatformServices::create();
    const std::vector<DisplayInfo> displays = services.screens->displays();
    ASSERT_EQ(displays.size(), 2u);
    QuadrantWindow window;
    ASSERT_TRUE(showFullScreen(window));
    const bool onFirst = window.screen()->name() == displays[0].name;
    const DisplayInfo shown = displays[onFirst ? 0 : 1], other = displays[onFirst ? 1 : 0];
    EXPECT_NE(shown.pixelGeometry.topLeft(), other.pixelGeometry.topLeft());

    auto shot = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*shown.id, std::nullopt}));
    ASSERT_TRUE(shot) << shot.error().description().toStdString();
    const QSize size = shown.pixelGeometry.size();
    ASSERT_EQ(shot->image.size(), size);
    const int cx = size.width() / 2, cy = size.height() / 2;
    EXPECT_TRUE(nearColour(shot->image.pixel(cx - 1, cy - 1), topLeft, 2));
    EXPECT_TRUE(nearColour(shot->image.pixel(cx, cy - 1), topRight, 2));
    EXPECT_TRUE(nearColour(shot->image.pixel(cx - 1, cy), bottomLeft, 2));
    EXPECT_TRUE(nearColour(shot->image.pixel(cx, cy), bottomRight, 2));
    EXPECT_TRUE(nearColour(shot->image.pixel(0, 0), topLeft, 2));
    EXPECT_TRUE(nearColour(shot->image.pixel(size.width() - 1, size.height() - 1), bottomRight, 2));

    // The other screen shows none of the window.
    auto rest = awaitTask(CaptureEngine::screenshot(*services.screens, CaptureTarget {*other.id, std::nullopt}));
    ASSERT_TRUE(rest);
    ASSERT_EQ(rest->image.size(), other.pixelGeometry.size());
    int quadrantPixels = 0;
    for (const QColor &colour : {topLeft, topRight, bottomLeft, bottomRight})
        quadrantPixels += TestSupport::countColour(rest->image, colour.rgb(), 2);
    EXPECT_EQ(quadrantPixels, 0);
}
