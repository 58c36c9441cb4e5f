#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace TestSupport {

TempHome::TempHome()
{
    for (const QString &dir : {configHome(), stateHome(), runtimeDir(), tempDir(), path() + "/Pictures"})
        QDir().mkpath(dir);
    QFile::setPermissions(runtimeDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QProcessEnvironment TempHome::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The sound server's socket lives in the real runtime folder: keep it
    // reachable once that folder is swapped for ours.
    const QString pulseSocket = env.value("XDG_RUNTIME_DIR") + "/pulse/native";
    if (!env.contains("PULSE_SERVER") && env.contains("XDG_RUNTIME_DIR") && QFileInfo::exists(pulseSocket))
        env.insert("PULSE_SERVER", "unix:" + pulseSocket);
    env.insert("HOME", path());
    env.insert("XDG_CONFIG_HOME", configHome());
    env.insert("XDG_STATE_HOME", stateHome());
    env.insert("XDG_CACHE_HOME", cacheHome());
    env.insert("XDG_RUNTIME_DIR", runtimeDir());
    env.insert("TMPDIR", tempDir());
    env.insert("XDG_PICTURES_DIR", path() + "/Pictures");
    return env;
}

void TempHome::applyToThisProcess() const
{
    qputenv("HOME", path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
    qputenv("XDG_STATE_HOME", stateHome().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtimeDir().toLocal8Bit());
}

QString appPath()
{
    return qEnvironmentVariable("VELUNTA_APP");
}
QString buildDir()
{
    return qEnvironmentVariable("VELUNTA_BUILD_DIR");
}
QString sourceDir()
{
    return qEnvironmentVariable("VELUNTA_SOURCE_DIR");
}

ProcessResult run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
    int timeoutMs, const QString &workingDirectory)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    ProcessResult result;
    if (!process.waitForStarted(10000)) {
        result.crashed = true;
        return result;
    }
    if (!process.waitForFinished(timeoutMs)) {
        result.timedOut = true;
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitCode();
    result.crashed = result.crashed || process.exitStatus() == QProcess::CrashExit;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QByteArray tool(const QString &program, const QStringList &arguments)
{
    return run(program, arguments, QProcessEnvironment::systemEnvironment(), 10000).out.trimmed();
}

RecordingProbe probeRecording(const QString &path)
{
    const QByteArray json = tool("ffprobe", {"-v", "error", "-show_streams", "-show_format", "-of", "json", path});
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    RecordingProbe result;
    result.duration = root.value("format").toObject().value("duration").toString().toDouble();
    for (const QJsonValue &stream : root.value("streams").toArray()) {
        const QJsonObject s = stream.toObject();
        if (s.value("codec_type") == "video") {
            result.videoSize = QSize(s.value("width").toInt(), s.value("height").toInt());
            result.videoDuration = s.value("duration").toString().toDouble();
        } else if (s.value("codec_type") == "audio") {
            ++result.audioStreams;
            result.audioDuration = s.value("duration").toString().toDouble();
        }
    }
    return result;
}

bool waitFor(const std::function<bool()> &condition, int ms)
{
    for (int waited = 0; waited < ms; waited += 50) {
        if (condition())
            return true;
        QThread::msleep(50);
    }
    return condition();
}

bool TrayApp::start(const QStringList &arguments)
{
    m_process.setProcessEnvironment(m_home.environment());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(appPath(), arguments);
    if (!m_process.waitForStarted())
        return false;
    const bool listening
        = waitFor([&] { return !QDir(m_home.runtimeDir()).entryList({"Velunta-*"}, QDir::System).isEmpty(); });
    // The hot keys are grabbed and the tray icon made right after.
    QThread::msleep(300);
    return listening && m_process.state() == QProcess::Running;
}

void TrayApp::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

QStringList TrayApp::windowsNamed(const QString &pattern) const
{
    const QByteArray out = tool("xdotool",
        {"search", "--all", "--onlyvisible", "--pid", QString::number(m_process.processId()), "--name", pattern});
    return out.isEmpty() ? QStringList() : QString::fromUtf8(out).split('\n');
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

} // namespace TestSupport
