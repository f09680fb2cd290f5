// What a word is: the four character-class tables, the junk test, breaking a
// text or a query into words, and the parts of a message that are indexed
// (thread heading or subject, body without the footer or the mail headers).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

// 0 = allowed, 1 = not: before a word (skipped), inside a word (ends it), at
// the end of a word (stripped). IsJunkHash: 0 letter, 1 numeric, 2 number
// decoration, 3 hexadecimal letter.
extern uint8_t StartWordHash[256];
extern uint8_t InWordHash[256];
extern uint8_t EndWordHash[256];
extern uint8_t IsJunkHash[256];

void setDefaultWordTables();
// Control rows 11-16 (1,024 bytes in consecutive 200-byte slices). Loading
// adds a missing row from the defaults, takes the start, inside and end
// tables from the stored rows (the junk table keeps its defaults) and falls
// back to the defaults when row 16 cannot be read. False when the control
// table cannot be used.
bool loadWordTables();
bool saveWordTables();
// While an indexing run has set the circumflex entry of the start table, its
// value from before the run (stored instead); 0xFF when no run is active.
extern uint8_t circumflexOutsideRun;

// The word-index settings (control row 10).
struct WordIndexSettings {
    std::string indexRoot;             // empty: the data directory
    uint8_t indexNumbers = 1;
    int32_t searchPauseCount = 10000;
    uint8_t indexForumFooters = 0;
    uint8_t indexNewsFooters = 0;
    uint8_t autoStopForum = 1;
    uint8_t autoStopNews = 1;
    uint8_t autoStopMail = 1;
};
// With reload the settings record (and the tables) are read from the control
// table first; else the values loaded last are given.
bool readWordIndexSettings(WordIndexSettings& out, bool reload = true);
bool writeWordIndexSettings(const WordIndexSettings& in);

// The junk test on an upper-cased word: the length (2 to 39), then a word
// of letters only is always accepted, and a word of the number classes alone
// (digits, signs, periods, colons, brackets, A-F, H, M, P, X) is taken as a
// number, a time or a date.
bool wordAccepted(const unsigned char* w, size_t len, bool indexNumbers);

// The version of the rules by which words are indexed, stored with every word
// index; an index built under an older one is built again by its next run.
// 1: words of letters from the number classes only (CACHE) were left out.
// 2: a word of letters only is always indexed.
constexpr int kWordRuleVersion = 2;

// Why an upper-cased query word can never be in a word index.
enum class QueryWordFault { None, TooShort, TooLong, Junk };
QueryWordFault queryWordFault(std::string_view word);

// Upper case of the single-byte character set.
extern const unsigned char kUpper1252[256];

// The words of text by three class tables (blanks before a word, characters
// that end it, characters dropped from its end): calls onSpan(start, length)
// for every word, start counting from 0 in text.
template <class F>
void scanWordSpans(std::string_view text, const uint8_t* startClass, const uint8_t* inClass, const uint8_t* endClass,
                   F&& onSpan) {
    const unsigned char* t = reinterpret_cast<const unsigned char*>(text.data());
    const long n = static_cast<long>(text.size());
    long s = 0;
    for (;;) {
        while (s < n && startClass[t[s]] == 1) ++s;
        if (s >= n) break;
        long e = s + 1;
        unsigned char prev = t[s];
        while (e < n) {
            unsigned char c = t[e];
            if (c == '.' && prev == '.') { e -= 2; break; }
            prev = c;
            if (inClass[c] == 1) { --e; break; }
            ++e;
        }
        if (e >= n) e = n - 1;
        while (e >= s && endClass[t[e]] == 1) --e;
        if (e < s) { ++s; continue; }
        onSpan(s, e - s + 1);
        s = e + 1;
    }
}

// Breaks text (upper-casing each word) and calls onWord(const char*, size_t
// length, size_t start) for every word that passes the junk test; start
// counts from 0 in text. With junk false every word is passed.
template <class F>
void breakWords(std::string_view text, bool junk, bool indexNumbers, F&& onWord) {
    const unsigned char* t = reinterpret_cast<const unsigned char*>(text.data());
    unsigned char buf[64];
    scanWordSpans(text, StartWordHash, InWordHash, EndWordHash, [&](long s, long len) {
        if (!junk) {
            std::string w(reinterpret_cast<const char*>(t + s), static_cast<size_t>(len));
            for (auto& ch : w) ch = static_cast<char>(kUpper1252[static_cast<unsigned char>(ch)]);
            onWord(w.data(), w.size(), static_cast<size_t>(s));
        } else if (len >= 2 && len <= 39) {
            for (long i = 0; i < len; ++i) buf[i] = kUpper1252[t[s + i]];
            if (wordAccepted(buf, static_cast<size_t>(len), indexNumbers))
                onWord(reinterpret_cast<const char*>(buf), static_cast<size_t>(len), static_cast<size_t>(s));
        }
    });
}

// The words of a query: wildcards ? and * are word characters, no junk or
// length test, upper-cased and cut to 40 characters.
std::vector<std::string> breakQuery(std::string_view text);

// End (exclusive, from 0) of a forum or newsgroup body without its footer.
size_t bodyEndWithoutFooter(std::string_view body);
// The range of a mail body that is indexed, without Internet headers and
// non-plain MIME parts. False when nothing of the body is indexed.
bool mailBodyRange(std::string_view body, size_t& begin, size_t& end);

} // namespace qb
