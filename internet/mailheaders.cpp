#include "internet/mailheaders.h"

#include <algorithm>
#include <cstring>

#include "core/access.h"
#include "core/dates.h"
#include "core/fixedstr.h"
#include "core/tables.h"
#include "core/text.h"

namespace qb {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool startsUpper(std::string_view s, std::string_view upperPrefix) {
    if (s.size() < upperPrefix.size()) return false;
    const unsigned char* up = upperTable();
    for (size_t i = 0; i < upperPrefix.size(); ++i)
        if (up[static_cast<unsigned char>(s[i])] != static_cast<unsigned char>(upperPrefix[i])) return false;
    return true;
}

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string cut(std::string s, size_t n) {
    if (s.size() > n) s.resize(n);
    return s;
}

} // namespace

const unsigned char* upperTable() {
    static const struct Table {
        unsigned char t[256];
        Table() {
            for (int i = 0; i < 256; ++i) t[i] = upper1252(static_cast<unsigned char>(i));
        }
    } table;
    return table.t;
}

std::string_view HeaderStart::set(std::string_view line) {
    const unsigned char* up = upperTable();
    n = std::min(line.size(), sizeof buf);
    for (size_t i = 0; i < n; ++i) buf[i] = static_cast<char>(up[static_cast<unsigned char>(line[i])]);
    return view();
}

std::string trimBlanks(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && isBlank(s[a])) ++a;
    while (b > a && (isBlank(s[b - 1]) || s[b - 1] == '\r')) --b;
    return std::string(s.substr(a, b - a));
}

// ------------------------------------------------------------ classification

HeaderKind classifyHeader(std::string_view line) {
    if (line.empty()) return HdrNone;
    switch (upper1252(static_cast<unsigned char>(line[0]))) {
        case 'F':
            if (startsUpper(line, "FROM:")) return HdrFrom;
            if (startsUpper(line, "FROM ")) {
                if (line.size() >= 7 && line.substr(4, 3) == " - ") return HdrOther;
                // Characters 7 to 50; a bare "From " line has none.
                if (line.size() > 6) {
                    std::string_view zone = line.substr(6, std::min<size_t>(line.size(), 50) - 6);
                    if (zone.find('@') != std::string_view::npos) return HdrOther;
                }
            }
            return HdrNone;
        case 'D':
            return startsUpper(line, "DATE:") ? HdrDate : HdrNone;
        case 'T':
            return startsUpper(line, "TO:") ? HdrTo : HdrNone;
        case 'S':
            if (startsUpper(line, "SUBJECT:")) return HdrSubject;
            if (startsUpper(line, "SENDER:") || startsUpper(line, "STATUS:")) return HdrOther;
            return HdrNone;
        case 'N':
            return startsUpper(line, "NEWSGROUPS:") ? HdrNewsgroups : HdrNone;
        case 'M':
            if (startsUpper(line, "MESSAGE-ID:")) return HdrMessageId;
            return startsUpper(line, "MIME-VERSION:") ? HdrOther : HdrNone;
        default:
            break;
    }
    static const char* const known[] = {
        "COMMENTS:", "CONTENT-MD5:", "CONTENT-TYPE:", "CONTENT-LENGTH:", "CONTENT-TRANSFER-ENCODING:",
        "IN-REPLY-TO:", "PATH:", "RECEIVED:", "REPLY-TO:", "RETURN-PATH:", "URL:", "X-UIDL:", "X-MAILER:",
        "X-SENDER:", "X-MIME-AUTOCONVERTED:", "X-AUTHENTICATION-WARNING:"};
    for (const char* k : known)
        if (startsUpper(line, k)) return HdrOther;
    return HdrNone;
}

bool isHeaderLike(std::string_view line) {
    size_t n = std::min<size_t>(line.size(), 77);
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == ':') return i > 0;
        if (c <= ' ' || c >= 127) return false;
    }
    return false;
}

bool isContinuation(std::string_view line) {
    if (line.empty() || !isBlank(line[0])) return false;
    for (char c : line)
        if (!isBlank(c) && c != '\r') return true;
    return false;
}

bool isBareFromLine(std::string_view line) {
    if (line.size() < 5 || !startsUpper(line, "FROM ")) return false;
    for (char c : line.substr(5))
        if (!isBlank(c) && c != '\r') return false;
    return true;
}

bool beginsHeaderBlock(std::string_view line) {
    if (line.empty() || !isLetter(line[0])) return false;
    if (isHeaderLike(line)) return true;
    return line.size() > 5 && line.substr(0, 5) == "From ";
}

// ------------------------------------------------------------- header parse

