#include "wordsearch/wordbreak.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "core/access.h"
#include "core/globals.h"
#include "core/readbatch.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"

namespace qb {

uint8_t StartWordHash[256];
uint8_t InWordHash[256];
uint8_t EndWordHash[256];
uint8_t IsJunkHash[256];
uint8_t circumflexOutsideRun = 0xFF;

namespace {
void setRange(uint8_t* t, int from, int to, uint8_t v) {
    for (int i = from; i <= to; ++i) t[i] = v;
}

struct DefaultsAtLoad {
    DefaultsAtLoad() { setDefaultWordTables(); }
} defaultsAtLoad;
} // namespace

const unsigned char kUpper1252[256] = {
#define R(i) static_cast<unsigned char>((i) >= 'a' && (i) <= 'z' ? (i) - 32 : ((i) >= 0xE0 && (i) <= 0xFE && (i) != 0xF7) ? (i) - 32 : (i) == 0x9A ? 0x8A : (i) == 0x9C ? 0x8C : (i) == 0x9E ? 0x8E : (i) == 0xFF ? 0x9F : (i))
#define R4(i) R(i), R(i + 1), R(i + 2), R(i + 3)
#define R16(i) R4(i), R4(i + 4), R4(i + 8), R4(i + 12)
#define R64(i) R16(i), R16(i + 16), R16(i + 32), R16(i + 48)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R16
#undef R4
#undef R
};

void setDefaultWordTables() {
    std::memset(StartWordHash, 0, 256);
    std::memset(InWordHash, 0, 256);
    std::memset(IsJunkHash, 0, 256);
    setRange(StartWordHash, 0, 47, 1);
    setRange(StartWordHash, 58, 64, 1);
    StartWordHash[91] = StartWordHash[93] = StartWordHash[95] = StartWordHash[96] = 1;
    setRange(StartWordHash, 123, 126, 1);
    setRange(StartWordHash, 133, 135, 1);
    setRange(StartWordHash, 145, 148, 1);
    StartWordHash[160] = StartWordHash[180] = 1;

    setRange(InWordHash, 0, 45, 1);
    InWordHash[47] = 1;
    setRange(InWordHash, 59, 64, 1);
    InWordHash[91] = InWordHash[93] = InWordHash[96] = 1;
    setRange(InWordHash, 123, 125, 1);
    setRange(InWordHash, 133, 135, 1);
    InWordHash[160] = InWordHash[180] = 1;

    std::memcpy(EndWordHash, InWordHash, 256);
    EndWordHash[46] = EndWordHash[58] = EndWordHash[95] = EndWordHash[126] = 1;
    setRange(EndWordHash, 145, 148, 1);

    setRange(IsJunkHash, '0', '9', 1);
    IsJunkHash[static_cast<unsigned char>('+')] = IsJunkHash[static_cast<unsigned char>('-')] =
        IsJunkHash[static_cast<unsigned char>('.')] = 1;
    setRange(IsJunkHash, 'A', 'F', 3);
    IsJunkHash[static_cast<unsigned char>('H')] = 3;
    static const int decoration[] = {':', 'M', 'P', 'X', '[', ']', 135, 160, 163, 180};
    for (int c : decoration) IsJunkHash[c] = 2;
}

namespace {
// The 1,024 stored bytes in row order: junk, start, inside, end.
void packTables(uint8_t* all) {
    std::memcpy(all, IsJunkHash, 256);
    std::memcpy(all + 256, StartWordHash, 256);
    std::memcpy(all + 512, InWordHash, 256);
    std::memcpy(all + 768, EndWordHash, 256);
}

void controlUnavailable() {
    ui().message("Fatal Error!", "The control file is not available - no access to application!", Icon::Exclamation);
}

constexpr int kFirstTableRow = 11, kLastTableRow = 16;
constexpr size_t kSlice = ControlRec::GroupSize;

void sliceOf(const uint8_t* all, int row, uint8_t* out) {
    std::memset(out, 0, kSlice);
    size_t from = static_cast<size_t>(row - kFirstTableRow) * kSlice;
    size_t n = from + kSlice <= 1024 ? kSlice : 1024 - from;
    std::memcpy(out, all + from, n);
}
} // namespace

bool loadWordTables() {
    setDefaultWordTables();
    OP_CLOSE(OpOpenShared, Control.number());
    if (!Control.isOpen()) {
        controlUnavailable();
        return false;
    }
    uint8_t defaults[1024], loaded[1024];
    packTables(defaults);
    std::memcpy(loaded, defaults, 1024);
    bool ok = true, lastRead = true;
    // The six rows are read in one read transaction; missing ones are added
    // after it, so that no write waits on a read lock of our own.
    std::vector<int> missing;
    beginReadBatch({&Control});
    for (int row = kFirstTableRow; row <= kLastTableRow; ++row) {
        Control.clearBuffer();
        CTL.ID = static_cast<uint8_t>(row);
        if (!Control.get(CTL_IdKey)) {
            if (errorCode() != ErrRecordNotFound) {
                if (row == kLastTableRow) lastRead = false;
                continue;
            }
            missing.push_back(row);
            continue;
        }
        size_t from = static_cast<size_t>(row - kFirstTableRow) * kSlice;
        size_t n = from + kSlice <= 1024 ? kSlice : 1024 - from;
        std::memcpy(loaded + from, CTL.CTLFIELD, n);
    }
    endReadBatch({&Control});
    for (int row : missing) {
        Control.clearBuffer();
        CTL.ID = static_cast<uint8_t>(row);
        sliceOf(defaults, row, CTL.CTLFIELD);
        if (!Control.add()) ok = false;
    }
    OP_CLOSE(OpClose, Control.number());
    if (!lastRead) {
        setDefaultWordTables();
    } else {
        std::memcpy(StartWordHash, loaded + 256, 256);
        std::memcpy(InWordHash, loaded + 512, 256);
        std::memcpy(EndWordHash, loaded + 768, 256);
    }
    if (!ok) controlUnavailable();
    return ok;
}

bool saveWordTables() {
    OP_CLOSE(OpOpenShared, Control.number());
    if (!Control.isOpen()) {
        controlUnavailable();
        return false;
    }
    uint8_t all[1024];
    packTables(all);
    if (circumflexOutsideRun != 0xFF) all[256 + 94] = circumflexOutsideRun;
    bool ok = true;
    for (int row = kFirstTableRow; row <= kLastTableRow && ok; ++row) {
        Control.clearBuffer();
        CTL.ID = static_cast<uint8_t>(row);
        bool found = Control.get(CTL_IdKey);
        if (!found && errorCode() != ErrRecordNotFound) { ok = false; break; }
        if (!found) {
            Control.clearBuffer();
            CTL.ID = static_cast<uint8_t>(row);
        }
        sliceOf(all, row, CTL.CTLFIELD);
        ok = found ? Control.put() : Control.add();
    }
    OP_CLOSE(OpClose, Control.number());
    if (!ok) controlUnavailable();
    return ok;
}

// ---------------------------------------------------------------- settings

bool readWordIndexSettings(WordIndexSettings& out, bool reload) {
    int32_t n = 0;
    std::string text;
    if (reload && !WSVars(1, 0, n, text)) return false;
    out = WordIndexSettings{};
    auto number = [&](int item, auto& field) {
        int32_t v = 0;
        std::string t;
        if (!WSVars(3, item, v, t)) return false;
        field = static_cast<std::remove_reference_t<decltype(field)>>(v);
        return true;
    };
    bool ok = WSVars(3, WS_IndexRoot, n, text) != 0;
    out.indexRoot = std::string(rtrim(text));
    ok = ok && number(WS_IndexNumbers, out.indexNumbers) && number(WS_SearchPauseCount, out.searchPauseCount) &&
         number(WS_IndexForumFooters, out.indexForumFooters) && number(WS_IndexNewsFooters, out.indexNewsFooters) &&
         number(WS_AutoStopForum, out.autoStopForum) && number(WS_AutoStopNews, out.autoStopNews) &&
         number(WS_AutoStopMail, out.autoStopMail);
    return ok;
}

bool writeWordIndexSettings(const WordIndexSettings& in) {
    int32_t n = 0;
    std::string text = in.indexRoot;
    bool ok = WSVars(2, WS_IndexRoot, n, text) != 0;
    auto set = [&](int item, int32_t v) {
        std::string t;
        return WSVars(2, item, v, t) != 0;
    };
    ok = ok && set(WS_IndexNumbers, in.indexNumbers) && set(WS_SearchPauseCount, in.searchPauseCount) &&
         set(WS_IndexForumFooters, in.indexForumFooters) && set(WS_IndexNewsFooters, in.indexNewsFooters) &&
         set(WS_AutoStopForum, in.autoStopForum) && set(WS_AutoStopNews, in.autoStopNews) &&
         set(WS_AutoStopMail, in.autoStopMail);
    return ok && WSVars(4, 0, n, text) != 0;
}

namespace {
// The settings load and save the tables with their own record.
const bool tableStoreRegistered = [] {
    registerWordTableStore([] { return loadWordTables() ? 1 : 0; }, [] { return saveWordTables() ? 1 : 0; });
    return true;
}();
} // namespace

// ---------------------------------------------------------------- junk test

bool wordAccepted(const unsigned char* w, size_t len, bool indexNumbers) {
    if (len < 2 || len > 39) return false;
    bool allHex = true, anyDecoration = false, lettersOnly = true;
    for (size_t i = 0; i < len; ++i) {
        uint8_t k = IsJunkHash[w[i]];
        if (k == 0) return true;
        if (i == 0 && k == 1 && !indexNumbers) return false;
        if (k != 3) allHex = false;
        if (k == 2) anyDecoration = true;
        if (w[i] < 'A' || w[i] > 'Z') lettersOnly = false;
    }
    // Letters of the number classes still make a word: CACHE, ADDED, EMBEDDED.
    // Only a word holding a digit, sign, period, colon or bracket is judged.
    if (lettersOnly) return true;
    if (anyDecoration) return false;
    return indexNumbers ? len <= 4 : allHex;
}

QueryWordFault queryWordFault(std::string_view word) {
    const auto* w = reinterpret_cast<const unsigned char*>(word.data());
    if (word.size() < 2) return QueryWordFault::TooShort;
    if (word.size() > 39) return QueryWordFault::TooLong;
    // An indexing run never starts a word with a circumflex.
    if (w[0] == '^') return QueryWordFault::Junk;
    // With numbers indexed the test lets through every word it lets through
    // without them, so a word it rejects is in no index.
    return wordAccepted(w, word.size(), true) ? QueryWordFault::None : QueryWordFault::Junk;
}

// ---------------------------------------------------------------- queries

std::vector<std::string> breakQuery(std::string_view text) {
    uint8_t start[256], in[256], end[256];
    std::memcpy(start, StartWordHash, 256);
    std::memcpy(in, InWordHash, 256);
    std::memcpy(end, EndWordHash, 256);
    for (unsigned char w : {'?', '*'}) start[w] = in[w] = end[w] = 0;
    std::vector<std::string> out;
    scanWordSpans(text, start, in, end, [&](long s, long len) {
        std::string w(text.data() + s, static_cast<size_t>(len));
        if (w.size() > 40) w.resize(40);
        for (auto& ch : w) ch = static_cast<char>(kUpper1252[static_cast<unsigned char>(ch)]);
        out.push_back(std::move(w));
    });
    return out;
}

// ---------------------------------------------------------------- footer

size_t bodyEndWithoutFooter(std::string_view body) {
    const unsigned char* t = reinterpret_cast<const unsigned char*>(body.data());
    long n = static_cast<long>(body.size());
    while (n > 0 && t[n - 1] == ' ') --n;
    // Positions count from 1 as in the rule; t[p - 1] is the character at p.
    auto at = [&](long p) { return t[p - 1]; };
    long end = n;
    long p = n;
    while (p >= 1 && StartWordHash[at(p)] == 1) --p;
    if (p < 1) return static_cast<size_t>(end);
    long w = p;
    while (w > 1 && StartWordHash[at(w - 1)] == 0) --w;
    if (p - w + 1 >= 4 && kUpper1252[at(w)] == 'R' && kUpper1252[at(w + 1)] == 'E' && kUpper1252[at(w + 2)] == 'P' &&
        kUpper1252[at(w + 3)] == 'L') {
        long lf = w - 1;
        while (lf >= 1 && at(lf) != '\n') --lf;
        if (lf >= 1) end = lf;  // a message of one line keeps it
    }
    p = end;
    while (p >= 1 && StartWordHash[at(p)] == 1) --p;
    for (;;) {
        while (p >= 1 && at(p) != '\n') --p;
        int feeds = 0;
        while (p >= 1 && at(p) < '0') {
            if (at(p) == '\n') ++feeds;
            --p;
        }
        if (p <= 1) break;
        if (feeds > 1) return static_cast<size_t>(p);
    }
    return static_cast<size_t>(end);
}

// ---------------------------------------------------------------- mail headers

namespace {
bool startsUpper(std::string_view s, size_t at, std::string_view what) {
    if (at + what.size() > s.size()) return false;
    for (size_t i = 0; i < what.size(); ++i)
        if (kUpper1252[static_cast<unsigned char>(s[at + i])] != static_cast<unsigned char>(what[i])) return false;
    return true;
}

size_t findUpper(std::string_view s, std::string_view what, size_t from, size_t limit) {
    if (limit > s.size()) limit = s.size();
    for (size_t i = from; i + what.size() <= limit; ++i)
        if (startsUpper(s, i, what)) return i;
    return std::string_view::npos;
}

size_t lineEnd(std::string_view s, size_t from) {
    size_t p = s.find('\n', from);
    return p == std::string_view::npos ? s.size() : p + 1;
}

// A line of a mail header: a field name and a colon, a folded continuation,
// or (first) the envelope line of a mailbox.
bool headerFieldLine(std::string_view s, size_t at, bool first) {
    if (at >= s.size()) return false;
    const char c0 = s[at];
    if (c0 == ' ' || c0 == '\t') return !first;
    if (first && s.compare(at, 5, "From ") == 0) return true;
    size_t i = at;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == ':') return i > at;
        if (c <= ' ' || c > '~') return false;
        ++i;
    }
    return false;
}

