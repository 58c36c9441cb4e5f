#pragma once

#include "core/Result.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <functional>

// Saving a screenshot's PNG bytes as a new file: never over a file that is
// already there, never half a file left behind.
namespace ScreenshotFile {

// Names tried before giving up: another program may claim a free name
// between choosing it and writing it.
constexpr int attempts = 3;

// Gives the path of a free name, or the system's text when there is none.
using NameSource = std::function<Result<QString, QString>()>;

// Writes PNG under the names NEWNAME gives, taking another one while the
// last was claimed meanwhile. The path written, or the system's text.
// Blocking.
Result<QString, QString> write(const QByteArray &png, const NameSource &newName);

// write() with "Print <time stamp>.png" names in FOLDER (created with its
// parents) on a worker thread; resumes on the caller's thread.
QCoro::Task<Result<QString, QString>> save(QByteArray png, QString folder);

} // namespace ScreenshotFile