std::string headerValue(const LineQueue& q, size_t i, size_t nameLen, size_t maxLen) {
    std::string v;
    const std::string& l = q[i].LINE;
    v = nameLen < l.size() ? l.substr(nameLen) : std::string();
    size_t j = i;
    // A line that the queue split goes on in the next entry.
    while (q[j].SPLITLINE && j + 1 < q.size() && v.size() < maxLen) v += q[++j].LINE;
    for (++j; j < q.size() && isContinuation(q[j].LINE) && v.size() < maxLen; ++j) {
        std::string c = trimBlanks(q[j].LINE);
        // Encoded words split over folded lines join without the blank.
        if (!(v.size() >= 2 && v.substr(v.size() - 2) == "?=" && c.rfind("=?", 0) == 0)) v += ' ';
        v += c;
        while (q[j].SPLITLINE && j + 1 < q.size() && v.size() < maxLen) v += q[++j].LINE;
    }
    v = trimBlanks(v);
    if (v.size() > maxLen) v.resize(maxLen);
    return v;
}

std::string firstRecipient(std::string_view v) {
    bool quoted = false;
    int angle = 0, paren = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (c == '"') quoted = !quoted;
        else if (quoted) continue;
        else if (c == '<') ++angle;
        else if (c == '>') angle = angle > 0 ? angle - 1 : 0;
        else if (c == '(') ++paren;
        else if (c == ')') paren = paren > 0 ? paren - 1 : 0;
        else if ((c == ',' || c == ';') && angle == 0 && paren == 0) {
            std::string first = trimBlanks(v.substr(0, i));
            if (!first.empty()) return first;
        }
    }
    return trimBlanks(v);
}

std::string headerText(std::string_view raw) {
    // Raw 8-bit UTF-8 in a header (no encoded words) is converted as well.
    if (isUtf8Text(raw)) return decodeEncodedWords(charsetToCp1252(raw, "UTF-8"));
    return decodeEncodedWords(raw);
}

bool mimeHeaderLine(const LineQueue& q, size_t i, std::string_view up, HeaderStyle style, MailHeaders& h,
                    bool& notText) {
    if (up.substr(0, 26) == "CONTENT-TRANSFER-ENCODING:") {
        h.enc.transferEncoding = upper(headerValue(q, i, 26, 60));
        return true;
    }
    if (up.substr(0, 13) != "CONTENT-TYPE:") return false;
    std::string full = headerValue(q, i, 13, 1000);
    std::string vu = upper(full);
    if (vu.rfind("TEXT/HTML", 0) == 0) {
        h.contentKind = ContentHtml;
    } else if (vu.rfind("TEXT/ENRI", 0) == 0) {
        h.contentKind = ContentEnriched;
    } else if (vu.rfind("MULTIPART", 0) == 0) {
        if (style == HeaderStyle::Eudora) {
            if (vu.rfind("MULTIPART/ALTERNATIVE", 0) == 0) h.contentKind = ContentHtml;
        } else if (vu.rfind("MULTIPART/DIGEST", 0) != 0) {
            h.multipart = true;
            // The boundary may stand on this line or on a folded one after it.
            if (auto b = findBoundary(full, vu, 0)) h.boundary = *b;
        }
    }
    size_t cs = vu.find("CHARSET=");
    if (cs != std::string::npos) {
        size_t p = cs + 8;
        if (p < full.size() && full[p] == '"') ++p;
        size_t e2 = p;
        while (e2 < full.size() && full[e2] != '"' && full[e2] != ';' && !isBlank(full[e2])) ++e2;
        h.enc.charset = upper(full.substr(p, e2 - p));
    }
    if (h.contentKind == ContentPlain && !h.multipart && vu.rfind("TEXT/", 0) != 0 && !vu.empty() &&
        vu.rfind("MULTIPART", 0) != 0)
        notText = true;
    return true;
}

