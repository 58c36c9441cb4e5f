#include "platform/WindowLevel.h"
#include "platform/NullPlatform.h"
#include "support/AwaitTask.h"

#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

bool has(const std::vector<NativeWindowId> &ids, const QWindow &window)
{
    return std::find(ids.begin(), ids.end(), NativeWindowId(window.winId())) != ids.end();
}

} // namespace

TEST(WindowLevel, OnlyVisibleNormalShareableWindowsAreCaptured)
{
    QWindow main;
    main.resize(100, 100);
    main.show();
    QWindow toast;
    toast.resize(100, 40);
    WindowLevel::set(&toast, WindowLevel::Level::floating);
    WindowLevel::setSharingNone(&toast);
    toast.show();
    QWindow selection;
    WindowLevel::set(&selection, WindowLevel::Level::overlay);
    selection.show();
    QWindow unshareable; // normal level, but marked
    WindowLevel::setSharingNone(&unshareable);
    unshareable.show();
    QWindow menu;
    menu.setFlags(Qt::Popup);
    menu.show();
    QWindow stayOnTop;
    stayOnTop.setFlags(Qt::Window | Qt::WindowStaysOnTopHint);
    stayOnTop.show();
    QWindow hidden;
    hidden.create();
    QWindow neverCreated;

    const auto kept = WindowLevel::capturableWindowIds();
    const auto excluded = WindowLevel::excludedWindowIds();
    EXPECT_TRUE(has(kept, main));
    EXPECT_FALSE(has(excluded, main));
    for (const QWindow *window : {&toast, &selection, &unshareable, &menu, &stayOnTop, &hidden}) {
        EXPECT_FALSE(has(kept, *window));
        EXPECT_TRUE(has(excluded, *window));
    }
    EXPECT_EQ(neverCreated.handle(), nullptr); // asking did not create it

    EXPECT_EQ(WindowLevel::of(&main), WindowLevel::Level::normal);
    EXPECT_EQ(WindowLevel::of(&selection), WindowLevel::Level::overlay);
    EXPECT_EQ(WindowLevel::of(&menu), WindowLevel::Level::floating);
    // A recorded level wins over the flags.
    WindowLevel::set(&stayOnTop, WindowLevel::Level::normal);
    EXPECT_TRUE(has(WindowLevel::capturableWindowIds(), stayOnTop));

    main.hide();
    EXPECT_FALSE(has(WindowLevel::capturableWindowIds(), main));
    EXPECT_TRUE(has(WindowLevel::excludedWindowIds(), main));
}

TEST(ScreenSource, WaylandSessionsAreRecognisedBySessionNotByPlatform)
{
    QProcessEnvironment x11;
    x11.insert("XDG_SESSION_TYPE", "x11");
    x11.insert("DISPLAY", ":0");
    EXPECT_FALSE(isWaylandSession(x11));
    QProcessEnvironment bare;
    EXPECT_FALSE(isWaylandSession(bare));
    QProcessEnvironment session;
    session.insert("XDG_SESSION_TYPE", "wayland");
    session.insert("DISPLAY", ":0"); // XWayland
    EXPECT_TRUE(isWaylandSession(session));
    QProcessEnvironment socket;
    socket.insert("WAYLAND_DISPLAY", "wayland-0");
    EXPECT_TRUE(isWaylandSession(socket));
}

TEST(NullPlatform, OffersNothingAndSaysSo)
{
    NullScreenSource screens;
    EXPECT_TRUE(screens.displays().empty());
    EXPECT_FALSE(screens.screenCaptureAllowed());
    EXPECT_FALSE(screens.requestScreenCapture());
    EXPECT_EQ(displayUnderPointer(screens), std::nullopt);
    auto grab = awaitTask(screens.grab(GrabRequest {QRect(0, 0, 10, 10), {}, false}));
    ASSERT_FALSE(grab);
    EXPECT_FALSE(grab.error().description.isEmpty());

    NullHotKeys hotKeys;
    const QKeyCombination key(Qt::AltModifier | Qt::ShiftModifier, Qt::Key_1);
    EXPECT_EQ(hotKeys.registerShortcuts({key, key}), (QList<int> {0, 1}));
    EXPECT_EQ(hotKeys.registerShortcuts({key}), QList<int> {2});
}
