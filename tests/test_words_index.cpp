// The word indexer: partial and full runs, recommendations, counts, the
// ignore list, auto-stop, cancel and the word-delete cleanup.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "tests/words_fixture.h"
#include "wordsearch/indexer.h"

using namespace qb;

namespace {

class WordsIndex : public WordsDbTest {
protected:
    // Runs the recommended (or the given) mode as the indexing window does.
    int run(int mode = -1, bool cancelAfterFirstBatch = false, int batch = 4) {
        uint32_t pos = 0, count = 0;
        int32_t upd = 0;
        EXPECT_TRUE(readIndexFields(pos, count, upd));
        if (mode < 0) {
            uint8_t advice = 0;
            WSIndexFixup(advice, 4, pos, count, 1, 0);
            if (advice == AdviceNone) return 0;
            mode = advice;
        }
        WordIndexer r(mode, batch, pos, Mem.ForumNumber, Mem.ForumType, upd, count);
        if (r.start()) {
            EXPECT_TRUE(IndexingInProgress);
            while (r.step())
                if (cancelAfterFirstBatch && r.done() > 0) r.cancel();
        }
        lastRunMessages = r.indexedThisRun();
        int result = r.finish();
        EXPECT_FALSE(IndexingInProgress);
        EXPECT_TRUE(writeIndexFields(pos, count, upd));
        return result;
    }

    uint8_t advice(bool recount = false) {
        uint32_t pos = 0, count = 0;
        int32_t upd = 0;
        readIndexFields(pos, count, upd);
        uint8_t a = 0;
        WSIndexFixup(a, 4, pos, count, recount ? 0 : 1, recount ? 1 : 0);
        return a;
    }

    bool pair(uint32_t msg, const std::string& word) {
        int32_t id = 0;
        if (wordCount(word, &id) < 0) return false;
        OP_CLOSE(OpOpenShared, MasIdx.number());
        MAS.SYSID = msg;
        MAS.WORDID = static_cast<uint32_t>(id);
        bool found = MasIdx.get(MAS_by_SysID);
        OP_CLOSE(OpClose, MasIdx.number());
        return found;
    }

    // A mail database of one indexed message (subject first), and a partial
    // run over a second one (subject second), stopped before it writes its pairs.
    struct HeldRun {
        uint32_t pos = 0, count = 0;
        int32_t upd = 0;
        int64_t pairsBefore = 0;
        std::unique_ptr<WordIndexer> r;
    };
    void partialRunUpToFlush(HeldRun& h, const std::string& first, const std::string& second) {
        makeDb("Mail", 2);
        addMail(1, first, "");
        ASSERT_EQ(run(), 1);
        h.pairsBefore = rows(MasIdx);
        addMail(2, second, "");
        ASSERT_TRUE(readIndexFields(h.pos, h.count, h.upd));
        h.r = std::make_unique<WordIndexer>(ModePartial, 4, h.pos, Mem.ForumNumber, 2, h.upd, h.count);
        ASSERT_TRUE(h.r->start());
        ASSERT_TRUE(h.r->step());
        ASSERT_TRUE(h.r->step());
        ASSERT_EQ(h.r->phase(), WordIndexer::Phase::FlushPairs);
    }

