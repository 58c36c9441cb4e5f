// The overlay over two screens (DUMMY0 1920x1080 at 0,0 and DUMMY1 1280x1024
// at 1920,0). Run by test_selection_overlay_dual, which starts that desktop.
#include "capture/CaptureEngine.h"
#include "feedback/OverlayX11.h"
#include "platform/x11/X11Capture.h"
#include "support/AwaitTask.h"

#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

using namespace OverlayX11;

namespace {

const QRgb ordinaryGreen = qRgb(20, 230, 40);
const QRgb dimmedGreen = qRgb(13, 150, 26);

class SelectionOverlayDual : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        if (IsSkipped())
            return;
        left = displayNamed("DUMMY0");
        right = displayNamed("DUMMY1");
        ASSERT_TRUE(left && right && left->id && right->id) << "needs the two-screen desktop";
        ASSERT_EQ(right->frame, QRect(1920, 0, 1280, 1024));
    }

    void pointAt(QPoint global)
    {
        ASSERT_EQ(xdotool({"mousemove", QString::number(global.x()), QString::number(global.y())}), 0);
    }

    SelectionView *viewOn(DisplayId id) const
    {
        for (const auto &window : overlay->windows()) {
            if (window && window->displayID() == id)
                return window->view();
        }
        return nullptr;
    }

    QRgb onGlass(QPoint global)
    {
        auto glass = X11Capture::open();
        EXPECT_TRUE(glass);
        if (!glass)
            return 0;
        auto pixel = (*glass)->grab(GrabRequest {QRect(global, QSize(1, 1)), {}, false});
        return pixel ? pixel->pixel(0, 0) | 0xff000000u : 0;
    }

    std::optional<DisplayInfo> left;
    std::optional<DisplayInfo> right;
};

bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 3 && std::abs(qGreen(a) - qGreen(b)) <= 3
        && std::abs(qBlue(a) - qBlue(b)) <= 3;
}

} // namespace

TEST_F(SelectionOverlayDual, DragUpAndLeftOnTheSecondScreenGivesThatRectangleAndItsPixels)
{
    // A marker inside the area: 50 points in from its left and top.
    ColouredWindow marker(ordinaryGreen);
    marker.setFlags(Qt::FramelessWindowHint);
    marker.setGeometry(QRect(QPoint(1920 + 250, 200), QSize(100, 50)));
    marker.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&marker));
    spin(300);

    pointAt(QPoint(1920 + 600, 400));
    auto run = startPick();
    ASSERT_EQ(overlay->windows().size(), 2u);
    ASSERT_TRUE(keyWindow());
    EXPECT_EQ(keyWindow()->displayID(), *right->id);
    dragWithXdotool(QPoint(1920 + 600, 400), QPoint(1920 + 200, 150));
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
    ASSERT_TRUE(run->answer());
    EXPECT_EQ(*run->answer(), (CaptureTarget {*right->id, QRectF(200, 150, 400, 250)}));

    auto shot = awaitTask(CaptureEngine::screenshot(*services().screens, *run->answer()));
    ASSERT_TRUE(shot) << shot.error().description().toStdString();
    auto png = awaitTask(CaptureEngine::encodePng(shot->image, shot->scale));
    ASSERT_TRUE(png);
    QTemporaryDir folder;
    const QString path = folder.filePath("Print.png");
    TestSupport::writeFile(path, *png);
    const QImage saved = QImageReader(path).read();
    ASSERT_EQ(saved.size(), QSize(400, 250));
    EXPECT_EQ(countColour(saved, ordinaryGreen), 100 * 50);
    EXPECT_EQ(saved.pixel(50, 50) | 0xff000000u, ordinaryGreen);
    EXPECT_EQ(saved.pixel(149, 99) | 0xff000000u, ordinaryGreen);
}

TEST_F(SelectionOverlayDual, EscWhereverThePointerIsCancelsOnBothScreens)
{
    pointAt(QPoint(1920 + 100, 900));
    auto run = startPick();
    ASSERT_EQ(overlay->windows().size(), 2u);
    EXPECT_EQ(overlay->windows()[0]->frame(), left->frame);
    EXPECT_EQ(overlay->windows()[1]->frame(), right->frame);
    ASSERT_TRUE(keyWindow());
    ASSERT_EQ(xdotool({"key", "Escape"}), 0);
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
    EXPECT_FALSE(run->answer());
    EXPECT_FALSE(overlay->isShowing());
}

TEST_F(SelectionOverlayDual, RightClickOnTheOtherScreenCancels)
{
    pointAt(QPoint(1920 + 100, 100));
    auto run = startPick();
    pointAt(QPoint(300, 300));
    ASSERT_EQ(xdotool({"click", "3"}), 0);
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
    EXPECT_FALSE(run->answer());
}

TEST_F(SelectionOverlayDual, DraggingPastTheScreenEdgeStopsThere)
{
    pointAt(QPoint(1700, 800));
    auto run = startPick();
    // Across to the second screen: the first one's window keeps the drag.
    dragWithXdotool(QPoint(1800, 900), QPoint(2300, 1010));
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
    ASSERT_TRUE(run->answer());
    EXPECT_EQ(*run->answer(), (CaptureTarget {*left->id, QRectF(1800, 900, 120, 110)}));
}

TEST_F(SelectionOverlayDual, ADragStartedOnTheOtherScreenClearsTheFirstSelection)
{
    // Green under the first screen's selection, so its hole shows on the glass.
    ColouredWindow ordinary(ordinaryGreen);
    ordinary.setFlags(Qt::FramelessWindowHint);
    ordinary.setGeometry(QRect(100, 100, 600, 400));
    ordinary.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ordinary));
    spin(300);

    auto run = startPick();
    // A real drag on the first screen, button still held.
    pointAt(QPoint(200, 200));
    ASSERT_EQ(xdotool({"mousedown", "1"}), 0);
    pointAt(QPoint(500, 400));
    SelectionView *first = viewOn(*left->id);
    SelectionView *second = viewOn(*right->id);
    ASSERT_TRUE(waitUntil([&] { return first->selection().has_value(); }));
    spin(200);
    EXPECT_TRUE(near(onGlass(QPoint(350, 300)), ordinaryGreen));

    // A drag begins on the second screen (the self-test's synthetic press).
    QTest::mousePress(second, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    EXPECT_FALSE(first->selection());
    EXPECT_FALSE(first->dragStart());
    spin(300);
    EXPECT_TRUE(near(onGlass(QPoint(350, 300)), dimmedGreen)) << std::hex << onGlass(QPoint(350, 300));
    QTest::mouseRelease(second, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));

    // The first screen's release now belongs to no drag.
    ASSERT_EQ(xdotool({"mouseup", "1"}), 0);
    spin(300);
    EXPECT_FALSE(run->answered());
    ASSERT_TRUE(overlay->isShowing());

    dragWithXdotool(QPoint(1920 + 10, 20), QPoint(1920 + 110, 70));
    ASSERT_TRUE(waitUntil([&] { return run->answered(); }));
    EXPECT_EQ(*run->answer(), (CaptureTarget {*right->id, QRectF(10, 20, 100, 50)}));
}
