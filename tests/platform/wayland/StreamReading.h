// Opening a PipeWireStream on a test node and collecting its frames, for the
// tests that feed it from a producer of their own.
#pragma once

#include "platform/wayland/PipeWireStream.h"

#include <QDeadlineTimer>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace StreamReading {

inline std::unique_ptr<PipeWireStream> open(uint32_t node, QRect shown = {}, QRectF wanted = {})
{
    PipeWireStream::Options options;
    options.node = node;
    options.shown = shown;
    options.wanted = wanted;
    auto stream = PipeWireStream::open(options);
    EXPECT_TRUE(stream) << (stream ? "" : stream.error().description.toStdString());
    return stream ? std::move(*stream) : nullptr;
}

// Waits for up to COUNT new frames and returns them in order.
inline std::vector<PipeWireStream::Frame> frames(PipeWireStream &stream, int count)
{
    using namespace std::chrono_literals;
    std::vector<PipeWireStream::Frame> got;
    uint64_t seen = 0;
    const QDeadlineTimer deadline(10000);
    while (int(got.size()) < count && !deadline.hasExpired()) {
        if (stream.waitForFrame(seen, 500ms) != PipeWireStream::Wait::frame)
            continue;
        got.push_back(stream.latest());
        seen = got.back().sequence;
    }
    return got;
}

} // namespace StreamReading
