#pragma once

#include "core/LaunchOptions.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

namespace QCoro {
template <typename T> class Task;
}

// The start-up sequence: confirm a fresh update, then either one diagnostic
// run that ends the process by itself, or the normal tray run.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    AppDelegate(QStringList arguments, QString workingDirectory, QObject *parent = nullptr);
    ~AppDelegate() override;

    // The new version's proof of start for the update helper, and the note of
    // a rolled-back build. Runs before anything else, in every mode.
    static void confirmUpdateIfNeeded(const QStringList &arguments, const QString &workingDirectory);

    // Called once the application object exists. Returns false when the
    // process should end at once (another instance took the reopen request).
    bool applicationDidFinishLaunching();

    // A second launch of the normal run arrived.
    void applicationShouldHandleReopen();
    // A launch asked for a capture, as its hot key would.
    void performAction(LaunchOptions::Action action);

    const LaunchOptions &options() const { return m_options; }

private:
    void runTool(std::function<QCoro::Task<void>()> operation);
    bool startNormalRun();

    QStringList m_arguments;
    QString m_workingDirectory;
    LaunchOptions m_options;
    struct NormalRun;
    std::unique_ptr<NormalRun> m_normal;
};
