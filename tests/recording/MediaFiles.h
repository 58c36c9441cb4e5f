#pragma once

#include "platform/media/SyntheticVideo.h"

#include <QString>

#include <vector>

// Files the media tests make for themselves, and what ffprobe (an
// independent reader) says about the files Velunta writes.
namespace MediaFiles {

// Writes a synthetic segment; fails the current test when that fails.
QString make(const QString &path, const SyntheticVideo::Options &options);
SyntheticVideo::Options video(double videoSeconds, std::vector<double> audioTracks = {0.5});

struct ProbedStream {
    int index = -1;
    QString type; // "video", "audio"
    int64_t timeBase = 0; // ticks per second
    double start = 0;
    double duration = 0;
};

struct ProbedPacket {
    int stream = -1;
    int64_t pts = 0;
    int64_t dts = 0;
    int64_t duration = 0;
    bool discard = false;
    double seconds(int64_t ticks, const ProbedStream &s) const { return double(ticks) / double(s.timeBase); }
};

struct Probe {
    bool ok = false;
    double duration = 0;
    std::vector<ProbedStream> streams;
    std::vector<ProbedPacket> packets;

    std::vector<ProbedStream> streamsOf(const QString &type) const;
    std::vector<ProbedPacket> packetsOf(int stream) const;
    const ProbedStream &stream(int index) const;
};

Probe probe(const QString &path);

// Every stream's decode times strictly increase and its video plays to DURATION.
void expectWellFormed(const Probe &probe);

} // namespace MediaFiles
