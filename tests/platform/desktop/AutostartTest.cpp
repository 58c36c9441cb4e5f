// The autostart switch is the file in $XDG_CONFIG_HOME/autostart, read each
// time, so whatever happens to the file shows on the switch.
#include "platform/desktop/Autostart.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

class AutostartFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("XDG_CONFIG_HOME", home.configHome().toUtf8());
        path = home.configHome() + "/autostart/app.velunta.Velunta.desktop";
    }

    // The Exec line's value as the desktop entry rules read it back: string
    // escapes first, then the quoting rule.
    static QString execProgram(const QByteArray &entry)
    {
        QString exec;
        for (const QByteArray &line : entry.split('\n'))
            if (line.startsWith("Exec="))
                exec = QString::fromUtf8(line.mid(5));
        QString unescaped;
        for (qsizetype i = 0; i < exec.size(); ++i) {
            if (exec[i] == '\\' && i + 1 < exec.size() && exec[i + 1] == '\\')
                ++i;
            unescaped += exec[i];
        }
        if (!unescaped.startsWith('"'))
            return unescaped.replace("%%", "%");
        QString program;
        for (qsizetype i = 1; i + 1 < unescaped.size(); ++i) {
            if (unescaped[i] == '\\')
                ++i;
            program += unescaped[i];
        }
        return program.replace("%%", "%");
    }

    TempHome home;
    QString path;
};

} // namespace

TEST_F(AutostartFile, SwitchingOnWritesAnEntryThatStartsTheProgramAndOffRemovesIt)
{
    Autostart autostart("/usr/lib/velunta/Velunta.app/Contents/MacOS/Velunta");
    QSignalSpy changed(&autostart, &Autostart::enabledChanged);
    EXPECT_EQ(Autostart::entryPath(), path);
    EXPECT_FALSE(autostart.isEnabled()) << "off by default";

    ASSERT_TRUE(autostart.setEnabled(true)) << autostart.errorText().toStdString();
    EXPECT_TRUE(autostart.isEnabled());
    const QByteArray entry = readFile(path);
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("\nType=Application\n"));
    EXPECT_EQ(execProgram(entry), "/usr/lib/velunta/Velunta.app/Contents/MacOS/Velunta");

    ASSERT_TRUE(autostart.setEnabled(false));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(autostart.isEnabled());
    // Switching off what is already off is fine too.
    EXPECT_TRUE(autostart.setEnabled(false));
    EXPECT_TRUE(autostart.errorText().isEmpty());
    EXPECT_EQ(changed.size(), 3);
}

TEST_F(AutostartFile, HandEditsShowOnTheSwitch)
{
    Autostart autostart("/opt/velunta");
    ASSERT_TRUE(autostart.setEnabled(true));
    QFile::remove(path);
    EXPECT_FALSE(autostart.isEnabled()) << "removed by hand";

    // Disabled the way desktops' start-up settings do it.
    writeFile(path, "[Desktop Entry]\nType=Application\nExec=/opt/velunta\nHidden=true\n");
    EXPECT_FALSE(autostart.isEnabled());
    writeFile(path, "[Desktop Entry]\nExec=/opt/velunta\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(autostart.isEnabled());
    // The same keys in another group do not count.
    writeFile(path, "[Desktop Entry]\nExec=/opt/velunta\n\n[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(autostart.isEnabled());

    // Switching on again replaces a disabled entry with a working one.
    writeFile(path, "[Desktop Entry]\nExec=/old/path\nHidden=true\n");
    ASSERT_TRUE(autostart.setEnabled(true));
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(execProgram(readFile(path)), "/opt/velunta");
}

TEST_F(AutostartFile, ProgramPathsWithSpecialCharactersSurviveTheExecRules)
{
    for (const QString &program : {QString("/home/ana/Meus Apps/Velunta"), QString("/opt/v$x/a\"b`c"),
             QString("/opt/back\\slash/100%/Velunta")}) {
        Autostart autostart(program);
        ASSERT_TRUE(autostart.setEnabled(true));
        EXPECT_EQ(execProgram(readFile(path)), program) << readFile(path).constData();
    }
}

TEST_F(AutostartFile, AFolderThatCannotBeWrittenGivesAnErrorAndChangesNothing)
{
    // A file where the autostart folder should be.
    QDir().mkpath(home.configHome());
    writeFile(home.configHome() + "/autostart", "not a folder");
    Autostart autostart("/opt/velunta");
    EXPECT_FALSE(autostart.setEnabled(true));
    EXPECT_TRUE(autostart.errorText().contains("autostart")) << autostart.errorText().toStdString();
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_EQ(readFile(home.configHome() + "/autostart"), "not a folder");

    // The next success clears the message.
    QFile::remove(home.configHome() + "/autostart");
    EXPECT_TRUE(autostart.setEnabled(true));
    EXPECT_TRUE(autostart.errorText().isEmpty());
}
