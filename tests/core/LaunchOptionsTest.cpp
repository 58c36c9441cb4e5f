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
    EXPECT_EQ(alone, LaunchOptions{});
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
    const QStringList args{"prog", "--update-confirm", "../m/marker", "--update-rolled-back"};
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
