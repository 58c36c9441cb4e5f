#pragma once

#include <QQuickImageProvider>

// "image://icon/NAME/RRGGBB": one of the application's symbols in a colour,
// drawn at the size the view asks for.
class IconProvider : public QQuickImageProvider {
public:
    IconProvider();
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;
};
