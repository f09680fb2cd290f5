// The browse windows, the thread tree and the standard search window,
// offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <cstdlib>

#include "app/browsemodel.h"
#include "app/browsewindow.h"
#include "app/procedures.h"
#include "app/searchwindow.h"
#include "app/threadtreewindow.h"
#include "core/text.h"
#include "tests/reading_fixture.h"
#include "tests/reading_mbox.h"
#include "tests/reading_runs.h"

using namespace qb;
using qb::testing::ReadingDb;
using qb::testing::ensureApp;

namespace {

void press(QWidget* w, int key) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

class ReadingGui : public ReadingDb {
protected:
    void SetUp() override {
        ensureApp();
        ReadingDb::SetUp();
    }
    void TearDown() override {
        closeAllProcedures();
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ReadingDb::TearDown();
    }

    void mailData(uint8_t status = 0) {
        makeDatabase(2, "My Mail", 300000, 1, 100, status);
        beginBulk();
        addPerson(100, "Ann", "Owner", "ann@home.example");
        addPerson(101, "Bob", "Baker", "bob@example.org", 100, 0);
        addPerson(102, "Carl", "Cook", "76543,210", 50, 0);
        addPerson(103, "Dora", "Diaz", "dora@example.org", 50, 0);
        const uint32_t partners[] = {101, 102, 101, 103};
        const char* names[] = {"", "Baker", "Cook", "Diaz"};
        for (uint32_t i = 0; i < 200; ++i) {
            const uint32_t p = partners[i % 4];
            addMail(1000 + i, 70000 + static_cast<int32_t>(i), 1, "Subject " + std::to_string(i), p, names[p - 100],
                    100, "Owner", 100);
        }
        endBulk();
    }

    BrowseWindow* openMail() {
        auto* w = dynamic_cast<BrowseWindow*>(startProcedure("BrowseMail"));
        QApplication::processEvents();
        return w;
    }
};

std::vector<uint32_t> shownIds(BrowseWindow* w) {
    std::vector<uint32_t> v;
    for (int i = 0; i < w->model()->rowCount(); ++i) v.push_back(w->model()->rowAt(i)->id);
    return v;
}


} // namespace

TEST_F(ReadingGui, MailBrowseTabsKeepTheHighlightedMessage) {
    mailData();
    addText(1199, "Newest text");
    BrowseWindow* w = openMail();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->model()->rowCount(), static_cast<int>(BrowseList::kPage));
    EXPECT_EQ(w->currentId(), 1199u);
    EXPECT_EQ(w->viewerText(), "Subject: Subject 199\n\nNewest text");
    w->listView()->selectRow(5);
    EXPECT_EQ(w->currentId(), 1194u);
    w->setTab(2);
    EXPECT_EQ(w->currentId(), 1194u);
    EXPECT_EQ(w->model()->rowAt(w->listView()->currentRowIndex())->mail.SUBJECT.str(), "Subject 194");
    w->setTab(5);
    EXPECT_EQ(w->currentId(), 1194u);
    w->setTab(1);
    EXPECT_EQ(w->currentId(), 1194u);
    // The same window is brought to the front, not opened twice.
    EXPECT_EQ(startProcedure("BrowseMail"), w);
    // A message browse on a mail database is refused.
    EXPECT_EQ(startProcedure("BrowseMsgNmbr"), nullptr);
}

