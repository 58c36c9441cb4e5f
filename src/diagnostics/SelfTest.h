#pragma once

#include "app/Result.h"
#include "platform/media/MediaError.h"

#include <QCoroTask>
#include <QImage>
#include <QString>

// Automatic checks of the real capture and recording code on this machine,
// each writing a plain-text report into a folder.
namespace SelfTest {

// The merge test: joins two synthetic segments (1 s of picture stretched to
// 2 s, then 2 s) and checks the result, writing "merge.txt" into FOLDERPATH.
QCoro::Task<void> runMerge(QString folderPath);

// A grey 640x360 H.264 picture at 30 frames a second for SECONDS, with a short
// AAC chime (44.1 kHz stereo) that ends within the first second.
Result<Done, MediaError> writeSyntheticVideo(const QString &path, int seconds);

// A frame counts as bad (black) when, scaled to 32x32, no pixel has
// red + green + blue above 14.
bool isBlackFrame(const QImage &image);

} // namespace SelfTest
