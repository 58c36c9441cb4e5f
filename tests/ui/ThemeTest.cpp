#include "ui/Theme.h"

#include <gtest/gtest.h>

TEST(Theme, DarkAppearanceResolvesTheDarkValue)
{
    EXPECT_EQ(Theme::onInk.resolve(true), QColor("#17191D"));
    EXPECT_EQ(Theme::ink.resolve(true), QColor("#F0F1F3"));
    EXPECT_EQ(Theme::ink.resolve(false), QColor("#1B1D21"));
    EXPECT_EQ(Theme::rec.resolve(false).alpha(), 255);
    EXPECT_EQ(Theme::hudRec, QColor(229, 57, 44));
    EXPECT_EQ(Theme::rail, QColor("#1E2024"));
    EXPECT_TRUE(Theme::isDark(QColor("#202020")));
    EXPECT_FALSE(Theme::isDark(QColor("#EFEFEF")));
}

TEST(Theme, FilledButtonOpacityOrder)
{
    EXPECT_DOUBLE_EQ(Theme::filledButtonOpacity(false, true, true), 0.4);
    EXPECT_DOUBLE_EQ(Theme::filledButtonOpacity(true, true, true), 0.75);
    EXPECT_DOUBLE_EQ(Theme::filledButtonOpacity(true, false, true), 0.88);
    EXPECT_DOUBLE_EQ(Theme::filledButtonOpacity(true, false, false), 1.0);
}

TEST(Theme, CropMarksAreFourUnclampedLShapes)
{
    const QPainterPath marks = Theme::cropMarks(QRectF(0, 0, 100, 60), 14);
    ASSERT_EQ(marks.elementCount(), 12);
    EXPECT_TRUE(marks.elementAt(0).isMoveTo());
    EXPECT_EQ(QPointF(marks.elementAt(0)), QPointF(14, 0));
    EXPECT_EQ(QPointF(marks.elementAt(1)), QPointF(0, 0));
    EXPECT_EQ(QPointF(marks.elementAt(2)), QPointF(0, 14));
    EXPECT_EQ(QPointF(marks.elementAt(9)), QPointF(86, 60));
    EXPECT_EQ(QPointF(marks.elementAt(11)), QPointF(100, 46));

    // On 20 x 20 the left and right horizontal arms overlap by 8 points.
    const QPainterPath small = Theme::cropMarks(QRectF(0, 0, 20, 20), 14);
    EXPECT_EQ(QPointF(small.elementAt(0)).x() - QPointF(small.elementAt(3)).x(), 8);
}

#include "ui/Icons.h"

TEST(Icons, EveryMenuSymbolExistsAndTakesItsColour)
{
    for (const char *name : {"camera.viewfinder", "crop", "record.circle", "rectangle.dashed.badge.record",
                             "play.fill", "pause.fill", "stop.fill", "record.circle.fill", "doc"}) {
        ASSERT_TRUE(Icons::exists(name)) << name;
    }
    const QImage red = Icons::render("stop.fill", QColor(255, 0, 0), QSize(24, 24));
    EXPECT_EQ(red.pixelColor(12, 12), QColor(255, 0, 0));
    EXPECT_EQ(red.pixelColor(1, 1).alpha(), 0);
    EXPECT_FALSE(Icons::exists("no.such.symbol"));
}