TEST_F(ReadingGui, MailBrowsePagesThroughTheTable) {
    mailData();
    BrowseWindow* w = openMail();
    ASSERT_NE(w, nullptr);
    BrowseListView* list = w->listView();
    list->selectRow(w->model()->rowCount() - 1);
    EXPECT_EQ(w->currentId(), 1199u - (BrowseList::kPage - 1));
    press(list, Qt::Key_Down);
    EXPECT_EQ(w->model()->rowCount(), static_cast<int>(2 * BrowseList::kPage));
    EXPECT_EQ(w->currentId(), 1199u - BrowseList::kPage);
    // Down to the end of the table: the window never holds more than its maximum.
    for (int i = 0; i < 260; ++i) press(list, Qt::Key_Down);
    EXPECT_EQ(w->currentId(), 1000u);
    EXPECT_LE(w->model()->rowCount(), static_cast<int>(BrowseList::kMaxRows));
    EXPECT_TRUE(w->model()->list().atEnd());
    // And back up, row by row, over the rows dropped on the way.
    for (int i = 0; i < 199; ++i) press(list, Qt::Key_Up);
    EXPECT_EQ(w->currentId(), 1199u);
    press(list, Qt::Key_End);
    EXPECT_EQ(w->currentId(), 1000u);
    press(list, Qt::Key_Home);
    EXPECT_EQ(w->currentId(), 1199u);
    // The locator of the date tab finds a date.
    w->findChild<QLineEdit*>()->setText("1993-01-01");
    Q_EMIT w->findChild<QLineEdit*>()->returnPressed();
    ASSERT_NE(w->currentId(), 0u);
    EXPECT_EQ(w->model()->rowAt(w->listView()->currentRowIndex())->mail.DATE, dayNumber(1993, 1, 1));
}

TEST_F(ReadingGui, MailBrowseLimitsByPartnerAndSteps) {
    mailData();
    BrowseWindow* w = openMail();
    ASSERT_NE(w, nullptr);
    w->setTab(3);
    auto* loc = w->findChild<QLineEdit*>();
    loc->setText("coo");
    Q_EMIT loc->returnPressed();
    EXPECT_EQ(w->choice().partnerId, 102u);
    EXPECT_EQ(w->choiceText(), "Cook, Carl (50)");
    ASSERT_EQ(w->model()->rowCount(), static_cast<int>(BrowseList::kPage));
    for (int i = 0; i < w->model()->rowCount(); ++i) EXPECT_EQ(w->model()->rowAt(i)->mail.PAIRID, 102u);
    ASSERT_TRUE(w->stepChoice(true));
    EXPECT_EQ(w->choice().partnerId, 103u);
    // Diaz is the last partner: "next" leaves the choice.
    EXPECT_FALSE(w->stepChoice(true));
    EXPECT_EQ(w->choice().partnerId, 103u);
    ASSERT_TRUE(w->stepChoice(false));
    ASSERT_TRUE(w->stepChoice(false));
    EXPECT_EQ(w->choice().partnerId, 101u);
    EXPECT_EQ(w->model()->rowCount(), static_cast<int>(BrowseList::kPage));
    // The limit belongs to the partner tab only.
    w->setTab(1);
    EXPECT_EQ(w->model()->rowAt(0)->id, 1199u);
    w->setTab(3);
    EXPECT_EQ(w->choice().partnerId, 101u);
    for (int i = 0; i < w->model()->rowCount(); ++i) EXPECT_EQ(w->model()->rowAt(i)->mail.PAIRID, 101u);
    w->clearChoice();
    EXPECT_EQ(w->choice().partnerId, 0u);
    // A key word that is not in the word list gives an empty tab.
    w->setTab(6);
    loc->setText("nosuchword");
    Q_EMIT loc->returnPressed();
    EXPECT_EQ(w->model()->rowCount(), 0);
    EXPECT_TRUE(loc->text().isEmpty());
    EXPECT_EQ(w->viewerText(), "");
}

