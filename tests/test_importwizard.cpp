// The import wizard and the progress window that drives an import run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "app/commands.h"
#include "app/importwizard.h"
#include "app/procedures.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/catalogue.h"
#include "import/pipeline.h"
#include "tests/enginereset.h"
#include "tests/pipeline_testreader.h"
#include "tests/testutil.h"
#include "tests/reading_runs.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

using qb::testing::ensureApp;

class ImportWizardTest : public ::testing::Test {
protected:
    TempDir home;
    HeadlessUi headless;
    void SetUp() override {
        ensureApp();
        Mem = MemGlobals{};
        startHeadless(home.path);
        setUi(&headless);
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = 300001;
        FOR.DESCRIPTION.set("Owner Mail");
        FOR.DIRNUMBER = 1;
        FOR.TYPE = KindMail;
        ASSERT_TRUE(Forums.add());
        Forums.clearBuffer();
        FOR.ID = 300002;
        FOR.DESCRIPTION.set("Closed Forum");
        FOR.DIRNUMBER = 2;
        FOR.TYPE = KindForum;
        FOR.NOIMPORT = 1;
        ASSERT_TRUE(Forums.add());
        OP_CLOSE(OpClose, Forums.number());
        fs::create_directories(home.path + "/F1");
        fs::create_directories(home.path + "/F2");
    }
    void TearDown() override {
        closeAllProcedures();
        QApplication::processEvents();
        qb::testing::resetEngine();
    }
};

} // namespace

TEST_F(ImportWizardTest, ReaderChoiceSetsMaskKindsAndChecksRunAtStart) {
    QWidget* w = startProcedure("ImportMeny");
    auto* wizard = qobject_cast<ImportWizard*>(w);
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(wizard->windowTitle(), "Import Wizard");
    // A new import starts with the default reader.
    EXPECT_EQ(wizard->settings().reader, "WinCIM");

    wizard->chooseReaderNumber(29);  // Gravity: newsgroups only
    ImportSettings s = wizard->settings();
    EXPECT_EQ(s.reader, "Gravity");
    EXPECT_EQ(s.masks, "*.*");
    EXPECT_TRUE(s.importNews);
    EXPECT_FALSE(s.importMail || s.importForum);

    // TAPCIS 5.x needs a chosen forum database; none is taken unless picked.
    wizard->chooseReaderNumber(15);
    s = wizard->settings();
    EXPECT_EQ(s.masks, "*.MSG;*.OLD");
    EXPECT_EQ(s.mailDb, 300001u);
    EXPECT_EQ(s.forumDb, 0u);
    EXPECT_EQ(wizard->start(), nullptr);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_EQ(headless.shown.back().text, "You must select a database to import to!");

    // Page navigation.
    EXPECT_EQ(wizard->page(), 0);
    EXPECT_FALSE(wizard->backButton()->isEnabled());
    wizard->nextButton()->click();
    EXPECT_EQ(wizard->page(), 1);
    if (qEnvironmentVariableIsSet("QB_WRITE_SCREENSHOTS")) wizard->grab().save(QB_SOURCE_DIR "/docs/importwizard.png");
    for (int i = 2; i < wizard->pageCount(); ++i) wizard->nextButton()->click();
    EXPECT_EQ(wizard->page(), wizard->pageCount() - 1);
    EXPECT_FALSE(wizard->nextButton()->isEnabled());
}

TEST_F(ImportWizardTest, ProgressWindowRunsTheImportToItsEnd) {
    ASSERT_TRUE(test::testReaderRegistered());
    std::string f = home.path + "/in.txt";
    writeFile(f, "#QBTEST\nF|Closed Forum|1|General|1|0|Hi|A|1,1|All||2024-03-01|text\n"
                 "F|Open Forum|1|General|1|0|Hi|A|1,1|All||2024-03-01|text\n");
    ImportSettings s;
    s.reader = test::TestReaderName;
    s.mailDb = 300001;
    s.method = 2;
    s.path = f;
    ImportProgressWindow win(s);
    EXPECT_EQ(win.windowTitle().toStdString(), std::string(test::TestReaderName) + " Import Processing");
    bool done = false;
    QObject::connect(&win, &ImportProgressWindow::finished, [&] { done = true; });
    win.runToEnd();
    EXPECT_TRUE(done);
    EXPECT_TRUE(win.run().finished());
    EXPECT_EQ(win.run().totals().skipped, 1u);
    EXPECT_EQ(win.run().totals().stored, 1u);
    EXPECT_EQ(win.run().endText(), "The import process has finished!");
    auto* stop = win.findChild<QPushButton*>();
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->text(), "&Close");
    if (qEnvironmentVariableIsSet("QB_WRITE_SCREENSHOTS")) win.grab().save(QB_SOURCE_DIR "/docs/importprogress.png");
}

TEST_F(ImportWizardTest, StartRemembersTheChoicesAndCanSaveTheSession) {
    std::string mbox = home.path + "/in.mbox";
    writeFile(mbox,
              "From sam@example.net Mon Jan  1 10:00:00 1996\n"
              "From: Sam Sender <sam@example.net>\n"
              "To: owner@example.org\n"
              "Subject: From the wizard\n"
              "Date: Mon, 1 Jan 1996 10:00:00 +0000\n"
              "\n"
              "Body\n");
    auto* wizard = qobject_cast<ImportWizard*>(startProcedure("ImportMeny"));
    ASSERT_NE(wizard, nullptr);
    wizard->chooseReaderNumber(26);  // Unix Mail
    auto edits = wizard->findChildren<QLineEdit*>();
    ASSERT_GE(edits.size(), 1);
    edits[0]->setText(QString::fromStdString(mbox));  // file selection is the method shown first
    for (QCheckBox* c : wizard->findChildren<QCheckBox*>())
        if (c->text() == "Save this session for use in the Task Manager") c->setChecked(true);

    ImportProgressWindow* win = wizard->start();
    ASSERT_NE(win, nullptr);
    win->runToEnd();
    EXPECT_EQ(win->run().totals().stored, 1u);
    EXPECT_EQ(konfigNumber(12), 26);
    EXPECT_EQ(konfigNumber(19), 300001);

    OP_CLOSE(OpOpenShared, Batch.number());
    Batch.set(BAT_IDKEY);
    ASSERT_TRUE(Batch.next());
    EXPECT_EQ(BAT.FILETYPE, 26);
    EXPECT_EQ(BAT.MAILBOX, 300001u);
    EXPECT_EQ(BAT.SELMETHOD, 2);
    OP_CLOSE(OpClose, Batch.number());
    win->close();
}
