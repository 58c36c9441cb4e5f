#include "ui/Thumbnails.h"
#include "CaptureFolder.h"
#include "platform/media/SyntheticVideo.h"
#include "ui/LibraryModel.h"

#include <QQuickTextureFactory>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <memory>

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

namespace {

QImage solid(QSize size, QColor color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

Thumbnails::Cache::Key keyFor(const QString &name)
{
    return {name, {100, 60}, 1, 1};
}

} // namespace

TEST(Thumbnails, FittedFillsTheSizeExactlyAroundTheCentre)
{
    // A wide picture, red in its middle third: cropped to 100 x 60 at its
    // own height, only the red middle is left.
    QImage wide(300, 60, QImage::Format_ARGB32);
    wide.fill(Qt::blue);
    for (int y = 0; y < 60; ++y)
        for (int x = 100; x < 200; ++x)
            wide.setPixelColor(x, y, Qt::red);
    const QImage fitted = Thumbnails::fitted(wide, {100, 60});
    EXPECT_EQ(fitted.size(), QSize(100, 60));
    EXPECT_EQ(fitted.pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(fitted.pixelColor(99, 59), QColor(Qt::red));
    // Smaller pictures are scaled up to fill it as the view would.
    EXPECT_EQ(Thumbnails::fitted(solid({20, 10}, Qt::green), {100, 60}).size(), QSize(100, 60));
    EXPECT_TRUE(Thumbnails::fitted(QImage(), {100, 60}).isNull());
}

TEST(ThumbnailCache, DropsTheLeastRecentlyUsedOverItsLimit)
{
    const qsizetype one = solid({100, 60}, Qt::red).sizeInBytes();
    Thumbnails::Cache cache(3 * one);
    cache.insert(keyFor("a"), solid({100, 60}, Qt::red));
    cache.insert(keyFor("b"), solid({100, 60}, Qt::green));
    cache.insert(keyFor("c"), solid({100, 60}, Qt::blue));
    EXPECT_EQ(cache.bytes(), 3 * one);
    // "a" used again: "b" is now the oldest and leaves first.
    ASSERT_TRUE(cache.find(keyFor("a")).has_value());
    cache.insert(keyFor("d"), solid({100, 60}, Qt::black));
    EXPECT_EQ(cache.count(), 3);
    EXPECT_FALSE(cache.find(keyFor("b")).has_value());
    EXPECT_EQ(cache.find(keyFor("a"))->pixelColor(0, 0), QColor(Qt::red));
    EXPECT_TRUE(cache.find(keyFor("c")).has_value());
    EXPECT_TRUE(cache.find(keyFor("d")).has_value());
    EXPECT_LE(cache.bytes(), 3 * one);

    // The same key again replaces its image without counting it twice.
    cache.insert(keyFor("d"), solid({100, 60}, Qt::white));
    EXPECT_EQ(cache.count(), 3);
    EXPECT_EQ(cache.bytes(), 3 * one);
    EXPECT_EQ(cache.find(keyFor("d"))->pixelColor(0, 0), QColor(Qt::white));

    // A picture larger than the whole limit stays alone rather than not at all.
    cache.insert(keyFor("big"), solid({400, 400}, Qt::red));
    EXPECT_EQ(cache.count(), 1);
    EXPECT_TRUE(cache.find(keyFor("big")).has_value());
}

TEST(ThumbnailCache, KeepsThumbnailsAtTheSizeDrawnUntilTheFileChanges)
{
    CaptureFolder folder;
    const QString path = folder.add("Print um.png", QDateTime::currentDateTime(), Qt::red);
    Thumbnails::Cache cache(1 << 20);
    const QImage first = Thumbnails::thumbnail(cache, path, {160, 100});
    EXPECT_EQ(first.size(), QSize(160, 100));
    EXPECT_EQ(first.pixelColor(80, 50), QColor(Qt::red));
    EXPECT_EQ(cache.count(), 1);
    // Another size drawn is another thumbnail.
    EXPECT_EQ(Thumbnails::thumbnail(cache, path, {80, 50}).size(), QSize(80, 50));
    EXPECT_EQ(cache.count(), 2);

    // Replaced under the same name: the new picture, not the cached one.
    folder.add("Print um.png", QDateTime::currentDateTime().addSecs(5), Qt::green);
    EXPECT_EQ(Thumbnails::thumbnail(cache, path, {160, 100}).pixelColor(80, 50), QColor(Qt::green));
}

TEST(ThumbnailCache, AVanishedOrCorruptFileGivesNoThumbnailAndNoCrash)
{
    CaptureFolder folder;
    Thumbnails::Cache cache(1 << 20);
    const QString path = folder.add("Print some.png", QDateTime::currentDateTime());
    ASSERT_FALSE(Thumbnails::thumbnail(cache, path, {160, 100}).isNull());
    // Gone: nothing, even though its picture was cached.
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_TRUE(Thumbnails::thumbnail(cache, path, {160, 100}).isNull());

    // A corrupt PNG, cut short: no picture, remembered as such.
    const QString good = folder.add("Print cut.png", QDateTime::currentDateTime());
    QFile file(good);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() / 2));
    file.close();
    CaptureFolder::setDate(good, QDateTime::currentDateTime());
    EXPECT_TRUE(Thumbnails::thumbnail(cache, good, {160, 100}).isNull());
    const auto key = Thumbnails::Cache::keyOf(good, {160, 100});
    ASSERT_TRUE(key.has_value());
    const auto remembered = cache.find(*key);
    ASSERT_TRUE(remembered.has_value());
    EXPECT_TRUE(remembered->isNull());
}

