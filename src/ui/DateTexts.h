#pragma once

#include <QDateTime>
#include <QString>

// The dates shown in the library, always in Brazilian Portuguese whatever the
// user's locale, judged against the user's calendar and time zone.
namespace DateTexts {

// "14:05"
QString captureTime(const QDateTime &date);
// "7 de dez. 14:05"
QString captureDayAndTime(const QDateTime &date);
// "Hoje", "Ontem", "7 de dezembro", or "7 de dezembro de 2025" outside the
// current year. NOW is the present moment.
QString captureDayTitle(const QDateTime &date, const QDateTime &now = QDateTime::currentDateTime());
// The same title for a calendar day already in local time.
QString dayTitle(const QDate &day, const QDate &today);

} // namespace DateTexts
