#include "AppDelegate.h"

#include "Settings.h"
#include "SingleInstance.h"
#include "updater/UpdateTest.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QCoroTask>
#include <QRegularExpression>
#include <QWindow>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

struct AppDelegate::NormalRun {
    SingleInstance instance;
};

AppDelegate::AppDelegate(QStringList arguments, QString workingDirectory, QObject *parent)
    : QObject(parent)
    , m_arguments(std::move(arguments))
    , m_workingDirectory(std::move(workingDirectory))
    , m_options(LaunchOptions::parse(m_arguments, m_workingDirectory))
{
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::confirmUpdateIfNeeded(const QStringList &arguments, const QString &workingDirectory)
{
    if (auto marker = LaunchOptions::argumentValue(arguments, QStringLiteral("--update-confirm"), workingDirectory)) {
        // Whether this works is not looked at: the helper times out and rolls back.
        const int fd = ::open(QFile::encodeName(*marker).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0)
            ::close(fd);
    }
    const qsizetype at = arguments.indexOf(QStringLiteral("--update-rolled-back"));
    if (at >= 0 && at + 1 < arguments.size()) {
        const QString text = arguments.at(at + 1);
        bool ok = false;
        const qint64 build = text.toLongLong(&ok);
        // Decimal only, with an optional sign: toLongLong alone would take spaces.
        static const QRegularExpression decimal(QStringLiteral("^[+-]?[0-9]+$"));
        if (ok && decimal.match(text).hasMatch())
            Settings::setValue(Settings::Key::skippedUpdateBuild, build);
    }
}

bool AppDelegate::applicationDidFinishLaunching()
{
    using Mode = LaunchOptions::Mode;
    switch (m_options.mode) {
    case Mode::updateReport: {
        const QString report = m_options.path;
        runTool([report]() -> QCoro::Task<void> {
            UpdateTest::writeRunningReport(report);
            co_return;
        });
        return true;
    }
    case Mode::updateTest:
    case Mode::selfTest:
    case Mode::mergeTest:
    case Mode::uiSnapshots:
        runTool([]() -> QCoro::Task<void> {
            std::fputs("Velunta: este modo de diagnóstico ainda não existe nesta versão.\n", stderr);
            co_return;
        });
        return true;
    case Mode::normal:
        return startNormalRun();
    }
    return true;
}

void AppDelegate::runTool(std::function<QCoro::Task<void>()> operation)
{
    // The operation runs inside the event loop, which must be running first.
    QTimer::singleShot(0, this, [operation = std::move(operation)]() {
        [](std::function<QCoro::Task<void>()> op) -> QCoro::Task<void> {
            co_await op();
            QCoreApplication::quit();
        }(operation);
    });
}

bool AppDelegate::startNormalRun()
{
    m_normal = std::make_unique<NormalRun>();
    if (!m_normal->instance.claim())
        return false;
    connect(&m_normal->instance, &SingleInstance::reopenRequested, this, &AppDelegate::applicationShouldHandleReopen);
    return true;
}

void AppDelegate::applicationShouldHandleReopen()
{
    // The windows come with the capture controller; until then a reopen only
    // brings the running instance's windows forward.
    for (QWindow *window : QGuiApplication::topLevelWindows())
        if (window->isVisible())
            window->requestActivate();
}
