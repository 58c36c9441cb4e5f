#include "DateTexts.h"

#include <QLocale>

namespace DateTexts {

namespace {

const QLocale &brazil()
{
    static const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    return locale;
}

} // namespace

QString captureTime(const QDateTime &date)
{
    return brazil().toString(date.toLocalTime().time(), QStringLiteral("HH:mm"));
}

QString captureDayAndTime(const QDateTime &date)
{
    const QDateTime local = date.toLocalTime();
    return QStringLiteral("%1 de %2 %3")
        .arg(local.date().day())
        .arg(brazil().monthName(local.date().month(), QLocale::ShortFormat), captureTime(local));
}

QString dayTitle(const QDate &day, const QDate &today)
{
    if (day == today)
        return QStringLiteral("Hoje");
    if (day == today.addDays(-1))
        return QStringLiteral("Ontem");
    const QString dayAndMonth
        = QStringLiteral("%1 de %2").arg(day.day()).arg(brazil().monthName(day.month(), QLocale::LongFormat));
    if (day.year() == today.year())
        return dayAndMonth;
    return QStringLiteral("%1 de %2").arg(dayAndMonth).arg(day.year());
}

QString captureDayTitle(const QDateTime &date, const QDateTime &now)
{
    return dayTitle(date.toLocalTime().date(), now.toLocalTime().date());
}

} // namespace DateTexts
