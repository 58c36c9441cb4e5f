// The main window on a real X server with a window manager: the first opening
// is centred, the frame the user leaves is the frame the next run opens with
// (the window manager's decoration included), the window manager's close only
// hides it, and the menu bar's Ctrl+W and Ctrl+M reach it through the X
// server as a user's keys would.
#include "MainWindowFixture.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

namespace {

QString windowId(QWindow *window)
{
    return QString::number(window->winId());
}

void xdotool(const QStringList &arguments)
{
    TestSupport::tool("xdotool", arguments);
}

struct RealMainWindow : MainWindowFixture {
    explicit RealMainWindow(const QString &folder)
        : MainWindowFixture(folder)
    {
        main->setPersistsFrame(true);
    }

    // Shown, mapped by the window manager and holding the keyboard.
    void showActive()
    {
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window()));
        xdotool({"windowactivate", "--sync", windowId(window())});
        ASSERT_TRUE(waitUntil([&] { return window()->isActive(); }, 3000));
        settle(200);
    }
};

} // namespace

TEST(MainWindowX11, FirstOpeningIsCentredAndTheLeftFrameComesBack)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs the test desktop's X server";
    useTestHome();
    QSettings(testSettingsFile(), QSettings::IniFormat).remove("MainWindow/frame");
    CaptureFolder folder;
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QPoint left;
    {
        RealMainWindow f(folder.path());
        f.showActive();
        EXPECT_EQ(f.window()->size(), QSize(980, 660));
        // Centred: the frame's middle within a decoration's width of the screen's.
        const QPoint offset = f.window()->frameGeometry().center() - available.center();
        EXPECT_LE(std::abs(offset.x()), 12) << offset.x();
        EXPECT_LE(std::abs(offset.y()), 40) << offset.y();

        // Moved and resized through the X server, as a user's drag would.
        xdotool({"windowsize", "--sync", windowId(f.window()), "1040", "700"});
        xdotool({"windowmove", "--sync", windowId(f.window()), "100", "80"});
        EXPECT_TRUE(f.waitUntil([&] { return f.window()->size() == QSize(1040, 700); }, 3000));
        f.settle(300);
        left = f.window()->framePosition();
        EXPECT_LE((left - QPoint(100, 80)).manhattanLength(), 40) << left.x() << "," << left.y();
        f.main->hide();
        ASSERT_TRUE(f.main->storedFrame().has_value());
        EXPECT_EQ(*f.main->storedFrame(), QRect(left, QSize(1040, 700)));
    }

    RealMainWindow again(folder.path());
    again.showActive();
    EXPECT_EQ(again.window()->size(), QSize(1040, 700));
    EXPECT_TRUE(again.waitUntil([&] { return again.window()->framePosition() == left; }, 3000))
        << again.window()->framePosition().x() << "," << again.window()->framePosition().y();
    QSettings(testSettingsFile(), QSettings::IniFormat).remove("MainWindow/frame");
}

TEST(MainWindowX11, ClosingHidesAndTheMenuKeysActOnTheWindow)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs the test desktop's X server";
    CaptureFolder folder;
    RealMainWindow f(folder.path());
    f.main->setPersistsFrame(false);
    QPointer<QQuickWindow> window = f.window();
    f.showActive();

    // The window manager's close (openbox's Alt+F4): hidden, kept.
    xdotool({"key", "--clearmodifiers", "alt+F4"});
    EXPECT_TRUE(f.waitUntil([&] { return !f.main->isVisible(); }, 3000));
    ASSERT_TRUE(window);

    f.showActive();
    // "Fechar Janela" (Ctrl+W) from the keyboard: hidden the same way.
    xdotool({"key", "--clearmodifiers", "ctrl+w"});
    EXPECT_TRUE(f.waitUntil([&] { return !f.main->isVisible(); }, 3000));
    ASSERT_TRUE(window);

    f.showActive();
    // "Minimizar" (Ctrl+M); showing it again brings it back.
    xdotool({"key", "--clearmodifiers", "ctrl+m"});
    EXPECT_TRUE(f.waitUntil([&] { return bool(window->windowStates() & Qt::WindowMinimized); }, 3000));
    f.main->show();
    EXPECT_TRUE(
        f.waitUntil([&] { return !(window->windowStates() & Qt::WindowMinimized) && window->isExposed(); }, 3000));

    // "Ajustes…" (Ctrl+,) opens the settings page through the menu's action.
    bool settingsAsked = false;
    f.menu.setActions({[&] { settingsAsked = true; }, {}, {}});
    f.showActive();
    xdotool({"key", "--clearmodifiers", "ctrl+comma"});
    EXPECT_TRUE(f.waitUntil([&] { return settingsAsked; }, 3000));
}
