#include "import/cis_common.h"

#include <cstring>

#include "core/dates.h"
#include "core/tables.h"
#include "core/text.h"
#include "import/persons.h"
#include "internet/mailheaders.h"
#include "internet/mime.h"

namespace qb::cis {

namespace {

// Code page 850 bytes 128-255 as Windows-1252 codes; 0x20 where Windows-1252
// has no such character (box drawing, blocks, dotless i, the double low line
// is written "=", the cedilla, degree sign and no-break space are blanked).
const unsigned char kDos850[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,  // 80
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xF8, 0xA3, 0xD8, 0xD7, 0x83,  // 90
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0xAE, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,  // A0
    0x20, 0x20, 0x20, 0x20, 0x20, 0xC1, 0xC2, 0xC0, 0xA9, 0x20, 0x20, 0x20, 0x20, 0xA2, 0xA5, 0x20,  // B0
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0xE3, 0xC3, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0xA4,  // C0
    0xF0, 0xD0, 0xCA, 0xCB, 0xC8, 0x20, 0xCD, 0xCE, 0xCF, 0x20, 0x20, 0x20, 0x20, 0xA6, 0xCC, 0x20,  // D0
    0xD3, 0xDF, 0xD4, 0xD2, 0xF5, 0xD5, 0xB5, 0xFE, 0xDE, 0xDA, 0xDB, 0xD9, 0xFD, 0xDD, 0xAF, 0xB4,  // E0
    0xAD, 0xB1, 0x3D, 0xBE, 0xB6, 0xA7, 0xF7, 0x20, 0x20, 0xA8, 0xB7, 0xB9, 0xB3, 0xB2, 0x20, 0x20,  // F0
};

bool isSep(char c) { return c == ' ' || static_cast<unsigned char>(c) == 179; }

// Trailing ">", blanks and code-179 characters removed.
std::string stripNameEnd(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == '>' || isSep(s[n - 1]))) --n;
    return std::string(s.substr(0, n));
}

std::string trimLeft(std::string_view s) {
    size_t a = 0;
    while (a < s.size() && s[a] == ' ') ++a;
    return std::string(s.substr(a));
}

// The "INTERNET" rule of the mail-style split; false when the word is absent.
bool splitInternet(std::string_view t, std::string& address, std::string& name) {
    size_t b = t.find("INTERNET");
    if (b == std::string_view::npos) return false;
    size_t rest = b + 8;
    if (rest < t.size() && t[rest] == ':') ++rest;
    address = trimRight(trimLeft(t.substr(rest)));
    name = unquote(stripNameEnd(t.substr(0, b)));
    return true;
}

} // namespace

unsigned char dosTo1252(unsigned char c) { return c < 128 ? c : kDos850[c - 128]; }

void dosToWindows(std::string& s) {
    for (auto& c : s) c = static_cast<char>(dosTo1252(static_cast<unsigned char>(c)));
}

bool isNumeric(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

uint32_t toNumber(std::string_view s) {
    if (!isNumeric(s)) return 0;
    uint64_t v = 0;
    for (char c : s) {
        if (c == ' ') continue;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 0xFFFFFFFFull) return 0;
    }
    return static_cast<uint32_t>(v);
}

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

bool startsWithNoCase(std::string_view s, std::string_view p) {
    if (s.size() < p.size()) return false;
    return upper(s.substr(0, p.size())) == upper(p);
}

std::string trimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t' || s[n - 1] == '\r')) --n;
    return std::string(s.substr(0, n));
}

void dropTrailingAtB(std::string& s) {
    s = trimRight(s);
    if (s.size() >= 2 && s.compare(s.size() - 2, 2, "@b") == 0) s = trimRight(s.substr(0, s.size() - 2));
}

std::string unquote(std::string_view s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return std::string(s.substr(1, s.size() - 2));
    return std::string(s);
}

