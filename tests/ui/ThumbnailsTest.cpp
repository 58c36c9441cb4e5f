#include "ui/Thumbnails.h"
#include "CaptureFolder.h"
#include "platform/media/SyntheticVideo.h"

#include <gtest/gtest.h>

TEST(Thumbnails, CoverTheRequestedSizeWithoutScalingUp)
{
    CaptureFolder folder;
    const QString wide = folder.path() + "/Print wide.png";
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(wide));
    const QImage thumb = Thumbnails::generate(wide, {340, 220});
    EXPECT_EQ(thumb.height(), 220);
    EXPECT_NEAR(thumb.width(), 391, 1);
    EXPECT_EQ(thumb.pixelColor(10, 10), QColor(Qt::red));

    const QString small = folder.path() + "/Print small.png";
    QImage(100, 50, QImage::Format_RGB32).save(small);
    EXPECT_EQ(Thumbnails::generate(small, {340, 220}).size(), QSize(100, 50));
}

TEST(Thumbnails, RecordingsShowTheirFirstFrame)
{
    CaptureFolder folder;
    const QString video = folder.path() + "/Gravação.mp4";
    SyntheticVideo::Options options;
    options.width = 640;
    options.height = 360;
    options.audioTracks = {};
    ASSERT_TRUE(SyntheticVideo::write(video, options));
    const QImage thumb = Thumbnails::generate(video, {340, 220});
    ASSERT_FALSE(thumb.isNull());
    EXPECT_EQ(thumb.height(), 220);
    EXPECT_NEAR(thumb.width(), 391, 1);
}

TEST(Thumbnails, UnreadableFilesGiveNoImage)
{
    CaptureFolder folder;
    const QString broken = folder.add("Gravação broken.mp4", QDateTime::currentDateTime());
    EXPECT_TRUE(Thumbnails::generate(broken, {340, 220}).isNull());
    const QString png = folder.path() + "/Print junk.png";
    QFile f(png);
    f.open(QIODevice::WriteOnly);
    f.write("not a png");
    f.close();
    EXPECT_TRUE(Thumbnails::generate(png, {340, 220}).isNull());
    EXPECT_TRUE(Thumbnails::generate(folder.path() + "/missing.png", {340, 220}).isNull());
}
