// The scheduler's check with its countdown window: running, deactivating and
// postponing a due task.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include "app/procedures.h"
#include "app/task_windows.h"
#include "core/dates.h"
#include "core/globals.h"
#include "tasks/taskmanager.h"
#include "tasks/tasktables.h"
#include "tests/dbhome.h"
#include "tests/reading_runs.h"

using namespace qb;

namespace {

class TaskWindows : public qb::testing::DbHome {
protected:
    void SetUp() override {
        DbHome::SetUp();
        qb::testing::ensureApp();
        open({Tasks.number(), TaskBatch.number()});
        Tasks.clearBuffer();
        TAS.ID = 900;
        TAS.DESCRIPTION = "Nightly";
        TAS.ACTIVE = 1;
        TAS.RUNNEXTDATE = today() - 1;
        TAS.RUNNEXTTIME = 1;
        TAS.DAYS[weekday(today())] = 1;
        ASSERT_TRUE(Tasks.add());
        TaskBatch.clearBuffer();
        TIM.TASKID = 900;
        TIM.BATCHID = 510;  // a definition that no longer exists
        ASSERT_TRUE(TaskBatch.add());
        OP_CLOSE(OpClose, Tasks.number(), TaskBatch.number());
    }
    void TearDown() override {
        closeAllProcedures();
        QApplication::processEvents();
        if (taskRunning()) CleanUp(6);
        Mem.DoTask = 0;
        DbHome::TearDown();
    }

    // Answers the countdown window once it is open: the option, then OK.
    static void answer(const QString& option) {
        QTimer::singleShot(50, [option] {
            auto* w = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!w || w->objectName() != "TaskCountdown") return;
            for (auto* b : w->findChildren<QRadioButton*>())
                if (b->text() == option) b->setChecked(true);
            w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
    }

    TasksRec row() {
        OP_CLOSE(OpOpenShared, Tasks.number());
        Tasks.clearBuffer();
        TAS.ID = 900;
        EXPECT_TRUE(Tasks.get(TAS_IDKEY));
        TasksRec t = TAS;
        OP_CLOSE(OpClose, Tasks.number());
        return t;
    }
};

TEST_F(TaskWindows, RunDeactivateAndPostpone) {
    // Run: the countdown hands the task to the timer-driven run, which ends
    // at once (the definition is gone) with its log and the next start.
    answer("&Run the task");
    ASSERT_EQ(schedulerTick(), 1);
    QElapsedTimer clock;
    clock.start();
    while (taskRunning() && clock.elapsed() < 10000) QApplication::processEvents();
    EXPECT_FALSE(taskRunning());
    EXPECT_EQ(Mem.DoTask, 0);
    EXPECT_EQ(lastRunResult(), 2);
    TasksRec t = row();
    EXPECT_EQ(t.RUNNEXTDATE, today() + 7);
    EXPECT_EQ(t.ACTIVE, 1);
    EXPECT_EQ(schedulerTick(), 0);  // not due any more

    // The log window shows the run's one step, failed.
    QWidget* log = startProcedure("ShowLog");
    ASSERT_NE(log, nullptr);
    auto* steps = log->findChild<QTreeWidget*>("Steps");
    ASSERT_NE(steps, nullptr);
    ASSERT_EQ(steps->topLevelItemCount(), 1);
    EXPECT_EQ(steps->topLevelItem(0)->text(0), "Import");
    EXPECT_EQ(steps->topLevelItem(0)->text(1), "definition 510");
    EXPECT_EQ(steps->topLevelItem(0)->text(4), "Error");
    EXPECT_EQ(log->findChild<QTreeWidget*>("Runs")->topLevelItemCount(), 1);

    // Deactivate from the countdown.
    OP_CLOSE(OpOpenShared, Tasks.number());
    TAS.ID = 900;
    ASSERT_TRUE(Tasks.get(TAS_IDKEY));
    TAS.RUNNEXTDATE = today() - 1;
    ASSERT_TRUE(Tasks.put());
    OP_CLOSE(OpClose, Tasks.number());
    answer("&Deactivate the task");
    ASSERT_EQ(schedulerTick(), 1);
    EXPECT_EQ(row().ACTIVE, 0);
    EXPECT_EQ(Mem.DoTask, 0);

    // Postpone: no countdown until the hour has passed.
    OP_CLOSE(OpOpenShared, Tasks.number());
    TAS.ID = 900;
    ASSERT_TRUE(Tasks.get(TAS_IDKEY));
    TAS.ACTIVE = 1;
    ASSERT_TRUE(Tasks.put());
    OP_CLOSE(OpClose, Tasks.number());
    answer("&Postpone by (hours):");
    ASSERT_EQ(schedulerTick(), 1);
    EXPECT_EQ(schedulerTick(), 0);
    EXPECT_EQ(row().ACTIVE, 1);
}

TEST_F(TaskWindows, FormRefusesAnActiveTaskWithoutRunInformation) {
    QWidget* list = startProcedure("BrowseTasks");
    ASSERT_NE(list, nullptr);
    QTimer::singleShot(50, [] {
        auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!form || form->objectName() != "TaskForm") return;
        form->findChild<QLineEdit*>()->setText("Weekly import");
        for (auto* c : form->findChildren<QCheckBox*>())
            if (c->text() == "Purge" || c->text() == "Active") c->setChecked(true);
        form->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    for (auto* b : list->findChildren<QPushButton*>())
        if (b->text() == "&Add") b->click();
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, " Warning! ");
    EXPECT_EQ(headless.shown[0].text, " A Task without run information cannot be active!");
    TasksRec added{};
    ASSERT_TRUE(taskNamed("Weekly import", added));
    EXPECT_EQ(added.ACTIVE, 0);
    EXPECT_EQ(added.DOPURGE, 1);
    EXPECT_NE(added.ID, 0u);
    EXPECT_NE(added.ID, 900u);
}

TEST_F(TaskWindows, StartTaskRunsTheChosenTaskOnce) {
    QWidget* w = startProcedure("StartTask");
    ASSERT_NE(w, nullptr);
    Mem.DoTask = 1;  // a countdown is open: no second start
    w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].text, "Another Task is already active!");
    Mem.DoTask = 0;
    w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    QElapsedTimer clock;
    clock.start();
    while (taskRunning() && clock.elapsed() < 10000) QApplication::processEvents();
    EXPECT_EQ(lastRunResult(), 2);  // its definition is gone
    EXPECT_EQ(taskRuns(900).size(), 1u);
}

} // namespace
