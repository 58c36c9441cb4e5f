#include "TabularDigits.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>

namespace TabularDigits {

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Calls DIGIT(c) for each digit and RUN(text) for each stretch of other
// characters, in order: runs keep their own kerning and shaping.
template <typename Digit, typename Run> void split(const QString &text, Digit digit, Run run)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isDigit(text.at(i)))
            continue;
        if (i > start)
            run(text.mid(start, i - start));
        if (i < text.size())
            digit(text.at(i));
        start = i + 1;
    }
}

} // namespace

qreal digitWidth(const QFont &font)
{
    const QFontMetricsF metrics(font);
    qreal widest = 0;
    for (char c = '0'; c <= '9'; ++c)
        widest = std::max(widest, metrics.horizontalAdvance(QLatin1Char(c)));
    return widest;
}

QSizeF size(const QFont &font, const QString &text)
{
    const QFontMetricsF metrics(font);
    const qreal cell = digitWidth(font);
    qreal width = 0;
    split(
        text, [&](QChar) { width += cell; }, [&](const QString &run) { width += metrics.horizontalAdvance(run); });
    return QSizeF(width, metrics.height());
}

void draw(QPainter &painter, const QFont &font, const QRectF &rect, Qt::Alignment alignment, const QString &text)
{
    const QFontMetricsF metrics(font);
    const qreal cell = digitWidth(font);
    const QSizeF extent = size(font, text);

    qreal x = rect.left();
    if (alignment & Qt::AlignRight)
        x = rect.right() - extent.width();
    else if (alignment & Qt::AlignHCenter)
        x = rect.center().x() - extent.width() / 2;
    qreal top = rect.top();
    if (alignment & Qt::AlignBottom)
        top = rect.bottom() - extent.height();
    else if (alignment & Qt::AlignVCenter)
        top = rect.center().y() - extent.height() / 2;
    const qreal baseline = top + metrics.ascent();

    painter.save();
    painter.setFont(font);
    split(
        text,
        [&](QChar digit) {
            painter.drawText(QPointF(x + (cell - metrics.horizontalAdvance(digit)) / 2, baseline), QString(digit));
            x += cell;
        },
        [&](const QString &run) {
            painter.drawText(QPointF(x, baseline), run);
            x += metrics.horizontalAdvance(run);
        });
    painter.restore();
}

} // namespace TabularDigits
