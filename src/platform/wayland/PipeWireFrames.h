#pragma once

#include "platform/wayland/PipeWireStream.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <cstdint>
#include <optional>

struct spa_buffer;
struct spa_chunk;

// Turns the pictures of one stream, once their memory is mapped, into the
// pictures handed out: BGRx, RGBx, BGRA or RGBA rows at any stride to RGB32,
// cut to the wanted part (and scaled when the picture's density differs),
// the pointer from the buffers' metadata drawn in. Also counts unreadable
// pictures in a row. Used on the PipeWire loop's thread only: the images it
// paints into are the stream's, which hands them to readers.
class PipeWireFrames {
public:
    // Where a picture's rows lie in a buffer's memory.
    struct Rows {
        uint32_t offset = 0;
        int stride = 0;
        bool operator==(const Rows &) const = default;
    };

    explicit PipeWireFrames(const PipeWireStream::Options &options);

    // The size of the pictures handed out, for pictures of FRAME pixels.
    static QSize outputSize(const PipeWireStream::Options &options, QSize frame);
    // Where the wanted area lies in a picture of FRAME pixels.
    static QRect sourceRect(const PipeWireStream::Options &options, QSize frame);
    // Where the rows of a picture of FRAME pixels lie in a buffer of MAXSIZE
    // bytes, by its CHUNK; none when they do not fit in it.
    static std::optional<Rows> rows(QSize frame, const spa_chunk &chunk, uint32_t maxsize);
    // Copies FROM, a part of SOURCE, into OUT: the very pixels when the sizes
    // match, else scaled; black where the part runs off SOURCE.
    static void copy(const QImage &source, const QRect &from, QImage &out);

    // The format negotiated: the pictures' size and their SPA video format.
    void setFormat(QSize frame, uint32_t videoFormat);
    bool hasFormat() const { return m_hasFormat; }
    QSize frameSize() const { return m_frame; }
    // The size of the pictures handed out for the current format.
    QSize outputSize() const { return outputSize(m_options, m_frame); }

    // Paints the picture whose rows start at PIXELS, STRIDE bytes apart,
    // into OUT (of outputSize()), the pointer drawn in when asked for.
    void paint(const uint8_t *pixels, int stride, QImage &out);

    // Takes the pointer's place and picture from the buffer's metadata;
    // whether there was any news.
    bool readCursor(const spa_buffer &buffer);
    // The size of the last picture painted; empty before the first or
    // without a pointer to draw.
    QSize lastSize() const { return m_clean.size(); }
    // The last picture again, with the pointer where it is now, into OUT
    // (of lastSize()): pointer-only updates come with no picture.
    void repaint(QImage &out) const;

    // Counts a picture that could not be read; whether it makes so many in
    // a row that the stream should end. paint() starts the count again.
    bool dropUnreadable();

private:
    PipeWireStream::Options m_options;
    QSize m_frame;
    QImage::Format m_sourceFormat = QImage::Format_RGB32;
    bool m_hasFormat = false;
    // The last picture without the pointer, and where it came from.
    QImage m_clean;
    QRect m_cleanFrom;
    QPoint m_cursorPosition;
    QPoint m_cursorHotspot;
    QImage m_cursorImage;
    int m_unreadable = 0;
};
