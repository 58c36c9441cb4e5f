#pragma once

#include <QString>
#include <QStringList>

// What an update cut short leaves beside the installed bundle. The helper
// stages the new version as ".Velunta-update-<UUID>.app" next to the target
// and, after the swap, keeps the old one under that name until it knows the
// outcome; a logout or a power cut in between leaves that copy (or a partial
// one) there for good. The next start clears it away.
namespace UpdateLeftovers {

// The names the helper gives its staged copies, and no other.
bool isStagedName(const QString &name);

// Whether an update helper is working on the bundle at BUNDLEPATH now: its
// staged copy is then no leftover but part of an update in progress.
bool helperIsRunningFor(const QString &bundlePath);

// Removes the staged copies beside BUNDLEPATH when no helper works on it:
// only real folders with the helper's names (never a link, never followed),
// except a copy the helper named as the surviving old version after a failed
// restore. Each removal is logged to LOGFILE. Gives the removed paths.
QStringList sweep(const QString &bundlePath, const QString &logFile);

// The helper's log file: $XDG_STATE_HOME/Velunta/update.log.
QString logFilePath();

// The sweep for the running bundle, on the thread pool.
void sweepInBackground();

} // namespace UpdateLeftovers
