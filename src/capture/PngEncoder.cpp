#include "capture/PngEncoder.h"

#include <libdeflate.h>

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Average (3) is not used; see filterRow.
enum Filter : uchar { none = 0, sub = 1, up = 2, paeth = 4 };

// A band shorter than this costs more in thread start-up than it saves.
constexpr int minimumBandRows = 16;
// IDAT chunks of at most this many bytes; decoders that stream read them as
// they come, and no chunk gets near the format's 2^31 - 1 limit.
constexpr qsizetype idatChunkBytes = 1 << 20;

struct Layout {
    // The image in a format whose rows convert cheaply.
    QImage source;
    int channels = 3;
    qsizetype rowBytes = 0;
};

Layout layoutFor(const QImage &image)
{
    Layout layout;
    // QImageWriter keeps alpha whenever the format has it; so do we, so that
    // a file read back has the same format and pixels.
    const bool alpha = image.hasAlphaChannel();
    layout.channels = alpha ? 4 : 3;
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_RGB888:
    case QImage::Format_RGBA8888:
        layout.source = image;
        break;
    default:
        layout.source = image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
        break;
    }
    layout.rowBytes = qsizetype(image.width()) * layout.channels;
    return layout;
}

// Row Y of the source as PNG samples: R, G, B[, A].
void convertRow(const Layout &layout, int y, uchar *out)
{
    const QImage &source = layout.source;
    const int width = source.width();
    switch (source.format()) {
    case QImage::Format_RGB32: {
        const auto *line = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = line[x];
            out[0] = uchar(qRed(pixel));
            out[1] = uchar(qGreen(pixel));
            out[2] = uchar(qBlue(pixel));
            out += 3;
        }
        break;
    }
    case QImage::Format_ARGB32: {
        const auto *line = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = line[x];
            out[0] = uchar(qRed(pixel));
            out[1] = uchar(qGreen(pixel));
            out[2] = uchar(qBlue(pixel));
            out[3] = uchar(qAlpha(pixel));
            out += 4;
        }
        break;
    }
    default:
        std::memcpy(out, source.constScanLine(y), size_t(layout.rowBytes));
        break;
    }
}

inline uchar paethPredictor(int left, int above, int aboveLeft)
{
    const int estimate = left + above - aboveLeft;
    const int toLeft = std::abs(estimate - left);
    const int toAbove = std::abs(estimate - above);
    const int toAboveLeft = std::abs(estimate - aboveLeft);
    if (toLeft <= toAbove && toLeft <= toAboveLeft)
        return uchar(left);
    return uchar(toAbove <= toAboveLeft ? above : aboveLeft);
}

// The sum of the filtered bytes read as signed: rows whose bytes sit near
// zero compress best. The usual cheap heuristic; trying each filter through
// the compressor would cost far more than it gains on screen content.
inline unsigned long weight(const uchar *row, qsizetype length)
{
    unsigned long sum = 0;
    for (qsizetype i = 0; i < length; ++i)
        sum += uchar(std::abs(int(static_cast<signed char>(row[i]))));
    return sum;
}

// Filters one row with None, Sub, Up and Paeth and keeps the lightest.
// Average is left out: on screen content it almost never wins, and it costs
// as much as Paeth. OUT receives the filter byte and the row.
void filterRow(const uchar *raw, const uchar *above, qsizetype length, int bpp,
    std::array<std::vector<uchar>, 3> &scratch, uchar *out)
{
    uchar *subRow = scratch[0].data();
    uchar *upRow = scratch[1].data();
    uchar *paethRow = scratch[2].data();
    for (qsizetype i = 0; i < bpp && i < length; ++i) {
        subRow[i] = raw[i];
        upRow[i] = uchar(raw[i] - above[i]);
        paethRow[i] = uchar(raw[i] - above[i]);
    }
    for (qsizetype i = bpp; i < length; ++i) {
        subRow[i] = uchar(raw[i] - raw[i - bpp]);
        upRow[i] = uchar(raw[i] - above[i]);
        paethRow[i] = uchar(raw[i] - paethPredictor(raw[i - bpp], above[i], above[i - bpp]));
    }
    Filter best = none;
    const uchar *bestRow = raw;
    unsigned long lightest = weight(raw, length);
    for (auto [filter, row] : {std::pair {sub, subRow}, std::pair {up, upRow}, std::pair {paeth, paethRow}}) {
        const unsigned long candidate = weight(row, length);
        if (candidate < lightest) {
            lightest = candidate;
            best = filter;
            bestRow = row;
        }
    }
    out[0] = best;
    std::memcpy(out + 1, bestRow, size_t(length));
}

