// The introduction window on a real X server with a window manager: it has no
// frame, takes the keyboard when shown, Return reaches its default button,
// dragging its background moves it, and its close button only hides it. The
// keys and the mouse go through the X server (xdotool), as a user's would.
#include "OnboardingFixture.h"

#include "ui/AppModel.h"
#include "ui/OnboardingWindow.h"

#include <QGuiApplication>

namespace {

void xdotool(const QStringList &arguments)
{
    TestSupport::tool("xdotool", arguments);
}

struct RealIntroduction : WindowProbe {
    std::unique_ptr<QQmlEngine> engine = makeEngine();
    AppModel model {AppModel::Services {}, QStringLiteral("/nonexistent"), true, 0};
    std::unique_ptr<QQuickWindow> owned;
    OnboardingView *view = nullptr;
    int finished = 0;

    RealIntroduction()
    {
        AppModel::Actions actions;
        actions.finishOnboarding = [this] { ++finished; };
        model.setActions(actions);
        OnboardingWindowOptions options;
        options.persistsProgress = false;
        owned = makeOnboardingWindow(*engine, model, 0, options);
        window = owned.get();
        view = window ? window->findChild<OnboardingView *>() : nullptr;
    }

    void show()
    {
        window->show();
        window->raise();
        window->requestActivate();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        settle(200);
    }

    // A point of the window in screen coordinates.
    QPoint global(QPoint local) const { return window->mapToGlobal(local); }
    void clickAt(QPoint local) const
    {
        const QPoint p = global(local);
        xdotool({"mousemove", "--sync", QString::number(p.x()), QString::number(p.y()), "click", "1"});
        settle(150);
    }
};

} // namespace

class OnboardingX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs an X server (scripts/test-desktop)";
    }
};

TEST_F(OnboardingX11, CentredWithoutAFrameAndTakesTheKeyboard)
{
    RealIntroduction intro;
    ASSERT_NE(intro.window, nullptr);
    intro.show();
    // No decoration around it: the frame is the window itself.
    EXPECT_EQ(intro.window->frameGeometry(), intro.window->geometry());
    EXPECT_EQ(intro.window->size(), QSize(680, 480));
    const QRect available = intro.window->screen()->availableGeometry();
    EXPECT_LE((intro.window->geometry().center() - available.center()).manhattanLength(), 4);
    EXPECT_EQ(QGuiApplication::focusWindow(), intro.window);

    xdotool({"key", "Return"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return intro.view->step() == OnboardingView::Step::screenPermission; }, 2000));
    xdotool({"key", "Return"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return intro.view->step() == OnboardingView::Step::microphone; }, 2000));
    // "Agora não" is not the default button: Return leaves the step alone.
    xdotool({"key", "Return"});
    settle(300);
    EXPECT_EQ(intro.view->step(), OnboardingView::Step::microphone);
    QQuickItem *later = intro.find("laterButton");
    ASSERT_NE(later, nullptr);
    intro.clickAt(later->mapToScene(QPointF(later->width() / 2, later->height() / 2)).toPoint());
    EXPECT_TRUE(QTest::qWaitFor([&] { return intro.view->step() == OnboardingView::Step::shortcuts; }, 2000));
    xdotool({"key", "KP_Enter"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return intro.finished == 1; }, 2000));
}

TEST_F(OnboardingX11, DraggingTheBackgroundMovesTheWindow)
{
    RealIntroduction intro;
    ASSERT_NE(intro.window, nullptr);
    intro.show();
    const QPoint before = intro.window->position();
    // An empty part of the step's side, below the feature rows.
    const QPoint start = intro.global(QPoint(450, 360));
    xdotool({"mousemove", "--sync", QString::number(start.x()), QString::number(start.y())});
    xdotool({"mousedown", "1"});
    settle(100);
    for (int i = 1; i <= 10; ++i) {
        xdotool({"mousemove", "--sync", QString::number(start.x() - 12 * i), QString::number(start.y() - 6 * i)});
        settle(20);
    }
    xdotool({"mouseup", "1"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return intro.window->position() != before; }, 2000));
    const QPoint moved = intro.window->position() - before;
    EXPECT_NEAR(moved.x(), -120, 12);
    EXPECT_NEAR(moved.y(), -60, 12);
    EXPECT_EQ(intro.view->step(), OnboardingView::Step::welcome);
}

TEST_F(OnboardingX11, CloseButtonOnlyHides)
{
    RealIntroduction intro;
    ASSERT_NE(intro.window, nullptr);
    intro.show();
    QQuickItem *close = intro.find("closeButton");
    ASSERT_NE(close, nullptr);
    intro.clickAt(close->mapToScene(QPointF(close->width() / 2, close->height() / 2)).toPoint());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !intro.window->isVisible(); }, 2000));
    EXPECT_EQ(intro.finished, 0);
    intro.show();
    EXPECT_EQ(intro.view->step(), OnboardingView::Step::welcome);
}
