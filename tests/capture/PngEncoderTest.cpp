#include "capture/PngEncoder.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

struct Chunk {
    QByteArray type;
    QByteArray data;
};

// The chunks after the signature; none if the file is cut short.
std::vector<Chunk> chunks(const QByteArray &png)
{
    std::vector<Chunk> found;
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        if (at + 12 + qsizetype(length) > png.size())
            return {};
        found.push_back({png.mid(at + 4, 4), png.mid(at + 8, length)});
        at += 12 + qsizetype(length);
    }
    return at == png.size() ? found : std::vector<Chunk> {};
}

QImage decodedByQt(const QByteArray &png)
{
    QByteArray copy = png;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer, "png").read();
}

QByteArray encoded(const QImage &image, int threads = 0, int level = 7)
{
    PngEncoder::Options options;
    options.threads = threads;
    options.level = level;
    std::optional<QByteArray> png = PngEncoder::encode(image, options);
    return png ? *png : QByteArray();
}

// ffmpeg's own PNG decoder, as 8-bit RGBA rows; null if it refuses the file.
QImage decodedByFfmpeg(const QByteArray &png, QSize size)
{
    QTemporaryDir folder;
    QFile file(folder.filePath("image.png"));
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size())
        return {};
    file.close();
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        {"-loglevel", "error", "-i", file.fileName(), "-f", "rawvideo", "-pix_fmt", "rgba", "-frames:v", "1", "-"});
    if (!ffmpeg.waitForFinished(30000) || ffmpeg.exitCode() != 0)
        return {};
    const QByteArray raw = ffmpeg.readAllStandardOutput();
    if (raw.size() != qsizetype(size.width()) * size.height() * 4)
        return {};
    QImage image(size, QImage::Format_RGBA8888);
    for (int y = 0; y < size.height(); ++y)
        std::memcpy(image.scanLine(y), raw.constData() + qsizetype(y) * size.width() * 4, size_t(size.width()) * 4);
    return image;
}

QImage noise(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, 0xff000000 | random.generate());
    return image;
}

QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient colours(0, 0, width, height);
    colours.setColorAt(0, QColor(40, 70, 120));
    colours.setColorAt(0.5, QColor(250, 250, 250));
    colours.setColorAt(1, QColor(200, 120, 60));
    painter.fillRect(image.rect(), colours);
    painter.fillRect(QRect(width / 4, height / 4, width / 2, height / 3), QColor(20, 20, 20));
    return image;
}

QImage flat(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(12, 34, 56));
    return image;
}

struct Case {
    const char *name;
    QImage image;
};

std::vector<Case> opaqueCases()
{
    return {
        {"1x1", noise(1, 1, 1)},
        {"odd width 7", noise(7, 5, 2)},
        {"odd width 333", gradient(333, 65)},
        {"one row", noise(257, 1, 3)},
        {"one column", noise(1, 301, 4)},
        {"large gradient", gradient(1920, 1080)},
        {"noise", noise(301, 203, 5)},
        {"flat", flat(640, 480)},
    };
}

} // namespace

TEST(PngEncoder, OpaqueImagesDecodeToTheSamePixelsInQtAndFfmpeg)
{
    for (const Case &c : opaqueCases()) {
        SCOPED_TRACE(c.name);
        const QByteArray png = encoded(c.image);
        ASSERT_FALSE(png.isEmpty());
        const std::vector<Chunk> parts = chunks(png);
        ASSERT_GE(parts.size(), 4u);
        EXPECT_EQ(parts.front().type, "IHDR");
        EXPECT_EQ(parts.front().data.at(9), char(2)) << "opaque images are RGB";
        EXPECT_EQ(parts.back().type, "IEND");

        const QImage qt = decodedByQt(png);
        ASSERT_FALSE(qt.isNull());
        EXPECT_EQ(qt.convertToFormat(QImage::Format_RGB32), c.image);

        const QImage ffmpeg = decodedByFfmpeg(png, c.image.size());
        ASSERT_FALSE(ffmpeg.isNull());
        EXPECT_EQ(ffmpeg, c.image.convertToFormat(QImage::Format_RGBA8888));
    }
}

// Bands are encoded apart and joined; the pixels must not depend on how many
// there were, also when there are more threads than rows.
TEST(PngEncoder, AnyNumberOfBandsGivesTheSamePixels)
{
    for (const Case &c : opaqueCases()) {
        SCOPED_TRACE(c.name);
        for (int threads : {1, 2, 3, 7, 64}) {
            SCOPED_TRACE(threads);
            const QByteArray png = encoded(c.image, threads);
            ASSERT_FALSE(png.isEmpty());
            EXPECT_EQ(decodedByQt(png).convertToFormat(QImage::Format_RGB32), c.image);
            EXPECT_EQ(decodedByFfmpeg(png, c.image.size()), c.image.convertToFormat(QImage::Format_RGBA8888));
        }
    }
}

TEST(PngEncoder, AlphaIsKeptUnpremultiplied)
{
    QImage image(37, 40, QImage::Format_ARGB32);
    QRandomGenerator random(9);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, random.generate());
    const QByteArray png = encoded(image);
    ASSERT_FALSE(png.isEmpty());
    EXPECT_EQ(chunks(png).front().data.at(9), char(6));
    EXPECT_EQ(decodedByQt(png).convertToFormat(QImage::Format_ARGB32), image);
    EXPECT_EQ(decodedByFfmpeg(png, image.size()), image.convertToFormat(QImage::Format_RGBA8888));

    // Premultiplied pixels go out as QImageWriter writes them.
    const QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(decodedByQt(encoded(premultiplied)).convertToFormat(QImage::Format_ARGB32),
        premultiplied.convertToFormat(QImage::Format_ARGB32));
}

