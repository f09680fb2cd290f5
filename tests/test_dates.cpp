#include <gtest/gtest.h>

#include "core/dates.h"

using namespace qb;

TEST(Dates, DayNumbersRoundTripAndKnownDays) {
    EXPECT_EQ(dayNumber(1995, 5, 20), 71000);
    EXPECT_EQ(weekday(71000), 6);  // Saturday
    EXPECT_EQ(dayNumber(1801, 1, 1), 4);
    EXPECT_EQ(dayNumber(1995, 2, 29), 0);
    EXPECT_EQ(dayNumber(2000, 2, 29), dayNumber(2000, 3, 1) - 1);
    EXPECT_EQ(dayNumber(1900, 2, 29), 0);
    EXPECT_EQ(dayNumber(1999, 13, 1), 0);
    for (int32_t d = 4; d < 120000; d += 37) {
        int y, m, dd;
        civilDate(d, y, m, dd);
        ASSERT_EQ(dayNumber(y, m, dd), d);
    }
}

TEST(Dates, CenturyWindowAndPictures) {
    EXPECT_EQ(fullYear(96), 1996);
    EXPECT_EQ(fullYear(70), 1970);
    EXPECT_EQ(fullYear(69), 2069);
    EXPECT_EQ(fullYear(0), 2000);
    EXPECT_EQ(fullYear(1996), 1996);
    EXPECT_EQ(formatDate(71000, "@D2-"), "05-20-1995");
    EXPECT_EQ(formatDate(71000, "@D6-"), "20-05-1995");
    EXPECT_EQ(formatDate(71000, "@D10-"), "1995-05-20");
    EXPECT_EQ(formatDate(0, "@D2-"), "");
    int32_t t = clockTime(13, 5, 9);
    EXPECT_EQ(t, (13 * 3600 + 5 * 60 + 9) * 100 + 1);
    EXPECT_EQ(formatTime(t, "@T1"), "13:05");
    EXPECT_EQ(formatTime(t, "@T3"), " 1:05PM");
    EXPECT_EQ(formatTime(clockTime(0, 0, 0), "@T4"), "00:00:00");
    EXPECT_EQ(clockTime(24, 0, 0), 0);
}

TEST(Dates, MonthNamesEnglishAndGerman) {
    EXPECT_EQ(monthFromName("JAN"), 1);
    EXPECT_EQ(monthFromName("Dec"), 12);
    EXPECT_EQ(monthFromName("M\xC4R"), 3);
    EXPECT_EQ(monthFromName("M\xE4r"), 3);
    EXPECT_EQ(monthFromName("OKT"), 10);
    EXPECT_EQ(monthFromName("Dez"), 12);
    EXPECT_EQ(monthFromName("jan"), 0);
    EXPECT_EQ(monthFromName("JaN"), 0);
    EXPECT_EQ(monthFromName("XYZ"), 0);
}
