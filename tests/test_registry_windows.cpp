// The registry's windows: database selection with its import switch, adding
// forums, and the rebuild and next-ID check driven by their timers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeWidget>

#include "app/registry_windows.h"
#include "core/registry.h"
#include "import/maildb.h"
#include "tests/dbhome.h"
#include "tests/reading_runs.h"

using namespace qb;

namespace {

using qb::testing::ensureApp;

class RegistryWindows : public qb::testing::DbHome {
protected:
    void SetUp() override {
        DbHome::SetUp();
        std::filesystem::remove_all(Mem.FileDir + "/F1");
        Mem.Dirnamn.clear();
        ensureApp();
    }
    // Pictures for the documentation, when asked for (QB_WRITE_SCREENSHOTS=1).
    void grab(QWidget& w, const char* file) {
        if (qEnvironmentVariableIsSet("QB_WRITE_SCREENSHOTS")) w.grab().save(QString(QB_SOURCE_DIR) + "/docs/" + file);
    }
    void runUntilIdle(RebuildWindow& w) {
        QElapsedTimer t;
        t.start();
        while (w.running() && t.elapsed() < 20000) QApplication::processEvents();
        ASSERT_FALSE(w.running());
    }
};

TEST_F(RegistryWindows, SelectionShowsTheColumnsAndSwitchesImport) {
    const uint32_t a = addForumDatabase("comp.arch");
    ASSERT_NE(a, 0u);
    ASSERT_NE(addForumDatabase("Linux MIPS"), 0u);
    DatabaseSelection w(0);
    QTreeWidget* list = w.list();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    QTreeWidgetItem* first = list->topLevelItem(0);
    EXPECT_EQ(first->text(0), "comp.arch");
    EXPECT_EQ(first->text(1), "F1");
    EXPECT_EQ(first->text(2), "0");
    EXPECT_EQ(first->text(3), "Yes");
    EXPECT_EQ(first->text(4), "Yes");

    ASSERT_TRUE(w.setImport(0, false));
    EXPECT_EQ(list->topLevelItem(0)->text(3), "No");
    ForumsRec r;
    ASSERT_TRUE(findDatabaseById(a, r));
    EXPECT_EQ(r.NOIMPORT, 1);
    w.resize(560, 200);
    grab(w, "db-selection.png");

    ASSERT_TRUE(w.chooseRow(0));
    EXPECT_EQ(Mem.ForumNumber, a);
    EXPECT_EQ(Mem.Dirnamn, "F1");

    DatabaseSelection mailOnly(KindMail);
    EXPECT_EQ(mailOnly.windowTitle(), " Mail Database Selection ");
    EXPECT_EQ(mailOnly.list()->topLevelItemCount(), 0);
}

TEST_F(RegistryWindows, AddForumStaysOpenOnADuplicateAndForFurtherNames) {
    AddForumWindow w;
    EXPECT_EQ(w.windowTitle(), " Add New Forum");
    w.nameField()->setText("Linux MIPS");
    ASSERT_NE(w.save(), 0u);
    EXPECT_TRUE(w.nameField()->text().isEmpty());
    EXPECT_TRUE(w.statusLabel()->text().contains("F1"));
    w.nameField()->setText("LINUX mips");
    EXPECT_EQ(w.save(), 0u);
    EXPECT_EQ(w.nameField()->text(), "LINUX mips");  // kept for correcting
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_NE(headless.shown.back().text.find("A record with identical key already exists!"), std::string::npos);
    w.nameField()->setText("Caf\xC3\xA9");
    ASSERT_NE(w.save(), 0u);
    ForumsRec r;
    ASSERT_TRUE(findDatabaseByName("Caf\xE9", r));
    EXPECT_EQ(r.DIRNUMBER, 2u);
    grab(w, "add-forum.png");
}

TEST_F(RegistryWindows, RebuildWindowRunsToTheEndAndShowsTheLog) {
    std::string error;
    // A mail database added through the mail settings is recognised too.
    ASSERT_NE(addMailDatabase("Kim Owner", "kim@home.org", {}, &error), 0u) << error;
    ASSERT_NE(addForumDatabase("Linux MIPS"), 0u);
    RebuildWindow w(false);
    EXPECT_EQ(w.windowTitle(), " Rebuild");
    w.start();
    runUntilIdle(w);
    const QString log = w.logView()->toPlainText();
    EXPECT_TRUE(log.contains("Mail       F1 Kim Owner")) << log.toStdString();
    EXPECT_TRUE(log.contains("Forum      F2 Linux MIPS"));
    EXPECT_TRUE(log.contains("Checking for highest existing ID ...OK!"));
    EXPECT_EQ(listDatabases().size(), 2u);
    grab(w, "rebuild.png");

    RebuildWindow check(true);
    EXPECT_EQ(check.windowTitle(), " Next ID check");
    check.start();
    runUntilIdle(check);
    EXPECT_EQ(check.statusLabel()->text(), "Checking for highest existing ID ...OK!");
}

} // namespace
