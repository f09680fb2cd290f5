// The task manager: the next start of a task, the due-task search, the
// postponement, the job list, and a run driven step by step through its
// import and maintenance phases.
#include <gtest/gtest.h>

#include <vector>

#include "core/dates.h"
#include "core/globals.h"
#include "tasks/taskmanager.h"
#include "tests/dbhome.h"

using namespace qb;

namespace {

TasksRec blankTask() {
    Tasks.clearBuffer();
    TasksRec t = TAS;
    t.ACTIVE = 1;
    return t;
}

int32_t day(int y, int m, int d) { return dayNumber(y, m, d); }

TEST(TaskNextStart, MondayRule) {
    TasksRec t = blankTask();
    t.DAYS[1] = 1;  // Monday
    t.RUNNEXTDATE = day(2026, 12, 7);
    t.RUNNEXTTIME = clockTime(2, 0, 0);
    const int32_t monday = day(2026, 12, 7);
    ASSERT_EQ(weekday(monday), 1);
    computeNextStart(t, false, monday, monday, clockTime(2, 0, 5));
    EXPECT_EQ(t.RUNNEXTDATE, monday + 7);  // a week later, never the same day
    EXPECT_EQ(t.RUNNEXTTIME, clockTime(2, 0, 0));
    EXPECT_EQ(t.ACTIVE, 1);
    EXPECT_EQ(t.LASTRUNDATE, monday);
    computeNextStart(t, false, monday + 1, monday + 1, clockTime(2, 0, 0));  // run on a Tuesday
    EXPECT_EQ(t.RUNNEXTDATE, monday + 7);
    // Several weekdays: the earliest; an earlier weekday falls into next week.
    t.DAYS[5] = 1;  // Friday
    computeNextStart(t, false, monday + 5, monday + 5, 1);
    EXPECT_EQ(t.RUNNEXTDATE, monday + 7);
    computeNextStart(t, false, monday + 2, monday + 2, 1);
    EXPECT_EQ(t.RUNNEXTDATE, monday + 4);
}

TEST(TaskNextStart, MonthDays31And5) {
    TasksRec t = blankTask();
    t.MONTHDAYS[0] = 31;
    t.MONTHDAYS[1] = 5;
    t.RUNNEXTDATE = day(2026, 1, 20);
    t.RUNNEXTTIME = clockTime(3, 0, 0);
    computeNextStart(t, false, day(2026, 1, 20), day(2026, 1, 20), 1);
    EXPECT_EQ(t.RUNNEXTDATE, day(2026, 1, 31));
    computeNextStart(t, false, day(2026, 1, 31), day(2026, 1, 31), 1);
    EXPECT_EQ(t.RUNNEXTDATE, day(2026, 2, 5));
    // A month without a 31st runs on its last day instead of dropping the task.
    computeNextStart(t, false, day(2026, 2, 20), day(2026, 2, 20), 1);
    EXPECT_EQ(t.RUNNEXTDATE, day(2026, 2, 28));
    EXPECT_EQ(t.ACTIVE, 1);
    computeNextStart(t, false, day(2026, 4, 6), day(2026, 4, 6), 1);
    EXPECT_EQ(t.RUNNEXTDATE, day(2026, 4, 30));
    // December's last run is followed by January of the next year.
    computeNextStart(t, false, day(2026, 12, 31), day(2026, 12, 31), 1);
    EXPECT_EQ(t.RUNNEXTDATE, day(2027, 1, 5));
    EXPECT_EQ(t.RUNNEXTTIME, clockTime(3, 0, 0));
}

TEST(TaskNextStart, RunNowAndSingleStartsEndActive) {
    // A run-now request without a next start runs once and is inactive then.
    TasksRec t = blankTask();
    t.RUNNOWDATE = day(2026, 12, 8);
    t.RUNNOWTIME = clockTime(9, 0, 0);
    EXPECT_TRUE(taskIsDue(t, true, day(2026, 12, 8), clockTime(9, 1, 0)));
    computeNextStart(t, true, day(2026, 12, 8), day(2026, 12, 8), clockTime(9, 1, 0));
    EXPECT_EQ(t.ACTIVE, 0);
    EXPECT_EQ(t.RUNNOWDATE, 0);
    EXPECT_EQ(t.RUNNOWTIME, 0);
    EXPECT_EQ(t.LASTRUNTIME, clockTime(9, 1, 0));
    EXPECT_FALSE(taskIsDue(t, true, day(2026, 12, 8), clockTime(9, 2, 0)));

    // A run-now request keeps the weekly schedule as it was.
    TasksRec w = blankTask();
    w.DAYS[3] = 1;
    w.RUNNEXTDATE = day(2026, 12, 9);
    w.RUNNEXTTIME = clockTime(4, 0, 0);
    w.RUNNOWDATE = day(2026, 12, 7);
    w.RUNNOWTIME = 1;
    EXPECT_TRUE(taskIsDue(w, true, day(2026, 12, 8), 1));  // requested yesterday
    computeNextStart(w, true, day(2026, 12, 8), day(2026, 12, 8), 1);
    EXPECT_EQ(w.RUNNEXTDATE, day(2026, 12, 9));
    EXPECT_EQ(w.ACTIVE, 1);
    EXPECT_FALSE(taskIsDue(w, true, day(2026, 12, 8), clockTime(23, 0, 0)));
    EXPECT_TRUE(taskIsDue(w, true, day(2026, 12, 9), clockTime(4, 0, 0)));
    EXPECT_FALSE(taskIsDue(w, false, day(2026, 12, 9), clockTime(4, 0, 0)));  // no definitions

    // A single start without repetition is used up by its run: it does not
    // stay due for ever.
    TasksRec once = blankTask();
    once.RUNNEXTDATE = day(2026, 12, 1);
    once.RUNNEXTTIME = clockTime(1, 0, 0);
    EXPECT_TRUE(taskIsDue(once, true, day(2026, 12, 8), 1));
    computeNextStart(once, false, day(2026, 12, 8), day(2026, 12, 8), 1);
    EXPECT_EQ(once.ACTIVE, 0);
    EXPECT_FALSE(taskIsDue(once, true, day(2026, 12, 9), 1));
}

TEST(TaskScheduler, SkipMovesOnWithdrawsOrDrops) {
    const int32_t monday = day(2026, 12, 7);
    TasksRec weekly = blankTask();
    weekly.DAYS[1] = 1;
    weekly.RUNNEXTDATE = monday;
    weekly.RUNNEXTTIME = clockTime(2, 0, 0);
    weekly.LASTRUNDATE = monday - 7;
    skipRun(weekly, monday);
    EXPECT_EQ(weekly.RUNNEXTDATE, monday + 7);
    EXPECT_EQ(weekly.LASTRUNDATE, monday - 7);  // skipped, not run
    EXPECT_EQ(weekly.ACTIVE, 1);

    TasksRec asked = weekly;
    asked.RUNNOWDATE = monday;
    asked.RUNNOWTIME = clockTime(9, 0, 0);
    skipRun(asked, monday);
    EXPECT_EQ(asked.RUNNOWDATE, 0);
    EXPECT_EQ(asked.RUNNEXTDATE, monday + 7);  // the schedule stays
    EXPECT_FALSE(taskIsDue(asked, true, monday, clockTime(9, 0, 15)));

    TasksRec once = blankTask();
    once.RUNNEXTDATE = monday;
    once.RUNNEXTTIME = 1;
    skipRun(once, monday);
    EXPECT_EQ(once.RUNNEXTDATE, 0);
    EXPECT_EQ(once.ACTIVE, 0);
}

TEST(TaskScheduler, PostponeOverMidnightAndQuietPeriod) {
    int32_t d = 0, t = 0;
    postponeFrom(day(2026, 12, 8), clockTime(23, 0, 0), 2, d, t);
    EXPECT_EQ(d, day(2026, 12, 9));
    EXPECT_EQ(t, clockTime(1, 0, 0));
    EXPECT_TRUE(postponementHolds(day(2026, 12, 8), clockTime(23, 59, 0), d, t));
    EXPECT_TRUE(postponementHolds(day(2026, 12, 9), clockTime(0, 59, 0), d, t));
    EXPECT_FALSE(postponementHolds(day(2026, 12, 9), clockTime(1, 0, 0), d, t));
    postponeFrom(day(2026, 12, 8), clockTime(10, 0, 0), 1, d, t);
    EXPECT_EQ(d, day(2026, 12, 8));
    EXPECT_EQ(t, clockTime(11, 0, 0));

    EXPECT_TRUE(inQuietPeriod(clockTime(9, 0, 0), clockTime(8, 0, 0), clockTime(17, 0, 0)));
    EXPECT_FALSE(inQuietPeriod(clockTime(18, 0, 0), clockTime(8, 0, 0), clockTime(17, 0, 0)));
    EXPECT_FALSE(inQuietPeriod(clockTime(9, 0, 0), clockTime(17, 0, 0), clockTime(8, 0, 0)));  // end before start
    EXPECT_FALSE(inQuietPeriod(clockTime(9, 0, 0), 0, clockTime(17, 0, 0)));
}

bool keepsIndexOdd(uint32_t db) { return db % 2 == 1; }

TEST(TaskJobs, OrderAndPurgeCoversCount) {
    TasksRec t = blankTask();
    t.DODUPELIM = t.DOPURGE = t.DOCOUNT = t.DOINDEX = 1;
    std::vector<TaskJob> jobs = buildJobs(t, {7, 4}, keepsIndexOdd);
    ASSERT_EQ(jobs.size(), 5u);
    // Database by database in the order filled; duplicates, purge, indexing;
    // no count beside the purge; no indexing where no index is kept.
    EXPECT_EQ(jobs[0].kind, StepDuplicates);
    EXPECT_EQ(jobs[0].database, 7u);
    EXPECT_EQ(jobs[1].kind, StepPurge);
    EXPECT_EQ(jobs[2].kind, StepIndex);
    EXPECT_EQ(jobs[3].kind, StepDuplicates);
    EXPECT_EQ(jobs[3].database, 4u);
    EXPECT_EQ(jobs[4].kind, StepPurge);
    t.DOPURGE = 0;
    jobs = buildJobs(t, {4}, keepsIndexOdd);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[1].kind, StepCount);
}

