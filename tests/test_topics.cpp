// Topics and key words: entries, links, counts, deletes and key-word runs.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "core/dates.h"
#include "core/settings.h"
#include "reading/topics.h"
#include "tests/reading_fixture.h"

using namespace qb;
using qb::testing::ReadingDb;

namespace {

class Topics : public ReadingDb {
protected:
    void SetUp() override {
        ReadingDb::SetUp();
        makeDatabase(2, "Home Mail", 300000, 1, 100);
    }

    void addMails(uint32_t first, uint32_t n) {
        beginBulk();
        for (uint32_t i = 0; i < n; ++i)
            addMail(first + i, dayNumber(1996, 3, 1), clockTime(8, 0, 0), "Mail " + std::to_string(i), 100, "Owner",
                    101, "Baker", 100);
        endBulk();
    }

    // COD:COUNT as stored against the number of SIndex rows of the entry.
    void expectCountMatches(uint32_t id) {
        Entry e;
        ASSERT_TRUE(findEntryById(id, e));
        EXPECT_EQ(e.count, linkCount(id)) << e.name;
    }

    Entry topic(const std::string& name) {
        Entry e;
        EXPECT_EQ(addEntry(kTopicEntry, name, false, false, &e), EntryResult::Ok);
        return e;
    }
};

} // namespace

TEST_F(Topics, NamesAreUniquePerTypeIgnoringCase) {
    Entry a = topic("Linux Kernel");
    EXPECT_GE(a.id, 250000u);
    EXPECT_EQ(addEntry(kTopicEntry, "LINUX kernel", false, false), EntryResult::NameInUse);
    // A key word may share the name of a topic.
    Entry k;
    ASSERT_EQ(addEntry(kKeyWordEntry, "linux kernel", true, true, &k), EntryResult::Ok);
    EXPECT_NE(k.id, a.id);
    EXPECT_TRUE(k.matchCase);
    // Topics never keep match options.
    Entry t;
    ASSERT_EQ(addEntry(kTopicEntry, "Other", true, true, &t), EntryResult::Ok);
    EXPECT_FALSE(t.matchCase);
    EXPECT_FALSE(t.wholeWords);

    // Renaming onto another topic's name (in any case) is refused; a change of case alone is not.
    Entry after = t;
    after.name = "linux KERNEL";
    EXPECT_EQ(updateEntry(t, after), EntryResult::NameInUse);
    after.name = "OTHER";
    EXPECT_EQ(updateEntry(t, after), EntryResult::Ok);
    std::vector<Entry> all = listEntries(kTopicEntry);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].name, "Linux Kernel");
    EXPECT_EQ(all[1].name, "OTHER");
    EXPECT_EQ(listEntries(kKeyWordEntry).size(), 1u);
}

TEST_F(Topics, AttachDetachAndToggleKeepTheCount) {
    addMails(1000, 10);
    Entry t = topic("Work");
    uint64_t changed = 0;
    ASSERT_EQ(attachMessages(t.id, {1001, 1002, 1003, 1002}, true, &changed), EntryResult::Ok);
    EXPECT_EQ(changed, 3u);
    expectCountMatches(t.id);
    // Attaching again changes nothing; detaching one that is not linked neither.
    ASSERT_EQ(attachMessages(t.id, {1001, 1003}, true, &changed), EntryResult::Ok);
    EXPECT_EQ(changed, 0u);
    ASSERT_EQ(detachMessage(t.id, 1009), EntryResult::Ok);
    expectCountMatches(t.id);
    EXPECT_EQ(entryMessages(t.id), (std::vector<uint32_t>{1003, 1002, 1001}));

    // Toggling twice leaves links and count as they were, both ways.
    bool now = false;
    for (uint32_t m : {1002u, 1005u}) {
        const bool before = isLinked(t.id, m);
        ASSERT_EQ(toggleMessage(t.id, m, &now), EntryResult::Ok);
        EXPECT_EQ(now, !before);
        expectCountMatches(t.id);
        ASSERT_EQ(toggleMessage(t.id, m, &now), EntryResult::Ok);
        EXPECT_EQ(now, before);
        EXPECT_EQ(isLinked(t.id, m), before);
    }
    EXPECT_EQ(entryMessages(t.id), (std::vector<uint32_t>{1003, 1002, 1001}));
    expectCountMatches(t.id);

    // A drifted count is set right by a recount, and a detach never takes it below zero.
    OP_CLOSE(OpOpenShared, Codes.number());
    Codes.clearBuffer();
    COD.TYPE = kTopicEntry;
    COD.INDEX = "Work";
    ASSERT_TRUE(Codes.get(COD_ClassKey));
    COD.COUNT = 0;
    ASSERT_TRUE(Codes.put());
    OP_CLOSE(OpClose, Codes.number());
    ASSERT_EQ(detachMessage(t.id, 1003), EntryResult::Ok);
    expectCountMatches(t.id);
    ASSERT_EQ(recountEntry(t.id), EntryResult::Ok);
    expectCountMatches(t.id);
    EXPECT_EQ(attachMessage(12345, 1001), EntryResult::NotFound);
}

