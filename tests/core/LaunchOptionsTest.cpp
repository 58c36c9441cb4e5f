#include "core/LaunchOptions.h"

#include <gtest/gtest.h>

using Mode = LaunchOptions::Mode;

namespace {

LaunchOptions parse(QStringList args)
{
    args.prepend("/opt/Velunta.app/Contents/MacOS/Velunta");
    return LaunchOptions::parse(args, "/home/ana");
}

} // namespace

TEST(LaunchOptions, NoArgumentsIsTheNormalRun)
{
    EXPECT_EQ(parse({}).mode, Mode::normal);
}

TEST(LaunchOptions, UpdateTestTakesManifestAndReportAndWinsOverOtherModes)
{
    const auto o = parse({"--self-test", "/tmp/x", "--update-test", "https://h/m.json", "r.txt"});
    EXPECT_EQ(o.mode, Mode::updateTest);
    EXPECT_EQ(o.manifest, "https://h/m.json");
    EXPECT_EQ(o.path, "/home/ana/r.txt");
    EXPECT_FALSE(o.install);
    EXPECT_TRUE(o.isManual);
}

TEST(LaunchOptions, InstallAndAutoCountAnywhereButOnlyWithUpdateTest)
{
    const auto o = parse({"--install", "--auto", "--update-test", "m", "/r"});
    EXPECT_TRUE(o.install);
    EXPECT_FALSE(o.isManual);

    const auto alone = parse({"--install", "--auto"});
    EXPECT_EQ(alone, LaunchOptions {});
}

TEST(LaunchOptions, UpdateTestWithOneValueIsIgnored)
{
    EXPECT_EQ(parse({"--update-test", "m"}).mode, Mode::normal);
    const auto o = parse({"--update-test", "m", "--merge-test"});
    // Two elements follow, so they are taken as they are.
    EXPECT_EQ(o.mode, Mode::updateTest);
    EXPECT_EQ(o.path, "/home/ana/--merge-test");

    const auto fallsThrough = parse({"--self-test", "/f", "--update-test", "m"});
    EXPECT_EQ(fallsThrough.mode, Mode::selfTest);
    EXPECT_EQ(fallsThrough.path, "/f");
}

TEST(LaunchOptions, SingleValueModesFollowTheFixedOrderNotTheCommandLine)
{
    auto o = parse({"--merge-test", "y", "--self-test", "x"});
    EXPECT_EQ(o.mode, Mode::selfTest);
    EXPECT_EQ(o.path, "/home/ana/x");

    o = parse({"--ui-snapshots", "u", "--merge-test", "m", "--update-report", "r"});
    EXPECT_EQ(o.mode, Mode::updateReport);
    EXPECT_EQ(o.path, "/home/ana/r");

    o = parse({"--ui-snapshots", "u", "--merge-test", "m"});
    EXPECT_EQ(o.mode, Mode::mergeTest);

    o = parse({"--ui-snapshots", "u"});
    EXPECT_EQ(o.mode, Mode::uiSnapshots);
}

TEST(LaunchOptions, AModeWithoutItsValueIsSkipped)
{
    EXPECT_EQ(parse({"--self-test"}).mode, Mode::normal);
    const auto o = parse({"--merge-test", "m", "--self-test"});
    EXPECT_EQ(o.mode, Mode::mergeTest);
}

TEST(LaunchOptions, TheFirstOccurrenceOfARepeatedFlagWins)
{
    const auto o = parse({"--self-test", "a", "--self-test", "b"});
    EXPECT_EQ(o.path, "/home/ana/a");
}

TEST(LaunchOptions, ValuesAreVerbatimEvenWhenTheyLookLikeFlags)
{
    const auto o = parse({"--self-test", "--merge-test"});
    EXPECT_EQ(o.mode, Mode::selfTest);
    EXPECT_EQ(o.path, "/home/ana/--merge-test");
}

TEST(LaunchOptions, FlagsMatchExactly)
{
    EXPECT_EQ(parse({"--self-test=/x"}).mode, Mode::normal);
    EXPECT_EQ(parse({"--SELF-TEST", "/x"}).mode, Mode::normal);
    EXPECT_EQ(parse({"--self", "/x"}).mode, Mode::normal);
}

TEST(LaunchOptions, ArgumentValueResolvesRelativePathsAgainstTheWorkingDirectory)
{
    const QStringList args {"prog", "--update-confirm", "../m/marker", "--update-rolled-back"};
    EXPECT_EQ(LaunchOptions::argumentValue(args, "--update-confirm", "/a/b"), QString("/a/m/marker"));
    EXPECT_EQ(LaunchOptions::argumentValue(args, "--update-rolled-back", "/a/b"), std::nullopt);
    EXPECT_EQ(LaunchOptions::argumentValue(args, "--missing", "/a/b"), std::nullopt);
    EXPECT_EQ(LaunchOptions::argumentValue(args, "prog", "/a/b"), QString("/a/b/--update-confirm"));
}

TEST(LaunchOptions, OnlyTheNormalRunAndTheSelfTestNeedAScreen)
{
    EXPECT_TRUE(parse({}).needsScreen());
    EXPECT_TRUE(parse({"--self-test", "x"}).needsScreen());
    EXPECT_FALSE(parse({"--merge-test", "x"}).needsScreen());
    EXPECT_FALSE(parse({"--update-report", "x"}).needsScreen());
    EXPECT_FALSE(parse({"--update-test", "m", "r"}).needsScreen());
    EXPECT_FALSE(parse({"--ui-snapshots", "x"}).needsScreen());
}

