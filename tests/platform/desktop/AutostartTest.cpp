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

    // The Exec line as the desktop entry rules read it back: string escapes
    // first, then the quoting rule. The program, then each argument.
    static QStringList execCommand(const QByteArray &entry)
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
        QStringList words;
        QString word;
        bool quoted = false;
        for (qsizetype i = 0; i < unescaped.size(); ++i) {
            if (quoted && unescaped[i] == '\\' && i + 1 < unescaped.size())
                word += unescaped[++i];
            else if (unescaped[i] == '"')
                quoted = !quoted;
            else if (unescaped[i] == ' ' && !quoted) {
                words << word.replace("%%", "%");
                word.clear();
            } else
                word += unescaped[i];
        }
        words << word.replace("%%", "%");
        return words;
    }
    static QString execProgram(const QByteArray &entry) { return execCommand(entry).value(0); }

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
    EXPECT_EQ(execCommand(entry), QStringList({"/usr/lib/velunta/Velunta.app/Contents/MacOS/Velunta", "--background"}))
        << "starts quietly, without the main window";

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
        EXPECT_EQ(execCommand(readFile(path)), QStringList({program, "--background"})) << readFile(path).constData();
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

TEST_F(AutostartFile, AnOlderEntryForThisProgramGetsTheBackgroundFlagAndNothingElseChanges)
{
    const QString program = "/home/ana/Meus Apps/Velunta";
    Autostart autostart(program);
    // As an older Velunta wrote it, plus a line of the user's own; disabled.
    const QByteArray old = "[Desktop Entry]\nType=Application\nName=Velunta\nExec=\"/home/ana/Meus Apps/Velunta\"\n"
                           "Name[en]=Velunta\nX-GNOME-Autostart-enabled=false\n";
    writeFile(path, old);
    EXPECT_FALSE(autostart.isEnabled());
    ASSERT_TRUE(autostart.updateOldEntry());
    QByteArray updated = readFile(path);
    EXPECT_EQ(execCommand(updated), QStringList({program, "--background"}));
    QByteArray expected = old;
    expected.replace("Velunta\"\n", "Velunta\" --background\n");
    EXPECT_EQ(updated, expected) << "only the Exec line changes";
    EXPECT_FALSE(autostart.isEnabled()) << "a disabled entry stays disabled";

    // On, and written before the flag: still on, and on after the update.
    writeFile(path, "[Desktop Entry]\nType=Application\nExec=\"/home/ana/Meus Apps/Velunta\"\n");
    EXPECT_TRUE(autostart.isEnabled());
    ASSERT_TRUE(autostart.updateOldEntry());
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_EQ(execCommand(readFile(path)), QStringList({program, "--background"}));

    // Done once: a second update leaves the file as it is.
    updated = readFile(path);
    ASSERT_TRUE(autostart.updateOldEntry());
    EXPECT_EQ(readFile(path), updated);
}

TEST_F(AutostartFile, AnEntryForAnythingElseIsLeftAlone)
{
    Autostart autostart("/opt/velunta");
    // Another program, this one with the user's own arguments, an Exec that
    // only looks alike in another group, and no Exec at all.
    for (const QByteArray &foreign :
        QList<QByteArray> {"[Desktop Entry]\nExec=/usr/bin/other\n", "[Desktop Entry]\nExec=/opt/velunta --record\n",
            "[Desktop Entry]\nExec=/opt/velunta2\n", "[Desktop Entry]\nExec=env /opt/velunta\n",
            "[Desktop Entry]\nName=x\n\n[Desktop Action y]\nExec=/opt/velunta\n", "[Desktop Entry]\nName=x\n"}) {
        writeFile(path, foreign);
        EXPECT_TRUE(autostart.updateOldEntry());
        EXPECT_EQ(readFile(path), foreign);
        EXPECT_TRUE(autostart.isEnabled()) << "the switch reads the file as before";
    }
    // And with no entry, none is made.
    QFile::remove(path);
    EXPECT_TRUE(autostart.updateOldEntry());
    EXPECT_FALSE(QFileInfo::exists(path));
}