// The header of the first part of a MIME body kept undecoded: within the
// first 31 lines, a boundary line ("--" and a word, closed again later by
// the same line with "--" added) directly followed by a header field.
// Npos when there is none; delimiter gets the boundary line.
size_t firstMimePart(std::string_view s, size_t pos, std::string& delimiter) {
    for (int line = 0; line < 31 && pos < s.size(); ++line) {
        const size_t next = lineEnd(s, pos);
        std::string_view ln = s.substr(pos, next - pos);
        while (!ln.empty() && (ln.back() == '\n' || ln.back() == '\r')) ln.remove_suffix(1);
        bool word = ln.size() >= 4 && ln.size() <= 74 && ln.substr(0, 2) == "--" &&
                    ln.find_first_not_of('-') != std::string_view::npos;
        for (char c : ln)
            if (static_cast<unsigned char>(c) <= ' ') word = false;
        if (word && headerFieldLine(s, next, true) && s.find(std::string(ln) + "--", next) != std::string_view::npos) {
            delimiter = std::string(ln);
            return next;
        }
        pos = next;
    }
    return std::string_view::npos;
}

// Start of the text after the first empty line at or after from.
size_t afterEmptyLine(std::string_view s, size_t from) {
    size_t a = s.find("\r\n\r\n", from), b = s.find("\n\n", from);
    if (a == std::string_view::npos && b == std::string_view::npos) return std::string_view::npos;
    if (a != std::string_view::npos && (b == std::string_view::npos || a < b)) return a + 4;
    return b + 2;
}
} // namespace

