#pragma once

#include "platform/media/MediaTime.h"

#include <memory>

struct AVPacket;

// Timing of one compressed sample on its track's time line.
struct SampleTiming {
    MediaTime duration;
    MediaTime presentationTimeStamp;
    MediaTime decodeTimeStamp; // invalid when the file gives none

    bool operator==(const SampleTiming &) const = default;
};

// One compressed sample (an encoded video frame or audio packet) with its
// timing. The bytes are never looked at: samples are passed through as they are.
class Sample {
public:
    struct PacketDeleter {
        void operator()(AVPacket *packet) const;
    };
    using PacketOwner = std::unique_ptr<AVPacket, PacketDeleter>;

    Sample(PacketOwner packet, SampleTiming timing, bool discardable);

    const SampleTiming &timing() const { return m_timing; }
    void setTiming(const SampleTiming &timing) { m_timing = timing; }
    // Encoder priming that players skip (AAC's first 1024 samples).
    bool isDiscardable() const { return m_discardable; }
    bool isKeyframe() const;
    int size() const;

    AVPacket *packet() const { return m_packet.get(); }

private:
    PacketOwner m_packet;
    SampleTiming m_timing;
    bool m_discardable = false;
};
