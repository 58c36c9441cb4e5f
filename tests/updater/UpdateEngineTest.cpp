#include "updater/UpdateEngine.h"
#include "TestHttpServer.h"
#include "UpdateFixtures.h"
#include "support/TestSupport.h"
#include "tools/Publisher.h"
#include "tools/ZipWriter.h"
#include "updater/CodeSignature.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
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
