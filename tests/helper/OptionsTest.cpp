#include "Options.h"

#include <gtest/gtest.h>

using namespace VeluntaUpdateHelper;

namespace {

using Args = std::vector<std::string>;

Args full()
{
    return {"--pid", "42", "--new", "/w/app/Velunta.app", "--target", "/Apps/Velunta.app", "--work", "/w", "--build",
        "7", "--timeout", "8", "--"};
}

Args with(Args args, std::initializer_list<std::string> more)
{
    args.insert(args.end(), more);
    return args;
}

} // namespace

TEST(HelperOptions, TheApplicationsCommandLineReadsIntoEveryField)
{
    const auto options = parseOptions(with(full(), {"--update-report", "/r.txt"}));
    ASSERT_TRUE(options);
    EXPECT_EQ(options->pid, 42);
    EXPECT_EQ(options->newBundle, "/w/app/Velunta.app");
    EXPECT_EQ(options->target, "/Apps/Velunta.app");
    EXPECT_EQ(options->work, "/w");
    EXPECT_EQ(options->build, "7");
    EXPECT_EQ(options->timeout, 8);
    EXPECT_EQ(options->relaunchArguments, (Args {"--update-report", "/r.txt"}));
}

TEST(HelperOptions, DefaultsAndOptionalParts)
{
    // No build, no timeout, no "--": still a valid line.
    const auto options = parseOptions({"--pid", "1", "--new", "N", "--target", "T", "--work", "W"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->build, "");
    EXPECT_EQ(options->timeout, 30);
    EXPECT_TRUE(options->relaunchArguments.empty());

    const auto emptyTail = parseOptions(full());
    ASSERT_TRUE(emptyTail);
    EXPECT_TRUE(emptyTail->relaunchArguments.empty());
}

TEST(HelperOptions, UnreadablePidMakesTheLineInvalid)
{
    EXPECT_FALSE(parseOptions({"--pid", "abc", "--new", "N", "--target", "T", "--work", "W"}));
    EXPECT_FALSE(parseOptions({"--pid", "0", "--new", "N", "--target", "T", "--work", "W"}));
    EXPECT_FALSE(parseOptions({"--pid", "-5", "--new", "N", "--target", "T", "--work", "W"}));
    EXPECT_FALSE(parseOptions({"--pid", "2147483648", "--new", "N", "--target", "T", "--work", "W"}));
    EXPECT_FALSE(parseOptions({"--pid", " 5", "--new", "N", "--target", "T", "--work", "W"}));
    const auto maximum = parseOptions({"--pid", "+2147483647", "--new", "N", "--target", "T", "--work", "W"});
    ASSERT_TRUE(maximum);
    EXPECT_EQ(maximum->pid, 2147483647);
}

TEST(HelperOptions, TimeoutValues)
{
    auto timeoutOf = [](const std::string &value) {
        return parseOptions({"--pid", "3", "--new", "N", "--target", "T", "--work", "W", "--timeout", value});
    };
    EXPECT_EQ(timeoutOf("x")->timeout, 30);
    EXPECT_EQ(timeoutOf("")->timeout, 30);
    EXPECT_EQ(timeoutOf("0")->timeout, 0);
    EXPECT_EQ(timeoutOf("+12")->timeout, 12);
    EXPECT_EQ(timeoutOf("99999999999999999999")->timeout, 30); // does not fit: unreadable
    EXPECT_FALSE(timeoutOf("-1"));
}

TEST(HelperOptions, ValuesAreTakenVerbatimAndTheLastRepeatWins)
{
    const auto options = parseOptions(
        {"--pid", "3", "--new", "--target", "--target", "T", "--work", "W", "--build", "1", "--build", "--"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->newBundle, "--target");
    EXPECT_EQ(options->target, "T");
    EXPECT_EQ(options->build, "--");
    EXPECT_TRUE(options->relaunchArguments.empty());
}

TEST(HelperOptions, UnknownNamesAndMissingValuesMakeTheLineInvalid)
{
    EXPECT_FALSE(parseOptions({}));
    EXPECT_FALSE(
        parseOptions(with({"--frobnicate", "x"}, {"--pid", "1", "--new", "N", "--target", "T", "--work", "W"})));
    EXPECT_FALSE(parseOptions({"--pid", "1", "--target", "T", "--work", "W", "--new"}));
    EXPECT_FALSE(parseOptions({"--pid", "1", "--new", "N", "--target", "T", "--work", "W", "stray"}));
    EXPECT_FALSE(parseOptions({"--pid", "1", "--new", "", "--target", "T", "--work", "W"}));
    EXPECT_FALSE(parseOptions({"--pid", "1", "--new", "N", "--target", "T", "--", "--work", "W"}));

    const auto passedOn = parseOptions(with(full(), {"--frobnicate", "--pid"}));
    ASSERT_TRUE(passedOn);
    EXPECT_EQ(passedOn->relaunchArguments, (Args {"--frobnicate", "--pid"}));
    EXPECT_EQ(passedOn->pid, 42);
}

TEST(HelperOptions, DecimalReading)
{
    EXPECT_EQ(readDecimal("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(readDecimal("9223372036854775807"), INT64_MAX);
    EXPECT_FALSE(readDecimal("9223372036854775808"));
    EXPECT_FALSE(readDecimal("-"));
    EXPECT_FALSE(readDecimal("1e3"));
    EXPECT_FALSE(readDecimal("12 "));
    EXPECT_EQ(readDecimal("-007"), -7);
}