TEST(PngEncoder, OtherFormatsKeepTheirPixels)
{
    const QImage source = gradient(97, 61);
    for (QImage::Format format : {QImage::Format_RGB888, QImage::Format_RGB16, QImage::Format_Grayscale8,
             QImage::Format_RGBA8888, QImage::Format_RGBX8888, QImage::Format_Indexed8}) {
        SCOPED_TRACE(int(format));
        const QImage image = source.convertToFormat(format);
        const QImage decoded = decodedByQt(encoded(image));
        ASSERT_FALSE(decoded.isNull());
        EXPECT_EQ(decoded.convertToFormat(QImage::Format_ARGB32), image.convertToFormat(QImage::Format_ARGB32));
    }
}

TEST(PngEncoder, DensityIsWrittenForBothAxesInMetres)
{
    for (int dotsPerMetre : {2835, 4252, 5669}) {
        PngEncoder::Options options;
        options.dotsPerMetre = dotsPerMetre;
        const std::optional<QByteArray> png = PngEncoder::encode(flat(3, 3), options);
        ASSERT_TRUE(png);
        const auto parts = chunks(*png);
        const auto density
            = std::find_if(parts.begin(), parts.end(), [](const Chunk &chunk) { return chunk.type == "pHYs"; });
        ASSERT_NE(density, parts.end());
        ASSERT_EQ(density->data.size(), 9);
        EXPECT_EQ(qFromBigEndian<quint32>(density->data.constData()), quint32(dotsPerMetre));
        EXPECT_EQ(qFromBigEndian<quint32>(density->data.constData() + 4), quint32(dotsPerMetre));
        EXPECT_EQ(density->data.at(8), char(1));
        EXPECT_EQ(decodedByQt(*png).dotsPerMeterX(), dotsPerMetre);
    }
}

TEST(PngEncoder, PngcheckFindsNothingWrong)
{
    if (QStandardPaths::findExecutable("pngcheck").isEmpty())
        GTEST_SKIP() << "pngcheck is not installed";
    QTemporaryDir folder;
    // Over a megabyte of compressed noise, so that the stream spans IDAT chunks.
    for (const QImage &image : {noise(1, 1, 6), noise(700, 600, 7), gradient(640, 480), gradient(1000, 900)}) {
        QFile file(folder.filePath("checked.png"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(encoded(image));
        file.close();
        QProcess pngcheck;
        pngcheck.start("pngcheck", {file.fileName()});
        ASSERT_TRUE(pngcheck.waitForFinished(30000));
        EXPECT_EQ(pngcheck.exitCode(), 0) << pngcheck.readAllStandardOutput().constData();
    }
}

TEST(PngEncoder, ImpossibleRequestsGiveNoFile)
{
    EXPECT_FALSE(PngEncoder::encode(QImage(), {}));
    for (int level : {0, 13}) {
        PngEncoder::Options options;
        options.level = level;
        EXPECT_FALSE(PngEncoder::encode(flat(2, 2), options));
    }
}

// zlib itself unpacks the joined stream and checks its Adler-32, which the
// encoder puts together from the bands' own.
TEST(PngEncoder, JoinedStreamPassesZlibsOwnCheck)
{
    std::vector<Case> cases = opaqueCases();
    // Over a megabyte compressed: bands cross from one IDAT chunk to the next.
    cases.push_back({"noise over two chunks", noise(700, 600, 8)});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (int threads : {1, 2, 3, 4}) {
            SCOPED_TRACE(threads);
            const QByteArray png = encoded(c.image, threads);
            QByteArray stream;
            for (const Chunk &chunk : chunks(png))
                if (chunk.type == "IDAT")
                    stream += chunk.data;
            EXPECT_EQ(decodedByQt(png).convertToFormat(QImage::Format_RGB32), c.image);
            const qsizetype filteredSize = qsizetype(c.image.height()) * (qsizetype(c.image.width()) * 3 + 1);
            QByteArray sized(4, Qt::Uninitialized);
            qToBigEndian(quint32(filteredSize), sized.data());
            EXPECT_EQ(qUncompress(sized + stream).size(), filteredSize);
        }
    }
}

// Every band costs a block header and a fresh window; on a nearly empty
// screen, whose whole file is a few kilobytes, the encoder must not cut so
// many that the file grows past 1.05 times zlib's default, on any number of
// threads it uses by default.
TEST(PngEncoder, NearlyEmptyScreenIsNotCutIntoCostlyBands)
{
    QImage empty(1920, 1080, QImage::Format_RGB32);
    empty.fill(Qt::black);
    QPainter(&empty).fillRect(QRect(1700, 0, 220, 24), QColor(60, 60, 60));
    QByteArray reference;
    QBuffer buffer(&reference);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(QImageWriter(&buffer, "png").write(empty));
    for (int threads : {1, 2, 3, 4}) {
        SCOPED_TRACE(threads);
        EXPECT_LE(encoded(empty, threads).size(), reference.size() * 105 / 100);
    }
}
