#pragma once

// A PipeWire video producer in the test's own process that hands out its
// pictures only as DMA-BUFs, the way a compositor with a GPU does. There is
// no GPU (nor /dev/udmabuf) here, so each buffer is a memfd typed as a
// DMA-BUF: mmap works on it as on a linear dma-buf, and the cache sync ioctl
// answers ENOTTY. Rows are laid out with the stride and offset asked for; the
// bytes around them hold a colour no picture uses.
#include <QImage>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class DmaBufProducer {
public:
    struct Options {
        QString name = QStringLiteral("velunta-dmabuf");
        // SPA_VIDEO_FORMAT_BGRx or SPA_VIDEO_FORMAT_RGBx.
        uint32_t format = 0;
        QSize size {320, 240};
        // Bytes from one row to the next; 0: four a pixel.
        int stride = 0;
        // Where the picture starts in the buffer (the chunk's offset).
        uint32_t chunkOffset = 0;
        // Where the buffer starts in its file.
        uint32_t mapOffset = 0;
        // The DRM format modifiers offered, the first the preferred one;
        // 0 is the linear layout.
        std::vector<uint64_t> modifiers {0};
        int rate = 30;
        // Picture number N (from 0), opaque RGB32 of `size`.
        std::function<QImage(uint64_t)> picture;
    };

    explicit DmaBufProducer(Options options);
    ~DmaBufProducer();
    DmaBufProducer(const DmaBufProducer &) = delete;
    DmaBufProducer &operator=(const DmaBufProducer &) = delete;

    // The node's id once it is on the graph; 0 if it never got there.
    uint32_t node() const;
    // Pictures handed to PipeWire so far.
    uint64_t sent() const;
    // Whether the buffers it hands out are DMA-BUFs (PipeWire asked it to
    // allocate them after a format was agreed).
    bool gaveDmaBufs() const;

    struct State;

private:
    std::unique_ptr<State> m_state;
};
