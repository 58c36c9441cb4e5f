#include "UpdateEngine.h"

#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThreadPool>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

// The network side of updating: the manifest, the archive, and the
// preparation that downloads an archive and checks it into a work folder.
namespace UpdateEngine {

namespace {

constexpr int manifestTimeoutMs = 30 * 1000;
constexpr int downloadIdleTimeoutMs = 60 * 1000;
constexpr int downloadTimeoutMs = 3600 * 1000;
constexpr qint64 readBufferBytes = 1024 * 1024;

const QString archiveName = QStringLiteral("update.zip");
const QString appFolderName = QStringLiteral("app");

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
            return Outcome::failure(UpdateError::fromErrno(ETIMEDOUT));
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
    reply->setReadBufferSize(readBufferBytes);

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
        return Result<Done, UpdateError>::failure(UpdateError::fromErrno(path, errno));
    return Done {};
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

} // namespace

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
        co_return Outcome::failure(
            UpdateError::fromErrno(ETIMEDOUT)); // only the transfer time-out cancels it otherwise
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

} // namespace UpdateEngine
