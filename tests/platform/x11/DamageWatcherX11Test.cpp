// The change watcher of a recording on the test desktop's X server: a
// resting pointer that moves is noticed at once, and one warped by a client
// (which makes no motion event) still within the resting poll.
#include "platform/x11/PointerSchedule.h"
#include "platform/x11/X11DamageWatcher.h"
#include "platform/x11/XcbPointers.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class DamageWatcherX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs the test desktop";
        m_connection = xcb_connect(nullptr, nullptr);
        ASSERT_EQ(xcb_connection_has_error(m_connection), 0);
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_root = screen->root;
        m_area = QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);
        moveTo(QPoint(200, 200));
        auto watcher = X11DamageWatcher::open(0, m_area);
        ASSERT_TRUE(watcher) << qPrintable(watcher.error().description);
        m_watcher = std::move(*watcher);
    }
    void TearDown() override
    {
        m_watcher.reset();
        if (m_connection)
            xcb_disconnect(m_connection);
    }

    // Moves the pointer as a device would (XTest), or as a client warping it.
    void moveTo(QPoint position, bool warp = false)
    {
        if (warp)
            xcb_warp_pointer(m_connection, XCB_NONE, m_root, 0, 0, 0, 0, int16_t(position.x()), int16_t(position.y()));
        else
            xcb_test_fake_input(m_connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root, int16_t(position.x()),
                int16_t(position.y()), 0);
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

    // Takes every change up to now and lets the pointer count as resting.
    void settle()
    {
        const auto until = Clock::now() + PointerSchedule::rest + 300ms;
        while (Clock::now() < until) {
            if (m_watcher->wait(50ms) == X11DamageWatcher::Event::changed) {
                m_watcher->rearm();
                m_watcher->changedSinceRearm();
            }
        }
        ASSERT_EQ(m_watcher->wait(100ms), X11DamageWatcher::Event::timedOut);
    }

    // How long the watcher took to report a change after CHANGE.
    template <typename Change> std::chrono::milliseconds timeToNotice(Change change)
    {
        const auto start = Clock::now();
        change();
        EXPECT_EQ(m_watcher->wait(2s), X11DamageWatcher::Event::changed);
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    QRect m_area;
    std::unique_ptr<X11DamageWatcher> m_watcher;
};

TEST_F(DamageWatcherX11Test, ARestingPointerIsSeenWhenItMovesOrIsWarped)
{
    settle();
    // Reported motion: well before the resting poll would have come by.
    EXPECT_LT(timeToNotice([this] { moveTo(QPoint(400, 300)); }), 80ms);
    settle();
    // A warp makes no motion event: the resting poll finds it.
    EXPECT_LT(
        timeToNotice([this] { moveTo(QPoint(600, 500), true); }), PointerSchedule::restingPeriodWithMotion + 150ms);
    settle();
    // Nothing moved: nothing to report.
    EXPECT_EQ(m_watcher->wait(600ms), X11DamageWatcher::Event::timedOut);
}

} // namespace
