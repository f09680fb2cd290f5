#include "internet/mime.h"

#include <iconv.h>
#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "core/fixedstr.h"
#include "core/text.h"

namespace qb {

namespace {

bool startsWith(std::string_view s, std::string_view p) { return s.size() >= p.size() && s.substr(0, p.size()) == p; }

bool startsWithNoCase(std::string_view s, std::string_view upperPrefix) {
    if (s.size() < upperPrefix.size()) return false;
    for (size_t i = 0; i < upperPrefix.size(); ++i)
        if (upper1252(static_cast<unsigned char>(s[i])) != static_cast<unsigned char>(upperPrefix[i])) return false;
    return true;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isRemoved(const TQEntry& e) { return e.LINE.size() >= RemoveMarkerLen && startsWith(e.LINE, RemoveMarker); }

void markRemoved(TQEntry& e) {
    e.LINE = RemoveMarker;
    e.LEN = static_cast<uint32_t>(RemoveMarkerLen);
    e.SPLITLINE = 0;
}

// The value of a "NAME=" parameter (quoted or not) in an upper-case header
// line; the value is taken from the line as read.
std::string paramValue(std::string_view line, std::string_view upperLine, std::string_view name) {
    size_t at = upperLine.find(name);
    if (at == std::string_view::npos) return {};
    size_t p = at + name.size();
    while (p < line.size() && isBlank(line[p])) ++p;
    std::string v;
    if (p < line.size() && line[p] == '"') {
        ++p;
        while (p < line.size() && line[p] != '"') v += line[p++];
    } else {
        while (p < line.size() && line[p] != ';' && !isBlank(line[p])) v += line[p++];
    }
    return v;
}

void trimRight(std::string& s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
}

} // namespace

// ------------------------------------------------------------ boundary search

std::optional<std::string> findBoundary(std::string_view line, std::string_view up, size_t start) {
    if (line.size() < 10 || up.size() != line.size()) return std::nullopt;
    constexpr std::string_view key = "BOUNDARY=";
    size_t limit = line.size() - key.size();  // the last start that leaves room for the keyword
    size_t at = std::string_view::npos;
    for (size_t p = start; p <= limit; ++p)
        if (up.substr(p, key.size()) == key) { at = p; break; }
    if (at == std::string_view::npos) return std::nullopt;
    std::string b;
    size_t p = at + key.size();
    if (p < line.size() && line[p] == '"') {
        // A quoted boundary ends at its closing quote, whatever parameters follow.
        ++p;
        while (p < line.size() && line[p] != '"') b += line[p++];
    } else {
        // An unquoted one ends at the first ";" or blank (RFC 2045 token).
        while (p < line.size() && line[p] != ';' && !isBlank(line[p])) b += line[p++];
    }
    trimRight(b);
    if (b.empty()) return std::nullopt;
    if (b.size() > MIME_BOUNDARY_MAX) b.resize(MIME_BOUNDARY_MAX);
    return b;
}

std::optional<std::string> findBoundary(std::string_view line, size_t start) {
    std::string up = upper(line);
    return findBoundary(line, up, start);
}

// ------------------------------------------------------------ part selection

bool selectPart(LineQueue& q, size_t first, const std::string& boundary) {
    return selectPart(q, first, boundary, nullptr);
}

bool selectPart(LineQueue& q, size_t first, const std::string& boundaryIn, PartInfo* info) {
    std::string boundary = boundaryIn;
    bool inHeaders = false, textSeen = false, removing = false, restRemoved = false, nestedWanted = false;
    bool html = false;
    bool currentIsText = false;  // the part whose headers are being read is the kept text part
    PartInfo kept;
    for (size_t i = first; i < q.size(); ++i) {
        TQEntry& e = q[i];
        if (restRemoved) {
            markRemoved(e);
            continue;
        }
        if (inHeaders) {
            std::string up = upper(e.LINE);
            if (startsWith(up, "CONTENT-TYPE")) {
                size_t from = 12, to = std::min<size_t>(up.size(), 35);
                std::string_view zone = from < to ? std::string_view(up).substr(from, to - from) : std::string_view();
                size_t at;
                if (!textSeen && zone.find("TEXT/PLAIN") != std::string_view::npos) {
                    textSeen = true;
                    html = false;
                    removing = false;
                    currentIsText = true;
                } else if (!textSeen && zone.find("TEXT/HTML") != std::string_view::npos) {
                    textSeen = true;
                    html = true;
                    removing = false;
                    currentIsText = true;
                } else if ((at = zone.find("MULTIPART/ALTERNATIVE")) != std::string_view::npos ||
                           (at = zone.find("MULTIPART/RELATED")) != std::string_view::npos) {
                    size_t nameLen = zone.substr(at, 21) == "MULTIPART/ALTERNATIVE" ? 21 : 17;
                    nestedWanted = true;
                    if (auto b = findBoundary(e.LINE, up, from + at + nameLen)) {
                        boundary = *b;
                        nestedWanted = false;
                    }
                }
                if (currentIsText) {
                    std::string cs = paramValue(e.LINE, up, "CHARSET=");
                    if (!cs.empty()) kept.charset = upper(cs);
                }
            } else if (e.LEN == 0) {
                inHeaders = false;
                nestedWanted = false;
                if (currentIsText) kept.partFirst = i + 1;
            } else {
                if (nestedWanted && e.LINE.size() > 9) {
                    if (auto b = findBoundary(e.LINE, up, 0)) {
                        boundary = *b;
                        nestedWanted = false;
                    }
                }
                if (currentIsText) {
                    if (startsWith(up, "CONTENT-TRANSFER-ENCODING:")) {
                        std::string v(rtrim(std::string_view(up).substr(26)));
                        size_t s = v.find_first_not_of(" \t");
                        kept.transferEncoding = s == std::string::npos ? std::string() : v.substr(s);
                    } else if (isBlank(e.LINE[0]) && kept.charset.empty()) {
                        std::string cs = paramValue(e.LINE, up, "CHARSET=");
                        if (!cs.empty()) kept.charset = upper(cs);
                    }
                }
            }
            markRemoved(e);
            continue;
        }
        // A boundary line is the boundary itself or "--" and the boundary at the
        // start of the line (text that merely holds the boundary is no match).
        bool match = false;
        if (!boundary.empty() && e.LINE.size() >= boundary.size()) {
            if (e.LINE.size() == boundary.size())
                match = e.LINE == boundary;
            else
                match = e.LINE.size() >= boundary.size() + 2 && e.LINE[0] == '-' && e.LINE[1] == '-' &&
                        e.LINE.compare(2, boundary.size(), boundary) == 0;
        }
        if (match) {
            if (textSeen) {
                restRemoved = true;
                if (kept.partEnd > i) kept.partEnd = i;
            } else {
                inHeaders = true;
                removing = true;
            }
            currentIsText = false;
            markRemoved(e);
        } else if (removing) {
            markRemoved(e);
        }
    }
    kept.html = textSeen && html;
    // Without a text part there is nothing to decode: what is left is preamble.
    if (!textSeen) kept.partFirst = kept.partEnd = q.size();
    if (info) *info = kept;
    return kept.html;
}

// --------------------------------------------------------------- body builder

std::string buildBody(const LineQueue& q, size_t first, size_t last, int contentKind) {
    std::string out;
    if (q.empty()) return out;
    if (last >= q.size()) last = q.size() - 1;
    size_t total = 0;
    for (size_t i = first; i <= last; ++i) total += q[i].LINE.size() + 2;
    out.reserve(std::min(total, MSGTEXT_MAX));
    bool started = false;
    for (size_t i = first; i <= last && i < q.size(); ++i) {
        const TQEntry& e = q[i];
        if (isRemoved(e)) continue;
        if (!started) {
            if (e.LEN == 0) continue;
            started = true;
        }
        size_t need = e.LINE.size() + (e.SPLITLINE ? 0 : 2);
        if (out.size() + need > MSGTEXT_MAX) {
            if (out.size() + 2 <= MSGTEXT_MAX) {
                size_t room = MSGTEXT_MAX - 2 - out.size();
                out.append(e.LINE, 0, std::min(room, e.LINE.size()));
                out += "\r\n";
            }
            break;
        }
        out += e.LINE;
        if (!e.SPLITLINE) out += "\r\n";
    }
    // A message text holds no NUL bytes (binary junk in a text part).
    if (std::memchr(out.data(), '\0', out.size()))
        for (char& c : out)
            if (c == '\0') c = ' ';
    if (contentKind == ContentHtml) {
        htmlToText(out);
    } else if (contentKind == ContentEnriched) {
        enrichedToText(out);
    } else {
        std::string head = upper(std::string_view(out).substr(0, std::min<size_t>(8, out.size())));
        if (head.find("HTML") != std::string::npos) htmlToText(out);
    }
    return out;
}

std::string buildBody(const LineQueue& q, size_t first, int contentKind) {
    return buildBody(q, first, q.empty() ? 0 : q.size() - 1, contentKind);
}

// --------------------------------------------------------- quoted-printable

std::optional<char> decodeQpPair(char a, char b) {
    if (a == '3' && b == 'D') return '=';
    if ((a == '2' && b == '0') || (a == '0' && b == '9')) return ' ';
    static const char* hi = "89ABCDEF";
    static const char* lo = "0123456789ABCDEF";
    const char* pa = a ? std::strchr(hi, a) : nullptr;
    const char* pb = b ? std::strchr(lo, b) : nullptr;
    if (!pa || !pb) return std::nullopt;
    return static_cast<char>(0x80 + 16 * (pa - hi) + (pb - lo));
}

std::string decodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (c != '=') {
            out += c;
            continue;
        }
        // A soft line break: "=" (and blanks) at the end of a line or of the text.
        size_t j = i + 1;
        while (j < n && isBlank(text[j])) ++j;
        if (j == n) break;
        if (text[j] == '\r' || text[j] == '\n') {
            if (text[j] == '\r' && j + 1 < n && text[j + 1] == '\n') ++j;
            i = j;
            continue;
        }
        if (i + 2 < n) {
            if (auto d = decodeQpPair(text[i + 1], text[i + 2])) {
                out += *d;
                i += 2;
                continue;
            }
        }
        out += '=';
    }
    return out;
}

