// The desktop services that need no user: the trash.
#include "platform/desktop/LinuxDesktop.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace TestSupport;

TEST(LinuxDesktop, TrashWorksInAHomeWithoutItsDataFolderAndNeverInTheCurrentFolder)
{
    TempHome home;
    home.applyToThisProcess();
    qunsetenv("XDG_DATA_HOME");
    ASSERT_FALSE(QFileInfo::exists(home.path() + "/.local/share"));
    QTemporaryDir elsewhere;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));

    const QString capture = home.path() + "/Print.png";
    writeFile(capture, "png");
    LinuxDesktop desktop;
    EXPECT_TRUE(desktop.moveToTrash(capture));
    EXPECT_FALSE(QFileInfo::exists(capture));
    EXPECT_TRUE(QFileInfo::exists(home.path() + "/.local/share/Trash/files/Print.png"));
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty()) << "nothing trashed into the current folder";

    EXPECT_FALSE(desktop.moveToTrash(home.path() + "/nao-existe.png"));
    QDir::setCurrent(previous);
}
