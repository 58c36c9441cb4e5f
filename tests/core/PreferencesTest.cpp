#include "core/Preferences.h"
#include "support/TestSupport.h"

#include <QMap>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
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

TEST(Preferences, DefaultsOnAFreshInstallation)
{
    TempHome home;
    const auto v = probe(home);
    EXPECT_EQ(v["hasCompletedOnboarding"], "0");
    EXPECT_EQ(v["onboardingStep"], "0");
    EXPECT_EQ(v["capturesSystemAudio"], "1");
    EXPECT_EQ(v["capturesMicrophone"], "0");
    EXPECT_EQ(v["microphoneDevice"], "") << "the system's default";
    EXPECT_EQ(v["copiesToClipboard"], "1");
    EXPECT_EQ(v["checksForUpdates"], "1");
    EXPECT_EQ(v["usesBetaUpdates"], "0");
    EXPECT_EQ(v["skippedUpdateBuild"], "0");
    EXPECT_TRUE(v["saveFolder"].endsWith("/Velunta")) << v["saveFolder"].toStdString();
    EXPECT_TRUE(v["saveFolder"].startsWith(home.path())) << v["saveFolder"].toStdString();
}

TEST(Preferences, TheUpdateBucketIsDrawnOnceAndKeptAcrossRestarts)
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

TEST(Preferences, ValuesWrittenByOneRunAreReadByTheNext)
{
    TempHome home;
    probe(home, {"set-bool", "copiesScreenshots", "false"});
    probe(home, {"set-bool", "capturesSystemAudio", "false"});
    probe(home, {"set-int", "skippedUpdateBuild", "57"});
    probe(home, {"set-int", "onboardingStep", "2"});
    probe(home, {"set-string", "saveFolder", "/srv/capturas"});
    probe(home, {"set-string", "microphoneDevice", "alsa_input.usb-Headset_USB-00.mono-fallback"});
    const auto v = probe(home);
    EXPECT_EQ(v["copiesToClipboard"], "0");
    EXPECT_EQ(v["capturesSystemAudio"], "0");
    EXPECT_EQ(v["skippedUpdateBuild"], "57");
    EXPECT_EQ(v["onboardingStep"], "2");
    EXPECT_EQ(v["saveFolder"], "/srv/capturas");
    EXPECT_EQ(v["microphoneDevice"], "alsa_input.usb-Headset_USB-00.mono-fallback");
}

TEST(Preferences, AValueOfTheWrongTypeCountsAsAbsent)
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

TEST(Preferences, ExactTextIsTheType)
{
    TempHome home;
    writeIni(home, "copiesScreenshots=false\ncapturesMicrophone=true\nupdateBucket=42\nskippedUpdateBuild=-3\n");
    const auto v = probe(home);
    EXPECT_EQ(v["copiesToClipboard"], "0");
    EXPECT_EQ(v["capturesMicrophone"], "1");
    EXPECT_EQ(v["updateBucket"], "42");
    EXPECT_EQ(v["skippedUpdateBuild"], "-3");
}

TEST(Preferences, ARelativeSaveFolderIsTakenAgainstTheWorkingDirectory)
{
    TempHome home;
    writeIni(home, "saveFolder=capturas/novas\n");
    auto result = TestSupport::run(qEnvironmentVariable("SETTINGS_PROBE"), {}, home.environment(), 30000, "/tmp");
    EXPECT_TRUE(result.out.contains("saveFolder=/tmp/capturas/novas\n")) << result.out.toStdString();
}

TEST(Preferences, SecureDrawsCoverTheRangeEvenly)
{
    int counts[3] = {0, 0, 0};
    for (int i = 0; i < 30000; ++i) {
        const quint32 n = Preferences::secureRandomBelow(3);
        ASSERT_LT(n, 3u);
        ++counts[n];
    }
    for (int c : counts)
        EXPECT_NEAR(c, 10000, 600);
}

