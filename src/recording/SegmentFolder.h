#pragma once

#include "core/Result.h"
#include "platform/PlatformError.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

// Where a recording's segments live while it runs, and who owns them.
//
// The folder sits on disk, not in $TMPDIR, which is RAM on many systems and
// goes with a power cut: in Velunta's cache folder, or beside the save folder
// when only that file system has room. Each holds a lock file naming its
// owner's process, so that the next start can tell the folder of a recording
// that died with its program from one that another Velunta is still writing.
//
// PIDs are reused: a lock counts only while a process of that number runs
// Velunta's program and, when the lock knows it, started when the owner did.
namespace SegmentFolder {

// What a lock file says.
struct Owner {
    qint64 pid = 0;
    // Clock ticks from boot to the process's start (field 22 of
    // /proc/PID/stat); 0 when unknown.
    quint64 startTime = 0;
    // Where the recording was to be saved.
    QString finalPath;
    bool operator==(const Owner &) const = default;
};

// What the system says of a process.
struct Process {
    QString name; // /proc/PID/comm
    quint64 startTime = 0;
    bool hasEnded = false; // a zombie: it runs no more
    bool operator==(const Process &) const = default;
};

// The process with a PID, or none when there is none.
using ProcessLookup = std::function<std::optional<Process>(qint64 pid)>;

// From /proc.
std::optional<Process> lookUpProcess(qint64 pid);
// This process as a lock file names it.
Owner currentOwner(const QString &finalPath);
// The name the system gives this process's program.
QString currentProgramName();

// "Velunta-" and an upper-case UUID.
bool isSegmentFolderName(const QString &name);
QString lockFileName();
QByteArray lockText(const Owner &owner);
std::optional<Owner> parseLock(const QByteArray &text);

// Whether OWNER is a live process running the program PROGRAMNAME (the name
// the system gives this process). A folder without a readable lock has no owner.
bool isOwnedByRunningProcess(
    const std::optional<Owner> &owner, const ProcessLookup &lookup, const QString &programName);
// The lock of FOLDER, if it has a readable one.
std::optional<Owner> readLock(const QString &folder);

// $XDG_CACHE_HOME/Velunta (~/.cache/Velunta by default).
QString cacheRoot();
// The second place, on the save folder's file system.
QString saveFolderRoot(const QString &saveFolder);
// Both places, the cache first.
QStringList roots(const QString &saveFolder);

// A new private (0700) segment folder inside ROOT with OWNER's lock in it.
// It appears under its final name only with the lock inside, so that a
// folder without one is never a recording that is just starting.
Result<QString, PlatformError> create(const QString &root, const Owner &owner);
// Removes FOLDER and what is in it, then ROOT when that leaves it empty.
void remove(const QString &folder);

// The segment folders in ROOTS that no running Velunta owns.
QStringList orphans(const QStringList &roots, const ProcessLookup &lookup, const QString &programName);

// Removes what a crash in create() left in ROOTS: a hidden ".Velunta-<UUID>"
// folder that never got its final name, holding at most its lock (and the
// lock's own temporary file), and untouched for MINIMUMAGESECONDS, so that a
// folder another Velunta is making right now stays. Anything else in such a
// folder (a user's file) keeps it. Returns the folders removed.
QStringList removeUnfinished(const QStringList &roots, qint64 minimumAgeSeconds = 60);

} // namespace SegmentFolder
