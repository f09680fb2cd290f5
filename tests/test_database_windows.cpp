// Windows of two databases in one program: each window keeps the database it
// was opened for, whichever database is active afterwards, and the word list
// does not write into the table the indexer is using.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <set>

#include "app/boundwindows.h"
#include "app/browsemodel.h"
#include "app/browsewindow.h"
#include "app/procedures.h"
#include "app/qtui.h"
#include "app/registry_windows.h"
#include "app/word_windows.h"
#include "core/text.h"
#include "tests/words_fixture.h"
#include "wordsearch/indexer.h"
#include "wordsearch/wordlists.h"
#include "tests/reading_runs.h"

using namespace qb;

namespace {

using qb::testing::ensureApp;

void settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

constexpr uint32_t kGarden = 250001, kOrchard = 250002;

class DatabaseWindows : public WordsDbTest {
protected:
    void SetUp() override {
        WordsDbTest::SetUp();
        ensureApp();
        makeDb("Orchard", 2, kOrchard);
        addMail(41, "apples", "apples and pears");
        makeDb("Garden", 2, kGarden);
        addMail(31, "roses and tulips", "the roses bloom early");
        addMail(32, "tulips", "tulips need cold winters");
        addMail(33, "compost", "compost heaps for roses");
    }
    void TearDown() override {
        closeAllProcedures();
        settle();
        WordsDbTest::TearDown();
    }

    ForumsRec row(uint32_t id) {
        ForumsRec r{};
        EXPECT_TRUE(findDatabaseById(id, r));
        return r;
    }
    void setStatus(uint32_t id, uint8_t status) {
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = id;
        ASSERT_TRUE(Forums.get(FOR_ForumKey));
        FOR.DUMMY = status;
        ASSERT_TRUE(Forums.put());
        OP_CLOSE(OpClose, Forums.number());
    }
    static void runUntilDone(IndexWindow* w) {
        QElapsedTimer t;
        t.start();
        while (w->running() && t.elapsed() < 20000) QApplication::processEvents();
    }
    int rowOf(DatabaseSelection& s, const QString& name) {
        for (int i = 0; i < s.list()->topLevelItemCount(); ++i)
            if (s.list()->topLevelItem(i)->text(0) == name) return i;
        return -1;
    }
};

TEST_F(DatabaseWindows, TheIndexerWritesIntoItsOwnDatabaseRowAfterASwitch) {
    auto* w = dynamic_cast<IndexWindow*>(startProcedure("AutoIndex"));
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->windowTitle().contains("Garden"));
    w->runMode(ModeFull);
    ASSERT_TRUE(w->running());
    // The import switches databases as it stores; the run goes on with Garden.
    ASSERT_TRUE(selectDatabase(kOrchard));
    runUntilDone(w);
    ASSERT_FALSE(w->running());
    EXPECT_EQ(Mem.ForumNumber, kOrchard);
    EXPECT_EQ(row(kGarden).RECSLASTTIME, 3u);
    EXPECT_EQ(row(kGarden).WORDLISTINDEXNEEDSUPDATE, 0);
    EXPECT_EQ(row(kOrchard).RECSLASTTIME, 0u);
    EXPECT_EQ(row(kOrchard).LASTMSGID, 0u);
    EXPECT_FALSE(std::filesystem::exists(home.path + "/F250002/IDX029.TPS"));
    ASSERT_TRUE(selectDatabase(kGarden));
    EXPECT_EQ(wordCount("ROSES"), 2);
}

