// Global hot keys held down as a person holds them, with the server's
// auto-repeat on, with the release going to a keyboard grab of our own, and
// across changes of the keyboard map.
#include "platform/x11/X11HotKeys.h"
#include "support/Keyboard.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QProcess>
#include <QRasterWindow>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace {

void xdo(const QStringList &arguments)
{
    ASSERT_EQ(QProcess::execute("xdotool", arguments), 0) << arguments.join(' ').toStdString();
}

// Holds KEYS for MS milliseconds while this process goes on handling its events.
void hold(const QString &keys, int ms)
{
    ASSERT_TRUE(TestSupport::holdKeys(keys, [ms] { QTest::qWait(ms); })) << keys.toStdString();
}

// Sees what reaches Qt's connection before the hot keys do: the raw presses
// on the root (every auto-repeat among them) and the keyboard-map notices.
class RawEvents : public QAbstractNativeEventFilter {
public:
    RawEvents()
    {
        xcb_connection_t *connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        auto *xkb = xcb_query_extension_reply(connection, xcb_query_extension(connection, 9, "XKEYBOARD"), nullptr);
        m_xkbEvent = xkb && xkb->present ? xkb->first_event : 0;
        std::free(xkb);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~RawEvents() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray &, void *message, qintptr *) override
    {
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS)
            ++presses;
        else if (type == XCB_MAPPING_NOTIFY
            || (m_xkbEvent && type == m_xkbEvent && (event->pad0 == 0 || event->pad0 == 1)))
            ++mapChanges;
        return false;
    }
    // Waits for a notice of a new keyboard map, then lets the hot keys act on it.
    bool waitForMapChange()
    {
        const bool seen = QTest::qWaitFor([&] { return mapChanges > 0; }, 10000);
        QTest::qWait(100);
        mapChanges = 0;
        return seen;
    }

    int presses = 0;
    int mapChanges = 0;

private:
    std::uint8_t m_xkbEvent = 0;
};

QList<QKeyCombination> captureShortcuts()
{
    QList<QKeyCombination> list;
    for (Qt::Key key : {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4})
        list.append(QKeyCombination(Qt::AltModifier | Qt::ShiftModifier, key));
    return list;
}

QList<int> indices(QSignalSpy &spy)
{
    QList<int> out;
    for (const QList<QVariant> &signal : spy)
        out << signal.at(0).toInt();
    return out;
}

class HotKeysHeld : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X display";
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        keyboard = std::make_unique<TestSupport::KeyboardGuard>();
        hotKeys = X11HotKeys::create();
        ASSERT_TRUE(hotKeys);
        ASSERT_TRUE(hotKeys->registerShortcuts(captureShortcuts()).isEmpty());
        spy = std::make_unique<QSignalSpy>(hotKeys.get(), &HotKeySource::pressed);
        raw = std::make_unique<RawEvents>();
    }

    void TearDown() override
    {
        raw.reset();
        spy.reset();
        hotKeys.reset();
        keyboard.reset();
    }

    // The presses reported so far, after a moment for late ones to come.
    QList<int> settled()
    {
        QTest::qWait(300);
        return indices(*spy);
    }

    std::unique_ptr<TestSupport::KeyboardGuard> keyboard;
    std::unique_ptr<X11HotKeys> hotKeys;
    std::unique_ptr<QSignalSpy> spy;
    std::unique_ptr<RawEvents> raw;
};

} // namespace

TEST_F(HotKeysHeld, AHeldCombinationFiresOnceHoweverLongItIsHeld)
{
    hold("alt+shift+1", 1500);
    EXPECT_EQ(settled(), QList<int> {0});
    EXPECT_GE(raw->presses, 10) << "the server repeated the held key";

    // Each new press is one more, held or tapped.
    hold("alt+shift+3", 800);
    xdo({"key", "alt+shift+3"});
    hold("alt+shift+1", 400);
    EXPECT_EQ(settled(), (QList<int> {0, 2, 2, 0}));

    // With Num Lock on the same holds the same way.
    xdo({"key", "Num_Lock"});
    hold("alt+shift+4", 1000);
    xdo({"key", "Num_Lock"});
    EXPECT_EQ(settled(), (QList<int> {0, 2, 2, 0, 3}));
}

TEST_F(HotKeysHeld, AReleaseThatGoesToOurOwnKeyboardGrabEndsThePress)
{
    // As the selection overlay does: a press opens a window of ours that
    // grabs the keyboard while the keys are still down.
    QRasterWindow window;
    window.resize(200, 100);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    xcb_connection_t *connection = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    int grabs = 0;
    QObject::connect(hotKeys.get(), &HotKeySource::pressed, &window, [&] {
        if (grabs++ > 0)
            return;
        auto *reply = xcb_grab_keyboard_reply(connection,
            xcb_grab_keyboard(connection, 0, xcb_window_t(window.winId()), XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                XCB_GRAB_MODE_ASYNC),
            nullptr);
        EXPECT_TRUE(reply && reply->status == XCB_GRAB_STATUS_SUCCESS);
        std::free(reply);
    });

    hold("alt+shift+2", 600);
    EXPECT_EQ(settled(), QList<int> {1});
    // Esc: the window lets the keyboard go.
    xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
    xcb_flush(connection);

    hold("alt+shift+2", 100);
    EXPECT_EQ(settled(), (QList<int> {1, 1})) << "the next press is a press";
    xdo({"key", "alt+shift+2"});
    EXPECT_EQ(settled(), (QList<int> {1, 1, 1}));
}

TEST_F(HotKeysHeld, AfterTheKeyboardMapChangesEveryCombinationWorksAgain)
{
    // Programmer Dvorak puts the digits on other keys, shifted, in another order.
    ASSERT_EQ(QProcess::execute("setxkbmap", {"-layout", "us", "-variant", "dvp"}), 0);
    ASSERT_TRUE(raw->waitForMapChange());
    for (const char *keys : {"alt+shift+1", "alt+shift+2", "alt+shift+3", "alt+shift+4"})
        xdo({"key", keys});
    EXPECT_EQ(settled(), (QList<int> {0, 1, 2, 3}));
    hold("alt+shift+2", 800);
    EXPECT_EQ(settled(), (QList<int> {0, 1, 2, 3, 1}));

    // Num Lock moved to another modifier: its variant must follow it.
    ASSERT_EQ(QProcess::execute("xmodmap", {"-e", "clear mod2", "-e", "add mod3 = Num_Lock"}), 0);
    ASSERT_TRUE(raw->waitForMapChange());
    xdo({"key", "Num_Lock"});
    xdo({"key", "alt+shift+1"});
    xdo({"key", "Num_Lock"});
    EXPECT_EQ(settled(), (QList<int> {0, 1, 2, 3, 1, 0}));

    // And back to the plain layout.
    ASSERT_EQ(QProcess::execute("setxkbmap", {"-layout", "us"}), 0);
    ASSERT_TRUE(raw->waitForMapChange());
    xdo({"key", "alt+shift+4"});
    EXPECT_EQ(settled(), (QList<int> {0, 1, 2, 3, 1, 0, 3}));
}
