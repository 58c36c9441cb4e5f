// What Velunta puts in a desktop notification: the click it asks for, the
// hints, and a thumbnail small enough for the bus.
#include "platform/desktop/DesktopNotifications.h"

#include <gtest/gtest.h>

namespace {

DesktopNotifications::Notice notice(bool clickable, QImage image = {})
{
    DesktopNotifications::Notice n;
    n.summary = QStringLiteral("Print salvo");
    n.body = QStringLiteral("Print 2026-12-08 às 10.00.00.png");
    n.image = std::move(image);
    n.clickable = clickable;
    return n;
}

} // namespace

TEST(DesktopNotifications, AClickIsAskedForOnlyWhereItCanComeBack)
{
    EXPECT_EQ(DesktopNotifications::actionsFor(notice(true), true), QStringList({"default", "Abrir"}));
    EXPECT_TRUE(DesktopNotifications::actionsFor(notice(true), false).isEmpty());
    EXPECT_TRUE(DesktopNotifications::actionsFor(notice(false), true).isEmpty());
}

TEST(DesktopNotifications, HintsNameTheAppAndCarryTheThumbnailOnlyWhenThereIsOne)
{
    const QVariantMap plain = DesktopNotifications::hintsFor(notice(false));
    EXPECT_EQ(plain.value("desktop-entry").toString(), "app.velunta.Velunta");
    EXPECT_TRUE(plain.value("transient").toBool());
    EXPECT_FALSE(plain.contains("image-data"));

    QImage shot(1920, 1080, QImage::Format_RGB32);
    shot.fill(QColor(10, 200, 30));
    const QVariantMap withImage = DesktopNotifications::hintsFor(notice(true, shot));
    ASSERT_TRUE(withImage.contains("image-data"));
}

TEST(DesktopNotifications, TheThumbnailIsScaledDownToFitAndSentAsRgbaRows)
{
    QImage shot(1920, 1080, QImage::Format_RGB32);
    shot.fill(QColor(10, 200, 30));
    const QImage thumbnail = DesktopNotifications::thumbnailFor(shot);
    EXPECT_EQ(thumbnail.size(), QSize(256, 144));
    EXPECT_EQ(thumbnail.format(), QImage::Format_RGBA8888);
    EXPECT_EQ(QColor::fromRgba(thumbnail.pixel(100, 100)), QColor(10, 200, 30));

    QImage tall(300, 1200, QImage::Format_RGB32);
    tall.fill(Qt::blue);
    EXPECT_EQ(DesktopNotifications::thumbnailFor(tall).size(), QSize(64, 256));

    // A small picture keeps its size.
    QImage small(40, 30, QImage::Format_ARGB32);
    small.fill(Qt::red);
    EXPECT_EQ(DesktopNotifications::thumbnailFor(small).size(), QSize(40, 30));
    EXPECT_TRUE(DesktopNotifications::imageData(small).isValid());
    EXPECT_FALSE(DesktopNotifications::imageData(QImage()).isValid());
}
