#include "support/TestSupport.h"
#include "updater/CodeSignature.h"
#include "updater/UpdateCrypto.h"
#include "updater/UpdateEngine.h"
#include "updater/UpdateFixtures.h"
#include "updater/UpdateManifest.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TestSupport::ProcessResult publish(const QStringList &arguments)
{
    return TestSupport::run(
        qEnvironmentVariable("VELUNTA_PUBLISH"), arguments, QProcessEnvironment::systemEnvironment());
}

} // namespace

TEST(PublishTool, KeySignPackAndManifestMakeAReleaseTheEngineAccepts)
{
    QTemporaryDir dir;
    const QString key = dir.path() + "/key.pem";
    const QString bundle = dir.path() + "/Velunta.app";
    const QString archive = dir.path() + "/Velunta-6.zip";
    Fixtures::makeBundle(bundle, "app.velunta.Velunta", "6");

    const auto keygen = publish({"keygen", key});
    ASSERT_EQ(keygen.exitCode, 0) << keygen.err.toStdString();
    const QString publicKey = QString::fromUtf8(keygen.out).trimmed();
    EXPECT_TRUE(UpdateCrypto::decodeBase64(publicKey.toLatin1(), 32));
    EXPECT_EQ(QFile::permissions(key) & (QFile::ReadOther | QFile::ReadGroup), 0);
    EXPECT_NE(publish({"keygen", key}).exitCode, 0) << "never overwrites a private key";
    EXPECT_EQ(QString::fromUtf8(publish({"public-key", key}).out).trimmed(), publicKey);

    EXPECT_NE(publish({"verify", bundle}).exitCode, 0) << "not signed yet";
    ASSERT_EQ(publish({"sign", "--key", key, bundle}).exitCode, 0);
    const auto verified = publish({"verify", bundle});
    EXPECT_EQ(verified.exitCode, 0) << verified.err.toStdString();
    EXPECT_TRUE(verified.out.contains(publicKey.toLatin1()));

    ASSERT_EQ(publish({"pack", bundle, archive}).exitCode, 0);
    const QString site = dir.path() + "/site";
    const QStringList release {"manifest", "--key", key, "--archive", archive, "--build", "6", "--version", "1.6",
        "--url", "https://updates.example/Velunta-6.zip", "--minimum-system", "2.31", "--notes",
        "Notas\ncom duas linhas", "--out", site};
    EXPECT_NE(publish(release + QStringList {"--rollout", "101"}).exitCode, 0);
    EXPECT_NE(publish(release + QStringList {"--channel", "nightly"}).exitCode, 0);
    ASSERT_EQ(publish(release + QStringList {"--rollout", "20", "--channel", "beta"}).exitCode, 0);
    EXPECT_FALSE(QFile::exists(site + "/manifest.json"));

    const auto manifest = UpdateManifest::decode(TestSupport::readFile(site + "/beta.json"));
    ASSERT_TRUE(manifest);
    EXPECT_EQ(manifest->build, 6);
    EXPECT_EQ(manifest->notes, "Notas\ncom duas linhas");
    EXPECT_EQ(manifest->rollout, 20);
    EXPECT_EQ(manifest->paused, std::nullopt);
    EXPECT_EQ(manifest->size, QFile(archive).size());
    EXPECT_TRUE(UpdateEngine::verifyPackage(archive, *manifest, publicKey));

    const auto app = UpdateEngine::extractApp(archive, dir.path() + "/extracted");
    ASSERT_TRUE(app);
    EXPECT_TRUE(CodeSignature::verifyCandidate(*app, bundle)) << "the packed bundle keeps its signature";

    ASSERT_EQ(publish(release + QStringList {"--paused"}).exitCode, 0);
    EXPECT_EQ(UpdateManifest::decode(TestSupport::readFile(site + "/manifest.json"))->paused, true);
    EXPECT_EQ(publish({"frobnicate"}).exitCode, 2);
}

TEST(PublishTool, PacksTheInstalledModesWhateverTheUmaskOfTheTree)
{
    // A tree built under umask 002: group-writable files and folders.
    QTemporaryDir dir;
    const QString bundle = dir.path() + "/Velunta.app";
    Fixtures::makeBundle(bundle, "app.velunta.Velunta", "6");
    QDirIterator it(bundle, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList all {bundle};
    while (it.hasNext())
        all.append(it.next());
    for (const QString &path : all) {
        const QFileInfo info(path);
        ::chmod(QFile::encodeName(path).constData(), info.isDir() || info.isExecutable() ? 0775 : 0664);
    }
    const QString archive = dir.path() + "/Velunta-6.zip";
    ASSERT_EQ(publish({"pack", bundle, archive}).exitCode, 0);

    QMap<QString, unsigned> modes;
    struct archive *zip = archive_read_new();
    archive_read_support_format_zip(zip);
    ASSERT_EQ(archive_read_open_filename(zip, QFile::encodeName(archive).constData(), 65536), ARCHIVE_OK);
    archive_entry *entry = nullptr;
    while (archive_read_next_header(zip, &entry) == ARCHIVE_OK)
        modes.insert(QString::fromUtf8(archive_entry_pathname(entry)), archive_entry_perm(entry));
    archive_read_free(zip);
    EXPECT_EQ(modes.value("Velunta.app/"), 0755u);
    EXPECT_EQ(modes.value("Velunta.app/Contents/"), 0755u);
    EXPECT_EQ(modes.value("Velunta.app/Contents/MacOS/Velunta"), 0755u);
    EXPECT_EQ(modes.value("Velunta.app/Contents/Info.plist"), 0644u);
    EXPECT_EQ(modes.value("Velunta.app/Contents/Resources/about.txt"), 0644u);
    EXPECT_EQ(modes.size(), 7) << QStringList(modes.keys()).join(' ').toStdString();
}