TEST_F(ReadingGui, MailBrowseStatusBookmarkAndPages) {
    mailData();
    std::string longText;
    for (int i = 0; i < 3000; ++i) longText += "word" + std::to_string(i % 10) + "   ";
    addText(1197, longText);
    BrowseWindow* w = openMail();
    ASSERT_NE(w, nullptr);
    w->listView()->selectRow(1);
    ASSERT_EQ(w->currentId(), 1198u);
    const QStringList cmds = w->statusCommands();
    EXPECT_EQ(cmds.join('|'), "Normal Message|Keep Message|Delete Message|-|Normal Partner|Keep Partner|Delete "
                              "Partner|-|Normal MailBox|Keep MailBox|Delete MailBox");
    ASSERT_TRUE(w->runStatusCommand("Keep Message"));
    EXPECT_EQ(w->currentId(), 1198u);
    EXPECT_EQ(w->model()->rowAt(w->listView()->currentRowIndex())->mail.DUMMY, 1);
    EXPECT_EQ(w->model()->data(w->model()->index(1, 5), Qt::DisplayRole).toString(), "Keep");
    ASSERT_TRUE(w->runStatusCommand("Delete Partner"));
    PER.PERSONID = 101;  // partner of 1198 (i = 198)
    ASSERT_TRUE(Person.get(PER_PersonKey)) << errorText();
    EXPECT_EQ(PER.DUMMY, 2);

    w->setBookmark();
    EXPECT_EQ(w->bookmarkText(), "Reset to BookMark");
    press(w->listView(), Qt::Key_End);
    EXPECT_EQ(w->currentId(), 1000u);
    w->bookmarkButton();
    EXPECT_EQ(w->currentId(), 1198u);

    w->listView()->selectRow(2);
    ASSERT_EQ(w->currentId(), 1197u);
    ASSERT_EQ(w->pageCount(), 2);
    EXPECT_TRUE(w->viewerText().endsWith(" ..........<MORE>>"));
    w->setPage(1);
    EXPECT_TRUE(w->viewerText().startsWith("<CONTINUED>> \n"));
    w->setPage(5);
    EXPECT_EQ(w->page(), 1);

    const std::string copy = w->copyText();
    EXPECT_EQ(copy.rfind(std::string(64, '-') + "\r\n         Mail retrieved by", 0), 0u);
    EXPECT_NE(copy.find("Sb: Subject 197\r\n"), std::string::npos);
}

TEST_F(ReadingGui, BrowseReopensWithItsSizeAndColumnWidths) {
    mailData();
    BrowseWindow* w = openMail();
    ASSERT_NE(w, nullptr);
    w->resize(713, 457);
    w->listView()->horizontalHeader()->resizeSection(2, 123);
    closeAllProcedures();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(procedureWindow("BrowseMail"), nullptr);
    w = openMail();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->size(), QSize(713, 457));
    EXPECT_EQ(w->listView()->horizontalHeader()->sectionSize(2), 123);
}

TEST_F(ReadingGui, DatabaseMarkedForDeletionAsks) {
    mailData(2);
    headless.answers.push_back(BtnNo);
    BrowseWindow* w = openMail();
    ASSERT_NE(w, nullptr);
    QApplication::processEvents();
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_EQ(headless.shown.back().title, " Database marked for deletion!");
    EXPECT_TRUE(headless.shown.back().question);
    EXPECT_NE(headless.shown.back().text.find("the entire database directory will be removed"), std::string::npos);
    uint32_t removed = 0;
    BrowseWindow::setDatabaseRemoval([&](uint32_t id) {
        removed = id;
        return true;
    });
    closeAllProcedures();
    QApplication::processEvents();
    headless.answers.push_back(BtnYes);
    ASSERT_NE(openMail(), nullptr);
    QApplication::processEvents();
    EXPECT_EQ(removed, dbId);
    BrowseWindow::setDatabaseRemoval(nullptr);
}

