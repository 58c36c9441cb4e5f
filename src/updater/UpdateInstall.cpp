#include "UpdateEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

// Handing a prepared update over to the helper program, and clearing away
// work folders.
namespace UpdateEngine {

namespace {

const QString helperName = QStringLiteral("VeluntaUpdateHelper");

// Lets the owner into every folder of the tree again, without following
// links, so that their entries can be removed.
void openUpForRemoval(const QByteArray &folder, int depth)
{
    struct stat st;
    if (depth > 256 || ::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    if ((st.st_mode & 0700) != 0700)
        ::chmod(folder.constData(), (st.st_mode & 07777) | 0700);
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(folder.constData()), &::closedir);
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        if (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN)
            openUpForRemoval(folder + '/' + entry->d_name, depth + 1);
    }
}

} // namespace

bool removeTree(const QString &path)
{
    if (path.isEmpty())
        return true;
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return errno == ENOENT;
    std::error_code error;
    if (!S_ISDIR(st.st_mode))
        return std::filesystem::remove(native.toStdString(), error);
    // Read-only folders (an archive may hold them) refuse to give up their
    // entries, even to their owner; root alone would not notice.
    openUpForRemoval(native, 0);
    std::filesystem::remove_all(native.toStdString(), error);
    return !error;
}

bool canInstallInPlace()
{
    return canInstallInPlace(Bundle::main().path());
}

bool canInstallInPlace(const QString &bundlePath)
{
    if (bundlePath.isEmpty() || bundlePath.contains(QLatin1String("/AppTranslocation/")))
        return false;
    auto writable = [](const QString &path) {
        return ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), W_OK, AT_EACCESS) == 0;
    };
    return writable(bundlePath) && writable(QFileInfo(bundlePath).absolutePath());
}

QStringList installerArguments(const PreparedUpdate &update, qint64 pid, const QString &target, int confirmTimeout,
    const QStringList &relaunchArguments)
{
    return QStringList {QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--new"),
               update.appURL.toLocalFile(), QStringLiteral("--target"), target, QStringLiteral("--work"),
               update.workFolder.toLocalFile(), QStringLiteral("--build"), QString::number(update.build),
               QStringLiteral("--timeout"), QString::number(confirmTimeout), QStringLiteral("--")}
    + relaunchArguments;
}

Result<Done, UpdateError> launchInstaller(
    const PreparedUpdate &update, int confirmTimeout, const QStringList &relaunchArguments, const Bundle &running)
{
    using Outcome = Result<Done, UpdateError>;
    // No caller can use a prepared update again once its hand-off failed, so
    // a failure takes the work folder with it rather than leaving a whole
    // bundle behind in the temporary folder.
    auto failed = [&](UpdateError error) {
        removeTree(update.workFolder.toLocalFile());
        return Outcome::failure(std::move(error));
    };
    const QFileInfo helper(running.helperPath());
    if (!running.isValid() || !helper.isFile() || !helper.isExecutable())
        return failed(UpdateError::installerMissing);

    // The helper must not run from inside the bundle it is about to replace.
    const QString copy = update.workFolder.toLocalFile() + QLatin1Char('/') + helperName;
    QFile::remove(copy);
    QFile source(helper.filePath());
    if (!source.copy(copy))
        return failed(UpdateError(UpdateError::platform, copy + QStringLiteral(": ") + source.errorString()));
    QFile::setPermissions(copy, QFile::permissions(copy) | QFileDevice::ExeOwner | QFileDevice::ReadOwner);

    QProcess process;
    process.setProgram(copy);
    process.setArguments(installerArguments(
        update, QCoreApplication::applicationPid(), running.path(), confirmTimeout, relaunchArguments));
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setWorkingDirectory(QDir::homePath());
    if (!process.startDetached())
        return failed(UpdateError(UpdateError::platform, copy + QStringLiteral(": ") + process.errorString()));
    return Done {};
}

void cancelInstaller(const PreparedUpdate &update)
{
    // The helper is not our child (it is started detached): find it by the
    // program it runs, the copy in this update's work folder.
    const QString work = update.workFolder.toLocalFile();
    const QString real = QFileInfo(work).canonicalFilePath();
    const QByteArray program
        = QFile::encodeName((real.isEmpty() ? QDir::cleanPath(work) : real) + QLatin1Char('/') + helperName);
    std::unique_ptr<DIR, int (*)(DIR *)> proc(::opendir("/proc"), &::closedir);
    if (!proc)
        return;
    while (const dirent *entry = ::readdir(proc.get())) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        QByteArray exe(PATH_MAX, Qt::Uninitialized);
        const QByteArray link = QByteArrayLiteral("/proc/") + entry->d_name + "/exe";
        const ssize_t n = ::readlink(link.constData(), exe.data(), size_t(exe.size()));
        if (n > 0 && QByteArray(exe.constData(), qsizetype(n)) == program)
            ::kill(pid_t(pid), SIGKILL);
    }
}

} // namespace UpdateEngine
