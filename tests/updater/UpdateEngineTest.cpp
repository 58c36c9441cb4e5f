#include "updater/UpdateEngine.h"
#include "TestHttpServer.h"
#include "UpdateFixtures.h"
#include "support/TestSupport.h"
#include "tools/Publisher.h"
#include "tools/ZipWriter.h"
#include "updater/CodeSignature.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using Fixtures::await;

namespace {

// Records its command line and where its standard streams lead, next to
// itself in the work folder.
const QByteArray recordingHelper = "#!/bin/sh\n"
                                   "dir=$(dirname \"$0\")\n"
                                   "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$dir/args.tmp\"\n"
                                   "fds=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
                                   "printf '%s\\n' \"$fds\" > \"$dir/stdio.txt\"\n"
                                   "mv \"$dir/args.tmp\" \"$dir/args.txt\"\n";

class UpdateEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isListening());
        temp = root.path() + "/tmp";
        QDir().mkpath(temp);
        savedTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temp));

        running = root.path() + "/installed/Velunta.app";
        Fixtures::makeBundle(running, "app.velunta.Velunta", "5", recordingHelper);
        ASSERT_TRUE(Publisher::signBundle(running, key));
        config = UpdateConfig {server.url("/"), key.publicKeyBase64(), true};
    }

    void TearDown() override
    {
        qputenv("TMPDIR", savedTemp);
        for (const QString &work : Fixtures::workFolders(temp))
            QDir(temp + "/" + work).removeRecursively();
    }

    Bundle runningBundle() const { return *Bundle::at(running); }

    // A new version's bundle, signed with KEY unless told otherwise.
    QString makeCandidate(const QString &name, const QString &identifier = "app.velunta.Velunta",
        const QString &build = "6", const UpdateCrypto::SigningKey *signer = nullptr)
    {
        const QString path = root.path() + "/releases/" + name + "/Velunta.app";
        Fixtures::makeBundle(path, identifier, build);
        EXPECT_TRUE(Publisher::signBundle(path, signer ? *signer : key));
        return path;
    }

    // Serves ARCHIVE at /NAME.zip and gives its signed manifest.
    UpdateManifest publishArchive(const QString &name, const QString &archive, qint64 build = 6)
    {
        server.serve("/" + name + ".zip", TestSupport::readFile(archive));
        Publisher::Release release;
        release.build = build;
        release.version = "1.6";
        release.url = server.url("/" + name + ".zip").toString();
        release.minimumSystem = "2.0";
        release.notes = "Correções de estabilidade.";
        const auto manifest = Publisher::makeManifest(release, archive, key);
        EXPECT_TRUE(manifest) << (manifest ? "" : manifest.error().toStdString());
        return *manifest;
    }

    UpdateManifest publish(const QString &name, const QString &bundle, qint64 build = 6)
    {
        const QString archive = root.path() + "/releases/" + name + ".zip";
        EXPECT_TRUE(Publisher::packBundle(bundle, archive));
        return publishArchive(name, archive, build);
    }

    // Prepares MANIFEST against the test's running bundle; every failure
    // must leave the temporary folder as it found it.
    Result<PreparedUpdate, UpdateError> prepare(const UpdateManifest &manifest)
    {
        auto result = await(UpdateEngine::prepare(manifest, config, {}, runningBundle()));
        if (!result) {
            EXPECT_EQ(Fixtures::workFolders(temp).join(' ').toStdString(), "")
                << result.error().shortForm().toStdString();
        }
        return result;
    }

    QString failureOf(const UpdateManifest &manifest)
    {
        const auto result = prepare(manifest);
        if (!result)
            return result.error().shortForm();
        QDir(result->workFolder.toLocalFile()).removeRecursively();
        return QStringLiteral("success");
    }

    QTemporaryDir root;
    QString temp;
    QByteArray savedTemp;
    TestHttpServer server;
    UpdateCrypto::SigningKey key = UpdateCrypto::SigningKey::generate();
    QString running;
    UpdateConfig config;
};

} // namespace