bool isUtf8Text(std::string_view s) {
    bool multi = false;
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (len == 0 || i + len > n) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        unsigned char c1 = static_cast<unsigned char>(s[i + 1]);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F))
            return false;  // overlong forms and surrogates
        multi = true;
        i += len;
    }
    return multi;
}

void pushText(LineQueue& lines, std::string_view text) {
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        size_t end = nl == std::string_view::npos ? text.size() : nl;
        size_t keep = end;
        if (keep > at && text[keep - 1] == '\r') --keep;
        pushLine(lines, std::string(text.substr(at, keep - at)));
        at = nl == std::string_view::npos ? text.size() : nl + 1;
    }
}

std::string buildMessageText(const LineQueue& q, size_t first, int contentKind, const PartInfo& enc) {
    const bool b64 = enc.transferEncoding.rfind("BASE64", 0) == 0;
    const bool qp = enc.transferEncoding.rfind("QUOTED-PRINTABLE", 0) == 0;
    std::string cs = upper(enc.charset);
    bool convert = !cs.empty() && cs != "US-ASCII" && cs != "ISO-8859-1" && cs != "WINDOWS-1252";
    if (!b64 && !qp && !convert) {
        // 8-bit text labelled (or taken) as Latin-1 that is well-formed UTF-8 is UTF-8.
        bool high = false;
        for (size_t i = first; i < q.size() && !high; ++i)
            for (unsigned char c : q[i].LINE)
                if (c >= 0x80) { high = true; break; }
        if (!high) return buildBody(q, first, contentKind);
    }
    const size_t partFirst = std::max(first, enc.partFirst);
    const size_t partEnd = std::min(q.size(), enc.partEnd);
    LineQueue lines;
    // The kept lines before the part (a preamble) as they are.
    for (size_t i = first; i < partFirst && i < q.size(); ++i)
        if (!isRemoved(q[i])) lines.push_back(q[i]);
    // The part itself, decoded on its own.
    std::string joined;
    bool started = false;
    for (size_t i = partFirst; i < partEnd; ++i) {
        const TQEntry& e = q[i];
        if (isRemoved(e)) continue;
        if (!started) {
            if (e.LEN == 0) continue;
            started = true;
        }
        joined += e.LINE;
        if (!e.SPLITLINE) joined += "\r\n";
        if (joined.size() > 16 * MSGTEXT_MAX) break;  // far more than a message text holds
    }
    if (b64) joined = decodeBase64(joined);
    else if (qp) joined = decodeQuotedPrintable(joined);
    if (convert)
        joined = charsetToCp1252(joined, cs);
    else if (isUtf8Text(joined))
        joined = charsetToCp1252(joined, "UTF-8");
    pushText(lines, joined);
    // Kept lines after the part as they are.
    for (size_t i = std::max(partEnd, partFirst); i < q.size(); ++i)
        if (!isRemoved(q[i])) lines.push_back(q[i]);
    return buildBody(lines, 0, contentKind);
}

