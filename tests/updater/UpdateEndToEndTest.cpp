// A real update from end to end, with nothing but the build: a publisher key,
// two signed bundles of the real program (build N installed in a temporary
// folder, build N+1 packed and announced by a signed manifest on a local
// HTTP server), and the installed copy run with --update-test. The helper
// swaps the bundles, starts the new one and keeps it only if it confirms.
#include "support/TestSupport.h"
#include "updater/TestHttpServer.h"
#include "updater/UpdateFixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

constexpr int installedBuild = 41;
constexpr int newBuild = 42;

ProcessResult publish(const QStringList &arguments)
{
    return run(qEnvironmentVariable("VELUNTA_PUBLISH"), arguments, QProcessEnvironment::systemEnvironment(), 120000);
}

// Waits while serving: the HTTP server lives on this thread's event loop.
bool waitServing(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (condition())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return condition();
}

class UpdateEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(server.isListening());
        ASSERT_TRUE(QDir().mkpath(tmp()));
        const auto keygen = publish({"keygen", key()});
        ASSERT_EQ(keygen.exitCode, 0) << keygen.err.toStdString();
        publicKey = QString::fromUtf8(keygen.out).trimmed();
        installed = root.path() + "/Aplicativos/Velunta.app";
        ASSERT_TRUE(QDir().mkpath(root.path() + "/Aplicativos"));
        makeBundle(installed, installedBuild);
    }

    QString key() const { return root.path() + "/publisher.pem"; }
    QString tmp() const { return root.path() + "/tmp"; }
    QString report() const { return reportFile.isEmpty() ? root.path() + "/relatorio.txt" : reportFile; }

    // A copy of the built bundle as build BUILD, configured for the local
    // server and signed. EXECUTABLE names the program the bundle starts.
    void makeBundle(const QString &path, int build, const QString &executable = "Velunta")
    {
        const QString built = QFileInfo(appPath()).dir().absoluteFilePath("../..");
        ASSERT_EQ(
            run("cp", {"-a", QDir::cleanPath(built), path}, QProcessEnvironment::systemEnvironment()).exitCode, 0);
        QDir(path + "/Contents/_CodeSignature").removeRecursively();

        QString plist = QString::fromUtf8(readFile(path + "/Contents/Info.plist"));
        const auto setString = [&plist](const QString &name, const QString &value) {
            const QRegularExpression entry("(<key>" + name + "</key>\\s*<string>)[^<]*(</string>)");
            ASSERT_TRUE(entry.match(plist).hasMatch()) << name.toStdString();
            plist.replace(entry, "\\1" + value + "\\2");
        };
        setString("CFBundleVersion", QString::number(build));
        setString("CFBundleExecutable", executable);
        plist.remove(QRegularExpression("\\s*<key>VLUpdate[A-Za-z]+</key>\\s*<(string>[^<]*</string|true/|false/)>"));
        plist.replace("</dict>\n</plist>",
            "\t<key>VLUpdateBaseURL</key>\n\t<string>" + server.url("").toString()
                + "</string>\n\t<key>VLUpdatePublicKey</key>\n\t<string>" + publicKey
                + "</string>\n\t<key>VLUpdateAllowLocalHTTP</key>\n\t<true/>\n</dict>\n</plist>");
        writeFile(path + "/Contents/Info.plist", plist.toUtf8());

        const auto signing = publish({"sign", "--key", key(), path});
        ASSERT_EQ(signing.exitCode, 0) << signing.err.toStdString();
    }

    // Packs BUNDLE (unless PACKED holds its archive already) and announces it
    // as build BUILD on the server's stable channel.
    void announce(const QString &bundle, int build, const QStringList &extra = {}, const QString &packed = {})
    {
        const QString archive = packed.isEmpty() ? root.path() + QString("/Velunta-%1.zip").arg(build) : packed;
        const QString site = root.path() + "/site";
        if (packed.isEmpty()) {
            ASSERT_EQ(publish({"pack", bundle, archive}).exitCode, 0);
        }
        const auto made
            = publish(QStringList {"manifest", "--key", key(), "--archive", archive, "--build", QString::number(build),
                          "--version", "1." + QString::number(build), "--url", server.url("/Velunta.zip").toString(),
                          "--minimum-system", "2.0", "--notes", "Correções", "--out", site}
                + extra);
        ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
        server.serve("/manifest.json", readFile(site + "/manifest.json"));
        server.serve("/Velunta.zip", readFile(archive));
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = home.environment();
        env.insert("TMPDIR", tmp());
        env.remove("DISPLAY"); // the update test needs no screen
        for (auto it = extraEnvironment.begin(); it != extraEnvironment.end(); ++it)
            env.insert(it.key(), it.value());
        return env;
    }

    // Runs the installed copy with --update-test and waits for the report to
    // hold a line that starts with one of the final words.
    QString updateTest(const QString &manifestURL, const QStringList &extra = {}, int ms = 60000)
    {
        QProcess app;
        app.setProcessEnvironment(environment());
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        const QStringList command = runAs
            + QStringList {installed + "/Contents/MacOS/Velunta", "--update-test", manifestURL, report()} + extra;
        app.start(command.first(), command.mid(1));
        EXPECT_TRUE(app.waitForStarted());
        const bool installing = extra.contains("--install");
        waitServing(
            [&] {
                const QByteArray text = readFile(report());
                return installing ? text.startsWith("RODANDO") || text.startsWith("REJEITADO")
                                  : app.state() == QProcess::NotRunning;
            },
            ms);
        waitServing([&] { return app.state() == QProcess::NotRunning; }, 10000);
        return QString::fromUtf8(readFile(report())).trimmed();
    }

    QString installedBuildNumber() const
    {
        const QString plist = QString::fromUtf8(readFile(installed + "/Contents/Info.plist"));
        return QRegularExpression("<key>CFBundleVersion</key>\\s*<string>([^<]*)</string>").match(plist).captured(1);
    }

    QString helperLog() const { return QString::fromUtf8(readFile(home.stateHome() + "/Velunta/update.log")); }
    QStringList workFolders() const
    {
        return QDir(tmp()).entryList({"VeluntaUpdate-*"}, QDir::AllEntries | QDir::Hidden);
    }

    // The installed copy started with --update-report: the line it writes.
    QString startInstalled()
    {
        const QString path = root.path() + "/inicio.txt";
        QFile::remove(path);
        const auto result = run(installed + "/Contents/MacOS/Velunta", {"--update-report", path}, environment(), 60000);
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        return QString::fromUtf8(readFile(path)).trimmed();
    }

    QStringList besideInstalled() const
    {
        return QDir(root.path() + "/Aplicativos").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    QTemporaryDir root;
    TempHome home;
    TestHttpServer server;
    QString publicKey;
    QString installed;
    QStringList runAs; // a program that runs the copy as another user
    QString reportFile;
    QMap<QString, QString> extraEnvironment;
};

