#pragma once

#include <QCoroTask>
#include <QImage>
#include <chrono>

class QQuickWindow;

// A window's content as an image, for review snapshots and tests. The window
// is shown (without taking the focus) and left a moment to lay out and load
// its thumbnails before it is read back.
namespace WindowRendering {

QCoro::Task<QImage> render(QQuickWindow *window, std::chrono::milliseconds settle = std::chrono::milliseconds(900));
// Writes IMAGE as PNG; false when it cannot be written.
bool savePng(const QImage &image, const QString &path);

} // namespace WindowRendering