TEST_F(UpdateEngineTest, ValidReleaseIsDownloadedVerifiedAndHandedToTheHelper)
{
    // Enough bytes to arrive in many pieces, and to show progress on the way.
    const QString candidate = makeCandidate("good");
    QByteArray noise(3 << 20, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    TestSupport::writeFile(candidate + "/Contents/Resources/large.bin", noise);
    ASSERT_TRUE(Publisher::signBundle(candidate, key));
    const UpdateManifest manifest = publish("good", candidate);
    QMutex mutex;
    QList<double> fractions;
    auto prepared = await(UpdateEngine::prepare(
        manifest, config,
        [&](double f) {
            QMutexLocker lock(&mutex);
            fractions.append(f);
        },
        runningBundle()));
    ASSERT_TRUE(prepared) << prepared.error().shortForm().toStdString();

    const QString work = prepared->workFolder.toLocalFile();
    EXPECT_EQ(QFileInfo(work).path(), temp);
    EXPECT_TRUE(QFileInfo(work).fileName().contains(
        QRegularExpression("^VeluntaUpdate-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")));
    EXPECT_EQ(prepared->build, 6);
    EXPECT_EQ(prepared->appURL.toLocalFile(), work + "/app/Velunta.app");
    EXPECT_FALSE(QFile::exists(work + "/update.zip")) << "the archive goes once the bundle is verified";
    EXPECT_TRUE(QFileInfo(work + "/app/Velunta.app/Contents/MacOS/Velunta").isExecutable());
    EXPECT_GT(manifest.size, 3 << 20);
    ASSERT_GT(fractions.size(), 2);
    EXPECT_LT(fractions.first(), 1.0);
    EXPECT_DOUBLE_EQ(fractions.last(), 1.0);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));

    ASSERT_TRUE(UpdateEngine::launchInstaller(*prepared, 8, {"--update-report", "/tmp/r t.txt"}, runningBundle()));
    for (int i = 0; i < 100 && !QFile::exists(work + "/args.txt"); ++i)
        QThread::msleep(50);
    const QStringList arguments
        = QString::fromUtf8(TestSupport::readFile(work + "/args.txt")).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(arguments,
        (QStringList {"--pid", QString::number(QCoreApplication::applicationPid()), "--new", work + "/app/Velunta.app",
            "--target", running, "--work", work, "--build", "6", "--timeout", "8", "--", "--update-report",
            "/tmp/r t.txt"}));
    EXPECT_EQ(TestSupport::readFile(work + "/stdio.txt").toStdString(), "/dev/null\n/dev/null\n/dev/null\n");
    EXPECT_TRUE(QFileInfo(work + "/VeluntaUpdateHelper").isExecutable()) << "started from a copy in the work folder";
}

TEST_F(UpdateEngineTest, MissingHelperIsInstallerMissing)
{
    const UpdateManifest manifest = publish("good", makeCandidate("good"));
    auto prepared = prepare(manifest);
    auto again = prepare(manifest);
    ASSERT_TRUE(prepared);
    ASSERT_TRUE(again);
    QFile::remove(running + "/Contents/Helpers/VeluntaUpdateHelper");
    const auto launched = UpdateEngine::launchInstaller(*prepared, 30, {}, runningBundle());
    ASSERT_FALSE(launched);
    EXPECT_EQ(launched.error().kind(), UpdateError::installerMissing);
    EXPECT_FALSE(QFileInfo::exists(prepared->workFolder.toLocalFile())) << "a failed hand-off leaves nothing behind";

    EXPECT_EQ(UpdateEngine::launchInstaller(*again, 30, {}, Bundle()).error().kind(), UpdateError::installerMissing)
        << "not running from a bundle at all";
    EXPECT_EQ(Fixtures::workFolders(temp).join(' ').toStdString(), "");
}

TEST_F(UpdateEngineTest, DownloadThatDoesNotMatchTheAnnouncedSizeIsRefused)
{
    UpdateManifest manifest = publish("good", makeCandidate("good"));

    UpdateManifest oneByteTooMany = manifest;
    oneByteTooMany.size -= 1;
    EXPECT_EQ(failureOf(Publisher::signManifest(oneByteTooMany, key)), "wrongSize") << "cut off past the size";

    UpdateManifest shortDownload = manifest;
    shortDownload.size += 1;
    EXPECT_EQ(failureOf(Publisher::signManifest(shortDownload, key)), "wrongSize");

    UpdateManifest missing = manifest;
    missing.url = server.url("/gone.zip").toString();
    EXPECT_EQ(failureOf(Publisher::signManifest(missing, key)), "server(404)");

    UpdateManifest refused = manifest;
    refused.url = "http://127.0.0.1:1/x.zip";
    EXPECT_NE(failureOf(Publisher::signManifest(refused, key)), "success") << "connection refused";
}

