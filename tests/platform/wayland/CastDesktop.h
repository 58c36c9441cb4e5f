#pragma once

// The Wayland test desktop (scripts/test-desktop start --wayland: a private
// session bus, PipeWire, WirePlumber, headless mutter and the test portal
// with its ScreenCast) for the whole test program. Used as it is when the
// program already runs on one; else started on first use, its exports put
// into this process's environment before anything connects, stopped at exit.
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <cstdlib>

class CastDesktop {
public:
    // False with the reason in WHY when the desktop cannot start here.
    static bool get(QString *why)
    {
        static bool started = false;
        static QString failure;
        static QString state;
        if (!started && failure.isEmpty()) {
            if (qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")
                && !qEnvironmentVariableIsEmpty("VELUNTA_DESKTOP_STATE")) {
                started = true;
            } else {
                QProcess start;
                start.start(script(), {QStringLiteral("start"), QStringLiteral("--wayland")});
                start.waitForFinished(90000);
                if (start.exitStatus() != QProcess::NormalExit || start.exitCode() != 0) {
                    failure = QStringLiteral("the Wayland test desktop did not start: ")
                        + QString::fromUtf8(start.readAllStandardError()).trimmed();
                } else {
                    started = true;
                    const QRegularExpression assignment(QStringLiteral("^export (\\w+)=(.*)$"));
                    for (const QString &line : QString::fromUtf8(start.readAllStandardOutput()).split('\n')) {
                        const auto match = assignment.match(line.trimmed());
                        if (match.hasMatch())
                            qputenv(match.captured(1).toUtf8().constData(), match.captured(2).toUtf8());
                    }
                    state = qEnvironmentVariable("VELUNTA_DESKTOP_STATE");
                    std::atexit([] { QProcess::execute(script(), {QStringLiteral("stop"), state}); });
                }
            }
        }
        if (why)
            *why = failure;
        return started;
    }

    static QString script()
    {
        return qEnvironmentVariable("VELUNTA_SOURCE_DIR") + QStringLiteral("/scripts/test-desktop");
    }
};
