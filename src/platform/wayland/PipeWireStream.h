#pragma once

#include "core/Result.h"
#include "platform/PlatformError.h"

#include <QImage>
#include <QRect>
#include <chrono>
#include <cstdint>
#include <memory>

// Video from one PipeWire node (a screen cast), read on its own
// pw_thread_loop. Buffers are asked for in shared memory in BGRx or RGBx; a
// DMA-BUF, when it is all the producer has, only in the linear layout, mapped
// once and read between cache syncs. Each picture is copied, cut to the
// wanted part, into an RGB32 image and kept as the latest frame. The reader
// waits for frames newer than the ones it has seen. A producer that offers
// no format of these is refused at once, and one whose pictures cannot be
// read ends the stream, each with its reason.
class PipeWireStream {
public:
    struct Options {
        // A connection handed out by the ScreenCast portal; -1 connects to
        // the user's PipeWire daemon. Taken over either way.
        int remoteFd = -1;
        uint32_t node = 0;
        // The part of the desktop the node shows and the part wanted, both
        // in the portal's (logical) units; the node's pictures may be denser
        // (a scaled monitor), which their size against `shown` tells. An
        // empty `wanted` keeps the whole picture.
        QRect shown;
        QRectF wanted;
        // The size of the pictures handed out, in pixels; empty: the size
        // of `wanted`, one pixel a unit.
        QSize size;
        // Draw the pointer sent beside the pictures (a cast whose pointer
        // is not embedded).
        bool drawsCursor = false;
        // How long open() waits for the node to start streaming.
        std::chrono::milliseconds startTimeout {10000};
    };

    struct Frame {
        // Opaque RGB32 of the wanted size.
        QImage image;
        // Steady clock: the buffer's presentation time when it is one of
        // ours, else when the buffer arrived.
        int64_t nanoseconds = 0;
        // Counts frames from 1.
        uint64_t sequence = 0;
    };

    enum class Wait { frame, timedOut, interrupted, ended };

    static Result<std::unique_ptr<PipeWireStream>, PlatformError> open(const Options &options);
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream &) = delete;
    PipeWireStream &operator=(const PipeWireStream &) = delete;

    // Returns at once when a frame newer than `seen` is there, else waits
    // for one, the time-out, interrupt() or the end of the stream.
    Wait waitForFrame(uint64_t seen, std::chrono::milliseconds timeout);
    // The latest frame (an empty image before the first).
    Frame latest() const;
    // Makes a waiting (or the next) waitForFrame() return `interrupted`.
    void interrupt();
    // Why the stream ended.
    PlatformError endReason() const;
    // The size of the node's pictures, once known.
    QSize sourceSize() const;

    struct State;

private:
    explicit PipeWireStream(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};