TEST_F(ReadingGui, StandardSearchWindowFindsAndHighlights) {
    mailData();
    addText(1010, "Quarterly report");
    addText(1150, "another REPORT here");
    BrowseWindow* w = openMail();
    ASSERT_NE(w, nullptr);
    auto* s = dynamic_cast<SearchWindow*>(startProcedure("SearchMail"));
    ASSERT_NE(s, nullptr);
    SearchOptions o;
    o.text = "report";
    s->setOptions(o);
    s->findNext();
    ASSERT_EQ(s->finishNow(), SearchState::Hit);
    EXPECT_EQ(w->currentId(), 1010u);  // oldest first
    auto* viewer = w->findChild<QPlainTextEdit*>();
    ASSERT_EQ(viewer->extraSelections().size(), 1);
    EXPECT_EQ(viewer->extraSelections()[0].cursor.selectedText(), "report");
    s->findNext();
    ASSERT_EQ(s->finishNow(), SearchState::Hit);
    EXPECT_EQ(w->currentId(), 1150u);
    EXPECT_EQ(viewer->extraSelections()[0].cursor.selectedText(), "REPORT");
    s->setTiming(true);
    const size_t boxes = headless.shown.size();
    s->findNext();
    EXPECT_EQ(s->finishNow(), SearchState::End);
    ASSERT_EQ(headless.shown.size(), boxes + 2);
    EXPECT_EQ(headless.shown[boxes].title, " Standard Search  ");
    EXPECT_EQ(headless.shown[boxes].text.rfind("The time for completion was: ", 0), 0u);
    EXPECT_EQ(headless.shown.back().title, " End of File!");
    EXPECT_EQ(headless.shown.back().text, "No more messages in this direction!");
    // Moving on in the browse: the next search goes on from the message shown.
    o.text = "Subject 1";
    s->setOptions(o);
    s->findNext();
    ASSERT_EQ(s->finishNow(), SearchState::Hit);
    EXPECT_EQ(w->currentId(), 1001u);
    ASSERT_TRUE(w->showMessage(1100));
    s->findNext();
    ASSERT_EQ(s->finishNow(), SearchState::Hit);
    EXPECT_EQ(w->currentId(), 1101u);
    o.text = "report";
    s->setOptions(o);
    // The text is kept for the next search window.
    EXPECT_EQ(SearchWindow::sharedText(), "Subject 1");
    // Backward: newest first.
    o.backward = true;
    s->setOptions(o);
    s->findNext();
    ASSERT_EQ(s->finishNow(), SearchState::Hit);
    EXPECT_EQ(w->currentId(), 1150u);
}

TEST_F(ReadingGui, MessageBrowseWithThreadTree) {
    makeDatabase(3, "linux.ports.mips", 300200, 2);
    const std::string file = sharedDataFile("linux-mips-1996-sample-news.mbox");
    if (file.empty()) GTEST_SKIP() << "the mailing-list archive is not there";
    auto msgs = qb::testing::readMbox(file, 120);
    ASSERT_GE(msgs.size(), 100u);
    auto ids = qb::testing::loadMbox(*this, msgs, false);
    auto* w = dynamic_cast<BrowseWindow*>(startProcedure("BrowseMsgNmbr"));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->currentId(), ids.back());  // highest number first
    auto* tree = dynamic_cast<ThreadTreeWindow*>(startProcedure("ThreadTree"));
    ASSERT_NE(tree, nullptr);
    // Find a message with replies and show its thread.
    uint32_t parentMsg = 0;
    OP_CLOSE(OpOpenShared, MsgNmbr.number());
    MsgNmbr.set(MSG_IdKey);
    while (MsgNmbr.next())
        if (MSG.REFNUMBER) {
            parentMsg = MSG.REFNUMBER;
            break;
        }
    OP_CLOSE(OpClose, MsgNmbr.number());
    ASSERT_NE(parentMsg, 0u);
    ASSERT_TRUE(w->showMessage(parentMsg));
    const BrowseRow* row = w->model()->rowAt(w->listView()->currentRowIndex());
    ASSERT_NE(row, nullptr);
    // The row belongs to the model's page, which later moves reload: keep copies.
    const uint32_t threadNumber = row->msg.THREADNUMBER;
    const std::string threadAlpha = row->msg.THREADALPHA.str();
    row = nullptr;
    EXPECT_EQ(tree->thread(), threadNumber);
    ASSERT_GE(tree->nodes().size(), 2u);
    bool parentHasReplies = false;
    for (auto& n : tree->nodes())
        if (n.number == parentMsg) parentHasReplies = n.hasReplies;
    EXPECT_TRUE(parentHasReplies);
    EXPECT_EQ(static_cast<size_t>(tree->tree()->topLevelItemCount()) <= tree->nodes().size(), true);
    // Labels follow the tree display setting.
    tree->setLabelFormat(4, "@D10-");
    ASSERT_GT(tree->tree()->topLevelItemCount(), 0);
    const TreeNode& top = tree->nodes().front();
    QTreeWidgetItem* first = tree->tree()->topLevelItem(0);
    EXPECT_EQ(first->data(0, Qt::UserRole).toUInt(), top.number);
    EXPECT_EQ(first->text(0).toStdString(),
              toUtf8(top.sender) + " " + std::to_string(top.number) + " " + formatDate(top.date, "@D10-"));
    // Choosing a node shows it in the browse.
    const uint32_t other = tree->nodes().back().number;
    ASSERT_TRUE(tree->choose(other));
    EXPECT_EQ(w->currentId(), other);
    // The thread tab limited to this thread lists the same messages.
    w->setTab(2);
    w->chooseThread(threadNumber, threadAlpha, "t");
    EXPECT_EQ(static_cast<size_t>(w->model()->rowCount()), std::min(tree->nodes().size(), BrowseList::kPage));
    const uint32_t before = w->choice().threadId;
    if (w->stepChoice(true)) {
        EXPECT_NE(w->choice().threadId, before);
    }
    EXPECT_EQ(w->statusCommands().join('|'),
              "Normal Message|Keep Message|Delete Message|-|Normal Thread|Keep Thread|Delete Thread|-|Normal "
              "Section|Keep Section|Delete Section|-|Normal Database|Keep Database|Delete Database");
}

