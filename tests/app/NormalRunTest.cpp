// The real program in its tray run on the test desktop, driven with xdotool
// as a user would drive it.
#include "support/TestSupport.h"
#include "support/TrayRunFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>

using namespace TestSupport;

namespace {

class NormalRun : public TrayRunFixture {
protected:
    // Screenshots go to the clipboard too, as they do for a user.
    NormalRun()
        : TrayRunFixture("")
    {
    }

    void start() { ASSERT_TRUE(app.start()); }
    QStringList windowsNamed(const QString &pattern) { return app.windowsNamed(pattern); }
};

} // namespace

TEST_F(NormalRun, AltShift1SavesTheWholeScreenCopiesItAndShowsTheToast)
{
    tool("sh", {"-c", "printf '' | xclip -selection clipboard -i"});
    start();
    tool("xdotool", {"key", "alt+shift+1"});
    ASSERT_TRUE(waitFor([&] { return screenshots().size() == 1; })) << "no capture in " << saveFolder.toStdString();
    const QString file = saveFolder + "/" + screenshots().first();
    EXPECT_TRUE(QFileInfo(file).fileName().contains(" às "));

    ASSERT_TRUE(waitFor([&] { return QImageReader(file).canRead(); }));
    const QImage png(file);
    EXPECT_EQ(png.size(), QSize(1920, 1080));
    EXPECT_EQ(png.dotsPerMeterX(), 2835) << "72 dpi at scale 1";
    EXPECT_EQ(png.dotsPerMeterY(), 2835);

    EXPECT_TRUE(waitFor([&] {
        return tool("xclip", {"-selection", "clipboard", "-t", "TARGETS", "-o"}).contains("image/png");
    }));
    const QByteArray copied = tool("xclip", {"-selection", "clipboard", "-t", "image/png", "-o"});
    EXPECT_TRUE(copied.startsWith("\x89PNG"));
    EXPECT_TRUE(waitFor([&] { return !windowsNamed("Velunta: Print salvo").isEmpty(); })) << "the toast is up";
}

TEST_F(NormalRun, WithCopyingOffTheClipboardIsLeftAlone)
{
    writeSettings("copiesScreenshots=false\n");
    tool("sh", {"-c", "printf 'antes' | xclip -selection clipboard -i"});
    start();
    tool("xdotool", {"key", "alt+shift+1"});
    ASSERT_TRUE(waitFor([&] { return screenshots().size() == 1; }));
    QThread::msleep(300);
    EXPECT_EQ(tool("xclip", {"-selection", "clipboard", "-o"}), "antes");
}

TEST_F(NormalRun, TwoQuickPressesMakeOneScreenshot)
{
    start();
    // A screenshot takes a few tens of milliseconds, and on a loaded machine
    // xdotool itself can sleep longer than that between the presses. So the
    // program is stopped while both presses queue up on its connection: it
    // reads them together, as it would two presses in one screen update.
    // They are 6 ms apart, so they do not read as the key's auto-repeat.
    ASSERT_EQ(::kill(pid_t(app.pid()), SIGSTOP), 0);
    tool("xdotool", {"key", "--delay", "6", "alt+shift+1", "alt+shift+1"});
    ASSERT_EQ(::kill(pid_t(app.pid()), SIGCONT), 0);
    ASSERT_TRUE(waitFor([&] { return screenshots().size() >= 1; }));
    QThread::msleep(1500);
    EXPECT_EQ(screenshots().size(), 1);
}

TEST_F(NormalRun, AnUncreatableSaveFolderGivesTheAlertAndStaysUsable)
{
    writeFile(home.path() + "/arquivo", "x");
    saveFolder = home.path() + "/arquivo/Velunta";
    writeSettings("");
    start();
    // The main window shares the alerts' title; it opens with the run.
    ASSERT_TRUE(waitFor([&] { return !windowsNamed("^Velunta$").isEmpty(); }));
    const QStringList mainWindow = windowsNamed("^Velunta$");
    const auto alerts = [&] {
        QStringList found = windowsNamed("^Velunta$");
        for (const QString &id : mainWindow)
            found.removeAll(id);
        return found;
    };
    tool("xdotool", {"key", "alt+shift+1"});
    ASSERT_TRUE(waitFor([&] { return !alerts().isEmpty(); })) << "an alert appears";
    // Dismiss it; the controller is idle again and the next press alerts again.
    tool("xdotool", {"windowactivate", "--sync", alerts().first(), "key", "Return"});
    ASSERT_TRUE(waitFor([&] { return alerts().isEmpty(); }));
    tool("xdotool", {"key", "alt+shift+1"});
    EXPECT_TRUE(waitFor([&] { return !alerts().isEmpty(); }));
    EXPECT_FALSE(QFileInfo::exists(saveFolder));
}

TEST_F(NormalRun, TheTrayIconSitsInTheTrayHost)
{
    if (tool("xdotool", {"search", "--class", "trayer"}).isEmpty())
        GTEST_SKIP() << "no tray host on this desktop";
    start();
    // The tray host reparents the icon's window into its own: some window of
    // ours ends up with a parent that is not the root.
    const auto embedded = [&] {
        const QByteArray ours = tool("xdotool", {"search", "--pid", QString::number(app.pid())});
        for (const QByteArray &id : ours.split('\n')) {
            if (id.isEmpty())
                continue;
            const QByteArray info = tool("xwininfo", {"-children", "-id", QString::fromLatin1(id)});
            // "Root window id: … (the root window)" is always there; only the
            // parent's line tells.
            for (const QByteArray &line : info.split('\n')) {
                if (line.trimmed().startsWith("Parent window id:") && !line.contains("(the root window)"))
                    return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(waitFor(embedded));
}

TEST_F(NormalRun, TheMainWindowOpensClosesToTheTrayAndASecondLaunchBringsItBack)
{
    start();
    QStringList windows;
    ASSERT_TRUE(waitFor([&] { return !(windows = windowsNamed("^Velunta$")).isEmpty(); })) << "the main window opens";
    const QByteArray info = tool("xwininfo", {"-id", windows.first()});
    EXPECT_TRUE(info.contains("Width: 980")) << info.toStdString();
    EXPECT_TRUE(info.contains("Height: 660")) << info.toStdString();

    // Closing only hides it: the run goes on in the tray.
    tool("xdotool", {"windowactivate", "--sync", windows.first(), "key", "alt+F4"});
    ASSERT_TRUE(waitFor([&] { return windowsNamed("^Velunta$").isEmpty(); }));
    EXPECT_EQ(app.process().state(), QProcess::Running);

    const auto second = run(appPath(), {}, home.environment(), 20000);
    EXPECT_EQ(second.exitCode, 0) << "the second launch hands over and ends";
    EXPECT_TRUE(waitFor([&] { return !windowsNamed("^Velunta$").isEmpty(); })) << "the running one shows its window";
}

TEST_F(NormalRun, BeforeTheIntroductionIsCompletedItOpensInstead)
{
    writeFile(home.settingsFile(), "[General]\nsaveFolder=" + saveFolder.toUtf8() + "\n");
    start();
    QString introduction;
    ASSERT_TRUE(waitFor([&] {
        for (const QString &id : app.windowsNamed(".*")) {
            if (tool("xwininfo", {"-id", id}).contains("Width: 680"))
                introduction = id;
        }
        return !introduction.isEmpty();
    })) << "a 680-point-wide introduction window";
    for (const QString &id : app.windowsNamed(".*"))
        EXPECT_FALSE(tool("xwininfo", {"-id", id}).contains("Width: 980")) << "the main window waits";
}
