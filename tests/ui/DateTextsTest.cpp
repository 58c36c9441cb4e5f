#include "ui/DateTexts.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace {
QDateTime at(int year, int month, int day, int hour = 14, int minute = 5)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute));
}
} // namespace

TEST(DateTexts, DayTitlesAreBrazilianWhateverTheUserLocale)
{
    // The test runs with LANG=en_US.UTF-8.
    EXPECT_NE(QLocale().language(), QLocale::Portuguese);
    const QDateTime now = at(2026, 12, 7, 9, 30);
    EXPECT_EQ(DateTexts::captureDayTitle(at(2026, 12, 7, 0, 1), now), "Hoje");
    EXPECT_EQ(DateTexts::captureDayTitle(at(2026, 12, 7, 23, 59), now), "Hoje");
    EXPECT_EQ(DateTexts::captureDayTitle(at(2026, 12, 6, 23, 59), now), "Ontem");
    EXPECT_EQ(DateTexts::captureDayTitle(at(2026, 12, 5), now), "5 de dezembro");
    EXPECT_EQ(DateTexts::captureDayTitle(at(2026, 1, 1), now), "1 de janeiro");
    EXPECT_EQ(DateTexts::captureDayTitle(at(2025, 12, 31), now), "31 de dezembro de 2025");
    EXPECT_EQ(DateTexts::captureDayTitle(at(2025, 3, 15), now), "15 de março de 2025");
}

TEST(DateTexts, YesterdayAcrossTheTurnOfTheYear)
{
    const QDateTime newYear = at(2027, 1, 1, 0, 10);
    EXPECT_EQ(DateTexts::captureDayTitle(at(2026, 12, 31, 23, 50), newYear), "Ontem");
    EXPECT_EQ(DateTexts::captureDayTitle(at(2026, 12, 30), newYear), "30 de dezembro de 2026");
}

TEST(DateTexts, TimesUseTheTwentyFourHourClock)
{
    EXPECT_EQ(DateTexts::captureTime(at(2026, 12, 7, 14, 5)), "14:05");
    EXPECT_EQ(DateTexts::captureTime(at(2026, 12, 7, 0, 0)), "00:00");
    EXPECT_EQ(DateTexts::captureDayAndTime(at(2026, 12, 7, 14, 5)), "7 de dez. 14:05");
    EXPECT_EQ(DateTexts::captureDayAndTime(at(2026, 2, 3, 8, 9)), "3 de fev. 08:09");
    // A UTC date is shown in local time.
    const QDateTime utc = at(2026, 6, 1, 12, 0).toUTC();
    EXPECT_EQ(DateTexts::captureTime(utc), "12:00");
}