TEST_F(UpdateEngineTest, ArchiveMustMatchItsSignedManifest)
{
    const UpdateManifest manifest = publish("good", makeCandidate("good"));

    UpdateManifest upper = manifest;
    upper.sha256 = upper.sha256.toUpper();
    EXPECT_EQ(failureOf(Publisher::signManifest(upper, key)), "success") << "the hash is compared in any case";

    UpdateManifest otherHash = manifest;
    otherHash.sha256 = UpdateCrypto::hexString(UpdateCrypto::sha256("another archive"));
    EXPECT_EQ(failureOf(Publisher::signManifest(otherHash, key)), "wrongHash");

    UpdateManifest tamperedNotes = manifest;
    tamperedNotes.notes += " Agora com brindes.";
    EXPECT_EQ(failureOf(tamperedNotes), "wrongSignature");

    UpdateManifest stillSigned = manifest;
    stillSigned.rollout = 20;
    stillSigned.paused = false;
    EXPECT_EQ(failureOf(stillSigned), "success");

    const auto otherKey = UpdateCrypto::SigningKey::generate();
    EXPECT_EQ(failureOf(Publisher::signManifest(manifest, otherKey)), "wrongSignature");

    config.publicKey = key.publicKeyBase64().left(20) + "\n" + key.publicKeyBase64().mid(20);
    EXPECT_EQ(failureOf(manifest), "wrongSignature") << "a key with a line break";
    config.publicKey = "not base64";
    EXPECT_EQ(failureOf(manifest), "wrongSignature");
}

TEST_F(UpdateEngineTest, ArchivesThatAreNotExactlyOneSafeBundleAreInvalidPackages)
{
    const QString good = makeCandidate("good");
    auto pack = [&](const QString &name, const std::function<void(ZipWriter &)> &more) {
        const QString archive = root.path() + "/releases/" + name + ".zip";
        EXPECT_TRUE(Publisher::packBundle(good, archive));
        // Rewrite: the good bundle's entries plus whatever the case adds.
        ZipWriter zip;
        EXPECT_TRUE(zip.open(archive));
        const QDir bundle(good);
        for (const QString file : {"Contents/Info.plist", "Contents/MacOS/Velunta", "Contents/Resources/about.txt",
                 "Contents/_CodeSignature/CodeResources"})
            EXPECT_TRUE(zip.addFileFromDisk(
                "Velunta.app/" + file, bundle.filePath(file), file.contains("MacOS") ? 0755 : 0644));
        more(zip);
        EXPECT_TRUE(zip.close());
        return publishArchive(name, archive);
    };

    EXPECT_EQ(failureOf(pack("plain", [](ZipWriter &) {})), "success");
    EXPECT_EQ(failureOf(pack("resource-fork", [](ZipWriter &zip) { zip.addFile("__MACOSX/._Velunta.app", "x"); })),
        "success");
    EXPECT_EQ(failureOf(pack("two-apps", [](ZipWriter &zip) { zip.addFile("Other.app/Contents/Info.plist", "x"); })),
        "invalidPackage");
    EXPECT_EQ(failureOf(pack("stray-file", [](ZipWriter &zip) { zip.addFile("README", "x"); })), "invalidPackage");
    EXPECT_EQ(failureOf(pack("dot-dot", [](ZipWriter &zip) { zip.addFile("Velunta.app/../../escaped.txt", "x"); })),
        "invalidPackage");
    EXPECT_EQ(failureOf(pack("absolute", [&](ZipWriter &zip) { zip.addFile(root.path() + "/absolute.txt", "x"); })),
        "invalidPackage");
    EXPECT_EQ(
        failureOf(pack("link-out", [](ZipWriter &zip) { zip.addSymlink("Velunta.app/Contents/out", "../../.."); })),
        "invalidPackage");
    EXPECT_EQ(failureOf(pack("link-abs", [](ZipWriter &zip) { zip.addSymlink("Velunta.app/Contents/etc", "/etc"); })),
        "invalidPackage");
    // The one visible entry is a link to a bundle hidden in the ignored folder.
    const QString linked = root.path() + "/releases/linked.zip";
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(linked));
        for (const QString file : {"Contents/Info.plist", "Contents/MacOS/Velunta", "Contents/Resources/about.txt",
                 "Contents/_CodeSignature/CodeResources"})
            ASSERT_TRUE(zip.addFileFromDisk("__MACOSX/Velunta.app/" + file, good + "/" + file, 0755));
        ASSERT_TRUE(zip.addSymlink("Velunta.app", "__MACOSX/Velunta.app"));
        ASSERT_TRUE(zip.close());
    }
    EXPECT_EQ(failureOf(publishArchive("linked", linked)), "invalidPackage");
    EXPECT_FALSE(QFile::exists(root.path() + "/escaped.txt"));
    EXPECT_FALSE(QFile::exists(temp + "/escaped.txt"));
    EXPECT_FALSE(QFile::exists(root.path() + "/absolute.txt"));

    // A folder without the .app extension, and bytes that are no ZIP at all.
    const QString noApp = root.path() + "/releases/no-app.zip";
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(noApp));
        ASSERT_TRUE(zip.addFile("Velunta/Contents/Info.plist", TestSupport::readFile(good + "/Contents/Info.plist")));
        ASSERT_TRUE(zip.close());
    }
    EXPECT_EQ(failureOf(publishArchive("no-app", noApp)), "invalidPackage");
    const QString garbage = root.path() + "/releases/garbage.zip";
    TestSupport::writeFile(garbage, QByteArray(4096, 'z'));
    EXPECT_EQ(failureOf(publishArchive("garbage", garbage)), "invalidPackage");
}