TEST_F(DatabaseWindows, BrowseOfTheNewDatabaseIsAWindowOfItsOwnWithItsTables) {
    QPointer<QWidget> garden = startProcedure("BrowseMail");
    ASSERT_TRUE(garden);
    EXPECT_TRUE(garden->windowTitle().contains("Garden"));
    ASSERT_TRUE(selectDatabase(kOrchard));
    // A window opened by number now takes the Orchard's files, not the
    // Garden's that its browse had open.
    QWidget* orchard = startProcedure("BrowseMail");
    settle();
    ASSERT_NE(orchard, nullptr);
    EXPECT_TRUE(garden.isNull() || !garden->isVisible());
    EXPECT_TRUE(orchard->windowTitle().contains("Orchard"));
    EXPECT_FALSE(orchard->windowTitle().contains("Garden"));
    EXPECT_NE(Mail.path().find("/F250002/"), std::string::npos) << Mail.path();
    EXPECT_NE(MsgText.path().find("/F250002/"), std::string::npos) << MsgText.path();
    auto* b = dynamic_cast<BrowseWindow*>(orchard);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->currentId(), 41u);
    EXPECT_EQ(boundDatabase(orchard).id, kOrchard);
}

TEST_F(DatabaseWindows, ABrowseMarkedForDeletionRemovesItsOwnDatabaseOnly) {
    setStatus(kGarden, 2);
    ASSERT_TRUE(selectDatabase(kGarden));
    headless.answers = {BtnYes};
    ASSERT_NE(startProcedure("BrowseMail"), nullptr);  // asks once the window is up
    ASSERT_TRUE(selectDatabase(kOrchard));
    settle();
    ForumsRec r;
    EXPECT_FALSE(findDatabaseById(kGarden, r));
    EXPECT_TRUE(findDatabaseById(kOrchard, r));
    EXPECT_TRUE(std::filesystem::exists(home.path + "/F250002/IDX013.TPS"));
    EXPECT_FALSE(std::filesystem::exists(home.path + "/F250001/IDX013.TPS"));
    EXPECT_EQ(Mem.ForumNumber, kOrchard);
}

TEST_F(DatabaseWindows, SelectingAnotherDatabaseClosesTheOldOnesWindows) {
    QPointer<QWidget> browse = startProcedure("BrowseMail");
    QPointer<QWidget> words = startProcedure("WordList");
    ASSERT_TRUE(browse && words);
    DatabaseSelection select(0);
    const int orchard = rowOf(select, "Orchard");
    ASSERT_GE(orchard, 0);
    ASSERT_TRUE(select.chooseRow(orchard));
    settle();
    EXPECT_EQ(Mem.ForumNumber, kOrchard);
    EXPECT_TRUE(browse.isNull());
    EXPECT_TRUE(words.isNull());
}

TEST_F(DatabaseWindows, ARunningIndexingAsksAndKeepsItsDatabaseUntilItEnds) {
    QPointer<QWidget> browse = startProcedure("BrowseMail");
    auto* w = dynamic_cast<IndexWindow*>(startProcedure("AutoIndex"));
    ASSERT_NE(w, nullptr);
    w->runMode(ModeFull);
    ASSERT_TRUE(w->running());

    DatabaseSelection select(0);
    const int orchard = rowOf(select, "Orchard");
    headless.answers = {BtnNo};
    EXPECT_FALSE(select.chooseRow(orchard));
    EXPECT_EQ(Mem.ForumNumber, kGarden);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_TRUE(headless.shown.back().question);
    EXPECT_NE(headless.shown.back().text.find("still running on database Garden"), std::string::npos);

    headless.answers = {BtnYes};
    EXPECT_TRUE(select.chooseRow(orchard));
    EXPECT_EQ(Mem.ForumNumber, kOrchard);
    EXPECT_TRUE(browse.isNull());
    ASSERT_TRUE(w->running());
    // While it runs on Garden's tables, no window of the Orchard opens.
    const size_t before = headless.shown.size();
    EXPECT_EQ(startProcedure("BrowseMail"), nullptr);
    ASSERT_GT(headless.shown.size(), before);
    EXPECT_NE(headless.shown.back().text.find("Garden"), std::string::npos);

    runUntilDone(w);
    EXPECT_EQ(row(kGarden).RECSLASTTIME, 3u);
    EXPECT_EQ(row(kOrchard).RECSLASTTIME, 0u);
    EXPECT_NE(startProcedure("BrowseMail"), nullptr);
    EXPECT_NE(Mail.path().find("/F250002/"), std::string::npos) << Mail.path();
}

