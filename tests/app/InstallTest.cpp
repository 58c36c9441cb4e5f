// "cmake --install" into a staging root gives a Velunta that runs from there,
// in an X11 session and (through tests/support/on-wayland) a Wayland one:
// the bundle keeps its layout, bin/velunta reaches its program through a
// relative link, and the desktop files sit where desktops look for them.
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

using namespace TestSupport;

namespace {

class StagedInstall : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        stage = new QTemporaryDir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DESTDIR", stage->path());
        install = new ProcessResult(run("cmake", {"--install", buildDir(), "--prefix", "/usr"}, env, 120000));
    }
    static void TearDownTestSuite()
    {
        delete install;
        delete stage;
    }
    void SetUp() override
    {
        ASSERT_EQ(install->exitCode, 0) << install->out.toStdString() << install->err.toStdString();
    }

    static QString root() { return stage->path() + "/usr"; }

    static inline QTemporaryDir *stage = nullptr;
    static inline ProcessResult *install = nullptr;
};

} // namespace

TEST_F(StagedInstall, EverythingLandsInItsStandardPlace)
{
    const QString bundle = root() + "/lib/velunta/Velunta.app/Contents";
    for (const QString &file : {bundle + "/Info.plist", bundle + "/MacOS/Velunta",
             bundle + "/Helpers/VeluntaUpdateHelper", root() + "/share/applications/app.velunta.Velunta.desktop",
             root() + "/share/metainfo/app.velunta.Velunta.metainfo.xml",
             root() + "/share/icons/hicolor/scalable/apps/app.velunta.Velunta.svg",
             root() + "/share/man/man1/velunta.1.gz", root() + "/share/doc/velunta/copyright"})
        EXPECT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
    EXPECT_TRUE(QFileInfo(bundle + "/MacOS/Velunta").isExecutable());
    for (int size : {16, 24, 32, 48, 64, 128, 256, 512}) {
        const QString png
            = QStringLiteral("%1/share/icons/hicolor/%2x%2/apps/app.velunta.Velunta.png").arg(root()).arg(size);
        EXPECT_EQ(QImage(png).size(), QSize(size, size)) << png.toStdString();
    }

    // Relative, so the staged copy runs its own program, not one in /usr.
    const QFileInfo link(root() + "/bin/velunta");
    ASSERT_TRUE(link.isSymLink());
    EXPECT_EQ(std::filesystem::read_symlink(link.filePath().toStdString()).string(),
        "../lib/velunta/Velunta.app/Contents/MacOS/Velunta");
}

TEST_F(StagedInstall, TheInstalledProgramReadsItsBundleAndRuns)
{
    TempHome home;
    QProcessEnvironment env = home.environment();
    const QString velunta = root() + "/bin/velunta";
    ProcessResult r = run(velunta, {"--version"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("Velunta ")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("?")) << "the version comes from the installed Info.plist: " << r.out.toStdString();

    // The running-report line proves the bundle's build number is read there.
    const QString report = home.path() + "/report.txt";
    r = run(velunta, {"--update-report", report}, env);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(readFile(report).startsWith("RODANDO build=")) << readFile(report).toStdString();

    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (qEnvironmentVariableIsEmpty("DISPLAY") && !wayland)
        GTEST_SKIP() << "the self-test needs the test desktop";
    const QString folder = home.path() + "/autoteste";
    r = run(velunta, {"--self-test", folder}, env, 240000);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray result = readFile(folder + "/result.txt");
    EXPECT_TRUE(result.endsWith("FIM\n")) << result.toStdString();
    if (wayland) {
        // Through the portals: the screenshots and recordings must work; the
        // Wayland self-test's own suite pins the rest of its lines.
        for (const char *line : {"\nOK tela0-print-inteira: ", "\nOK tela0-print-area: ", "\nOK tela0-video-inteira: ",
                 "\nOK tela0-video-pausa: "})
            EXPECT_TRUE(result.contains(line)) << line << " missing from\n" << result.toStdString();
        return;
    }
    EXPECT_FALSE(result.contains("\nFAIL")) << result.toStdString();
    EXPECT_FALSE(result.startsWith("FAIL")) << result.toStdString();
}
