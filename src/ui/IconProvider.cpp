#include "IconProvider.h"

#include "theme/Icons.h"

IconProvider::IconProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{
}

QImage IconProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    const qsizetype slash = id.lastIndexOf(QLatin1Char('/'));
    const QString name = slash < 0 ? id : id.left(slash);
    const QColor color = slash < 0 ? QColor(Qt::black) : QColor(QLatin1Char('#') + id.mid(slash + 1));
    const QSize pixels = requestedSize.isValid() && !requestedSize.isEmpty() ? requestedSize : QSize(32, 32);
    QImage image = Icons::render(name, color.isValid() ? color : QColor(Qt::black), pixels);
    if (size)
        *size = image.size();
    return image;
}
