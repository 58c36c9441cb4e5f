// Which restore token a recording offers the ScreenCast portal, and which
// are kept once the portal answers, on two monitors side by side.
#include "platform/wayland/CastTokens.h"

#include <gtest/gtest.h>

namespace {

using Token = CastTokens::Token;
using Tokens = std::vector<Token>;

const QRect left(0, 0, 1920, 1080);
const QRect right(1920, 0, 1280, 1024);

} // namespace

TEST(CastTokens, TheAreaGetsTheTokenOfTheMonitorHoldingIt)
{
    const Tokens kept {{left, "L"}, {right, "R"}};
    EXPECT_EQ(CastTokens::forArea(kept, QRectF(100, 100, 320, 240), 1), "L");
    EXPECT_EQ(CastTokens::forArea(kept, QRectF(2000, 100, 320, 240), 1), "R");
    // A whole screen, and one whose far edge is a rounding past it.
    EXPECT_EQ(CastTokens::forArea(kept, QRectF(right), 1), "R");
    EXPECT_EQ(CastTokens::forArea(kept, QRectF(1920, 0, 1280.5, 1024.5), 1), "R");
    // Across both: no monitor holds it, and none is guessed.
    EXPECT_EQ(CastTokens::forArea(kept, QRectF(1800, 100, 320, 240), 1), "");
    // A monitor without a token of its own: asked anew, not given the other's.
    EXPECT_EQ(CastTokens::forArea({{left, "L"}}, QRectF(2000, 100, 320, 240), 1), "");
    EXPECT_EQ(CastTokens::forArea({}, QRectF(100, 100, 320, 240), 1), "");
    EXPECT_EQ(CastTokens::forArea(kept, QRectF(), 1), "");
}

TEST(CastTokens, ATokenOfAnUnknownMonitorIsTriedWhereNoMonitorsOwnIs)
{
    const Tokens kept {{QRect(), "old"}, {right, "R"}};
    EXPECT_EQ(CastTokens::forArea(kept, QRectF(2000, 100, 320, 240), 1), "R");
    EXPECT_EQ(CastTokens::forArea(kept, QRectF(100, 100, 320, 240), 1), "old");
}

TEST(CastTokens, TheNewTokenIsKeptForTheMonitorShownAndTheOfferedOneGoes)
{
    // The first consent, on the left monitor.
    Tokens kept = CastTokens::keeping({}, left, "L1", "");
    EXPECT_EQ(kept, (Tokens {{left, "L1"}}));
    // The right monitor, picked in the chooser: the left one's stays.
    kept = CastTokens::keeping(kept, right, "R1", "");
    EXPECT_EQ(kept, (Tokens {{left, "L1"}, {right, "R1"}}));
    // Restored from its token: a token serves one session.
    kept = CastTokens::keeping(kept, right, "R2", "R1");
    EXPECT_EQ(kept, (Tokens {{left, "L1"}, {right, "R2"}}));
    // A portal that hands back nothing leaves things as they were.
    EXPECT_EQ(CastTokens::keeping(kept, left, "", ""), kept);
}

TEST(CastTokens, TheTokenOfAnUnknownMonitorBecomesTheOneItBroughtBack)
{
    // An earlier version's single token restored the left monitor for an
    // area on the right one; the chooser then gave the right one.
    Tokens kept = CastTokens::keeping({{QRect(), "old"}}, left, "L1", "old");
    EXPECT_EQ(kept, (Tokens {{left, "L1"}}));
    kept = CastTokens::keeping(kept, right, "R1", "");
    EXPECT_EQ(kept, (Tokens {{left, "L1"}, {right, "R1"}}));
    EXPECT_EQ(CastTokens::forArea(kept, QRectF(100, 100, 320, 240), 1), "L1");
    EXPECT_EQ(CastTokens::forArea(kept, QRectF(2000, 100, 320, 240), 1), "R1");
}

TEST(CastTokens, AMonitorOfAnEarlierLayoutIsReplaced)
{
    // The right monitor was once placed lower and bigger; now it overlaps
    // where it is, so that token is for a layout that no longer exists.
    const Tokens kept {{left, "L"}, {QRect(1920, 200, 1920, 1080), "stale"}};
    EXPECT_EQ(CastTokens::keeping(kept, right, "R", ""), (Tokens {{left, "L"}, {right, "R"}}));
}

TEST(CastTokens, AStreamThatDoesNotSayWhereItLiesKeepsOneTokenForAnUnknownMonitor)
{
    Tokens kept = CastTokens::keeping({{left, "L"}}, QRect(), "u1", "");
    EXPECT_EQ(kept, (Tokens {{left, "L"}, {QRect(), "u1"}}));
    kept = CastTokens::keeping(kept, QRect(), "u2", "u1");
    EXPECT_EQ(kept, (Tokens {{left, "L"}, {QRect(), "u2"}}));
    EXPECT_EQ(CastTokens::forArea(kept, QRectF(2000, 0, 10, 10), 1), "u2");
}
