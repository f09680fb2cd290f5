// The search command in a process of its own: the messages it finds, the
// search view it leaves for the browse, the files it leaves at rest; and a
// headless command that starts without the GUI libraries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/qboxrun.h"
#include "tests/words_fixture.h"
#include "wordsearch/indexer.h"
#include "wordsearch/prosearch.h"

using namespace qb;
namespace fs = std::filesystem;

namespace {

// Message IDs 1001..1300; message 1000+i holds QUORBEL when i is even,
// FANTRIX when i is a multiple of 3 and ZENDOLYN when it is a multiple of 50.
constexpr uint32_t kBase = 1000, kCount = 300;

// The output the search should print: every i that all divisors divide, newest first.
std::string expected(std::vector<uint32_t> divisors, std::vector<uint32_t> notDivisors = {}) {
    std::string out;
    for (uint32_t i = kCount; i >= 1; --i) {
        bool ok = true;
        for (uint32_t d : divisors) ok = ok && i % d == 0;
        for (uint32_t d : notDivisors) ok = ok && i % d != 0;
        if (ok) out += std::to_string(kBase + i) + "\n";
    }
    return out;
}

class SearchCli : public WordsDbTest {
protected:
    void SetUp() override {
        WordsDbTest::SetUp();
        makeDb("Lists", 2);
        for (uint32_t i = 1; i <= kCount; ++i) {
            std::string body = "plain message";
            if (i % 2 == 0) body += " quorbel";
            if (i % 3 == 0) body += " fantrix";
            if (i % 50 == 0) body += " zendolyn";
            addMail(kBase + i, "number " + std::to_string(i), body);
        }
        IndexSummary s;
        ASSERT_TRUE(indexActiveDatabase(false, 40, s));
        ASSERT_EQ(s.result, 1);
        // The program gets the home to itself.
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        closeAllTables();
    }

    QboxOutcome qbox(std::vector<std::string> args) { return runQbox(home.path, home.path, std::move(args)); }

    // The rows of the search view in the order of its key, as the browse reads them.
    std::string view() {
        std::string out;
        OP_CLOSE(OpOpenShared, Search.number());
        Search.set(SEA_IdKey);
        while (Search.next()) out += std::to_string(SEA.ID) + "\n";
        OP_CLOSE(OpClose, Search.number());
        return out;
    }
};

// Two-word searches whose second word is checked row by row (a rare word
// against a common one) and loaded whole (two common words), a NOT word,
// and a search without hits, each in a fresh process.
TEST_F(SearchCli, FreshProcessFindsTheMessagesAndLeavesThemInTheView) {
    const struct {
        std::vector<std::string> args;
        std::string want;
    } cases[] = {
        {{"--and", "quorbel", "--and", "fantrix"}, expected({2, 3})},
        {{"--and", "fantrix", "--and", "quorbel"}, expected({2, 3})},
        {{"--and", "zendolyn", "--and", "fantrix"}, expected({50, 3})},
        {{"--and", "quorbel", "--and", "zendolyn"}, expected({50})},
        {{"--and", "fantrix", "--not", "quorbel"}, expected({3}, {2})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.args[3]);
        std::vector<std::string> args = {"search", "Lists"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        QboxOutcome r = qbox(args);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_FALSE(c.want.empty());
        EXPECT_EQ(r.out, c.want);
        EXPECT_EQ(view(), c.want);
    }
    // A search that finds nothing empties the view: the browse shows no
    // rows of the search before it.
    QboxOutcome r = qbox({"search", "Lists", "--and", "zendolyn", "--not", "quorbel"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(view(), "");
}

// A search changes nothing the user keeps: the settings file is not
// written, and the search view is left without a journal or log beside it.
TEST_F(SearchCli, SearchLeavesTheSettingsUntouchedAndTheViewAtRest) {
    ASSERT_EQ(qbox({"search", "Lists", "--and", "quorbel", "--and", "fantrix"}).status, 0);  // settings rows made, if any
    const std::string control = home.path + "/CFG/IDX008.TPS";
    ASSERT_TRUE(fs::exists(control));
    const auto before = fs::last_write_time(control);
    const std::string settings = readFile(control);
    QboxOutcome r = qbox({"search", "Lists", "--and", "zendolyn", "--and", "fantrix"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected({50, 3}));
    EXPECT_EQ(fs::last_write_time(control), before);
    EXPECT_EQ(readFile(control), settings);
    const std::string searchFile = home.path + "/TEMP/IDX032.TPS";
    ASSERT_TRUE(fs::exists(searchFile));
    for (const char* side : {"-journal", "-wal", "-shm"}) EXPECT_FALSE(fs::exists(searchFile + side)) << side;
}

// A search through the index reads no message: it runs also while the file
// of the message texts cannot be opened; a phrase, which reads the texts,
// still stops on it.
TEST_F(SearchCli, IndexedSearchOpensNoMessageFile) {
    const std::string texts = tableFileName(MsgText.number());
    ASSERT_TRUE(fs::exists(texts)) << texts;
    writeFile(texts, std::string(4096, 'x'));
    QboxOutcome r = qbox({"search", "Lists", "--and", "zendolyn", "--and", "fantrix"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected({50, 3}));
    r = qbox({"search", "Lists", "--and", "zendolyn", "--phrase", "plain message"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(fs::path(texts).filename().string()), std::string::npos) << r.err;
}

// The word definition tables of the settings hold in the search's process:
// with the hyphen made part of words, a hyphenated word is one word of the
// index and of the search.
TEST_F(SearchCli, SearchBreaksWordsByTheStoredWordDefinitions) {
    selectDatabase(250001);
    InWordHash[static_cast<unsigned char>('-')] = 0;
    EndWordHash[static_cast<unsigned char>('-')] = 0;
    ASSERT_TRUE(saveWordTables());
    addMail(kBase + kCount + 1, "hyphens", "a quor-bel here");
    IndexSummary s;
    ASSERT_TRUE(indexActiveDatabase(false, 40, s));
    for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
    closeAllTables();
    QboxOutcome r = qbox({"search", "Lists", "--and", "quor-bel"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::to_string(kBase + kCount + 1) + "\n");
}

// A headless command does not load the GUI libraries; the print command,
// which draws with them, still works (tests/test_export_cli.cpp).
TEST_F(SearchCli, HeadlessCommandsStartWithoutTheGuiLibraries) {
    // The loader's trace of the libraries it loads goes to the error output.
    ::setenv("LD_DEBUG", "libs", 1);
    const std::vector<std::vector<std::string>> commands = {
        {"version"}, {"db", "list"}, {"search", "Lists", "--and", "zendolyn"}};
    std::vector<QboxOutcome> runs;
    for (const auto& args : commands) runs.push_back(qbox(args));
    ::unsetenv("LD_DEBUG");
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(commands[i][0]);
        ASSERT_EQ(runs[i].status, 0) << runs[i].err;
        EXPECT_NE(runs[i].err.find("libqbfil"), std::string::npos) << "no loader trace";
        EXPECT_EQ(runs[i].err.find("libQt6"), std::string::npos);
        EXPECT_EQ(runs[i].err.find("libqbgui"), std::string::npos);
    }
}

} // namespace