void parseMailHeaders(const LineQueue& q, size_t first, HeaderStyle style, MailHeaders& h) {
    h = MailHeaders{};
    bool notText = false;
    size_t i = first;
    for (; i < q.size(); ++i) {
        const TQEntry& e = q[i];
        if (e.LEN == 0) break;
        const std::string& l = e.LINE;
        if (style == HeaderStyle::Eudora && l.size() >= 5 && l.compare(0, 5, "     ") == 0) continue;
        if (isBlank(l[0])) continue;
        HeaderStart hs;
        std::string_view up = hs.set(l);
        auto starts = [&](std::string_view k) { return up.substr(0, k.size()) == k; };
        if (!h.haveFrom && starts("FROM:")) {
            h.from = headerValue(q, i, 5);
            h.haveFrom = true;
        } else if (!h.haveDate && starts("DATE:")) {
            h.date = headerValue(q, i, 5, 100);
            h.haveDate = true;
        } else if (!h.haveSubject && starts("SUBJECT:")) {
            h.subject = headerValue(q, i, 8);
            h.haveSubject = true;
        } else if (!h.haveTo && starts("TO:")) {
            h.to = headerValue(q, i, 3);
            h.haveTo = true;
        } else if (style == HeaderStyle::Common && starts("NEWSGROUPS:")) {
            h.newsgroups = true;
        } else {
            mimeHeaderLine(q, i, up, style, h, notText);
        }
    }
    if (notText) h.enc.transferEncoding.clear();  // not text: nothing is decoded
    if (i < q.size()) ++i;  // the empty line
    h.bodyStart = i;
    // The first of a list of addresses, before encoded words may bring commas in.
    h.from = headerText(firstRecipient(h.from));
    h.to = headerText(firstRecipient(h.to));
    h.subject = headerText(h.subject);
}

std::string messageText(LineQueue& q, const MailHeaders& h, bool decode) {
    if (h.bodyStart >= q.size()) return {};
    if (h.multipart && !h.boundary.empty()) {
        PartInfo info;
        selectPart(q, h.bodyStart, h.boundary, &info);
        if (!decode) info = PartInfo{info.html, {}, {}};
        return buildMessageText(q, h.bodyStart, info.html ? ContentHtml : ContentPlain, info);
    }
    // A multipart body whose boundary cannot be found is kept whole as text.
    return buildMessageText(q, h.bodyStart, h.multipart ? ContentPlain : h.contentKind, decode ? h.enc : PartInfo{});
}

// ---------------------------------------------------------------- addresses

void parseAddress(std::string_view valueIn, std::string& address, std::string& name) {
    std::string v = trimBlanks(valueIn);
    address.clear();
    name.clear();
    if (v.find('@') == std::string::npos) {
        address = v;
    } else if (!v.empty() && v.back() == '>') {
        size_t lt = v.rfind('<');
        if (lt == std::string::npos) {
            address = v;
        } else {
            address = v.substr(lt + 1, v.size() - lt - 2);
            name = v.substr(0, lt);
        }
    } else {
        size_t at = v.find('@');
        size_t blank = v.find_first_of(" \t", at);
        if (blank != std::string::npos) {
            address = v.substr(0, blank);
            name = v.substr(blank + 1);
        } else {
            size_t back = v.find_last_of(" \t", at);
            if (back != std::string::npos) {
                address = v.substr(back + 1);
                name = v.substr(0, back);
            } else {
                address = v;
            }
        }
    }
    name = trimBlanks(name);
    for (int round = 0; round < 2; ++round) {
        if (name.size() >= 2 && ((name.front() == '"' && name.back() == '"') ||
                                 (name.front() == '(' && name.back() == ')')))
            name = trimBlanks(name.substr(1, name.size() - 2));
    }
    address = lower(trimBlanks(address));
    if (address.size() >= 2 && address.front() == '<' && address.back() == '>')
        address = address.substr(1, address.size() - 2);
    address = cut(address, 60);
    name = cut(name, 40);
}

std::string subjectHeading(std::string_view value) {
    std::string s = trimBlanks(value);
    if (s.size() >= 3 && upper(s.substr(0, 3)) == "RE:") s = trimBlanks(s.substr(3));
    return cut(s, 50);
}

// -------------------------------------------------------------------- dates

namespace {

// 1-based character access; '\0' beyond the end.
char at1(std::string_view s, size_t pos) { return pos >= 1 && pos <= s.size() ? s[pos - 1] : '\0'; }

int digitsAt(std::string_view s, size_t pos1, size_t count, bool* ok = nullptr) {
    int v = 0;
    bool any = false;
    for (size_t k = 0; k < count; ++k) {
        char c = at1(s, pos1 + k);
        if (c < '0' || c > '9') break;
        v = v * 10 + (c - '0');
        any = true;
    }
    if (ok) *ok = any;
    return v;
}

int32_t parseClock(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && isBlank(s[i])) ++i;
    auto num = [&](int& v) {
        v = 0;
        size_t st = i;
        while (i < s.size() && i - st < 2 && s[i] >= '0' && s[i] <= '9') v = v * 10 + (s[i++] - '0');
        return i > st;
    };
    int h, m, sec = 0;
    if (!num(h) || i >= s.size() || s[i] != ':') return 0;
    ++i;
    if (!num(m)) return 0;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!num(sec)) sec = 0;
    }
    return clockTime(h, m, sec);
}

