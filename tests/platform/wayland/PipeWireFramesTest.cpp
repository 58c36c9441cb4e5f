// The pictures of a PipeWire stream made from mapped buffers: where the rows
// lie, the pointer sent beside the picture, and the unreadable count.
#include "platform/wayland/PipeWireFrames.h"

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <array>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace {

using Rows = PipeWireFrames::Rows;

std::optional<Rows> rowsOf(QSize frame, uint32_t offset, int32_t stride, uint32_t maxsize)
{
    spa_chunk chunk {};
    chunk.offset = offset;
    chunk.stride = stride;
    chunk.size = maxsize;
    return PipeWireFrames::rows(frame, chunk, maxsize);
}

// A buffer whose only metadata is the pointer at POSITION, with a SIDE ×
// SIDE bitmap of COLOUR whose rows are STRIDE bytes apart; META_SIZE, when
// given, is what the metadata claims to hold.
struct PointerBuffer {
    PointerBuffer(QPoint position, int side, QRgb colour, int stride, uint32_t metaSize = 0)
        : bytes(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + size_t(stride) * size_t(side))
    {
        auto *cursor = reinterpret_cast<spa_meta_cursor *>(bytes.data());
        cursor->id = 1;
        cursor->position = {position.x(), position.y()};
        cursor->bitmap_offset = sizeof(spa_meta_cursor);
        auto *bitmap = reinterpret_cast<spa_meta_bitmap *>(bytes.data() + sizeof(spa_meta_cursor));
        bitmap->format = SPA_VIDEO_FORMAT_BGRA;
        bitmap->size = {uint32_t(side), uint32_t(side)};
        bitmap->stride = stride;
        bitmap->offset = sizeof(spa_meta_bitmap);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                reinterpret_cast<QRgb *>(reinterpret_cast<uint8_t *>(bitmap + 1) + y * stride)[x] = colour;
        meta = {SPA_META_Cursor, metaSize ? metaSize : uint32_t(bytes.size()), bytes.data()};
        buffer.n_metas = 1;
        buffer.metas = &meta;
    }

    std::vector<uint8_t> bytes;
    spa_meta meta {};
    spa_buffer buffer {};
};

TEST(PipeWireFrames, RowsMustFitTheBufferThoughTheLastNeedNotBePadded)
{
    const QSize frame(7, 4); // 28 bytes a row
    // No stride given: rows of the picture's width, packed.
    EXPECT_EQ(rowsOf(frame, 0, 0, 112), (Rows {0, 28}));
    // Padded rows: three strides and one bare row from the offset fill it.
    EXPECT_EQ(rowsOf(frame, 16, 40, 16 + 3 * 40 + 28), (Rows {16, 40}));
    EXPECT_FALSE(rowsOf(frame, 16, 40, 16 + 3 * 40 + 27));
    // An offset past the buffer's end wraps around it, as the producer's
    // ring of chunks does.
    EXPECT_EQ(rowsOf(frame, 200 + 8, 28, 200), (Rows {8, 28}));
    // Rows shorter than the picture's would overlap.
    EXPECT_FALSE(rowsOf(frame, 0, 24, 4096));
    EXPECT_FALSE(rowsOf(QSize(0, 4), 0, 0, 4096));
    EXPECT_FALSE(rowsOf(frame, 0, 28, 0));
}

TEST(PipeWireFrames, APointerIsDrawnWhereItIsInACutPictureOfAnotherDensity)
{
    // A monitor of 16 × 16 units sent at twice the density; the area wanted
    // is 8 × 8 units from (4, 4), handed out one pixel a unit.
    PipeWireStream::Options options;
    options.shown = QRect(0, 0, 16, 16);
    options.wanted = QRectF(4, 4, 8, 8);
    options.drawsCursor = true;
    PipeWireFrames frames(options);
    frames.setFormat(QSize(32, 32), SPA_VIDEO_FORMAT_BGRx);
    ASSERT_EQ(PipeWireFrames::sourceRect(options, QSize(32, 32)), QRect(8, 8, 16, 16));
    std::vector<QRgb> white(32 * 32, qRgb(255, 255, 255));

    PointerBuffer pointer(QPoint(12, 12), 2, qRgb(255, 0, 0), 2 * 4 + 4);
    EXPECT_TRUE(frames.readCursor(pointer.buffer));
    QImage out(8, 8, QImage::Format_RGB32);
    frames.paint(reinterpret_cast<const uint8_t *>(white.data()), 32 * 4, out);
    EXPECT_EQ(out.pixel(2, 2), qRgb(255, 0, 0));
    EXPECT_EQ(out.pixel(1, 1), qRgb(255, 255, 255));
    EXPECT_EQ(out.pixel(3, 3), qRgb(255, 255, 255));

    // A move alone: the last picture again, the pointer only at its new place.
    PointerBuffer moved(QPoint(20, 20), 2, qRgb(255, 0, 0), 2 * 4);
    EXPECT_TRUE(frames.readCursor(moved.buffer));
    ASSERT_EQ(frames.lastSize(), QSize(8, 8));
    QImage again(frames.lastSize(), QImage::Format_RGB32);
    frames.repaint(again);
    EXPECT_EQ(again.pixel(6, 6), qRgb(255, 0, 0));
    EXPECT_EQ(again.pixel(2, 2), qRgb(255, 255, 255));

    // A bitmap running past its metadata hides the pointer rather than
    // reading beyond it; metadata without a valid pointer is no news.
    PointerBuffer cut(
        QPoint(20, 20), 2, qRgb(255, 0, 0), 2 * 4, uint32_t(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + 2 * 4));
    EXPECT_TRUE(frames.readCursor(cut.buffer));
    frames.repaint(again);
    EXPECT_EQ(again.pixel(6, 6), qRgb(255, 255, 255));
    reinterpret_cast<spa_meta_cursor *>(moved.bytes.data())->id = 0;
    EXPECT_FALSE(frames.readCursor(moved.buffer));
}

TEST(PipeWireFrames, TheTenthUnreadablePictureInARowEndsTheStream)
{
    PipeWireFrames frames({});
    frames.setFormat(QSize(2, 2), SPA_VIDEO_FORMAT_BGRx);
    for (int i = 1; i < 10; ++i)
        EXPECT_FALSE(frames.dropUnreadable()) << i;
    // One picture read starts the count again.
    const std::array<QRgb, 4> picture {};
    QImage out(2, 2, QImage::Format_RGB32);
    frames.paint(reinterpret_cast<const uint8_t *>(picture.data()), 8, out);
    for (int i = 1; i < 10; ++i)
        EXPECT_FALSE(frames.dropUnreadable()) << i;
    EXPECT_TRUE(frames.dropUnreadable());
}

} // namespace