// Whether a program of BUNDLE runs (the version the helper started, say).
bool runsFrom(const QString &bundle)
{
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (readFile("/proc/" + pid + "/cmdline").startsWith(QFile::encodeName(bundle + "/Contents/MacOS/")))
            return true;
    }
    return false;
}

// The update helper working on TARGET that has stopped itself, or 0.
pid_t stoppedHelperFor(const QString &target)
{
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QList<QByteArray> arguments = readFile("/proc/" + pid + "/cmdline").split('\0');
        if (arguments.isEmpty() || !arguments.first().endsWith("/VeluntaUpdateHelper"))
            continue;
        const qsizetype at = arguments.indexOf("--target");
        if (at < 0 || at + 1 >= arguments.size() || QFile::decodeName(arguments[at + 1]) != target)
            continue;
        const QByteArray stat = readFile("/proc/" + pid + "/stat");
        const qsizetype close = stat.lastIndexOf(')');
        if (close > 0 && close + 2 < stat.size() && stat.at(close + 2) == 'T')
            return pid_t(pid.toInt());
    }
    return 0;
}

} // namespace

TEST_F(UpdateEndToEnd, InstallsTheNewBuildWhichConfirmsAndReports)
{
    const QString next = root.path() + "/novo/Velunta.app";
    QDir().mkpath(root.path() + "/novo");
    makeBundle(next, newBuild);
    announce(next, newBuild);

    EXPECT_EQ(updateTest(server.url("/manifest.json").toString(), {"--install"}),
        QString("RODANDO build=%1 ignorada=0").arg(newBuild));
    EXPECT_EQ(installedBuildNumber(), QString::number(newBuild));
    // The helper logs once it has seen the confirmation; it may be a moment behind the report.
    EXPECT_TRUE(waitServing([&] { return helperLog().contains(QString("versão %1 instalada").arg(newBuild)); }, 10000))
        << helperLog().toStdString();
    EXPECT_TRUE(waitServing([&] { return workFolders().isEmpty(); }, 10000)) << workFolders().join(' ').toStdString();
    EXPECT_FALSE(QFileInfo::exists(root.path() + "/Aplicativos/.Velunta.app.old"));
    EXPECT_EQ(QDir(root.path() + "/Aplicativos").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList {"Velunta.app"});
}

