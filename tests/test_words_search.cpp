// The professional search over an indexed database: lookups, AND/OR/NOT
// lists, the leading word, the scan without positive words, phrases, the
// Search table; and the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/words_fixture.h"
#include "wordsearch/indexer.h"
#include "wordsearch/prosearch.h"

using namespace qb;

namespace {

class WordsSearch : public WordsDbTest {
protected:
    void SetUp() override {
        WordsDbTest::SetUp();
        makeDb("Lists", 2);
        addMail(10, "apple pie", "sweet apple pie with cream");
        addMail(11, "banana bread", "banana bread is sweet");
        addMail(12, "apple banana", "fruit salad of apple and banana");
        addMail(13, "cherry", "cherry pie without apple but a red colour");
        addMail(14, "colour", "the pie was red");
        IndexSummary s;
        ASSERT_TRUE(indexActiveDatabase(false, 4, s));
        ASSERT_EQ(s.result, 1);
    }

    ListEntry entry(const std::string& word, bool negated = false) {
        LookupHit h = exactWord(word);
        EXPECT_NE(h.id, 0) << word;
        return ListEntry{negated ? "NOT" : "", h.word, h.count, h.id, false};
    }

    std::vector<uint32_t> search(std::vector<ListEntry> andList, std::vector<ListEntry> orList,
                                 std::vector<std::string> phrase = {}, SearchOutcome* outcome = nullptr) {
        ProSearchState st;
        std::vector<uint32_t> result;
        std::vector<std::string> found;
        SearchOutcome o = runProSearch(st, andList, orList, phrase, 2, result, found, false);
        if (outcome) *outcome = o;
        lastFound = found;
        lastState = st;
        return result;
    }

