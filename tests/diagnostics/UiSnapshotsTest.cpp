// `Velunta --ui-snapshots FOLDER` without any display: the real program, the
// images it leaves and the settings it must not touch.
#include "support/TestSupport.h"

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QStringList onboardingShots {
    "onboarding-1-boas-vindas",
    "onboarding-2-permissao-falta",
    "onboarding-2-permissao-ok",
    "onboarding-3-microfone",
    "onboarding-4-atalhos",
    "onboarding-2-escuro",
};

const QStringList mainShots {
    "main-capturar",
    "main-capturar-escuro",
    "main-capturar-vazio-sem-permissao",
    "main-gravando",
    "main-biblioteca",
    "main-biblioteca-vazia",
    "main-ajustes",
    "main-ajustes-escuro",
    "main-biblioteca-escuro",
    "main-atualizacao",
    "main-atualizacao-escuro",
    "main-atualizacao-erro",
    "main-atualizacao-ajustes",
};

struct SnapshotRun {
    TestSupport::TempHome home;
    QString out;
    TestSupport::ProcessResult result;
};

// The program in a fresh home, on Qt's offscreen platform (no DISPLAY).
// SETUP prepares the home before the run.
std::unique_ptr<SnapshotRun> runSnapshots(
    const QStringList &extraArguments, const std::function<void(const TestSupport::TempHome &)> &setUp = {})
{
    auto run = std::make_unique<SnapshotRun>();
    QDir().mkpath(run->home.tempDir());
    if (setUp)
        setUp(run->home);
    QProcessEnvironment environment = run->home.environment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    run->out = run->home.path() + "/saida/snapshots";
    run->result = TestSupport::run(
        TestSupport::appPath(), QStringList {"--ui-snapshots", run->out} + extraArguments, environment, 120000);
    return run;
}

QImage image(const QString &folder, const QString &name)
{
    return QImage(QDir(folder).filePath(name + ".png"));
}

double meanGray(const QImage &picture)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    int count = 0;
    for (int y = 0; y < rgb.height(); y += 4) {
        for (int x = 0; x < rgb.width(); x += 4) {
            sum += qGray(rgb.pixel(x, y));
            ++count;
        }
    }
    return count ? sum / count : 0;
}

bool near(QRgb pixel, QColor expected)
{
    return std::abs(qRed(pixel) - expected.red()) <= 2 && std::abs(qGreen(pixel) - expected.green()) <= 2
        && std::abs(qBlue(pixel) - expected.blue()) <= 2 && qAlpha(pixel) == 255;
}

class UiSnapshotsRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!TestSupport::appPath().isEmpty())
            shared = runSnapshots({}).release();
    }
    static void TearDownTestSuite()
    {
        delete shared;
        shared = nullptr;
    }
    void SetUp() override
    {
        if (!shared)
            GTEST_SKIP() << "run through ctest";
        ASSERT_FALSE(shared->result.crashed) << shared->result.err.toStdString();
        ASSERT_FALSE(shared->result.timedOut);
        ASSERT_EQ(shared->result.exitCode, 0) << shared->result.err.toStdString();
    }

    static SnapshotRun *shared;
};

SnapshotRun *UiSnapshotsRun::shared = nullptr;

TEST_F(UiSnapshotsRun, LeavesEveryFileAndNothingElse)
{
    const QDir out(shared->out);
    QStringList expected {"amostras", "vazia", "barra-gravacao.png", "result.txt"};
    for (const QString &name : onboardingShots + mainShots)
        expected << name + ".png";
    expected.sort();
    EXPECT_EQ(out.entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), expected);
    EXPECT_EQ(TestSupport::readFile(out.filePath("result.txt")), "FIM\n");
    EXPECT_TRUE(QDir(out.filePath("vazia")).isEmpty());
}

TEST_F(UiSnapshotsRun, ImagesHaveTheirWindowsSizes)
{
    for (const QString &name : onboardingShots)
        EXPECT_EQ(QImageReader(shared->out + "/" + name + ".png").size(), QSize(680, 480)) << name.toStdString();
    for (const QString &name : mainShots)
        EXPECT_EQ(QImageReader(shared->out + "/" + name + ".png").size(), QSize(980, 660)) << name.toStdString();
    EXPECT_EQ(QImageReader(shared->out + "/barra-gravacao.png").size(), QSize(176, 48));
}

