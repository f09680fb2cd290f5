// The merge wizard: typed and looked-up names, the kind check that sends the
// user back to the target, and the progress window to its end.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <string>

#include "app/commands.h"
#include "app/mergewizard.h"
#include "app/procedures.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/maildb.h"
#include "import/merge.h"
#include "import/pipeline.h"
#include "tests/enginereset.h"
#include "tests/pipeline_testreader.h"
#include "tests/testutil.h"
#include "tests/reading_runs.h"

using namespace qb;

namespace {

using qb::testing::ensureApp;

class MergeWizardTest : public ::testing::Test {
protected:
    TempDir home;
    HeadlessUi headless;
    uint32_t source = 0, target = 0, mail = 0;

    void SetUp() override {
        ensureApp();
        ASSERT_TRUE(test::testReaderRegistered());
        Mem = MemGlobals{};
        startHeadless(home.path);
        setUi(&headless);
        source = addForumDatabase("Old Forum");
        target = addForumDatabase("New Forum");
        std::string error;
        mail = addMailDatabase("My Mail", "me@example.org", {}, &error);
        ASSERT_NE(mail, 0u) << error;
        const std::string path = home.path + "/in.txt";
        std::string data = "#QBTEST\n";
        for (int i = 1; i <= 30; ++i)
            data += "F|Old Forum|1|General|" + std::to_string(i) + "|0|Heading|Ann Author|11111,111|All||2024-03-01|Text\n";
        writeFile(path, data);
        ImportSettings s;
        s.reader = test::TestReaderName;
        s.method = 2;
        ImportRun r(s, {path});
        while (r.step()) {}
        ASSERT_FALSE(r.failed());
        headless.shown.clear();
    }
    void TearDown() override {
        closeAllProcedures();
        QApplication::processEvents();
        qb::testing::resetEngine();
    }
};

} // namespace

TEST_F(MergeWizardTest, KindCheckSendsTheUserBackToTheTarget) {
    auto* wizard = qobject_cast<MergeWizard*>(startProcedure("MergeMeny"));
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(wizard->page(), 0);
    EXPECT_FALSE(wizard->startButton()->isEnabled());

    // An unknown source keeps the first page.
    wizard->sourceField()->setText("Nothing Like It");
    wizard->nextButton()->click();
    EXPECT_EQ(wizard->page(), 0);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_EQ(headless.shown.back().text, "The database Nothing Like It does not exist!");

    // The look-up fills the field with the chosen name.
    QDialog* look = wizard->lookUp();
    auto* list = look->findChild<QListWidget*>("DatabaseList");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 3);
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->data(Qt::UserRole).toString() == "Old Forum") list->setCurrentRow(i);
    emit list->itemActivated(list->currentItem());
    EXPECT_EQ(wizard->sourceField()->text(), "Old Forum");
    wizard->nextButton()->click();
    ASSERT_EQ(wizard->page(), 1);

    wizard->targetField()->setText("my mail");
    EXPECT_EQ(wizard->start(), nullptr);
    EXPECT_EQ(headless.shown.back().title, "Illegal selection!");
    EXPECT_EQ(headless.shown.back().text, "You cannot merge different kinds of databases - they both will have to be "
                                          "either Mail, Forum or Newsgroup!");
    EXPECT_EQ(wizard->page(), 1);
    EXPECT_EQ(procedureWindow("MergeMeny"), wizard);

    wizard->targetField()->setText("New Forum");
    MergeProgressWindow* progress = wizard->start();
    ASSERT_NE(progress, nullptr);
    bool notified = false;
    QObject::connect(progress, &MergeProgressWindow::finished, [&] { notified = true; });
    progress->runToEnd();
    EXPECT_TRUE(notified);
    EXPECT_EQ(progress->fromText(), " Merging from: Old Forum");
    EXPECT_EQ(progress->toText(), " Merging to: New Forum");
    EXPECT_EQ(progress->progressText(), "The merging process has finished!");
    EXPECT_EQ(headless.shown.back().text, "The merging process has finished!");
    EXPECT_EQ(progress->run().totals().stored, 30u);
    EXPECT_EQ(progress->stopButton()->text(), "&Close");
    ForumsRec row{};
    ASSERT_TRUE(findDatabaseById(target, row));
    EXPECT_EQ(row.MSGCOUNT, 30u);
    progress->close();
}
