#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>

// The application's own symbol images (resources/icons/*.svg), drawn in any
// colour: the SVGs paint with currentColor.
namespace Icons {

QImage render(const QString &name, const QColor &color, QSize pixelSize);
QIcon symbol(const QString &name, const QColor &color);
bool exists(const QString &name);
// Velunta's own icon, for its windows and the task bar.
QIcon application();

} // namespace Icons