    uint32_t lastRunMessages = 0;
};

TEST_F(WordsIndex, MailSubjectAndBodyCountsPerMessage) {
    makeDb("Mail", 2);
    EXPECT_EQ(advice(), AdviceNone);  // nothing to index yet
    addMail(1001, "Kernel patch", "kernel kernel kernel kernel kernel and more words");
    addMail(1002, "Re: Kernel patch", "looks fine to me");
    addMail(1003, "HTML only",
            "Content-Type: multipart/alternative; boundary=\"Q\"\r\n\r\n--Q\r\nContent-Type: text/html\r\n\r\n"
            "<p>secretword</p>\r\n--Q--\r\n");
    EXPECT_EQ(advice(), AdviceFull);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(lastRunMessages, 3u);
    EXPECT_EQ(wordCount("KERNEL"), 2);   // five times in one message counts once
    EXPECT_EQ(wordCount("PATCH"), 2);
    EXPECT_EQ(wordCount("LOOKS"), 1);
    EXPECT_EQ(wordCount("HTML"), 1);     // the subject of an HTML-only mail is indexed
    EXPECT_EQ(wordCount("SECRETWORD"), -1);
    EXPECT_TRUE(pair(1001, "KERNEL"));
    EXPECT_FALSE(pair(1002, "WORDS"));
    uint32_t pos, count;
    int32_t upd;
    ASSERT_TRUE(readIndexFields(pos, count, upd));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(upd, 0);
    EXPECT_FALSE(positionBlank(pos));
    EXPECT_EQ(advice(), AdviceNone);
}

TEST_F(WordsIndex, PartialRunsAddOnlyNewMessages) {
    makeDb("Mail", 2);
    addMail(1, "alpha", "common words here");
    addMail(2, "beta", "common words there");
    ASSERT_EQ(run(), 1);
    const int64_t pairs = rows(MasIdx);
    EXPECT_EQ(run(ModePartial), 1);  // nothing new: nothing added
    EXPECT_EQ(rows(MasIdx), pairs);
    EXPECT_EQ(wordCount("COMMON"), 2);
    addMail(3, "gamma", "common again");
    EXPECT_EQ(advice(), AdvicePartial);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(lastRunMessages, 1u);
    EXPECT_EQ(wordCount("COMMON"), 3);
    EXPECT_EQ(wordCount("GAMMA"), 1);
    // Re-indexing from the start finds every message indexed already.
    uint32_t pos, count;
    int32_t upd;
    readIndexFields(pos, count, upd);
    writeIndexFields(kBlankPosition, 0, upd);
    EXPECT_EQ(advice(true), AdviceNone);  // the recount finds the position again
    EXPECT_EQ(run(ModePartial), 1);
    EXPECT_EQ(wordCount("COMMON"), 3);
}

TEST_F(WordsIndex, IndexOfOlderWordRulesIsBuiltAgain) {
    makeDb("Mail", 2);
    addMail(1, "cache", "the cache was mapped ahead of time");
    addMail(2, "memcmp", "an embedded exec call");
    ASSERT_EQ(run(), 1);
    EXPECT_EQ(storedWordRuleVersion(), kWordRuleVersion);
    for (const char* w : {"CACHE", "MAPPED", "AHEAD", "MEMCMP", "EMBEDDED", "EXEC"}) EXPECT_EQ(wordCount(w), 1) << w;
    EXPECT_EQ(advice(), AdviceNone);

    // An index from before the version was kept, missing the words the old
    // rule threw away.
    int32_t cacheId = 0;
    ASSERT_EQ(wordCount("CACHE", &cacheId), 1);
    OP_CLOSE(OpOpenShared, WordList.number(), MasIdx.number());
    WordList.clearBuffer();
    WOR.WORDID = cacheId;
    ASSERT_TRUE(WordList.get(WOR_by_WordId));
    ASSERT_TRUE(WordList.erase());
    MAS.SYSID = 1;
    MAS.WORDID = static_cast<uint32_t>(cacheId);
    ASSERT_TRUE(MasIdx.get(MAS_by_SysID));
    ASSERT_TRUE(MasIdx.erase());
    OP_CLOSE(OpClose, WordList.number(), MasIdx.number());
    std::filesystem::remove(wordRuleVersionFile());
    EXPECT_EQ(storedWordRuleVersion(), 1);

    EXPECT_EQ(advice(), AdviceFull);
    EXPECT_EQ(advice(true), AdviceFull);
    // Even a partial run asked for builds it again, without asking.
    EXPECT_EQ(run(ModePartial), 1);
    EXPECT_FALSE(shownTitle("Warning"));
    EXPECT_EQ(lastRunMessages, 2u);
    EXPECT_EQ(wordCount("CACHE"), 1);
    EXPECT_TRUE(pair(1, "CACHE"));
    EXPECT_EQ(storedWordRuleVersion(), kWordRuleVersion);
    EXPECT_EQ(advice(), AdviceNone);
}

TEST_F(WordsIndex, FullRunRebuildsFromScratch) {
    makeDb("Mail", 2);
    addMail(1, "first", "apple banana");
    ASSERT_EQ(run(), 1);
    headless.answers.push_back(BtnYes);
    EXPECT_EQ(run(ModeFull), 1);
    EXPECT_TRUE(shownTitle("Warning"));
    EXPECT_EQ(wordCount("APPLE"), 1);
    EXPECT_EQ(rows(WordList), 3);
    // Declining the warning leaves the index alone.
    headless.answers.push_back(BtnNo);
    EXPECT_EQ(run(ModeFull), 2);
    EXPECT_EQ(wordCount("APPLE"), 1);
}

TEST_F(WordsIndex, ForumHeadingsFootersAndMissingHeaders) {
    makeDb("Forum", 1);
    addForumMsg(500, 77, "Modem trouble", "My modem hangs.\r\n\r\nAny idea?\r\n\r\nSigned Zebediah");
    addTextOnly(501, "orphan text without header");
    ASSERT_EQ(run(), 1);
    EXPECT_EQ(lastRunMessages, 1u);  // the text without its header is skipped and not counted
    EXPECT_EQ(wordCount("MODEM"), 1);
    EXPECT_EQ(wordCount("TROUBLE"), 1);
    EXPECT_EQ(wordCount("IDEA"), 1);
    EXPECT_EQ(wordCount("ZEBEDIAH"), -1);  // the footer is not indexed
    EXPECT_EQ(wordCount("ORPHAN"), -1);
    // With footers indexed, a full run takes it.
    WordIndexSettings s;
    readWordIndexSettings(s);
    s.indexForumFooters = 1;
    writeWordIndexSettings(s);
    headless.answers.push_back(BtnYes);
    ASSERT_EQ(run(ModeFull), 1);
    EXPECT_EQ(wordCount("ZEBEDIAH"), 1);
}

TEST_F(WordsIndex, IgnoreListIsSeededAndHonoured) {
    makeDb("Mail", 2);
    addMail(1, "The subject", "the and of quillbox");
    ASSERT_EQ(run(), 1);
    EXPECT_GT(rows(StopWords), 50);  // the shipped list of common words
    EXPECT_EQ(wordCount("THE"), -1);
    EXPECT_EQ(wordCount("QUILLBOX"), 1);
}

TEST_F(WordsIndex, CancelKeepsWhatWasIndexed) {
    makeDb("Mail", 2);
    for (uint32_t i = 1; i <= 30; ++i) addMail(i, "subject" + std::to_string(i), "body word" + std::to_string(i));
    EXPECT_EQ(run(ModePartial, true, 4), 1);
    EXPECT_EQ(lastRunMessages, 4u);
    EXPECT_EQ(wordCount("SUBJECT1"), 1);
    EXPECT_EQ(wordCount("SUBJECT5"), -1);
    EXPECT_EQ(advice(), AdvicePartial);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(lastRunMessages, 26u);
    EXPECT_EQ(wordCount("SUBJECT30"), 1);
    EXPECT_EQ(wordCount("BODY"), 30);
}

TEST_F(WordsIndex, DeletedWordsMoveToIgnoreList) {
    makeDb("Mail", 2);
    for (uint32_t i = 1; i <= 5; ++i) addMail(i, "zapme keepme", "filler text number" + std::to_string(i));
    ASSERT_EQ(run(), 1);
    int32_t zap = 0;
    ASSERT_EQ(wordCount("ZAPME", &zap), 5);
    OP_CLOSE(OpOpenShared, WordPurge.number());
    WordPurge.clearBuffer();
    PUR.WORDID = zap;
    ASSERT_TRUE(WordPurge.add());
    OP_CLOSE(OpClose, WordPurge.number());
    EXPECT_EQ(advice(), AdviceCleanup);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(wordCount("ZAPME"), -1);
    EXPECT_FALSE(pair(1, "ZAPME"));
    EXPECT_TRUE(pair(1, "KEEPME"));
    EXPECT_EQ(rows(WordPurge), 0);
    OP_CLOSE(OpOpenShared, StopWords.number());
    STO.THEWORD = "ZAPME";
    EXPECT_TRUE(StopWords.get(STO_BY_THEWORD));
    OP_CLOSE(OpClose, StopWords.number());
    // New messages with the word do not bring it back.
    addMail(9, "zapme returns", "x");
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(wordCount("ZAPME"), -1);
    EXPECT_EQ(wordCount("RETURNS"), 1);
}

TEST_F(WordsIndex, FullRunWithPendingDeletionsRebuildsEverything) {
    makeDb("Mail", 2);
    addMail(1, "dropword stay", "x");
    addMail(2, "stay", "y");
    ASSERT_EQ(run(), 1);
    int32_t id = 0;
    ASSERT_EQ(wordCount("DROPWORD", &id), 1);
    OP_CLOSE(OpOpenShared, WordPurge.number());
    PUR.WORDID = id;
    ASSERT_TRUE(WordPurge.add());
    OP_CLOSE(OpClose, WordPurge.number());
    headless.answers.push_back(BtnYes);
    ASSERT_EQ(run(ModeFull), 1);
    EXPECT_EQ(wordCount("DROPWORD"), -1);
    EXPECT_EQ(wordCount("STAY"), 2);   // every message indexed again
    EXPECT_TRUE(pair(2, "STAY"));
}

TEST_F(WordsIndex, AutoStopOnlyAboveTenThousandMessages) {
    makeDb("Mail", 2);
    OP_CLOSE(OpOpenShared, Mail.number(), MsgText.number());
    Mail.stream();
    MsgText.stream();
    for (uint32_t i = 1; i <= 10400; ++i) {
        Mail.clearBuffer();
        MAI.MAILID = i;
        MAI.SUBJECT = i % 2 ? "ubiquitous frequent" : "ubiquitous";
        ASSERT_TRUE(Mail.add());
        MsgText.clearBuffer();
        TXT.MSGNUMBER = i;
        TXT_MsgText = i % 100 ? "" : "rare";
        ASSERT_TRUE(MsgText.add());
    }
    Mail.flush();
    MsgText.flush();
    OP_CLOSE(OpClose, Mail.number(), MsgText.number());
    ASSERT_EQ(run(-1, false, 40), 1);
    // Past 10,000 messages, words in over a quarter of them go to the ignore list.
    EXPECT_EQ(wordCount("UBIQUITOUS"), -1);
    EXPECT_EQ(wordCount("FREQUENT"), -1);
    EXPECT_FALSE(pair(3, "FREQUENT"));
    EXPECT_EQ(wordCount("RARE"), 104);
    OP_CLOSE(OpOpenShared, StopWords.number());
    STO.THEWORD = "UBIQUITOUS";
    EXPECT_TRUE(StopWords.get(STO_BY_THEWORD));
    OP_CLOSE(OpClose, StopWords.number());
    OP_CLOSE(OpOpenShared, MasIdx.number());
    EXPECT_EQ(MasIdx.records(), 104);
    OP_CLOSE(OpClose, MasIdx.number());
}

TEST_F(WordsIndex, NoAutoStopInSmallDatabases) {
    makeDb("Mail", 2);
    for (uint32_t i = 1; i <= 20; ++i) addMail(i, "ubiquitous", "");
    ASSERT_EQ(run(), 1);
    EXPECT_EQ(wordCount("UBIQUITOUS"), 20);
}

} // namespace

