#include "capture/CaptureEngine.h"
#include "support/AwaitTask.h"
#include "support/FakeScreenSource.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

DisplayInfo display(std::optional<DisplayId> id, QRect frame, double scale, bool primary = false)
{
    DisplayInfo info;
    info.id = id;
    info.name = QStringLiteral("OUT%1").arg(id.value_or(0));
    info.frame = frame;
    info.pixelGeometry = QRect(frame.topLeft() * scale, frame.size() * scale);
    info.scale = scale;
    info.primary = primary;
    return info;
}

// Two side-by-side screens, the second one at scale 2.
FakeScreenSource twoScreens()
{
    FakeScreenSource screens;
    screens.list = {display(71, QRect(0, 0, 1920, 1080), 1.0, true), display(72, QRect(1920, 0, 1512, 982), 2.0)};
    return screens;
}

// The pHYs chunk of a PNG: pixels per unit X, Y and the unit (1 = metre).
std::optional<std::tuple<quint32, quint32, int>> physicalSize(const QByteArray &png)
{
    const int at = png.indexOf("pHYs");
    if (at < 0 || at + 13 > png.size())
        return std::nullopt;
    const auto word = [&](int offset) {
        const auto *p = reinterpret_cast<const uchar *>(png.constData() + offset);
        return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
    };
    return std::make_tuple(word(at + 4), word(at + 8), int(uchar(png.at(at + 12))));
}

} // namespace

TEST(CaptureEngine, OutputSizeRoundsHalvesAwayFromZero)
{
    EXPECT_EQ(CaptureEngine::outputSize(QSizeF(100.25, 50.5), 2.0), QSize(201, 101));
    EXPECT_EQ(CaptureEngine::outputSize(QSizeF(1512, 982), 2.0), QSize(3024, 1964));
    EXPECT_EQ(CaptureEngine::outputSize(QSizeF(10.5, 3.5), 1.0), QSize(11, 4));
    EXPECT_EQ(CaptureEngine::outputSize(QSizeF(100.3, 100.1), 1.5), QSize(150, 150));
}

TEST(CaptureEngine, WholeDisplayTargetCoversTheDisplayAtItsPixelDensity)
{
    FakeScreenSource screens = twoScreens();
    const CaptureTarget target {72, std::nullopt};
    auto resolved = CaptureEngine::resolve(screens, target);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->scale, 2.0);
    EXPECT_EQ(CaptureEngine::sourceRect(*resolved, target), QRectF(0, 0, 1512, 982));

    auto shot = awaitTask(CaptureEngine::screenshot(screens, target));
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->image.size(), QSize(3024, 1964));
    EXPECT_EQ(shot->scale, 2.0);
    ASSERT_EQ(screens.grabs.size(), 1u);
    EXPECT_EQ(screens.grabs[0].pixels, QRect(3840, 0, 3024, 1964));
    EXPECT_FALSE(screens.grabs[0].showsCursor);
}

TEST(CaptureEngine, AreaTargetIsOffsetIntoTheDisplayAndRounded)
{
    FakeScreenSource screens = twoScreens();
    auto shot = awaitTask(CaptureEngine::screenshot(screens, CaptureTarget {72, QRectF(10.25, 20, 100.25, 50.5)}));
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->image.size(), QSize(201, 101));
    ASSERT_EQ(screens.grabs.size(), 1u);
    EXPECT_EQ(screens.grabs[0].pixels, QRect(3840 + 21, 40, 201, 101));
}

TEST(CaptureEngine, ResolvingAMissingDisplayIsDisplayNotFound)
{
    FakeScreenSource screens = twoScreens();
    auto resolved = CaptureEngine::resolve(screens, CaptureTarget {99, std::nullopt});
    ASSERT_FALSE(resolved);
    EXPECT_EQ(resolved.error().captureError(), CaptureError(CaptureError::displayNotFound));
    EXPECT_EQ(resolved.error().description(), QStringLiteral("A tela selecionada não está mais disponível."));

    // Unplugged between two captures: the next resolution notices, no grab runs.
    screens.list.pop_back();
    auto shot = awaitTask(CaptureEngine::screenshot(screens, CaptureTarget {72, std::nullopt}));
    ASSERT_FALSE(shot);
    EXPECT_EQ(shot.error().captureError(), CaptureError(CaptureError::displayNotFound));
    EXPECT_TRUE(screens.grabs.empty());
}

