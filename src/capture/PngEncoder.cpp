#include "capture/PngEncoder.h"

#include "capture/DeflateJoin.h"
#include "capture/PngRowFilter.h"

#include <libdeflate.h>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// A band shorter than this costs more in thread start-up than it saves.
constexpr int minimumBandRows = 16;
// The share of the rows in the first bands, one per thread; the rest is cut
// into ever smaller bands that even out the threads' ends.
constexpr int bulkPercent = 70;
// Each band costs a block header and a fresh window, tens of bytes: on a
// nearly empty screen many small bands would add a few per cent.
constexpr int smallestTailRows = 64;
// A band whose deflate stream is smaller than its input by this factor
// compressed to almost nothing.
constexpr qsizetype almostNothing = 256;
// Threads unless told otherwise: a screen's worth of rows gains little from
// more, and every band adds to the size.
constexpr int defaultMostThreads = 4;
// Bytes after a converted row that the conversion may overwrite.
constexpr qsizetype rowPadding = 16;
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

#if defined(__x86_64__) || defined(__i386__)
// Four 0xffRRGGBB pixels (B, G, R, X in memory) to twelve bytes R, G, B with
// one shuffle; each store writes four bytes past the twelve, which the next
// overwrites, so OUT needs rowPadding bytes after the row. Every x86 CPU of
// the last fifteen years has SSSE3; the others take the plain loop.
__attribute__((target("ssse3"))) int convertRgb32Shuffled(const quint32 *line, int width, uchar *out)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + qsizetype(x) * 3), _mm_shuffle_epi8(pixels, order));
    }
    return x;
}

bool hasSsse3()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}
#endif