namespace {
TEST_F(WordsIndex, TablesSavedDuringARunKeepTheCircumflex) {
    makeDb("Mail", 2);
    addMail(1, "^caret words", "x");
    ASSERT_TRUE(loadWordTables());
    ASSERT_EQ(StartWordHash['^'], 0);
    uint32_t pos = 0, count = 0;
    int32_t upd = 0;
    WordIndexer r(ModeFull, 4, pos, Mem.ForumNumber, 2, upd, count);
    ASSERT_TRUE(r.start());
    EXPECT_EQ(StartWordHash['^'], 1);
    EXPECT_EQ(upd, 1);
    ASSERT_TRUE(saveWordTables());  // the wizard saving while the run goes on
    while (r.step()) {
    }
    EXPECT_EQ(r.finish(), 1);
    EXPECT_EQ(upd, 0);
    EXPECT_EQ(StartWordHash['^'], 0);
    ASSERT_TRUE(loadWordTables());
    EXPECT_EQ(StartWordHash['^'], 0);
    EXPECT_EQ(wordCount("CARET"), 1);
    EXPECT_EQ(wordCount("^CARET"), -1);
}
} // namespace

namespace {
TEST_F(WordsIndex, RecountCorrectsPositionAndCount) {
    makeDb("News", 3);
    addForumMsg(1, 9, "first heading", "alpha text\r\n\r\nsig one");
    addForumMsg(2, 9, "first heading", "beta text\r\n\r\nsig two");
    ASSERT_EQ(run(), 1);
    EXPECT_EQ(wordCount("ALPHA"), 1);
    EXPECT_EQ(wordCount("SIG"), -1);  // newsgroup footers are left out by default
    EXPECT_EQ(wordCount("HEADING"), 2);
    addForumMsg(3, 10, "second thread", "gamma text");
    uint32_t pos, count;
    int32_t upd;
    ASSERT_TRUE(readIndexFields(pos, count, upd));
    const uint32_t goodPos = pos;
    // A count below half the texts makes the quick check give way to a recount.
    writeIndexFields(pos, 0, upd);
    uint8_t a = 0;
    ASSERT_TRUE(readIndexFields(pos, count, upd));
    WSIndexFixup(a, 4, pos, count, 1, 0);
    EXPECT_EQ(a, AdvicePartial);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(pos, goodPos);
    writeIndexFields(pos, count, upd);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(lastRunMessages, 1u);
    EXPECT_EQ(wordCount("GAMMA"), 1);
    EXPECT_EQ(wordCount("THREAD"), 1);
    // Without any index the advice is a full run.
    OP_CLOSE(OpOpenShared, MasIdx.number());
    MasIdx.empty();
    OP_CLOSE(OpClose, MasIdx.number());
    EXPECT_EQ(advice(), AdviceFull);
}
} // namespace

