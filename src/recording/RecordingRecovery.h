#pragma once

#include "recording/SegmentFolder.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// Recordings whose program died with them (a crash, a kill, a power cut):
// the next start finds their segment folders, which no running Velunta owns,
// joins what the segments still hold into "<name> (recuperada).mp4" and
// removes the folders. A segment cut off mid-write keeps its complete
// fragments. Reads and writes files: run it off the GUI thread.
namespace RecordingRecovery {

// Where the recording of FINALPATH goes once recovered: beside where it was
// to be saved, or in SAVEFOLDER when that place is gone or unknown (then
// named after STARTED, as any new recording). Never an existing file.
QString recoveredPath(const QString &finalPath, const QString &saveFolder, const QDateTime &started);

// Recovers the recording in FOLDER and removes the folder: the recovered
// file's path. Empty when nothing in it could be read (the folder goes too)
// or when the file could not be written (the folder stays for another try).
QString recoverFolder(const QString &folder, const QString &saveFolder);

// Every orphaned segment folder in ROOTS: the recovered files' paths. Folders
// a crash left half made are removed first (SegmentFolder::removeUnfinished).
QStringList recoverAll(const QStringList &roots, const QString &saveFolder, const SegmentFolder::ProcessLookup &lookup,
    const QString &programName);

} // namespace RecordingRecovery
