// The purge: obsolete and aged threads, messages and sections, the word
// index after the purge, duplicate mail, orphaned links, a database marked
// for deletion, and a purge killed in the middle.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>

#include "core/dates.h"
#include "core/globals.h"
#include "core/registry.h"
#include "maintenance/counting.h"
#include "maintenance/purge.h"
#include "maintenance/wordcounts.h"
#include "tests/purge_fixture.h"
#include "wordsearch/indexer.h"
#include "wordsearch/prosearch.h"

namespace qb {
namespace {

class Purging : public PurgeDbTest {
protected:
    std::unique_ptr<Purge> runPurge(int weeks = 0, int expectResult = 1, int batch = 3) {
        auto p = std::make_unique<Purge>(weeks, batch);
        int guard = 0;
        while (p->step() && ++guard < 100000) {
        }
        EXPECT_EQ(p->result(), expectResult) << p->reason();
        return p;
    }

    // A forum of two sections: persons 1-3, threads 100 (section 10), 101 and 102 (section 11).
    void smallForum() {
        makeDb("Forum", 1);
        person(1, "Miller");
        person(2, "Jones");
        person(3, "Onlyhere");
        section(10);
        section(11);
        thread(100, 10, "Alpha thread");
        thread(101, 11, "Beta thread");
        thread(102, 11, "Gamma thread");
        message({.number = 1, .thread = 100, .from = 1, .to = 2, .body = "apple banana"});
        message({.number = 2, .thread = 100, .from = 2, .to = 1, .body = "apple cherry"});
        message({.number = 3, .thread = 101, .from = 1, .to = 2, .body = "durian apple"});
        message({.number = 4, .thread = 101, .from = 3, .to = 1, .body = "elderberry"});
        message({.number = 5, .thread = 102, .from = 2, .to = 1, .body = "fig apple"});
    }

    void markMessage(uint32_t n, uint8_t status) {
        OP_CLOSE(OpOpenShared, MsgNmbr.number());
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = n;
        ASSERT_TRUE(MsgNmbr.get(MSG_IdKey));
        MSG.DUMMY = status;
        ASSERT_TRUE(MsgNmbr.put());
        OP_CLOSE(OpClose, MsgNmbr.number());
    }
    void markThread(uint32_t n, uint8_t status) {
        OP_CLOSE(OpOpenShared, Threads.number());
        Threads.clearBuffer();
        THR.THREADNUMBER = n;
        ASSERT_TRUE(Threads.get(THR_ThreadKey));
        THR.DUMMY = status;
        ASSERT_TRUE(Threads.put());
        OP_CLOSE(OpClose, Threads.number());
    }

