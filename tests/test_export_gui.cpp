// The batch dialog and window offscreen, reached from the mail browse, and the
// address export dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "app/batchwindow.h"
#include "app/browsewindow.h"
#include "app/procedures.h"
#include "core/dates.h"
#include "reading/topics.h"
#include "tests/reading_fixture.h"
#include "tests/reading_runs.h"

using namespace qb;
using qb::testing::ensureApp;
using qb::testing::ReadingDb;

namespace {

class ExportGui : public ReadingDb {
protected:
    void SetUp() override {
        ensureApp();
        ReadingDb::SetUp();
        makeDatabase(2, "My Mail", 300000, 1, 100);
        beginBulk();
        addPerson(100, "Ann", "Owner", "ann@home.example");
        addPerson(101, "Bo", "Baker", "bo@example.org");
        for (uint32_t i = 0; i < 30; ++i)
            addMail(1000 + i, dayNumber(1996, 3, 1) + static_cast<int32_t>(i), 1, "Subject " + std::to_string(i),
                    i % 2 ? 100 : 101, i % 2 ? "Owner" : "Baker", i % 2 ? 101 : 100, i % 2 ? "Baker" : "Owner", 100);
        endBulk();
        renderSettings() = RenderSettings{};
    }
    void TearDown() override {
        closeAllProcedures();
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ReadingDb::TearDown();
    }
};

} // namespace

TEST_F(ExportGui, DialogChecksThenTheWindowExports) {
    auto* browse = qobject_cast<BrowseWindow*>(startProcedure("BrowseMail"));
    ASSERT_NE(browse, nullptr);
    BatchDialog* d = browse->batchDialog();
    EXPECT_EQ(d->captionText(), " Export all messages related to the current:");
    d->setOperation(3);
    EXPECT_EQ(d->captionText(), " Recode all messages related to the current:");
    d->setOperation(0);
    d->setTarget(TargetEudora);
    EXPECT_EQ(d->firstName()->text(), "InBox.MBX");
    EXPECT_EQ(d->secondName()->text(), "OutBox.MBX");

    // The checks refuse before anything starts.
    d->firstName()->setText("../In.MBX");
    EXPECT_EQ(d->startBatch(), nullptr);
    EXPECT_EQ(headless.shown.back().title, "Filename error");
    d->firstName()->setText("InBox.MBX");
    d->dateRangeBox()->setChecked(true);
    d->fromDate()->setText("1996-03-10");
    d->toDate()->setText("1996-03-05");
    EXPECT_EQ(d->startBatch(), nullptr);
    EXPECT_EQ(headless.shown.back().text, "A negative date range cannot be allowed.");
    d->setOperation(2);
    d->toDate()->setText("1996-03-12");
    EXPECT_EQ(d->startBatch(), nullptr);
    EXPECT_EQ(headless.shown.back().text, "No topic selected!");

    // Export of the whole mailbox within the range, mail 9 to 11: the sent
    // ones (9, 11) to the outbox, the received one (10) to the inbox.
    d->setOperation(0);
    d->setScope(ScopeAll);
    auto* w = qobject_cast<BatchWindow*>(d->startBatch());
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->statusText(), "Exporting messages ... please wait!");
    w->runToEnd();
    EXPECT_EQ(w->statusText(), "Messages exported!");
    EXPECT_EQ(w->run().count(), 3u);
    EXPECT_EQ(readFile(Mem.TempDir + "/OutBox.MBX").find("Subject 10"), std::string::npos);
    EXPECT_NE(readFile(Mem.TempDir + "/OutBox.MBX").find("Subject: Subject 9"), std::string::npos);
    EXPECT_NE(readFile(Mem.TempDir + "/InBox.MBX").find("Subject: Subject 10"), std::string::npos);
    // The eudora target is kept as the mail target.
    EXPECT_EQ(renderSettings().mailTarget, TargetEudora);
    w->close();

    // The next dialog comes back with the settings of this one.
    BatchDialog* again = browse->batchDialog();
    EXPECT_TRUE(again->dateRangeBox()->isChecked());
    EXPECT_EQ(again->fromDate()->text(), "1996-03-10");
    EXPECT_EQ(again->firstName()->text(), "InBox.MBX");
    again->close();
    d->close();
}

TEST_F(ExportGui, AbortAndStatusOverTheMailbox) {
    BatchRequest r;
    r.operation = OpStatusKeep;
    r.scope = ScopeSender;
    r.messageId = 1001;  // the owner's mail: 15 of them
    BatchWindow w(r);
    EXPECT_EQ(w.statusText(), "Recoding message status ... please wait!");
    w.abortRun();
    EXPECT_EQ(w.statusText(), "Process aborted!");
    EXPECT_LT(w.run().count(), 15u);

    BatchWindow all(r);
    all.runToEnd();
    EXPECT_EQ(all.statusText(), "Message status recoded!");
    EXPECT_EQ(all.run().count(), 15u);
    MailRec m{};
    OP_CLOSE(OpOpenShared, Mail.number());
    ASSERT_TRUE(readMailHeader(1029, m));
    EXPECT_EQ(m.DUMMY, 1);
    ASSERT_TRUE(readMailHeader(1028, m));
    EXPECT_EQ(m.DUMMY, 0);
    OP_CLOSE(OpClose, Mail.number());

    // Delete on the whole mailbox asks first; No leaves it alone.
    auto* browse = qobject_cast<BrowseWindow*>(startProcedure("BrowseMail"));
    ASSERT_NE(browse, nullptr);
    BatchDialog* d = browse->batchDialog();
    d->setOperation(3);
    d->setStatusChoice(2);
    d->setScope(ScopeAll);
    d->dateRangeBox()->setChecked(false);  // the last dialog's range may be kept
    headless.answers.push_back(BtnNo);
    EXPECT_EQ(d->startBatch(), nullptr);
    EXPECT_EQ(headless.shown.back().title, " Database marked for deletion!");
    EXPECT_EQ(Mem.ForumCheck, 0);
    d->close();
}

TEST_F(ExportGui, AddressExportWritesTheBook) {
    auto* d = qobject_cast<AddressExportDialog*>(startProcedure("AddressExport"));
    ASSERT_NE(d, nullptr);
    d->targetBox()->setCurrentIndex(d->targetBox()->findData(TargetOzWin));
    EXPECT_EQ(d->fileName()->text(), "Address.Ab");
    EXPECT_EQ(d->exportNow(), 2);
    EXPECT_TRUE(d->resultText().contains("Address.Ab"));
    d->fileName()->setText("x/Address.Ab");
    EXPECT_EQ(d->exportNow(), -1);
    EXPECT_EQ(headless.shown.back().text, "Do not include the path, just the filename!");
}