// -------------------------------------------------------------------- base64

std::string decodeBase64(std::string_view text) {
    static int8_t map[256];
    static std::once_flag once;
    std::call_once(once, [] {
        std::memset(map, -1, sizeof map);
        const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) map[static_cast<unsigned char>(a[i])] = static_cast<int8_t>(i);
    });
    std::string out;
    out.reserve(text.size() * 3 / 4);
    uint32_t acc = 0;
    int bits = 0;
    for (char ch : text) {
        if (ch == '=') break;
        int v = map[static_cast<unsigned char>(ch)];
        if (v < 0) continue;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return out;
}

// ------------------------------------------------------------- HTML to text

namespace {

bool endsWith(const std::string& s, std::string_view t) {
    return s.size() >= t.size() && std::string_view(s).substr(s.size() - t.size()) == t;
}

void spaceRule(std::string& out) {
    if (out.empty() || out.back() == ' ' || endsWith(out, "\r\n")) return;
    out += ' ';
}

void lineBreak(std::string& out) {
    if (out.empty()) return;
    if (out.back() == ' ')
        out.replace(out.size() - 1, 1, "\r\n");
    else
        out += "\r\n";
}

void paragraphBreak(std::string& out) {
    if (out.size() <= 4 || endsWith(out, "\r\n\r\n")) return;
    if (out.back() == ' ') {
        if (endsWith(out, "\r\n ")) {
            out.replace(out.size() - 1, 1, "\r\n");
        } else {
            out.replace(out.size() - 1, 1, "\r\n\r\n");
        }
    } else if (endsWith(out, "\r\n")) {
        out += "\r\n";
    } else {
        out += "\r\n\r\n";
    }
}

char pick(char first, const char* letters, const char* codes) {
    const char* p = std::strchr(letters, first);
    if (!first || !p) return 0;
    return codes[p - letters];
}

// Decodes the entity after the "&" at text[i]; on success appends the
// character and returns the number of characters consumed after the "&".
size_t decodeEntity(const std::string& text, size_t i, std::string& out) {
    size_t avail = std::min<size_t>(7, text.size() - i - 1);
    if (avail < 3) return 0;
    std::string_view w(text.data() + i + 1, avail);
    size_t semi = w.find(';');
    auto digitsValue = [](std::string_view d, int& v) {
        v = 0;
        for (char c : d) {
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        return !d.empty();
    };
    auto numeric = [&](int v) { out += v > 0 && v <= 255 ? static_cast<char>(v) : '?'; };
    if (semi == std::string_view::npos) {
        if (w.size() >= 4) {
            if (upper(w.substr(0, 4)) == "NBSP") {
                out += ' ';
                return 4;
            }
            int v;
            if (w[0] == '#' && digitsValue(w.substr(1, 3), v)) {
                numeric(v);
                return 4;
            }
        }
        return 0;
    }
    std::string_view name = w.substr(0, semi);
    if (name.empty()) return 0;
    char f = name[0];
    std::string rest = upper(name.substr(1));
    char c = 0;
    int v;
    switch (name.size()) {
        case 2:
            if ((f == 'G' || f == 'g') && rest == "T") c = '>';
            else if ((f == 'L' || f == 'l') && rest == "T") c = '<';
            break;
        case 3:
            if (name[0] == '#' && digitsValue(name.substr(1), v)) { numeric(v); return semi + 1; }
            if ((f == 'A' || f == 'a') && rest == "MP") c = '&';
            else if ((f == 'R' || f == 'r') && rest == "EG") c = '\xAE';
            else if ((f == 'S' || f == 's') && rest == "HY") c = '-';
            else if (rest == "TH") c = pick(f, "Ee", "\xD0\xF0");
            break;
        case 4:
            if (name[0] == '#' && digitsValue(name.substr(1), v)) { numeric(v); return semi + 1; }
            if ((f == 'N' || f == 'n') && rest == "BSP") c = ' ';
            else if ((f == 'Q' || f == 'q') && rest == "UOT") c = '"';
            else if ((f == 'C' || f == 'c') && rest == "OPY") c = '\xA9';
            else if (rest == "UML") c = pick(f, "aAeEiIoOuUy", "\xE4\xC4\xEB\xCB\xEF\xCF\xF6\xD6\xFC\xDC\xFF");
            break;
        case 5:
            if (rest == "CIRC") c = pick(f, "aAeEiIoOuU", "\xE2\xC2\xEA\xCA\xEE\xCE\xF4\xD4\xFB\xDB");
            else if (rest == "RING") c = pick(f, "aA", "\xE5\xC5");
            else if (rest == "ZLIG") c = pick(f, "s", "\xDF");
            else if (rest == "HORN") c = pick(f, "tT", "\xFE\xDE");
            else if (rest == "ELIG") c = pick(f, "aA", "\xE6\xC6");
            break;
        case 6:
            if (rest == "ACUTE") c = pick(f, "aAeEiIoOuUyY", "\xE1\xC1\xE9\xC9\xED\xCD\xF3\xD3\xFA\xDA\xFD\xDD");
            else if (rest == "GRAVE") c = pick(f, "aAeEiIoOuU", "\xE0\xC0\xE8\xC8\xEC\xCC\xF2\xD2\xF9\xD9");
            else if (rest == "TILDE") c = pick(f, "aAnNoO", "\xE3\xC3\xF1\xD1\xF5\xD5");
            else if (rest == "CEDIL") c = pick(f, "cC", "\xE7\xC7");
            else if (rest == "SLASH") c = pick(f, "oO", "\xF8\xD8");
            break;
        default:
            break;
    }
    if (!c) return 0;
    out += c;
    return semi + 1;
}

struct HtmlState {
    bool linkPending = false, pre = false, skipping = false, ul = false, ol = false, bullet = false;
    bool dl = false, dd = false, stop = false;
    std::string link;
};

void emitRun(std::string& run, std::string& out, HtmlState& st) {
    if (st.skipping) {
        run.clear();
        return;
    }
    // Trailing blanks go; outside preformatted text line ends and tabs as well.
    while (!run.empty() && (run.back() == ' ' || (!st.pre && (run.back() == '\r' || run.back() == '\n' ||
                                                              run.back() == '\t'))))
        run.pop_back();
    if (run.empty()) return;
    if (st.linkPending) spaceRule(out);
    if (st.dl && st.dd) out += "   ";
    if (st.bullet) {
        if (st.ul != st.ol) out += "* ";
        st.bullet = false;
    }
    for (size_t i = 0; i < run.size(); ++i) {
        char c = run[i];
        if (!st.pre) {
            if (c == '\r' && i + 1 < run.size() && run[i + 1] == '\n') {
                spaceRule(out);
                ++i;
                continue;
            }
            if (c == ' ' || c == '\n') {
                spaceRule(out);
                continue;
            }
            if (c == '\r' || c == '\t') continue;
        }
        // Entities stand for their characters in preformatted text as well.
        if (c == '&') {
            size_t used = decodeEntity(run, i, out);
            if (used) {
                i += used;
                continue;
            }
            out += '&';
            continue;
        }
        if (c == '=' && i + 2 < run.size()) {
            if (auto d = decodeQpPair(run[i + 1], run[i + 2])) {
                out += *d;
                i += 2;
                continue;
            }
        }
        out += c;
    }
    run.clear();
    if (st.linkPending) {
        spaceRule(out);
        std::string link(rtrim(st.link));
        if (!link.empty()) {
            std::string low;
            for (unsigned char ch : link) low += static_cast<char>(lower1252(ch));
            out += "[" + low + "] ";
        }
        // The link is given once, after the first text of its anchor.
        st.linkPending = false;
    }
}

void handleTag(const std::string& tagIn, std::string& out, HtmlState& st) {
    std::string tag = upper(tagIn);
    if (tag.empty() || tag[0] == '!') return;
    bool closing = tag[0] == '/';
    size_t s = closing ? 1 : 0;
    size_t e = s;
    while (e < tag.size() && tag[e] != ' ' && tag[e] != '\t' && tag[e] != '\r' && tag[e] != '\n' && tag[e] != '/')
        ++e;
    std::string name = tag.substr(s, e - s);
    if (name == "A") {
        if (closing) {
            st.linkPending = false;
        } else {
            st.linkPending = true;
            st.link.clear();
            size_t h = tag.find("HREF", e);
            if (h != std::string::npos) {
                size_t q1 = tagIn.find_first_of("\"'", h + 4);
                if (q1 != std::string::npos) {
                    size_t q2 = tagIn.find(tagIn[q1], q1 + 1);
                    if (q2 != std::string::npos) st.link = tagIn.substr(q1 + 1, std::min<size_t>(q2 - q1 - 1, 200));
                }
            }
        }
    } else if (name == "BR") {
        lineBreak(out);
    } else if (name == "B" || name == "I" || name == "U") {
        spaceRule(out);
    } else if (name == "DIV") {
        if (closing) lineBreak(out);
    } else if (name == "P" || (name == "TR" && closing) || (name == "TD" && closing)) {
        paragraphBreak(out);
    } else if (name == "LI") {
        if (!closing && (st.ul || st.ol)) {
            paragraphBreak(out);
            st.bullet = true;
        }
    } else if (name.size() == 2 && name[0] == 'H' && name[1] >= '1' && name[1] <= '6') {
        if (closing) paragraphBreak(out);
    } else if (name == "PRE" || name == "PLAINTEXT") {
        st.pre = !closing;
    } else if (name == "TITLE") {
        st.skipping = !closing;
    } else if (name == "UL" || name == "OL") {
        (name == "UL" ? st.ul : st.ol) = !closing;
        if (closing) st.bullet = false;
    } else if (name == "DL") {
        st.dl = !closing;
        if (!closing) st.dd = false;
    } else if (name == "DT" || name == "DD") {
        if (st.dl && !closing) st.dd = name == "DD";
    } else if (name == "HTML") {
        if (closing) st.stop = true;
    }
}

} // namespace

void htmlToText(std::string& text) {
    if (text.size() > MSGTEXT_MAX) text.resize(MSGTEXT_MAX);
    // A text said to be HTML that holds no tag at all is kept as it is.
    if (text.find('<') == std::string::npos) return;
    std::string out, run, tag;
    out.reserve(text.size());
    HtmlState st;
    bool inTag = false, seenLt = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '<') {
            if (inTag) {
                run += '<';
                run += tag;
                tag.clear();
                continue;
            }
            if (!run.empty()) emitRun(run, out, st);
            if (st.stop) break;
            inTag = true;
            seenLt = true;
            tag.clear();
        } else if (inTag) {
            if (c == '>') {
                inTag = false;
                handleTag(tag, out, st);
            } else if (tag.size() < 1000) {
                tag += c;
            }
        } else if (seenLt) {
            run += c;
        }
    }
    // Text after the last tag is kept as well.
    if (!st.stop) {
        if (inTag) {
            run += '<';
            run += tag;
        }
        if (!run.empty()) emitRun(run, out, st);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (out.size() > MSGTEXT_MAX) out.resize(MSGTEXT_MAX);
    text.swap(out);
}

