#include "UpdateEngine.h"

#include "CodeSignature.h"
#include "UpdateCrypto.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QThreadPool>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <gnu/libc-version.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace UpdateEngine {

namespace {

constexpr int manifestTimeoutMs = 30 * 1000;
constexpr int downloadIdleTimeoutMs = 60 * 1000;
constexpr int downloadTimeoutMs = 3600 * 1000;
constexpr qint64 hashChunk = 1024 * 1024;

const QString archiveName = QStringLiteral("update.zip");
const QString appFolderName = QStringLiteral("app");
const QString helperName = QStringLiteral("VeluntaUpdateHelper");

UpdateError systemError(int error)
{
    return UpdateError(UpdateError::platform, QString::fromLocal8Bit(strerror(error)));
}

UpdateError fileError(const QString &path, int error)
{
    return UpdateError(UpdateError::platform, path + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(error)));
}

// No cache of any kind: every check must see what the server publishes now.
QNetworkRequest freshRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    return request;
}

std::optional<int> httpStatus(QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return std::nullopt;
    return status.toInt();
}

// Every hop of a redirect passes the same gate as the first address.
void guardRedirects(QNetworkReply *reply, const UpdateConfig &config, const std::shared_ptr<bool> &refused)
{
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, config, refused](const QUrl &next) {
        // An absolute Location is judged as the server wrote it; a relative
        // one keeps the scheme and host that already passed.
        QString written = QString::fromUtf8(reply->rawHeader("Location")).trimmed();
        if (written.startsWith(QLatin1String("//")))
            written.prepend(next.scheme() + QLatin1Char(':'));
        const bool relative = QUrl(written).isRelative();
        if (config.isAllowed(next) && (relative || config.isAllowed(written))) {
            emit reply->redirectAllowed();
        } else {
            *refused = true;
            reply->abort();
        }
    });
}

struct DeleteLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};

// Receives one archive download on the download's own thread and streams it
// to disk, cutting the transfer off at the first byte beyond the announced size.
class DownloadDelegate {
public:
    DownloadDelegate(QString destination, qint64 maxBytes, ProgressCallback onProgress)
        : destination(std::move(destination))
        , maxBytes(maxBytes)
        , onProgress(std::move(onProgress))
        , m_file(this->destination)
    {
    }

    const QString destination;
    const qint64 maxBytes;
    const ProgressCallback onProgress;
    std::optional<UpdateError> failure;

