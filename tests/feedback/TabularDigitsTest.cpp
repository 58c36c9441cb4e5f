// Numbers that change in place (the recording clock, the selection's size)
// keep their width and do not push the text after them around, even in a
// desktop font whose own digits differ in width.
#include "feedback/TabularDigits.h"
#include "feedback/RecordingControls.h"
#include "feedback/SelectionGeometry.h"
#include "feedback/SelectionView.h"
#include "platform/NullPlatform.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// GNOME's interface font: its "1" is much narrower than its "8".
const QString proportionalFamily = QStringLiteral("Cantarell");

class TabularDigitsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_previous = QGuiApplication::font();
        QFont font(proportionalFamily);
        font.setPixelSize(14);
        QGuiApplication::setFont(font);
        ASSERT_EQ(QFontInfo(QGuiApplication::font()).family(), proportionalFamily)
            << "needs the Cantarell font (fonts-cantarell, scripts/install-deps)";
        const QFontMetricsF metrics(QGuiApplication::font());
        ASSERT_GT(metrics.horizontalAdvance(QLatin1Char('8')) - metrics.horizontalAdvance(QLatin1Char('1')), 1.0)
            << "the font's own digits must differ for these cases to mean anything";
    }

    void TearDown() override { QGuiApplication::setFont(m_previous); }

private:
    QFont m_previous;
};

// Whether A and B have the same pixels from column FROM to their right edge.
bool sameFromColumn(const QImage &a, const QImage &b, int from)
{
    if (a.size() != b.size() || from >= a.width())
        return false;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = from; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y))
                return false;
        }
    }
    return true;
}

// Whether anything at all is drawn from column FROM on.
bool anyInkFromColumn(const QImage &image, int from)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = from; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0)
                return true;
        }
    }
    return false;
}

QImage drawn(const QFont &font, const QString &text, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(Qt::white);
    TabularDigits::draw(painter, font, QRectF(QPointF(0, 0), QSizeF(size)), Qt::AlignLeft | Qt::AlignVCenter, text);
    return image;
}

QImage rendered(QWidget *widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

void dragIn(QWidget *view, QPointF from, QPointF to)
{
    QMouseEvent press(
        QEvent::MouseButtonPress, from, from, view->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &press);
    QMouseEvent move(QEvent::MouseMove, to, to, view->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &move);
}

} // namespace

TEST_F(TabularDigitsTest, EveryDigitTakesTheWidthOfTheWidest)
{
    const QFont font = QGuiApplication::font();
    const QFontMetricsF metrics(font);
    qreal widest = 0;
    for (char c = '0'; c <= '9'; ++c)
        widest = std::max(widest, metrics.horizontalAdvance(QLatin1Char(c)));
    EXPECT_DOUBLE_EQ(TabularDigits::digitWidth(font), widest);

    EXPECT_DOUBLE_EQ(TabularDigits::size(font, "00:11").width(), TabularDigits::size(font, "00:00").width());
    EXPECT_DOUBLE_EQ(
        TabularDigits::size(font, "1111 × 1111").width(), TabularDigits::size(font, "8888 × 8888").width());
    EXPECT_DOUBLE_EQ(
        TabularDigits::size(font, "10:07").width(), 4 * widest + metrics.horizontalAdvance(QLatin1Char(':')));
    // Text without digits is measured as it is.
    const QString hint = SelectionGeometry::hintText();
    EXPECT_DOUBLE_EQ(TabularDigits::size(font, hint).width(), metrics.horizontalAdvance(hint));
    EXPECT_DOUBLE_EQ(TabularDigits::size(font, hint).height(), metrics.height());
    EXPECT_DOUBLE_EQ(TabularDigits::size(font, QString()).width(), 0);
}

