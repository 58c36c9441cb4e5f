#include "WindowRendering.h"

#include <QCoroTimer>
#include <QImageWriter>
#include <QPointer>
#include <QQuickWindow>
#include <QSaveFile>

namespace WindowRendering {

QCoro::Task<QImage> render(QQuickWindow *window, std::chrono::milliseconds settle)
{
    QPointer<QQuickWindow> target(window);
    if (!target)
        co_return QImage();
    if (!target->isVisible()) {
        target->setFlag(Qt::WindowDoesNotAcceptFocus, true);
        target->show();
    }
    co_await QCoro::sleepFor(settle);
    if (!target)
        co_return QImage();
    target->setFlag(Qt::WindowDoesNotAcceptFocus, false);
    co_return target->grabWindow();
}

bool savePng(const QImage &image, const QString &path)
{
    if (image.isNull())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, "png");
    if (!writer.write(image))
        return false;
    return file.commit();
}

} // namespace WindowRendering
