#include "UpdateEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

// Unpacking an update's zip archive, refusing anything that could write
// outside the folder it is unpacked into.
namespace UpdateEngine {

namespace {

QString canonicalPath(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

// libarchive owners.
struct ReadArchiveFree {
    void operator()(archive *a) const { archive_read_free(a); }
};
struct WriteArchiveFree {
    void operator()(archive *a) const { archive_write_free(a); }
};

// A path inside the archive that stays inside the folder it is extracted to:
// relative, and without ".." anywhere.
bool isContainedPath(const QString &path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".."));
}

// A link's target, read from the folder that holds the link, must not leave
// the extraction folder.
bool isContainedLink(const QString &entryPath, const QString &target)
{
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')))
        return false;
    // ".." only before the first name: a name can be a link itself, and
    // "up/../.." with up -> ".." climbs out of the folder however tidy its
    // letters look.
    bool named = false;
    for (const QString &part : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) {
            if (named)
                return false;
        } else if (part != QLatin1String(".")) {
            named = true;
        }
    }
    const QString parent = QFileInfo(entryPath).path();
    const QString resolved
        = QDir::cleanPath((parent == QLatin1String(".") ? QString() : parent + QLatin1Char('/')) + target);
    return resolved != QLatin1String("..") && !resolved.startsWith(QLatin1String("../"))
        && !resolved.startsWith(QLatin1Char('/'));
}

// Where the link at RELATIVE (a path inside BASE) really leads, following
// the links it runs through as the kernel would, and whether that stays inside
// BASE. A text check of each target alone is not enough: "a/l2 -> .." is
// harmless by itself, yet "a/l1 -> l2/../x" climbs one level more through it.
// Components that do not exist are taken as text, which can only be stricter
// than the kernel, which would stop there.
bool linkStaysInside(const QByteArray &base, const QByteArray &relative)
{
    constexpr int maximumHops = 40; // as the kernel's own limit on link chains
    QList<QByteArray> resolved = relative.split('/');
    resolved.removeLast(); // the link itself; its target is read from its folder
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const auto readLink = [&](const QByteArray &path) -> std::optional<QByteArray> {
        const ssize_t n = ::readlink(path.constData(), target.data(), size_t(target.size()));
        if (n < 0 || n >= ssize_t(target.size()))
            return std::nullopt;
        return QByteArray(target.constData(), qsizetype(n));
    };
    const auto first = readLink(base + '/' + relative);
    if (!first || first->isEmpty() || first->startsWith('/'))
        return false;
    QList<QByteArray> pending = first->split('/');
    int hops = 0;
    while (!pending.isEmpty()) {
        const QByteArray part = pending.takeFirst();
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (resolved.isEmpty())
                return false;
            resolved.removeLast();
            continue;
        }
        resolved.append(part);
        const QByteArray path = base + '/' + resolved.join('/');
        struct stat st;
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            continue;
        const auto next = readLink(path);
        if (!next || next->isEmpty() || next->startsWith('/') || ++hops > maximumHops)
            return false;
        resolved.removeLast();
        pending = next->split('/') + pending;
    }
    return true;
}

// Every link under BASE, judged once all of them exist: a link extracted
// early may only lead out through one that comes later in the archive.
bool linksStayInside(const QString &base)
{
    namespace fs = std::filesystem;
    const QByteArray nativeBase = QFile::encodeName(base);
    std::error_code error;
    fs::recursive_directory_iterator it(nativeBase.toStdString(), fs::directory_options::none, error);
    for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
        if (!it->is_symlink(error))
            continue;
        const QByteArray relative
            = QByteArray::fromStdString(it->path().lexically_relative(nativeBase.toStdString()).string());
        if (!linkStaysInside(nativeBase, relative))
            return false;
    }
    return !error;
}

// An update installs with the same modes wherever and by whomever it was
// packed: folders and programs 0755, everything else 0644. No write bit for
// group or others, no setuid, setgid or sticky bit ever reaches the disk.
mode_t normalMode(archive_entry *entry)
{
    const auto type = archive_entry_filetype(entry);
    if (type == AE_IFDIR || (archive_entry_perm(entry) & 0111) != 0)
        return 0755;
    return 0644;
}

// Writing failures that are about this machine, not about the package.
UpdateError writeFailure(archive *out)
{
    const int error = archive_errno(out);
    if (error == ENOSPC || error == EDQUOT || error == EIO || error == EROFS || error == EMFILE || error == ENFILE)
        return UpdateError::fromErrno(error);
    return UpdateError(UpdateError::invalidPackage);
}

