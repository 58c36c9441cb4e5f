// PipeWireStream reading DMA-BUFs in the linear layout from a producer of
// our own (DmaBufProducer) on the test desktop's PipeWire daemon.
#include "CastDesktop.h"
#include "DmaBufProducer.h"
#include "StreamReading.h"
#include "platform/wayland/PipeWireStream.h"

#include <spa/param/video/raw.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace std::chrono_literals;
using StreamReading::frames;
using StreamReading::open;

// Every pixel tells where it is; the blue of the whole picture tells which
// picture it is, so a frame put together from two pictures shows.
QRgb patternAt(int x, int y, uint64_t number)
{
    return qRgb((x * 3) & 0xff, (y * 5) & 0xff, 16 + int(number % 224));
}

QImage pattern(QSize size, uint64_t number)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = patternAt(x, y, number);
    }
    return image;
}

// Empty when IMAGE is the pattern's picture seen from (LEFT, TOP) on,
// black where that lies left of or above the picture; else the first
// pixel that is not.
std::string differenceFromPattern(const QImage &image, int left = 0, int top = 0)
{
    const uint64_t number = uint64_t(qBlue(image.pixel(image.width() - 1, image.height() - 1)) - 16);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool outside = x + left < 0 || y + top < 0;
            const QRgb expected = outside ? qRgb(0, 0, 0) : patternAt(x + left, y + top, number);
            const QRgb got = image.pixel(x, y) | 0xff000000u;
            if (got != expected)
                return QStringLiteral("pixel (%1, %2) is %3, not %4")
                    .arg(x)
                    .arg(y)
                    .arg(got, 8, 16)
                    .arg(expected, 8, 16)
                    .toStdString();
        }
    }
    return {};
}

// The DRM modifier of Intel's X tiling: a layout the CPU cannot read as rows.
constexpr uint64_t xTiled = (uint64_t(1) << 56) | 1;

class PipeWireDmaBuf : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString why;
        if (!CastDesktop::get(&why))
            GTEST_SKIP() << why.toStdString();
    }

    static DmaBufProducer::Options producer(uint32_t format, QSize size)
    {
        DmaBufProducer::Options options;
        options.format = format;
        options.size = size;
        // Rows longer than the picture, and the picture some way into the
        // buffer and the buffer some way into its file, as GPU buffers are.
        options.stride = size.width() * 4 + 76;
        options.chunkOffset = 640;
        options.mapOffset = 4096;
        options.picture = [size](uint64_t number) { return pattern(size, number); };
        return options;
    }
};

TEST_F(PipeWireDmaBuf, LinearFramesArriveWholeWithTheirColoursAndRisingTimes)
{
    DmaBufProducer source(producer(SPA_VIDEO_FORMAT_BGRx, QSize(333, 201)));
    ASSERT_NE(source.node(), 0u) << "the producer never got on the graph";
    auto stream = open(source.node());
    ASSERT_TRUE(stream);
    EXPECT_TRUE(source.gaveDmaBufs());
    const auto got = frames(*stream, 12);
    ASSERT_EQ(got.size(), 12u);
    EXPECT_EQ(stream->sourceSize(), QSize(333, 201));
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(got[i].image.size(), QSize(333, 201));
        EXPECT_EQ(got[i].image.format(), QImage::Format_RGB32);
        EXPECT_EQ(differenceFromPattern(got[i].image), "");
        if (i > 0) {
            EXPECT_GT(got[i].sequence, got[i - 1].sequence);
            EXPECT_GT(got[i].nanoseconds, got[i - 1].nanoseconds);
            EXPECT_NE(qBlue(got[i].image.pixel(0, 0)), qBlue(got[i - 1].image.pixel(0, 0))) << "the same picture twice";
        }
    }
    const int64_t now = std::chrono::steady_clock::now().time_since_epoch() / 1ns;
    EXPECT_LT(std::abs(now - got.back().nanoseconds), int64_t(2e9));
}

