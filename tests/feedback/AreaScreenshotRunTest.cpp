// The real program in its tray run: Alt+Shift+2, a drag, and a PNG of the
// dragged size in the save folder; Esc saves nothing.
#include "support/TestSupport.h"

#include <QDir>
#include <QImageReader>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

class AreaScreenshotRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs the test desktop";
        saveFolder = home.path() + "/Capturas";
        writeFile(home.settingsFile(),
            "[General]\nhasCompletedOnboarding=true\ncopiesScreenshots=false\nsaveFolder=" + saveFolder.toUtf8()
                + "\n");
        ASSERT_TRUE(app.start());
    }

    void TearDown() override
    {
        tool("xdotool", {"mouseup", "1"});
        app.stop();
    }

    // The overlay's windows are titled "Velunta: seleção" (Qt appends the
    // application's name); ASCII only, for xdotool's regular expressions.
    static bool overlayIsUp()
    {
        const auto found = run("xdotool", {"search", "--onlyvisible", "--name", "^Velunta: sele"},
            QProcessEnvironment::systemEnvironment(), 10000);
        return found.exitCode == 0 && !found.out.trimmed().isEmpty();
    }

    QStringList captures() const { return QDir(saveFolder).entryList({"Print *.png"}, QDir::Files, QDir::Name); }

    void pressAltShift2()
    {
        tool("xdotool", {"key", "alt+shift+2"});
        ASSERT_TRUE(waitFor([&] { return overlayIsUp(); })) << "no overlay after Alt+Shift+2";
        // Drawn and holding the keyboard.
        QThread::msleep(400);
    }

    TempHome home;
    QString saveFolder;
    TrayApp app{home};
};

} // namespace

TEST_F(AreaScreenshotRun, AltShift2AndADragSaveAPrintOfTheDraggedSize)
{
    pressAltShift2();
    tool("xdotool", {"mousemove", "900", "700", "mousedown", "1"});
    tool("xdotool", {"mousemove", "700", "500", "mousemove", "500", "400", "mouseup", "1"});
    ASSERT_TRUE(waitFor([&] { return captures().size() == 1; })) << "no capture in " << saveFolder.toStdString();
    const QString file = saveFolder + "/" + captures().first();
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
    EXPECT_TRUE(captures().isEmpty());

    // Back to idle: the shortcut brings the overlay up again; a right click cancels too.
    pressAltShift2();
    tool("xdotool", {"mousemove", "300", "300", "click", "3"});
    ASSERT_TRUE(waitFor([&] { return !overlayIsUp(); }));
    QThread::msleep(500);
    EXPECT_TRUE(captures().isEmpty());
}