TEST(ThumbnailProvider, ACorruptFileFinishesWithAnErrorAndAGoodOneAtTheSizeAsked)
{
    CaptureFolder folder;
    const QString good = folder.add("Print good.png", QDateTime::currentDateTime());
    const QString junk = folder.path() + "/Print junk.png";
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\x89PNG\r\n\x1a\n not really");
    f.close();

    Thumbnails::Provider provider;
    const auto request = [&](const QString &path) {
        const QString id = LibraryModel::thumbnailSource(path).mid(QStringLiteral("image://thumbnail/").size());
        std::unique_ptr<QQuickImageResponse> response(provider.requestImageResponse(id, {170, 106}));
        QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
        EXPECT_TRUE(finished.wait(20000));
        provider.pool().waitForDone();
        return response;
    };
    const auto broken = request(junk);
    EXPECT_FALSE(broken->errorString().isEmpty());
    const auto fine = request(good);
    EXPECT_TRUE(fine->errorString().isEmpty());
    std::unique_ptr<QQuickTextureFactory> factory(fine->textureFactory());
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->textureSize(), QSize(170, 106));
}

// The engine connects to a response only after asking for it; a thumbnail
// already in the cache is made before that, and must still be told.
TEST(ThumbnailProvider, AThumbnailFromTheCacheReachesAReceiverThatConnectsLate)
{
    CaptureFolder folder;
    const QString path = folder.add("Print cached.png", QDateTime::currentDateTime());
    const QString id = LibraryModel::thumbnailSource(path).mid(QStringLiteral("image://thumbnail/").size());
    Thumbnails::Provider provider;
    ASSERT_FALSE(Thumbnails::thumbnail(provider.cache(), path, {160, 100}).isNull());

    std::unique_ptr<QQuickImageResponse> response(provider.requestImageResponse(id, {160, 100}));
    provider.pool().waitForDone();
    QSignalSpy finished(response.get(), &QQuickImageResponse::finished);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_TRUE(response->errorString().isEmpty());
    std::unique_ptr<QQuickTextureFactory> factory(response->textureFactory());
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->textureSize(), QSize(160, 100));
}
