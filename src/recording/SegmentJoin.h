#pragma once

#include "core/Result.h"
#include "recording/RecordingError.h"
#include "recording/SegmentChecks.h"

#include <QString>

#include <vector>

// Joining a recording's segment files into one MP4 without re-encoding.
namespace SegmentJoin {

// Joins the segments into one MP4 at OUTPUTPATH: every sample copied with
// its time stamps shifted so that each segment starts where the previous
// one's target length ends; the last video frame held to the very end.
// On failure no output file is left behind. Reads and writes files: call it
// off the GUI thread.
Result<Done, RecordingError> join(const std::vector<SegmentPair> &pairs, const QString &outputPath);

} // namespace SegmentJoin
