// The key-word tab and the search go on after the row they read last, found
// by key and place, also when rows before it went meanwhile.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "reading/browselist.h"
#include "tests/words_fixture.h"
#include "wordsearch/indexer.h"
#include "wordsearch/prosearch.h"

using namespace qb;

namespace {

class KeywordPaging : public WordsDbTest {
protected:
    int32_t apple = 0;
    void SetUp() override {
        WordsDbTest::SetUp();
        makeDb("Fruit", 2);
        for (uint32_t id = 100; id < 220; ++id) addMail(id, "apple " + std::to_string(id), "an apple a day");
        IndexSummary s;
        ASSERT_TRUE(indexActiveDatabase(false, 4, s));
        ASSERT_EQ(wordCount("APPLE", &apple), 120);
    }
    // Another process removes the index row of one message of the word.
    void dropPair(uint32_t msg) {
        OP_CLOSE(OpOpenShared, MasIdx.number());
        MasIdx.clearBuffer();
        MAS.SYSID = msg;
        MAS.WORDID = static_cast<uint32_t>(apple);
        ASSERT_TRUE(MasIdx.get(MAS_by_SysID));
        ASSERT_TRUE(MasIdx.erase());
        OP_CLOSE(OpClose, MasIdx.number());
    }
};

TEST_F(KeywordPaging, TheNextPageFollowsARowThatWentMeanwhile) {
    OP_CLOSE(OpOpenShared, Mail.number(), MasIdx.number(), MsgText.number(), Person.number());
    BrowseChoice c;
    c.wordId = static_cast<uint32_t>(apple);
    BrowseList list(true);
    list.setView(mailView(6, c));
    ASSERT_EQ(list.size(), BrowseList::kPage);
    std::set<uint32_t> seen;
    for (size_t i = 0; i < list.size(); ++i) seen.insert(list.at(i).id);
    dropPair(list.at(list.size() - 1).id);
    // The rest of the word comes, though the row the window ends with is gone.
    size_t more = 0;
    while (size_t n = list.fetchAfter()) more += n;
    EXPECT_EQ(more, 120u - BrowseList::kPage);
    for (size_t i = 0; i < list.size(); ++i) seen.insert(list.at(i).id);
    EXPECT_EQ(seen.size(), 120u);
    EXPECT_TRUE(list.atEnd());
    OP_CLOSE(OpClose, Mail.number(), MasIdx.number(), MsgText.number(), Person.number());
}

TEST_F(KeywordPaging, ASearchGoesOnAfterTheRowItLoadedLast) {
    WordIndexSettings s;
    readWordIndexSettings(s);
    s.searchPauseCount = 25;
    writeWordIndexSettings(s);
    ProSearchState st;
    std::vector<ListEntry> a{ListEntry{}}, o;
    a[0].id = apple;
    a[0].word = "APPLE";
    a[0].count = 120;
    std::vector<uint32_t> result;
    std::vector<std::string> found;
    headless.answers = {BtnCancel};
    ASSERT_EQ(runProSearch(st, a, o, {}, 2, result, found, true), SearchOutcome::Found);
    ASSERT_EQ(result.size(), 25u);
    // One message already found loses its index row before "Next Block".
    dropPair(result.front());
    headless.answers = {BtnYes, BtnYes, BtnYes, BtnYes};
    ASSERT_EQ(runProSearch(st, a, o, {}, 2, result, found, true), SearchOutcome::Found);
    std::set<uint32_t> ids(result.begin(), result.end());
    EXPECT_EQ(ids.size(), 120u);
    EXPECT_EQ(result.size(), 120u);
    EXPECT_TRUE(st.ANDLISTDONE);
}

} // namespace
