#include "HelperFixture.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

void writeText(const QString &path, const QString &text, QFile::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(text.toUtf8());
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

QString plist(int build)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\">\n<dict>\n"
                          "\t<key>CFBundleIdentifier</key>\n\t<string>app.velunta.Velunta</string>\n"
                          "\t<key>CFBundleExecutable</key>\n\t<string>Velunta</string>\n"
                          "\t<key>CFBundleVersion</key>\n\t<string>%1</string>\n"
                          "</dict>\n</plist>\n")
        .arg(build);
}

// Writes "$@" one per line, atomically, so a reader never sees half of it.
QString recordArguments(const QString &file)
{
    return QStringLiteral("printf '%s\\n' \"$@\" > '%1.tmp' && mv '%1.tmp' '%1'\n").arg(file);
}

const auto executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
    | QFile::ReadOther | QFile::ExeOther;

} // namespace

HelperFixture::HelperFixture()
{
    QDir().mkpath(out());
    QDir().mkpath(root() + "/state");
    QDir().mkpath(home());
    makeBundle(target(), 1, recordArguments(out() + "/old-args"));
    writeText(work() + "/VeluntaUpdateHelper", "stands in for the helper's own copy\n");
}

HelperFixture::~HelperFixture()
{
    // A version that was meant to be killed must not outlive a failed test.
    if (const pid_t pid = newVersionPid(); pid > 0 && !processHasEnded(pid))
        ::kill(pid, SIGKILL);
}

pid_t HelperFixture::newVersionPid() const
{
    QFile file(out() + "/new-pid");
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
}

void HelperFixture::makeBundle(const QString &bundle, int build, const QString &script)
{
    writeText(bundle + "/Contents/Info.plist", plist(build));
    writeText(bundle + "/Contents/MacOS/Velunta", "#!/bin/sh\n" + script, executable);
}

void HelperFixture::makeNewVersion(NewVersion behaviour)
{
    QString script;
    if (behaviour == NewVersion::Confirms) {
        script = QStringLiteral("[ \"$1\" = --update-confirm ] && : > \"$2\"\n"
                                "[ -e '%1/old-exited' ] && : > '%1/saw-old-exit'\n")
                     .arg(out())
            + recordArguments(out() + "/new-args");
    } else {
        // The shell itself keeps running, so its command line names the bundle.
        script = QStringLiteral("echo $$ > '%1/new-pid.tmp' && mv '%1/new-pid.tmp' '%1/new-pid'\n").arg(out())
            + recordArguments(out() + "/new-args") + "while :; do sleep 0.1; done\n";
        if (behaviour == NewVersion::HangsIgnoringTerm)
            script.prepend("trap '' TERM\n");
    }
    makeBundle(newBundle(), 2, script);
}

QStringList HelperFixture::arguments(pid_t pid, int timeoutSeconds, const QStringList &relaunch) const
{
    return QStringList {"--pid", QString::number(pid), "--new", newBundle(), "--target", target(), "--work", work(),
               "--build", "2", "--timeout", QString::number(timeoutSeconds), "--"}
    + relaunch;
}

HelperFixture::Run HelperFixture::runHelper(
    const QStringList &arguments, int failExchangeCall, int timeoutSeconds, const QStringList &extra)
{
    Run run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = startHelper(arguments, failExchangeCall, extra);
    if (pid <= 0)
        return run;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(timeoutSeconds)) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the helper did not end within " << timeoutSeconds << " s";
            return run;
        }
        QThread::msleep(20);
    }
    run.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

pid_t HelperFixture::startHelper(const QStringList &arguments, int failExchangeCall, const QStringList &extra)
{
    const std::string program = qEnvironmentVariable("VELUNTA_HELPER").toStdString();
    std::vector<std::string> args {program};
    for (const QString &argument : arguments)
        args.push_back(argument.toStdString());
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        if (!entry.starts_with("XDG_STATE_HOME=") && !entry.starts_with("HOME=") && !entry.starts_with("LD_PRELOAD=")
            && !entry.starts_with("ASAN_OPTIONS="))
            env.push_back(entry);
    }
    // A sanitized helper insists on its runtime coming first, before the shim.
    env.push_back("ASAN_OPTIONS=detect_leaks=0:verify_asan_link_order=0");
    env.push_back("XDG_STATE_HOME=" + (root() + "/state").toStdString());
    env.push_back("HOME=" + home().toStdString());
    if (failExchangeCall > 0) {
        env.push_back("LD_PRELOAD=" + qEnvironmentVariable("VELUNTA_FAIL_EXCHANGE_SHIM").toStdString());
        env.push_back("VELUNTA_FAIL_EXCHANGE_CALL=" + std::to_string(failExchangeCall));
    }
    for (const QString &entry : extra)
        env.push_back(entry.toStdString());
    auto pointers = [](std::vector<std::string> &list) {
        std::vector<char *> p;
        for (std::string &s : list)
            p.push_back(s.data());
        p.push_back(nullptr);
        return p;
    };
    std::vector<char *> argv = pointers(args);
    std::vector<char *> envp = pointers(env);

    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
        ADD_FAILURE() << "cannot start " << program;
        return 0;
    }
    return pid;
}

pid_t HelperFixture::startOldApp(double seconds)
{
    const std::string script = QStringLiteral("sleep %1; : > '%2/old-exited'").arg(seconds).arg(out()).toStdString();
    const char *argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
    // A group of its own, so that stopOldApp() also ends the shell's sleep,
    // and no standard streams that would keep the test runner's pipes open.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char **>(argv), environ) != 0)
        ADD_FAILURE() << "cannot start the stand-in application";
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

void HelperFixture::stopOldApp(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

void HelperFixture::reap(pid_t pid)
{
    if (pid > 0)
        waitpid(pid, nullptr, 0);
}

int HelperFixture::buildOf(const QString &bundle)
{
    QFile file(bundle + "/Contents/Info.plist");
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const auto match = QRegularExpression("<key>CFBundleVersion</key>\\s*<string>(\\d+)</string>")
                           .match(QString::fromUtf8(file.readAll()));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QStringList HelperFixture::stagedCopies() const
{
    return QDir(applications()).entryList({".Velunta-update-*"}, QDir::AllEntries | QDir::Hidden | QDir::System);
}

QStringList HelperFixture::logLines() const
{
    QFile file(logFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

std::optional<QStringList> HelperFixture::launchedArguments(const QString &which, int waitMs) const
{
    const QString path = out() + "/" + which + "-args";
    for (int waited = 0;; waited += 20) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
            lines.removeLast(); // after the final line feed
            return lines;
        }
        if (waited >= waitMs)
            return std::nullopt;
        QThread::msleep(20);
    }
}

bool HelperFixture::processHasEnded(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return true;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const auto close = line.lastIndexOf(')');
    return close >= 0 && close + 2 < line.size() && line.at(close + 2) == 'Z';
}