void splitFromTo(int mode, std::string_view text, std::string& address, std::string& name) {
    std::string t = trimRight(text);
    address.clear();
    name.clear();
    if (mode == 2) {
        size_t p = t.find("CSINET");
        if (p != std::string::npos) {
            size_t after = p + 6;
            if (after < t.size() && t[after] == ':') ++after;
            address = trimLeft(t.substr(after));
            name = p < 1 ? std::string() : trimRight(t.substr(0, p));
            size_t at = address.find('@');
            if (trimRight(address).size() >= 5 && at != std::string::npos && at >= 1) address.resize(at);
            return;
        }
    }
    bool foundMark = false;
    if (t.size() > 3) {
        size_t k = std::string::npos;
        for (size_t i = t.size() - 3; i >= 1; --i)
            if (t[i] == ',' || t[i] == '.') {
                k = i;
                break;
            }
        if (k != std::string::npos) {
            foundMark = true;
            bool bracket = t.back() == ']';
            size_t e = bracket ? t.size() - 1 : t.size();  // end of the ID (exclusive)
            if (isNumeric(std::string_view(t).substr(k + 1, e - (k + 1)))) {
                t[k] = ',';
                if (k + 1 < e && t[k + 1] == ' ' && k + 1 < e - 2) {
                    t.erase(k + 1, 1);
                    --e;
                }
                size_t b = std::string::npos;
                for (size_t i = k; i-- > 0;)
                    if (isSep(t[i])) {
                        b = i;
                        break;
                    }
                size_t idStart = b == std::string::npos ? 0 : b + 1;
                if (bracket && idStart < k && t[idStart] == '[') ++idStart;
                if (isNumeric(std::string_view(t).substr(idStart, k - idStart))) {
                    address = t.substr(idStart, e - idStart);
                    name = b == std::string::npos ? std::string() : stripNameEnd(std::string_view(t).substr(0, b));
                    return;
                }
            }
            t.resize(e);
        }
    }
    // The address after the last separator and the name before it; without
    // a separator the whole text is the address.
    auto splitAtLastSeparator = [&] {
        size_t b = std::string::npos;
        for (size_t i = t.size(); i-- > 1;)
            if (isSep(t[i])) {
                b = i;
                break;
            }
        if (b == std::string::npos) {
            address = t;
            return false;
        }
        address = t.substr(b + 1);
        name = stripNameEnd(std::string_view(t).substr(0, b));
        return true;
    };
    if (!foundMark && mode == 2) {
        if (!splitAtLastSeparator()) return;
        size_t colon = address.find(':');
        if (colon != std::string::npos && colon + 1 < address.size()) address = address.substr(colon + 1);
        return;
    }
    if (mode == 1) {
        name = t;
        return;
    }
    splitAtLastSeparator();
}

void splitForumPerson(std::string_view text, std::string& address, std::string& name) {
    std::string t = trimRight(text);
    if (t.size() >= 3 && t.compare(t.size() - 3, 3, "(X)") == 0) t = trimRight(t.substr(0, t.size() - 3));
    splitFromTo(1, t, address, name);
    address.resize(std::min<size_t>(address.size(), 60));
    name.resize(std::min<size_t>(name.size(), 40));
}

void splitMailPerson(std::string_view text, std::string& address, std::string& name) {
    std::string t = trimRight(trimLeft(text));
    if (!splitInternet(t, address, name)) splitFromTo(2, t, address, name);
    if (name.empty() && address.find("INTERNET") != std::string::npos) {
        std::string a = address;
        splitInternet(a, address, name);
    }
    address.resize(std::min<size_t>(address.size(), 60));
    name.resize(std::min<size_t>(name.size(), 40));
}

int32_t readDate9(std::string_view s) {
    if (s.size() < 9) return 0;
    std::string_view dd = s.substr(0, 2), yy = s.substr(7, 2);
    if (!isNumeric(dd) || !isNumeric(yy)) return 0;
    int m = monthFromName(std::string(s.substr(3, 3)));
    return dayNumber(fullYear(static_cast<int>(toNumber(yy))), m, static_cast<int>(toNumber(dd)));
}