// Row Y of the source as PNG samples: R, G, B[, A].
void convertRow(const Layout &layout, int y, uchar *out)
{
    const QImage &source = layout.source;
    const int width = source.width();
    const auto *line = reinterpret_cast<const quint32 *>(source.constScanLine(y));
    switch (source.format()) {
    case QImage::Format_RGB32: {
        int x = 0;
#if defined(__x86_64__) || defined(__i386__)
        if (hasSsse3())
            x = convertRgb32Shuffled(line, width, out);
#endif
        // 0xffRRGGBB → R, G, B: four pixels make three words, stored whole
        // rather than byte by byte.
        const auto rgb
            = [](quint32 pixel) { return (pixel >> 16 & 0xffu) | (pixel & 0xff00u) | (pixel & 0xffu) << 16; };
        for (; x + 4 <= width; x += 4) {
            const quint32 p0 = rgb(line[x]);
            const quint32 p1 = rgb(line[x + 1]);
            const quint32 p2 = rgb(line[x + 2]);
            const quint32 p3 = rgb(line[x + 3]);
            const quint32 words[3] = {qToLittleEndian(p0 | p1 << 24), qToLittleEndian(p1 >> 8 | p2 << 16),
                qToLittleEndian(p2 >> 16 | p3 << 8)};
            std::memcpy(out + qsizetype(x) * 3, words, sizeof words);
        }
        for (; x < width; ++x) {
            const QRgb pixel = line[x];
            uchar *at = out + qsizetype(x) * 3;
            at[0] = uchar(qRed(pixel));
            at[1] = uchar(qGreen(pixel));
            at[2] = uchar(qBlue(pixel));
        }
        break;
    }
    case QImage::Format_ARGB32: {
        // 0xAARRGGBB → R, G, B, A: red and blue trade places.
        for (int x = 0; x < width; ++x) {
            const quint32 pixel = line[x];
            const quint32 swapped = (pixel & 0xff00ff00u) | (pixel >> 16 & 0xffu) | (pixel & 0xffu) << 16;
            const quint32 bytes = qToLittleEndian(swapped);
            std::memcpy(out + qsizetype(x) * 4, &bytes, 4);
        }
        break;
    }
    default:
        std::memcpy(out, source.constScanLine(y), size_t(layout.rowBytes));
        break;
    }
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor *compressor) const { libdeflate_free_compressor(compressor); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;

// Rows [first, last), filtered then compressed as a raw deflate stream of
// their own; reopened for joining unless it is the image's last band.
struct Band {
    int first = 0;
    int last = 0;
    bool isLast = false;
    std::optional<QByteArray> deflated;
    // Of the band's filtered bytes.
    quint32 adler = 1;
    qsizetype inputBytes = 0;
};

// Converts and filters rows [first, last) into their place in FILTERED.
void filterBand(const Layout &layout, int first, int last, uchar *filtered)
{
    const qsizetype length = layout.rowBytes;
    std::vector<uchar> above(static_cast<size_t>(length + rowPadding), 0);
    std::vector<uchar> current(static_cast<size_t>(length + rowPadding));
    std::vector<uchar> scratch(static_cast<size_t>(PngRowFilter::scratchBytes(length)));
    // Up and Paeth need the unfiltered row above the band, which belongs to
    // the band before; converting it again is cheaper than waiting for it.
    if (first > 0)
        convertRow(layout, first - 1, above.data());
    for (int y = first; y < last; ++y) {
        convertRow(layout, y, current.data());
        PngRowFilter::filterRow(current.data(), above.data(), length, layout.channels, scratch.data(),
            filtered + qsizetype(y) * (length + 1));
        std::swap(current, above);
    }
}

void encodeBand(const Layout &layout, libdeflate_compressor *compressor, uchar *filtered, Band &band)
{
    filterBand(layout, band.first, band.last, filtered);
    const qsizetype rowSize = layout.rowBytes + 1;
    const uchar *input = filtered + band.first * rowSize;
    const size_t inputSize = size_t(band.last - band.first) * size_t(rowSize);
    band.inputBytes = qsizetype(inputSize);
    band.adler = quint32(libdeflate_adler32(1, input, inputSize));
    if (!compressor)
        return;
    QByteArray output(qsizetype(libdeflate_deflate_compress_bound(compressor, inputSize)), Qt::Uninitialized);
    const size_t written
        = libdeflate_deflate_compress(compressor, input, inputSize, output.data(), size_t(output.size()));
    if (written == 0)
        return;
    output.truncate(qsizetype(written));
    if (band.isLast)
        band.deflated = std::move(output);
    else
        band.deflated = DeflateJoin::reopen(output.constData(), output.size());
}

// One zlib stream on one thread: what is left if a band could not be joined.
std::optional<QByteArray> compressWhole(int level, const uchar *filtered, size_t size)
{
    Compressor compressor(libdeflate_alloc_compressor(level));
    if (!compressor)
        return std::nullopt;
    QByteArray stream(qsizetype(libdeflate_zlib_compress_bound(compressor.get(), size)), Qt::Uninitialized);
    const size_t written
        = libdeflate_zlib_compress(compressor.get(), filtered, size, stream.data(), size_t(stream.size()));
    if (written == 0)
        return std::nullopt;
    stream.truncate(qsizetype(written));
    return stream;
}

// Hands out bands of rows in order, to whichever thread is free first. One
// per thread takes most of the image; the rest goes in ever smaller bands
// that even out when the threads finish, so the last band, the only one not
// reopened, comes last. Each band costs a block header and a fresh window,
// tens of bytes: once a band has compressed to almost nothing, so that those
// bytes would show in the size, the next claimer takes all that is left.
// Whatever threads get which bands, the pixels are the same; only the size
// can differ by a few bytes between runs.
class BandSchedule {
public:
    BandSchedule(int height, int threads)
        : m_height(height)
        , m_bulkBands(std::max(1, threads))
        , m_bulkRows(
              threads > 1 ? std::max(minimumBandRows, int(qint64(height) * bulkPercent / 100 / threads)) : height)
    {
    }

    // The next band, or none when every row is taken. PREVIOUS is the
    // claimer's band before, if any.
    Band *claim(const Band *previous)
    {
        std::lock_guard lock(m_mutex);
        if (previous && compressedToAlmostNothing(*previous))
            m_takeTheRestWhole = true;
        const int left = m_height - m_next;
        if (left == 0)
            return nullptr;
        int rows = left;
        if (int(m_bands.size()) < m_bulkBands) {
            if (left - m_bulkRows >= minimumBandRows)
                rows = m_bulkRows;
        } else if (left >= 2 * smallestTailRows && !m_takeTheRestWhole) {
            rows = std::max(smallestTailRows, left / 2);
        }
        m_bands.push_back(Band {m_next, m_next + rows, m_next + rows == m_height, std::nullopt, 1, 0});
        m_next += rows;
        return &m_bands.back();
    }

    // In order; only once every claimed band is done.
    const std::deque<Band> &bands() const { return m_bands; }

private:
    static bool compressedToAlmostNothing(const Band &band)
    {
        return band.deflated && band.deflated->size() * almostNothing < band.inputBytes;
    }

    std::mutex m_mutex;
    const int m_height;
    const int m_bulkBands;
    const int m_bulkRows;
    int m_next = 0;
    bool m_takeTheRestWhole = false;
    // A deque keeps the bands where they are while others are added.
    std::deque<Band> m_bands;
};

// Adler-32 of two pieces from theirs and the second's length.
quint32 combineAdler(quint32 first, quint32 second, size_t secondLength)
{
    constexpr quint32 base = 65521;
    const quint64 remainder = secondLength % base;
    quint64 low = first & 0xffff;
    quint64 high = (remainder * low) % base;
    low += (second & 0xffff) + base - 1;
    high += (first >> 16) + (second >> 16) + base - remainder;
    low %= base;
    high %= base;
    return quint32(low | high << 16);
}

// The zlib stream of the filtered image, in pieces to be written one after
// the other: bands compressed apart on this thread and the encoder's helpers.
// Compressed apart, no match reaches across a band's start: within 0.1 % of
// one stream's size, and 1.3 to 1.8 times as fast on two cores.
std::optional<std::vector<QByteArray>> compressImage(const Layout &layout, int threads, int level, uchar *filtered)
{
    const int height = layout.source.height();
    BandSchedule schedule(height, threads);
    const auto work = [&] {
        Compressor compressor(libdeflate_alloc_compressor(level));
        const Band *previous = nullptr;
        while (Band *band = schedule.claim(previous)) {
            encodeBand(layout, compressor.get(), filtered, *band);
            previous = band;
        }
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads && i * minimumBandRows < height; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error &) {
            break; // no thread to be had: the others take its bands
        }
    }
    work();
    for (std::thread &helper : helpers)
        helper.join();
    const std::deque<Band> &bands = schedule.bands();

    const size_t filteredSize = size_t(height) * size_t(layout.rowBytes + 1);
    if (std::any_of(bands.begin(), bands.end(), [](const Band &band) { return !band.deflated; })) {
        std::optional<QByteArray> whole = compressWhole(level, filtered, filteredSize);
        if (!whole)
            return std::nullopt;
        return std::vector<QByteArray> {std::move(*whole)};
    }
    // Deflate, 32 KiB window, default level; the check bits make it a
    // multiple of 31.
    std::vector<QByteArray> pieces {QByteArray("\x78\x9c", 2)};
    quint32 adler = 1;
    for (const Band &band : bands) {
        pieces.push_back(*band.deflated);
        adler = combineAdler(adler, band.adler, size_t(band.inputBytes));
    }
    QByteArray check(4, Qt::Uninitialized);
    qToBigEndian(adler, check.data());
    pieces.push_back(check);
    return pieces;
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

// IDAT chunks holding PIECES one after the other: each piece is copied once,
// straight into the file's bytes.
void appendImageData(QByteArray &png, const std::vector<QByteArray> &pieces, qsizetype total)
{
    size_t piece = 0;
    qsizetype offset = 0;
    for (qsizetype at = 0; at < total; at += idatChunkBytes) {
        const qsizetype length = std::min(idatChunkBytes, total - at);
        appendBigEndian(png, quint32(length));
        const qsizetype start = png.size();
        png.append("IDAT", 4);
        for (qsizetype left = length; left > 0;) {
            const qsizetype take = std::min(left, pieces[piece].size() - offset);
            png.append(pieces[piece].constData() + offset, take);
            offset += take;
            left -= take;
            if (offset == pieces[piece].size()) {
                ++piece;
                offset = 0;
            }
        }
        const auto *typed = reinterpret_cast<const uchar *>(png.constData() + start);
        appendBigEndian(png, quint32(libdeflate_crc32(0, typed, size_t(length) + 4)));
    }
}

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
    const int threads = options.threads > 0
        ? options.threads
        : std::clamp(int(std::thread::hardware_concurrency()), 1, defaultMostThreads);
    const std::optional<std::vector<QByteArray>> stream = compressImage(layout, threads, options.level, filtered.get());
    if (!stream)
        return std::nullopt;
    filtered.reset();
    qsizetype streamSize = 0;
    for (const QByteArray &piece : *stream)
        streamSize += piece.size();

    QByteArray png;
    const qsizetype chunks = (streamSize + idatChunkBytes - 1) / idatChunkBytes;
    png.reserve(8 + 25 + 21 + streamSize + chunks * 12 + 12);
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

    appendImageData(png, *stream, streamSize);
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

} // namespace PngEncoder
