// The task manager: scheduled runs of import definitions followed by the
// maintenance of the databases they filled, with a log of every step.
//
// The library holds the run state. It never starts a procedure itself: it
// puts the step it wants performed into the requested step, which the driver
// (the main frame's timer or the command line's loop) takes and performs, and
// the procedure reports its end back (reportImportEnd, CleanUp 4).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/tables.h"

namespace qb {

// TLI:TYPE of a step.
enum TaskStepKind : int {
    StepImport = 1,
    StepPurge = 2,
    StepIndex = 4,
    StepCount = 5,
    StepDuplicates = 6,
    StepNone = 14,
};

// "Import" or "CleanUp"; the description of a maintenance kind.
std::string stepKindText(int kind);
std::string stepDescription(int kind);
// "Not run", "OK", "Error".
std::string resultText(int result);
// The duration of a step in hundredths across days; the text "@T4" for a
// duration above 0 and below 24 hours, else "N.A.".
int64_t stepDuration(int32_t dateStarted, int32_t timeStarted, int32_t dateFinished, int32_t timeFinished);
std::string durationText(int64_t hundredths);

// ---- Next start -------------------------------------------------------------
// The earliest next date of the set weekdays (never today); 0 when none is set.
int32_t nextWeekdayDate(const uint8_t days[7], int32_t today);
// The next date of the month days (1-31, 0 none) after today's day of the
// month; a day the month lacks becomes its last day. 0 when none is set.
int32_t nextMonthDayDate(const uint8_t monthDays[5], int32_t today);
// The next start of the task after a run (or a skip) that started at
// startDate/startTime: fills RUNNEXTDATE/TIME, ACTIVE, the run-now request
// and LASTRUNDATE/TIME in `t`. Writes nothing.
void computeNextStart(TasksRec& t, bool runNowRun, int32_t today, int32_t startDate, int32_t startTime);

// "Skip this run" of the countdown: a repeating task moves to its next start
// (its last run stays); a run-now request is withdrawn; a single start is
// dropped and the task, left without run information, made inactive.
void skipRun(TasksRec& t, int32_t today);
// Holds the task's row (waiting at most 5 seconds), applies the change and
// writes it; false when the row cannot be held or written.
bool changeTask(uint32_t id, void (*change)(TasksRec&, int32_t), int32_t argument);

// ---- The scheduler ----------------------------------------------------------
// True when the task (with `hasBatches` definitions) is due at this date and time.
bool taskIsDue(const TasksRec& t, bool hasBatches, int32_t today, int32_t now);
// The first due task in table order; false when none (Tasks, TaskBatch are
// opened and closed here).
bool findDueTask(int32_t today, int32_t now, TasksRec& out);
// True when settings 46 and 47 close the start period at this time.
bool inQuietPeriod(int32_t now, int32_t start, int32_t end);
// A postponement of `hours` from date/now, carried over midnight.
void postponeFrom(int32_t date, int32_t now, int hours, int32_t& untilDate, int32_t& untilTime);
// True while a postponement until untilDate/untilTime holds.
bool postponementHolds(int32_t date, int32_t now, int32_t untilDate, int32_t untilTime);

// ---- The run ----------------------------------------------------------------
// The step the task manager wants the driver to perform next.
struct TaskStep {
    int kind = StepNone;    // StepNone: nothing requested
    uint32_t batchId = 0;   // the import definition of an import step
    uint32_t database = 0;  // the database of a maintenance step
};

// Takes the requested step (StepNone when none) and clears it.
TaskStep takeRequestedStep();
// True while a run is under way (Mem.DoTask 2 or 6).
bool taskRunning();
// The result of the last run that ended: 1 every step OK, 2 a step failed.
int lastRunResult();
// TLO:TASKLOGID of the run under way or of the last one.
uint32_t currentTaskLogId();

// NextTask operations: 10 request the next step, 11 clear the current
// definition and TaskBatch row, 12/13/14 the count of running procedures,
// 15 start a run of the task whose TAS:ID is in the buffer, 16 copy the task
// row out, 17/18 store/copy the definition, 19/20 store/copy the TaskBatch row.
// Returns 1 on success (op 13: 1 when a procedure is running), else 0.
uint8_t NextTask(int operation, size_t length, void* buffer, int recordType = 0);

// CleanUp operations: 1 start, 2 an import filled `database`, 3 build the
// job list and start the first job, 4 a job of `kind` on `database` ended with
// `result`, 5 start the next pending job, 6 end the run. Operation 4 returns
// the next job's kind or 14; the others 1 on success.
uint8_t CleanUp(int operation, int kind = 0, int result = 0, uint32_t database = 0);

// The import step's end: its result (1 OK, 2 error), the value for
// TIM:EVENTTIME and the databases it filled. Requests the next step.
void reportImportEnd(int result, int32_t eventTime, const std::vector<uint32_t>& databases);

// The maintenance jobs of a task over the databases filled, in order.
struct TaskJob {
    int kind = 0;
    int order = 0;
    uint32_t database = 0;
    int status = 0;  // 0 pending, else its result
};
std::vector<TaskJob> buildJobs(const TasksRec& t, const std::vector<uint32_t>& databases,
                               bool (*keepsIndex)(uint32_t database));

// True when the database keeps a word index (FOR:INDEXTYPE 1).
bool databaseKeepsIndex(uint32_t database);
// Sets or clears FOR:INDEXTYPE of the database (its row held); false when the
// row cannot be read or written.
bool setKeepsIndex(uint32_t database, bool on);
// Brings the word index of every database of the list that keeps one up to
// date (a partial run, the indexer's own choice of mode). The active database
// is the same afterwards. False when a run failed.
bool indexFilledDatabases(const std::vector<uint32_t>& databases, int batch);
// Indexes the active database in a run of its own (the task's word-indexing
// job); false when it failed.
bool indexActiveForTask(int batch);

} // namespace qb
