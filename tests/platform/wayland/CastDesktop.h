#pragma once

// The headless desktop of cast-desktop for the whole test program: started
// on first use, its session bus and runtime folder put into this process's
// environment (before anything connects to them), stopped at exit.
#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <cstdlib>
#include <optional>

class CastDesktop {
public:
    // Nullopt with the reason in WHY when the desktop cannot start here.
    static const CastDesktop *get(bool withCompositor, QString *why)
    {
        static std::optional<CastDesktop> desktop;
        static QString failure;
        if (!desktop && failure.isEmpty()) {
            QProcess start;
            QStringList arguments {QStringLiteral("start")};
            if (!withCompositor)
                arguments << QStringLiteral("--no-compositor");
            start.start(script(), arguments);
            start.waitForFinished(60000);
            if (start.exitStatus() != QProcess::NormalExit || start.exitCode() != 0) {
                failure = QStringLiteral("the cast desktop did not start: ")
                    + QString::fromUtf8(start.readAllStandardError()).trimmed();
            } else {
                desktop.emplace();
                const QRegularExpression pair(QStringLiteral("(\\w+)='?([^' \\n]*)'?"));
                for (const QString &line : QString::fromUtf8(start.readAllStandardOutput()).split('\n')) {
                    auto matches = pair.globalMatch(line.mid(line.indexOf(' ') + 1));
                    while (matches.hasNext()) {
                        const auto match = matches.next();
                        qputenv(match.captured(1).toUtf8().constData(), match.captured(2).toUtf8());
                    }
                }
                desktop->state = qEnvironmentVariable("VELUNTA_CAST_STATE");
                std::atexit([] { QProcess::execute(script(), {QStringLiteral("stop"), desktop->state}); });
            }
        }
        if (why)
            *why = failure;
        return desktop ? &*desktop : nullptr;
    }

    static QString script()
    {
        return qEnvironmentVariable("VELUNTA_SOURCE_DIR") + QStringLiteral("/tests/platform/wayland/cast-desktop");
    }

    QString state;
};