int32_t readClock(std::string_view s) {
    auto two = [&](size_t at, int& v) {
        if (at + 2 > s.size() || !isNumeric(s.substr(at, 2)) || s[at] == ' ') return false;
        v = static_cast<int>(toNumber(s.substr(at, 2)));
        return true;
    };
    int h = 0, m = 0, sec = 0;
    if (!two(0, h) || s.size() < 5 || s[2] != ':' || !two(3, m)) return 0;
    if (s.size() >= 8 && s[5] == ':' && !two(6, sec)) sec = 0;
    return clockTime(h, m, sec);
}

// ------------------------------------------------------------- mail owner

void MailOwner::load(const ImportContext& ctx) {
    loaded_ = true;
    qb::loadMailOwner(ctx.settings.mailDb);
    name_ = qb::mailOwner().name;
    address_ = qb::mailOwner().address;
    if (name_.empty())
        if (const TargetDb* t = ctx.target(ctx.settings.mailDb)) name_ = std::string(rtrim(t->description.substr(0, 40)));
}

bool MailOwner::isOwn(std::string_view address) const { return qb::isOwnerAddress(address); }

int MailOwner::classify(std::string& sender, std::string& receiver) const {
    return qb::classifyMail(sender, receiver);
}

std::string runForumName(const ImportContext& ctx) {
    const TargetDb* t = ctx.target(ctx.settings.forumDb ? ctx.settings.forumDb : ctx.fallbackForumDb);
    return t ? t->description : std::string();
}

uint32_t startMail(ImportContext& ctx, uint8_t mailType) {
    const TargetDb* t = ctx.target(ctx.settings.mailDb);
    NHR.FOR_DESCRIPTION.set(t ? std::string_view(t->description).substr(0, 40) : std::string_view());
    uint32_t id = ctx.newId();
    NHR.MSGNUMBER = id;
    NHR.REFNUMBER = id;
    NHR.MAILTYPE = mailType;
    NHR.RECIPTYPE.set("TO");
    return id;
}

std::string joinBody(const LineQueue& q, size_t first, size_t last) {
    std::string out;
    last = std::min(last, q.size());
    while (first < last && q[first].LEN == 0) ++first;
    for (size_t i = first; i < last; ++i) {
        const TQEntry& e = q[i];
        if (e.LINE == RemoveMarker) continue;
        size_t add = e.LINE.size() + (e.SPLITLINE ? 0 : 2);
        if (out.size() + add >= NHR_MSGTEXTMax) break;  // the rest of a too long text is cut
        out += e.LINE;
        if (!e.SPLITLINE) out += "\r\n";
    }
    return out;
}

void textToQueue(std::string_view text, LineQueue& q) { pushText(q, text); }

void cleanFilingText(std::string& text, bool mail) {
    if (text.size() >= 2 && text.compare(0, 2, "@l") == 0) text.erase(0, 2);
    // Soft breaks: "@b" before a line end is dropped.
    std::string a;
    a.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '@' && i + 1 < text.size() && text[i + 1] == 'b' && i + 2 < text.size() &&
            (text[i + 2] == '\n' || (text[i + 2] == '\r' && i + 3 < text.size() && text[i + 3] == '\n'))) {
            ++i;
            continue;
        }
        a += text[i];
    }
    // Line ends: every line feed gets exactly one carriage return in front.
    std::string b;
    b.reserve(a.size() + a.size() / 16);
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == '\n' && (b.empty() || b.back() != '\r')) b += '\r';
        b += a[i];
    }
    // Trim line ends and marks from both ends.
    auto isMark = [&](size_t i) {
        return i + 1 < b.size() && b[i] == '@' && (b[i + 1] == 'b' || b[i + 1] == 'l');
    };
    size_t s = 0, e = b.size();
    for (;;) {
        if (s < e && (b[s] == '\r' || b[s] == '\n')) ++s;
        else if (s + 2 <= e && isMark(s)) s += 2;
        else break;
    }
    for (;;) {
        if (e > s && (b[e - 1] == '\r' || b[e - 1] == '\n')) --e;
        else if (e >= s + 2 && isMark(e - 2)) e -= 2;
        else break;
    }
    text = b.substr(s, e - s);
    if (mail && isInternetHeaderLine(std::string_view(text).substr(0, 15))) {
        // A mail from the Internet, or a text that merely begins like one
        // ("To: all members", "Date: Monday"): every line stays, only the parts
        // of a MIME body that are not its text are dropped and the kept text
        // is decoded.
        LineQueue q;
        textToQueue(text, q);
        PartInfo info;
        int kind = mimeBodyTest(q, 0, nullptr, &info);
        text = buildMessageText(q, 0, kind, info);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    }
    if (text.size() > NHR_MSGTEXTMax) text.resize(NHR_MSGTEXTMax);
}