TEST_F(PipeWireDmaBuf, RgbxIsTurnedAroundAndAreasAreCutOut)
{
    const QSize size(320, 180);
    {
        // The node shows a monitor placed at (1000, 0).
        DmaBufProducer source(producer(SPA_VIDEO_FORMAT_RGBx, size));
        ASSERT_NE(source.node(), 0u);
        auto stream = open(source.node(), QRect(QPoint(1000, 0), size), QRectF(1010, 20, 100, 50));
        ASSERT_TRUE(stream);
        const auto got = frames(*stream, 3);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got.back().image.size(), QSize(100, 50));
        EXPECT_EQ(differenceFromPattern(got.back().image, 10, 20), "");
    }
    {
        // An area partly left of and above the monitor: black there.
        DmaBufProducer source(producer(SPA_VIDEO_FORMAT_RGBx, size));
        ASSERT_NE(source.node(), 0u);
        auto stream = open(source.node(), QRect(QPoint(1000, 100), size), QRectF(990, 96, 40, 30));
        ASSERT_TRUE(stream);
        const auto got = frames(*stream, 2);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got.back().image.size(), QSize(40, 30));
        EXPECT_EQ(differenceFromPattern(got.back().image, -10, -4), "");
    }
    {
        // The whole picture, the bottom right corner included.
        DmaBufProducer source(producer(SPA_VIDEO_FORMAT_RGBx, size));
        ASSERT_NE(source.node(), 0u);
        auto stream = open(source.node());
        ASSERT_TRUE(stream);
        const auto got = frames(*stream, 2);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(differenceFromPattern(got.back().image), "");
    }
}

TEST_F(PipeWireDmaBuf, ANonLinearLayoutIsRefusedWithAClearError)
{
    auto options = producer(SPA_VIDEO_FORMAT_BGRx, QSize(64, 48));
    options.modifiers = {xTiled};
    DmaBufProducer source(options);
    ASSERT_NE(source.node(), 0u);

    PipeWireStream::Options reader;
    reader.node = source.node();
    reader.startTimeout = 8s;
    QElapsedTimer timer;
    timer.start();
    auto stream = PipeWireStream::open(reader);
    ASSERT_FALSE(stream) << "a tiled picture was taken for rows";
    EXPECT_EQ(stream.error().description,
        QStringLiteral("A tela compartilhada só é oferecida em um formato de imagem que o Velunta não consegue ler."));
    // Refused as soon as PipeWire says so, not after the time-out.
    EXPECT_LT(timer.elapsed(), 6000);
    EXPECT_EQ(source.sent(), 0u);
}

TEST_F(PipeWireDmaBuf, OfTiledAndLinearTheLinearLayoutIsTaken)
{
    // Tiled preferred, as a GPU's producer would.
    auto options = producer(SPA_VIDEO_FORMAT_BGRx, QSize(96, 64));
    options.modifiers = {xTiled, 0};
    DmaBufProducer source(options);
    ASSERT_NE(source.node(), 0u);
    auto stream = open(source.node());
    ASSERT_TRUE(stream);
    const auto got = frames(*stream, 3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(differenceFromPattern(got.back().image), "");
}

TEST_F(PipeWireDmaBuf, RowsShorterThanThePictureEndTheStreamWithAReason)
{
    auto options = producer(SPA_VIDEO_FORMAT_BGRx, QSize(64, 48));
    options.stride = 64 * 4 - 16;
    DmaBufProducer source(options);
    ASSERT_NE(source.node(), 0u);
    auto stream = open(source.node());
    ASSERT_TRUE(stream);
    PipeWireStream::Wait wait = PipeWireStream::Wait::timedOut;
    const QDeadlineTimer deadline(10000);
    while (wait == PipeWireStream::Wait::timedOut && !deadline.hasExpired())
        wait = stream->waitForFrame(0, 500ms);
    EXPECT_EQ(wait, PipeWireStream::Wait::ended) << "a picture of overlapping rows was handed out";
    EXPECT_EQ(stream->endReason().description,
        QStringLiteral("As imagens da tela compartilhada chegam incompletas ou ilegíveis."));
    EXPECT_GT(source.sent(), 0u);
}

} // namespace
