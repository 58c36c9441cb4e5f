#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

namespace TestSupport {

// A throw-away home for one test: config, state, runtime and pictures folders
// that the program under test uses instead of the user's.
class TempHome {
public:
    TempHome();
    QString path() const { return m_dir.path(); }
    QString configHome() const { return path() + "/config"; }
    QString stateHome() const { return path() + "/state"; }
    QString runtimeDir() const { return path() + "/runtime"; }
    QString tempDir() const { return path() + "/tmp"; }
    // Where the program keeps its cache (and its recordings' segments); in
    // this home unless a test points it elsewhere.
    QString cacheHome() const { return m_cacheHome.isEmpty() ? path() + "/cache" : m_cacheHome; }
    void setCacheHome(const QString &path) { m_cacheHome = path; }
    QString settingsFile() const { return configHome() + "/Velunta/Velunta.conf"; }
    // The environment of this process with the XDG variables and TMPDIR pointed here.
    QProcessEnvironment environment() const;
    // Points this process's own XDG variables here (before first use of QSettings).
    void applyToThisProcess() const;

private:
    QTemporaryDir m_dir;
    QString m_cacheHome;
};

struct ProcessResult {
    int exitCode = -1;
    bool crashed = false;
    bool timedOut = false;
    QByteArray out;
    QByteArray err;
};

// The Velunta program inside the built bundle.
QString appPath();
QString buildDir();
QString sourceDir();

ProcessResult run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
    int timeoutMs = 30000, const QString &workingDirectory = {});

// A desktop tool's trimmed standard output (xdotool, xclip, ffprobe…).
QByteArray tool(const QString &program, const QStringList &arguments);

// What ffprobe says of a recording: the picture's size, the file's and each
// kind of track's length, and how many sound tracks it has.
struct RecordingProbe {
    QSize videoSize;
    double duration = 0;
    double videoDuration = 0;
    double audioDuration = 0;
    int audioStreams = 0;
};
RecordingProbe probeRecording(const QString &path);
// Polls CONDITION every 50 ms for up to MS milliseconds, without an event loop:
// for conditions on other processes.
bool waitFor(const std::function<bool()> &condition, int ms = 10000);

// The real program in its tray run, in HOME, on the test desktop.
class TrayApp {
public:
    explicit TrayApp(const TempHome &home)
        : m_home(home)
    {
    }
    ~TrayApp() { stop(); }
    // Starts it with ARGUMENTS and waits until its single-instance socket
    // listens; false when it did not get there.
    bool start(const QStringList &arguments = {});
    void stop();
    qint64 pid() const { return m_process.processId(); }
    QProcess &process() { return m_process; }
    // Its visible windows whose title matches PATTERN (xdotool's regular
    // expressions: keep patterns ASCII).
    QStringList windowsNamed(const QString &pattern) const;

private:
    const TempHome &m_home;
    QProcess m_process;
};

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes);

} // namespace TestSupport
