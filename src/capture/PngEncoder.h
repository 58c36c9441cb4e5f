#pragma once

#include <QByteArray>
#include <QImage>
#include <optional>

// A PNG writer for screenshots, several times faster than QImageWriter's
// zlib path: the image is cut into bands of rows, which the calling thread
// and a few of the encoder's own convert, filter and compress with libdeflate,
// each band on its own; the bands' deflate streams are then joined into the
// one zlib stream PNG wants.
namespace PngEncoder {

// Opaque images become 8-bit RGB, images with an alpha channel 8-bit RGBA
// (unpremultiplied), as QImageWriter writes them; same pixels either way.
struct Options {
    // Written in a pHYs chunk for both axes, unit metre.
    int dotsPerMetre = 2835;
    // libdeflate level, 1 to 12.
    int level = 7;
    // Threads encoding bands at once, the calling thread included; 0 is one
    // per core, up to four.
    int threads = 0;
};

// The PNG bytes, or none for a null image or a level out of range.
// Safe on any thread: the extra threads are its own, never a shared pool,
// so a pool worker may call it without waiting on its own pool.
std::optional<QByteArray> encode(const QImage &image, const Options &options);

} // namespace PngEncoder