    void index() {
        IndexSummary s;
        ASSERT_TRUE(indexActiveDatabase(true, 10, s));
        ASSERT_EQ(s.result, 1);
    }
    std::vector<uint32_t> indexedMessages() {
        OP_CLOSE(OpOpenShared, MasIdx.number());
        std::vector<uint32_t> v;
        MasIdx.set(MAS_by_SysID);
        while (MasIdx.next())
            if (v.empty() || v.back() != MAS.SYSID) v.push_back(MAS.SYSID);
        OP_CLOSE(OpClose, MasIdx.number());
        return v;
    }
    // 150 messages in 20 threads, every third marked for deletion, indexed;
    // the messages not marked.
    std::vector<uint32_t> killableForum() {
        makeDb("Forum", 1);
        person(1, "Miller");
        section(10);
        for (uint32_t t = 0; t < 20; ++t) thread(100 + t, 10, "Thread " + std::to_string(t));
        std::vector<uint32_t> kept;
        for (uint32_t n = 1; n <= 150; ++n) {
            const uint8_t status = n % 3 == 0 ? 2 : 0;
            message({.number = n, .thread = 100 + n % 20, .from = 1, .status = status,
                     .body = "common word" + std::string(n % 3 == 0 ? " onlydeleted" : " onlykept") + " w" +
                             std::to_string(n)});
            if (status != 2) kept.push_back(n);
        }
        index();
        closeAllTables();
        return kept;
    }
    std::vector<uint32_t> searchWord(const std::string& w) {
        LookupHit h = exactWord(w);
        if (h.id == 0) return {};
        std::vector<uint32_t> result = searchAllWords({h}, 2);
        std::sort(result.begin(), result.end());
        return result;
    }
};

TEST_F(Purging, ObsoleteThreadKeepsItsKeptMessageAndTheThreadRow) {
    smallForum();
    markThread(101, 2);
    markMessage(4, 1);  // kept inside the obsolete thread
    markThread(102, 2);
    auto p = runPurge();
    EXPECT_EQ(messagesLeft(), (std::vector<uint32_t>{1, 2, 4}));
    EXPECT_TRUE(threadExists(101));
    EXPECT_FALSE(threadExists(102));
    EXPECT_FALSE(textExists(3));
    EXPECT_FALSE(textExists(5));
    EXPECT_TRUE(textExists(4));
    EXPECT_EQ(p->before(), 5u);
    EXPECT_EQ(p->deleted(), 2u);
    EXPECT_EQ(p->after(), 3u);
    // The counts follow: thread 101 holds one message, section 11 one.
    EXPECT_EQ(threadRow(101).MSGCOUNT, 1u);
    EXPECT_TRUE(exists(Sections, SEC_SysIdKey, [] { SEC.SECSYSID = 11; }));
    EXPECT_EQ(SEC.MSGCOUNT, 1u);
    EXPECT_EQ(databaseRow().MSGCOUNT, 3u);
}

TEST_F(Purging, ObsoleteMessagesAndSectionsGoAndKeepProtects) {
    smallForum();
    markMessage(1, 2);
    OP_CLOSE(OpOpenShared, Sections.number());
    Sections.clearBuffer();
    SEC.SECSYSID = 11;
    ASSERT_TRUE(Sections.get(SEC_SysIdKey));
    SEC.DUMMY = 2;
    ASSERT_TRUE(Sections.put());
    OP_CLOSE(OpClose, Sections.number());
    markThread(102, 1);  // a kept thread of the obsolete section stays whole
    auto p = runPurge();
    EXPECT_EQ(messagesLeft(), (std::vector<uint32_t>{2, 5}));
    EXPECT_FALSE(threadExists(101));
    EXPECT_TRUE(threadExists(102));
    // Person 3 sent only message 4 and goes with it.
    EXPECT_FALSE(personExists(3));
    EXPECT_EQ(p->deleted(), 3u);
}

TEST_F(Purging, AgedThreadsGoByTheirNewestMessage) {
    makeDb("Forum", 1);
    person(1, "Miller");
    section(10);
    thread(100, 10, "Old thread");
    thread(101, 10, "Living thread");
    thread(102, 10, "Kept old thread", 1);
    const int32_t now = today();
    message({.number = 1, .thread = 100, .from = 1, .date = now - 40});
    message({.number = 2, .thread = 100, .from = 1, .date = now - 30});
    message({.number = 3, .thread = 101, .from = 1, .date = now - 300});
    message({.number = 4, .thread = 101, .from = 1, .date = now - 1});
    message({.number = 5, .thread = 102, .from = 1, .date = now - 300});
    auto p = runPurge(4);
    EXPECT_EQ(p->agedThreads(), 1u);
    EXPECT_EQ(messagesLeft(), (std::vector<uint32_t>{3, 4, 5}));
    EXPECT_FALSE(threadExists(100));
    EXPECT_TRUE(threadExists(101));
}

TEST_F(Purging, WordIndexAnswersAsIfTheDeletedMessagesWereNeverIndexed) {
    smallForum();
    index();
    ASSERT_EQ(searchWord("apple"), (std::vector<uint32_t>{1, 2, 3, 5}));
    ASSERT_GT(wordCount("elderberry"), 0);
    const int32_t appleBefore = wordCount("apple");
    markMessage(3, 2);
    markMessage(4, 2);
    runPurge();
    EXPECT_EQ(searchWord("apple"), (std::vector<uint32_t>{1, 2, 5}));
    EXPECT_EQ(wordCount("apple"), appleBefore - 1);
    // Words only the deleted messages held are gone from the word list.
    EXPECT_EQ(wordCount("elderberry"), -1);
    EXPECT_EQ(wordCount("durian"), -1);
    EXPECT_TRUE(searchWord("durian").empty());
    EXPECT_EQ(indexedMessages(), (std::vector<uint32_t>{1, 2, 5}));
    EXPECT_EQ(databaseRow().WORDLISTINDEXNEEDSUPDATE, 0);
    // The next indexing run finds nothing to do.
    IndexSummary s;
    ASSERT_TRUE(indexActiveDatabase(false, 10, s));
    EXPECT_EQ(exactWord("durian").id, 0);
}

TEST_F(Purging, OrphanedLinksAndAliasesAreRemovedAndKeyWordsRecounted) {
    smallForum();
    OP_CLOSE(OpOpenShared, Codes.number(), SIndex.number(), PLINK.number());
    Codes.clearBuffer();
    COD.TYPE = 1;
    COD.INDEX = "fruit";
    COD.ID = 900;
    COD.COUNT = 9;
    ASSERT_TRUE(Codes.add());
    for (auto [id, msg] : {std::pair<uint32_t, uint32_t>{900, 1}, {900, 3}, {901, 2}, {900, 77}}) {
        SIndex.clearBuffer();
        SIN.ID = id;
        SIN.MSGNUMBER = msg;
        ASSERT_TRUE(SIndex.add());
    }
    for (auto [text, id] : {std::pair<const char*, uint32_t>{"MILLER OLD", 1}, {"GONE PERSON", 55}}) {
        PLINK.clearBuffer();
        PLI.PERSONSTRING = text;
        PLI.PERSONID = id;
        ASSERT_TRUE(PLINK.add());
    }
    OP_CLOSE(OpClose, Codes.number(), SIndex.number(), PLINK.number());
    markMessage(3, 2);
    runPurge();
    // Left: 900 -> 1. Gone: the link of deleted message 3, of missing message
    // 77 and of key word 901 that has no Codes row.
    EXPECT_EQ(rows(SIndex), 1);
    EXPECT_TRUE(exists(Codes, COD_ClassKey, [] {
        COD.TYPE = 1;
        COD.INDEX = "fruit";
    }));
    EXPECT_EQ(COD.COUNT, 1u);
    EXPECT_EQ(rows(PLINK), 1);
    EXPECT_TRUE(exists(PLINK, PLI_StringKey, [] { PLI.PERSONSTRING = "MILLER OLD"; }));
}

TEST_F(Purging, DatabaseMarkedForDeletionIsEmptiedAndRemovedWhenTheUserAgrees) {
    smallForum();
    setDatabase(2);
    const uint32_t id = Mem.ForumNumber;
    const std::string dir = home.path + "/" + Mem.Dirnamn;
    // Refused: a normal purge, nothing of the database goes.
    headless.answers.push_back(BtnNo);
    runPurge();
    EXPECT_EQ(messagesLeft().size(), 5u);
    ASSERT_EQ(headless.shown.back().title, " Database marked for deletion!");

    headless.answers.push_back(BtnYes);
    auto p = runPurge();
    EXPECT_TRUE(p->databaseRemoved());
    ForumsRec row;
    EXPECT_FALSE(findDatabaseById(id, row));
    EXPECT_FALSE(std::filesystem::exists(dir + "/IDX003.TPS"));
}

TEST_F(Purging, DatabaseMarkedForDeletionKeepsTheSectionsWithStatusKeep) {
    smallForum();
    OP_CLOSE(OpOpenShared, Sections.number());
    Sections.clearBuffer();
    SEC.SECSYSID = 10;
    ASSERT_TRUE(Sections.get(SEC_SysIdKey));
    SEC.DUMMY = 1;
    ASSERT_TRUE(Sections.put());
    OP_CLOSE(OpClose, Sections.number());
    setDatabase(2);
    headless.answers.push_back(BtnYes);
    auto p = runPurge();
    EXPECT_FALSE(p->databaseRemoved());
    EXPECT_EQ(messagesLeft(), (std::vector<uint32_t>{1, 2}));
}

// ---- duplicate mail ------------------------------------------------------------------

MailCandidate cand(uint32_t id, const std::string& init = "same text", uint8_t status = 0) {
    MailCandidate c;
    c.mailId = id;
    c.subject = "HELLO";
    c.date = 80000;
    c.time = 360001;
    c.fromId = 1;
    c.toId = 2;
    c.initStr = init;
    c.status = status;
    return c;
}

TEST(DuplicateMail, ThreeCopiesLeaveOneAndDeletedOnesAreNoReference) {
    std::vector<MailCandidate> list{cand(30), cand(20), cand(10)};
    auto same = [](uint32_t, uint32_t) { return true; };
    EXPECT_EQ(markDuplicateMail(list, same), 2u);
    EXPECT_FALSE(list[0].duplicate);
    EXPECT_EQ(list[0].mailId, 30u);

    // A deleted copy is passed over: the next normal one is the reference.
    list = {cand(30, "same text", 2), cand(20), cand(10)};
    EXPECT_EQ(markDuplicateMail(list, same), 1u);
    EXPECT_FALSE(list[1].duplicate);
    EXPECT_TRUE(list[2].duplicate);

    // Texts that differ make a new reference; other senders never compare.
    list = {cand(30), cand(20), cand(10)};
    list[2].fromId = 9;
    EXPECT_EQ(markDuplicateMail(list, [](uint32_t a, uint32_t b) { return a + b != 50; }), 0u);
}

TEST_F(Purging, MailDuplicatesAreMarkedAndPurged) {
    makeDb("Mail", 2);
    person(1, "Owner");
    person(2, "Partner");
    setDatabase(0, 1);
    const std::string text(200, 'x');
    // The same mail twice: subject in other letters, seconds that differ.
    mail({.id = 10, .subject = "Hello there", .time = 360001 + 1200, .from = 2, .to = 1, .pair = 2, .body = text});
    mail({.id = 11, .subject = "HELLO THERE", .time = 360001 + 4500, .from = 2, .to = 1, .pair = 2, .body = text + "\r\n"});
    // A kept copy and a normal one: both stay.
    mail({.id = 20, .subject = "Kept", .from = 2, .to = 1, .pair = 2, .status = 1, .body = text});
    mail({.id = 21, .subject = "Kept", .from = 2, .to = 1, .pair = 2, .body = text});
    // Texts 20 characters apart at the end: both stay.
    mail({.id = 30, .subject = "Longer", .from = 1, .to = 2, .pair = 2, .body = text});
    mail({.id = 31, .subject = "Longer", .from = 1, .to = 2, .pair = 2, .body = text + std::string(20, 'y')});
    // Without a text row: never the same as another.
    mail({.id = 40, .subject = "No text", .from = 1, .to = 2, .pair = 2, .withText = false});
    mail({.id = 41, .subject = "No text", .from = 1, .to = 2, .pair = 2, .withText = false});
    auto p = runPurge();
    // 10 or 11. Of 20 and 21, 21 comes first and is the reference; the kept
    // copy 20 is its duplicate but keeps its status.
    EXPECT_EQ(p->duplicatesMarked(), 1u);
    EXPECT_EQ(mailStatus(20), 1u);
    std::vector<uint32_t> left = messagesLeft();
    EXPECT_EQ(left.size(), 7u);
    EXPECT_TRUE(std::count(left.begin(), left.end(), 21u));
    EXPECT_EQ(std::count(left.begin(), left.end(), 10u) + std::count(left.begin(), left.end(), 11u), 1);
    EXPECT_TRUE(std::count(left.begin(), left.end(), 20u));
    EXPECT_TRUE(std::count(left.begin(), left.end(), 30u) && std::count(left.begin(), left.end(), 31u));
    EXPECT_TRUE(std::count(left.begin(), left.end(), 40u) && std::count(left.begin(), left.end(), 41u));
}

TEST_F(Purging, MailOfObsoletePersonsGoesExceptKeptMail) {
    makeDb("Mail", 2);
    person(1, "Owner");
    person(2, "Spammer", 0, 0, 2);
    person(3, "Friend", 0, 0, 2);
    setDatabase(0, 1);
    mail({.id = 10, .subject = "a", .from = 2, .to = 1, .pair = 2});
    mail({.id = 11, .subject = "b", .from = 2, .to = 1, .pair = 2});
    mail({.id = 12, .subject = "c", .from = 3, .to = 1, .pair = 3});
    mail({.id = 13, .subject = "d", .from = 3, .to = 1, .pair = 3, .status = 1});
    OP_CLOSE(OpOpenShared, CCRTable.number());
    CCRTable.clearBuffer();
    CCR.MAILID = 10;
    CCR.R_NAME = "Someone";
    ASSERT_TRUE(CCRTable.add());
    OP_CLOSE(OpClose, CCRTable.number());
    runPurge();
    EXPECT_EQ(messagesLeft(), (std::vector<uint32_t>{13}));
    EXPECT_FALSE(personExists(2));
    EXPECT_TRUE(personExists(3));
    EXPECT_EQ(rows(CCRTable), 0);
}

// ---- killed in the middle --------------------------------------------------------------

TEST_F(Purging, APurgeKilledAnywhereIsFinishedByTheNextOne) {
    const std::vector<uint32_t> kept = killableForum();

    // Killed at the first, a middle and a late commit over several files.
    int kills = 0;
    for (int killAt : {1, 3, 6}) {
        static int commits;
        commits = 0;
        static int limit;
        limit = killAt;
        const int r = runChild([] {
            storageCommitHook = [](int stage) {
                if (stage == 1 && ++commits >= limit) kill(getpid(), SIGKILL);
            };
            Purge p(0, 7);
            while (p.step()) {
            }
            return p.result() == 1 ? 0 : 1;
        });
        EXPECT_TRUE(r == 100 + SIGKILL || r == 0) << r;
        kills += r == 100 + SIGKILL;
        // Every table still reads, and no message that was not marked is lost.
        std::vector<uint32_t> left = messagesLeft();
        for (uint32_t n : kept) EXPECT_TRUE(std::binary_search(left.begin(), left.end(), n)) << n;
        for (uint32_t n : indexedMessages()) EXPECT_TRUE(std::binary_search(left.begin(), left.end(), n)) << n;
    }
    EXPECT_GE(kills, 2);
    runPurge();
    EXPECT_EQ(messagesLeft(), kept);
    EXPECT_EQ(indexedMessages(), kept);
    EXPECT_EQ(wordCount("onlydeleted"), -1);
    EXPECT_EQ(wordCount("common"), static_cast<int32_t>(kept.size()));
    EXPECT_EQ(searchWord("onlykept").size(), kept.size());
    EXPECT_EQ(databaseRow().MSGCOUNT, kept.size());
}

// Killed after the last deletion, before any word count is written, and
// again part-way through writing them: the recount mark is left, a count
// recounts the word list from the master index, and so does the next purge.
TEST_F(Purging, WordCountsOfAPurgeKilledAfterItsDeletionsAreRecounted) {
    std::vector<uint32_t> kept = killableForum();
    const int32_t commonBefore = wordCount("common");
    static bool killAtCommit;
    auto killBeforeWordCounts = [] {
        Purge p(0, 7);
        while (p.step())
            if (p.stage() == Purge::Stage::WordCounts) {
                if (!killAtCommit) kill(getpid(), SIGKILL);
                if (storageCommitHook) continue;
                static int commits;
                commits = 0;
                storageCommitHook = [](int stage) {
                    if (stage == 2 && ++commits >= 2) kill(getpid(), SIGKILL);  // after the second commit
                };
            }
        return p.result() == 1 ? 0 : 1;
    };
    killAtCommit = false;
    ASSERT_EQ(runChild(killBeforeWordCounts), 100 + SIGKILL);
    EXPECT_EQ(messagesLeft(), kept);
    EXPECT_EQ(indexedMessages(), kept);
    EXPECT_TRUE(wordCountsMarked());
    // The counts are those before the purge until the recount.
    EXPECT_EQ(wordCount("common"), commonBefore);
    EXPECT_GT(wordCount("onlydeleted"), 0);
    {
        Recount count(RecountAll, 7);
        while (count.step()) {
        }
        ASSERT_EQ(count.result(), 1);
    }
    EXPECT_FALSE(wordCountsMarked());
    EXPECT_EQ(wordCount("common"), static_cast<int32_t>(kept.size()));
    EXPECT_EQ(wordCount("onlydeleted"), -1);
    EXPECT_EQ(wordCount("w3"), -1);
    EXPECT_EQ(wordCount("w4"), 1);
    EXPECT_TRUE(searchWord("onlydeleted").empty());

    // Now killed at the second commit of the word counts: some are written.
    std::vector<uint32_t> second;
    for (uint32_t n : kept)
        if (n % 4 == 1) markMessage(n, 2);
        else second.push_back(n);
    closeAllTables();
    killAtCommit = true;
    ASSERT_EQ(runChild(killBeforeWordCounts), 100 + SIGKILL);
    EXPECT_TRUE(wordCountsMarked());
    EXPECT_EQ(messagesLeft(), second);
    runPurge();
    EXPECT_FALSE(wordCountsMarked());
    EXPECT_EQ(wordCount("common"), static_cast<int32_t>(second.size()));
    EXPECT_EQ(wordCount("onlykept"), static_cast<int32_t>(second.size()));
    EXPECT_EQ(wordCount("w1"), -1);
    EXPECT_EQ(wordCount("w2"), 1);
    EXPECT_EQ(searchWord("common"), second);
    EXPECT_EQ(databaseRow().WORDLISTINDEXNEEDSUPDATE, 0);
}

} // namespace
} // namespace qb
