#include "platform/wayland/PipeWireFrames.h"

#include "platform/wayland/DesktopUnits.h"

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <QPainter>
#include <algorithm>
#include <cstring>

namespace {

// So many unreadable pictures in a row end the stream: a producer that sends
// only such pictures would otherwise leave a recording waiting for frames.
constexpr int unreadableLimit = 10;

} // namespace

PipeWireFrames::PipeWireFrames(const PipeWireStream::Options &options)
    : m_options(options)
{
}

QSize PipeWireFrames::outputSize(const PipeWireStream::Options &options, QSize frame)
{
    if (options.wanted.isEmpty())
        return frame;
    if (!options.size.isEmpty())
        return options.size;
    return options.wanted.size().toSize();
}

QRect PipeWireFrames::sourceRect(const PipeWireStream::Options &options, QSize frame)
{
    if (options.wanted.isEmpty())
        return QRect(QPoint(0, 0), frame);
    const QSize size = outputSize(options, frame);
    // A portal that did not say where the monitor lies: at the origin, one
    // pixel a unit.
    if (options.shown.isEmpty())
        return QRect(options.wanted.topLeft().toPoint(), size);
    return DesktopUnits::inPicture(options.shown, frame, options.wanted, size);
}

std::optional<PipeWireFrames::Rows> PipeWireFrames::rows(QSize frame, const spa_chunk &chunk, uint32_t maxsize)
{
    const int rowBytes = frame.width() * 4;
    const int stride = chunk.stride != 0 ? chunk.stride : rowBytes;
    const uint32_t offset = maxsize ? chunk.offset % maxsize : 0;
    // The last row need not be padded to the stride.
    if (stride < rowBytes || frame.isEmpty()
        || uint64_t(offset) + uint64_t(stride) * uint64_t(frame.height() - 1) + uint64_t(rowBytes) > maxsize)
        return std::nullopt;
    return Rows {offset, stride};
}

void PipeWireFrames::copy(const QImage &source, const QRect &from, QImage &out)
{
    if (from.size() == out.size() && QRect(QPoint(0, 0), source.size()).contains(from)) {
        const int bytes = from.width() * 4;
        if (source.format() == QImage::Format_RGB32) {
            for (int y = 0; y < from.height(); ++y)
                std::memcpy(out.scanLine(y), source.constScanLine(from.y() + y) + from.x() * 4, size_t(bytes));
        } else {
            // RGBx to 0xffRRGGBB.
            for (int y = 0; y < from.height(); ++y) {
                const uint8_t *in = source.constScanLine(from.y() + y) + from.x() * 4;
                auto *line = reinterpret_cast<uint32_t *>(out.scanLine(y));
                for (int x = 0; x < from.width(); ++x, in += 4)
                    line[x] = 0xff000000u | uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
            }
        }
        return;
    }
    // A scaled monitor, or an area partly off the cast picture: black
    // where the picture has nothing.
    out.fill(Qt::black);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(0, 0), out.size()), source, from);
}

void PipeWireFrames::setFormat(QSize frame, uint32_t videoFormat)
{
    m_frame = frame;
    m_sourceFormat = (videoFormat == SPA_VIDEO_FORMAT_RGBx || videoFormat == SPA_VIDEO_FORMAT_RGBA)
        ? QImage::Format_RGBX8888
        : QImage::Format_RGB32;
    m_hasFormat = true;
}

void PipeWireFrames::paint(const uint8_t *pixels, int stride, QImage &out)
{
    const QImage source(pixels, m_frame.width(), m_frame.height(), stride, m_sourceFormat);
    const QRect from = sourceRect(m_options, m_frame);
    if (m_options.drawsCursor) {
        // The picture without the pointer is kept for pointer-only updates.
        if (m_clean.size() != out.size())
            m_clean = QImage(out.size(), QImage::Format_RGB32);
        copy(source, from, m_clean);
        m_cleanFrom = from;
        repaint(out);
    } else {
        copy(source, from, out);
    }
    m_unreadable = 0;
}

bool PipeWireFrames::readCursor(const spa_buffer &buffer)
{
    const spa_meta *meta = spa_buffer_find_meta(&buffer, SPA_META_Cursor);
    if (!meta || meta->size < sizeof(spa_meta_cursor))
        return false;
    const auto *cursor = static_cast<const spa_meta_cursor *>(meta->data);
    if (!spa_meta_cursor_is_valid(cursor))
        return false;
    m_cursorPosition = QPoint(cursor->position.x, cursor->position.y);
    const uint64_t bitmapAt = cursor->bitmap_offset;
    if (bitmapAt < sizeof(spa_meta_cursor) || bitmapAt + sizeof(spa_meta_bitmap) > meta->size)
        return true;
    const auto *bitmap = SPA_PTROFF(cursor, bitmapAt, const spa_meta_bitmap);
    if (bitmap->format == 0)
        return true;
    m_cursorHotspot = QPoint(cursor->hotspot.x, cursor->hotspot.y);
    const int width = int(bitmap->size.width);
    const int height = int(bitmap->size.height);
    const uint64_t end = bitmapAt + bitmap->offset + uint64_t(std::max(0, bitmap->stride)) * uint64_t(height);
    if (bitmap->offset < sizeof(spa_meta_bitmap) || width <= 0 || height <= 0 || bitmap->stride < width * 4
        || end > meta->size) {
        m_cursorImage = QImage(); // hidden
        return true;
    }
    QImage::Format bitmapFormat = QImage::Format_Invalid;
    if (bitmap->format == SPA_VIDEO_FORMAT_BGRA)
        bitmapFormat = QImage::Format_ARGB32;
    else if (bitmap->format == SPA_VIDEO_FORMAT_RGBA)
        bitmapFormat = QImage::Format_RGBA8888;
    if (bitmapFormat == QImage::Format_Invalid)
        return true;
    const auto *pixels = SPA_PTROFF(bitmap, bitmap->offset, const uchar);
    m_cursorImage = QImage(pixels, width, height, bitmap->stride, bitmapFormat)
                        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return true;
}

void PipeWireFrames::repaint(QImage &out) const
{
    std::memcpy(out.bits(), m_clean.constBits(), size_t(m_clean.sizeInBytes()));
    if (m_cursorImage.isNull() || m_cleanFrom.isEmpty())
        return;
    // The pointer's place and picture are in the frame's pixels, as the
    // clean picture's source is; OUT may be of another density.
    const double sx = double(out.width()) / m_cleanFrom.width();
    const double sy = double(out.height()) / m_cleanFrom.height();
    const QPoint tip = m_cursorPosition - m_cursorHotspot - m_cleanFrom.topLeft();
    QPainter painter(&out);
    painter.drawImage(
        QRectF(tip.x() * sx, tip.y() * sy, m_cursorImage.width() * sx, m_cursorImage.height() * sy), m_cursorImage);
}

bool PipeWireFrames::dropUnreadable()
{
    return ++m_unreadable >= unreadableLimit;
}