// Converts and filters rows [first, last) into their place in FILTERED.
void filterBand(const Layout &layout, int first, int last, uchar *filtered)
{
    const qsizetype length = layout.rowBytes;
    std::vector<uchar> above(static_cast<size_t>(length), 0);
    std::vector<uchar> current(static_cast<size_t>(length));
    std::array<std::vector<uchar>, 3> scratch;
    for (auto &row : scratch)
        row.resize(size_t(length));
    // Up and Paeth need the unfiltered row above the band, which belongs to
    // the band before; converting it again is cheaper than waiting for it.
    if (first > 0)
        convertRow(layout, first - 1, above.data());
    for (int y = first; y < last; ++y) {
        convertRow(layout, y, current.data());
        filterRow(
            current.data(), above.data(), length, layout.channels, scratch, filtered + qsizetype(y) * (length + 1));
        std::swap(current, above);
    }
}

void filterImage(const Layout &layout, int threads, uchar *filtered)
{
    const int height = layout.source.height();
    const int bands = std::clamp(std::min(threads, height / minimumBandRows), 1, height);
    std::vector<std::thread> helpers;
    for (int band = 1; band < bands; ++band) {
        const int first = int(qint64(height) * band / bands);
        const int last = int(qint64(height) * (band + 1) / bands);
        try {
            helpers.emplace_back(filterBand, std::cref(layout), first, last, filtered);
        } catch (const std::system_error &) {
            // No thread to be had: this thread does the rest itself.
            filterBand(layout, first, last, filtered);
        }
    }
    filterBand(layout, 0, int(qint64(height) * 1 / bands), filtered);
    for (std::thread &helper : helpers)
        helper.join();
}

void appendBigEndian(QByteArray &out, quint32 value)
{
    const quint32 big = qToBigEndian(value);
    out.append(reinterpret_cast<const char *>(&big), 4);
}

void appendChunk(QByteArray &out, const char type[4], const char *data, qsizetype length)
{
    appendBigEndian(out, quint32(length));
    const qsizetype start = out.size();
    out.append(type, 4);
    if (length > 0)
        out.append(data, length);
    const auto *typed = reinterpret_cast<const uchar *>(out.constData() + start);
    appendBigEndian(out, quint32(libdeflate_crc32(0, typed, size_t(length) + 4)));
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor *compressor) const { libdeflate_free_compressor(compressor); }
};

} // namespace

namespace PngEncoder {

std::optional<QByteArray> encode(const QImage &image, const Options &options)
{
    if (image.isNull() || options.level < 1 || options.level > 12)
        return std::nullopt;
    const Layout layout = layoutFor(image);
    if (layout.source.isNull())
        return std::nullopt;
    const int height = image.height();
    const size_t filteredSize = size_t(height) * size_t(layout.rowBytes + 1);
    std::unique_ptr<uchar[]> filtered(new (std::nothrow) uchar[filteredSize]);
    if (!filtered)
        return std::nullopt;
    const int threads = options.threads > 0 ? options.threads : int(std::max(1u, std::thread::hardware_concurrency()));
    filterImage(layout, threads, filtered.get());

    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(options.level));
    if (!compressor)
        return std::nullopt;
    const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filteredSize);
    std::unique_ptr<char[]> stream(new (std::nothrow) char[bound]);
    if (!stream)
        return std::nullopt;
    const size_t streamSize
        = libdeflate_zlib_compress(compressor.get(), filtered.get(), filteredSize, stream.get(), bound);
    if (streamSize == 0)
        return std::nullopt;
    filtered.reset();

    QByteArray png;
    const qsizetype chunks = (qsizetype(streamSize) + idatChunkBytes - 1) / idatChunkBytes;
    png.reserve(8 + 25 + 21 + qsizetype(streamSize) + chunks * 12 + 12);
    png.append("\x89PNG\r\n\x1a\n", 8);

    QByteArray header;
    appendBigEndian(header, quint32(image.width()));
    appendBigEndian(header, quint32(height));
    header.append(char(8)); // bits per sample
    header.append(char(layout.channels == 4 ? 6 : 2)); // RGBA or RGB
    header.append(3, char(0)); // deflate, adaptive filtering, no interlace
    appendChunk(png, "IHDR", header.constData(), header.size());

    QByteArray density;
    appendBigEndian(density, quint32(options.dotsPerMetre));
    appendBigEndian(density, quint32(options.dotsPerMetre));
    density.append(char(1)); // metre
    appendChunk(png, "pHYs", density.constData(), density.size());

    for (qsizetype at = 0; at < qsizetype(streamSize); at += idatChunkBytes)
        appendChunk(png, "IDAT", stream.get() + at, std::min(idatChunkBytes, qsizetype(streamSize) - at));
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

} // namespace PngEncoder
