#include "wordsearch/prosearch.h"

#include <algorithm>
#include <unordered_set>

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "wordsearch/wordbreak.h"

namespace qb {

namespace {
void tell(const std::string& title, const std::string& text) {
    if (!unattended()) ui().message(title, text, Icon::Exclamation);
}
bool allLetters(std::string_view w) {
    for (unsigned char c : w)
        if (c < 'A' || c > 'Z') return false;
    return true;
}
} // namespace

// ---------------------------------------------------------------- matching

std::string soundexCode(std::string_view word) {
    static const char digits[] = "01230120022455012623010202";
    if (word.empty() || !allLetters(word)) return {};
    std::string code(1, word[0]);
    char last = 0;
    for (size_t i = 1; i < word.size(); ++i) {
        char d = digits[word[i] - 'A'];
        if (d == '0') continue;
        if (d == last) continue;
        code += d;
        last = d;
    }
    return code;  // a letter alone is a code too (LEE, SHAW)
}

bool wildcardMatch(std::string_view p, std::string_view w) {
    size_t pi = 0, wi = 0, star = std::string_view::npos, mark = 0;
    while (wi < w.size()) {
        if (pi < p.size() && (p[pi] == '?' || p[pi] == w[wi])) {
            ++pi;
            ++wi;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = wi;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            wi = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

bool approximateMatch(std::string_view q, std::string_view w, int degree) {
    w = rtrim(w);
    const size_t m = q.size();
    if (m == 0 || w.size() < m) return false;
    std::vector<int> col(m + 1);
    for (size_t i = 0; i <= m; ++i) col[i] = static_cast<int>(i);
    if (col[m] <= degree) return true;
    for (char c : w) {
        int diag = col[0];  // free start: row 0 stays 0
        col[0] = 0;
        for (size_t i = 1; i <= m; ++i) {
            int up = col[i];
            int v = std::min({col[i] + 1, col[i - 1] + 1, diag + (q[i - 1] == c ? 0 : 1)});
            diag = up;
            col[i] = v;
        }
        if (col[m] <= degree) return true;
    }
    return false;
}

namespace {
bool containsWild(std::string_view w, std::string_view q, bool prefixOnly) {
    if (q.size() > w.size()) return false;
    for (size_t s = 0; s + q.size() <= w.size(); ++s) {
        bool ok = true;
        for (size_t i = 0; i < q.size() && ok; ++i) ok = q[i] == '?' || q[i] == w[s + i];
        if (ok) return true;
        if (prefixOnly) break;
    }
    return false;
}

// Whether the lookup compares whole words (wildcards allowed) rather than
// stretches of words or sound-alike codes. An asterisk switches the others off.
bool wholeWordLookup(const LookupOptions& opt, bool star) {
    if (star) return true;
    if (opt.soundex || opt.approximate || opt.startsWith) return false;
    return opt.wholeWord || opt.phrase;
}

bool isStopWord(const std::string& w) {
    StopWords.clearBuffer();
    STO.THEWORD = w;
    return StopWords.get(STO_BY_THEWORD);
}
} // namespace

bool prepareLookup(const std::string& text, const LookupOptions& opt, std::vector<std::string>& words) {
    words.clear();
    const bool star = text.find('*') != std::string::npos;
    const bool special = !star && (opt.phrase || opt.soundex || opt.approximate);
    if (special && text.find('?') != std::string::npos) {
        tell("Search Problem", "Wildcards can not be used in|phrases, soundex or approximate searches.");
        return false;
    }
    // Whole words are looked up as they are: one the index cannot hold is
    // reported rather than looked for. Partial and sound-alike lookups match
    // stretches of indexed words, so any query word may find something.
    const bool exact = wholeWordLookup(opt, star);
    std::vector<std::string> raw = breakQuery(text);
    if (raw.empty()) {
        tell("Blank Search", "No searchwords!|Please type a what you want to find or press cancel.");
        return false;
    }
    OP_CLOSE(OpOpenShared, StopWords.number());
    for (std::string& w : raw) {
        std::string clipped(rtrim(w));
        if (clipped.empty()) {
            tell("Blank Search", "Please Type a What You Want to Find or Press Cancel.");
            continue;
        }
        if (isStopWord(clipped)) {
            tell("Non-Indexed Word", "The word: " + clipped + " is a Non-Indexed Word.|It has been removed from the search.");
            continue;
        }
        if (exact && clipped.find_first_of("*?") == std::string::npos) {
            const char* why = nullptr;
            switch (queryWordFault(clipped)) {
            case QueryWordFault::None: break;
            case QueryWordFault::TooShort: why = " is too short to be indexed."; break;
            case QueryWordFault::TooLong: why = " is too long to be indexed."; break;
            case QueryWordFault::Junk: why = " is never indexed (numbers, times and dates are left out)."; break;
            }
            if (why) {
                tell("Non-Indexed Word", "The word: " + clipped + why + "|It has been removed from the search.");
                continue;
            }
        }
        words.push_back(clipped);
    }
    OP_CLOSE(OpClose, StopWords.number());
    if (words.empty()) {
        tell("No valid searchwords", "All of the words are on the stoplist (non-indexed).|Please type valid words or cancel!");
        return false;
    }
    if (!star && opt.soundex) {
        for (const std::string& w : words) {
            if (w.size() < 2) {
                tell("Too Few Letters", "To use Soundex you must type at least 2 letters.");
                return false;
            }
            if (!allLetters(w) || words.size() > 1) {
                tell("Only Letters Please", "Soundex Search Requests May Only Contain Letters and Must be a Single Word.");
                return false;
            }
            if (soundexCode(w).empty()) {
                tell("Soundex Error", "There is no Soundex equivalent for that word.  Please choose a different search word.");
                return false;
            }
        }
    } else if (!star && opt.approximate) {
        for (const std::string& w : words)
            if (w.size() < 2) {
                tell("Too Few Letters", "To use Approximate Matching you must type at least 2 letters.");
                return false;
            }
    }
    return true;
}

LookupHit exactWord(const std::string& word) {
    LookupHit h;
    h.word = word;
    OP_CLOSE(OpOpenShared, WordList.number());
    WordList.clearBuffer();
    WOR.THEWORD = word;
    if (WordList.get(WOR_by_theWord)) {
        h.id = WOR.WORDID;
        h.count = WOR.WORDCOUNT;
        h.word = WOR.THEWORD.str();
    }
    OP_CLOSE(OpClose, WordList.number());
    return h;
}

std::vector<LookupHit> lookupWords(const std::vector<std::string>& words, const LookupOptions& opt) {
    std::vector<LookupHit> hits;
    bool anyWild = false;
    for (const std::string& w : words) anyWild = anyWild || w.find_first_of("*?") != std::string::npos;
    const bool star = std::any_of(words.begin(), words.end(), [](auto& w) { return w.find('*') != std::string::npos; });
    const bool soundex = !star && opt.soundex;
    const bool approx = !star && !soundex && opt.approximate;
    const bool starts = !star && !soundex && !approx && opt.startsWith;
    const bool whole = wholeWordLookup(opt, star);
    if (whole && !anyWild) {
        // Exact words: the word key finds them at once.
        for (const std::string& w : words) {
            LookupHit h = exactWord(w);
            if (h.id != 0) hits.push_back(h);
        }
        return hits;
    }
    std::vector<std::string> codes;
    if (soundex)
        for (const std::string& w : words) codes.push_back(soundexCode(w));
    OP_CLOSE(OpOpenShared, WordList.number());
    const long long total = WordList.records();
    long long seen = 0;
    WordList.setFile();
    while (WordList.next()) {
        if (++seen % 5000 == 0) ui().progress("Finding a Keyword", seen, total);
        std::string_view w = WOR.THEWORD.view();
        bool hit = false;
        for (size_t i = 0; i < words.size() && !hit; ++i) {
            const std::string& q = words[i];
            if (soundex) hit = !codes[i].empty() && soundexCode(w) == codes[i];
            else if (approx) hit = approximateMatch(q, w, opt.degree);
            else if (starts) hit = containsWild(w, q, true);
            else if (whole) hit = wildcardMatch(q, w);
            else hit = containsWild(w, q, false);
        }
        if (hit) hits.push_back(LookupHit{WOR.WORDCOUNT, std::string(w), WOR.WORDID, false});
    }
    OP_CLOSE(OpClose, WordList.number());
    return hits;
}

// ---------------------------------------------------------------- searching

namespace {

// Loads up to `limit` message numbers of a word from MAS:by_WordId, going on
// after the row at position `after` (0: from the word's first row), which is
// found by key and place, not by walking the rows before it. Returns the
// number of rows read and sets `after` to the place of the last one; done is
// set when the word has no more rows.
int64_t loadWord(uint32_t wordId, int64_t& after, int64_t limit, std::vector<uint32_t>& out, bool& done) {
    MasIdx.clearBuffer();
    MAS.WORDID = wordId;
    if (after > 0) MasIdx.setAfter(MAS_by_WordId, after);
    else MasIdx.setFrom(MAS_by_WordId);
    int64_t n = 0;
    done = false;
    while (n < limit) {
        if (!MasIdx.next() || MAS.WORDID != wordId) { done = true; return n; }
        out.push_back(MAS.SYSID);
        after = MasIdx.position();
        ++n;
    }
    // A full block: look whether anything follows.
    if (!MasIdx.next() || MAS.WORDID != wordId) done = true;
    return n;
}

bool pairExists(uint32_t msg, uint32_t word) {
    MAS.SYSID = msg;
    MAS.WORDID = word;
    return MasIdx.get(MAS_by_SysID);
}

// Membership of many candidates in one word's messages: point lookups for
// few candidates, one pass over the word's rows for many.
// The loaded messages are kept sorted in one block (searched by halves):
// thousands of them take a few pages instead of a node each.
struct WordSet {
    explicit WordSet(uint32_t wordId) : id(wordId) {}
    uint32_t id;
    bool loaded = false;
    std::vector<uint32_t> msgs;
    bool has(uint32_t msg, size_t candidates, int32_t wordCount) {
        if (!loaded && static_cast<size_t>(wordCount) <= candidates * 8) {
            bool done;
            int64_t from = 0;
            loadWord(id, from, INT64_MAX, msgs, done);
            if (!std::is_sorted(msgs.begin(), msgs.end())) std::sort(msgs.begin(), msgs.end());
            loaded = true;
        }
        return loaded ? std::binary_search(msgs.begin(), msgs.end(), msg) : pairExists(msg, id);
    }
};

void addFound(std::vector<std::string>& found, const std::string& w) {
    if (std::find(found.begin(), found.end(), w) == found.end()) found.push_back(w);
}

void readHeadingAndBody(uint32_t msg, int kind, std::string& heading, std::string& body) {
    heading.clear();
    body.clear();
    MsgText.clearBuffer();
    TXT.MSGNUMBER = msg;
    if (MsgText.get(TXT_IdKey)) body = TXT_MsgText;
    if (kind == 2) {
        Mail.clearBuffer();
        MAI.MAILID = msg;
        if (Mail.get(MAI_IdKey)) heading = MAI.SUBJECT.str();
    } else {
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = msg;
        if (MsgNmbr.get(MSG_IdKey)) {
            Threads.clearBuffer();
            THR.THREADNUMBER = MSG.THREADNUMBER;
            if (Threads.get(THR_ThreadKey)) heading = std::string(rtrim(THR.heading()));
        }
    }
}

} // namespace

void keepMessagesWithEveryGroup(std::vector<uint32_t>& result, const std::vector<std::vector<ListEntry>>& groups) {
    if (groups.empty() || result.empty()) return;
    OP_CLOSE(OpOpenShared, MasIdx.number());
    for (const std::vector<ListEntry>& group : groups) {
        int64_t rows = 0;
        for (const ListEntry& e : group) rows += e.count;
        // Few results against many index rows: look each pair up.
        const bool pointwise = rows > static_cast<int64_t>(result.size()) * 8;
        std::unordered_set<uint32_t> any;
        if (!pointwise) {
            for (const ListEntry& e : group) {
                if (e.id == 0) continue;
                std::vector<uint32_t> msgs;
                bool done;
                int64_t from = 0;
                loadWord(static_cast<uint32_t>(e.id), from, INT64_MAX, msgs, done);
                any.insert(msgs.begin(), msgs.end());
            }
        }
        std::erase_if(result, [&](uint32_t msg) {
            if (!pointwise) return any.count(msg) == 0;
            for (const ListEntry& e : group)
                if (e.id != 0 && pairExists(msg, static_cast<uint32_t>(e.id))) return false;
            return true;
        });
    }
    OP_CLOSE(OpClose, MasIdx.number());
}

bool textHasPhrase(std::string_view text, const std::vector<std::string>& phrase) {
    if (phrase.empty()) return false;
    std::vector<std::string> words;
    breakWords(rtrim(text), false, true, [&](const char* w, size_t n, size_t) { words.emplace_back(w, n); });
    if (words.size() < phrase.size()) return false;
    for (size_t s = 0; s + phrase.size() <= words.size(); ++s) {
        size_t i = 0;
        while (i < phrase.size() && words[s + i] == phrase[i]) ++i;
        if (i == phrase.size()) return true;
    }
    return false;
}

SearchOutcome runProSearch(ProSearchState& st, std::vector<ListEntry>& andList, std::vector<ListEntry>& orList,
                           const std::vector<std::string>& phrase, int kind, std::vector<uint32_t>& result,
                           std::vector<std::string>& found, bool ask) {
    WordIndexSettings settings;
    int64_t pause = readWordIndexSettings(settings, false) ? settings.searchPauseCount : 10000;
    if (pause < 1) pause = 10000;
    if (!ask) pause = INT64_MAX / 4;

    const bool fresh = st.DIRTYLIST != 0 || (st.ANDMASPOSITION < 0 && st.ORMASPOSITION < 0 && st.LEFTOFFAT == 0);
    if (fresh) {
        result.clear();
        found.clear();
        st.LEFTOFFAT = 0;
        st.ANDMASPOSITION = st.ORMASPOSITION = -1;
        st.ANDLISTINITIALLOADDONE = 0;
        st.ANDLISTPTR = -1;
        st.ANDLISTCOUNT = 0;
        for (size_t i = 0; i < andList.size(); ++i) {
            if (andList[i].negated()) continue;
            if (st.ANDLISTPTR < 0 || andList[i].count < andList[st.ANDLISTPTR].count) st.ANDLISTPTR = static_cast<int32_t>(i);
        }
        if (st.ANDLISTPTR >= 0) st.ANDLISTCOUNT = andList[st.ANDLISTPTR].count;
        st.ANDLISTDONE = andList.empty() ? 1 : 0;
        st.ORLISTCOUNT = 0;
        for (const ListEntry& e : orList) {
            if (e.negated()) { st.ORLISTCOUNT = 0; break; }
            st.ORLISTCOUNT += e.count;
        }
        st.ORLISTDONE = orList.empty() ? 1 : 0;
        st.ORLISTPTR = 0;
        st.DIRTYLIST = 0;
        st.PHRASEMODE = phrase.empty() ? 0 : 1;
    }
    if (st.ANDLISTDONE && st.ORLISTDONE) {
        tell("No Search", "Nothing (More) to Search for!");
        return SearchOutcome::NothingToSearch;
    }

    OP_CLOSE(OpOpenShared, MasIdx.number());
    // The message tables are read only by a scan without positive words and
    // by phrase matching: a search through the index alone opens none.
    bool messagesOpen = false;
    auto messageTables = [&](int action) {
        OP_CLOSE(action, MsgText.number());
        if (kind == 2) OP_CLOSE(action, Mail.number());
        else OP_CLOSE(action, MsgNmbr.number(), Threads.number());
    };
    auto openMessages = [&] {
        if (messagesOpen) return;
        messageTables(OpOpenShared);
        messagesOpen = true;
    };
    auto closeAll = [&] {
        OP_CLOSE(OpClose, MasIdx.number());
        if (!messagesOpen) return;
        messageTables(OpClose);
        messagesOpen = false;
    };

    std::unordered_set<uint32_t> have(result.begin(), result.end());
    auto satisfiesAnd = [&](uint32_t msg, int skip) {
        for (size_t i = 0; i < andList.size(); ++i) {
            if (static_cast<int>(i) == skip) continue;
            bool present = andList[i].id != 0 && pairExists(msg, static_cast<uint32_t>(andList[i].id));
            if (present == andList[i].negated()) return false;
        }
        return true;
    };
    auto satisfiesOr = [&](uint32_t msg) {
        if (orList.empty()) return true;
        for (const ListEntry& e : orList) {
            bool present = e.id != 0 && pairExists(msg, static_cast<uint32_t>(e.id));
            if (present != e.negated()) return true;
        }
        return false;
    };

    if (st.ANDLISTCOUNT == 0 && st.ORLISTCOUNT == 0) {
        // No usable positive word: scan the messages, newest first.
        if (st.LEFTOFFAT == 0) {
            unsigned a = ui().ask("Too Many Matches",
                                  "The Search you have requested has too many matches.|The 1st 1000 will be found or try "
                                  "a more restrictive Search.|Would you like to Continue or Cancel the Search?",
                                  BtnOk | BtnCancel, BtnOk, Icon::Question);
            if (a != BtnOk) {
                closeAll();
                return SearchOutcome::Cancelled;
            }
        }
        result.clear();
        openMessages();
        MsgText.skipMemo(true);
        MsgText.clearBuffer();
        if (st.LEFTOFFAT > 0) {
            TXT.MSGNUMBER = static_cast<uint32_t>(st.LEFTOFFAT);
            MsgText.setFrom(TXT_IdKey);
        } else {
            MsgText.set(TXT_IdKey);
        }
        bool more = false;
        std::vector<uint32_t> ids;
        while (MsgText.previous()) {
            if (st.LEFTOFFAT > 0 && TXT.MSGNUMBER >= static_cast<uint32_t>(st.LEFTOFFAT)) continue;
            ids.push_back(TXT.MSGNUMBER);
            if (ids.size() >= 5000) break;
        }
        MsgText.skipMemo(false);
        // Checked in blocks so that the scan cursor is not disturbed by lookups.
        for (;;) {
            for (uint32_t msg : ids) {
                st.LEFTOFFAT = msg;
                if (satisfiesAnd(msg, -1) && satisfiesOr(msg)) {
                    result.push_back(msg);
                    if (result.size() >= 1000) { more = true; break; }
                }
            }
            if (more || ids.size() < 5000) break;
            ids.clear();
            MsgText.skipMemo(true);
            TXT.MSGNUMBER = static_cast<uint32_t>(st.LEFTOFFAT);
            MsgText.setFrom(TXT_IdKey);
            while (MsgText.previous()) {
                if (TXT.MSGNUMBER >= static_cast<uint32_t>(st.LEFTOFFAT)) continue;
                ids.push_back(TXT.MSGNUMBER);
                if (ids.size() >= 5000) break;
            }
            MsgText.skipMemo(false);
            if (ids.empty()) break;
        }
        if (!more) {
            st.LEFTOFFAT = 0;
            st.ANDLISTDONE = st.ORLISTDONE = 1;
        }
        for (const ListEntry& e : andList)
            if (!e.negated()) addFound(found, e.word);
    } else {
        for (;;) {
            std::vector<uint32_t> candidates;
            const bool fromAnd =
                st.ORLISTCOUNT == 0 || (st.ANDLISTCOUNT != 0 && st.ORLISTCOUNT >= st.ANDLISTCOUNT);
            bool paused = false;
            if (fromAnd) {
                const ListEntry& lead = andList[st.ANDLISTPTR];
                int64_t at = st.ANDMASPOSITION < 0 ? 0 : st.ANDMASPOSITION;
                bool done = false;
                loadWord(static_cast<uint32_t>(lead.id), at, pause, candidates, done);
                addFound(found, lead.word);
                if (done) {
                    st.ANDMASPOSITION = -1;
                    st.ANDLISTDONE = 1;
                    st.ANDLISTINITIALLOADDONE = 1;
                    st.ORLISTDONE = 1;
                } else {
                    st.ANDMASPOSITION = at;
                    paused = true;
                }
            } else {
                int64_t loaded = 0;
                while (st.ORLISTPTR < static_cast<int32_t>(orList.size()) && loaded < pause) {
                    const ListEntry& e = orList[st.ORLISTPTR];
                    if (e.negated()) {
                        closeAll();
                        ui().message("Internal Error", "Logic Error - should not have NOTS on OR list here!", Icon::Hand);
                        throw ProgramStop("Logic Error - should not have NOTS on OR list here!");
                    }
                    int64_t at = st.ORMASPOSITION < 0 ? 0 : st.ORMASPOSITION;
                    bool done = false;
                    int64_t n = loadWord(static_cast<uint32_t>(e.id), at, pause - loaded, candidates, done);
                    loaded += n;
                    addFound(found, e.word);
                    if (done) {
                        st.ORMASPOSITION = -1;
                        ++st.ORLISTPTR;
                    } else {
                        st.ORMASPOSITION = at;
                    }
                }
                if (st.ORLISTPTR >= static_cast<int32_t>(orList.size())) {
                    st.ORLISTDONE = 1;
                    st.ANDLISTDONE = 1;
                } else {
                    paused = true;
                }
            }
            // AND filter (and OR filter when loaded from the AND word).
            std::vector<WordSet> sets;
            for (const ListEntry& e : andList) sets.emplace_back(static_cast<uint32_t>(e.id));
            std::vector<uint32_t> kept;
            for (uint32_t msg : candidates) {
                if (have.count(msg)) continue;
                bool ok = true;
                for (size_t i = 0; i < andList.size() && ok; ++i) {
                    if (fromAnd && static_cast<int32_t>(i) == st.ANDLISTPTR) continue;
                    bool present = andList[i].id != 0 && sets[i].has(msg, candidates.size(), andList[i].count);
                    ok = present != andList[i].negated();
                }
                if (ok && fromAnd && !orList.empty()) {
                    bool any = false;
                    for (const ListEntry& e : orList) {
                        bool present = e.id != 0 && pairExists(msg, static_cast<uint32_t>(e.id));
                        if (present && !e.negated()) addFound(found, e.word);
                        if (present != e.negated()) { any = true; break; }
                    }
                    ok = any;
                }
                if (ok) {
                    have.insert(msg);
                    kept.push_back(msg);
                }
            }
            if (!kept.empty())
                for (const ListEntry& e : andList)
                    if (!e.negated()) addFound(found, e.word);
            result.insert(result.end(), kept.begin(), kept.end());
            if (!paused) break;
            unsigned a = ui().ask("Search More?",
                                  (result.empty() ? std::string("No") : std::to_string(result.size())) +
                                      " search hits found!|But there are more records to search.|Would you like to "
                                      "search more records now?",
                                  BtnYes | BtnCancel, BtnYes, Icon::Question);
            if (a != BtnYes) break;
        }
    }

    if (st.PHRASEMODE && !result.empty()) {
        if (!unattended()) ui().progress("Phrase Matching...", 0, static_cast<long long>(result.size()));
        openMessages();
        std::vector<uint32_t> kept;
        std::string heading, body;
        for (uint32_t msg : result) {
            readHeadingAndBody(msg, kind, heading, body);
            if (textHasPhrase(heading, phrase) || textHasPhrase(body, phrase)) kept.push_back(msg);
        }
        result.swap(kept);
        if (result.empty()) {
            closeAll();
            tell("Try again", "No documents contain the phrase. Sorry!");
            st.DIRTYLIST = 1;
            return SearchOutcome::PhraseNotFound;
        }
    }
    closeAll();
    std::sort(result.begin(), result.end(), std::greater<>());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    if (result.empty()) {
        tell("No Matches", "No Messages Match your Search Criteria. Sorry!");
        st.DIRTYLIST = 1;
        return SearchOutcome::NoMatches;
    }
    return SearchOutcome::Found;
}

std::vector<uint32_t> searchAllWords(const std::vector<LookupHit>& words, int kind) {
    std::vector<ListEntry> andList, orList;
    for (const LookupHit& h : words) andList.push_back(ListEntry{"", h.word, h.count, h.id, false});
    std::vector<uint32_t> result;
    if (andList.empty()) return result;
    ProSearchState st;
    std::vector<std::string> found;
    runProSearch(st, andList, orList, {}, kind, result, found, false);
    return result;
}

bool storeSearchResult(const std::vector<uint32_t>& result) {
    // The search view is scratch that any search makes again: it is written
    // as one batch without waiting for the disk, and a failed write leaves it
    // empty rather than half filled.
    OP_CLOSE(OpOpenShared, Search.number());
    if (!Search.isOpen()) return false;
    Search.stream();
    bool ok = Search.empty();
    for (uint32_t id : result) {
        if (!ok) break;
        Search.clearBuffer();
        SEA.ID = id;
        if (!Search.add() && errorCode() != ErrDuplicateKey) ok = false;
    }
    int error = ok ? NoError : errorCode();
    if (!ok) Search.empty();
    Search.flush();
    if (!error) error = errorCode();
    OP_CLOSE(OpClose, Search.number());
    setError(error);
    return error == NoError;
}

bool wordIndexHasRows() {
    OP_CLOSE(OpOpenShared, MasIdx.number());
    // The first row in file order, not a count of every row.
    MasIdx.setFile();
    const bool has = MasIdx.isOpen() && MasIdx.next();
    OP_CLOSE(OpClose, MasIdx.number());
    return has;
}

std::vector<std::pair<long, long>> BUILDWORDPOSQ1(const std::vector<std::string>& words, std::string_view text) {
    std::vector<std::pair<long, long>> out;
    std::vector<std::string> up;
    for (const std::string& w : words) {
        std::string u(rtrim(w));
        for (auto& ch : u) ch = static_cast<char>(kUpper1252[static_cast<unsigned char>(ch)]);
        up.push_back(u);
    }
    breakWords(rtrim(text), false, true, [&](const char* w, size_t n, size_t start) {
        std::string_view word(w, n);
        for (const std::string& u : up)
            if (word == u) {
                out.emplace_back(static_cast<long>(start + 1), static_cast<long>(start + n));
                break;
            }
    });
    return out;
}

std::vector<std::pair<long, long>> BUILDWORDPOSQ(const std::string& word, std::string_view text) {
    return BUILDWORDPOSQ1({word}, text);
}

} // namespace qb