Result<Done, UpdateError> extractArchive(const QString &archivePath, const QString &folder)
{
    using Outcome = Result<Done, UpdateError>;
    const QString base = canonicalPath(folder);
    std::unique_ptr<archive, ReadArchiveFree> in(archive_read_new());
    archive_read_support_format_zip(in.get());
    if (archive_read_open_filename(in.get(), QFile::encodeName(archivePath).constData(), 64 * 1024) != ARCHIVE_OK)
        return Outcome::failure(UpdateError::invalidPackage);

    // No absolute-path flag: every name gets the folder prefixed below, after
    // it has been checked on its own.
    std::unique_ptr<archive, WriteArchiveFree> out(archive_write_disk_new());
    archive_write_disk_set_options(out.get(),
        ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT
            | ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    archive_write_disk_set_standard_lookup(out.get());

    for (;;) {
        archive_entry *entry = nullptr;
        const int r = archive_read_next_header(in.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return Outcome::failure(UpdateError::invalidPackage);
        const char *rawName = archive_entry_pathname(entry);
        if (!rawName)
            return Outcome::failure(UpdateError::invalidPackage);
        QString name = QFile::decodeName(rawName);
        while (name.startsWith(QLatin1String("./")))
            name.remove(0, 2);
        if (name.endsWith(QLatin1Char('/')))
            name.chop(1);
        if (!isContainedPath(name))
            return Outcome::failure(UpdateError::invalidPackage);

        switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
        case AE_IFDIR:
            break;
        case AE_IFLNK: {
            const char *target = archive_entry_symlink(entry);
            if (!target || !isContainedLink(name, QFile::decodeName(target)))
                return Outcome::failure(UpdateError::invalidPackage);
            break;
        }
        default: // devices, pipes, sockets
            return Outcome::failure(UpdateError::invalidPackage);
        }
        if (const char *hardlink = archive_entry_hardlink(entry)) {
            const QString target = QFile::decodeName(hardlink);
            if (!isContainedPath(target))
                return Outcome::failure(UpdateError::invalidPackage);
            archive_entry_copy_hardlink(entry, QFile::encodeName(base + QLatin1Char('/') + target).constData());
        }
        archive_entry_set_perm(entry, normalMode(entry));
        archive_entry_copy_pathname(entry, QFile::encodeName(base + QLatin1Char('/') + name).constData());

        if (archive_write_header(out.get(), entry) < ARCHIVE_WARN)
            return Outcome::failure(writeFailure(out.get()));
        for (;;) {
            const void *block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            const int rd = archive_read_data_block(in.get(), &block, &size, &offset);
            if (rd == ARCHIVE_EOF)
                break;
            if (rd < ARCHIVE_WARN)
                return Outcome::failure(UpdateError::invalidPackage);
            if (archive_write_data_block(out.get(), block, size, offset) < ARCHIVE_WARN)
                return Outcome::failure(writeFailure(out.get()));
        }
        if (archive_write_finish_entry(out.get()) < ARCHIVE_WARN)
            return Outcome::failure(writeFailure(out.get()));
    }
    if (archive_write_close(out.get()) < ARCHIVE_WARN)
        return Outcome::failure(writeFailure(out.get()));
    if (!linksStayInside(base))
        return Outcome::failure(UpdateError::invalidPackage);
    return Done {};
}

} // namespace

Result<QString, UpdateError> extractApp(const QString &archive, const QString &folder)
{
    using Outcome = Result<QString, UpdateError>;
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
    if (error)
        return Outcome::failure(UpdateError(
            UpdateError::platform, folder + QStringLiteral(": ") + QString::fromStdString(error.message())));
    if (auto done = extractArchive(archive, folder); !done)
        return Outcome::failure(done.error());

    QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    entries.removeAll(QStringLiteral("__MACOSX"));
    if (entries.size() != 1 || !entries.first().endsWith(QLatin1String(".app")) || entries.first().size() <= 4)
        return Outcome::failure(UpdateError::invalidPackage);
    // The bundle itself, not a link that makes something else look like one.
    const QFileInfo app(QDir(folder).absoluteFilePath(entries.first()));
    if (app.isSymLink() || !app.isDir())
        return Outcome::failure(UpdateError::invalidPackage);
    return app.filePath();
}

} // namespace UpdateEngine
