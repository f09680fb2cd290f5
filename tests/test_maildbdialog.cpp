// The mail database settings dialog: adding a database and updating its
// alternative addresses through the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "app/maildbdialog.h"
#include "import/persons.h"
#include "tests/dbhome.h"
#include "tests/reading_runs.h"

using namespace qb;

namespace {

using qb::testing::ensureApp;

class MailDbWindow : public qb::testing::DbHome {
protected:
    void SetUp() override {
        DbHome::SetUp();
        ensureApp();
    }
    void grab(QWidget& w, const char* file) {
        w.adjustSize();
        w.grab().save(QString(QB_SOURCE_DIR) + "/docs/" + file);
    }
};

TEST_F(MailDbWindow, AddThenUpdate) {
    MailDbDialog add;
    EXPECT_EQ(add.windowTitle(), "Add New Mail Database");
    EXPECT_EQ(add.acceptButton()->text(), "Accept new Mail Database");
    add.nameEdit()->setText("Kim Owner");
    add.addressEdit()->setText("kim@home.org");
    add.altEdit(3)->setText("kim@work.com");
    grab(add, "maildb-add.png");
    add.acceptButton()->click();
    EXPECT_EQ(add.result(), QDialog::Accepted);
    const uint32_t id = add.forumId();
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(loadMailOwner(id));
    EXPECT_TRUE(isOwnerAddress("kim@work.com"));
    EXPECT_NE(mailOwner().personId, 0u);

    MailDbDialog upd(id);
    EXPECT_EQ(upd.windowTitle(), "Update alternative addresses");
    EXPECT_EQ(upd.acceptButton()->text(), "Accept updated Mail Database");
    EXPECT_EQ(upd.nameEdit()->text(), "Kim Owner");
    EXPECT_TRUE(upd.addressEdit()->isReadOnly());
    EXPECT_EQ(upd.altEdit(0)->text(), "kim@work.com");
    upd.altEdit(0)->clear();
    upd.altEdit(1)->setText("K.Owner@Example.com");
    grab(upd, "maildb-update.png");
    upd.acceptButton()->click();
    EXPECT_EQ(upd.result(), QDialog::Accepted);
    ASSERT_TRUE(loadMailOwner(id));
    EXPECT_FALSE(isOwnerAddress("kim@work.com"));
    EXPECT_TRUE(isOwnerAddress("k.owner@example.com"));
}

TEST_F(MailDbWindow, RefusedAddKeepsTheDialogOpen) {
    MailDbDialog add;
    add.nameEdit()->setText("No Address");
    add.acceptButton()->click();
    EXPECT_NE(add.result(), QDialog::Accepted);
    EXPECT_EQ(add.forumId(), 0u);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_EQ(headless.shown.back().title, "Add New Mail Database");
}

} // namespace
