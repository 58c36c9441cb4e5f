#pragma once

#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QPainter;

// Text whose digits each take the width of the widest digit, so that a
// number that changes (a clock, a selection's size) does not make the text
// around it shift. Qt 6.4 cannot ask a font for its tabular figures, and the
// default figures of several desktop fonts (GNOME's Cantarell, Inter) are
// proportional: a "1" is narrower than an "8".
namespace TabularDigits {

// The advance of the widest of the digits 0 to 9 in FONT.
qreal digitWidth(const QFont &font);
// The width TEXT takes when drawn by draw(), and the font's line height.
QSizeF size(const QFont &font, const QString &text);
// Draws TEXT in FONT with the painter's pen, placed in RECT by ALIGNMENT;
// each digit is centred in a cell of digitWidth().
void draw(QPainter &painter, const QFont &font, const QRectF &rect, Qt::Alignment alignment, const QString &text);

} // namespace TabularDigits
