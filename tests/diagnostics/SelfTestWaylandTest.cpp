// `Velunta --self-test FOLDER` in a Wayland session (run through
// tests/support/on-wayland): every line it can check there, and the ones that
// cannot hold on Wayland saying so instead of failing or missing.
#include "SelfTestRunChecks.h"
#include "support/DesktopGuards.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>

using namespace SelfTestRunChecks;

namespace {

bool onWaylandDesktop()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !TestSupport::appPath().isEmpty();
}

QStringList selfTest(const TestSupport::TempHome &home, const QString &folder)
{
    const auto result = TestSupport::run(TestSupport::appPath(), {"--self-test", folder}, home.environment(), 240000);
    TestSupport::expectCleanExit(result);
    return reportLines(folder + "/result.txt");
}

} // namespace

TEST(SelfTestWayland, ChecksWhatHoldsAndSaysWhatCannot)
{
    if (!onWaylandDesktop() || QStandardPaths::findExecutable("ffprobe").isEmpty())
        GTEST_SKIP() << "needs the Wayland test desktop and ffprobe";
    TestSupport::TempHome home;
    const QString folder = home.path() + "/autoteste";
    const QStringList lines = selfTest(home, folder);
    const std::string report = lines.join('\n').toStdString();
    ASSERT_EQ(lines.size(), 10) << report;

    EXPECT_EQ(lines[0], "tela0: 1920x1080 pontos, escala 1.0");
    EXPECT_EQ(lines[1], "OK tela0-print-inteira: 1920x1080");
    EXPECT_EQ(lines[2], "OK tela0-print-area: 401x301");
    EXPECT_EQ(QImage(folder + "/tela0-print-inteira.png").size(), QSize(1920, 1080));
    EXPECT_EQ(QImage(folder + "/tela0-print-area.png").size(), QSize(401, 301));

    // The recordings are real, but the compositor draws Velunta's own windows
    // into them: the line says that the exclusion is not checked.
    const QRegularExpression recording(R"(^OK tela0-video-(inteira|area): (\d+)x(\d+) (\d+\.\d)s )"
                                       R"(magenta_no_video=\d+ magenta_sem_exclusao=\d+ \(exclusão não verificável no )"
                                       R"(Wayland: o compositor desenha as janelas do Velunta nas gravações\)$)");
    for (int i : {3, 4}) {
        const auto match = recording.match(lines[i]);
        ASSERT_TRUE(match.hasMatch()) << lines[i].toStdString();
        const QSize size = match.captured(1) == "inteira" ? QSize(1920, 1080) : QSize(400, 300);
        EXPECT_EQ(QSize(match.captured(2).toInt(), match.captured(3).toInt()), size);
        const VideoInfo video = probe(folder + "/tela0-video-" + match.captured(1) + ".mp4");
        EXPECT_EQ(video.size, size);
        EXPECT_EQ(video.videoTracks, 1);
        EXPECT_GE(video.duration, 2.5);
    }

    const QRegularExpression pause(R"(^OK tela0-video-pausa: (\d\.\d)s video=1 audio=(\d) quadros_ruins=0/(\d+) )"
                                   R"(trechos: dur=\d+\.\d\d vide\[[-0-9.]+\][^|]* \| dur=\d+\.\d\d vide.*$)");
    const auto paused = pause.match(lines[5]);
    EXPECT_TRUE(paused.hasMatch()) << lines[5].toStdString();
    EXPECT_EQ(probe(folder + "/tela0-video-pausa.mp4").size, QSize(400, 300));

    EXPECT_EQ(lines[6], "OK posicao-barra");
    EXPECT_TRUE(lines[7].startsWith("OK selecao: ") || lines[7].startsWith("FAIL selecao: ")) << lines[7].toStdString();
    EXPECT_EQ(lines[8], "SKIP clipboard: a ida e volta pela seleção do X não existe numa sessão Wayland");
    EXPECT_EQ(lines[9], "FIM");
}

// Run with the portal started without its Screenshot interface.
TEST(SelfTestWaylandWithoutScreenshot, StopsAtThePermissionLineNamingTheMissingPortal)
{
    if (!onWaylandDesktop())
        GTEST_SKIP() << "needs the Wayland test desktop (tests/support/on-wayland --without=Screenshot)";
    TestSupport::TempHome home;
    const QString folder = home.path() + "/autoteste";
    const QStringList lines = selfTest(home, folder);
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("FAIL permission: Gravação de Tela não autorizada (")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("org.freedesktop.portal.Screenshot")) << lines[0].toStdString();
    EXPECT_TRUE(QDir(folder).entryList({"*.png", "*.mp4"}, QDir::Files).isEmpty()) << "nothing is captured";
}

// Run on two monitors (tests/support/on-wayland --dual): screenshots of both
// screens hold; the ScreenCast portal shares one monitor, the first as the
// user would pick it here, so the second screen's recordings are refused
// with the refusal's own text and leave no file.
TEST(SelfTestWaylandDual, BothScreensAreCheckedAndTheUnsharedOnesRecordingsRefused)
{
    if (!onWaylandDesktop() || QStandardPaths::findExecutable("ffprobe").isEmpty())
        GTEST_SKIP() << "needs the two-screen Wayland test desktop and ffprobe";
    TestSupport::TempHome home;
    const QString folder = home.path() + "/autoteste";
    const QStringList lines = selfTest(home, folder);
    const std::string report = lines.join('\n').toStdString();
    ASSERT_EQ(lines.size(), 16) << report;

    EXPECT_EQ(lines[0], "tela0: 1920x1080 pontos, escala 1.0");
    EXPECT_EQ(lines[1], "OK tela0-print-inteira: 1920x1080");
    for (int i : {3, 4, 5})
        EXPECT_TRUE(lines[i].startsWith("OK tela0-video-")) << lines[i].toStdString();
    EXPECT_EQ(probe(folder + "/tela0-video-area.mp4").size, QSize(400, 300));

    EXPECT_EQ(lines[6], "tela1: 1280x1024 pontos, escala 1.0");
    EXPECT_EQ(lines[7], "OK tela1-print-inteira: 1280x1024");
    EXPECT_EQ(lines[8], "OK tela1-print-area: 401x301");
    EXPECT_EQ(QImage(folder + "/tela1-print-inteira.png").size(), QSize(1280, 1024));
    const QString refused
        = QStringLiteral(": A área a gravar não está inteira no monitor que o portal de captura de tela compartilhou.");
    EXPECT_EQ(lines[9], "FAIL tela1-video-inteira" + refused);
    EXPECT_EQ(lines[10], "FAIL tela1-video-area" + refused);
    EXPECT_EQ(lines[11], "FAIL tela1-video-pausa" + refused);
    EXPECT_TRUE(QDir(folder).entryList({"tela1-video-*"}, QDir::Files).isEmpty()) << "a refused recording left a file";

    EXPECT_EQ(lines[12], "OK posicao-barra");
    EXPECT_EQ(lines[15], "FIM");
}