TEST_F(UiSnapshotsRun, SamplesAreColouredScreenshotsWithAWhitePanel)
{
    const QColor colours[] = {QColor::fromRgbF(0.25f, 0.47f, 0.85f), QColor::fromRgbF(0.85f, 0.38f, 0.35f),
        QColor::fromRgbF(0.30f, 0.68f, 0.50f), QColor::fromRgbF(0.60f, 0.40f, 0.80f),
        QColor::fromRgbF(0.90f, 0.65f, 0.25f), QColor::fromRgbF(0.35f, 0.65f, 0.75f),
        QColor::fromRgbF(0.55f, 0.57f, 0.62f)};
    const QString samples = shared->out + "/amostras";
    EXPECT_EQ(QDir(samples).entryList(QDir::Files).size(), 7);
    for (int number = 0; number < 7; ++number) {
        SCOPED_TRACE(number);
        const QImage sample(QString("%1/Print exemplo %2.png").arg(samples).arg(number));
        ASSERT_EQ(sample.size(), QSize(800, 500));
        // 72 dots per inch: a screenshot at scale 1.
        EXPECT_EQ(sample.dotsPerMeterX(), 2835);
        const QColor colour = colours[number];
        EXPECT_TRUE(near(sample.pixel(10, 10), colour));
        EXPECT_TRUE(near(sample.pixel(799, 499), colour));
        EXPECT_TRUE(near(sample.pixel(79, 200), colour));
        const QColor panel(qRound(255 * 0.85 + colour.red() * 0.15), qRound(255 * 0.85 + colour.green() * 0.15),
            qRound(255 * 0.85 + colour.blue() * 0.15));
        EXPECT_TRUE(near(sample.pixel(80, 80), panel));
        EXPECT_TRUE(near(sample.pixel(719, 379), panel));
        EXPECT_TRUE(near(sample.pixel(720, 200), colour));
        EXPECT_TRUE(near(sample.pixel(400, 380), colour));
    }
}

TEST_F(UiSnapshotsRun, DarkSnapshotsAreDarkerThanTheirLightTwins)
{
    const std::pair<const char *, const char *> twins[] = {
        {"main-capturar", "main-capturar-escuro"},
        {"main-ajustes", "main-ajustes-escuro"},
        {"main-biblioteca", "main-biblioteca-escuro"},
        {"onboarding-2-permissao-falta", "onboarding-2-escuro"},
    };
    for (const auto &[light, dark] : twins) {
        SCOPED_TRACE(dark);
        const QImage lightImage = image(shared->out, light);
        const QImage darkImage = image(shared->out, dark);
        ASSERT_FALSE(lightImage.isNull());
        ASSERT_FALSE(darkImage.isNull());
        EXPECT_LT(meanGray(darkImage) + 60, meanGray(lightImage));
    }
}

TEST_F(UiSnapshotsRun, EachStateShowsSomethingOfItsOwn)
{
    // Same page and appearance, different model or updater state.
    const std::pair<const char *, const char *> pairs[] = {
        {"main-capturar", "main-gravando"},
        {"main-capturar", "main-capturar-vazio-sem-permissao"},
        {"main-capturar", "main-atualizacao"},
        {"main-capturar", "main-atualizacao-erro"},
        {"main-atualizacao", "main-atualizacao-erro"},
        {"main-capturar-escuro", "main-atualizacao-escuro"},
        {"main-ajustes-escuro", "main-atualizacao-ajustes"},
        {"main-biblioteca", "main-biblioteca-vazia"},
        {"onboarding-2-permissao-falta", "onboarding-2-permissao-ok"},
        {"onboarding-1-boas-vindas", "onboarding-3-microfone"},
        {"onboarding-3-microfone", "onboarding-4-atalhos"},
    };
    for (const auto &[first, second] : pairs) {
        SCOPED_TRACE(std::string(first) + " / " + second);
        const QImage a = image(shared->out, first);
        const QImage b = image(shared->out, second);
        ASSERT_FALSE(a.isNull());
        ASSERT_FALSE(b.isNull());
        EXPECT_NE(a, b);
    }
}