TEST(LaunchOptions, HelpAndVersionOnlyReplaceTheNormalRun)
{
    EXPECT_EQ(parse({"--help"}).mode, Mode::help);
    EXPECT_EQ(parse({"--version"}).mode, Mode::version);
    EXPECT_EQ(parse({"--version", "--help"}).mode, Mode::help);
    EXPECT_TRUE(parse({"--help"}).printsAndExits());
    EXPECT_FALSE(parse({"--help"}).isDiagnostic());
    EXPECT_FALSE(parse({"--help"}).needsScreen());

    // A diagnostic mode's value is taken verbatim, even when it reads "--help".
    const auto selfTest = parse({"--self-test", "--help"});
    EXPECT_EQ(selfTest.mode, Mode::selfTest);
    EXPECT_EQ(selfTest.path, "/home/ana/--help");
    EXPECT_EQ(parse({"--merge-test", "/m", "--version"}).mode, Mode::mergeTest);
    // Exact equality only.
    EXPECT_EQ(parse({"--HELP", "-h", "--help=1", "--versions"}).mode, Mode::normal);
}

TEST(LaunchOptions, CaptureActionsAreNormalRunsAndTheFirstOneCounts)
{
    using Action = LaunchOptions::Action;
    EXPECT_EQ(parse({}).action, Action::none);
    EXPECT_EQ(parse({"--screenshot"}).action, Action::screenshot);
    EXPECT_EQ(parse({"--screenshot-area"}).action, Action::screenshotArea);
    EXPECT_EQ(parse({"--record"}).action, Action::record);
    EXPECT_EQ(parse({"--record-area"}).action, Action::recordArea);
    EXPECT_EQ(parse({"--record-area", "--screenshot"}).action, Action::recordArea);
    EXPECT_EQ(parse({"--screenshot"}).mode, Mode::normal);

    // Unknown arguments change nothing, as before.
    EXPECT_EQ(parse({"--screenshots", "--record=1", "foo"}), LaunchOptions {});
    // Help wins over an action; a diagnostic mode drops it.
    EXPECT_EQ(parse({"--screenshot", "--help"}).mode, Mode::help);
    const auto diagnostic = parse({"--record", "--update-report", "/r"});
    EXPECT_EQ(diagnostic.mode, Mode::updateReport);
    EXPECT_EQ(diagnostic.action, Action::none);
}

TEST(LaunchOptions, BackgroundIsANormalRunThatActionsAndModesOverride)
{
    using Action = LaunchOptions::Action;
    auto o = parse({"--background"});
    EXPECT_EQ(o.mode, Mode::normal);
    EXPECT_EQ(o.action, Action::none);
    EXPECT_TRUE(o.background);
    EXPECT_TRUE(o.needsScreen());
    EXPECT_FALSE(parse({}).background);

    // Unknown arguments around it change nothing; only the exact spelling counts.
    o = parse({"foo", "--background", "--background=1", "--nonsense"});
    EXPECT_TRUE(o.background);
    EXPECT_EQ(o.mode, Mode::normal);
    EXPECT_FALSE(parse({"--background=1", "--BACKGROUND", "-background", "--backgroun"}).background);

    // A capture action wins, whichever comes first.
    for (const QStringList &args :
        {QStringList {"--background", "--screenshot-area"}, QStringList {"--record", "--background"}}) {
        o = parse(args);
        EXPECT_NE(o.action, Action::none) << args.join(' ').toStdString();
        EXPECT_FALSE(o.background) << args.join(' ').toStdString();
    }

    // A mode wins, and its value may still read "--background".
    o = parse({"--background", "--self-test", "/t"});
    EXPECT_EQ(o.mode, Mode::selfTest);
    EXPECT_FALSE(o.background);
    o = parse({"--merge-test", "--background"});
    EXPECT_EQ(o.mode, Mode::mergeTest);
    EXPECT_EQ(o.path, "/home/ana/--background");
    EXPECT_FALSE(o.background);
    EXPECT_EQ(parse({"--background", "--help"}).mode, Mode::help);
    EXPECT_FALSE(parse({"--version", "--background"}).background);
}

TEST(LaunchOptions, HelpNamesEveryOptionAndEveryFlagRoundTrips)
{
    const QString help = LaunchOptions::helpText();
    for (const char *option : {"--screenshot ", "--screenshot-area", "--record ", "--record-area", "--self-test",
             "--merge-test", "--ui-snapshots", "--ui-samples", "--update-test", "--install", "--auto",
             "--update-report", "--help", "--version", "--background"})
        EXPECT_TRUE(help.contains(QLatin1String(option))) << option;

    using Action = LaunchOptions::Action;
    for (Action action : {Action::screenshot, Action::screenshotArea, Action::record, Action::recordArea})
        EXPECT_EQ(parse({LaunchOptions::actionFlag(action)}).action, action);
    EXPECT_TRUE(LaunchOptions::actionFlag(Action::none).isEmpty());
    EXPECT_EQ(LaunchOptions::versionText("1.2.3", 42), "Velunta 1.2.3 (build 42)\n");
}