std::string afterPrefixNoCase(const std::string& s, std::string_view prefix) {
    return startsWithNoCase(s, prefix) ? s.substr(prefix.size()) : s;
}

// The stored form of an address from these files: without an "INTERNET:"
// prefix, and a CompuServe ID written with a point in its comma form.
std::string convertAddress(std::string a) {
    a = trimRight(afterPrefixNoCase(a, "INTERNET:"));
    while (!a.empty() && a[0] == ' ') a.erase(0, 1);
    size_t dot = a.find('.');
    if (dot != std::string::npos && dot > 0 && isNumeric(a.substr(0, dot)) && isNumeric(a.substr(dot + 1)) &&
        a.find('.', dot + 1) == std::string::npos)
        a[dot] = ',';
    return a;
}

// A person's name as these files give it: without enclosing quotes, and
// empty when it only repeats the address.
std::string personName(const std::string& name, const std::string& address) {
    std::string n = unquote(trimRight(name));
    return n == address || n == trimRight(address) ? std::string() : n;
}

void storeMailRecords(ImportContext& ctx, const MailOwner& owner, std::vector<Receiver> rcv, bool storeEmptyOutbox,
                      bool inboxCopiesAsCC) {
    Route rt = ctx.route(owner.name(), KindMail);
    bool outbox = NHR.MAILTYPE == 2;
    for (auto& r : rcv) {
        r.address = convertAddress(r.address);
        r.name = personName(r.name, r.address);
    }
    if (rcv.empty()) {
        if (outbox && !storeEmptyOutbox) {
            ctx.skip();
            return;
        }
        NHR.RECIPTYPE.set("NN");
        if (!outbox) {
            NHR.R_NAME.set(owner.name());
            NHR.R_CISADRESS.set(owner.address());
        }
        ctx.store(KindMail, rt);
        return;
    }
    if (!outbox) {
        NHR.R_NAME.set(owner.name());
        NHR.R_CISADRESS.set(owner.address());
        NHR.RECIPTYPE.set(rcv.size() > 1 && !inboxCopiesAsCC ? rcv[0].kind : std::string("TO"));
        bool written = ctx.store(KindMail, rt);
        if (written && rcv.size() > 1)
            for (const auto& r : rcv)
                ctx.addCarbonCopy(NHR.REFNUMBER, r.name, r.address, inboxCopiesAsCC ? std::string("CC") : r.kind);
        return;
    }
    for (size_t i = 0; i < rcv.size(); ++i) {
        if (i > 0) {
            uint32_t id = ctx.newId();
            NHR.MSGNUMBER = id;
            NHR.REFNUMBER = id;
        }
        NHR.R_NAME.set(rcv[i].name);
        NHR.R_CISADRESS.set(rcv[i].address);
        NHR.RECIPTYPE.set(rcv.size() > 1 && !inboxCopiesAsCC ? rcv[i].kind : std::string("TO"));
        ctx.store(KindMail, rt);
    }
}

} // namespace qb::cis
