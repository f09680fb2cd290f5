#include "wordsearch/wordlists.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/access.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "wordsearch/indexer.h"
#include "wordsearch/wordbreak.h"

namespace qb {

namespace {
std::string upperWord(const std::string& w) {
    std::string u(rtrim(w));
    size_t b = u.find_first_not_of(' ');
    u = b == std::string::npos ? std::string() : u.substr(b);
    if (u.size() > 40) u.resize(40);
    for (auto& ch : u) ch = static_cast<char>(kUpper1252[static_cast<unsigned char>(ch)]);
    return u;
}
} // namespace

// ---------------------------------------------------------------- word list

bool WordListMarks::open() {
    marks_.clear();
    toggled_ = false;
    if (Mem.WordListIndexNeedsUpdate == 1) {
        OP_CLOSE(OpOpenShared, WordList.number());
        bool built = WordList.lock(5) && WordList.buildKey(WOR_by_WordCount);
        WordList.unlock();
        OP_CLOSE(OpClose, WordList.number());
        if (built) {
            uint32_t pos = 0, count = 0;
            int32_t upd = 0;
            if (readIndexFields(pos, count, upd)) writeIndexFields(pos, count, 0);
            Mem.WordListIndexNeedsUpdate = 0;
        }
    }
    OP_CLOSE(OpOpenShared, WordPurge.number());
    WordPurge.setFile();
    while (WordPurge.next()) marks_.insert(PUR.WORDID);
    OP_CLOSE(OpClose, WordPurge.number());
    return true;
}

std::vector<IndexedWord> WordListMarks::words(bool byCount) const {
    std::vector<IndexedWord> out;
    OP_CLOSE(OpOpenShared, WordList.number());
    WordList.setFile();
    while (WordList.next()) out.push_back(IndexedWord{WOR.WORDID, WOR.THEWORD.str(), WOR.WORDCOUNT});
    OP_CLOSE(OpClose, WordList.number());
    if (byCount)
        std::stable_sort(out.begin(), out.end(), [](auto& a, auto& b) {
            return a.count != b.count ? a.count > b.count : a.word < b.word;
        });
    else
        std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.word < b.word; });
    return out;
}

void WordListMarks::toggle(int32_t id) {
    toggled_ = true;
    if (!marks_.erase(id)) marks_.insert(id);
}

bool WordListMarks::close() {
    if (!toggled_) return true;
    // While the indexer runs, the pending-deletion table may be its scratch
    // copy of the master index: the marks wait until the run has ended.
    if (IndexingInProgress) {
        if (!unattended())
            ui().message("Word List", "The marks cannot be saved while the word index is being built.|"
                                      "Close the word list again when indexing has finished.");
        return false;
    }
    OP_CLOSE(OpOpenShared, WordPurge.number());
    bool ok = WordPurge.lock(5);
    if (ok) {
        ok = WordPurge.empty();
        WordPurge.stream();
        for (int32_t id : marks_) {
            if (!ok) break;
            WordPurge.clearBuffer();
            PUR.WORDID = id;
            ok = UppDat(WordPurge, UppAdd, ModeReport) == 1;
        }
        WordPurge.flush();
        WordPurge.unlock();
    } else if (!unattended()) {
        ui().message("Word List", "The list of words to delete is in use.|" + errorText());
    }
    OP_CLOSE(OpClose, WordPurge.number());
    if (ok) toggled_ = false;
    return ok;
}

// ---------------------------------------------------------------- ignore list

std::vector<std::string> stopWordList() {
    std::vector<std::string> out;
    OP_CLOSE(OpOpenShared, StopWords.number());
    StopWords.set(STO_BY_THEWORD);
    while (StopWords.next()) out.push_back(STO.THEWORD.str());
    OP_CLOSE(OpClose, StopWords.number());
    return out;
}

bool addStopWord(const std::string& word) {
    const std::string w = upperWord(word);
    if (w.empty()) return false;
    OP_CLOSE(OpOpenShared, StopWords.number());
    StopWords.clearBuffer();
    STO.THEWORD = w;
    bool ok = UppDat(StopWords, UppAdd, ModeReport) == 1;
    OP_CLOSE(OpClose, StopWords.number());
    return ok;
}

bool changeStopWord(const std::string& from, const std::string& to) {
    const std::string f = upperWord(from), t = upperWord(to);
    if (t.empty()) return false;
    OP_CLOSE(OpOpenShared, StopWords.number());
    StopWords.clearBuffer();
    STO.THEWORD = f;
    bool ok = HoldRec(StopWords, STO_BY_THEWORD, 1, "") == 1;
    if (ok) {
        STO.THEWORD = t;
        ok = UppDat(StopWords, UppPut, ModeReport) == 1;
        StopWords.release();
    }
    OP_CLOSE(OpClose, StopWords.number());
    return ok;
}

bool deleteStopWord(const std::string& word) {
    OP_CLOSE(OpOpenShared, StopWords.number());
    StopWords.clearBuffer();
    STO.THEWORD = upperWord(word);
    bool ok = HoldRec(StopWords, STO_BY_THEWORD, 1, "") == 1 && UppDat(StopWords, UppDelete, ModeReport) == 1;
    OP_CLOSE(OpClose, StopWords.number());
    return ok;
}

