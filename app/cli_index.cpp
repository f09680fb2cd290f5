// Command line of the word index: index a database, search it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli_rows.h"
#include "app/commands.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/readbatch.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "tasks/taskmanager.h"
#include "wordsearch/indexer.h"
#include "wordsearch/prosearch.h"
#include "wordsearch/wordbreak.h"

namespace qb {
namespace {


// Selects the database named (letter case ignored); false after a message.
bool selectByName(const std::string& name) {
    ForumsRec row;
    if (!findDatabaseByName(fromUtf8(name), row) || !selectDatabase(row.ID)) {
        std::fprintf(stderr, "qbox: no database named '%s'\n", name.c_str());
        return false;
    }
    return true;
}

int runIndex(CliContext& ctx) {
    const bool full = takeFlag(ctx.args, "--full");
    if (ctx.args.size() != 1) {
        std::fprintf(stderr, "usage: qbox index DB [--full]\n");
        return 2;
    }
    if (!selectByName(ctx.args[0])) return 1;
    loadWordTables();
    if (full) cliUi().answers.push_back(BtnYes);  // the warning before a full run
    IndexSummary s;
    bool ok = indexActiveDatabase(full, 40, s);
    cliProgressEnd();
    if (!ok || (s.mode >= 0 && s.result != 1)) {
        std::fprintf(stderr, "qbox: indexing failed\n");
        return 1;
    }
    // A database once indexed keeps its index: later imports bring it up to date.
    if (!databaseKeepsIndex(Mem.ForumNumber) && !setKeepsIndex(Mem.ForumNumber, true))
        std::fprintf(stderr, "qbox: the database could not be marked as keeping a word index\n");
    std::printf("indexed %u words %lld\n", s.messages, static_cast<long long>(s.words));
    return 0;
}

// Looks words up for the command line; wildcards expand to every match.
// dropped is set when nothing of the text could be looked up (the reason is
// on stderr: a word of the ignore list, one no index can hold, ...).
std::vector<LookupHit> hitsOf(const std::string& text, const LookupOptions& opt, bool& dropped) {
    std::vector<std::string> words;
    if (!prepareLookup(text, opt, words)) {
        dropped = true;
        return {};
    }
    return lookupWords(words, opt);
}

ListEntry entryOf(const LookupHit& h, bool negated) {
    ListEntry e;
    e.condition = negated ? "NOT" : "";
    e.word = h.word;
    e.count = h.count;
    e.id = h.id;
    return e;
}

int runSearch(CliContext& ctx) {
    std::vector<std::string> ands = takeOptions(ctx.args, "--and"), ors = takeOptions(ctx.args, "--or"),
                             nots = takeOptions(ctx.args, "--not"), phrases = takeOptions(ctx.args, "--phrase"),
                             soundex = takeOptions(ctx.args, "--soundex"), approx = takeOptions(ctx.args, "--approx");
    const bool longRows = takeFlag(ctx.args, "--long");
    if (ctx.args.size() != 1) {
        std::fprintf(stderr, "usage: qbox search DB [--and W]... [--or W]... [--not W]... [--phrase \"W W\"] "
                             "[--soundex W] [--approx W:K] [--long]\n");
        return 2;
    }
    if (!selectByName(ctx.args[0])) return 1;
    // A search reads a few hundred pages: mapping its files costs more than
    // it saves.
    setReadMapping(false);
    // The tables every step of a search reads stay open for the whole
    // command instead of being opened again by each step.
    const int kept[] = {Control.number(), StopWords.number(), WordList.number(), MasIdx.number()};
    for (int n : kept) OP_CLOSE(OpOpenShared, n);
    struct CloseKept {
        const int (&tables)[4];
        ~CloseKept() {
            for (int n : tables) OP_CLOSE(OpClose, n);
        }
    } closeKept{kept};
    // The word definition tables were read by the start-up, with the word
    // index settings (WSVars): they are not read a second time here.
    if (!wordIndexHasRows()) {
        std::fprintf(stderr, "qbox: You cannot use the Professional search if the database is not indexed. Please run "
                             "Build Word Index from the Indexing menu.\n");
        return 1;
    }

    std::vector<ListEntry> andList, orList;
    // Each --and wildcard that stands for several words: one of them must occur.
    std::vector<std::vector<ListEntry>> groups;
    std::vector<std::string> phrase;
    bool impossible = false, dropped = false;
    LookupOptions whole;
    for (const std::string& a : ands) {
        std::vector<std::string> words;
        if (!prepareLookup(fromUtf8(a), whole, words)) {
            dropped = true;
            continue;
        }
        for (const std::string& w : words) {
            auto hits = lookupWords({w}, whole);
            if (hits.empty()) {
                impossible = true;
            } else if (hits.size() == 1) {
                andList.push_back(entryOf(hits[0], false));
            } else {
                groups.emplace_back();
                for (auto& h : hits) groups.back().push_back(entryOf(h, false));
            }
        }
    }
    for (const std::string& n : nots)
        for (auto& h : hitsOf(fromUtf8(n), whole, dropped)) andList.push_back(entryOf(h, true));
    for (const std::string& o : ors)
        for (auto& h : hitsOf(fromUtf8(o), whole, dropped)) orList.push_back(entryOf(h, false));
    for (const std::string& s : soundex) {
        LookupOptions opt;
        opt.soundex = true;
        opt.wholeWord = false;
        for (auto& h : hitsOf(fromUtf8(s), opt, dropped)) orList.push_back(entryOf(h, false));
    }
    for (const std::string& a : approx) {
        LookupOptions opt;
        opt.approximate = true;
        opt.wholeWord = false;
        std::string word = a;
        size_t colon = a.rfind(':');
        if (colon != std::string::npos) {
            word = a.substr(0, colon);
            opt.degree = std::atoi(a.c_str() + colon + 1);
        }
        for (auto& h : hitsOf(fromUtf8(word), opt, dropped)) orList.push_back(entryOf(h, false));
    }
    for (const std::string& p : phrases) {
        LookupOptions opt;
        opt.phrase = true;
        std::vector<std::string> words;
        if (!prepareLookup(fromUtf8(p), opt, words)) {
            dropped = true;
            continue;
        }
        for (const std::string& w : words) {
            LookupHit h = exactWord(w);
            if (h.id == 0) {
                ui().message("No matches", "One of the words in the phrase was not found in any document.|Word: " + w);
                impossible = true;
                break;
            }
            andList.push_back(entryOf(h, false));
            phrase.push_back(w);
        }
    }
    if (!ands.empty() || !phrases.empty()) {
        if (impossible) return 0;
    }
    // The search has one list of alternatives: the first wildcard group takes
    // it when no --or word does; the others filter the result.
    if (orList.empty() && !groups.empty()) {
        orList = std::move(groups.front());
        groups.erase(groups.begin());
    }
    if (andList.empty() && orList.empty()) {
        if (dropped) return 1;  // nothing left that an index can hold; said on stderr
        if (!ors.empty() || !soundex.empty() || !approx.empty() || !ands.empty() || !phrases.empty()) return 0;
        ui().message("No Search Words", "Please use the Insert Button to Locate words of Interest!|Then Try Again.");
        return 2;
    }
    ProSearchState st;
    std::vector<uint32_t> result;
    std::vector<std::string> found;
    cliUi().answers.push_back(BtnOk);  // a search without positive words scans every message
    std::vector<uint32_t> all;
    for (;;) {
        SearchOutcome o = runProSearch(st, andList, orList, phrase, Mem.ForumType == 2 ? 2 : 1, result, found, false);
        if (o != SearchOutcome::Found) break;
        all.insert(all.end(), result.begin(), result.end());
        if (st.ANDLISTDONE && st.ORLISTDONE) break;
        cliUi().answers.push_back(BtnOk);
    }
    std::sort(all.begin(), all.end(), std::greater<>());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    keepMessagesWithEveryGroup(all, groups);
    // The view follows every search, also one that found nothing.
    const bool stored = storeSearchResult(all);
    const std::string storeError = stored ? std::string() : errorText();
    if (longRows) printMessageRows(all, Mem.ForumType == 2);
    else
        for (uint32_t id : all) std::printf("%u\n", id);
    if (!stored) {
        std::fprintf(stderr, "qbox: the search view could not be written: %s\n", storeError.c_str());
        return 1;
    }
    return 0;
}

const bool regIndex = registerCommand("index", "index DB [--full]      build or update the word index of a database",
                                      runIndex);
const bool regSearch = registerCommand(
    "search", "search DB [--and W]... [--or W]... [--not W]... [--phrase \"W W\"] [--soundex W] [--approx W:K] [--long]",
    runSearch);

} // namespace
} // namespace qb