// Screenshots for the documentation: QB_SCREENSHOTS=1 build/qbtests --gtest_filter='ReadingGui.Screenshots'
TEST_F(ReadingGui, Screenshots) {
    if (!std::getenv("QB_SCREENSHOTS")) GTEST_SKIP() << "set QB_SCREENSHOTS to write docs/*.png";
    const std::string data = sharedDataFile("linux-mips-1996-sample.mbox").empty()
                                 ? std::string()
                                 : sharedDataFile("linux-mips-1996-sample.mbox").substr(
                                       0, sharedDataFile("linux-mips-1996-sample.mbox").rfind('/') + 1);
    if (data.empty()) GTEST_SKIP() << "the mailing-list archive is not there";
    QDir().mkpath(QString(QB_SOURCE_DIR) + "/docs");
    {
        makeDatabase(2, "linux-mips list", 300300, 3, 250000);
        auto msgs = qb::testing::readMbox(data + "linux-mips-1996-sample.mbox", 300);
        auto ids = qb::testing::loadMbox(*this, msgs, true);
        BrowseWindow* w = openMail();
        ASSERT_NE(w, nullptr);
        w->resize(1000, 700);
        w->listView()->selectRow(3);
        QApplication::processEvents();
        ASSERT_TRUE(w->grab().save(QString(QB_SOURCE_DIR) + "/docs/mailbrowse.png"));
        closeAllProcedures();
        QApplication::processEvents();
    }
    {
        makeDatabase(3, "linux.ports.mips", 300400, 4);
        auto msgs = qb::testing::readMbox(data + "linux-mips-1996-sample-news.mbox", 300);
        qb::testing::loadMbox(*this, msgs, false);
        auto* w = dynamic_cast<BrowseWindow*>(startProcedure("BrowseMsgNmbr"));
        ASSERT_NE(w, nullptr);
        w->resize(900, 700);
        // A thread with several replies.
        uint32_t target = 0;
        OP_CLOSE(OpOpenShared, MsgNmbr.number());
        MsgNmbr.set(MSG_IdKey);
        int seen = 0;
        while (MsgNmbr.next())
            if (MSG.REFNUMBER && ++seen == 4) {
                target = MSG.MSGNUMBER;
                break;
            }
        OP_CLOSE(OpClose, MsgNmbr.number());
        auto* tree = dynamic_cast<ThreadTreeWindow*>(startProcedure("ThreadTree"));
        ASSERT_NE(tree, nullptr);
        tree->resize(380, 700);
        if (target) w->showMessage(target);
        QApplication::processEvents();
        QPixmap a = w->grab(), b = tree->grab();
        QPixmap both(a.width() + b.width(), std::max(a.height(), b.height()));
        both.fill(Qt::white);
        QPainter p(&both);
        p.drawPixmap(0, 0, a);
        p.drawPixmap(a.width(), 0, b);
        p.end();
        ASSERT_TRUE(both.save(QString(QB_SOURCE_DIR) + "/docs/msgbrowse.png"));
    }
}