TEST(Preferences, InProcessTypedValuesFollowTheSameRules)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Velunta.conf");
    Preferences preferences(file);
    {
        QSettings raw(file, QSettings::IniFormat);
        raw.setValue("capturesSystemAudio", 3);
        raw.setValue("updateBucket", true);
    }
    EXPECT_TRUE(preferences.capturesSystemAudio()) << "an integer is not a Boolean";
    preferences.setCapturesSystemAudio(false);
    EXPECT_FALSE(preferences.capturesSystemAudio());
    const int bucket = preferences.updateBucket();
    EXPECT_GE(bucket, 0);
    EXPECT_LT(bucket, 100);
    EXPECT_EQ(preferences.updateBucket(), bucket);
}

TEST(Preferences, AnExplicitFileLeavesTheUserStoreAlone)
{
    TempHome home;
    home.applyToThisProcess();
    QTemporaryDir dir;
    Preferences preferences(dir.filePath("Velunta.conf"));
    preferences.setCopiesScreenshots(false);
    preferences.setSaveFolder("/srv/capturas");
    EXPECT_TRUE(QFile::exists(dir.filePath("Velunta.conf")));
    EXPECT_FALSE(QFile::exists(home.settingsFile()));
    EXPECT_EQ(Preferences(dir.filePath("Velunta.conf")).saveFolder(), "/srv/capturas");
}

TEST(Preferences, EachSetterSignalsOnlyARealChange)
{
    QTemporaryDir dir;
    Preferences preferences(dir.filePath("Velunta.conf"));
    QSignalSpy audio(&preferences, &Preferences::capturesSystemAudioChanged);
    QSignalSpy microphone(&preferences, &Preferences::capturesMicrophoneChanged);
    QSignalSpy folder(&preferences, &Preferences::saveFolderChanged);
    QSignalSpy step(&preferences, &Preferences::onboardingStepChanged);
    QSignalSpy any(&preferences, &Preferences::changed);

    preferences.setCapturesSystemAudio(true); // the default already
    EXPECT_EQ(audio.count(), 0);
    preferences.setCapturesSystemAudio(false);
    EXPECT_EQ(audio.count(), 1);
    EXPECT_EQ(microphone.count(), 0) << "only the key written signals";
    preferences.setCapturesMicrophone(true);
    EXPECT_EQ(microphone.count(), 1);

    preferences.setSaveFolder("/srv/a");
    preferences.setSaveFolder("/srv/a/../a");
    EXPECT_EQ(folder.count(), 1) << "the same folder spelled differently is no change";

    preferences.setOnboardingStep(2);
    preferences.setOnboardingStep(9); // out of range reads as the first step
    preferences.setOnboardingStep(0);
    EXPECT_EQ(step.count(), 2);
    EXPECT_EQ(preferences.onboardingStep(), 0);

    EXPECT_EQ(any.count(), audio.count() + microphone.count() + folder.count() + step.count());
}

TEST(Preferences, ADefaultValueIsWrittenToTheFileWhenSet)
{
    // Writing a default still stores it, as the text a restart reads back.
    QTemporaryDir dir;
    const QString file = dir.filePath("Velunta.conf");
    {
        Preferences preferences(file);
        preferences.setChecksForUpdates(true);
        preferences.setSkippedUpdateBuild(57);
    }
    const QByteArray text = TestSupport::readFile(file);
    EXPECT_TRUE(text.contains("checksForUpdates=true")) << text.toStdString();
    EXPECT_TRUE(text.contains("skippedUpdateBuild=57")) << text.toStdString();
}

TEST(Preferences, TheWindowFrameIsFourNumbersOrNothing)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Velunta.conf");
    Preferences preferences(file);
    EXPECT_EQ(preferences.mainWindowFrame(), std::nullopt);
    preferences.setMainWindowFrame(QRect(-40, 50, 900, 600));
    EXPECT_EQ(preferences.mainWindowFrame(), QRect(-40, 50, 900, 600));
    for (const char *garbled : {"1,2,3", "1,2,3,x", "", "1,2,3,4,5"}) {
        QSettings(file, QSettings::IniFormat).setValue("MainWindow/frame", garbled);
        EXPECT_EQ(Preferences(file).mainWindowFrame(), std::nullopt) << garbled;
    }
}