TEST_F(DatabaseWindows, WordListMarksWaitWhileTheIndexerPurges) {
    {
        IndexSummary s;
        ASSERT_TRUE(indexActiveDatabase(false, 4, s));
    }
    const int64_t pairs = rows(MasIdx);
    int32_t roses = 0, tulips = 0;
    ASSERT_EQ(wordCount("ROSES", &roses), 2);
    ASSERT_EQ(wordCount("TULIPS", &tulips), 2);
    {
        WordListMarks m;
        m.open();
        m.toggle(roses);
        ASSERT_TRUE(m.close());
    }
    auto* list = dynamic_cast<WordListWindow*>(startProcedure("WordList"));
    ASSERT_NE(list, nullptr);
    list->marks.toggle(tulips);

    uint32_t position = 0, count = 0;
    int32_t needsUpdate = 0;
    ASSERT_TRUE(readIndexFields(position, count, needsUpdate));
    WordIndexer run(ModeCleanupOnly, 4, position, kGarden, 2, needsUpdate, count);
    ASSERT_TRUE(run.start());
    // Into the purge: the master index is copied to the scratch table and emptied.
    while (run.step() && run.phase() != WordIndexer::Phase::PurgeBack) {
    }
    ASSERT_EQ(run.phase(), WordIndexer::Phase::PurgeBack);

    const size_t before = headless.shown.size();
    EXPECT_FALSE(list->close());
    ASSERT_GT(headless.shown.size(), before);
    EXPECT_NE(headless.shown.back().text.find("while the word index is being built"), std::string::npos);

    while (run.step()) {
    }
    EXPECT_EQ(run.finish(), 1);
    // Only the rows of the word deleted before the run went.
    EXPECT_EQ(rows(MasIdx), pairs - 2);
    EXPECT_EQ(wordCount("ROSES"), -1);
    EXPECT_EQ(wordCount("TULIPS"), 2);
    // Now the marks are written, the new one among them.
    EXPECT_TRUE(list->close());
    std::set<int32_t> pending;
    OP_CLOSE(OpOpenShared, WordPurge.number());
    WordPurge.setFile();
    while (WordPurge.next()) pending.insert(PUR.WORDID);
    OP_CLOSE(OpClose, WordPurge.number());
    EXPECT_EQ(pending.count(tulips), 1u);
}

TEST_F(DatabaseWindows, AProfessionalSearchFillsTheBrowsesSearchTabWithTheWordsMarked) {
    {
        IndexSummary s;
        ASSERT_TRUE(indexActiveDatabase(false, 4, s));
    }
    auto* browse = dynamic_cast<BrowseWindow*>(startProcedure("BrowseMail"));
    ASSERT_NE(browse, nullptr);
    ASSERT_EQ(browse->tab(), 1);
    auto* search = dynamic_cast<ProSearchWindow*>(startProcedure("SearchWz"));
    ASSERT_NE(search, nullptr);
    int32_t roses = 0;
    ASSERT_EQ(wordCount("ROSES", &roses), 2);
    ListEntry e;
    e.word = "ROSES";
    e.id = roses;
    e.count = 2;
    search->andList = {e};
    search->getMessages(false);
    ASSERT_EQ(search->result().size(), 2u);
    EXPECT_EQ(browse->tab(), 8);
    EXPECT_EQ(browse->model()->rowCount(), 2);
    const uint32_t shown = browse->currentId();
    EXPECT_TRUE(shown == 31u || shown == 33u) << shown;
    const auto marks = browse->markedPlaces();
    ASSERT_FALSE(marks.empty());
    const QString text = browse->viewerText();
    EXPECT_NE(text.indexOf("roses"), -1);
    // Every mark covers the word found, in any letter case.
    for (auto [s, e2] : marks) EXPECT_EQ(e2 - s, 5u);
}