namespace {
// Many small mails written at once.
void bulkMail(uint32_t from, uint32_t to, const std::function<std::string(uint32_t)>& subject) {
    OP_CLOSE(OpOpenShared, Mail.number(), MsgText.number());
    Mail.stream();
    MsgText.stream();
    for (uint32_t i = from; i <= to; ++i) {
        Mail.clearBuffer();
        MAI.MAILID = i;
        MAI.SUBJECT = subject(i);
        ASSERT_TRUE(Mail.add());
        MsgText.clearBuffer();
        TXT.MSGNUMBER = i;
        ASSERT_TRUE(MsgText.add());
    }
    Mail.flush();
    MsgText.flush();
    OP_CLOSE(OpClose, Mail.number(), MsgText.number());
}

TEST_F(WordsIndex, WordBecomingCommonLaterLeavesTheIndex) {
    makeDb("Mail", 2);
    // One in five messages: below a quarter, so it stays.
    bulkMail(1, 10050, [](uint32_t i) { return i % 5 ? "filler" + std::to_string(i % 50) : "occasional"; });
    ASSERT_EQ(run(-1, false, 40), 1);
    ASSERT_EQ(wordCount("OCCASIONAL"), 2010);
    EXPECT_TRUE(pair(5, "OCCASIONAL"));
    // Now it is in every new message and passes a quarter of the indexed ones.
    bulkMail(10051, 11000, [](uint32_t) { return "occasional"; });
    ASSERT_EQ(run(-1, false, 40), 1);
    EXPECT_EQ(wordCount("OCCASIONAL"), -1);
    EXPECT_FALSE(pair(5, "OCCASIONAL"));
    EXPECT_FALSE(pair(10051, "OCCASIONAL"));
    EXPECT_TRUE(pair(1, "FILLER1"));
    EXPECT_EQ(rows(MasIdx), 10050 - 2010);
}

TEST_F(WordsIndex, RareDeletedWordIsRemovedWordByWord) {
    makeDb("Mail", 2);
    bulkMail(1, 300, [](uint32_t i) {
        return "w" + std::to_string(i) + "a w" + std::to_string(i) + "b" + (i == 7 ? " oddity" : "");
    });
    ASSERT_EQ(run(), 1);
    int32_t id = 0;
    ASSERT_EQ(wordCount("ODDITY", &id), 1);
    const int64_t before = rows(MasIdx);
    OP_CLOSE(OpOpenShared, WordPurge.number());
    PUR.WORDID = id;
    ASSERT_TRUE(WordPurge.add());
    OP_CLOSE(OpClose, WordPurge.number());
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(rows(MasIdx), before - 1);
    EXPECT_FALSE(pair(7, "ODDITY"));
    EXPECT_TRUE(pair(7, "W7A"));
    EXPECT_EQ(wordCount("ODDITY"), -1);
}
} // namespace

