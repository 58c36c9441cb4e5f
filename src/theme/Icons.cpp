#include "Icons.h"

#include <QFile>
#include <QHash>
#include <QIcon>
#include <QPainter>
#include <QSvgRenderer>

static void loadIconResources()
{
    // The icons live in a static library: make sure the linker keeps them.
    Q_INIT_RESOURCE(velunta_icons);
}

namespace Icons {

QIcon application()
{
    static bool loaded = (loadIconResources(), true);
    Q_UNUSED(loaded);
    return QIcon(QStringLiteral(":/app/app.velunta.Velunta.svg"));
}

namespace {

QByteArray source(const QString &name)
{
    static bool loaded = (loadIconResources(), true);
    Q_UNUSED(loaded);
    static QHash<QString, QByteArray> cache;
    auto it = cache.find(name);
    if (it == cache.end()) {
        QFile file(QStringLiteral(":/icons/%1.svg").arg(name));
        it = cache.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return *it;
}

} // namespace

bool exists(const QString &name)
{
    return !source(name).isEmpty();
}

QImage render(const QString &name, const QColor &color, QSize pixelSize)
{
    QByteArray svg = source(name);
    svg.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
    QImage image(pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        return image;
    QPainter painter(&image);
    painter.setOpacity(color.alphaF());
    renderer.render(&painter);
    return image;
}

QIcon symbol(const QString &name, const QColor &color)
{
    // Menus rebuild often: each symbol is drawn once per colour, at one size
    // that QIcon scales down smoothly.
    static QHash<QString, QIcon> cache;
    const QString key = name + QLatin1Char('/') + color.name(QColor::HexArgb);
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.insert(key, QIcon(QPixmap::fromImage(render(name, color, QSize(64, 64)))));
    return *it;
}

} // namespace Icons