TEST_F(ReadingGui, MessageBrowseLocators) {
    makeDatabase(1, "Writers Forum", 300500, 5);
    beginBulk();
    addPerson(201, "Ann", "Able", "11111,1");
    addPerson(202, "Ben", "Best", "22222,2");
    addSection(260010, 1, "General");
    addSection(260011, 2, "Poetry");
    addThread(260020, 260010, "Welcome everybody", 2);
    addThread(260021, 260011, "Sonnets and other forms", 3);
    addMessage(100, 0, 260020, "Welcome everybody", 260010, 71000, 201, "Able", 202, "Best");
    addMessage(101, 100, 260020, "Welcome everybody", 260010, 71001, 202, "Best", 201, "Able");
    addMessage(102, 0, 260021, "Sonnets and other forms", 260011, 71002, 201, "Able", 202, "Best");
    addMessage(103, 102, 260021, "Sonnets and other forms", 260011, 71003, 202, "Best", 201, "Able");
    addMessage(104, 103, 260021, "Sonnets and other forms", 260011, 71004, 202, "Best", 201, "Able");
    endBulk();
    auto* w = dynamic_cast<BrowseWindow*>(startProcedure("BrowseMsgNmbr"));
    ASSERT_NE(w, nullptr);
    auto* loc = w->findChild<QLineEdit*>();
    auto enter = [&](const char* text) {
        loc->setText(text);
        Q_EMIT loc->returnPressed();
    };
    EXPECT_EQ(w->currentId(), 104u);
    enter("101");
    EXPECT_EQ(w->currentId(), 101u);
    w->setTab(2);
    enter("sonn");
    EXPECT_EQ(w->choice().threadId, 260021u);
    EXPECT_EQ(shownIds(w), (std::vector<uint32_t>{102, 103, 104}));
    EXPECT_EQ(w->choiceText(), "Sonnets and other forms (3)");
    enter("nothing like it");
    EXPECT_EQ(w->choice().threadId, 260021u);  // unchanged
    w->setTab(3);
    enter("1");
    EXPECT_EQ(w->choice().sectionId, 260010u);
    EXPECT_EQ(shownIds(w), (std::vector<uint32_t>{100, 101}));
    enter("poe");
    EXPECT_EQ(w->choice().sectionId, 260011u);
    // Within the section, the thread steps stay in it.
    w->setTab(2);
    EXPECT_FALSE(w->stepChoice(false));
    EXPECT_FALSE(w->stepChoice(true));
    w->setTab(4);
    enter("best");
    EXPECT_EQ(w->choice().senderId, 202u);
    EXPECT_EQ(shownIds(w), (std::vector<uint32_t>{104, 103, 101}));
    ASSERT_TRUE(w->stepChoice(false));
    EXPECT_EQ(w->choice().senderId, 201u);
    EXPECT_EQ(shownIds(w), (std::vector<uint32_t>{102, 100}));
    w->setTab(5);
    EXPECT_EQ(w->choice().receiverId, 0u);
    EXPECT_EQ(w->model()->rowCount(), 5);
    // The copy of a forum message, TAPCIS layout.
    w->setTab(1);
    ASSERT_TRUE(w->showMessage(103));
    const std::string copy = w->copyText();
    EXPECT_NE(copy.find("#: 103 S2/Poetry  [Writers Forum]\r\n"), std::string::npos);
    EXPECT_NE(copy.find("Sb: #102-Sonnets and other forms\r\n"), std::string::npos);
    EXPECT_NE(copy.find("Fm: Ben Best 22222,2\r\n"), std::string::npos);
    ASSERT_TRUE(w->runStatusCommand("Keep Thread"));
    ASSERT_TRUE(w->runStatusCommand("Delete Section"));
    OP_CLOSE(OpOpenShared, Threads.number(), Sections.number());
    THR.THREADNUMBER = 260021;
    ASSERT_TRUE(Threads.get(THR_ThreadKey));
    EXPECT_EQ(THR.DUMMY, 1);
    SEC.SECSYSID = 260011;
    ASSERT_TRUE(Sections.get(SEC_SysIdKey));
    EXPECT_EQ(SEC.DUMMY, 2);
    OP_CLOSE(OpClose, Threads.number(), Sections.number());
}