    bool open()
    {
        // Unbuffered, so that a full disk shows up at the write that hit it.
        if (m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            return true;
        failure = UpdateError(UpdateError::platform, destination + QStringLiteral(": ") + m_file.errorString());
        return false;
    }

    void bytesArrived(QNetworkReply *reply)
    {
        if (failure) {
            reply->readAll();
            return;
        }
        // An error page is read and dropped rather than aborted: aborting
        // while Qt still delivers the server's error trips its reply state.
        if (const auto status = httpStatus(reply); status && *status != 200) {
            failure = UpdateError(UpdateError::server, *status);
            reply->readAll();
            return;
        }
        const QByteArray bytes = reply->readAll();
        m_written += bytes.size();
        if (m_written > maxBytes) {
            fail(reply, UpdateError::wrongSize);
            return;
        }
        if (m_file.write(bytes) != bytes.size()) {
            fail(reply, UpdateError(UpdateError::platform, destination + QStringLiteral(": ") + m_file.errorString()));
            return;
        }
        if (maxBytes >= 1 && onProgress)
            onProgress(double(m_written) / double(maxBytes));
    }

    void fail(QNetworkReply *reply, UpdateError error)
    {
        failure = std::move(error);
        reply->abort();
    }

    // The outcome once the transfer has ended, with or without an error.
    Result<Done, UpdateError> completed(QNetworkReply *reply, bool redirectRefused, bool timedOut)
    {
        using Outcome = Result<Done, UpdateError>;
        if (!failure && !m_file.flush())
            failure = UpdateError(UpdateError::platform, destination + QStringLiteral(": ") + m_file.errorString());
        m_file.close();
        if (failure)
            return Outcome::failure(*failure);
        if (redirectRefused)
            return Outcome::failure(UpdateError::insecureURL);
        if (const auto status = httpStatus(reply); status && *status != 200)
            return Outcome::failure(UpdateError(UpdateError::server, *status));
        if (timedOut)
            return Outcome::failure(systemError(ETIMEDOUT));
        if (reply->error() != QNetworkReply::NoError)
            return Outcome::failure(UpdateError(UpdateError::platform, reply->errorString()));
        return Done {};
    }

private:
    QFile m_file;
    qint64 m_written = 0;
};

// Runs on a pool thread with its own event loop: one download on a network
// session of its own, gone when the function returns.
Result<Done, UpdateError> download(const QUrl &url, const QString &destination, qint64 maxBytes,
    const ProgressCallback &onProgress, const UpdateConfig &config)
{
    // A download can take long; let the pool start another thread meanwhile.
    QThreadPool::globalInstance()->releaseThread();
    struct Reserve {
        ~Reserve() { QThreadPool::globalInstance()->reserveThread(); }
    } reserve;

    DownloadDelegate delegate(destination, maxBytes, onProgress);
    if (!delegate.open())
        return Result<Done, UpdateError>::failure(*delegate.failure);

    QEventLoop loop;
    QNetworkAccessManager network;
    network.setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkRequest request = freshRequest(url);
    request.setTransferTimeout(downloadIdleTimeoutMs);
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    // Bytes go to disk as they come, a chunk at most held in memory.
    reply->setReadBufferSize(hashChunk);

    auto redirectRefused = std::make_shared<bool>(false);
    guardRedirects(reply.get(), config, redirectRefused);
    QObject::connect(reply.get(), &QNetworkReply::readyRead, reply.get(),
        [&delegate, r = reply.get()] { delegate.bytesArrived(r); });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    bool timedOut = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply.get(), [&timedOut, r = reply.get()] {
        timedOut = true;
        r->abort();
    });
    deadline.start(downloadTimeoutMs);
    if (!reply->isFinished())
        loop.exec();
    if (!delegate.failure && reply->bytesAvailable() > 0)
        delegate.bytesArrived(reply.get());
    return delegate.completed(reply.get(), *redirectRefused, timedOut);
}

Result<Done, UpdateError> createWorkFolder(const QString &path)
{
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(QFileInfo(path).path()).toStdString(), error);
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0)
        return Result<Done, UpdateError>::failure(fileError(path, errno));
    return Done {};
}