void finish(int day, int month, int year, std::string_view timeText, int32_t& date, int32_t& time) {
    date = 0;
    time = 0;
    if (month == 0 || day == 0) return;
    int32_t d = dayNumber(fullYear(year), month, day);
    if (d == 0) return;
    date = d;
    time = parseClock(timeText);
}

std::string_view from1(std::string_view s, size_t pos1) { return pos1 >= 1 && pos1 <= s.size() ? s.substr(pos1 - 1) : std::string_view(); }

std::vector<std::string> words(std::string_view s) {
    std::vector<std::string> w;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && isBlank(s[i])) ++i;
        size_t st = i;
        while (i < s.size() && !isBlank(s[i])) ++i;
        if (i > st) w.emplace_back(s.substr(st, i - st));
    }
    return w;
}

// The digits at the start of s; a longer run stops at kNumberCap, which no
// day or year takes.
constexpr int kNumberCap = 100000;
int leadingNumber(std::string_view s) {
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        v = std::min(v * 10 + (c - '0'), kNumberCap);
    }
    return v;
}

} // namespace

void parseDateCommon(std::string_view value, int32_t& date, int32_t& time) {
    date = time = 0;
    std::string s = upper(trimBlanks(value));
    if (s.empty()) return;
    char c2 = at1(s, 2), c3 = at1(s, 3), c6 = at1(s, 6), c7 = at1(s, 7);
    if ((c3 == '-' && c7 == '-') || (c3 == ' ' && c7 == ' ')) {
        int day = digitsAt(s, 1, 2);
        int month = monthFromName(std::string(from1(s, 4).substr(0, 3)));
        bool four = at1(s, 10) != ' ' && at1(s, 10) != '\0';
        int year = digitsAt(s, 8, four ? 4 : 2);
        finish(day, month, year, from1(s, four ? 13 : 11), date, time);
        return;
    }
    if ((c2 == '-' && c6 == '-') || (c2 == ' ' && c6 == ' ')) {
        int day = digitsAt(s, 1, 1);
        int month = monthFromName(std::string(from1(s, 3).substr(0, 3)));
        bool four = at1(s, 9) != ' ' && at1(s, 9) != '\0';
        int year = digitsAt(s, 7, four ? 4 : 2);
        finish(day, month, year, from1(s, four ? 12 : 10), date, time);
        return;
    }
    size_t comma = s.find(',');
    if (comma == std::string::npos) return;
    if (comma == 3) {
        auto w = words(std::string_view(s).substr(4));
        if (w.size() < 3) return;
        int day = leadingNumber(w[0]);
        int month = monthFromName(w[1].substr(0, 3));
        int year = leadingNumber(w[2]);
        finish(day, month, year, w.size() > 3 ? std::string_view(w[3]) : std::string_view(), date, time);
    } else {
        int month = monthFromName(s.substr(0, 3));
        size_t d0 = comma;
        while (d0 > 0 && s[d0 - 1] >= '0' && s[d0 - 1] <= '9') --d0;
        int day = leadingNumber(std::string_view(s).substr(d0));
        auto w = words(std::string_view(s).substr(comma + 1));
        if (w.empty()) return;
        int year = leadingNumber(w[0]);
        finish(day, month, year, w.size() > 1 ? std::string_view(w[1]) : std::string_view(), date, time);
    }
}

void parseDateEudora(std::string_view value, int32_t& date, int32_t& time) {
    date = time = 0;
    std::string s = upper(trimBlanks(value));
    if (at1(s, 4) == ',') s = trimBlanks(std::string_view(s).substr(std::min<size_t>(5, s.size())));
    if (s.empty()) return;
    if (at1(s, 2) == ' ') s = "0" + s;
    int day = digitsAt(s, 1, 2);
    int month = monthFromName(std::string(from1(s, 4).substr(0, 3)));
    bool four = at1(s, 10) != ' ' && at1(s, 10) != '\0';
    int year = digitsAt(s, 8, four ? 4 : 2);
    finish(day, month, year, from1(s, four ? 13 : 11), date, time);
}

void parseEudoraSeparatorDate(std::string_view line, int32_t& date, int32_t& time) {
    date = time = 0;
    auto w = words(from1(line, 18));
    if (w.size() < 4) return;
    int month = monthFromName(upper(w[0]).substr(0, 3));
    int day = leadingNumber(w[1]);
    int year = leadingNumber(w[3]);
    finish(day, month, year, w[2], date, time);
}

} // namespace qb