TEST(TaskLogText, Durations) {
    EXPECT_EQ(durationText(stepDuration(100, clockTime(10, 0, 0), 100, clockTime(10, 1, 30))), "00:01:30");
    EXPECT_EQ(durationText(stepDuration(100, clockTime(23, 59, 0), 101, clockTime(0, 1, 0))), "00:02:00");
    EXPECT_EQ(durationText(stepDuration(100, clockTime(10, 0, 0), 101, clockTime(10, 0, 0))), "N.A.");
    EXPECT_EQ(durationText(stepDuration(100, clockTime(10, 0, 0), 0, 0)), "N.A.");
    EXPECT_EQ(durationText(0), "N.A.");
}

// A run driven by hand, as the main frame or the command line drives it.
class TaskRunDriven : public qb::testing::DbHome {
protected:
    void TearDown() override {
        if (taskRunning()) CleanUp(6);
        DbHome::TearDown();
    }

    void addTask(uint32_t id, std::vector<uint32_t> batches, bool purge, bool count, bool index) {
        open({Tasks.number(), TaskBatch.number(), Batch.number()});
        TAS = blankTask();
        TAS.ID = id;
        TAS.DESCRIPTION = "Nightly";
        TAS.RUNNOWDATE = today();
        TAS.RUNNOWTIME = clockNow();
        TAS.DOPURGE = purge;
        TAS.DOCOUNT = count;
        TAS.DOINDEX = index;
        ASSERT_TRUE(Tasks.add());
        for (uint32_t b : batches) {
            Batch.clearBuffer();
            BAT.ID = b;
            BAT.TYPE = 1;
            BAT.DESCRIPTION = "def " + std::to_string(b);
            ASSERT_TRUE(Batch.add());
            TaskBatch.clearBuffer();
            TIM.TASKID = id;
            TIM.BATCHID = b;
            TIM.RESULTCODE = 2;  // left from an earlier run
            ASSERT_TRUE(TaskBatch.add());
        }
        OP_CLOSE(OpClose, Tasks.number(), TaskBatch.number(), Batch.number());
    }