    std::vector<std::string> lastFound;
    ProSearchState lastState;
};

using U = std::vector<uint32_t>;

std::string kUpperAscii(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

TEST_F(WordsSearch, AndListNewestFirst) {
    EXPECT_EQ(search({entry("APPLE")}, {}), (U{13, 12, 10}));
    EXPECT_EQ(search({entry("APPLE"), entry("PIE")}, {}), (U{13, 10}));
    EXPECT_EQ(search({entry("APPLE"), entry("PIE", true)}, {}), (U{12}));
    EXPECT_EQ(lastFound, std::vector<std::string>{"APPLE"});
}

TEST_F(WordsSearch, LeadingWordIsTheRarest) {
    // PIE (4) and CHERRY (1): the rarer one leads; equal counts take the first.
    search({entry("PIE"), entry("CHERRY")}, {});
    EXPECT_EQ(lastState.ANDLISTPTR, 1);
    EXPECT_EQ(lastState.ANDLISTCOUNT, 1);
    search({entry("BREAD"), entry("CREAM")}, {});
    EXPECT_EQ(lastState.ANDLISTPTR, 0);
}

TEST_F(WordsSearch, OrListAndNotInOrList) {
    EXPECT_EQ(search({}, {entry("CHERRY"), entry("BREAD")}), (U{13, 11}));
    // An OR list with NOT counts nothing, so candidates come from the AND word.
    EXPECT_EQ(search({entry("SWEET")}, {entry("PIE", true), entry("BREAD")}), (U{11}));
    EXPECT_EQ(lastState.ORLISTCOUNT, 0);
    EXPECT_EQ(search({entry("PIE")}, {entry("CREAM"), entry("RED")}), (U{14, 13, 10}));
}

TEST_F(WordsSearch, OnlyNotWordsScanMessages) {
    headless.answers.push_back(BtnOk);
    EXPECT_EQ(search({entry("APPLE", true)}, {}), (U{14, 11}));
    EXPECT_TRUE(shownTitle("Too Many Matches"));
    headless.answers.push_back(BtnCancel);
    SearchOutcome o;
    EXPECT_TRUE(search({entry("APPLE", true)}, {}, {}, &o).empty());
    EXPECT_EQ(o, SearchOutcome::Cancelled);
}

TEST_F(WordsSearch, PhraseNeedsAdjacentWords) {
    EXPECT_EQ(search({entry("APPLE"), entry("PIE")}, {}, {"APPLE", "PIE"}), (U{10}));
    SearchOutcome o;
    EXPECT_TRUE(search({entry("RED"), entry("PIE")}, {}, {"RED", "PIE"}, &o).empty());
    EXPECT_EQ(o, SearchOutcome::PhraseNotFound);
    EXPECT_TRUE(shownTitle("Try again"));
}

TEST_F(WordsSearch, NoMatchesIsReported) {
    SearchOutcome o;
    EXPECT_TRUE(search({entry("CHERRY"), entry("BREAD")}, {}, {}, &o).empty());
    EXPECT_EQ(o, SearchOutcome::NoMatches);
    EXPECT_TRUE(shownTitle("No Matches"));
    EXPECT_TRUE(search({}, {}, {}, &o).empty());
    EXPECT_EQ(o, SearchOutcome::NothingToSearch);
}

TEST_F(WordsSearch, PausesAndContinues) {
    WordIndexSettings s;
    readWordIndexSettings(s);
    s.searchPauseCount = 1;
    writeWordIndexSettings(s);
    ProSearchState st;
    std::vector<ListEntry> a{entry("APPLE")}, o;
    std::vector<uint32_t> result;
    std::vector<std::string> found;
    headless.answers = {BtnYes, BtnCancel};
    EXPECT_EQ(runProSearch(st, a, o, {}, 2, result, found, true), SearchOutcome::Found);
    EXPECT_EQ(result.size(), 2u);  // one block, yes, a second block, cancel
    EXPECT_FALSE(st.ANDLISTDONE);
    headless.answers = {BtnYes};
    EXPECT_EQ(runProSearch(st, a, o, {}, 2, result, found, true), SearchOutcome::Found);  // "Next Block"
    EXPECT_EQ(result, (U{13, 12, 10}));
    EXPECT_TRUE(st.ANDLISTDONE);
}

TEST_F(WordsSearch, LookupModes) {
    std::vector<std::string> words;
    LookupOptions whole;
    ASSERT_TRUE(prepareLookup("ap* cherry", whole, words));
    auto hits = lookupWords(words, whole);
    ASSERT_EQ(hits.size(), 2u);
    LookupOptions starts;
    starts.startsWith = true;
    starts.wholeWord = false;
    EXPECT_EQ(lookupWords({"BAN"}, starts).size(), 1u);
    LookupOptions contains;
    contains.wholeWord = false;
    EXPECT_EQ(lookupWords({"EE"}, contains).size(), 1u);  // SWEET
    LookupOptions sx;
    sx.soundex = true;
    ASSERT_TRUE(prepareLookup("colur", sx, words));
    hits = lookupWords(words, sx);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].word, "COLOUR");
    LookupOptions ap;
    ap.approximate = true;
    ap.degree = 1;
    hits = lookupWords({"BANANNA"}, ap);
    EXPECT_TRUE(hits.empty());
    hits = lookupWords({"BANAN"}, ap);
    ASSERT_EQ(hits.size(), 1u);
    // The ignore list and wildcard rules of the lookup.
    EXPECT_FALSE(prepareLookup("the", whole, words));
    EXPECT_TRUE(shownTitle("Non-Indexed Word"));
    EXPECT_TRUE(shownTitle("No valid searchwords"));
    EXPECT_FALSE(prepareLookup("c?lour", sx, words));
    EXPECT_TRUE(shownTitle("Search Problem"));
    EXPECT_FALSE(prepareLookup("x", sx, words));
    EXPECT_TRUE(shownTitle("Too Few Letters"));
}