// A ZIP of empty stored entries with the given Unix modes, written by hand:
// the archive library will not write device entries into a ZIP.
QByteArray emptyEntriesZip(const QList<QPair<QByteArray, quint32>> &entries)
{
    auto le16 = [](QByteArray &out, quint16 v) { out.append(char(v & 0xff)).append(char(v >> 8)); };
    auto le32 = [&](QByteArray &out, quint32 v) {
        le16(out, quint16(v & 0xffff));
        le16(out, quint16(v >> 16));
    };
    QByteArray local, central;
    for (const auto &[name, mode] : entries) {
        const quint32 offset = quint32(local.size());
        le32(local, 0x04034b50);
        for (int v : {10, 0, 0, 0, 0x21})
            le16(local, quint16(v));
        for (int i = 0; i < 3; ++i)
            le32(local, 0); // crc, sizes: empty
        le16(local, quint16(name.size()));
        le16(local, 0);
        local += name;

        le32(central, 0x02014b50);
        for (int v : {3 << 8 | 20, 10, 0, 0, 0, 0x21})
            le16(central, quint16(v));
        for (int i = 0; i < 3; ++i)
            le32(central, 0);
        le16(central, quint16(name.size()));
        for (int i = 0; i < 4; ++i)
            le16(central, 0); // extra, comment, disk, internal attributes
        le32(central, mode << 16);
        le32(central, offset);
        central += name;
    }
    QByteArray end;
    le32(end, 0x06054b50);
    le16(end, 0);
    le16(end, 0);
    le16(end, quint16(entries.size()));
    le16(end, quint16(entries.size()));
    le32(end, quint32(central.size()));
    le32(end, quint32(local.size()));
    le16(end, 0);
    return local + central + end;
}