// -------------------------------------------------------- enriched to text

void enrichedToText(std::string& text) {
    std::string out;
    out.reserve(text.size());
    bool inCmd = false;
    int param = 0;
    std::string cmd;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (!inCmd) {
            if (c == '<') {
                if (i + 1 < text.size() && text[i + 1] == '<') {
                    if (!param) out += '<';
                    ++i;
                    continue;
                }
                inCmd = true;
                cmd.clear();
                continue;
            }
            if (!param) out += c;
            continue;
        }
        if (c == '<') {
            // The earlier "<" was literal.
            if (!param) {
                out += '<';
                out += cmd;
            }
            cmd.clear();
            continue;
        }
        if (c == '>') {
            inCmd = false;
            std::string up = upper(cmd);
            bool closing = !up.empty() && up[0] == '/';
            std::string name = up.substr(closing ? 1 : 0, 5);
            if (name == "PARAM") param = closing ? (param > 0 ? param - 1 : 0) : param + 1;
            continue;
        }
        cmd += c;
    }
    if (inCmd && !param) {
        out += '<';
        out += cmd;
    }
    text.swap(out);
}

// -------------------------------------------------------------- header tests

bool isInternetHeaderLine(std::string_view line) {
    for (std::string_view k : {"SENDER:", "RECEIVED:", "MESSAGE-ID:", "FROM:", "DATE:", "SUBJECT:", "TO:"})
        if (startsWithNoCase(line, k)) return true;
    return false;
}

