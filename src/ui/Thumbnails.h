#pragma once

#include <QHash>
#include <QImage>
#include <QMutex>
#include <QQuickAsyncImageProvider>
#include <QThreadPool>
#include <atomic>
#include <list>
#include <optional>

// Thumbnails of saved captures. A screenshot is decoded straight at the size
// asked for; a recording gives its first frame.
namespace Thumbnails {

inline constexpr QSize pointSize {340, 220};

// Blocking: call it off the GUI thread. Covers SIZE (the view crops it to
// fill its tile) and is never scaled up. A null image when the file cannot
// be read.
QImage generate(const QString &path, QSize size);

// IMAGE scaled to cover SIZE and cropped to it around its centre: what a
// view filling SIZE would draw, made once off the GUI thread so that the
// software renderer copies it instead of scaling it on every frame.
QImage fitted(const QImage &image, QSize size);

// Thumbnails already made, by file, the file's version and the size drawn,
// the least recently used dropped first once they hold more than a limit of
// bytes. A file that gave no thumbnail is remembered too, so that a corrupt
// file is not decoded again at every scroll. Safe from any thread.
class Cache {
public:
    struct Key {
        QString path;
        QSize size;
        qint64 modified = 0; // ns since the epoch
        qint64 bytes = 0; // the file's size
        bool operator==(const Key &) const = default;
        friend size_t qHash(const Key &key, size_t seed = 0)
        {
            return qHashMulti(seed, key.path, key.size.width(), key.size.height(), key.modified, key.bytes);
        }
    };

    explicit Cache(qsizetype byteLimit);

    // The key of PATH as it is on disk now; nullopt when it is gone.
    static std::optional<Key> keyOf(const QString &path, QSize size);
    // nullopt when not cached; a null image for a file that gave none.
    std::optional<QImage> find(const Key &key);
    void insert(const Key &key, const QImage &image);
    qsizetype bytes() const;
    qsizetype count() const;

private:
    void evict();

    mutable QMutex m_mutex;
    qsizetype m_limit;
    qsizetype m_bytes = 0;
    std::list<std::pair<Key, QImage>> m_entries; // most recent first
    QHash<Key, std::list<std::pair<Key, QImage>>::iterator> m_index;
};

// PATH's thumbnail filling SIZE, from CACHE or made and kept there. Null when
// the file is gone or gives none. Blocking: call it off the GUI thread.
QImage thumbnail(Cache &cache, const QString &path, QSize size);

// The "image://thumbnail/ID" provider, ID being the base64url of the path.
// Work runs on its own small pool; requests for tiles that scrolled away
// before their turn are dropped without touching the disk.
class Provider : public QQuickAsyncImageProvider {
public:
    // Room for a few screens of tiles in both directions of a scroll.
    static constexpr qsizetype cacheBytes = 96 * 1024 * 1024;

    Provider();
    ~Provider() override;
    QQuickImageResponse *requestImageResponse(const QString &id, const QSize &requestedSize) override;
    QThreadPool &pool() { return m_pool; }
    Cache &cache() { return m_cache; }

private:
    Cache m_cache {cacheBytes};
    QThreadPool m_pool;
    std::atomic<int> m_requests = 0;
};

QString pathFromId(const QString &id);

} // namespace Thumbnails