TEST_F(Topics, DeletingATopicRemovesItsThousandLinksInOneGo) {
    addMails(5000, 1000);
    Entry t = topic("Archive");
    Entry other = topic("Kept");
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < 1000; ++i) ids.push_back(5000 + i);
    ASSERT_EQ(attachMessages(t.id, ids, true), EntryResult::Ok);
    ASSERT_EQ(attachMessages(other.id, {5000, 5999}, true), EntryResult::Ok);
    ASSERT_TRUE(findEntryById(t.id, t));
    EXPECT_EQ(t.count, 1000u);
    expectCountMatches(t.id);

    // Somebody changes the row after it was read: the delete fails and leaves every link.
    Entry stale = t;
    ASSERT_EQ(attachMessages(t.id, {5000}, false), EntryResult::Ok);
    EXPECT_EQ(deleteEntry(stale), EntryResult::Changed);
    EXPECT_EQ(linkCount(t.id), 999u);
    expectCountMatches(t.id);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_NE(headless.shown.back().text.find("The record has just been changed by another user!"), std::string::npos);

    // With the row as it is now, all links and the row go.
    ASSERT_TRUE(findEntryById(t.id, t));
    ASSERT_EQ(deleteEntry(t), EntryResult::Ok);
    EXPECT_EQ(linkCount(t.id), 0u);
    Entry gone;
    EXPECT_FALSE(findEntry(kTopicEntry, "Archive", gone));
    EXPECT_EQ(entryMessages(other.id), (std::vector<uint32_t>{5999, 5000}));
    expectCountMatches(other.id);
    EXPECT_EQ(deleteEntry(t), EntryResult::NotFound);
}

TEST_F(Topics, DeleteFailingInsideItsTransactionLeavesEveryLink) {
    addMails(7000, 1000);
    Entry t = topic("Busy");
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < 1000; ++i) ids.push_back(7000 + i);
    ASSERT_EQ(attachMessages(t.id, ids, true), EntryResult::Ok);
    ASSERT_TRUE(findEntryById(t.id, t));
    // Another process holds the topic's row: the links are deleted first,
    // then the row cannot be held, and the whole transaction is undone.
    OP_CLOSE(OpOpenShared, Codes.number());
    std::string path = Codes.path();
    OP_CLOSE(OpClose, Codes.number());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        closeAllTables();
        Codes.open(path, OpenMode::SharedReadWrite);
        Codes.clearBuffer();
        COD.TYPE = kTopicEntry;
        COD.INDEX = "Busy";
        const char c = Codes.get(COD_ClassKey) && Codes.hold() ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_EQ(deleteEntry(t), EntryResult::Failed);
    EXPECT_EQ(linkCount(t.id), 1000u);
    Entry still;
    EXPECT_TRUE(findEntry(kTopicEntry, "Busy", still));
    expectCountMatches(t.id);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    // Once the other holder is gone the delete goes through.
    EXPECT_EQ(deleteEntry(t), EntryResult::Ok);
    EXPECT_EQ(linkCount(t.id), 0u);
}

