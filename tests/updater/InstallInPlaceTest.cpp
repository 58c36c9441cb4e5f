#include "support/TestSupport.h"
#include "updater/UpdateEngine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Tests run as root, which may write anywhere; the probe runs as nobody.
QString askAsNobody(const QString &bundle)
{
    const auto result = TestSupport::run("setpriv",
        {"--reuid=65534", "--regid=65534", "--clear-groups", qEnvironmentVariable("INSTALL_IN_PLACE_PROBE"), bundle},
        QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    return QString::fromUtf8(result.out).trimmed();
}

void makeFolder(const QString &path, mode_t mode)
{
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), mode);
}

} // namespace

TEST(InstallInPlace, NeedsTheBundleAndItsFolderWritable)
{
    QTemporaryDir dir;
    makeFolder(dir.path(), 0755);

    makeFolder(dir.path() + "/open", 0777);
    makeFolder(dir.path() + "/open/Velunta.app", 0777);
    EXPECT_EQ(askAsNobody(dir.path() + "/open/Velunta.app"), "yes");

    makeFolder(dir.path() + "/open/Locked.app", 0755);
    EXPECT_EQ(askAsNobody(dir.path() + "/open/Locked.app"), "no") << "read-only bundle";

    makeFolder(dir.path() + "/shut", 0755);
    makeFolder(dir.path() + "/shut/Velunta.app", 0777);
    EXPECT_EQ(askAsNobody(dir.path() + "/shut/Velunta.app"), "no") << "read-only parent folder";

    EXPECT_EQ(askAsNobody(dir.path() + "/open/Missing.app"), "no");
}

TEST(InstallInPlace, TranslocatedCopiesNeverInstallInPlace)
{
    QTemporaryDir dir;
    const QString translocated = dir.path() + "/AppTranslocation/Velunta.app";
    QDir().mkpath(translocated);
    EXPECT_FALSE(UpdateEngine::canInstallInPlace(translocated));
    QDir().mkpath(dir.path() + "/plain/Velunta.app");
    EXPECT_TRUE(UpdateEngine::canInstallInPlace(dir.path() + "/plain/Velunta.app"));
    EXPECT_FALSE(UpdateEngine::canInstallInPlace(QString()));
}