TEST(Preferences, AnIntegerIsDecimalTextWithNothingAfterIt)
{
    // An INI file can hold a line break inside a value ("57\n").
    TempHome home;
    writeIni(home, "skippedUpdateBuild=57\\n\nonboardingStep=2\\n\n");
    const auto v = probe(home);
    EXPECT_EQ(v["skippedUpdateBuild"], "0");
    EXPECT_EQ(v["onboardingStep"], "0");
    EXPECT_EQ(Preferences::intFromStored(QStringLiteral("57\n")), std::nullopt);
    EXPECT_EQ(Preferences::intFromStored(QStringLiteral(" 57")), std::nullopt);
    EXPECT_EQ(Preferences::intFromStored(QStringLiteral("+57")), 57);
    EXPECT_EQ(Preferences::boolFromStored(QStringLiteral("true\n")), std::nullopt);
}

TEST(Preferences, ScreenCastTokensAreTextKeptPerMonitorAcrossRestarts)
{
    using Token = Preferences::ScreenCastToken;
    QTemporaryDir dir;
    const QString file = dir.filePath("Velunta.conf");
    const std::vector<Token> two {{QRect(0, 0, 1920, 1080), "4f0c-a1"}, {QRect(1920, 0, 1280, 1024), "77b2"}};
    {
        Preferences preferences(file);
        EXPECT_TRUE(preferences.screenCastRestoreTokens().empty());
        QSignalSpy changed(&preferences, &Preferences::screenCastRestoreTokensChanged);
        preferences.setScreenCastRestoreTokens(two);
        preferences.setScreenCastRestoreTokens(two);
        EXPECT_EQ(changed.count(), 1);
    }
    EXPECT_EQ(Preferences(file).screenCastRestoreTokens(), two);

    // A monitor left of the first has a negative position; one given up goes.
    {
        Preferences preferences(file);
        preferences.setScreenCastRestoreTokens({{QRect(-1280, -24, 1280, 1024), "c9"}});
    }
    EXPECT_EQ(
        Preferences(file).screenCastRestoreTokens(), (std::vector<Token> {{QRect(-1280, -24, 1280, 1024), "c9"}}));
}

TEST(Preferences, TheSingleTokenOfEarlierVersionsIsKeptAsThatOfAnUnknownMonitor)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Velunta.conf");
    // A number written by hand is still a token's text, not a wrong type.
    TestSupport::writeFile(file, "[General]\nscreenCastRestoreToken=1234\n");
    {
        Preferences preferences(file);
        const std::vector<Preferences::ScreenCastToken> kept = preferences.screenCastRestoreTokens();
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_TRUE(kept[0].monitor.isEmpty());
        EXPECT_EQ(kept[0].token, "1234");
        // Once it brought a monitor back, it is that monitor's.
        preferences.setScreenCastRestoreTokens({{QRect(0, 0, 800, 600), "5678"}});
    }
    QSettings raw(file, QSettings::IniFormat);
    EXPECT_FALSE(raw.contains("screenCastRestoreToken")) << "the used single token stays behind";
    EXPECT_EQ(Preferences(file).screenCastRestoreTokens(),
        (std::vector<Preferences::ScreenCastToken> {{QRect(0, 0, 800, 600), "5678"}}));
}

TEST(Preferences, GarbledScreenCastTokensCountAsAbsent)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("Velunta.conf");
    TestSupport::writeFile(file,
        "[General]\nscreenCastRestoreToken=\n\n[screenCastRestoreTokens]\n"
        "0_0_800_600=good\n0_0_800=three\n0_0_0_600=empty\n0_x_800_600=letters\n"
        "10_0_800_600=@Rect(0 0 1 1)\n30_0_800_600=a, b\n20_0_800_600=\n");
    EXPECT_EQ(Preferences(file).screenCastRestoreTokens(),
        (std::vector<Preferences::ScreenCastToken> {{QRect(0, 0, 800, 600), "good"}}));
}