TEST_F(UpdateEndToEnd, ABuildThatNeverConfirmsIsRolledBackAndSkipped)
{
    const QString next = root.path() + "/novo/Velunta.app";
    QDir().mkpath(root.path() + "/novo");
    // The new bundle starts a program that never writes the confirmation.
    makeBundle(next, newBuild, "NaoConfirma");
    writeFile(next + "/Contents/MacOS/NaoConfirma", "#!/bin/sh\nexec sleep 30\n");
    QFile::setPermissions(next + "/Contents/MacOS/NaoConfirma", QFile::permissions(appPath()));
    ASSERT_EQ(publish({"sign", "--key", key(), next}).exitCode, 0);
    announce(next, newBuild);

    EXPECT_EQ(updateTest(server.url("/manifest.json").toString(), {"--install"}, 90000),
        QString("RODANDO build=%1 ignorada=%2").arg(installedBuild).arg(newBuild));
    EXPECT_EQ(installedBuildNumber(), QString::number(installedBuild));
    EXPECT_TRUE(helperLog().contains(QString("a versão %1 não iniciou; voltando para a anterior").arg(newBuild)))
        << helperLog().toStdString();
    EXPECT_TRUE(waitServing([&] { return workFolders().isEmpty(); }, 10000));
}

TEST_F(UpdateEndToEnd, ChecksWithoutInstallingRolloutAndInsecureManifests)
{
    const QString next = root.path() + "/novo/Velunta.app";
    QDir().mkpath(root.path() + "/novo");
    makeBundle(next, newBuild);
    announce(next, newBuild);
    const QString manifest = server.url("/manifest.json").toString();

    EXPECT_EQ(updateTest(manifest), QString("VALIDO %1").arg(newBuild));
    EXPECT_TRUE(workFolders().isEmpty()) << "the checked download is removed";
    EXPECT_EQ(installedBuildNumber(), QString::number(installedBuild));

    announce(next, newBuild, {"--rollout", "50"});
    EXPECT_EQ(updateTest(manifest, {"--auto"}), "SEM_OFERTA outsideRollout");
    EXPECT_EQ(updateTest(manifest), QString("VALIDO %1").arg(newBuild)) << "a manual check ignores the rollout";

    EXPECT_EQ(updateTest("http://updates.example.org/manifest.json"), "REJEITADO insecureURL");
    EXPECT_TRUE(workFolders().isEmpty());
}

TEST_F(UpdateEndToEnd, ManifestAddressesAreJudgedAsTyped)
{
    const QString next = root.path() + "/novo/Velunta.app";
    QDir().mkpath(root.path() + "/novo");
    makeBundle(next, newBuild);
    announce(next, newBuild);
    const QString port = QString::number(server.url("/").port());
    EXPECT_EQ(updateTest("http://127.0.0.1:" + port + "/manifest.json"), QString("VALIDO %1").arg(newBuild));
    EXPECT_EQ(updateTest("HTTP://127.0.0.1:" + port + "/manifest.json"), "REJEITADO insecureURL");
    EXPECT_EQ(updateTest("http://127.1:" + port + "/manifest.json"), "REJEITADO insecureURL");
    EXPECT_EQ(updateTest("http://2130706433:" + port + "/manifest.json"), "REJEITADO insecureURL");
}

