// Day numbers and clock times.
//
// A date is a day number: day 4 is 1 January 1801 (so day 71000 is Saturday
// 20 May 1995); 0 means "no date". A time is hundredths of a second after
// midnight plus one; 0 means "no time".
//
// Two-digit years: 70-99 are 1970-1999, 00-69 are 2000-2069. The messages this
// system archives start in the early 1980s, so a fixed window is safer than
// one that slides with today's date.
#pragma once
#include <cstdint>
#include <string>

namespace qb {

// Day number of a calendar date; 0 when the date is not valid.
int32_t dayNumber(int year, int month, int day);
// Calendar date of a day number (> 0).
void civilDate(int32_t dayNr, int& year, int& month, int& day);
// The four-digit year of a year as written: 0-69 -> 20xx, 70-99 -> 19xx,
// 100 and above are taken as they are.
int fullYear(int year);
// Weekday of a day number: 0 Sunday ... 6 Saturday.
inline int weekday(int32_t dayNr) { return static_cast<int>(dayNr % 7); }
// Clock time from hours, minutes, seconds, hundredths; 0 when out of range.
int32_t clockTime(int h, int m, int s, int hundredths = 0);
void clockParts(int32_t t, int& h, int& m, int& s, int& hundredths);

int32_t today();     // local date
int32_t clockNow();  // local time

// Date pictures: "@D1" mm/dd/yy, "@D2" mm/dd/yyyy, "@D6" dd/mm/yyyy,
// "@D10" yyyy/mm/dd, "@D17" the user's locale short date (numeric, as
// dd.mm.yyyy or mm/dd/yyyy per LC_TIME, ISO when unknown); a trailing "-",
// "." or " " after the number replaces the separator. 0 formats as "".
std::string formatDate(int32_t dayNr, const std::string& picture);
// Time pictures: "@T1" hh:mm, "@T3" hh:mmXM (12-hour, AM/PM), "@T4"
// hh:mm:ss, "@T6" hh:mm:ssXM, "@T7" the locale (24-hour hh:mm). 0 formats as "".
std::string formatTime(int32_t t, const std::string& picture);

// Month number of a three-letter English or German month name in capitals
// or with a capital initial ("JAN", "Mär", "OKT"...); 0 when unknown.
// Takes the single-byte (Windows-1252) spelling.
int monthFromName(const std::string& name3);

} // namespace qb
