// The word index windows and the word list, ignore list and word definition
// services behind them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "app/procedures.h"
#include "app/word_windows.h"
#include "tests/words_fixture.h"
#include "wordsearch/indexer.h"
#include "wordsearch/wordlists.h"
#include "tests/reading_runs.h"

using namespace qb;

namespace {

using qb::testing::ensureApp;

// Pictures for the README, written only when asked for.
void screenshot(QWidget& w, const char* name) {
    if (qEnvironmentVariableIsEmpty("QB_WRITE_SCREENSHOTS")) return;
    w.resize(w.sizeHint().expandedTo(QSize(520, 360)));
    QDir().mkpath(QStringLiteral(QB_SOURCE_DIR "/docs"));
    w.grab().save(QStringLiteral(QB_SOURCE_DIR "/docs/") + QString::fromLatin1(name));
}

class WordsWindows : public WordsDbTest {
protected:
    void SetUp() override {
        WordsDbTest::SetUp();
        ensureApp();
        makeDb("Garden", 2);
        addMail(31, "roses and tulips", "the roses bloom early");
        addMail(32, "tulips", "tulips need cold winters");
        addMail(33, "compost", "compost heaps for roses");
    }
    void indexNow() {
        IndexSummary s;
        ASSERT_TRUE(indexActiveDatabase(false, 4, s));
        ASSERT_EQ(s.result, 1);
    }
};

TEST_F(WordsWindows, IndexWindowRunsByTimer) {
    IndexWindow w;
    EXPECT_EQ(w.adviceShown(), QStringLiteral("Full indexing needed!"));
    EXPECT_FALSE(w.findChild<QPushButton*>("Partial")->isEnabled());
    w.runMode(ModeFull);
    EXPECT_TRUE(IndexingInProgress);
    QElapsedTimer t;
    t.start();
    while (w.running() && t.elapsed() < 20000) QApplication::processEvents();
    EXPECT_FALSE(w.running());
    EXPECT_FALSE(IndexingInProgress);
    EXPECT_EQ(wordCount("ROSES"), 2);
    EXPECT_EQ(w.adviceShown(), QStringLiteral("No indexing needed!"));
    screenshot(w, "word-indexing.png");
    addMail(34, "roses again", "more roses");
    IndexWindow again;
    EXPECT_EQ(again.adviceShown(), QStringLiteral("Partial indexing recommended!"));
}

TEST_F(WordsWindows, WordListMarksPersistUntilIndexed) {
    indexNow();
    int32_t roses = 0, tulips = 0;
    ASSERT_EQ(wordCount("ROSES", &roses), 2);
    ASSERT_EQ(wordCount("TULIPS", &tulips), 2);
    {
        WordListMarks m;
        ASSERT_TRUE(m.open());
        m.toggle(roses);
        m.toggle(tulips);
        m.toggle(tulips);  // twice: unmarked
        ASSERT_TRUE(m.close());
    }
    EXPECT_EQ(rows(WordPurge), 1);
    {
        WordListMarks m;  // closing without toggling leaves the table as it is
        ASSERT_TRUE(m.open());
        EXPECT_TRUE(m.marked(roses));
        EXPECT_FALSE(m.marked(tulips));
        ASSERT_TRUE(m.close());
    }
    EXPECT_EQ(rows(WordPurge), 1);
    {
        WordListWindow w;
        EXPECT_EQ(w.table->rowCount(), static_cast<int>(rows(WordList)));
        EXPECT_TRUE(w.marks.marked(roses));
        w.locate(QStringLiteral("1"));  // count order: the first word of one message
        EXPECT_EQ(w.table->item(w.table->currentRow(), 1)->text(), QStringLiteral("1"));
        w.sortBy(false);
        EXPECT_EQ(w.table->item(0, 0)->text(), QStringLiteral("BLOOM"));
        w.locate(QStringLiteral("ro"));
        EXPECT_EQ(w.table->item(w.table->currentRow(), 0)->text(), QStringLiteral("ROSES"));
        screenshot(w, "word-list.png");
        // Unmarking every word empties the pending table.
        for (int r = 0; r < w.table->rowCount(); ++r)
            if (w.table->item(r, 0)->text() == QStringLiteral("ROSES")) w.table->setCurrentCell(r, 0);
        w.toggleCurrent();
        w.close();
    }
    EXPECT_EQ(rows(WordPurge), 0);
}

TEST_F(WordsWindows, IgnoreListEditing) {
    EXPECT_GT(seedStopWords(), 50);
    EXPECT_EQ(seedStopWords(), 0);  // only an empty list is seeded
    EXPECT_TRUE(addStopWord("gardening"));
    EXPECT_FALSE(addStopWord("GARDENING"));  // duplicate key
    EXPECT_TRUE(shownTitle(tableFileName(StopWords.number())));
    EXPECT_FALSE(addStopWord("   "));
    EXPECT_TRUE(changeStopWord("gardening", "weeding"));
    auto words = stopWordList();
    EXPECT_NE(std::find(words.begin(), words.end(), "WEEDING"), words.end());
    EXPECT_EQ(std::find(words.begin(), words.end(), "GARDENING"), words.end());
    EXPECT_TRUE(deleteStopWord("WEEDING"));
    StopListWindow w;
    EXPECT_EQ(w.list->count(), static_cast<int>(stopWordList().size()));
    screenshot(w, "ignore-list.png");
    // A word on the list is not indexed from then on.
    EXPECT_TRUE(addStopWord("compost"));
    indexNow();
    EXPECT_EQ(wordCount("COMPOST"), -1);
    EXPECT_EQ(wordCount("HEAPS"), 1);
}

TEST_F(WordsWindows, WordDefinitionRules) {
    WordRule r;  // yes yes yes
    toggleRule(r, 1);
    EXPECT_EQ(r.inside, 1);
    EXPECT_EQ(r.end, 1);  // inside no also makes end no
    toggleRule(r, 2);
    EXPECT_EQ(r.end, 1);  // end cannot be yes while inside is no
    toggleRule(r, 1);
    EXPECT_EQ(r.inside, 0);
    EXPECT_EQ(r.end, 1);
    toggleRule(r, 2);
    EXPECT_EQ(r.end, 0);
    toggleRule(r, 0);
    EXPECT_EQ(r.start, 1);

    indexNow();
    EXPECT_EQ(indexedDatabaseCount(), 1);
    WordDefWizard w;
    EXPECT_FALSE(w.saveAndReindex());
    EXPECT_TRUE(shownTitle("No Changes"));
    // The hyphen may stand inside words from now on; the index must go.
    w.toggleCell('-', 1);
    w.toggleCell('-', 2);
    EXPECT_EQ(w.rules['-'].inside, 0);
    w.sets->setEditText(QStringLiteral("With hyphens"));
    headless.answers = {BtnYes, BtnYes};
    ASSERT_TRUE(w.saveAndReindex());
    EXPECT_EQ(InWordHash['-'], 0);
    EXPECT_EQ(indexedDatabaseCount(), 0);
    EXPECT_EQ(savedRuleSet("With hyphens").size(), 256u);
    uint32_t pos, count;
    int32_t upd;
    ASSERT_TRUE(readIndexFields(pos, count, upd));
    EXPECT_TRUE(positionBlank(pos));
    // The pause count is at least 1000.
    w.pause->setValue(10);
    ASSERT_TRUE(w.finish());
    WordIndexSettings s;
    ASSERT_TRUE(readWordIndexSettings(s));
    EXPECT_EQ(s.searchPauseCount, 1000);
    screenshot(w, "word-definition.png");
    setDefaultWordTables();
}

TEST_F(WordsWindows, ProfessionalSearchWindow) {
    indexNow();
    ProSearchWindow w;
    LookupOptions whole;
    ASSERT_TRUE(w.lookup(QStringLiteral("roses tulips"), whole));
    ASSERT_EQ(w.hitsList->count(), 2);
    w.hitsList->item(0)->setSelected(true);
    w.hitsList->item(1)->setSelected(true);
    w.addHighlighted(true);
    EXPECT_EQ(w.andList.size(), 2u);
    int told = -1;
    QObject::connect(&w, &ProSearchWindow::searchDone, [&](int n) { told = n; });
    w.getMessages(false);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(w.result(), (std::vector<uint32_t>{31}));
    w.andView->setCurrentRow(1);
    w.toggleNot();
    w.getMessages(false);
    EXPECT_EQ(w.result(), (std::vector<uint32_t>{33}));
    screenshot(w, "professional-search.png");
    w.moveEntry(true, 1);  // the NOT entry dragged to the OR list
    ASSERT_EQ(w.orList.size(), 1u);
    EXPECT_TRUE(w.orList[0].negated());
    w.getMessages(false);
    EXPECT_EQ(w.result(), (std::vector<uint32_t>{33}));  // roses, and without tulips
    LookupOptions phrase;
    phrase.phrase = true;
    ASSERT_TRUE(w.lookup(QStringLiteral("cold winters"), phrase));
    EXPECT_EQ(w.result(), (std::vector<uint32_t>{32}));
}

} // namespace