TEST_F(UiSnapshotsRun, WritesNoSettingsAndLeavesNoTemporaryFiles)
{
    EXPECT_FALSE(QFileInfo::exists(shared->home.settingsFile()));
    EXPECT_TRUE(QDir(shared->home.tempDir()).isEmpty())
        << QDir(shared->home.tempDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(", ").toStdString();
}

TEST(UiSnapshots, UsersSettingsAndSavedFrameStayAsTheyWere)
{
    if (TestSupport::appPath().isEmpty())
        GTEST_SKIP() << "run through ctest";
    const QByteArray settings = "[General]\ncapturesMicrophone=true\n\n[MainWindow]\nframe=\"37,45,1003,701\"\n";
    QDateTime modified;
    // "--ui-samples" as the last argument names no folder: samples are made.
    const auto run = runSnapshots({"--ui-samples"}, [&](const TestSupport::TempHome &home) {
        QDir().mkpath(QFileInfo(home.settingsFile()).absolutePath());
        TestSupport::writeFile(home.settingsFile(), settings);
        QFile file(home.settingsFile());
        file.open(QIODevice::ReadWrite);
        modified = QDateTime::currentDateTimeUtc().addSecs(-3600);
        file.setFileTime(modified, QFileDevice::FileModificationTime);
    });
    ASSERT_EQ(run->result.exitCode, 0) << run->result.err.toStdString();
    EXPECT_EQ(TestSupport::readFile(run->home.settingsFile()), settings);
    EXPECT_EQ(
        QFileInfo(run->home.settingsFile()).lastModified().toUTC().toSecsSinceEpoch(), modified.toSecsSinceEpoch());
    EXPECT_EQ(
        QDir(QFileInfo(run->home.settingsFile()).absolutePath()).entryList(QDir::Files), QStringList {"Velunta.conf"});
    EXPECT_EQ(QDir(run->out + "/amostras").entryList(QDir::Files).size(), 7);
    EXPECT_EQ(TestSupport::readFile(run->out + "/result.txt"), "FIM\n");
}

TEST(UiSnapshots, GivenSamplesFolderIsShownAndNothingIsGenerated)
{
    if (TestSupport::appPath().isEmpty())
        GTEST_SKIP() << "run through ctest";
    QTemporaryDir captures;
    ASSERT_TRUE(captures.isValid());
    const QString samples = captures.path() + "/capturas";
    QDir().mkpath(samples);
    QImage capture(640, 400, QImage::Format_RGB32);
    capture.fill(QColor(20, 200, 40));
    ASSERT_TRUE(capture.save(samples + "/Print verde.png"));

    const auto withSamples = runSnapshots({"--ui-samples", samples});
    ASSERT_EQ(withSamples->result.exitCode, 0) << withSamples->result.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(withSamples->out + "/amostras"));
    EXPECT_EQ(QDir(samples).entryList(QDir::Files), QStringList {"Print verde.png"});
    EXPECT_EQ(TestSupport::readFile(withSamples->out + "/result.txt"), "FIM\n");
    // The green capture shows on the library page.
    const QImage library = image(withSamples->out, "main-biblioteca");
    ASSERT_FALSE(library.isNull());
    bool sawGreen = false;
    for (int y = 0; y < library.height() && !sawGreen; y += 2)
        for (int x = 0; x < library.width() && !sawGreen; x += 2)
            sawGreen = near(library.pixel(x, y), QColor(20, 200, 40));
    EXPECT_TRUE(sawGreen);
}

} // namespace

namespace {

TEST(UiSnapshots, OutputFolderThatCannotBeMadeEndsTheRunWithoutAMarker)
{
    if (TestSupport::appPath().isEmpty())
        GTEST_SKIP() << "run through ctest";
    // The output folder's parent is a regular file, so nothing can be created.
    const auto run = runSnapshots(
        {}, [](const TestSupport::TempHome &home) { TestSupport::writeFile(home.path() + "/saida", "arquivo"); });
    EXPECT_FALSE(run->result.crashed);
    EXPECT_FALSE(run->result.timedOut);
    EXPECT_FALSE(QFileInfo::exists(run->out + "/result.txt"));
    EXPECT_TRUE(run->result.err.contains("result.txt")) << run->result.err.toStdString();
    EXPECT_TRUE(run->result.err.contains("main-capturar.png")) << run->result.err.toStdString();
    EXPECT_EQ(TestSupport::readFile(run->home.path() + "/saida"), "arquivo");
    EXPECT_FALSE(QFileInfo::exists(run->home.settingsFile()));
}

} // namespace
