// The topic windows offscreen: the entry form, the topics browse and the
// classification window beside the mail browse.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>

#include "app/browsewindow.h"
#include "app/procedures.h"
#include "app/topic_windows.h"
#include "core/dates.h"
#include "tests/reading_fixture.h"
#include "tests/reading_runs.h"

using namespace qb;
using qb::testing::ReadingDb;
using qb::testing::ensureApp;

namespace {

class TopicsGui : public ReadingDb {
protected:
    void SetUp() override {
        ensureApp();
        ReadingDb::SetUp();
        makeDatabase(2, "My Mail", 300000, 1, 100);
        beginBulk();
        addPerson(100, "Ann", "Owner", "ann@home.example");
        for (uint32_t i = 0; i < 20; ++i)
            addMail(1000 + i, 70000 + static_cast<int32_t>(i), 1, "Subject " + std::to_string(i), 100, "Owner", 100,
                    "Owner", 100);
        addText(1019, "about the R4000");
        endBulk();
    }
    void TearDown() override {
        closeAllProcedures();
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ReadingDb::TearDown();
    }
};

} // namespace

TEST_F(TopicsGui, FormStaysOpenOnANameInUseAndTheBrowseCountsEntries) {
    auto* tb = qobject_cast<TopicsBrowse*>(startProcedure("BrowseTopics"));
    ASSERT_NE(tb, nullptr);
    EXPECT_EQ(tb->windowTitle(), " Topics [0] [My Mail]");  // and the database it works on
    EXPECT_EQ(tb->addButton()->toolTip(), "Add a new topic");

    EntryForm add(EntryForm::Add, kTopicEntry);
    EXPECT_EQ(add.windowTitle(), " Add New Topic");
    EXPECT_EQ(add.acceptButton()->toolTip(), " Accept new Topic");
    add.nameEdit()->setText("Work");
    ASSERT_TRUE(add.save());
    EXPECT_EQ(tb->windowTitle(), " Topics [1]");  // told to refresh

    EntryForm again(EntryForm::Add, kTopicEntry);
    again.nameEdit()->setText("WORK");
    EXPECT_FALSE(again.save());
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_NE(headless.shown.back().text.find("A record with identical key already exists!"), std::string::npos);

    Entry e;
    ASSERT_TRUE(findEntry(kTopicEntry, "work", e));
    EntryForm upd(EntryForm::Update, kTopicEntry, e);
    EXPECT_EQ(upd.windowTitle(), " Update Topic");
    EXPECT_EQ(upd.acceptButton()->toolTip(), " Accept updated Topic");
    EntryForm del(EntryForm::Delete, kTopicEntry, e);
    EXPECT_EQ(del.windowTitle(), " Delete Topic");
    EXPECT_EQ(del.acceptButton()->toolTip(), " Confirm deletion of Topic");
    upd.nameEdit()->setText("Job");
    ASSERT_TRUE(upd.save());
    // The delete form still holds the row as it was: the delete is refused.
    EXPECT_FALSE(del.save());
    EXPECT_TRUE(findEntry(kTopicEntry, "job", e));

    tb->setKeyWords(true);
    EXPECT_EQ(tb->addButton()->toolTip(), "Add a new key word");
    EXPECT_EQ(tb->deleteButton()->toolTip(), "Delete highlighted key word");
    EXPECT_EQ(tb->tree()->headerItem()->text(2), "Match case");
    EntryForm kw(EntryForm::Add, kKeyWordEntry);
    kw.nameEdit()->setText("r4000");
    kw.wholeWords()->setChecked(true);
    ASSERT_TRUE(kw.save());
    KeywordRunDialog run({kw.result().id});
    while (!run.finished()) run.tick();
    tb->refresh();
    ASSERT_EQ(tb->tree()->topLevelItemCount(), 1);
    EXPECT_EQ(tb->tree()->topLevelItem(0)->text(1), "1");
    EXPECT_EQ(tb->tree()->topLevelItem(0)->text(3), "Yes");
    EXPECT_EQ(tb->windowTitle(), " Topics [1]");
}

TEST_F(TopicsGui, ClassificationWindowTogglesTheBrowsesMessage) {
    ASSERT_EQ(addEntry(kTopicEntry, "Alpha", false, false), EntryResult::Ok);
    ASSERT_EQ(addEntry(kTopicEntry, "Beta", false, false), EntryResult::Ok);
    auto* browse = qobject_cast<BrowseWindow*>(startProcedure("BrowseMail"));
    ASSERT_NE(browse, nullptr);
    auto* cw = qobject_cast<ClassifyWindow*>(startProcedure("Classify"));
    ASSERT_NE(cw, nullptr);
    const uint32_t first = browse->currentId();
    ASSERT_NE(first, 0u);
    EXPECT_EQ(cw->messageId(), first);
    ASSERT_EQ(cw->list()->count(), 2);
    EXPECT_EQ(cw->list()->item(0)->checkState(), Qt::Unchecked);

    // A click on the check box attaches; a second one detaches again.
    cw->list()->item(1)->setCheckState(Qt::Checked);
    Entry beta;
    ASSERT_TRUE(findEntry(kTopicEntry, "beta", beta));
    EXPECT_TRUE(isLinked(beta.id, first));
    EXPECT_EQ(beta.count, 1u);
    EXPECT_EQ(cw->list()->item(1)->text(), "Beta (1)");
    EXPECT_EQ(cw->list()->item(1)->checkState(), Qt::Checked);
    ASSERT_TRUE(cw->toggle(1));
    ASSERT_TRUE(findEntry(kTopicEntry, "beta", beta));
    EXPECT_FALSE(isLinked(beta.id, first));
    EXPECT_EQ(beta.count, 0u);
    ASSERT_TRUE(cw->toggle(1));

    // The marks follow the browse; the topic tab lists the topic's messages.
    browse->showMessage(1003);
    EXPECT_EQ(cw->messageId(), 1003u);
    EXPECT_EQ(cw->list()->item(1)->checkState(), Qt::Unchecked);
    ASSERT_TRUE(cw->toggle(1));
    browse->setTab(7);
    browse->chooseTopic("BETA");
    EXPECT_EQ(browse->choice().topicId, beta.id);
    ASSERT_TRUE(findEntry(kTopicEntry, "beta", beta));
    EXPECT_EQ(beta.count, 2u);
    EXPECT_EQ(linkCount(beta.id), 2u);

    // Taking a topic off the window's list leaves the topic alone.
    cw->removeFromList(0);
    EXPECT_EQ(cw->list()->count(), 1);
    Entry alpha;
    EXPECT_TRUE(findEntry(kTopicEntry, "alpha", alpha));
}