int mimeBodyTest(LineQueue& q, size_t first, size_t* bodyStart, PartInfo* info) {
    bool html = false;
    std::optional<std::string> boundary;
    PartInfo whole;
    size_t i = first;
    for (; i < q.size() && q[i].LEN != 0; ++i) {
        std::string up = upper(q[i].LINE);
        if (startsWith(up, "CONTENT-TRANSFER-ENCODING:")) {
            std::string v(rtrim(std::string_view(up).substr(26)));
            size_t s = v.find_first_not_of(" \t");
            whole.transferEncoding = s == std::string::npos ? std::string() : v.substr(s);
        }
        if (startsWith(up, "CONTENT-TYPE:")) {
            std::string cs = paramValue(q[i].LINE, up, "CHARSET=");
            if (cs.empty() && i + 1 < q.size() && isBlank(q[i + 1].LINE.empty() ? 'x' : q[i + 1].LINE[0]))
                cs = paramValue(q[i + 1].LINE, upper(q[i + 1].LINE), "CHARSET=");
            if (!cs.empty()) whole.charset = upper(cs);
        }
        if (startsWith(up, "CONTENT-TYPE: TEXT/HTML")) {
            html = true;
        } else if (startsWith(up, "CONTENT-TYPE: MULTIPART")) {
            if (q[i].LINE.size() > 32)
                boundary = findBoundary(q[i].LINE, up, 23);
            if (!boundary && i + 1 < q.size() && q[i + 1].LINE.size() > 9)
                boundary = findBoundary(q[i + 1].LINE, 0);
        }
    }
    while (i < q.size() && q[i].LEN == 0) ++i;
    if (bodyStart) *bodyStart = i;
    if (boundary) {
        PartInfo kept;
        bool keptHtml = selectPart(q, i, *boundary, &kept);
        if (info) *info = kept;
        return keptHtml ? ContentHtml : ContentPlain;
    }
    // The header lines stay as they are; only the body is in the declared encoding.
    whole.partFirst = i;
    if (info) *info = whole;
    if (html) return ContentHtml;
    if (i < q.size() && upper(std::string_view(q[i].LINE).substr(0, 20)).find("HTML") != std::string::npos)
        return ContentHtml;
    return ContentPlain;
}