namespace {
TEST_F(WordsIndex, FailedWordWriteRollsTheFlushBack) {
    makeDb("Mail", 2);
    addMail(1, "alpha beta", "");
    uint32_t pos = 0, count = 0;
    int32_t upd = 0;
    WordIndexer r(ModeFull, 4, pos, Mem.ForumNumber, 2, upd, count);
    ASSERT_TRUE(r.start());
    ASSERT_TRUE(r.step());  // prepare
    ASSERT_TRUE(r.step());  // the one message; the buffers go next
    ASSERT_EQ(r.phase(), WordIndexer::Phase::FlushPairs);
    // Meanwhile another writer takes the ID that BETA is about to get.
    WordList.clearBuffer();
    WOR.WORDID = 2;
    WOR.THEWORD = "INTRUDER";
    WOR.WORDCOUNT = 1;
    ASSERT_TRUE(WordList.add());
    while (r.step()) {
    }
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(r.finish(), 2);
    EXPECT_TRUE(shownTitle("Unexpected Error"));
    EXPECT_EQ(rows(MasIdx), 0);         // the pairs of the flush are gone
    EXPECT_EQ(wordCount("ALPHA"), -1);  // so is the word written before the failure
    EXPECT_EQ(wordCount("INTRUDER"), 1);
    EXPECT_TRUE(positionBlank(pos));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(IndexingInProgress);
}
} // namespace

