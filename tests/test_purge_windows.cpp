// The purge and count windows: timer-driven runs, their labels, the database
// they were opened for, and the unattended form with its end report.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>

#include "app/procedures.h"
#include "app/purge_windows.h"
#include "core/registry.h"
#include "maintenance/taskreport.h"
#include "tests/purge_fixture.h"
#include "tests/reading_runs.h"

using namespace qb;

namespace {

using qb::testing::ensureApp;

class PurgeWindows : public PurgeDbTest {
protected:
    void SetUp() override {
        PurgeDbTest::SetUp();
        ensureApp();
        makeDb("Forum", 1);
        person(1, "Miller");
        section(10);
        thread(100, 10, "Thread");
        for (uint32_t n = 1; n <= 6; ++n)
            message({.number = n, .thread = 100, .from = 1, .status = static_cast<uint8_t>(n <= 2 ? 2 : 0)});
    }
    void TearDown() override {
        closeAllProcedures();
        QApplication::processEvents();
        setMaintenanceReport(nullptr);
        Mem.DoTask = 0;
        PurgeDbTest::TearDown();
    }
    static bool waitFor(const std::function<bool()>& done) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 20000) QApplication::processEvents();
        return done();
    }
    static QString value(QWidget* w, int row) {
        auto* l = w->findChild<QLabel*>(QStringLiteral("Value%1").arg(row));
        return l ? l->text() : QString();
    }
    static QString labels(QWidget* w) {
        QString all;
        for (auto* l : w->findChildren<QLabel*>()) all += l->text() + "|";
        return all;
    }
};

TEST_F(PurgeWindows, PurgeWindowRunsByTimerOnItsOwnDatabase) {
    auto* w = qobject_cast<MaintenanceWindow*>(startProcedure("PurgeMess"));
    ASSERT_NE(w, nullptr);
    // The title names the database the window works on.
    EXPECT_EQ(w->windowTitle(), QStringLiteral(" Message Purging  [Forum]"));
    EXPECT_TRUE(labels(w).contains("Messages before purging"));
    EXPECT_EQ(value(w, 0), "6");
    // The frame selects another database meanwhile: the purge stays on its own.
    const uint32_t forum = Mem.ForumNumber;
    makeDb("Other", 1, 250002);
    w->findChild<QPushButton*>("Start")->click();
    ASSERT_TRUE(waitFor([&] { return w->result() != 0; }));
    EXPECT_EQ(w->result(), 1);
    EXPECT_EQ(Mem.ForumNumber, 250002u);
    EXPECT_EQ(value(w, 1), "2");
    EXPECT_EQ(value(w, 2), "4");
    EXPECT_TRUE(labels(w).contains("The time for completion was: "));
    EXPECT_TRUE(labels(w).contains("Number of Forum members:"));
    ASSERT_TRUE(selectDatabase(forum));
    EXPECT_EQ(messagesLeft(), (std::vector<uint32_t>{3, 4, 5, 6}));
}

TEST_F(PurgeWindows, UnattendedCountStartsByItselfAndReportsItsEnd) {
    int reportedKind = 0, reportedResult = 0;
    uint32_t reportedDb = 0;
    setMaintenanceReport([&](int kind, uint32_t db, int result) {
        reportedKind = kind;
        reportedDb = db;
        reportedResult = result;
        return JobNone;
    });
    Mem.DoTask = 2;
    QWidget* w = startProcedure("CountMess");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), QStringLiteral(" Scheduled Message Counting [Forum]"));
    ASSERT_TRUE(waitFor([&] { return reportedKind != 0; }));
    EXPECT_EQ(reportedKind, JobCount);
    EXPECT_EQ(reportedDb, Mem.ForumNumber);
    EXPECT_EQ(reportedResult, 1);
    EXPECT_TRUE(waitFor([] { return procedureWindow("CountMess") == nullptr; }));
    EXPECT_EQ(databaseRow().MSGCOUNT, 6u);
    EXPECT_TRUE(headless.shown.empty());
}

} // namespace
