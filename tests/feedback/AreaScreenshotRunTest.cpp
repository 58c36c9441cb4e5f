// The real program in its tray run: Alt+Shift+2, a drag, and a PNG of the
// dragged size in the save folder; Esc saves nothing.
#include "support/TestSupport.h"
#include "support/TrayRunFixture.h"

#include <QDir>
#include <QImageReader>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

class AreaScreenshotRun : public StartedTrayRunFixture {
protected:
    void pressAltShift2()
    {
        tool("xdotool", {"key", "alt+shift+2"});
        ASSERT_TRUE(waitFor([&] { return overlayIsUp(); })) << "no overlay after Alt+Shift+2";
        // Drawn and holding the keyboard.
        QThread::msleep(400);
    }
};

} // namespace

TEST_F(AreaScreenshotRun, AltShift2AndADragSaveAPrintOfTheDraggedSize)
{
    pressAltShift2();
    tool("xdotool", {"mousemove", "900", "700", "mousedown", "1"});
    tool("xdotool", {"mousemove", "700", "500", "mousemove", "500", "400", "mouseup", "1"});
    ASSERT_TRUE(waitFor([&] { return screenshots().size() == 1; })) << "no capture in " << saveFolder.toStdString();
    const QString file = saveFolder + "/" + screenshots().first();
    ASSERT_TRUE(waitFor([&] { return QImageReader(file).canRead(); }));
    EXPECT_EQ(QImageReader(file).size(), QSize(400, 300));
    EXPECT_TRUE(waitFor([&] { return !overlayIsUp(); }));
}

TEST_F(AreaScreenshotRun, EscSavesNothingAndTheNextSelectionStillWorks)
{
    pressAltShift2();
    tool("xdotool", {"key", "Escape"});
    ASSERT_TRUE(waitFor([&] { return !overlayIsUp(); })) << "Esc did not close the overlay";
    QThread::msleep(1000);
    EXPECT_TRUE(screenshots().isEmpty());

    // Back to idle: the shortcut brings the overlay up again; a right click cancels too.
    pressAltShift2();
    tool("xdotool", {"mousemove", "300", "300", "click", "3"});
    ASSERT_TRUE(waitFor([&] { return !overlayIsUp(); }));
    QThread::msleep(500);
    EXPECT_TRUE(screenshots().isEmpty());
}
