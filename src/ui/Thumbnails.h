#pragma once

#include <QImage>
#include <QQuickAsyncImageProvider>
#include <QThreadPool>

// Thumbnails of saved captures. A screenshot is decoded straight at the size
// asked for; a recording gives its first frame. Both cover SIZE (the view
// crops them to fill its tile) and are never scaled up.
namespace Thumbnails {

inline constexpr QSize pointSize {340, 220};

// Blocking: call it off the GUI thread. A null image when the file cannot
// be read.
QImage generate(const QString &path, QSize size);

// The "image://thumbnail/ID" provider, ID being the base64url of the path.
// Work runs on its own small pool; requests for tiles that scrolled away
// before their turn are dropped without touching the disk.
class Provider : public QQuickAsyncImageProvider {
public:
    Provider();
    ~Provider() override;
    QQuickImageResponse *requestImageResponse(const QString &id, const QSize &requestedSize) override;
    QThreadPool &pool() { return m_pool; }

private:
    QThreadPool m_pool;
};

QString pathFromId(const QString &id);

} // namespace Thumbnails