// ----------------------------------------------------------------- charsets

namespace {

bool isSingleByteWestern(const std::string& cs) {
    return cs.empty() || cs == "US-ASCII" || cs == "ASCII" || cs == "ISO-8859-1" || cs == "ISO8859-1" ||
           cs == "LATIN1" || cs == "LATIN-1" || cs == "WINDOWS-1252" || cs == "CP1252" || cs == "X-USER-DEFINED" ||
           cs == "ISO_8859-1" || cs == "US_ASCII";
}

} // namespace

std::string charsetToCp1252(std::string_view text, std::string_view charsetIn) {
    std::string cs = upper(rtrim(charsetIn));
    while (!cs.empty() && (cs.front() == '"' || cs.front() == ' ')) cs.erase(cs.begin());
    while (!cs.empty() && (cs.back() == '"' || cs.back() == ';')) cs.pop_back();
    if (isSingleByteWestern(cs)) return std::string(text);
    bool ascii = true;
    for (unsigned char c : text)
        if (c >= 0x80 || c == 0x1B) { ascii = false; break; }
    if (ascii) return std::string(text);

    // Converters are kept per charset name, since opening one costs more than
    // converting a message. The names come from the messages, so the cache is
    // bounded, names iconv does not know are not kept, and every converter is
    // closed when the process ends.
    struct ConverterCache {
        std::map<std::string, iconv_t> open;
        void clear() {
            for (auto& [name, cd] : open) iconv_close(cd);
            open.clear();
        }
        ~ConverterCache() { clear(); }
    };
    static std::mutex mu;
    static ConverterCache cache;
    std::lock_guard<std::mutex> lock(mu);
    iconv_t cd;
    auto it = cache.open.find(cs);
    if (it != cache.open.end()) {
        cd = it->second;
    } else {
        cd = iconv_open("WINDOWS-1252//TRANSLIT", cs.c_str());
        if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
        if (cache.open.size() >= kConverterCacheSize) cache.clear();
        cache.open.emplace(cs, cd);
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // Transliteration follows the character-type locale: use one that has a
    // table whatever the process runs under, for the same result everywhere.
    static locale_t translitLocale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
        return l;
    }();
    locale_t previous = translitLocale ? uselocale(translitLocale) : static_cast<locale_t>(0);
    struct Restore {
        locale_t p;
        ~Restore() {
            if (p) uselocale(p);
        }
    } restore{previous};

    std::string out;
    out.resize(text.size() + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* o = out.data();
    size_t oLeft = out.size();
    while (inLeft > 0) {
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            size_t used = o - out.data();
            out.resize(out.size() * 2 + 16);
            o = out.data() + used;
            oLeft = out.size() - used;
        } else {
            // An invalid or incomplete sequence: one "?" for its first byte.
            if (oLeft == 0) {
                size_t used = o - out.data();
                out.resize(out.size() * 2 + 16);
                o = out.data() + used;
                oLeft = out.size() - used;
            }
            *o++ = '?';
            --oLeft;
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    out.resize(o - out.data());
    return out;
}

std::string decodeEncodedWords(std::string_view v) {
    if (v.find("=?") == std::string_view::npos) return std::string(v);
    std::string out;
    size_t i = 0;
    bool lastWasWord = false;
    std::string pendingSpace;
    while (i < v.size()) {
        if (v[i] == '=' && i + 1 < v.size() && v[i + 1] == '?') {
            size_t q1 = v.find('?', i + 2);
            size_t q2 = q1 == std::string_view::npos ? q1 : v.find('?', q1 + 1);
            size_t end = q2 == std::string_view::npos ? q2 : v.find("?=", q2 + 1);
            if (end != std::string_view::npos && q2 == q1 + 2) {
                std::string cs(v.substr(i + 2, q1 - i - 2));
                size_t star = cs.find('*');  // RFC 2231 language suffix
                if (star != std::string::npos) cs.resize(star);
                char enc = static_cast<char>(upper1252(static_cast<unsigned char>(v[q1 + 1])));
                std::string_view payload = v.substr(q2 + 1, end - q2 - 1);
                std::string raw;
                bool ok = true;
                if (enc == 'B') {
                    raw = decodeBase64(payload);
                } else if (enc == 'Q') {
                    auto hex = [](char c) -> int {
                        if (c >= '0' && c <= '9') return c - '0';
                        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
                        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
                        return -1;
                    };
                    for (size_t k = 0; k < payload.size(); ++k) {
                        char c = payload[k];
                        if (c == '_') raw += ' ';
                        else if (c == '=' && k + 2 < payload.size() &&
                                 hex(payload[k + 1]) >= 0 && hex(payload[k + 2]) >= 0) {
                            raw += static_cast<char>(hex(payload[k + 1]) * 16 + hex(payload[k + 2]));
                            k += 2;
                        } else raw += c;
                    }
                } else {
                    ok = false;
                }
                if (ok) {
                    // Blanks between two encoded words are dropped.
                    if (!lastWasWord) out += pendingSpace;
                    pendingSpace.clear();
                    out += charsetToCp1252(raw, cs);
                    lastWasWord = true;
                    i = end + 2;
                    continue;
                }
            }
        }
        if (v[i] == ' ' || v[i] == '\t') {
            pendingSpace += v[i];
            ++i;
            continue;
        }
        out += pendingSpace;
        pendingSpace.clear();
        out += v[i];
        lastWasWord = false;
        ++i;
    }
    out += pendingSpace;
    return out;
}

} // namespace qb
