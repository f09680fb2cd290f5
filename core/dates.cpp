#include "core/dates.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace qb {

namespace {
// Days from 1 March of year 0 (proleptic Gregorian) - the usual civil algorithm.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
const int64_t kEpoch = daysFromCivil(1800, 12, 28);  // day number 0

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int monthDays(int y, int m) {
    static const int d[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : d[m - 1];
}
} // namespace

int fullYear(int year) {
    if (year < 0) return year;
    if (year < 70) return 2000 + year;
    if (year < 100) return 1900 + year;
    return year;
}

int32_t dayNumber(int year, int month, int day) {
    if (month < 1 || month > 12 || day < 1) return 0;
    if (year < 1801 || year > 9999) return 0;
    if (day > monthDays(year, month)) return 0;
    return static_cast<int32_t>(daysFromCivil(year, month, day) - kEpoch);
}

void civilDate(int32_t dayNr, int& year, int& month, int& day) {
    int64_t z = dayNr + kEpoch + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

int32_t clockTime(int h, int m, int s, int hundredths) {
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59 || hundredths < 0 || hundredths > 99)
        return 0;
    return ((h * 60 + m) * 60 + s) * 100 + hundredths + 1;
}

void clockParts(int32_t t, int& h, int& m, int& s, int& hundredths) {
    int32_t v = t > 0 ? t - 1 : 0;
    hundredths = v % 100;
    v /= 100;
    s = v % 60;
    v /= 60;
    m = v % 60;
    h = (v / 60) % 24;
}

int32_t today() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return dayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

int32_t clockNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    return clockTime(tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ts.tv_nsec / 10000000));
}

namespace {
// Which order the locale writes a numeric date in: 'D' day first, 'M' month
// first, 'Y' year first.
char localeOrder(char& sep) {
    const char* lc = std::getenv("LC_ALL");
    if (!lc || !*lc) lc = std::getenv("LC_TIME");
    if (!lc || !*lc) lc = std::getenv("LANG");
    std::string l = lc ? lc : "";
    if (l.rfind("en_US", 0) == 0) { sep = '/'; return 'M'; }
    if (l.rfind("de", 0) == 0 || l.rfind("nl", 0) == 0 || l.rfind("fi", 0) == 0 ||
        l.rfind("nb", 0) == 0 || l.rfind("da", 0) == 0) { sep = '.'; return 'D'; }
    if (l.rfind("en_GB", 0) == 0 || l.rfind("fr", 0) == 0 || l.rfind("es", 0) == 0 ||
        l.rfind("it", 0) == 0) { sep = '/'; return 'D'; }
    sep = '-';
    return 'Y';
}
} // namespace

std::string formatDate(int32_t dayNr, const std::string& picture) {
    if (dayNr <= 0) return "";
    int y, m, d;
    civilDate(dayNr, y, m, d);
    std::string p = picture;
    if (!p.empty() && p[0] == '@') p.erase(0, 1);
    if (!p.empty() && (p[0] == 'D' || p[0] == 'd')) p.erase(0, 1);
    size_t i = 0;
    int num = 0;
    while (i < p.size() && p[i] >= '0' && p[i] <= '9') num = num * 10 + (p[i++] - '0');
    char sep = 0;
    if (i < p.size() && (p[i] == '-' || p[i] == '.' || p[i] == ' ' || p[i] == '_' || p[i] == '/'))
        sep = p[i] == '_' ? ' ' : p[i];
    char buf[32];
    char order = 'M';
    bool twoDigitYear = false;
    switch (num) {
    case 1: order = 'M'; twoDigitYear = true; break;
    case 2: order = 'M'; break;
    case 5: order = 'D'; twoDigitYear = true; break;
    case 6: order = 'D'; break;
    case 9: order = 'Y'; twoDigitYear = true; break;
    case 10: order = 'Y'; break;
    case 17: {
        char lsep = '-';
        order = localeOrder(lsep);
        if (!sep) sep = lsep;
        break;
    }
    default: order = 'M'; break;
    }
    if (!sep) sep = '/';
    int yy = twoDigitYear ? y % 100 : y;
    const char* yf = twoDigitYear ? "%02d" : "%04d";
    const std::string fmt = order == 'Y' ? std::string(yf) + sep + "%02d" + sep + "%02d"
                                         : std::string("%02d") + sep + "%02d" + sep + yf;
    if (order == 'M') std::snprintf(buf, sizeof buf, fmt.c_str(), m, d, yy);
    else if (order == 'D') std::snprintf(buf, sizeof buf, fmt.c_str(), d, m, yy);
    else std::snprintf(buf, sizeof buf, fmt.c_str(), yy, m, d);
    return buf;
}

std::string formatTime(int32_t t, const std::string& picture) {
    if (t <= 0) return "";
    int h, m, s, c;
    clockParts(t, h, m, s, c);
    std::string p = picture;
    if (!p.empty() && p[0] == '@') p.erase(0, 1);
    if (!p.empty() && (p[0] == 'T' || p[0] == 't')) p.erase(0, 1);
    int num = std::atoi(p.c_str());
    char buf[32];
    int h12 = h % 12 == 0 ? 12 : h % 12;
    const char* xm = h < 12 ? "AM" : "PM";
    switch (num) {
    case 3: std::snprintf(buf, sizeof buf, "%2d:%02d%s", h12, m, xm); break;
    case 4: std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, m, s); break;
    case 6: std::snprintf(buf, sizeof buf, "%2d:%02d:%02d%s", h12, m, s, xm); break;
    case 1:
    case 7:
    default: std::snprintf(buf, sizeof buf, "%02d:%02d", h, m); break;
    }
    return buf;
}

int monthFromName(const std::string& name3) {
    if (name3.size() < 3) return 0;
    static const char* const en[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    static const char* const de[] = {"JAN", "FEB", "M\xC4R", "APR", "MAI", "JUN",
                                     "JUL", "AUG", "SEP", "OKT", "NOV", "DEZ"};
    // Accept all capitals or a capital initial with lower-case rest.
    std::string a = name3.substr(0, 3);
    auto up = [](char ch) -> char {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 'a' && c <= 'z') return static_cast<char>(c - 32);
        if (c == 0xE4) return static_cast<char>(0xC4);  // a-umlaut
        return ch;
    };
    auto isLower = [](char ch) {
        unsigned char c = static_cast<unsigned char>(ch);
        return (c >= 'a' && c <= 'z') || c == 0xE4;
    };
    auto isUpper = [](char ch) {
        unsigned char c = static_cast<unsigned char>(ch);
        return (c >= 'A' && c <= 'Z') || c == 0xC4;
    };
    if (!isUpper(a[0])) return 0;
    bool allUpper = isUpper(a[1]) && isUpper(a[2]);
    bool initial = isLower(a[1]) && isLower(a[2]);
    if (!allUpper && !initial) return 0;
    std::string u{up(a[0]), up(a[1]), up(a[2])};
    for (int i = 0; i < 12; ++i)
        if (u == en[i] || u == de[i]) return i + 1;
    return 0;
}

} // namespace qb
