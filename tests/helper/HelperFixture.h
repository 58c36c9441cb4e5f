#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <optional>
#include <sys/types.h>

// A throw-away installation for one run of the real update helper:
//   root/Applications/Velunta.app   the installed version (build 1)
//   root/work/app/Velunta.app       the verified new version (build 2)
//   root/out/                       what the started programs record
//   root/state/Velunta/update.log   the helper's log
//   root/home                       the helper's home folder
// The bundles' programs are shell scripts that write down their arguments.
class HelperFixture {
public:
    enum class NewVersion {
        Confirms, // creates the marker it is given, then exits
        Hangs, // never confirms and keeps running until killed
        HangsIgnoringTerm, // the same, and it ignores SIGTERM
    };

    HelperFixture();
    ~HelperFixture();

    QString root() const { return m_dir.path(); }
    QString target() const { return root() + "/Applications/Velunta.app"; }
    QString applications() const { return root() + "/Applications"; }
    QString work() const { return root() + "/work"; }
    QString newBundle() const { return work() + "/app/Velunta.app"; }
    QString out() const { return root() + "/out"; }
    QString home() const { return root() + "/home"; }
    QString logFile() const { return root() + "/state/Velunta/update.log"; }

    void makeNewVersion(NewVersion behaviour);

    // The standard command line, as the application builds it.
    QStringList arguments(pid_t pid, int timeoutSeconds, const QStringList &relaunch) const;

    struct Run {
        int exitCode = -1;
        std::chrono::milliseconds took {};
    };
    // Runs the helper to its end. failExchangeCall > 0 preloads the shim that
    // fails that call of renameat2.
    // EXTRA holds more "NAME=value" entries for its environment.
    Run runHelper(const QStringList &arguments, int failExchangeCall = 0, int timeoutSeconds = 120,
        const QStringList &extra = {});
    // Starts the helper without waiting for it; 0 when it could not start.
    pid_t startHelper(const QStringList &arguments, int failExchangeCall = 0, const QStringList &extra = {});

    // A stand-in for the running application: a shell that sleeps, then
    // notes that it ended. The caller reaps it with reap(), or ends it and
    // everything it started with stopOldApp().
    pid_t startOldApp(double seconds);
    static void reap(pid_t pid);
    static void stopOldApp(pid_t pid);

    // The build number in the Info.plist of a bundle, or -1.
    static int buildOf(const QString &bundle);
    // Entries of the applications folder that are staged copies.
    QStringList stagedCopies() const;
    QStringList logLines() const;

    // The arguments a started version wrote down, waiting up to the given time
    // for them to appear; nothing when that program never ran.
    std::optional<QStringList> launchedArguments(const QString &which, int waitMs = 5000) const;
    static bool processHasEnded(pid_t pid);
    // The process id a hanging new version wrote down, or 0.
    pid_t newVersionPid() const;

private:
    void makeBundle(const QString &bundle, int build, const QString &script);

    QTemporaryDir m_dir;
};
