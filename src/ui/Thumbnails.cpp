#include "Thumbnails.h"

#include "platform/media/FrameExtractor.h"

#include <QFileInfo>
#include <QImageReader>
#include <QQuickTextureFactory>
#include <QRunnable>
#include <atomic>

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

class Response : public QQuickImageResponse, public QRunnable {
public:
    Response(QString path, QSize size)
        : m_path(std::move(path))
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
        if (!m_cancelled) {
            m_image = generate(m_path, m_size);
            if (m_image.isNull())
                m_error = QStringLiteral("no thumbnail for %1").arg(m_path);
        }
        // The engine frees the response once it has finished, cancelled or not.
        emit finished();
    }

private:
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
    auto *response = new Response(pathFromId(id), requestedSize.isValid() ? requestedSize : pointSize);
    m_pool.start(response);
    return response;
}

} // namespace Thumbnails
