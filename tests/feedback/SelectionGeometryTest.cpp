// Where the selection view puts the hole, the outline and the labels.
#include "feedback/SelectionGeometry.h"

#include <gtest/gtest.h>

using namespace SelectionGeometry;

namespace {

void expectRect(const QRectF &actual, qreal x, qreal y, qreal w, qreal h)
{
    EXPECT_DOUBLE_EQ(actual.x(), x);
    EXPECT_DOUBLE_EQ(actual.y(), y);
    EXPECT_DOUBLE_EQ(actual.width(), w);
    EXPECT_DOUBLE_EQ(actual.height(), h);
}

} // namespace

TEST(SelectionGeometry, SizeLabelCountsPixelsNotPoints)
{
    EXPECT_EQ(sizeLabel(QSizeF(100, 50), 2), QStringLiteral("200 × 100"));
    EXPECT_EQ(sizeLabel(QSizeF(100, 50), 1), QStringLiteral("100 × 50"));
    // Fractional scales truncate: 101 × 1.25 = 126.25, 33 × 1.5 = 49.5.
    EXPECT_EQ(sizeLabel(QSizeF(101, 33), 1.25), QStringLiteral("126 × 41"));
    EXPECT_EQ(sizeLabel(QSizeF(33, 33), 1.5), QStringLiteral("49 × 49"));
    // The sign is the multiplication sign, with a space on each side.
    EXPECT_EQ(sizeLabel(QSizeF(8, 8), 1).toUtf8(), QByteArray("8 \xC3\x97 8"));
}

TEST(SelectionGeometry, DragGivesTheSameWholePointRectangleInEitherDirection)
{
    expectRect(selectionRect(QPointF(100, 50), QPointF(300, 150)), 100, 50, 200, 100);
    expectRect(selectionRect(QPointF(300, 150), QPointF(100, 50)), 100, 50, 200, 100);
    expectRect(selectionRect(QPointF(300, 50), QPointF(100, 150)), 100, 50, 200, 100);
    // Fractional positions: origin down, far edges up.
    expectRect(selectionRect(QPointF(10.6, 20.2), QPointF(30.1, 40.9)), 10, 20, 21, 21);
    expectRect(selectionRect(QPointF(30.1, 40.9), QPointF(10.6, 20.2)), 10, 20, 21, 21);
    // A click is an empty rectangle, not a one-point one.
    expectRect(selectionRect(QPointF(5, 5), QPointF(5, 5)), 5, 5, 0, 0);
}

TEST(SelectionGeometry, PositionsPastTheEdgeStopAtTheEdge)
{
    const QSizeF view(1280, 1024);
    EXPECT_EQ(clampToView(QPointF(-40, 2000), view), QPointF(0, 1024));
    EXPECT_EQ(clampToView(QPointF(1500, -3), view), QPointF(1280, 0));
    EXPECT_EQ(clampToView(QPointF(12.5, 30), view), QPointF(12.5, 30));
    expectRect(selectionRect(clampToView(QPointF(1000, 900), view), clampToView(QPointF(5000, 5000), view)), 1000, 900,
        280, 124);
}

TEST(SelectionGeometry, SelectionsBelowEightPointsInEitherDirectionAreDropped)
{
    EXPECT_TRUE(isLargeEnough(QRectF(0, 0, 8, 8)));
    EXPECT_TRUE(isLargeEnough(QRectF(3, 4, 400, 8)));
    EXPECT_FALSE(isLargeEnough(QRectF(0, 0, 7, 400)));
    EXPECT_FALSE(isLargeEnough(QRectF(0, 0, 400, 7)));
    EXPECT_FALSE(isLargeEnough(QRectF(0, 0, 0, 0)));
}

TEST(SelectionGeometry, OutlineLiesHalfAPointOutsideTheSelection)
{
    expectRect(outlineRect(QRectF(10, 20, 100, 50)), 9.5, 19.5, 101, 51);
}

TEST(SelectionGeometry, SizeLabelGoesBelowOrInsideNearTheBottom)
{
    // Room below: 8 points under the lower edge.
    EXPECT_EQ(sizeLabelPoint(QRectF(40, 100, 200, 100), 1080), QPointF(40, 208));
    // Lower edge + 34 = 1079 < 1080: still below.
    EXPECT_EQ(sizeLabelPoint(QRectF(40, 945, 200, 100), 1080), QPointF(40, 1053));
    // Lower edge + 34 = 1080, not less than the height: inside, 34 above the edge.
    EXPECT_EQ(sizeLabelPoint(QRectF(40, 946, 200, 100), 1080), QPointF(40, 1012));
    EXPECT_EQ(sizeLabelPoint(QRectF(0, 1000, 300, 80), 1080), QPointF(0, 1046));
}

TEST(SelectionGeometry, LabelBoxesPadTheTextAndStayInsideTheView)
{
    const QSizeF text(60, 17);
    // Text plus 16 wide and 8 high; the text 8 from the left, 4 from the top.
    const QRectF box = labelBox(QPointF(100, 300), text, 1920);
    expectRect(box, 100, 300, 76, 25);
    EXPECT_EQ(labelTextOrigin(box), QPointF(108, 304));
    // Clamped to 4 points from the left edge...
    expectRect(labelBox(QPointF(0, 10), text, 1920), 4, 10, 76, 25);
    expectRect(labelBox(QPointF(-50, 10), text, 1920), 4, 10, 76, 25);
    // ...and from the right one: 1920 - 76 - 4.
    expectRect(labelBox(QPointF(1900, 10), text, 1920), 1840, 10, 76, 25);
    // y is never moved.
    EXPECT_DOUBLE_EQ(labelBox(QPointF(10, -20), text, 1920).y(), -20);
    // A view narrower than the box keeps the left margin.
    EXPECT_DOUBLE_EQ(labelBox(QPointF(10, 0), text, 50).x(), 4);
}

TEST(SelectionGeometry, HintIsCentred)
{
    const QSizeF text(284, 17);
    const QPointF at = hintPoint(text, QSizeF(1920, 1080));
    EXPECT_EQ(at, QPointF(960 - 150, 540 - 12.5));
    const QRectF box = labelBox(at, text, 1920);
    EXPECT_EQ(box.center(), QPointF(960, 540));
}

TEST(SelectionGeometry, TargetIsTheScreenAndTheRectangleInPoints)
{
    const CaptureTarget target = targetFor(77, QRectF(200, 150, 400, 250));
    EXPECT_EQ(target, (CaptureTarget {77, QRectF(200, 150, 400, 250)}));
}
