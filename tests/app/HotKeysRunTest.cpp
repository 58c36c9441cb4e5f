// The real program's global shortcuts held down as a person holds them, with
// the server's auto-repeat on, and after a change of keyboard layout.
#include "support/Keyboard.h"
#include "support/TestSupport.h"
#include "support/TrayRunFixture.h"

#include <QDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

class HotKeysRun : public TrayRunFixture {
protected:
    void SetUp() override
    {
        TrayRunFixture::SetUp();
        if (setUpEnded())
            return;
        keyboard = std::make_unique<KeyboardGuard>();
        ASSERT_TRUE(app.start());
    }

    void TearDown() override
    {
        TrayRunFixture::TearDown();
        keyboard.reset();
    }

    static void hold(const QString &keys, int ms)
    {
        ASSERT_TRUE(holdKeys(keys, [ms] { QThread::msleep(ms); })) << keys.toStdString();
    }
    static void key(const QString &keys) { tool("xdotool", {"key", keys}); }

    // An area selection opened by the shortcut, then left with Esc.
    void expectOverlayThenEscape(const char *what)
    {
        ASSERT_TRUE(waitFor([&] { return overlayIsUp(); })) << what << ": no selection overlay";
        key("Escape");
        ASSERT_TRUE(waitFor([&] { return !overlayIsUp(); })) << what << ": Esc did not close it";
    }

    std::unique_ptr<KeyboardGuard> keyboard;
};

} // namespace

TEST_F(HotKeysRun, HoldingAltShift1ForTwoSecondsSavesOneScreenshot)
{
    hold("alt+shift+1", 2000);
    ASSERT_TRUE(waitFor([&] { return !screenshots().isEmpty(); }));
    // Repeats would have been taken for presses long before this.
    QThread::msleep(2500);
    EXPECT_EQ(screenshots().size(), 1);
}

TEST_F(HotKeysRun, HoldingAltShift3StartsARecordingAndTheNextHoldStopsIt)
{
    hold("alt+shift+3", 1500);
    ASSERT_TRUE(waitFor([&] { return barIsUp(); })) << "no control bar";
    QThread::msleep(1500);
    EXPECT_TRUE(barIsUp()) << "the hold must not also stop it";
    EXPECT_TRUE(recordings().isEmpty());

    hold("alt+shift+3", 1500);
    ASSERT_TRUE(waitFor([&] { return recordings().size() == 1; }, 30000)) << "the second hold stops it";
    QThread::msleep(1500);
    EXPECT_FALSE(barIsUp()) << "and does not start another";
    EXPECT_EQ(recordings().size(), 1);
}

TEST_F(HotKeysRun, AnAreaShortcutReleasedInsideTheOverlayStillWorksNextTime)
{
    // Let go only once the overlay is up and holds the keyboard: the release
    // reaches its grab, not the hot keys.
    ASSERT_TRUE(holdKeys("alt+shift+2", [&] {
        waitFor([&] { return overlayIsUp(); });
        QThread::msleep(300);
    }));
    expectOverlayThenEscape("first press");
    // Taps, too short for a repeat that could hide a press taken for one.
    key("alt+shift+2");
    expectOverlayThenEscape("second press");
    key("alt+shift+2");
    expectOverlayThenEscape("third press");
}

TEST_F(HotKeysRun, AfterALayoutChangeAllFourShortcutsWork)
{
    // Programmer Dvorak puts the digits on other keys.
    ASSERT_EQ(QProcess::execute("setxkbmap", {"-layout", "us", "-variant", "dvp"}), 0);
    // The program hears of it through its own connection; nothing outside
    // shows when it has grabbed again.
    QThread::msleep(1000);

    hold("alt+shift+1", 300);
    ASSERT_TRUE(waitFor([&] { return screenshots().size() == 1; })) << "Alt+Shift+1";
    hold("alt+shift+2", 300);
    expectOverlayThenEscape("Alt+Shift+2");
    key("alt+shift+3");
    ASSERT_TRUE(waitFor([&] { return barIsUp(); })) << "Alt+Shift+3 starts";
    QThread::msleep(1000);
    key("alt+shift+3");
    ASSERT_TRUE(waitFor([&] { return recordings().size() == 1; }, 30000)) << "Alt+Shift+3 stops";
    ASSERT_TRUE(waitFor([&] { return !barIsUp(); }));
    key("alt+shift+4");
    expectOverlayThenEscape("Alt+Shift+4");
}