// ---------------------------------------------------------------- word definition

RuleSet currentRules() {
    RuleSet r(256);
    for (int i = 0; i < 256; ++i) r[i] = WordRule{StartWordHash[i], InWordHash[i], EndWordHash[i]};
    return r;
}

bool rulesDiffer(const RuleSet& a, const RuleSet& b) {
    if (a.size() != b.size()) return true;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].start != b[i].start || a[i].inside != b[i].inside || a[i].end != b[i].end) return true;
    return false;
}

void toggleRule(WordRule& r, int column) {
    switch (column) {
    case 0: r.start = r.start ? 0 : 1; break;
    case 1:
        if (r.inside == 0) {
            r.inside = 1;
            r.end = 1;  // what cannot stand inside a word cannot end one
        } else {
            r.inside = 0;
        }
        break;
    case 2:
        if (r.end == 1) {
            if (r.inside == 0) r.end = 0;
        } else {
            r.end = 1;
        }
        break;
    default: break;
    }
}

std::vector<std::string> savedRuleSets() {
    std::vector<std::string> names;
    OP_CLOSE(OpOpenShared, WordDef.number());
    WordDef.set(WD_BY_SETNAME);
    while (WordDef.next()) {
        std::string n = WD.SETNAME.str();
        if (names.empty() || names.back() != n) names.push_back(n);
    }
    OP_CLOSE(OpClose, WordDef.number());
    return names;
}

RuleSet savedRuleSet(const std::string& name) {
    RuleSet r(256);
    std::vector<bool> seen(256, false);
    int rows = 0;
    OP_CLOSE(OpOpenShared, WordDef.number());
    WordDef.clearBuffer();
    WD.SETNAME = name;
    WD.ID = 0;
    WordDef.setFrom(WD_BY_SETNAME);
    while (WordDef.next() && WD.SETNAME == name) {
        if (!seen[WD.ID]) ++rows;
        seen[WD.ID] = true;
        r[WD.ID] = WordRule{WD.STARTWORD, WD.INWORD, WD.ENDWORD};
    }
    OP_CLOSE(OpClose, WordDef.number());
    return rows == 256 ? r : RuleSet{};
}

bool saveRuleSet(const std::string& name, const RuleSet& rules) {
    if (rules.size() != 256 || rtrim(name).empty()) return false;
    OP_CLOSE(OpOpenShared, WordDef.number());
    bool ok = true;
    WordDef.stream();
    for (int i = 0; i < 256 && ok; ++i) {
        WordDef.clearBuffer();
        WD.SETNAME = name;
        WD.ID = static_cast<uint8_t>(i);
        bool found = WordDef.get(WD_BY_SETNAME);
        WD.STARTWORD = rules[i].start;
        WD.INWORD = rules[i].inside;
        WD.ENDWORD = rules[i].end;
        ok = found ? WordDef.put() : WordDef.add();
    }
    WordDef.flush();
    OP_CLOSE(OpClose, WordDef.number());
    return ok;
}

namespace {
// Runs f with each database's directory made the active one for file names.
template <class F>
void forEachDatabase(F&& f) {
    std::vector<std::pair<uint32_t, uint32_t>> dbs;
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.setFile();
    while (Forums.next()) dbs.emplace_back(FOR.ID, FOR.DIRNUMBER);
    OP_CLOSE(OpClose, Forums.number());
    const std::string saved = Mem.Dirnamn;
    for (auto& [id, dirNumber] : dbs) {
        Mem.Dirnamn = databaseDirName(dirNumber);
        f(id);
    }
    Mem.Dirnamn = saved;
}

bool masIdxHasRows() {
    const std::string path = tableFileName(MasIdx.number());
    std::error_code ec;
    return storedRowCount(path) > 0;
}
} // namespace

int indexedDatabaseCount() {
    int n = 0;
    forEachDatabase([&](uint32_t) {
        if (masIdxHasRows()) ++n;
    });
    return n;
}

bool applyRulesAndDropIndexes(const RuleSet& rules) {
    if (rules.size() != 256) return false;
    for (int i = 0; i < 256; ++i) {
        StartWordHash[i] = rules[i].start;
        InWordHash[i] = rules[i].inside;
        EndWordHash[i] = rules[i].end;
    }
    if (!saveWordTables()) return false;
    forEachDatabase([&](uint32_t id) {
        if (!masIdxHasRows()) return;
        OP_CLOSE(OpDelete, WordList.number(), MasIdx.number(), WordPurge.number());
        const uint32_t active = Mem.ForumNumber;
        // The position of the index is void now.
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = id;
        if (Forums.get(FOR_ForumKey) && Forums.hold()) {
            FOR.LASTMSGID = kBlankPosition;
            FOR.RECSLASTTIME = 0;
            Forums.put();
            Forums.release();
        }
        OP_CLOSE(OpClose, Forums.number());
        (void)active;
    });
    return true;
}

} // namespace qb
