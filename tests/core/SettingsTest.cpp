#include "core/Settings.h"
#include "support/TestSupport.h"

#include <QMap>
#include <QSettings>
#include <gtest/gtest.h>

using TestSupport::TempHome;

namespace {

QMap<QString, QString> probe(const TempHome &home, QStringList args = {})
{
    auto result = TestSupport::run(qEnvironmentVariable("SETTINGS_PROBE"), args, home.environment());
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    QMap<QString, QString> values;
    for (const QByteArray &line : result.out.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return values;
}

void writeIni(const TempHome &home, const QByteArray &text)
{
    TestSupport::writeFile(home.settingsFile(), "[General]\n" + text);
}

} // namespace

TEST(Settings, DefaultsOnAFreshInstallation)
{
    TempHome home;
    const auto v = probe(home);
    EXPECT_EQ(v["hasCompletedOnboarding"], "0");
    EXPECT_EQ(v["onboardingStep"], "0");
    EXPECT_EQ(v["capturesSystemAudio"], "1");
    EXPECT_EQ(v["capturesMicrophone"], "0");
    EXPECT_EQ(v["copiesToClipboard"], "1");
    EXPECT_EQ(v["checksForUpdates"], "1");
    EXPECT_EQ(v["usesBetaUpdates"], "0");
    EXPECT_EQ(v["skippedUpdateBuild"], "0");
    EXPECT_TRUE(v["saveFolder"].endsWith("/Velunta")) << v["saveFolder"].toStdString();
    EXPECT_TRUE(v["saveFolder"].startsWith(home.path())) << v["saveFolder"].toStdString();
}

TEST(Settings, TheUpdateBucketIsDrawnOnceAndKeptAcrossRestarts)
{
    TempHome home;
    const QString bucket = probe(home)["updateBucket"];
    const int n = bucket.toInt();
    EXPECT_GE(n, 0);
    EXPECT_LT(n, 100);
    EXPECT_TRUE(TestSupport::readFile(home.settingsFile()).contains("updateBucket=" + bucket.toUtf8()));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(probe(home)["updateBucket"], bucket);
}

TEST(Settings, ValuesWrittenByOneRunAreReadByTheNext)
{
    TempHome home;
    probe(home, {"set-bool", "copiesScreenshots", "false"});
    probe(home, {"set-bool", "capturesSystemAudio", "false"});
    probe(home, {"set-int", "skippedUpdateBuild", "57"});
    probe(home, {"set-int", "onboardingStep", "2"});
    probe(home, {"set-string", "saveFolder", "/srv/capturas"});
    const auto v = probe(home);
    EXPECT_EQ(v["copiesToClipboard"], "0");
    EXPECT_EQ(v["capturesSystemAudio"], "0");
    EXPECT_EQ(v["skippedUpdateBuild"], "57");
    EXPECT_EQ(v["onboardingStep"], "2");
    EXPECT_EQ(v["saveFolder"], "/srv/capturas");
}

TEST(Settings, AValueOfTheWrongTypeCountsAsAbsent)
{
    TempHome home;
    writeIni(home,
        "capturesSystemAudio=yes\ncopiesScreenshots=0\nupdateBucket=abc\n"
        "capturesMicrophone=TRUE\nskippedUpdateBuild=12x\nonboardingStep=9\n");
    const auto v = probe(home);
    EXPECT_EQ(v["capturesSystemAudio"], "1");
    EXPECT_EQ(v["copiesToClipboard"], "1");
    EXPECT_EQ(v["capturesMicrophone"], "0");
    EXPECT_EQ(v["skippedUpdateBuild"], "0");
    EXPECT_EQ(v["onboardingStep"], "0") << "any step but 0 to 3 means the first";
    // A mistyped bucket is replaced by a fresh draw, which is then kept.
    const QString bucket = v["updateBucket"];
    EXPECT_FALSE(TestSupport::readFile(home.settingsFile()).contains("updateBucket=abc"));
    EXPECT_EQ(probe(home)["updateBucket"], bucket);
}

TEST(Settings, ExactTextIsTheType)
{
    TempHome home;
    writeIni(home, "copiesScreenshots=false\ncapturesMicrophone=true\nupdateBucket=42\nskippedUpdateBuild=-3\n");
    const auto v = probe(home);
    EXPECT_EQ(v["copiesToClipboard"], "0");
    EXPECT_EQ(v["capturesMicrophone"], "1");
    EXPECT_EQ(v["updateBucket"], "42");
    EXPECT_EQ(v["skippedUpdateBuild"], "-3");
}

TEST(Settings, ARelativeSaveFolderIsTakenAgainstTheWorkingDirectory)
{
    TempHome home;
    writeIni(home, "saveFolder=capturas/novas\n");
    auto result = TestSupport::run(qEnvironmentVariable("SETTINGS_PROBE"), {}, home.environment(), 30000, "/tmp");
    EXPECT_TRUE(result.out.contains("saveFolder=/tmp/capturas/novas\n")) << result.out.toStdString();
}

TEST(Settings, SecureDrawsCoverTheRangeEvenly)
{
    int counts[3] = {0, 0, 0};
    for (int i = 0; i < 30000; ++i) {
        const quint32 n = Settings::secureRandomBelow(3);
        ASSERT_LT(n, 3u);
        ++counts[n];
    }
    for (int c : counts)
        EXPECT_NEAR(c, 10000, 600);
}

TEST(Settings, InProcessTypedValuesFollowTheSameRules)
{
    TempHome home;
    home.applyToThisProcess();
    Settings::store().setValue("capturesSystemAudio", 3);
    EXPECT_TRUE(Settings::capturesSystemAudio()) << "an integer is not a Boolean";
    Settings::setValue(Settings::Key::capturesSystemAudio, false);
    EXPECT_FALSE(Settings::capturesSystemAudio());
    Settings::store().setValue("updateBucket", true);
    const int bucket = Settings::updateBucket();
    EXPECT_EQ(Settings::updateBucket(), bucket);
}

TEST(Settings, AnIntegerIsDecimalTextWithNothingAfterIt)
{
    // An INI file can hold a line break inside a value ("57\n").
    TempHome home;
    writeIni(home, "skippedUpdateBuild=57\\n\nonboardingStep=2\\n\n");
    const auto v = probe(home);
    EXPECT_EQ(v["skippedUpdateBuild"], "0");
    EXPECT_EQ(v["onboardingStep"], "0");
    EXPECT_EQ(Settings::intFromStored(QStringLiteral("57\n")), std::nullopt);
    EXPECT_EQ(Settings::intFromStored(QStringLiteral(" 57")), std::nullopt);
    EXPECT_EQ(Settings::intFromStored(QStringLiteral("+57")), 57);
    EXPECT_EQ(Settings::boolFromStored(QStringLiteral("true\n")), std::nullopt);
}
