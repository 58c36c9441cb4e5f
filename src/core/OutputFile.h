#pragma once

#include "Result.h"

#include <QDateTime>
#include <QString>

// Names new capture files: "<prefix> yyyy-MM-dd às HH.mm.ss.<ext>" in the save
// folder, moved on to " (2)", " (3)"… while anything is in the way.
namespace OutputFile {

// The path of a free name in FOLDER, which is created first (with its
// parents). Fails with the system's error text when it cannot be. Nothing
// reserves the name: the caller writes the file.
Result<QString, QString> newURL(const QString &prefix, const QString &fileExtension, const QString &folder,
    const QDateTime &now = QDateTime::currentDateTime());

// The fixed pt_BR, 24-hour time stamp used in file names.
QString timestamp(const QDateTime &when);

} // namespace OutputFile
