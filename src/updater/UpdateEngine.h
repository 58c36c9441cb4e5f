#pragma once

#include "RunningVersion.h"
#include "UpdateConfig.h"
#include "UpdateError.h"
#include "UpdateManifest.h"
#include "core/Bundle.h"
#include "core/Result.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <compare>
#include <functional>

// An update that has been downloaded and verified, waiting in its work
// folder for the helper program to install it.
struct PreparedUpdate {
    qint64 build = 0;
    QUrl appURL; // the verified bundle inside the work folder
    QUrl workFolder; // "VeluntaUpdate-<UUID>" in the temporary folder
    bool operator==(const PreparedUpdate &) const = default;
};

// The stateless logic of self-updating: what is running, whether a manifest
// is an offer, fetching, downloading, verifying and handing over to the
// helper program. The asynchronous steps are coroutines that resume on the
// thread that started them; the file work runs on the thread pool.
// One file per job: UpdateRules, RunningVersion, UpdateDownload,
// UpdateVerify, UpdateArchive and UpdateInstall.
namespace UpdateEngine {

enum class Decision { offer, upToDate, paused, outsideRollout, skipped, systemTooOld };
QString decisionName(Decision decision);

struct SystemVersion {
    qint64 major = 0;
    qint64 minor = 0;
    qint64 patch = 0;
    auto operator<=>(const SystemVersion &) const = default;
};

// The C library's version (major.minor, patch 0): the floor a build needs.
SystemVersion systemVersion();

Decision decide(const UpdateManifest &manifest, qint64 currentBuild, int bucket, qint64 skippedBuild,
    SystemVersion system, bool isManual);
bool systemSatisfies(const QString &minimum, SystemVersion system);

// GET without any cache, 30 s without data at most; redirects only to allowed
// addresses. A status other than 200 is `server`, a body over the limit or
// not a manifest `invalidManifest`, a transport failure a platform error.
QCoro::Task<Result<UpdateManifest, UpdateError>> fetchManifest(QUrl url, UpdateConfig config);

// Downloads, verifies and extracts the update into a fresh work folder.
// ONPROGRESS gets fractions 0…1 on the download's own thread. RUNNING is
// the bundle the update must match (the running one, except in tests). On
// failure the work folder is gone.
using ProgressCallback = std::function<void(double)>;
QCoro::Task<Result<PreparedUpdate, UpdateError>> prepare(
    UpdateManifest manifest, UpdateConfig config, ProgressCallback onProgress, Bundle running = Bundle::main());

// The synchronous steps: they block, so call them off the GUI thread.
Result<Done, UpdateError> verifyPackage(
    const QString &archive, const UpdateManifest &manifest, const QString &publicKey);
Result<QString, UpdateError> sha256(const QString &file);
Result<QString, UpdateError> extractApp(const QString &archive, const QString &folder);
Result<Done, UpdateError> verifyApp(
    const QString &bundle, const UpdateManifest &manifest, const Bundle &running = Bundle::main());

// Deletes a file or a folder tree without following links, read-only
// folders included. True when nothing is left.
bool removeTree(const QString &path);

// Whether the running bundle (or BUNDLEPATH) and its parent folder are
// writable by this user, so that the helper can swap it in place.
bool canInstallInPlace();
bool canInstallInPlace(const QString &bundlePath);

// Copies the running bundle's helper into the work folder and starts it,
// detached, to install UPDATE once this process has quit. On failure the
// work folder is removed: nothing can use the prepared update any more.
Result<Done, UpdateError> launchInstaller(const PreparedUpdate &update, int confirmTimeout,
    const QStringList &relaunchArguments, const Bundle &running = Bundle::main());

// Stops the helper that launchInstaller started for UPDATE, while it still
// waits for this process to quit; the work folder stays as it is.
void cancelInstaller(const PreparedUpdate &update);

// The helper's command line (without the program), exactly as it expects it.
QStringList installerArguments(const PreparedUpdate &update, qint64 pid, const QString &target, int confirmTimeout,
    const QStringList &relaunchArguments);

} // namespace UpdateEngine