bool mailBodyRange(std::string_view body, size_t& begin, size_t& end) {
    begin = 0;
    end = body.size();
    while (end > 0 && body[end - 1] == ' ') --end;
    body = body.substr(0, end);
    // Only a header block that begins the text (after empty lines) is mail
    // headers: one further down (a forwarded message, a bounce) follows the
    // writer's own words, which are indexed.
    size_t marker = std::string_view::npos, contentType = std::string_view::npos;
    size_t pos = 0;
    while (pos < body.size() && (body[pos] == '\n' || body.compare(pos, 2, "\r\n") == 0))
        pos += body[pos] == '\n' ? 1 : 2;
    // A MIME message kept undecoded: its first part's header follows a
    // preamble and a boundary line; that part is read like a header block.
    std::string delimiter;
    if (!headerFieldLine(body, pos, true)) {
        size_t part = firstMimePart(body, pos, delimiter);
        if (part != std::string_view::npos) pos = part;
    }
    const size_t blockStart = pos;
    for (int line = 0; line < 31 && pos + 15 <= body.size(); ++line) {
        if (startsUpper(body, pos, "CONTENT-TYPE:")) {
            contentType = pos;
            break;
        }
        if (marker == std::string_view::npos && (startsUpper(body, pos, "MESSAGE-ID:") || startsUpper(body, pos, "X-MAILER:")))
            marker = pos;
        if (!headerFieldLine(body, pos, line == 0)) break;
        pos = lineEnd(body, pos);
    }
    if (contentType == std::string_view::npos && marker == std::string_view::npos && delimiter.empty()) return true;

    size_t headerLine = contentType != std::string_view::npos ? contentType
                        : marker != std::string_view::npos    ? marker
                                                              : blockStart;
    size_t cutEnd = body.size();
    // A plain first part ends at the next boundary line.
    if (!delimiter.empty()) {
        for (size_t next = body.find(delimiter, blockStart); next != std::string_view::npos;
             next = body.find(delimiter, next + 1)) {
            const size_t after = next + delimiter.size();
            if (after >= body.size() || body[after] == '\r' || body[after] == '\n' || body[after] == '-') {
                cutEnd = next;
                break;
            }
        }
    }
    if (contentType != std::string_view::npos) {
        size_t colon = contentType + 13;
        if (body.size() - colon < 40) return false;
        std::string_view type = body.substr(colon, 40);
        if (findUpper(type, "TEXT/PLAIN", 0, type.size()) != std::string_view::npos) {
            // plain: fall through to the empty line
        } else if (findUpper(type, "MULTI", 0, type.size()) != std::string_view::npos) {
            size_t b = findUpper(body, "BOUNDARY=", colon, colon + 40 + 161);
            if (b == std::string_view::npos) return false;
            b += 9;
            bool quoted = b < body.size() && body[b] == '"';
            if (quoted) ++b;
            size_t e = b;
            while (e < body.size() && e - b < 40) {
                char c = body[e];
                if (c == '"' || c == '\r' || c == '\n') break;
                if (!quoted && (c == ';' || c == ' ' || c == '\t')) break;
                ++e;
            }
            std::string boundary = "--" + std::string(body.substr(b, e - b));
            if (boundary.size() <= 2) return false;
            size_t firstPlain = std::string_view::npos;
            size_t at = body.find(boundary, e);
            while (at != std::string_view::npos) {
                size_t partHead = lineEnd(body, at);
                if (body.compare(at + boundary.size(), 2, "--") == 0 || partHead >= body.size()) {
                    if (firstPlain != std::string_view::npos) cutEnd = std::min(cutEnd, at);
                    break;
                }
                bool plain = false;
                size_t q = partHead;
                for (int l = 0; l < 10 && q < body.size(); ++l) {
                    size_t le = lineEnd(body, q);
                    std::string_view ln = body.substr(q, le - q);
                    if (ln == "\r\n" || ln == "\n") break;
                    if (findUpper(ln, "TEXT/PLAIN", 0, ln.size()) != std::string_view::npos) plain = true;
                    q = le;
                }
                if (plain && firstPlain == std::string_view::npos) firstPlain = at;
                if (!plain && firstPlain != std::string_view::npos) {
                    cutEnd = std::min(cutEnd, at);
                    break;
                }
                at = body.find(boundary, partHead);
            }
            if (firstPlain == std::string_view::npos) return false;
            headerLine = firstPlain;
        } else {
            return false;
        }
    }
    size_t start = afterEmptyLine(body, headerLine);
    if (start == std::string_view::npos || start > cutEnd) return false;
    if (findUpper(body, "UUENCODE", 0, start) != std::string_view::npos) {
        size_t bg = body.find("\nbegin", start);
        if (bg != std::string_view::npos && bg < cutEnd) cutEnd = bg;
    }
    begin = start;
    end = cutEnd;
    return true;
}

} // namespace qb
