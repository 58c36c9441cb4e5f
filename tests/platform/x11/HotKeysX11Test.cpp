// Global hot keys against a real X server, with another client holding one
// of the combinations.
#include "platform/x11/X11HotKeys.h"

#include <QGuiApplication>
#include <QProcess>
#include <QRasterWindow>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace {

void press(const QString &keys)
{
    ASSERT_EQ(QProcess::execute("xdotool", {"key", keys}), 0) << keys.toStdString();
}

// Another program that got Alt+Shift+2 first.
class OtherClient {
public:
    OtherClient()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, '2');
        m_code = codes ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
    }
    ~OtherClient() { xcb_disconnect(m_connection); }
    bool grabAltShift2()
    {
        xcb_generic_error_t *error = xcb_request_check(m_connection,
            xcb_grab_key_checked(m_connection, 1, m_root, XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT, m_code,
                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return m_code && !error;
    }

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_keycode_t m_code = 0;
};

QList<QKeyCombination> captureShortcuts()
{
    QList<QKeyCombination> list;
    for (Qt::Key key : {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4})
        list.append(QKeyCombination(Qt::AltModifier | Qt::ShiftModifier, key));
    return list;
}

// The index of the next press, or -1 when none comes.
int nextPress(QSignalSpy &spy, int timeoutMs = 3000)
{
    if (spy.isEmpty() && !spy.wait(timeoutMs))
        return -1;
    return spy.takeFirst().at(0).toInt();
}

} // namespace

TEST(X11HotKeys, ACombinationHeldElsewhereIsUnavailableAndTheOthersFire)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display";
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));

    OtherClient other;
    ASSERT_TRUE(other.grabAltShift2());

    auto hotKeys = X11HotKeys::create();
    ASSERT_TRUE(hotKeys);
    EXPECT_EQ(hotKeys->registerShortcuts(captureShortcuts()), QList<int> {1});
    QSignalSpy spy(hotKeys.get(), &HotKeySource::pressed);

    press("alt+shift+1");
    EXPECT_EQ(nextPress(spy), 0);
    press("alt+shift+4");
    EXPECT_EQ(nextPress(spy), 3);

    // The holder of Alt+Shift+2 gets it, not us; other modifiers are not ours.
    press("alt+shift+2");
    press("alt+1");
    press("ctrl+alt+shift+1");
    EXPECT_EQ(nextPress(spy, 500), -1);

    // Lock keys change the modifier state the server reports.
    press("Num_Lock");
    press("alt+shift+1");
    EXPECT_EQ(nextPress(spy), 0);
    press("Caps_Lock");
    press("alt+shift+3");
    EXPECT_EQ(nextPress(spy), 2);
    press("Num_Lock");
    press("alt+shift+3");
    EXPECT_EQ(nextPress(spy), 2);
    press("Caps_Lock");

    // Also while one of the application's own windows has the keyboard.
    QRasterWindow window;
    window.resize(200, 100);
    window.show();
    window.requestActivate();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    press("alt+shift+1");
    EXPECT_EQ(nextPress(spy), 0);
    window.hide();

    // Numbering continues across calls; one press fires once.
    EXPECT_TRUE(
        hotKeys->registerShortcuts({QKeyCombination(Qt::AltModifier | Qt::ShiftModifier, Qt::Key_9)}).isEmpty());
    press("alt+shift+9");
    EXPECT_EQ(nextPress(spy), 4);
    EXPECT_EQ(nextPress(spy, 300), -1);
}
