#pragma once

// The real program in its tray run on the test desktop, in a home of its own
// whose settings skip the introduction and save into saveFolder. A test's
// SetUp calls this one first and starts the program when it wants to.
#include "support/TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

namespace TestSupport {

class TrayRunFixture : public ::testing::Test {
protected:
    // EXTRA: settings lines after the save folder; by default screenshots
    // stay off the clipboard, which other tests on the desktop use.
    explicit TrayRunFixture(QByteArray extra = "copiesScreenshots=false\n")
        : m_extra(std::move(extra))
    {
    }

    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs the test desktop";
        saveFolder = home.path() + "/Capturas";
        writeSettings(m_extra);
    }

    void TearDown() override
    {
        // A drag that failed halfway must not leave the button down for the next test.
        if (!IsSkipped())
            tool("xdotool", {"mouseup", "1"});
        app.stop();
    }

    // SetUp skipped the test or failed it: the derived SetUp stops there.
    bool setUpEnded() const { return IsSkipped() || HasFatalFailure(); }

    void writeSettings(const QByteArray &extra) const
    {
        writeFile(home.settingsFile(),
            "[General]\nhasCompletedOnboarding=true\nsaveFolder=" + saveFolder.toUtf8() + "\n" + extra);
    }

    QStringList screenshots() const { return QDir(saveFolder).entryList({"Print *.png"}, QDir::Files, QDir::Name); }
    QStringList recordings() const { return QDir(saveFolder).entryList({"Grava*.mp4"}, QDir::Files, QDir::Name); }
    bool barIsUp() const { return !app.windowsNamed("^Velunta: recording controls").isEmpty(); }
    // The overlay's windows are titled "Velunta: seleção" (Qt appends the
    // application's name); ASCII only, for xdotool's regular expressions.
    static bool overlayIsUp()
    {
        const auto found = run("xdotool", {"search", "--onlyvisible", "--name", "^Velunta: sele"},
            QProcessEnvironment::systemEnvironment(), 10000);
        return found.exitCode == 0 && !found.out.trimmed().isEmpty();
    }

    TempHome home;
    QString saveFolder;
    TrayApp app {home};

private:
    QByteArray m_extra;
};

// The same with the program started before each test.
class StartedTrayRunFixture : public TrayRunFixture {
protected:
    void SetUp() override
    {
        TrayRunFixture::SetUp();
        if (setUpEnded())
            return;
        ASSERT_TRUE(app.start());
    }
};

} // namespace TestSupport