TEST_F(UpdateEndToEnd, ACheckedDownloadWithReadOnlyFoldersIsRemovedForAnOrdinaryUserToo)
{
    const QString next = root.path() + "/novo/Velunta.app";
    QDir().mkpath(root.path() + "/novo");
    makeBundle(next, newBuild);
    const QString locked = next + "/Contents/Resources/somente-leitura";
    ASSERT_TRUE(QDir().mkpath(locked));
    writeFile(locked + "/dados.txt", "x");
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    ASSERT_EQ(publish({"sign", "--key", key(), next}).exitCode, 0);
    // Packed by hand with the folder's mode as it is: an archive may hold one.
    const QString archive = root.path() + "/Velunta-somente-leitura.zip";
    ASSERT_TRUE(Fixtures::packAsIs(next, archive));
    announce(next, newBuild, {}, archive);
    const QString manifest = server.url("/manifest.json").toString();

    EXPECT_EQ(updateTest(manifest), QString("VALIDO %1").arg(newBuild));
    EXPECT_TRUE(workFolders().isEmpty()) << "as root: " << workFolders().join(' ').toStdString();

    // Root removes anything whatever its mode, so the same run again as an
    // ordinary user, who owns its temporary folder, home and report.
    if (QStandardPaths::findExecutable("setpriv").isEmpty())
        GTEST_SKIP() << "setpriv is missing: the case as an ordinary user is not run";
    ASSERT_EQ(::chmod(QFile::encodeName(root.path()).constData(), 0755), 0);
    for (const QString &path : {tmp(), home.path()})
        ASSERT_EQ(run("chown", {"-R", "65534:65534", path}, QProcessEnvironment::systemEnvironment()).exitCode, 0);
    runAs = QStringList {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    reportFile = tmp() + "/relatorio.txt";
    EXPECT_EQ(updateTest(manifest), QString("VALIDO %1").arg(newBuild));
    EXPECT_TRUE(workFolders().isEmpty()) << "as nobody: " << workFolders().join(' ').toStdString();
}

TEST_F(UpdateEndToEnd, AnInstallKilledAtAnyStepLeavesAnAppThatStartsAndTheNextStartClearsUp)
{
    const QString next = root.path() + "/novo/Velunta.app";
    QDir().mkpath(root.path() + "/novo");
    makeBundle(next, newBuild);
    announce(next, newBuild);
    const QString manifest = server.url("/manifest.json").toString();

    for (const QString step : {"copying", "staged", "exchanged", "started", "confirmed"}) {
        SCOPED_TRACE(step.toStdString());
        QDir(installed).removeRecursively();
        makeBundle(installed, installedBuild);
        QFile::remove(report());

        // The helper stops itself at the step; killing it there is what a
        // logout or a power cut does.
        extraEnvironment.insert("VELUNTA_HELPER_TEST_PAUSE", step);
        QProcess app;
        app.setProcessEnvironment(environment());
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(installed + "/Contents/MacOS/Velunta", {"--update-test", manifest, report(), "--install"});
        ASSERT_TRUE(app.waitForStarted());
        pid_t helper = 0;
        EXPECT_TRUE(waitServing([&] { return (helper = stoppedHelperFor(installed)) > 0; }, 90000));
        extraEnvironment.clear();
        // A version the helper started has had its whole run, with the helper
        // still there, before the helper goes.
        EXPECT_TRUE(waitServing([&] { return !runsFrom(installed); }, 30000));
        if (helper > 0)
            ::kill(helper, SIGKILL);
        waitServing([&] { return app.state() == QProcess::NotRunning; }, 30000);
        ASSERT_GT(helper, 0) << "the helper never reached the step";
        waitServing(
            [&] { return stoppedHelperFor(installed) == 0 && !QFileInfo::exists("/proc/" + QString::number(helper)); },
            10000);

        const QString build = installedBuildNumber();
        EXPECT_TRUE(build == QString::number(installedBuild) || build == QString::number(newBuild))
            << build.toStdString();
        EXPECT_EQ(besideInstalled().size(), 2) << "the helper's copy is left beside the app\n"
                                               << helperLog().toStdString();
        EXPECT_EQ(startInstalled(), QString("RODANDO build=%1 ignorada=0").arg(build));
        EXPECT_EQ(besideInstalled(), QStringList {"Velunta.app"});
        EXPECT_TRUE(helperLog().contains(
            " sobra de uma atualização interrompida removida: " + root.path() + "/Aplicativos/.Velunta-update-"))
            << helperLog().toStdString();
    }
}
