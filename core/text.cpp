#include "core/text.h"

#include <cstring>
#include "core/fixedstr.h"

namespace qb {

namespace {
// Unicode code points of 0x80..0x9F in Windows-1252 (0 = undefined).
const unsigned short k80[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};
}

unsigned char upper1252(unsigned char c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
    switch (c) {
    case 0x9A: return 0x8A;  // š
    case 0x9C: return 0x8C;  // œ
    case 0x9E: return 0x8E;  // ž
    case 0xFF: return 0x9F;  // ÿ
    default: return c;
    }
}

unsigned char lower1252(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    switch (c) {
    case 0x8A: return 0x9A;
    case 0x8C: return 0x9C;
    case 0x8E: return 0x9E;
    case 0x9F: return 0xFF;
    default: return c;
    }
}

std::string upper(std::string_view s) {
    std::string r(s);
    for (auto& ch : r) ch = static_cast<char>(upper1252(static_cast<unsigned char>(ch)));
    return r;
}

std::string lower(std::string_view s) {
    std::string r(s);
    for (auto& ch : r) ch = static_cast<char>(lower1252(static_cast<unsigned char>(ch)));
    return r;
}

namespace {
// upper1252 of every byte, for the comparisons that keys run millions of times.
struct UpperTable {
    unsigned char t[256];
    UpperTable() {
        for (int c = 0; c < 256; ++c) t[c] = upper1252(static_cast<unsigned char>(c));
    }
};
const UpperTable kUpper;
} // namespace

int compare1252(std::string_view a, std::string_view b, bool nocase) {
    a = rtrim(a);
    b = rtrim(b);
    size_t n = a.size() < b.size() ? a.size() : b.size();
    const auto* x = reinterpret_cast<const unsigned char*>(a.data());
    const auto* y = reinterpret_cast<const unsigned char*>(b.data());
    if (nocase) {
        for (size_t i = 0; i < n; ++i) {
            unsigned char p = kUpper.t[x[i]], q = kUpper.t[y[i]];
            if (p != q) return p < q ? -1 : 1;
        }
    } else if (n) {
        if (int c = std::memcmp(x, y, n)) return c < 0 ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string toUtf8(std::string_view s) {
    std::string r;
    r.reserve(s.size());
    for (unsigned char c : s) {
        unsigned cp = c;
        if (c >= 0x80 && c < 0xA0) cp = k80[c - 0x80] ? k80[c - 0x80] : '?';
        if (cp < 0x80) r += static_cast<char>(cp);
        else if (cp < 0x800) { r += static_cast<char>(0xC0 | (cp >> 6)); r += static_cast<char>(0x80 | (cp & 0x3F)); }
        else {
            r += static_cast<char>(0xE0 | (cp >> 12));
            r += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            r += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return r;
}

std::string fromUtf8(std::string_view s) {
    std::string r;
    r.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        unsigned cp;
        size_t len;
        if (c < 0x80) { cp = c; len = 1; }
        else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) { cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F); len = 2; }
        else if ((c & 0xF0) == 0xE0 && i + 2 < s.size()) {
            cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            len = 3;
        } else if ((c & 0xF8) == 0xF0 && i + 3 < s.size()) { cp = 0x10000; len = 4; }
        else { cp = '?'; len = 1; }
        i += len;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) { r += static_cast<char>(cp); continue; }
        char out = '?';
        for (int k = 0; k < 32; ++k)
            if (k80[k] == cp) { out = static_cast<char>(0x80 + k); break; }
        r += out;
    }
    return r;
}

std::string verbatim(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '|') out += kVerbatimMark;
        out += c;
    }
    return out;
}

std::string unmarked(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == kVerbatimMark && i + 1 < text.size() && text[i + 1] == '|')) out += text[i];
    return out;
}

} // namespace qb