TEST_F(TabularDigitsTest, WhatFollowsAChangedDigitIsDrawnInTheSamePlace)
{
    const QFont font = QGuiApplication::font();
    const int afterFirstCell = int(std::ceil(TabularDigits::digitWidth(font))) + 1;
    const QSize size(80, 24);
    const QImage ten = drawn(font, "10:00", size);
    ASSERT_TRUE(anyInkFromColumn(ten, afterFirstCell));
    EXPECT_TRUE(sameFromColumn(ten, drawn(font, "00:00", size), afterFirstCell));
    EXPECT_TRUE(sameFromColumn(drawn(font, "1 × 5", size), drawn(font, "8 × 5", size), afterFirstCell));
    EXPECT_FALSE(sameFromColumn(ten, drawn(font, "10:01", size), afterFirstCell));

    // Right-aligned text ends at the rectangle's right edge.
    QImage right(size, QImage::Format_ARGB32_Premultiplied);
    right.fill(Qt::transparent);
    {
        QPainter painter(&right);
        painter.setPen(Qt::white);
        TabularDigits::draw(painter, font, QRectF(0, 0, 40, 24), Qt::AlignRight | Qt::AlignVCenter, "88");
    }
    EXPECT_TRUE(anyInkFromColumn(right, 30));
    EXPECT_FALSE(anyInkFromColumn(right, 42));
}

TEST_F(TabularDigitsTest, TheRecordingClockDoesNotShiftAsItCounts)
{
    NullScreenSource screens;
    RecordingControls controls(screens, nullptr);
    controls.show(
        CaptureTarget {7, std::nullopt}, [] {}, [] {});
    QLabel *clock = controls.timeLabel();
    ASSERT_TRUE(clock);
    EXPECT_EQ(QFontInfo(clock->font()).family(), proportionalFamily);

    const int afterFirstCell = int(std::ceil(TabularDigits::digitWidth(clock->font()))) + 1;
    clock->setText("00:00");
    const QImage zero = rendered(clock);
    ASSERT_TRUE(anyInkFromColumn(zero, afterFirstCell));
    clock->setText("10:00");
    EXPECT_TRUE(sameFromColumn(rendered(clock), zero, afterFirstCell)) << "09:59 to 10:00 moves the seconds";
    // 00:09 to 00:10 leaves the last digit where it was.
    const int lastCell = int(std::ceil(3 * TabularDigits::digitWidth(clock->font())
                             + QFontMetricsF(clock->font()).horizontalAdvance(QLatin1Char(':'))))
        + 1;
    clock->setText("00:10");
    EXPECT_TRUE(sameFromColumn(rendered(clock), zero, lastCell)) << "the last digit moved";
    clock->setText("00:11");
    EXPECT_FALSE(sameFromColumn(rendered(clock), zero, lastCell));
    controls.hide();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(TabularDigitsTest, TheSizeLabelKeepsItsBoxAndItsSignInPlace)
{
    // Never shown: the label's box is worked out from the view's size alone.
    SelectionView big(QSize(9000, 9000), QImage());
    dragIn(&big, QPointF(10, 10), QPointF(1121, 1121));
    const auto small = big.currentLabel();
    ASSERT_TRUE(small);
    EXPECT_EQ(small->text, "1111 × 1111");
    dragIn(&big, QPointF(10, 10), QPointF(8898, 8898));
    const auto large = big.currentLabel();
    ASSERT_TRUE(large);
    EXPECT_EQ(large->text, "8888 × 8888");
    EXPECT_DOUBLE_EQ(small->box.width(), large->box.width());

    // As drawn: the same pixels from the "×" on in "11 × 55" and "88 × 55".
    SelectionView view(QSize(300, 200), QImage());
    auto labelImage = [&view](QPointF to) {
        dragIn(&view, QPointF(20, 20), to);
        const auto label = view.currentLabel();
        EXPECT_TRUE(label);
        return label ? rendered(&view).copy(label->box.toAlignedRect()) : QImage();
    };
    const QImage ones = labelImage(QPointF(31, 75));
    const QImage eights = labelImage(QPointF(108, 75));
    const QFont labelFont = SelectionGeometry::labelFont();
    EXPECT_EQ(QFontInfo(labelFont).family(), proportionalFamily);
    const int afterDigits
        = int(std::ceil(SelectionGeometry::labelPaddingX + 2 * TabularDigits::digitWidth(labelFont))) + 1;
    ASSERT_EQ(ones.size(), eights.size());
    EXPECT_TRUE(sameFromColumn(ones, eights, afterDigits));
}

TEST_F(TabularDigitsTest, TheSizeLabelCountsTheCapturesPixelsNotTheWindowsBuffer)
{
    // A screen scaled to 150 % by the compositor, whose window Qt draws at
    // twice its size: the capture has 1.5 pixels a point.
    SelectionView view(QSize(1280, 720), QImage());
    view.setPixelScale(1.5);
    dragIn(&view, QPointF(10, 10), QPointF(111, 61));
    const auto label = view.currentLabel();
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text, "151 × 76");
}