namespace {
TEST_F(WordsIndex, FailedPartialFlushKeepsFormerCounts) {
    HeldRun h;
    ASSERT_NO_FATAL_FAILURE(partialRunUpToFlush(h, "alpha", "alpha beta"));
    WordList.clearBuffer();
    WOR.WORDID = 2;  // BETA's ID
    WOR.THEWORD = "INTRUDER";
    ASSERT_TRUE(WordList.add());
    while (h.r->step()) {
    }
    EXPECT_EQ(h.r->finish(), 2);
    EXPECT_EQ(wordCount("ALPHA"), 1);  // its count before the failed flush
    EXPECT_EQ(rows(MasIdx), h.pairsBefore);
}
} // namespace

namespace {
// The pairs of a flush go in together: one that cannot be written takes the
// others of its flush with it, the run fails with the storage error, and the
// next run indexes the message again.
TEST_F(WordsIndex, FailedPairWriteTakesTheFlushBack) {
    HeldRun h;
    ASSERT_NO_FATAL_FAILURE(partialRunUpToFlush(h, "alpha beta", "alpha gamma"));
    const uint32_t posBefore = h.pos;
    // Another writer stores the pair of GAMMA (ID 3), the second of the flush.
    MasIdx.clearBuffer();
    MAS.SYSID = 2;
    MAS.WORDID = 3;
    ASSERT_TRUE(MasIdx.add()) << errorText();
    while (h.r->step()) {
    }
    EXPECT_TRUE(h.r->failed());
    EXPECT_EQ(h.r->finish(), 2);
    EXPECT_TRUE(shownTitle("Unexpected Error"));
    EXPECT_FALSE(shownTitle("Corrupt Data"));
    EXPECT_EQ(rows(MasIdx), h.pairsBefore + 1);  // ALPHA's pair, written first, is gone again
    EXPECT_FALSE(pair(2, "ALPHA"));
    EXPECT_EQ(wordCount("ALPHA"), 1);
    EXPECT_EQ(wordCount("GAMMA"), -1);
    EXPECT_EQ(h.pos, posBefore);
    EXPECT_TRUE(writeIndexFields(h.pos, h.count, h.upd));

    // Without the stray row the next run takes the message.
    OP_CLOSE(OpOpenShared, MasIdx.number());
    MasIdx.clearBuffer();
    MAS.SYSID = 2;
    MAS.WORDID = 3;
    ASSERT_TRUE(MasIdx.get(MAS_by_SysID));
    ASSERT_TRUE(MasIdx.erase());
    OP_CLOSE(OpClose, MasIdx.number());
    EXPECT_EQ(advice(), AdvicePartial);
    ASSERT_EQ(run(), 1);
    EXPECT_EQ(lastRunMessages, 1u);
    EXPECT_TRUE(pair(2, "ALPHA"));
    EXPECT_TRUE(pair(2, "GAMMA"));
    EXPECT_EQ(wordCount("ALPHA"), 2);
    EXPECT_EQ(rows(MasIdx), h.pairsBefore + 2);
}
} // namespace