TEST_F(WordsSearch, WordsNoIndexCanHoldAreReported) {
    std::vector<std::string> words;
    LookupOptions whole;
    auto shownText = [&](const std::string& part) {
        for (auto& b : headless.shown)
            if (b.title == "Non-Indexed Word" && b.text.find(part) != std::string::npos) return true;
        return false;
    };
    EXPECT_FALSE(prepareLookup("12:30", whole, words));
    EXPECT_TRUE(shownText("The word: 12:30 is never indexed"));
    EXPECT_TRUE(shownTitle("No valid searchwords"));
    EXPECT_FALSE(prepareLookup(std::string(45, 'z'), whole, words));
    EXPECT_TRUE(shownText("is too long to be indexed"));
    // Dropped from a query of several words, the others stay.
    ASSERT_TRUE(prepareLookup("q apple 0x1f", whole, words));
    EXPECT_EQ(words, std::vector<std::string>{"APPLE"});
    EXPECT_TRUE(shownText("The word: Q is too short to be indexed"));
    EXPECT_TRUE(shownText("The word: 0X1F is never indexed"));
    // Stretches and patterns of words are not indexed words themselves.
    headless.shown.clear();
    LookupOptions starts;
    starts.startsWith = true;
    starts.wholeWord = false;
    ASSERT_TRUE(prepareLookup("q", starts, words));
    ASSERT_TRUE(prepareLookup("q*", whole, words));
    LookupOptions contains;
    contains.wholeWord = false;
    ASSERT_TRUE(prepareLookup("12", contains, words));
    EXPECT_FALSE(shownTitle("Non-Indexed Word"));
}

TEST_F(WordsSearch, SoundexOfALetterAlone) {
    addMail(15, "Lee", "a note from Shaw");
    IndexSummary s;
    ASSERT_TRUE(indexActiveDatabase(false, 4, s));
    std::vector<std::string> words;
    LookupOptions sx;
    sx.soundex = true;
    for (const char* name : {"lee", "shaw"}) {
        ASSERT_TRUE(prepareLookup(name, sx, words)) << name;
        std::vector<std::string> found;
        for (const LookupHit& h : lookupWords(words, sx)) found.push_back(h.word);
        EXPECT_NE(std::find(found.begin(), found.end(), kUpperAscii(name)), found.end()) << name;
        // Only words of the same code: the first letter and no digit.
        for (const std::string& w : found) EXPECT_EQ(soundexCode(w), std::string(1, w[0])) << w;
    }
    EXPECT_FALSE(shownTitle("Soundex Error"));
}

TEST_F(WordsSearch, SearchTableHoldsTheResult) {
    ASSERT_TRUE(storeSearchResult({13, 12, 10}));
    ASSERT_TRUE(storeSearchResult({11, 10}));
    OP_CLOSE(OpOpenShared, Search.number());
    std::vector<uint32_t> ids;
    Search.set(SEA_IdKey);
    while (Search.next()) ids.push_back(SEA.ID);
    OP_CLOSE(OpClose, Search.number());
    EXPECT_EQ(ids, (U{11, 10}));
}

// ---- command line

std::string runQbox(const std::string& args, int* status) {
    std::string cmd = std::string(QBOX_BIN) + " " + args + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    int rc = p ? pclose(p) : -1;
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// Runs a qbox program with its output and its error output apart.
struct ProgramRun {
    int status = -1;
    std::string out, err;
};
ProgramRun runProgram(const std::string& program, const std::string& args, const std::string& errFile) {
    ProgramRun r;
    std::string cmd = program + " " + args + " 2>" + errFile;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) r.out += buf;
    int rc = p ? pclose(p) : -1;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.err = readFile(errFile);
    return r;
}

class WordsCli : public WordsDbTest {
protected:
    // Closes every table so that the program has the home to itself.
    void handOver() {
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        closeAllTables();
    }
    ProgramRun qbox(const std::string& args, const std::string& program = QBOX_BIN) {
        return runProgram(program, "--home " + home.path + " " + args, home.path + "/stderr.txt");
    }
};

TEST_F(WordsCli, AndWithWildcardsMeansAll) {
    makeDb("Systems", 2);
    addMail(41, "windows and dos", "twin systems");
    addMail(42, "windows alone", "nothing else");
    addMail(43, "dos alone", "nothing else");
    addMail(44, "winsock over dosemu", "twin again");
    addMail(45, "winsock only", "and the kernel");
    handOver();
    ASSERT_EQ(qbox("index Systems").status, 0);
    EXPECT_EQ(qbox("search Systems --and 'win*' --and 'dos*'").out, "44\n41\n");
    EXPECT_EQ(qbox("search Systems --and 'win*' --and alone").out, "42\n");
    EXPECT_EQ(qbox("search Systems --and 'win*' --and 'dos*' --and twin").out, "44\n41\n");
    // With --or words the wildcard still has to match.
    EXPECT_EQ(qbox("search Systems --and 'win*' --or dosemu --or kernel").out, "45\n44\n");
    EXPECT_EQ(qbox("search Systems --and 'win*' --and 'dos*' --not dosemu").out, "41\n");
    EXPECT_EQ(qbox("search Systems --and 'win*'").out, "45\n44\n42\n41\n");
}

