#pragma once

#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QThread>

// A PulseAudio server of the test's own: a null sink playing a 440 Hz tone
// (or no output at all), reached at address(). It has no microphone. A test
// may kill it without touching the shared server of the test desktop.
class PrivateSoundServer {
public:
    // FOLDER holds the server's runtime files and its socket.
    explicit PrivateSoundServer(const QString &folder)
        : m_folder(folder)
    {
    }
    ~PrivateSoundServer()
    {
        for (QProcess *process : {&m_keeper, &m_server}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    QString address() const { return "unix:" + m_folder + "/native"; }

    enum class Output { toneOnANullSink, none };

    // Starts it and waits until it answers.
    bool start(Output output = Output::toneOnANullSink)
    {
        QDir().mkpath(m_folder + "/runtime");
        QFile::setPermissions(m_folder + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("PULSE_SERVER");
        env.insert("XDG_RUNTIME_DIR", m_folder + "/runtime");
        env.insert("HOME", m_folder);
        m_server.setProcessEnvironment(env);
        m_server.setStandardOutputFile(m_folder + "/server.log");
        m_server.setStandardErrorFile(m_folder + "/server.log", QIODevice::Append);
        QStringList arguments {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no",
            "--load=module-native-protocol-unix auth-anonymous=1 socket=" + m_folder + "/native"};
        if (output == Output::toneOnANullSink)
            arguments << "--load=module-null-sink sink_name=private_null";
        m_server.start("pulseaudio", arguments);
        if (!m_server.waitForStarted(10000))
            return false;
        if (!TestSupport::waitFor(
                [&] {
                    return TestSupport::tool("pactl", {"-s", address(), "info"}).contains("Server Name");
                },
                20000))
            return false;
        if (output == Output::none)
            return true;
        TestSupport::tool("pactl", {"-s", address(), "set-default-sink", "private_null"});
        // A low-latency reader keeps the null sink pacing like hardware.
        m_keeper.setStandardOutputFile(QProcess::nullDevice());
        m_keeper.setStandardErrorFile(QProcess::nullDevice());
        m_keeper.start("parec", {"--server=" + address(), "--latency-msec=20", "-d", "private_null.monitor"});
        if (!m_keeper.waitForStarted(10000))
            return false;
        if (!TestSupport::waitFor(
                [&] {
                    return !TestSupport::tool("pactl", {"-s", address(), "list", "short", "source-outputs"}).isEmpty();
                },
                10000))
            return false;
        if (TestSupport::tool(
                "pactl", {"-s", address(), "load-module", "module-sine", "sink=private_null", "frequency=440"})
                .isEmpty())
            return false;
        // Measured here: for about two seconds after it starts, the server
        // hands a new record stream its first sound late (1.6 to 1.9 s), and
        // within 20 ms afterwards. Nothing outside tells when that has passed.
        QThread::sleep(3);
        return true;
    }

    // Ends it at once, as a crash would.
    void kill()
    {
        m_server.kill();
        m_server.waitForFinished(10000);
    }

private:
    QString m_folder;
    QProcess m_server;
    QProcess m_keeper;
};