namespace {
// A run that stops within its flush (the process killed) leaves pairs whose
// words are not all stored: the next run builds the index again.
TEST_F(WordsIndex, RunStoppedWithinItsFlushIsBuiltAgainByTheNext) {
    for (WordIndexer::Phase stop : {WordIndexer::Phase::FlushKeys, WordIndexer::Phase::FlushWords}) {
        makeDb("Mail" + std::to_string(static_cast<int>(stop)), 2, 250001 + static_cast<uint32_t>(stop));
        addMail(1, "alpha beta", "");
        addMail(2, "beta gamma", "");
        {
            uint32_t pos = 0, count = 0;
            int32_t upd = 0;
            ASSERT_TRUE(readIndexFields(pos, count, upd));
            WordIndexer r(ModeFull, 4, pos, Mem.ForumNumber, 2, upd, count);
            ASSERT_TRUE(r.start());
            ASSERT_TRUE(writeIndexFields(pos, count, upd));  // as a run does when it starts
            while (r.phase() != stop && r.step()) {
            }
            ASSERT_EQ(r.phase(), stop);
            // Nothing more of the run reaches the files.
        }
        EXPECT_GT(rows(MasIdx), 0);
        EXPECT_EQ(rows(WordList), 0);
        EXPECT_EQ(advice(), AdviceFull);
        ASSERT_EQ(run(), 1);
        EXPECT_EQ(lastRunMessages, 2u);
        EXPECT_EQ(wordCount("BETA"), 2);
        EXPECT_EQ(wordCount("GAMMA"), 1);
        EXPECT_TRUE(pair(2, "GAMMA"));
        EXPECT_FALSE(pair(1, "GAMMA"));
        EXPECT_EQ(advice(), AdviceNone);
    }
}
} // namespace

// ---- the stored layout of the master index ------------------------------------

#include <sqlite3.h>

#include "wordsearch/prosearch.h"

namespace {

// The statement that made table r of the file.
std::string tableSql(const std::string& path) {
    sqlite3* db = nullptr;
    std::string sql;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE name = 'r'", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            sql = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return sql;
}

// Writes the rows of the master index at path into a file of the layout that
// earlier versions made (row IDs, both keys as indexes) and puts it in place.
void rewriteInFormerLayout(const std::string& path) {
    const std::string former = path + ".former";
    std::filesystem::remove(former);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(former.c_str(), &db), SQLITE_OK);
    const std::string sql =
        "ATTACH " + std::string("'") + path + "' AS cur;"
        "CREATE TABLE r (\"SYSID\", \"WORDID\");"
        "INSERT INTO r SELECT \"SYSID\", \"WORDID\" FROM cur.r ORDER BY \"SYSID\", \"WORDID\";"
        "CREATE TABLE qb_meta (k TEXT PRIMARY KEY, v TEXT);"
        "INSERT INTO qb_meta SELECT k, v FROM cur.qb_meta;"
        "CREATE UNIQUE INDEX k0 ON r (\"SYSID\", \"WORDID\") WHERE (\"SYSID\" <> 0 OR \"WORDID\" <> 0);"
        "CREATE INDEX k1 ON r (\"WORDID\") WHERE (\"WORDID\" <> 0);"
        "DETACH cur;";
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
    std::filesystem::rename(former, path);
}

// Messages holding both words, newest first, by a professional search.
std::vector<uint32_t> bothWords(const std::string& a, const std::string& b) {
    OP_CLOSE(OpOpenShared, WordList.number(), MasIdx.number(), MsgText.number(), Mail.number(), StopWords.number());
    const LookupHit ha = exactWord(a), hb = exactWord(b);
    std::vector<uint32_t> result;
    if (ha.id != 0 && hb.id != 0) result = searchAllWords({ha, hb}, 2);
    OP_CLOSE(OpClose, WordList.number(), MasIdx.number(), MsgText.number(), Mail.number(), StopWords.number());
    return result;
}