TEST_F(DatabaseWindows, WithoutAnActiveDatabaseNoTableOfADatabaseIsMade) {
    clearActiveDatabase();
    EXPECT_EQ(startProcedure("SetIndex"), nullptr);
    EXPECT_EQ(startProcedure("WordList"), nullptr);
    EXPECT_EQ(headless.shown.back().text, "No database is selected.");
    EXPECT_THROW(OP_CLOSE(OpOpenShared, WordDef.number()), ProgramStop);
    EXPECT_EQ(headless.shown.back().title, "Invalid File Name Error");
    EXPECT_FALSE(std::filesystem::exists(home.path + "/IDX039.TPS"));
    EXPECT_EQ(openCount(WordDef.number()), 0);

}

TEST_F(DatabaseWindows, TheDatabaseListReachesTheMailDatabaseDialog) {
    makeDb("Club", 1, 250003);
    DatabaseSelection select(0);
    auto* addMail = select.findChild<QPushButton*>("AddMail");
    auto* update = select.findChild<QPushButton*>("UpdateMail");
    ASSERT_TRUE(addMail && update);
    QWidget* d = select.addMailDatabase();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), "Add New Mail Database");
    d->close();

    select.list()->setCurrentItem(select.list()->topLevelItem(rowOf(select, "Club")));
    EXPECT_FALSE(update->isEnabled());
    EXPECT_EQ(select.updateMailDatabase(rowOf(select, "Club")), nullptr);
    select.list()->setCurrentItem(select.list()->topLevelItem(rowOf(select, "Garden")));
    EXPECT_TRUE(update->isEnabled());
    QWidget* u = select.updateMailDatabase(rowOf(select, "Garden"));
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->windowTitle(), "Update alternative addresses");
    u->close();
}

// A box shown as it was given, with the marks of the names in it.
struct RawUi : HeadlessUi {
    std::vector<std::string> raw;
    void message(const std::string& title, const std::string& text, Icon icon) override {
        raw.push_back(text);
        HeadlessUi::message(title, text, icon);
    }
    unsigned ask(const std::string& title, const std::string& text, unsigned buttons, unsigned def,
                 Icon icon) override {
        raw.push_back(text);
        return HeadlessUi::ask(title, text, buttons, def, icon);
    }
};

TEST_F(DatabaseWindows, OnlyTheSystemsBarsBreakLinesInABox) {
    EXPECT_EQ(QtUi::displayText("Unable to read forum data!|Indexing not possible now."),
              QStringLiteral("Unable to read forum data!\nIndexing not possible now."));
    // A database whose name holds a bar and whose directory is not a database.
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = 250009;
    FOR.DESCRIPTION = "Old|New";
    FOR.DIRNUMBER = 9;
    FOR.TYPE = 1;
    ASSERT_TRUE(Forums.add());
    OP_CLOSE(OpClose, Forums.number());
    std::filesystem::create_directories(home.path + "/F9");
    RawUi raw;
    setUi(&raw);
    Rebuild rebuild;
    while (rebuild.step()) {
    }
    setUi(&headless);
    std::string box;
    for (const std::string& t : raw.raw)
        if (t.find("is not a recognizable") != std::string::npos) box = t;
    ASSERT_FALSE(box.empty());
    const QString shown = QtUi::displayText(box);
    EXPECT_TRUE(shown.startsWith("Database Old|New in directory ")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("\nThe database definition")) << shown.toStdString();
    // The command line and the tests see the text as it reads.
    bool plain = false;
    for (const ShownBox& b : raw.shown) plain |= b.text.find("Database Old|New in directory") != std::string::npos;
    EXPECT_TRUE(plain);
    EXPECT_EQ(unmarked(verbatim("a|b|c")), "a|b|c");
}

} // namespace