    TasksRec taskRow(uint32_t id) {
        OP_CLOSE(OpOpenShared, Tasks.number());
        Tasks.clearBuffer();
        TAS.ID = id;
        EXPECT_TRUE(Tasks.get(TAS_IDKEY));
        TasksRec t = TAS;
        OP_CLOSE(OpClose, Tasks.number());
        return t;
    }

    std::vector<TaskLogItemRec> items(uint32_t logId) {
        std::vector<TaskLogItemRec> v;
        OP_CLOSE(OpOpenShared, TaskLogItem.number());
        TaskLogItem.clearBuffer();
        TLI.TASKLOGID = logId;
        TaskLogItem.setFrom(TLI_IDKEY);
        while (TaskLogItem.next() && TLI.TASKLOGID == logId) v.push_back(TLI);
        OP_CLOSE(OpClose, TaskLogItem.number());
        return v;
    }
};

TEST_F(TaskRunDriven, ImportsInOrderThenJobsAFailedJobEndsTheRun) {
    addForumsRow(301, "Mail", 2, 1);
    addForumsRow(303, "Forum", 1, 2);
    addTask(900, {520, 510}, true, true, false);
    uint32_t id = 900;
    ASSERT_EQ(NextTask(15, sizeof id, &id), 1);
    EXPECT_EQ(Mem.DoTask, 2);
    EXPECT_EQ(NextTask(15, sizeof id, &id), 0);  // one run at a time

    // Imports in TIM:BATCHID order, each reported once; the old results were cleared.
    TaskStep s = takeRequestedStep();
    ASSERT_EQ(s.kind, StepImport);
    EXPECT_EQ(s.batchId, 510u);
    EXPECT_EQ(takeRequestedStep().kind, StepNone);
    reportImportEnd(2, 0, {});  // a failed import: the run goes on
    s = takeRequestedStep();
    ASSERT_EQ(s.kind, StepImport);
    EXPECT_EQ(s.batchId, 520u);
    reportImportEnd(1, 1234, {303, 301, 303});

    // Purge (no count beside it) on each filled database, in the order filled.
    s = takeRequestedStep();
    ASSERT_EQ(s.kind, StepPurge);
    EXPECT_EQ(s.database, 303u);
    BatchRec current{};
    NextTask(18, sizeof current, &current);
    EXPECT_EQ(current.TYPE, static_cast<uint32_t>(StepPurge));
    EXPECT_EQ(current.DATABASE, 303u);
    EXPECT_EQ(CleanUp(4, StepPurge, 2, 303), StepNone);  // failed: the run ends at once
    EXPECT_EQ(takeRequestedStep().kind, StepNone);
    EXPECT_FALSE(taskRunning());
    EXPECT_EQ(Mem.DoTask, 0);
    EXPECT_EQ(lastRunResult(), 2);

    TasksRec t = taskRow(900);
    EXPECT_EQ(t.ACTIVE, 0);
    EXPECT_EQ(t.RUNNOWDATE, 0);
    EXPECT_EQ(t.RESULTCODE, 2);
    EXPECT_NE(t.LASTRUNDATE, 0);

    OP_CLOSE(OpOpenShared, TaskBatch.number(), TaskLog.number());
    TaskBatch.clearBuffer();
    TIM.TASKID = 900;
    TIM.BATCHID = 520;
    ASSERT_TRUE(TaskBatch.get(TIM_TASKKEY));
    EXPECT_EQ(TIM.RESULTCODE, 1);
    EXPECT_EQ(TIM.EVENTTIME, 1234);
    TIM.BATCHID = 510;
    ASSERT_TRUE(TaskBatch.get(TIM_TASKKEY));
    EXPECT_EQ(TIM.RESULTCODE, 2);
    TaskLog.clearBuffer();
    TLO.TASKLOGID = currentTaskLogId();
    ASSERT_TRUE(TaskLog.get(TLO_IDKEY));
    EXPECT_EQ(TLO.TASKID, 900u);
    EXPECT_EQ(TLO.RESULTCODE, 2);
    EXPECT_NE(TLO.DATEFINISHED, 0);
    OP_CLOSE(OpClose, TaskBatch.number(), TaskLog.number());

    std::vector<TaskLogItemRec> log = items(currentTaskLogId());
    ASSERT_EQ(log.size(), 3u);  // two imports and the one purge that ran
    int imports = 0, purges = 0;
    for (const TaskLogItemRec& i : log) {
        EXPECT_NE(i.DATEFINISHED, 0);
        if (i.TYPE == StepImport) {
            ++imports;
            EXPECT_EQ(i.RESULTCODE, i.BATCHID == 520 ? 1 : 2);
        }
        if (i.TYPE == StepPurge) {
            ++purges;
            EXPECT_EQ(i.RESULTCODE, 2);
        }
    }
    EXPECT_EQ(imports, 2);
    EXPECT_EQ(purges, 1);
}

