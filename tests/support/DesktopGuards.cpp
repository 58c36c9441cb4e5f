#include "support/DesktopGuards.h"
#include "support/EventLoopWait.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <iostream>

namespace TestSupport {

QString CompositingManagerRun::unavailable()
{
    return QStandardPaths::findExecutable(QStringLiteral("xcompmgr")).isEmpty() ? QStringLiteral("needs xcompmgr")
                                                                                : QString();
}

bool CompositingManagerRun::start(const std::function<bool()> &running)
{
    m_running = running;
    m_process.start(QStringLiteral("xcompmgr"), {});
    if (!m_process.waitForStarted(5000))
        return false;
    if (m_running)
        return waitUntil(m_running, 10000);
    // Without a way to ask, give it the moment it takes to redirect windows.
    spin(500);
    return m_process.state() == QProcess::Running;
}

void CompositingManagerRun::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished();
    if (m_running)
        waitUntil([this] { return !m_running(); }, 10000);
}

DualDesktopRun runOnDualDesktop(
    const QString &program, const QStringList &arguments, int timeoutMs, const QProcessEnvironment &base)
{
    DualDesktopRun run;
    const QString source = sourceDir();
    if (source.isEmpty() || program.isEmpty()) {
        run.skipped = QStringLiteral("run through ctest");
        return run;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("Xorg")).isEmpty()) {
        run.skipped = QStringLiteral("needs Xorg with the dummy driver");
        return run;
    }
    const QString script = source + QStringLiteral("/scripts/test-desktop");
    const auto started
        = TestSupport::run(script, {QStringLiteral("start"), QStringLiteral("--dual"), QStringLiteral("--no-tray")},
            QProcessEnvironment::systemEnvironment(), 60000);
    EXPECT_EQ(started.exitCode, 0) << started.err.toStdString();
    // "export NAME=value" lines.
    QProcessEnvironment environment = base;
    const QRegularExpression line(QStringLiteral(R"(^export (\w+)=(.*)$)"), QRegularExpression::MultilineOption);
    for (auto match = line.globalMatch(QString::fromUtf8(started.out)); match.hasNext();) {
        const auto found = match.next();
        environment.insert(found.captured(1), found.captured(2));
    }
    const QString state = environment.value(QStringLiteral("VELUNTA_DESKTOP_STATE"));
    EXPECT_FALSE(state.isEmpty()) << "the two-screen desktop did not start";
    if (started.exitCode != 0 || state.isEmpty())
        return run;
    run.result = TestSupport::run(program, arguments, environment, timeoutMs);
    TestSupport::run(script, {QStringLiteral("stop"), state}, QProcessEnvironment::systemEnvironment(), 30000);
    return run;
}

void expectCleanExit(const ProcessResult &result)
{
    std::cout << result.out.toStdString() << result.err.toStdString();
    EXPECT_FALSE(result.timedOut);
    EXPECT_FALSE(result.crashed);
    EXPECT_EQ(result.exitCode, 0);
}

} // namespace TestSupport