TEST(CaptureEngine, PlatformFailuresPassUnchanged)
{
    FakeScreenSource screens = twoScreens();
    screens.failure = PlatformError {QStringLiteral("A conexão com a tela X11 foi perdida.")};
    auto shot = awaitTask(CaptureEngine::screenshot(screens, CaptureTarget {71, std::nullopt}));
    ASSERT_FALSE(shot);
    EXPECT_FALSE(shot.error().captureError());
    EXPECT_EQ(shot.error().description(), QStringLiteral("A conexão com a tela X11 foi perdida."));
}

TEST(CaptureTarget, DisplayUnderMouseTakesTheFirstScreenHoldingThePointer)
{
    FakeScreenSource screens = twoScreens();
    screens.pointer = QPoint(100, 100);
    EXPECT_EQ(CaptureEngine::displayUnderMouse(screens), (CaptureTarget {71, std::nullopt}));
    // On the seam the right-hand screen holds the point.
    screens.pointer = QPoint(1920, 500);
    EXPECT_EQ(CaptureEngine::displayUnderMouse(screens), (CaptureTarget {72, std::nullopt}));
    screens.pointer = QPoint(1919, 500);
    EXPECT_EQ(CaptureEngine::displayUnderMouse(screens), (CaptureTarget {71, std::nullopt}));
    // Below the shorter screen: no screen holds it, the primary is taken.
    screens.pointer = QPoint(2000, 1050);
    EXPECT_EQ(CaptureEngine::displayUnderMouse(screens), (CaptureTarget {71, std::nullopt}));
}

TEST(CaptureTarget, DisplayUnderMouseIsNoneWithoutAnIdOrAScreen)
{
    FakeScreenSource screens = twoScreens();
    screens.list[1].id = std::nullopt;
    screens.pointer = QPoint(2000, 10);
    EXPECT_EQ(CaptureEngine::displayUnderMouse(screens), std::nullopt);
    screens.list[0].primary = false;
    screens.pointer = QPoint(-50, -50);
    EXPECT_EQ(CaptureEngine::displayUnderMouse(screens), std::nullopt);
    screens.list.clear();
    EXPECT_EQ(CaptureEngine::displayUnderMouse(screens), std::nullopt);
}

TEST(CaptureTarget, EqualWhenDisplayAndRectangleMatchExactly)
{
    EXPECT_EQ((CaptureTarget {1, std::nullopt}), (CaptureTarget {1, std::nullopt}));
    EXPECT_NE((CaptureTarget {1, std::nullopt}), (CaptureTarget {2, std::nullopt}));
    EXPECT_NE((CaptureTarget {1, QRectF(0, 0, 10, 10)}), (CaptureTarget {1, std::nullopt}));
    EXPECT_EQ((CaptureTarget {1, QRectF(0, 0, 10, 10)}), (CaptureTarget {1, QRectF(0, 0, 10, 10)}));
    EXPECT_NE((CaptureTarget {1, QRectF(0, 0, 10, 10)}), (CaptureTarget {1, QRectF(0, 0, 10, 10.000000001)}));
}