QString canonicalPath(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

// What the bundle says about itself, when the value has the right type.
std::optional<QString> stringValue(const QVariantMap &info, const QString &key)
{
    const QVariant value = info.value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

// The whole preparation in WORK, which it creates; blocking, so it runs on
// the pool. Whatever fails after the folder exists takes the folder with it.
Result<PreparedUpdate, UpdateError> prepareIn(const QString &work, const UpdateManifest &manifest,
    const UpdateConfig &config, const ProgressCallback &onProgress, const Bundle &running)
{
    using Outcome = Result<PreparedUpdate, UpdateError>;
    if (auto created = createWorkFolder(work); !created)
        return Outcome::failure(created.error());
    auto fail = [&](const UpdateError &error) {
        removeTree(work);
        return Outcome::failure(error);
    };
    const QString archive = work + QLatin1Char('/') + archiveName;
    if (auto done = download(QUrl(manifest.url, QUrl::StrictMode), archive, manifest.size, onProgress, config); !done)
        return fail(done.error());
    if (auto done = verifyPackage(archive, manifest, config.publicKey); !done)
        return fail(done.error());
    const auto app = extractApp(archive, work + QLatin1Char('/') + appFolderName);
    if (!app)
        return fail(app.error());
    if (auto done = verifyApp(*app, manifest, running); !done)
        return fail(done.error());
    QFile::remove(archive);
    return PreparedUpdate {manifest.build, QUrl::fromLocalFile(*app), QUrl::fromLocalFile(work)};
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
        return systemError(error);
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

namespace {

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

QString decisionName(Decision decision)
{
    switch (decision) {
    case Decision::offer:
        return QStringLiteral("offer");
    case Decision::upToDate:
        return QStringLiteral("upToDate");
    case Decision::paused:
        return QStringLiteral("paused");
    case Decision::outsideRollout:
        return QStringLiteral("outsideRollout");
    case Decision::skipped:
        return QStringLiteral("skipped");
    case Decision::systemTooOld:
        return QStringLiteral("systemTooOld");
    }
    return {};
}

std::optional<qint64> parseInteger(const QString &text)
{
    qsizetype i = 0;
    if (text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-')))
        i = 1;
    if (i == text.size())
        return std::nullopt;
    for (qsizetype j = i; j < text.size(); ++j) {
        if (text[j] < QLatin1Char('0') || text[j] > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

qint64 currentBuild()
{
    const QVariant value = Bundle::main().info(QStringLiteral("CFBundleVersion"));
    if (value.typeId() == QMetaType::QString)
        return parseInteger(value.toString()).value_or(0);
    return 0;
}

QString currentVersion()
{
    return stringValue(Bundle::main().infoDictionary(), QStringLiteral("CFBundleShortVersionString"))
        .value_or(QStringLiteral("?"));
}

SystemVersion systemVersion()
{
    const QStringList parts = QString::fromLatin1(gnu_get_libc_version()).split(QLatin1Char('.'));
    return {parts.size() > 0 ? parseInteger(parts[0]).value_or(0) : 0,
        parts.size() > 1 ? parseInteger(parts[1]).value_or(0) : 0, 0};
}

bool systemSatisfies(const QString &minimum, SystemVersion system)
{
    qint64 numbers[3] = {0, 0, 0};
    int count = 0;
    for (const QString &piece : minimum.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        if (count == 3)
            break;
        numbers[count++] = parseInteger(piece).value_or(0);
    }
    return system >= SystemVersion {numbers[0], numbers[1], numbers[2]};
}

Decision decide(const UpdateManifest &manifest, qint64 currentBuild, int bucket, qint64 skippedBuild,
    SystemVersion system, bool isManual)
{
    if (manifest.build <= currentBuild)
        return Decision::upToDate;
    if (manifest.paused.value_or(false))
        return Decision::paused;
    if (!systemSatisfies(manifest.minimumSystem, system))
        return Decision::systemTooOld;
    if (!isManual) {
        if (manifest.build == skippedBuild)
            return Decision::skipped;
        if (bucket >= manifest.rollout.value_or(100))
            return Decision::outsideRollout;
    }
    return Decision::offer;
}

// g++ 12 destroys some temporaries of a co_await expression twice (a lambda
// with captures handed to QtConcurrent::run inside the co_await freed its
// captures twice here). So nothing with a destructor is created inside a
// co_await: futures are named first, and the public operations are plain
// functions that hand named values to the coroutines.
static QCoro::Task<Result<UpdateManifest, UpdateError>> fetchManifestTask(QUrl url, UpdateConfig config)
{
    using Outcome = Result<UpdateManifest, UpdateError>;
    if (!config.isAllowed(url))
        co_return Outcome::failure(UpdateError::insecureURL);

    // A fresh manager per fetch: no cookies, cache or credentials carry over.
    // Both are deleted later, because this coroutine resumes inside the
    // reply's own finished signal.
    std::unique_ptr<QNetworkAccessManager, DeleteLater> network(new QNetworkAccessManager);
    network->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkRequest request = freshRequest(url);
    request.setTransferTimeout(manifestTimeoutMs);
    request.setRawHeader("Cache-Control", "no-cache");
    QNetworkReply *reply = network->get(request);

    struct Body {
        QByteArray bytes;
        bool tooLarge = false;
        std::optional<int> refusedStatus;
    };
    auto body = std::make_shared<Body>();
    auto redirectRefused = std::make_shared<bool>(false);
    guardRedirects(reply, config, redirectRefused);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, body] {
        if (body->tooLarge)
            return;
        // An error page is read and dropped rather than aborted: aborting
        // while Qt still delivers the server's error trips its reply state.
        if (const auto status = httpStatus(reply); status && *status != 200) {
            body->refusedStatus = status;
            reply->readAll();
            return;
        }
        body->bytes += reply->readAll();
        if (body->bytes.size() > UpdateManifest::maximumBodySize) {
            body->tooLarge = true;
            reply->abort();
        }
    });

    co_await reply;

    if (*redirectRefused)
        co_return Outcome::failure(UpdateError::insecureURL);
    if (body->refusedStatus)
        co_return Outcome::failure(UpdateError(UpdateError::server, *body->refusedStatus));
    if (const auto status = httpStatus(reply); status && *status != 200)
        co_return Outcome::failure(UpdateError(UpdateError::server, *status));
    if (body->tooLarge)
        co_return Outcome::failure(UpdateError::invalidManifest);
    if (reply->error() == QNetworkReply::OperationCanceledError)
        co_return Outcome::failure(systemError(ETIMEDOUT)); // only the transfer time-out cancels it otherwise
    if (reply->error() != QNetworkReply::NoError)
        co_return Outcome::failure(UpdateError(UpdateError::platform, reply->errorString()));
    body->bytes += reply->readAll();
    auto manifest = UpdateManifest::decode(body->bytes);
    if (!manifest)
        co_return Outcome::failure(UpdateError::invalidManifest);
    co_return *manifest;
}

static QCoro::Task<Result<PreparedUpdate, UpdateError>> prepareTask(
    UpdateManifest manifest, UpdateConfig config, ProgressCallback onProgress, Bundle running)
{
    using Outcome = Result<PreparedUpdate, UpdateError>;
    if (!config.isAllowed(manifest.url))
        co_return Outcome::failure(UpdateError::insecureURL);

    const QString work = QDir::tempPath() + QStringLiteral("/VeluntaUpdate-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();

    // Everything captured by value: the coroutine's caller may be gone by the
    // time the pool finishes. The future is named: see above.
    QFuture<std::optional<Outcome>> future = QtConcurrent::run([work, manifest, config, onProgress, running] {
        return std::optional<Outcome>(prepareIn(work, manifest, config, onProgress, running));
    });
    std::optional<Outcome> outcome = co_await future;
    co_return std::move(*outcome);
}

QCoro::Task<Result<UpdateManifest, UpdateError>> fetchManifest(QUrl url, UpdateConfig config)
{
    return fetchManifestTask(url, config);
}

QCoro::Task<Result<PreparedUpdate, UpdateError>> prepare(
    UpdateManifest manifest, UpdateConfig config, ProgressCallback onProgress, Bundle running)
{
    return prepareTask(manifest, config, onProgress, running);
}

Result<Done, UpdateError> verifyPackage(
    const QString &archive, const UpdateManifest &manifest, const QString &publicKey)
{
    using Outcome = Result<Done, UpdateError>;
    struct stat st;
    if (::stat(QFile::encodeName(archive).constData(), &st) != 0)
        return Outcome::failure(fileError(archive, errno));
    if (qint64(st.st_size) != manifest.size)
        return Outcome::failure(UpdateError::wrongSize);
    const auto digest = sha256(archive);
    if (!digest)
        return Outcome::failure(digest.error());
    if (*digest != manifest.sha256.toLower())
        return Outcome::failure(UpdateError::wrongHash);
    if (!UpdateCrypto::verifyEd25519Base64(publicKey, manifest.signedMessage(), manifest.signature))
        return Outcome::failure(UpdateError::wrongSignature);
    return Done {};
}

Result<QString, UpdateError> sha256(const QString &file)
{
    using Outcome = Result<QString, UpdateError>;
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Outcome::failure(fileError(file, errno));
    struct Close {
        int fd;
        ~Close() { ::close(fd); }
    } closer {fd};
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    UpdateCrypto::Sha256 hash;
    std::unique_ptr<char[]> chunk(new char[hashChunk]);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.get(), size_t(hashChunk));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Outcome::failure(fileError(file, errno));
        }
        if (n == 0)
            break;
        hash.add(chunk.get(), n);
    }
    return UpdateCrypto::hexString(hash.digest());
}

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

Result<Done, UpdateError> verifyApp(const QString &bundle, const UpdateManifest &manifest, const Bundle &running)
{
    using Outcome = Result<Done, UpdateError>;
    const auto info = Bundle::readPropertyList(bundle + QStringLiteral("/Contents/Info.plist"));
    if (!info)
        return Outcome::failure(UpdateError::invalidPackage);
    const QString identifierKey = QStringLiteral("CFBundleIdentifier");
    if (stringValue(*info, identifierKey) != stringValue(running.infoDictionary(), identifierKey))
        return Outcome::failure(UpdateError(UpdateError::wrongBundle, UpdateError::differentIdentifier));
    const auto version = stringValue(*info, QStringLiteral("CFBundleVersion"));
    if (!version || parseInteger(*version) != manifest.build)
        return Outcome::failure(UpdateError(UpdateError::wrongBundle, UpdateError::differentBuild));
    return CodeSignature::verifyCandidate(bundle, running.path());
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