TEST_F(WordsCli, WordsNoIndexCanHoldAreReported) {
    makeDb("Clock", 2);
    addMail(51, "meeting at 12:30", "cache the embedded 0x1f value");
    addMail(52, "later", "nothing");
    handOver();
    ASSERT_EQ(qbox("index Clock").status, 0);
    ProgramRun r = qbox("search Clock --and 12:30");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("[Non-Indexed Word] The word: 12:30 is never indexed"), std::string::npos) << r.err;
    r = qbox("search Clock --and x");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is too short to be indexed"), std::string::npos) << r.err;
    // The other words of the query are still searched.
    r = qbox("search Clock --and 0x1f --and cache");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "51\n");
    EXPECT_NE(r.err.find("The word: 0X1F is never indexed"), std::string::npos) << r.err;
    // A word that could be indexed but is not: an empty result, no report.
    r = qbox("search Clock --and nosuchword");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find("Non-Indexed Word"), std::string::npos) << r.err;
}

// The program copied away from the build and source trees still has the
// shipped ignore list.
TEST_F(WordsCli, InstalledProgramHasTheIgnoreList) {
    makeDb("Notes", 2);
    addMail(61, "the garden", "the roses and the tulips");
    handOver();
    const std::string bin = home.path + "/opt/bin";
    std::filesystem::create_directories(bin);
    std::filesystem::copy_file(QBOX_BIN, bin + "/qbox");
    std::filesystem::permissions(bin + "/qbox", std::filesystem::perms::owner_all);
    ASSERT_EQ(qbox("index Notes", bin + "/qbox").status, 0);
    ProgramRun r = qbox("search Notes --and the", bin + "/qbox");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("[Non-Indexed Word] The word: THE is a Non-Indexed Word."), std::string::npos) << r.err;
    EXPECT_EQ(qbox("search Notes --and roses", bin + "/qbox").out, "61\n");
    EXPECT_GT(rows(StopWords), 50);
}

TEST_F(WordsCli, IndexAndSearchCommands) {
    makeDb("Linux MIPS", 2);
    addMail(21, "kernel oops", "the kernel crashed with an oops");
    addMail(22, "kernel patch", "a patch for the kernel scheduler");
    addMail(23, "toolchain", "binutils and gcc for the kernel build");
    for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
    closeAllTables();
    const std::string home = "--home " + this->home.path + " ";
    int rc = 0;
    EXPECT_EQ(runQbox(home + "index 'linux mips'", &rc), "indexed 3 words 9\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(runQbox(home + "index 'Linux MIPS'", &rc), "indexed 0 words 9\n");
    EXPECT_EQ(runQbox(home + "search 'Linux MIPS' --and kernel", &rc), "23\n22\n21\n");
    EXPECT_EQ(runQbox(home + "search 'Linux MIPS' --and kernel --not patch", &rc), "23\n21\n");
    EXPECT_EQ(runQbox(home + "search 'Linux MIPS' --or oops --or gcc", &rc), "23\n21\n");
    EXPECT_EQ(runQbox(home + "search 'Linux MIPS' --phrase 'kernel scheduler'", &rc), "22\n");
    EXPECT_EQ(runQbox(home + "search 'Linux MIPS' --phrase 'scheduler kernel'", &rc), "");
    EXPECT_EQ(runQbox(home + "search 'Linux MIPS' --soundex kernal", &rc), "23\n22\n21\n");
    EXPECT_EQ(runQbox(home + "search 'Linux MIPS' --approx binutil:1", &rc), "23\n");
    EXPECT_EQ(runQbox(home + "search 'Linux MIPS' --and nosuchword", &rc), "");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(runQbox(home + "index 'Linux MIPS' --full", &rc), "indexed 3 words 9\n");
    runQbox(home + "search 'No such db' --and kernel", &rc);
    EXPECT_NE(rc, 0);
}

} // namespace