TEST_F(TaskRunDriven, DeletedDefinitionEndsImportsAndLogIdsGrow) {
    addForumsRow(301, "Mail", 2, 1);
    addTask(901, {510, 520}, false, true, false);
    OP_CLOSE(OpOpenShared, Batch.number());
    Batch.clearBuffer();
    BAT.ID = 510;
    ASSERT_TRUE(Batch.get(BAT_IDKEY));
    ASSERT_TRUE(Batch.erase());
    OP_CLOSE(OpClose, Batch.number());

    // A window opened by a job of the run, still open when the run is over,
    // keeps the scheduler back until it goes: the count lives beyond runs.
    uint32_t id = 901;
    ASSERT_EQ(NextTask(15, sizeof id, &id), 1);
    EXPECT_EQ(NextTask(12, 0, nullptr), 1);
    const uint32_t firstLog = currentTaskLogId();
    // No import ran and no database was filled: no job, the run is over.
    EXPECT_EQ(takeRequestedStep().kind, StepNone);
    EXPECT_FALSE(taskRunning());
    EXPECT_EQ(lastRunResult(), 2);

    // The next run gets the next log ID; with a good definition first, the
    // count job is made for the database it filled and its end ends the run.
    OP_CLOSE(OpOpenShared, Tasks.number());
    Tasks.clearBuffer();
    TAS.ID = 901;
    ASSERT_TRUE(Tasks.get(TAS_IDKEY));
    TAS.ACTIVE = 1;
    ASSERT_TRUE(Tasks.put());
    OP_CLOSE(OpClose, Tasks.number());
    addTask(902, {530}, false, true, false);
    id = 902;
    ASSERT_EQ(NextTask(15, sizeof id, &id), 1);
    EXPECT_EQ(NextTask(13, 0, nullptr), 1);
    EXPECT_EQ(NextTask(14, 0, nullptr), 1);
    EXPECT_EQ(NextTask(13, 0, nullptr), 0);
    EXPECT_EQ(NextTask(14, 0, nullptr), 1);  // never below none
    EXPECT_EQ(NextTask(13, 0, nullptr), 0);
    EXPECT_EQ(currentTaskLogId(), firstLog + 1);
    ASSERT_EQ(takeRequestedStep().batchId, 530u);
    reportImportEnd(1, 0, {301});
    TaskStep s = takeRequestedStep();
    EXPECT_EQ(s.kind, StepCount);
    EXPECT_EQ(CleanUp(4, StepCount, 1, 301), StepNone);
    EXPECT_FALSE(taskRunning());
    EXPECT_EQ(lastRunResult(), 1);
    EXPECT_EQ(taskRow(902).ACTIVE, 0);  // a run-now request without a next start
    EXPECT_EQ(taskRow(902).RESULTCODE, 1);
}

} // namespace