TEST_F(UpdateEngineTest, DeviceFilesAreRefusedAndPipesNeverCreated)
{
    auto extract = [&](const QString &name, quint32 mode) {
        const QString archive = root.path() + "/" + name + ".zip";
        TestSupport::writeFile(archive, emptyEntriesZip({{"Velunta.app/", 040755}, {"Velunta.app/entry", mode}}));
        const auto app = UpdateEngine::extractApp(archive, root.path() + "/" + name);
        return app ? QStringLiteral("success") : app.error().shortForm();
    };
    EXPECT_EQ(extract("regular", 0100644), "success");
    EXPECT_EQ(extract("char-device", 020644), "invalidPackage");
    EXPECT_EQ(extract("block-device", 060644), "invalidPackage");
    EXPECT_FALSE(QFileInfo::exists(root.path() + "/char-device/Velunta.app/entry"));
    // The ZIP reader turns a pipe entry into an empty regular file: no pipe
    // ever reaches the disk.
    EXPECT_EQ(extract("pipe", 010644), "success");
    struct stat st;
    ASSERT_EQ(::lstat(QFile::encodeName(root.path() + "/pipe/Velunta.app/entry").constData(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(UpdateEngineTest, SetuidBitsAreDroppedOnExtraction)
{
    const QString good = makeCandidate("good");
    const QString archive = root.path() + "/releases/setuid.zip";
    ZipWriter zip;
    ASSERT_TRUE(zip.open(archive));
    ASSERT_TRUE(zip.addFile("Velunta.app/Contents/MacOS/Velunta", "#!/bin/sh\n", 04755));
    ASSERT_TRUE(zip.close());
    const QString folder = root.path() + "/extracted";
    const auto app = UpdateEngine::extractApp(archive, folder);
    ASSERT_TRUE(app);
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(*app + "/Contents/MacOS/Velunta").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
}

TEST_F(UpdateEngineTest, BundleMustBeOursAtTheAnnouncedBuildAndSignedByUs)
{
    EXPECT_EQ(failureOf(publish("other-id", makeCandidate("other-id", "com.example.Other"))),
        "wrongBundle(\"identificador diferente\")");
    EXPECT_EQ(
        failureOf(publish("no-id", makeCandidate("no-id", QString()))), "wrongBundle(\"identificador diferente\")");
    EXPECT_EQ(failureOf(publish("other-build", makeCandidate("other-build", "app.velunta.Velunta", "7"))),
        "wrongBundle(\"número de versão diferente do anunciado\")");

    const QString changed = makeCandidate("changed");
    TestSupport::writeFile(changed + "/Contents/MacOS/Velunta", "#!/bin/sh\necho patched\n");
    EXPECT_EQ(failureOf(publish("changed", changed)), "wrongCodeSignature");

    const auto otherKey = UpdateCrypto::SigningKey::generate();
    EXPECT_EQ(failureOf(publish("other-key", makeCandidate("other-key", "app.velunta.Velunta", "6", &otherKey))),
        "wrongCodeSignature");

    const UpdateManifest good = publish("good", makeCandidate("good"));
    QFile::remove(running + "/" + CodeSignature::filePath);
    EXPECT_EQ(failureOf(good), "wrongCodeSignature") << "an unsigned running bundle accepts no update";

    const QString broken = makeCandidate("broken");
    TestSupport::writeFile(broken + "/Contents/Info.plist", "not a property list");
    EXPECT_EQ(failureOf(publish("broken", broken)), "invalidPackage");
}

TEST_F(UpdateEngineTest, OnlyAllowedAddressesAreContacted)
{
    const UpdateManifest manifest = publish("good", makeCandidate("good"));

    UpdateManifest byName = manifest;
    byName.url.replace("127.0.0.1", "localhost");
    EXPECT_EQ(failureOf(Publisher::signManifest(byName, key)), "insecureURL");

    UpdateManifest unparsable = manifest;
    unparsable.url = "http://127.0.0.1:99999999/x.zip";
    EXPECT_EQ(failureOf(Publisher::signManifest(unparsable, key)), "insecureURL");

    QUrl outside = server.url("/good.zip");
    outside.setHost("localhost");
    server.redirect("/hop-out.zip", outside);
    UpdateManifest hopOut = manifest;
    hopOut.url = server.url("/hop-out.zip").toString();
    const int before = int(server.requests().size());
    EXPECT_EQ(failureOf(Publisher::signManifest(hopOut, key)), "insecureURL");
    EXPECT_EQ(server.requests().size(), before + 1) << "the refused hop is never contacted";

    server.redirect("/hop-in.zip", server.url("/good.zip"));
    UpdateManifest hopIn = manifest;
    hopIn.url = server.url("/hop-in.zip").toString();
    EXPECT_EQ(failureOf(Publisher::signManifest(hopIn, key)), "success");

    config.allowsLocalHTTP = false;
    EXPECT_EQ(failureOf(manifest), "insecureURL");
}

TEST_F(UpdateEngineTest, ManifestFetch)
{
    const UpdateManifest manifest = publish("good", makeCandidate("good"));
    server.serve("/manifest.json", manifest.toJson());
    const auto fetched = await(UpdateEngine::fetchManifest(config.channelURL(false), config));
    ASSERT_TRUE(fetched) << fetched.error().shortForm().toStdString();
    EXPECT_EQ(*fetched, manifest);
    EXPECT_EQ(server.requests().last().method, "GET");
    EXPECT_EQ(server.requests().last().headers.value("cache-control"), "no-cache");

    auto failure = [&](const QUrl &url) {
        const auto result = await(UpdateEngine::fetchManifest(url, config));
        return result ? QStringLiteral("success") : result.error().shortForm();
    };
    server.serve("/empty.json", TestHttpServer::Response {204, {}, {}});
    EXPECT_EQ(failure(server.url("/empty.json")), "server(204)");
    EXPECT_EQ(failure(server.url("/missing.json")), "server(404)");
    server.serve("/error.json", TestHttpServer::Response {500, manifest.toJson(), {}});
    EXPECT_EQ(failure(server.url("/error.json")), "server(500)");
    server.serve("/created.json", TestHttpServer::Response {201, manifest.toJson(), {}});
    EXPECT_EQ(failure(server.url("/created.json")), "server(201)");

    QByteArray body = manifest.toJson();
    body.append(QByteArray(UpdateManifest::maximumBodySize - body.size(), ' '));
    server.serve("/largest.json", body);
    EXPECT_EQ(failure(server.url("/largest.json")), "success");
    server.serve("/too-large.json", body + " ");
    EXPECT_EQ(failure(server.url("/too-large.json")), "invalidManifest");
    server.serve("/huge.json", QByteArray(8 << 20, ' '));
    EXPECT_EQ(failure(server.url("/huge.json")), "invalidManifest");
    server.serve("/garbage.json", "<html>");
    EXPECT_EQ(failure(server.url("/garbage.json")), "invalidManifest");

    QUrl byName = server.url("/manifest.json");
    byName.setHost("localhost");
    EXPECT_EQ(failure(byName), "insecureURL");
    server.redirect("/moved.json", byName);
    EXPECT_EQ(failure(server.url("/moved.json")), "insecureURL");
    server.redirect("/moved-ok.json", server.url("/manifest.json"));
    EXPECT_EQ(failure(server.url("/moved-ok.json")), "success");

    const auto refused = await(UpdateEngine::fetchManifest(QUrl("http://127.0.0.1:1/manifest.json"), config));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind(), UpdateError::platform);
    EXPECT_FALSE(refused.error().message().isEmpty());
}

TEST_F(UpdateEngineTest, LinksThatLeadOutThroughOtherLinksAreInvalidPackages)
{
    // Each link passes a look at its own text; together they climb out of
    // the extraction folder: l2 leads to the folder itself, l1 one level
    // above it through l2. l1 comes first in the archive, before l2 exists.
    for (const int depth : {1, 2, 4}) {
        const QString name = QString("chain-%1").arg(depth);
        const QString candidate = makeCandidate(name);
        QString folder = candidate;
        for (int i = 0; i < depth; ++i)
            folder += "/d" + QString::number(i);
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString up = QString("../").repeated(depth + 1);
        ASSERT_EQ(
            ::symlink(QFile::encodeName(up.chopped(1)).constData(), QFile::encodeName(folder + "/l2").constData()), 0);
        ASSERT_EQ(::symlink(QFile::encodeName("l2/" + QString("../").repeated(depth + 2) + "etc").constData(),
                      QFile::encodeName(folder + "/l1").constData()),
            0);
        ASSERT_TRUE(Publisher::signBundle(candidate, key));
        EXPECT_EQ(failureOf(publish(name, candidate)), "invalidPackage") << "depth " << depth;
    }

    // Links that stay inside, even through one another, are fine.
    const QString inside = makeCandidate("inside");
    ASSERT_EQ(::symlink("..", QFile::encodeName(inside + "/Contents/Resources/up").constData()), 0);
    ASSERT_EQ(::symlink("up/Info.plist", QFile::encodeName(inside + "/Contents/Resources/info").constData()), 0);
    ASSERT_EQ(::symlink("Resources/up/MacOS", QFile::encodeName(inside + "/Contents/programs").constData()), 0);
    ASSERT_TRUE(Publisher::signBundle(inside, key));
    EXPECT_EQ(failureOf(publish("inside", inside)), "success");
}

TEST_F(UpdateEngineTest, ExtractedBundleGetsInstalledModesWhateverTheArchiveSays)
{
    // As a release packed by hand from a tree under umask 000 would be.
    const QString good = makeCandidate("good");
    const QString archive = root.path() + "/releases/loose.zip";
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(archive));
        for (const QString folder :
            {"", "/Contents", "/Contents/MacOS", "/Contents/Resources", "/Contents/_CodeSignature"})
            ASSERT_TRUE(zip.addDirectory("Velunta.app" + folder, 0777));
        for (const QString file : {"Contents/Info.plist", "Contents/MacOS/Velunta", "Contents/Resources/about.txt",
                 "Contents/_CodeSignature/CodeResources"})
            ASSERT_TRUE(
                zip.addFileFromDisk("Velunta.app/" + file, good + "/" + file, file.contains("MacOS") ? 0777 : 0666));
        ASSERT_TRUE(zip.close());
    }
    const auto prepared = prepare(publishArchive("loose", archive));
    ASSERT_TRUE(prepared) << prepared.error().shortForm().toStdString();
    const QString app = prepared->appURL.toLocalFile();
    const auto modeOf = [](const QString &path) {
        struct stat st;
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 01;
    };
    EXPECT_EQ(modeOf(app), 0755u);
    EXPECT_EQ(modeOf(app + "/Contents"), 0755u);
    EXPECT_EQ(modeOf(app + "/Contents/_CodeSignature"), 0755u);
    EXPECT_EQ(modeOf(app + "/Contents/MacOS/Velunta"), 0755u);
    EXPECT_EQ(modeOf(app + "/Contents/Info.plist"), 0644u);
    EXPECT_EQ(modeOf(app + "/Contents/Resources/about.txt"), 0644u);
    EXPECT_EQ(modeOf(app + "/Contents/_CodeSignature/CodeResources"), 0644u);
    QDir(prepared->workFolder.toLocalFile()).removeRecursively();
}

TEST_F(UpdateEngineTest, OnlyHttpsAsWrittenAndTheOneLoopbackAddressAreContacted)
{
    const UpdateManifest manifest = publish("good", makeCandidate("good"));
    const QString port = QString::number(server.url("/").port());
    for (const QString host : {"127.1", "0x7f.0.0.1", "2130706433", "0177.0.0.1"}) {
        UpdateManifest other = manifest;
        other.url = "http://" + host + ":" + port + "/good.zip";
        EXPECT_EQ(failureOf(Publisher::signManifest(other, key)), "insecureURL") << host.toStdString();
    }
    UpdateManifest upper = manifest;
    upper.url.replace("http://", "HTTP://");
    EXPECT_EQ(failureOf(Publisher::signManifest(upper, key)), "insecureURL");

    // A redirect is judged by its Location as the server wrote it.
    server.serve("/hop-short.zip",
        TestHttpServer::Response {302, {}, {{"Location", ("http://127.1:" + port + "/good.zip").toUtf8()}}});
    UpdateManifest hop = manifest;
    hop.url = server.url("/hop-short.zip").toString();
    EXPECT_EQ(failureOf(Publisher::signManifest(hop, key)), "insecureURL");
}

// Gives up its write bit on the folders of a candidate, as an archive may.
void lockFolder(const QString &bundle)
{
    const QString locked = bundle + "/Contents/Resources/locked";
    ASSERT_TRUE(QDir().mkpath(locked));
    TestSupport::writeFile(locked + "/data.txt", "read-only folder\n");
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
}

TEST_F(UpdateEngineTest, FailedPreparationLeavesNoReadOnlyFolderBehind)
{
    // Signed, but announced under another build: refused after extraction.
    const QString candidate = makeCandidate("locked");
    lockFolder(candidate);
    ASSERT_TRUE(Publisher::signBundle(candidate, key));
    const QString archive = root.path() + "/releases/locked.zip";
    ASSERT_TRUE(Fixtures::packAsIs(candidate, archive));
    const UpdateManifest manifest = publishArchive("locked", archive, 7);
    const QString refused = "wrongBundle(\"número de versão diferente do anunciado\")";
    EXPECT_EQ(failureOf(manifest), refused) << "as root";

    // Root may remove anything; an ordinary user cannot empty a folder
    // without its write bit. The same preparation as nobody, with a
    // temporary folder of its own.
    if (QStandardPaths::findExecutable("setpriv").isEmpty())
        GTEST_SKIP() << "setpriv is missing: the case as an ordinary user is not run";
    const QString theirs = root.path() + "/nobody-tmp";
    ASSERT_TRUE(QDir().mkpath(theirs));
    ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(root.path()).constData(), 0755), 0);
    const QString manifestFile = root.path() + "/locked.json";
    TestSupport::writeFile(manifestFile, manifest.toJson());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", theirs);
    env.insert("HOME", theirs);
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.start("setpriv",
        {"--reuid=65534", "--regid=65534", "--clear-groups", qEnvironmentVariable("PREPARE_PROBE"), manifestFile,
            key.publicKeyBase64(), running});
    ASSERT_TRUE(probe.waitForStarted());
    // The server answers on this thread: keep serving until the probe ends.
    QElapsedTimer clock;
    clock.start();
    while (probe.state() != QProcess::NotRunning && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    probe.waitForFinished(1000);
    EXPECT_EQ(QString::fromUtf8(probe.readAllStandardOutput()).trimmed(), refused)
        << probe.readAllStandardError().toStdString();
    EXPECT_EQ(Fixtures::workFolders(theirs).join(' ').toStdString(), "") << "as nobody";
}

