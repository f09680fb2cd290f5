// The professional search over the word index of the active database: word
// lookup (exact, wildcards, prefix, sound-alike, approximate), AND/OR/NOT
// lists, candidate loading from the rarest word with pauses, phrase
// verification, the Search table and the hit positions for highlighting.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qb {

struct ListEntry {
    std::string condition;   // "" or "NOT"
    std::string word;
    int32_t count = 0;
    int32_t id = 0;
    bool mark = false;
    bool negated() const { return condition == "NOT"; }
};

struct LookupHit {
    int32_t count = 0;
    std::string word;
    int32_t id = 0;
    bool mark = false;
};

struct LookupOptions {
    bool wholeWord = true;
    bool startsWith = false;
    bool soundex = false;
    bool approximate = false;
    int degree = 1;
    bool phrase = false;
    bool searchMemos = true;
};

// The sound-alike code; empty when the word has no code.
std::string soundexCode(std::string_view word);
// Whole-word match with '?' (one character) and '*' (any run).
bool wildcardMatch(std::string_view pattern, std::string_view word);
// The query matches a stretch of the word within `degree` edits.
bool approximateMatch(std::string_view query, std::string_view word, int degree);

// Checks the typed text against the options and the ignore list (with the
// user's messages) and breaks it into query words. False when nothing is
// left to look up.
bool prepareLookup(const std::string& text, const LookupOptions& opt, std::vector<std::string>& words);
// The indexed words matching any of the query words, in word-list order.
std::vector<LookupHit> lookupWords(const std::vector<std::string>& words, const LookupOptions& opt);
// The word-list row of one exact word (id 0 when not indexed).
LookupHit exactWord(const std::string& word);

struct ProSearchState {
    int16_t DIRTYLIST = 1;
    std::string LASTLIST;
    int64_t LEFTOFFAT = 0;               // MsgText position of the scan; 0 = start
    int32_t ANDLISTINITIALLOADDONE = 0;
    int64_t ORMASPOSITION = -1;          // MasIdx place of the last row of the OR word ORLISTPTR loaded; -1 none
    int64_t ANDMASPOSITION = -1;         // MasIdx place of the last row of the leading AND word loaded; -1 none
    int32_t ANDLISTDONE = 0;
    int32_t ANDLISTPTR = 0;
    int32_t ANDLISTCOUNT = 0;
    int32_t ORLISTDONE = 0;
    int32_t ORLISTCOUNT = 0;
    int32_t ORLISTPTR = 0;
    int16_t PHRASEMODE = 0;
    std::string SEARCHSTRING;
};

enum class SearchOutcome { Found, NothingToSearch, NoMatches, Cancelled, PhraseNotFound };

// One "Get Msgs" (or "Next Block") over the active database. The result
// holds message numbers, newest (highest) first. With ask false the search
// never pauses to ask and loads everything.
SearchOutcome runProSearch(ProSearchState& st, std::vector<ListEntry>& andList, std::vector<ListEntry>& orList,
                           const std::vector<std::string>& phrase, int kind, std::vector<uint32_t>& result,
                           std::vector<std::string>& foundWords, bool ask = true);

// The messages holding every one of the given indexed words (plain AND
// entries: no NOT, no OR words, no phrase), newest first; kind as above.
std::vector<uint32_t> searchAllWords(const std::vector<LookupHit>& words, int kind);

// Keeps the messages of result that hold at least one word of every group
// (a group: the indexed words one wildcard stands for).
void keepMessagesWithEveryGroup(std::vector<uint32_t>& result, const std::vector<std::vector<ListEntry>>& groups);

// Replaces the contents of the Search table with the result; false (with
// the storage error set) when it could not be written.
bool storeSearchResult(const std::vector<uint32_t>& result);

// Whether the master index of the active database holds any row.
bool wordIndexHasRows();

// (start, end) from 1 of every word of text equal to word / to any of words.
std::vector<std::pair<long, long>> BUILDWORDPOSQ(const std::string& word, std::string_view text);
std::vector<std::pair<long, long>> BUILDWORDPOSQ1(const std::vector<std::string>& words, std::string_view text);

// True when the words follow one another in the text (words of the text
// upper-cased, compared with the upper-cased phrase words).
bool textHasPhrase(std::string_view text, const std::vector<std::string>& phrase);

} // namespace qb