// The messages of a word in the order of the word key, read page by page from
// the last row read, as the key-word tab does.
std::vector<uint32_t> messagesOfWordByPages(int32_t wordId) {
    std::vector<uint32_t> out;
    OP_CLOSE(OpOpenShared, MasIdx.number());
    Position last = 0;
    uint32_t lastSys = 0;
    for (;;) {
        MasIdx.clearBuffer();
        MAS.WORDID = static_cast<uint32_t>(wordId);
        if (last == 0) MasIdx.setFrom(MAS_by_WordId);
        else {
            MAS.SYSID = lastSys;
            MasIdx.setAfter(MAS_by_WordId, last);
        }
        int n = 0;
        while (n < 2 && MasIdx.next() && MAS.WORDID == static_cast<uint32_t>(wordId)) {
            out.push_back(MAS.SYSID);
            last = MasIdx.position();
            lastSys = MAS.SYSID;
            ++n;
        }
        if (n < 2) break;
    }
    OP_CLOSE(OpClose, MasIdx.number());
    return out;
}

TEST_F(WordsIndex, MasterIndexWithoutRowIdsAndFilesOfTheFormerLayout) {
    makeDb("Mail", 2);
    for (uint32_t m = 1; m <= 7; ++m)
        addMail(m, m % 2 ? "kernel patch" : "kernel question", "the cache line " + std::to_string(m) + " flushes");
    ASSERT_EQ(run(ModeFull), 1);
    const std::string path = tableFileName(MasIdx.number());
    // A new index keeps its rows in key order, without row IDs.
    EXPECT_NE(tableSql(path).find("WITHOUT ROWID"), std::string::npos) << tableSql(path);
    const int64_t pairs = rows(MasIdx);
    const auto kernelPatch = bothWords("KERNEL", "PATCH");
    EXPECT_EQ(kernelPatch, (std::vector<uint32_t>{7, 5, 3, 1}));
    int32_t cache = 0;
    ASSERT_EQ(wordCount("CACHE", &cache), 7);
    const auto pages = messagesOfWordByPages(cache);
    EXPECT_EQ(pages, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_TRUE(pair(4, "QUESTION"));
    EXPECT_FALSE(pair(5, "QUESTION"));

    // An index built by an earlier version (row IDs) answers as before ...
    closeAllTables();
    rewriteInFormerLayout(path);
    ASSERT_EQ(tableSql(path).find("WITHOUT ROWID"), std::string::npos);
    EXPECT_EQ(rows(MasIdx), pairs);
    EXPECT_EQ(bothWords("KERNEL", "PATCH"), kernelPatch);
    EXPECT_EQ(messagesOfWordByPages(cache), pages);
    EXPECT_TRUE(pair(4, "QUESTION"));
    EXPECT_FALSE(pair(5, "QUESTION"));
    // ... takes new messages in a partial run ...
    addMail(8, "kernel patch", "cache");
    EXPECT_EQ(advice(), AdvicePartial);
    ASSERT_EQ(run(), 1);
    EXPECT_EQ(lastRunMessages, 1u);
    EXPECT_EQ(tableSql(path).find("WITHOUT ROWID"), std::string::npos);
    EXPECT_EQ(bothWords("KERNEL", "PATCH"), (std::vector<uint32_t>{8, 7, 5, 3, 1}));
    EXPECT_EQ(wordCount("CACHE"), 8);
    const int64_t afterPartial = rows(MasIdx);
    EXPECT_GT(afterPartial, pairs);
    // ... and takes the current layout when it is built again in full.
    headless.answers.push_back(BtnYes);
    ASSERT_EQ(run(ModeFull), 1);
    EXPECT_NE(tableSql(path).find("WITHOUT ROWID"), std::string::npos);
    EXPECT_EQ(rows(MasIdx), afterPartial);
    EXPECT_EQ(bothWords("KERNEL", "PATCH"), (std::vector<uint32_t>{8, 7, 5, 3, 1}));
    EXPECT_EQ(messagesOfWordByPages(cache).size(), 8u);
}

} // namespace