TEST_F(UpdateEngineTest, AHelperCalledOffBeforeTheQuitIsStoppedAndTheUpdateKept)
{
    const auto prepared = prepare(publish("good", makeCandidate("good")));
    ASSERT_TRUE(prepared);
    // The real helper, which waits for this process to quit.
    const QString helper = running + "/Contents/Helpers/VeluntaUpdateHelper";
    QFile::remove(helper);
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("VELUNTA_HELPER"), helper));
    ASSERT_TRUE(UpdateEngine::launchInstaller(*prepared, 30, {}, runningBundle()));

    const QString copy = QFileInfo(prepared->workFolder.toLocalFile()).canonicalFilePath() + "/VeluntaUpdateHelper";
    const auto helpers = [&] {
        int count = 0;
        for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            count += QFileInfo("/proc/" + pid + "/exe").symLinkTarget() == copy;
        return count;
    };
    EXPECT_EQ(helpers(), 1);
    UpdateEngine::cancelInstaller(*prepared);
    EXPECT_TRUE(TestSupport::waitFor([&] { return helpers() == 0; }));
    EXPECT_TRUE(QFileInfo(prepared->appURL.toLocalFile() + "/Contents/Info.plist").isFile())
        << "the prepared update stays for the next try";
}

TEST_F(UpdateEngineTest, WorkFolderCleanUpEmptiesReadOnlyFoldersForTheirOwner)
{
    if (QStandardPaths::findExecutable("setpriv").isEmpty())
        GTEST_SKIP() << "setpriv is missing: the case as an ordinary user is not run";
    ASSERT_EQ(::chmod(QFile::encodeName(root.path()).constData(), 0755), 0);
    // In a temporary folder of its own, as the user's work folders are.
    const QString theirs = root.path() + "/nobody-tmp";
    ASSERT_TRUE(QDir().mkpath(theirs));
    ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
    const QString work = theirs + "/VeluntaUpdate-nobody";
    ASSERT_TRUE(QDir().mkpath(work + "/app/Velunta.app/Contents/closed/deeper"));
    TestSupport::writeFile(work + "/app/Velunta.app/Contents/closed/deeper/file", "x");
    TestSupport::writeFile(work + "/app/Velunta.app/Contents/closed/file", "x");
    const QString outside = root.path() + "/outside";
    ASSERT_TRUE(QDir().mkpath(outside));
    TestSupport::writeFile(outside + "/keep", "x");
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                  QFile::encodeName(work + "/app/Velunta.app/Contents/closed/link").constData()),
        0);
    ASSERT_EQ(
        TestSupport::run("chown", {"-R", "65534:65534", work}, QProcessEnvironment::systemEnvironment()).exitCode, 0);
    for (const char *folder :
        {"/app/Velunta.app/Contents/closed/deeper", "/app/Velunta.app/Contents/closed", "/app/Velunta.app", "/app"})
        ASSERT_EQ(::chmod(QFile::encodeName(work + folder).constData(), 0555), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(work + "/app/Velunta.app/Contents/closed/deeper").constData(), 0), 0);

    const auto removal = TestSupport::run("setpriv",
        {"--reuid=65534", "--regid=65534", "--clear-groups", qEnvironmentVariable("PREPARE_PROBE"), "--remove", work},
        QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(QString::fromUtf8(removal.out).trimmed(), "removed") << removal.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(work));
    EXPECT_TRUE(QFileInfo::exists(outside + "/keep")) << "a link is never followed";
}
