#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

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
    QString settingsFile() const { return configHome() + "/Velunta/Velunta.conf"; }
    // The environment of this process with the XDG variables pointed here.
    QProcessEnvironment environment() const;
    // Points this process's own XDG variables here (before first use of QSettings).
    void applyToThisProcess() const;

private:
    QTemporaryDir m_dir;
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

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes);

} // namespace TestSupport