TEST(CaptureEngine, PngCarriesSeventyTwoDpiTimesTheScale)
{
    QImage image(64, 32, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    image.setPixel(5, 7, qRgb(255, 0, 255));

    auto one = CaptureEngine::pngData(image, 1.0);
    ASSERT_TRUE(one);
    EXPECT_TRUE(one->startsWith("\x89PNG"));
    EXPECT_EQ(physicalSize(*one), std::make_tuple(2835u, 2835u, 1));

    auto oneAndAHalf = CaptureEngine::pngData(image, 1.5);
    ASSERT_TRUE(oneAndAHalf);
    EXPECT_EQ(physicalSize(*oneAndAHalf), std::make_tuple(4252u, 4252u, 1));

    auto two = awaitTask(CaptureEngine::encodePng(image, 2.0));
    ASSERT_TRUE(two);
    EXPECT_EQ(physicalSize(*two), std::make_tuple(5669u, 5669u, 1));

    QBuffer buffer(&*two);
    buffer.open(QIODevice::ReadOnly);
    const QImage decoded = QImageReader(&buffer, "png").read();
    ASSERT_EQ(decoded.size(), QSize(64, 32));
    EXPECT_EQ(decoded.pixel(5, 7), qRgb(255, 0, 255));
    EXPECT_EQ(decoded.pixel(0, 0), qRgb(10, 200, 30));
}

TEST(CaptureEngine, ImpossibleEncodingIsEncodingFailed)
{
    for (auto result :
        {CaptureEngine::pngData(QImage(), 1.0), CaptureEngine::pngData(QImage(4, 4, QImage::Format_RGB32), 0.0)}) {
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().captureError(), CaptureError(CaptureError::encodingFailed));
        EXPECT_EQ(result.error().description(), QStringLiteral("Não foi possível gerar o arquivo PNG."));
    }
}

TEST(CaptureEngine, PngIsNoLargerThanTheDefaultLevelsByMoreThanFivePerCent)
{
    const auto defaultSize = [](const QImage &image) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "png").write(image);
        return bytes.size();
    };
    // An empty desktop, a busy one with text and gradients, a document.
    QImage empty(1920, 1080, QImage::Format_RGB32);
    empty.fill(Qt::black);
    QPainter(&empty).fillRect(QRect(1700, 0, 220, 24), QColor(60, 60, 60));
    QImage busy(1920, 1080, QImage::Format_RGB32);
    {
        QPainter painter(&busy);
        QLinearGradient gradient(0, 0, 1920, 1080);
        gradient.setColorAt(0, QColor(40, 70, 120));
        gradient.setColorAt(1, QColor(200, 120, 60));
        painter.fillRect(busy.rect(), gradient);
        painter.fillRect(QRect(60, 60, 1200, 900), Qt::white);
        // Text-like strokes: short antialiased lines in rows (no fonts in a
        // non-GUI test).
        painter.setRenderHint(QPainter::Antialiasing);
        for (int row = 0; row < 48; ++row) {
            for (int glyph = 0; glyph < 150; ++glyph) {
                const int x = 72 + glyph * 7;
                const int y = 80 + row * 18;
                painter.setPen(QPen(QColor(20, 20, 20), 1.3));
                painter.drawLine(
                    QPointF(x + (glyph * 13 + row) % 5, y), QPointF(x + (glyph * 7 + row * 3) % 6, y + 11));
            }
        }
    }
    // The same strokes on plain white: a document, no gradient.
    QImage document(1920, 1080, QImage::Format_RGB32);
    document.fill(Qt::white);
    QPainter(&document).drawImage(QRect(60, 60, 1200, 900), busy, QRect(60, 60, 1200, 900));
    for (const QImage &image : {empty, busy, document}) {
        auto png = CaptureEngine::pngData(image, 1.0);
        ASSERT_TRUE(png);
        EXPECT_LE(png->size(), defaultSize(image) * 105 / 100);
    }
}

// The way the application awaits them: task temporaries and copied
// arguments inside co_await expressions, which g++ 12 has been seen to
// destroy twice in other shapes.
TEST(CaptureEngine, ScreenshotAndPngAwaitedInsideACoroutine)
{
    FakeScreenSource screens = twoScreens();
    auto flow = [&]() -> QCoro::Task<qsizetype> {
        auto shot = co_await CaptureEngine::screenshot(screens, CaptureTarget {71, QRectF(0, 0, 64, 32)});
        if (!shot)
            co_return -1;
        auto png = co_await CaptureEngine::encodePng(shot->image, shot->scale);
        if (!png)
            co_return -2;
        const QImage decoded = QImage::fromData(*png, "png");
        co_return decoded.size() == shot->image.size() ? png->size() : -3;
    };
    for (int round = 0; round < 3; ++round)
        EXPECT_GT(awaitTask(flow()), 0);
}
