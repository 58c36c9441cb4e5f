#pragma once

#include "core/Result.h"
#include "platform/media/MediaError.h"

#include <QString>

#include <vector>

// Small MP4 files made from nothing: a flat picture in H.264 and short tones
// in AAC. The merge test joins such files, and the media tests build every
// odd segment shape from them. Encoding is real work: off the GUI thread.
namespace SyntheticVideo {

struct Options {
    double videoSeconds = 1.0; // 0: no video track
    int width = 640;
    int height = 360;
    int framesPerSecond = 30;
    unsigned char pixelByte = 0x80; // every byte of the ARGB picture
    std::vector<double> audioTracks = {0.5}; // seconds of tone, one entry per AAC track
    int sampleRate = 44100;
    int channels = 2;
};

Result<Done, MediaError> write(const QString &path, const Options &options);

} // namespace SyntheticVideo
