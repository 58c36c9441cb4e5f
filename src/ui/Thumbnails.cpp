#include "Thumbnails.h"

#include "platform/media/FrameExtractor.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMetaObject>
#include <QQuickTextureFactory>
#include <QRunnable>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Thumbnails {

namespace {

// The size that covers TARGET with SOURCE's aspect, never larger than SOURCE.
QSize coverSize(QSize source, QSize target)
{
    if (source.isEmpty())
        return {};
    if (target.isEmpty())
        return source;
    QSize covered = source.scaled(target, Qt::KeepAspectRatioByExpanding);
    if (covered.width() > source.width() || covered.height() > source.height())
        return source;
    return covered;
}

// Qt's thread priorities do nothing for ordinary Linux threads; a higher
// nice value does. With two cores and a scroll asking for pictures faster
// than they decode, the GUI thread must win every time it wants a core.
void yieldToTheGuiThread()
{
    thread_local bool done = false;
    if (done)
        return;
    done = true;
    const auto thread = id_t(::gettid());
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, thread, std::min(nice + 10, 19));
}

class Response : public QQuickImageResponse, public QRunnable {
public:
    Response(Cache &cache, QString path, QSize size)
        : m_cache(cache)
        , m_path(std::move(path))
        , m_size(size)
    {
        setAutoDelete(false);
    }

    QQuickTextureFactory *textureFactory() const override
    {
        return QQuickTextureFactory::textureFactoryForImage(m_image);
    }
    QString errorString() const override { return m_error; }
    void cancel() override { m_cancelled = true; }

    void run() override
    {
        yieldToTheGuiThread();
        if (!m_cancelled) {
            m_image = thumbnail(m_cache, m_path, m_size);
            if (m_image.isNull())
                m_error = QStringLiteral("no thumbnail for %1").arg(m_path);
        }
        // Told from the response's own thread, the engine's image reader: the
        // engine connects to finished only after requestImageResponse has
        // returned, and a thumbnail from the cache is ready long before
        // that on a busy machine; told from here it would be missed and the
        // image would load for ever. The engine frees the response once it
        // has finished, cancelled or not.
        QMetaObject::invokeMethod(
            this, [this] { emit finished(); }, Qt::QueuedConnection);
    }

private:
    Cache &m_cache;
    QString m_path;
    QSize m_size;
    QImage m_image;
    QString m_error;
    std::atomic<bool> m_cancelled = false;
};

} // namespace

QImage generate(const QString &path, QSize size)
{
    if (QFileInfo(path).suffix().compare(QLatin1String("mp4"), Qt::CaseInsensitive) == 0) {
        auto extractor = FrameExtractor::open(path);
        if (!extractor)
            return {};
        auto frame = extractor->firstFrame(coverSize(extractor->naturalSize(), size));
        return frame ? *frame : QImage();
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize scaled = coverSize(reader.size(), size);
    if (scaled.isValid())
        reader.setScaledSize(scaled);
    return reader.read();
}

QImage fitted(const QImage &image, QSize size)
{
    if (image.isNull() || size.isEmpty())
        return image;
    QImage covering
        = image.size() == size ? image : image.scaled(size, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    const QRect centre(
        (covering.width() - size.width()) / 2, (covering.height() - size.height()) / 2, size.width(), size.height());
    covering = covering.copy(centre);
    // The formats the raster paint engine copies without converting.
    return covering.convertToFormat(
        covering.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

Cache::Cache(qsizetype byteLimit)
    : m_limit(byteLimit)
{
}

std::optional<Cache::Key> Cache::keyOf(const QString &path, QSize size)
{
    struct stat info { };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return Key {path, size, qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec, qint64(info.st_size)};
}

std::optional<QImage> Cache::find(const Key &key)
{
    QMutexLocker lock(&m_mutex);
    const auto found = m_index.constFind(key);
    if (found == m_index.constEnd())
        return std::nullopt;
    m_entries.splice(m_entries.begin(), m_entries, *found);
    return found.value()->second;
}

namespace {

// A file that gave no thumbnail still takes a little room.
qsizetype costOf(const QImage &image)
{
    return image.isNull() ? 64 : image.sizeInBytes();
}

} // namespace

void Cache::insert(const Key &key, const QImage &image)
{
    QMutexLocker lock(&m_mutex);
    if (const auto found = m_index.constFind(key); found != m_index.constEnd()) {
        m_bytes -= costOf(found.value()->second);
        m_entries.erase(*found);
        m_index.erase(found);
    }
    m_entries.emplace_front(key, image);
    m_index.insert(key, m_entries.begin());
    m_bytes += costOf(image);
    evict();
}

void Cache::evict()
{
    // The newest entry stays even when it alone is over the limit.
    while (m_bytes > m_limit && m_entries.size() > 1) {
        auto &oldest = m_entries.back();
        m_bytes -= costOf(oldest.second);
        m_index.remove(oldest.first);
        m_entries.pop_back();
    }
}

qsizetype Cache::bytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_bytes;
}

qsizetype Cache::count() const
{
    QMutexLocker lock(&m_mutex);
    return qsizetype(m_entries.size());
}

QImage thumbnail(Cache &cache, const QString &path, QSize size)
{
    const std::optional<Cache::Key> key = Cache::keyOf(path, size);
    if (!key)
        return {};
    if (std::optional<QImage> cached = cache.find(*key))
        return *cached;
    const QImage image = fitted(generate(path, size), size);
    cache.insert(*key, image);
    return image;
}

QString pathFromId(const QString &id)
{
    return QString::fromUtf8(QByteArray::fromBase64(id.toLatin1(), QByteArray::Base64UrlEncoding));
}

Provider::Provider()
{
    // Two workers fill a screen of tiles quickly and leave the GUI thread a core.
    m_pool.setMaxThreadCount(2);
    m_pool.setThreadPriority(QThread::LowPriority);
}

Provider::~Provider()
{
    m_pool.clear();
    m_pool.waitForDone();
}

QQuickImageResponse *Provider::requestImageResponse(const QString &id, const QSize &requestedSize)
{
    auto *response = new Response(m_cache, pathFromId(id), requestedSize.isValid() ? requestedSize : pointSize);
    // Newest first: while scrolling, the tiles just come into view matter,
    // and those that went past are cancelled before their turn.
    m_pool.start(response, m_requests++);
    return response;
}

} // namespace Thumbnails