TEST_F(Topics, KeyWordRunLinksEveryMessageThatHoldsItUnderItsOptions) {
    addMails(1000, 6);
    addText(1000, "The MIPS port boots.");
    addText(1001, "mips64 is not mips");
    addText(1002, "nothing here");
    addText(1003, "Mipsy the cat");
    addText(1005, "ends with mips");
    // 1004 has no text; its subject is searched all the same.
    OP_CLOSE(OpOpenShared, Mail.number());
    Mail.clearBuffer();
    MAI.MAILID = 1004;
    ASSERT_TRUE(Mail.get(MAI_IdKey));
    MAI.SUBJECT = "Re: MIPS boards";
    ASSERT_TRUE(Mail.put());
    OP_CLOSE(OpClose, Mail.number());

    Entry any, exact, words;
    ASSERT_EQ(addEntry(kKeyWordEntry, "mips", false, false, &any), EntryResult::Ok);
    EXPECT_EQ(addEntry(kKeyWordEntry, "MIPS", true, false), EntryResult::NameInUse);
    ASSERT_EQ(addEntry(kKeyWordEntry, "is not MIPS", true, false, &exact), EntryResult::Ok);
    ASSERT_EQ(addEntry(kKeyWordEntry, "mips ", false, true, &words), EntryResult::NameInUse);
    ASSERT_EQ(addEntry(kKeyWordEntry, "port", false, true, &words), EntryResult::Ok);

    KeywordRun run;
    int steps = 0;
    while (run.step(2)) ++steps;
    ASSERT_FALSE(run.failed()) << run.error();
    EXPECT_GT(steps, 3);  // one batch a step
    EXPECT_EQ(run.done(), 6u);
    EXPECT_EQ(entryMessages(any.id), (std::vector<uint32_t>{1005, 1004, 1003, 1001, 1000}));
    EXPECT_EQ(entryMessages(words.id), (std::vector<uint32_t>{1000}));
    EXPECT_TRUE(entryMessages(exact.id).empty());  // "is not mips" differs in case
    for (uint32_t id : {any.id, words.id, exact.id}) {
        expectCountMatches(id);
        Entry e;
        ASSERT_TRUE(findEntryById(id, e));
        EXPECT_EQ(e.date, today());
    }

    // A text that no longer holds the word loses its link on the next run.
    OP_CLOSE(OpOpenShared, MsgText.number());
    MsgText.clearBuffer();
    TXT.MSGNUMBER = 1003;
    ASSERT_TRUE(MsgText.get(TXT_IdKey));
    TXT_MsgText = "a dog";
    ASSERT_TRUE(MsgText.put());
    OP_CLOSE(OpClose, MsgText.number());
    KeywordRun again({any.id});
    while (again.step()) {}
    EXPECT_EQ(again.unlinked(), 1u);
    EXPECT_EQ(entryMessages(any.id), (std::vector<uint32_t>{1005, 1004, 1001, 1000}));
    expectCountMatches(any.id);

    // Changing a key word's options drops its links until it runs again.
    ASSERT_TRUE(findEntryById(any.id, any));
    Entry changed = any;
    changed.wholeWords = true;
    ASSERT_EQ(updateEntry(any, changed), EntryResult::Ok);
    EXPECT_EQ(linkCount(any.id), 0u);
    expectCountMatches(any.id);
    KeywordRun third({any.id});
    while (third.step()) {}
    EXPECT_EQ(entryMessages(any.id), (std::vector<uint32_t>{1005, 1004, 1001, 1000}));
}

TEST_F(Topics, KeyWordRunSinceAStampTestsOnlyTheNewerTexts) {
    addMails(1000, 3);
    const int32_t day = dayNumber(2026, 1, 5);
    withTable(MsgText, [&] {
        for (uint32_t id : {1000u, 1001u, 1002u}) {
            TXT.MSGNUMBER = id;
            TXT.DATE = id == 1000 ? day - 1 : day;
            TXT.TIME = id == 1002 ? clockTime(12, 0, 0) : clockTime(9, 0, 0);
            TXT_MsgText = "about gcc";
            ASSERT_TRUE(MsgText.add());
        }
    });
    Entry k;
    ASSERT_EQ(addEntry(kKeyWordEntry, "gcc", false, false, &k), EntryResult::Ok);
    ASSERT_TRUE(runKeyWordsSince(day, clockTime(10, 0, 0)));
    EXPECT_EQ(entryMessages(k.id), (std::vector<uint32_t>{1002}));
    ASSERT_TRUE(runKeyWordsSince(day, clockTime(9, 0, 0)));
    EXPECT_EQ(entryMessages(k.id), (std::vector<uint32_t>{1002, 1001}));
    expectCountMatches(k.id);
}

TEST_F(Topics, KeyWordRunOverForumMessagesSearchesTheThreadHeading) {
    // A forum database beside the mail one.
    makeDatabase(1, "Forum", 300001, 2);
    addSection(1, 1, "General");
    addThread(77, 1, "Help with the Indy");
    addMessage(10, 0, 77, "Help with the Indy", 1, dayNumber(1996, 1, 1), 0, "");
    addMessage(11, 0, 78, "Other thing", 1, dayNumber(1996, 1, 1), 0, "");
    addText(11, "my indy is fine");
    Entry k;
    ASSERT_EQ(addEntry(kKeyWordEntry, "INDY", false, true, &k), EntryResult::Ok);
    KeywordRun run({k.id});
    while (run.step()) {}
    ASSERT_FALSE(run.failed());
    EXPECT_EQ(entryMessages(k.id), (std::vector<uint32_t>{11, 10}));
    EXPECT_TRUE(messageExists(10));
    EXPECT_FALSE(messageExists(12));
}
