#include "tasks/taskmanager.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "wordsearch/indexer.h"
#include "wordsearch/wordbreak.h"

namespace qb {

namespace {

constexpr int64_t kDay = 8640000;  // hundredths in a day

struct RunState {
    TasksRec task{};
    BatchRec batch{};
    TaskBatchRec taskBatch{};
    uint32_t logId = 0;
    bool logAdded = false;
    int worst = 0;
    bool importPhase = false;
    bool jobsBuilt = false;
    bool runNow = false;
    int32_t startDate = 0, startTime = 0;
    std::vector<uint32_t> databases;
    // The result of each definition run in this run, also when its TaskBatch
    // row could not be written: no definition runs twice in one run.
    std::vector<std::pair<uint32_t, int>> importResults;
    std::vector<TaskJob> jobs;
    int currentJob = -1;
    // The key of the last TaskLogItem row added in this run.
    bool haveLastItem = false;
    TaskLogItemRec lastItem{};
    int running = 0;
    TaskStep requested;
    int lastResult = 0;
};

RunState& st() {
    static RunState s;
    return s;
}

void fold(int& worst, int result) {
    if (worst == 0) worst = result;
    else if (worst == 1 && result == 2) worst = 2;
}

// Opens the tables for the length of one operation.
struct Open {
    std::vector<int> numbers;
    explicit Open(std::initializer_list<int> n) : numbers(n) {
        for (int x : numbers) OP_CLOSE(OpOpenShared, {x});
    }
    ~Open() {
        for (int x : numbers) OP_CLOSE(OpClose, {x});
    }
};

// Holds the row of the task, trying for at most 5 seconds.
bool holdTask(uint32_t id) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        Tasks.clearBuffer();
        TAS.ID = id;
        if (!Tasks.get(TAS_IDKEY)) return false;
        if (Tasks.hold()) return true;
    }
    return false;
}

// Adds a TaskLogItem row of this kind started now; a row with the same key
// (two steps in one hundredth) moves on by one hundredth.
void addItem(int kind, uint32_t batchId) {
    RunState& s = st();
    Open o{TaskLogItem.number()};
    TaskLogItem.clearBuffer();
    TLI.TASKLOGID = s.logId;
    TLI.TYPE = static_cast<uint32_t>(kind);
    TLI.BATCHID = batchId;
    TLI.DATESTARTED = today();
    TLI.TIMESTARTED = clockNow();
    TLI.RESULTCODE = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (TaskLogItem.add()) {
            s.lastItem = TLI;
            s.haveLastItem = true;
            return;
        }
        ++TLI.TIMESTARTED;
    }
    UppDat(TaskLogItem, UppAdd, ModeReport);
}

// Finishes the last item added when it is of this kind (and this batch):
// finish date and time, once; its result, an error never replaced by OK.
void finishLastItem(int kind, uint32_t batchId, int result, bool keepFinish) {
    RunState& s = st();
    if (!s.haveLastItem || s.lastItem.TYPE != static_cast<uint32_t>(kind) || s.lastItem.BATCHID != batchId) return;
    Open o{TaskLogItem.number()};
    TaskLogItem.lock(5);
    TLI = s.lastItem;
    if (TaskLogItem.get(TLI_IDKEY)) {
        if (!keepFinish || TLI.DATEFINISHED == 0) {
            TLI.DATEFINISHED = today();
            TLI.TIMEFINISHED = clockNow();
        }
        if (TLI.RESULTCODE != 2) TLI.RESULTCODE = static_cast<uint8_t>(result);
        UppDat(TaskLogItem, UppPut, ModeReport);
        s.lastItem = TLI;
    }
    TaskLogItem.unlock();
}

void addLog() {
    RunState& s = st();
    if (s.logAdded) return;
    Open o{TaskLog.number()};
    TaskLog.clearBuffer();
    TLO.TASKLOGID = s.logId;
    TLO.TASKID = s.task.ID;
    TLO.DATESTARTED = s.startDate;
    TLO.TIMESTARTED = s.startTime;
    s.logAdded = UppDat(TaskLog, UppAdd, ModeReport) == 1;
}

// Writes the next start after the import phase.
void writeNextStart() {
    RunState& s = st();
    Open o{Tasks.number()};
    if (!holdTask(s.task.ID)) return;  // not updated; the run goes on
    computeNextStart(TAS, s.runNow, today(), s.startDate, s.startTime);
    UppDat(Tasks, UppPut, ModeReport);
    Tasks.release();
    s.task = TAS;
}

void endImportPhase() {
    RunState& s = st();
    s.importPhase = false;
    writeNextStart();
    CleanUp(3);
}

// Algorithm of the import phase: fold the results of the rows run, start the
// first row without one.
void nextImportStep() {
    RunState& s = st();
    std::vector<TaskBatchRec> rows;
    {
        Open o{TaskBatch.number()};
        TaskBatch.clearBuffer();
        TIM.TASKID = s.task.ID;
        TaskBatch.setFrom(TIM_TASKKEY);
        while (TaskBatch.next() && TIM.TASKID == s.task.ID) rows.push_back(TIM);
    }
    for (TaskBatchRec& r : rows) {
        for (const auto& [id, result] : s.importResults)
            if (id == r.BATCHID && r.RESULTCODE == 0) r.RESULTCODE = static_cast<uint8_t>(result);
        if (r.RESULTCODE != 0) {
            fold(s.worst, r.RESULTCODE);
            finishLastItem(StepImport, r.BATCHID, r.RESULTCODE, true);
            continue;
        }
        addLog();
        addItem(StepImport, r.BATCHID);
        bool read = false;
        {
            Open o{Batch.number()};
            Batch.clearBuffer();
            BAT.ID = r.BATCHID;
            read = Batch.get(BAT_IDKEY);
            if (read) s.batch = BAT;
        }
        if (!read) {
            // A deleted definition ends the import phase; its step is an error.
            finishLastItem(StepImport, r.BATCHID, 2, false);
            fold(s.worst, 2);
            endImportPhase();
            return;
        }
        s.taskBatch = r;
        s.requested = TaskStep{StepImport, r.BATCHID, 0};
        return;
    }
    endImportPhase();
}

void endRun() {
    RunState& s = st();
    const bool failed = Mem.DoTask == 6;
    addLog();
    {
        Open o{TaskLog.number()};
        TaskLog.clearBuffer();
        TLO.TASKLOGID = s.logId;
        if (TaskLog.get(TLO_IDKEY)) {
            TLO.DATEFINISHED = today();
            TLO.TIMEFINISHED = clockNow();
            TLO.RESULTCODE = static_cast<uint8_t>(s.worst == 0 ? 1 : s.worst);
            UppDat(TaskLog, UppPut, ModeReport);
        }
    }
    {
        Open o{Tasks.number()};
        if (holdTask(s.task.ID)) {
            TAS.RESULTCODE = static_cast<uint8_t>(s.worst == 0 ? 1 : s.worst);
            if (failed) {
                TAS.RUNNOWDATE = 0;
                TAS.RUNNOWTIME = 0;
                TAS.ACTIVE = 0;
            }
            UppDat(Tasks, UppPut, ModeReport);
            Tasks.release();
        }
    }
    s.lastResult = s.worst == 0 ? 1 : s.worst;
    const uint32_t logId = s.logId;
    const int lastResult = s.lastResult;
    const int running = s.running;
    s = RunState{};
    s.logId = logId;
    s.lastResult = lastResult;
    s.running = running;
    Mem.DoTask = 0;
}

int startNextJob() {
    RunState& s = st();
    auto it = std::find_if(s.jobs.begin(), s.jobs.end(), [](const TaskJob& j) { return j.status == 0; });
    if (it == s.jobs.end()) {
        endRun();
        return StepNone;
    }
    s.currentJob = static_cast<int>(it - s.jobs.begin());
    s.batch.TYPE = static_cast<uint32_t>(it->kind);
    s.batch.DATABASE = it->database;
    if (!(s.haveLastItem && s.lastItem.TYPE == static_cast<uint32_t>(it->kind))) addItem(it->kind, 0);
    s.requested = TaskStep{it->kind, 0, it->database};
    return it->kind;
}

} // namespace

std::string stepKindText(int kind) { return kind == StepImport ? "Import" : "CleanUp"; }

std::string stepDescription(int kind) {
    switch (kind) {
    case StepDuplicates: return "Merging Duplicate Persons";
    case StepPurge: return "Purging messages";
    case StepCount: return "Counting messages";
    case StepIndex: return "Word indexing";
    default: return "";
    }
}

std::string resultText(int result) { return result == 1 ? "OK" : result == 2 ? "Error" : "Not run"; }

int64_t stepDuration(int32_t dateStarted, int32_t timeStarted, int32_t dateFinished, int32_t timeFinished) {
    if (dateStarted == 0 || dateFinished == 0) return 0;
    return static_cast<int64_t>(dateFinished - dateStarted) * kDay + (timeFinished - timeStarted);
}

std::string durationText(int64_t h) {
    if (h <= 0 || h >= kDay) return "N.A.";
    return formatTime(static_cast<int32_t>(h) + 1, "@T4");
}

int32_t nextWeekdayDate(const uint8_t days[7], int32_t day) {
    int32_t best = 0;
    const int wd = weekday(day);
    for (int d = 0; d < 7; ++d) {
        if (days[d] != 1) continue;
        int ahead = (d - wd + 7) % 7;
        if (ahead == 0) ahead = 7;
        const int32_t date = day + ahead;
        if (best == 0 || date < best) best = date;
    }
    return best;
}

namespace {
int lastDayOf(int year, int month) {
    for (int d = 31; d > 28; --d)
        if (dayNumber(year, month, d) != 0) return d;
    return 28;
}
} // namespace

int32_t nextMonthDayDate(const uint8_t monthDays[5], int32_t day) {
    std::vector<int> set;
    for (int i = 0; i < 5; ++i)
        if (monthDays[i] >= 1 && monthDays[i] <= 31) set.push_back(monthDays[i]);
    if (set.empty()) return 0;
    std::sort(set.begin(), set.end());
    int y = 0, m = 0, d = 0;
    civilDate(day, y, m, d);
    int want = 0;
    for (int v : set)
        if (v > d) {
            want = v;
            break;
        }
    if (want == 0) {
        want = set.front();
        if (++m == 13) {
            m = 1;
            ++y;
        }
    }
    return dayNumber(y, m, std::min(want, lastDayOf(y, m)));
}

void computeNextStart(TasksRec& t, bool runNowRun, int32_t day, int32_t startDate, int32_t startTime) {
    bool anyDay = false, anyMonthDay = false;
    for (int i = 0; i < 7; ++i) anyDay = anyDay || t.DAYS[i] == 1;
    for (int i = 0; i < 5; ++i) anyMonthDay = anyMonthDay || t.MONTHDAYS[i] != 0;
    if (runNowRun || (!anyDay && !anyMonthDay)) {
        t.RUNNOWDATE = 0;
        t.RUNNOWTIME = 0;
        // A single start that has now run is used up.
        if (!runNowRun && t.RUNNEXTDATE != 0) t.RUNNEXTDATE = 0;
        if (t.RUNNEXTDATE == 0) {
            t.RUNNEXTTIME = 0;
            t.ACTIVE = 0;
        }
        t.LASTRUNDATE = startDate;
        t.LASTRUNTIME = startTime;
        return;
    }
    int32_t next = anyDay ? nextWeekdayDate(t.DAYS, day) : nextMonthDayDate(t.MONTHDAYS, day);
    t.RUNNEXTDATE = next;
    if (next == 0) {
        t.RUNNEXTTIME = 0;
        t.ACTIVE = 0;
    }
    t.RUNNOWDATE = 0;
    t.RUNNOWTIME = 0;
    t.LASTRUNDATE = startDate;
    t.LASTRUNTIME = startTime;
}

void skipRun(TasksRec& t, int32_t day) {
    const bool runNow = t.RUNNOWDATE != 0 && t.RUNNOWTIME != 0 && (t.RUNNOWDATE == day || t.RUNNOWDATE == day - 1);
    bool repeats = false;
    for (uint8_t d : t.DAYS) repeats = repeats || d == 1;
    for (uint8_t d : t.MONTHDAYS) repeats = repeats || d != 0;
    if (runNow) {
        t.RUNNOWDATE = t.RUNNOWTIME = 0;
        if (t.RUNNEXTDATE == 0) t.ACTIVE = 0;
        return;
    }
    if (repeats) {
        const int32_t lastDate = t.LASTRUNDATE, lastTime = t.LASTRUNTIME;
        computeNextStart(t, false, day, lastDate, lastTime);
        return;
    }
    t.RUNNEXTDATE = t.RUNNEXTTIME = 0;
    t.ACTIVE = 0;
}

bool changeTask(uint32_t id, void (*change)(TasksRec&, int32_t), int32_t argument) {
    Open o{Tasks.number()};
    if (!holdTask(id)) return false;
    change(TAS, argument);
    const bool ok = UppDat(Tasks, UppPut, ModeReport) == 1;
    Tasks.release();
    return ok;
}

bool taskIsDue(const TasksRec& t, bool hasBatches, int32_t day, int32_t now) {
    if (t.ACTIVE != 1 || !hasBatches) return false;
    if (t.RUNNOWDATE != 0 && (t.RUNNOWDATE == day || t.RUNNOWDATE == day - 1)) return t.RUNNOWTIME != 0;
    if (t.RUNNEXTDATE == 0) return false;
    return day > t.RUNNEXTDATE || (day == t.RUNNEXTDATE && now >= t.RUNNEXTTIME);
}

bool findDueTask(int32_t day, int32_t now, TasksRec& out) {
    Open o{Tasks.number(), TaskBatch.number()};
    Tasks.set(TAS_IDKEY);
    std::vector<TasksRec> all;
    while (Tasks.next()) all.push_back(TAS);
    for (const TasksRec& t : all) {
        TaskBatch.clearBuffer();
        TIM.TASKID = t.ID;
        TaskBatch.setFrom(TIM_TASKKEY);
        const bool has = TaskBatch.next() && TIM.TASKID == t.ID;
        if (taskIsDue(t, has, day, now)) {
            out = t;
            return true;
        }
    }
    return false;
}

bool inQuietPeriod(int32_t now, int32_t start, int32_t end) {
    return start != 0 && end != 0 && end > start && now > start && now < end;
}

void postponeFrom(int32_t date, int32_t now, int hours, int32_t& untilDate, int32_t& untilTime) {
    int64_t t = static_cast<int64_t>(now) + static_cast<int64_t>(hours) * 360000;
    untilDate = date;
    while (t > kDay) {
        t -= kDay;
        ++untilDate;
    }
    untilTime = static_cast<int32_t>(t);
}

bool postponementHolds(int32_t date, int32_t now, int32_t untilDate, int32_t untilTime) {
    if (untilDate == 0) return false;
    return date < untilDate || (date == untilDate && now < untilTime);
}

TaskStep takeRequestedStep() {
    TaskStep r = st().requested;
    st().requested = TaskStep{};
    return r;
}

bool taskRunning() { return Mem.DoTask == 2 || Mem.DoTask == 6; }
int lastRunResult() { return st().lastResult; }
uint32_t currentTaskLogId() { return st().logId; }

uint8_t NextTask(int operation, size_t length, void* buffer, int) {
    RunState& s = st();
    auto copyOut = [&](const void* from, size_t size) {
        if (!buffer) return uint8_t(0);
        std::memcpy(buffer, from, std::min(length, size));
        return uint8_t(1);
    };
    auto copyIn = [&](void* to, size_t size) {
        if (!buffer) return uint8_t(0);
        std::memcpy(to, buffer, std::min(length, size));
        return uint8_t(1);
    };
    switch (operation) {
    case 10:
        if (Mem.DoTask == 6 || !taskRunning()) return 0;
        if (s.importPhase) nextImportStep();
        return 1;
    case 11:
        s.batch = BatchRec{};
        s.taskBatch = TaskBatchRec{};
        return 1;
    case 12: ++s.running; return 1;
    case 13: return s.running > 0 ? 1 : 0;
    case 14:
        if (s.running > 0) --s.running;
        return 1;
    case 15: {
        if (!buffer || length < sizeof(uint32_t) || taskRunning()) return 0;
        uint32_t id = 0;
        std::memcpy(&id, buffer, sizeof id);
        TasksRec t{};
        uint32_t logId = 1;
        {
            Open o{Tasks.number(), TaskBatch.number(), TaskLog.number()};
            Tasks.clearBuffer();
            TAS.ID = id;
            if (!Tasks.get(TAS_IDKEY)) return 0;
            t = TAS;
            // Every row of the task starts the run without a result.
            TaskBatch.lock(5);
            TaskBatch.stream();
            TaskBatch.clearBuffer();
            TIM.TASKID = id;
            TaskBatch.setFrom(TIM_TASKKEY);
            while (TaskBatch.next() && TIM.TASKID == id) {
                if (TIM.EVENTTIME == 0 && TIM.RESULTCODE == 0) continue;
                TIM.EVENTTIME = 0;
                TIM.RESULTCODE = 0;
                UppDat(TaskBatch, UppPut, ModeReport);
            }
            TaskBatch.flush();
            TaskBatch.unlock();
            TaskLog.set(TLO_IDKEY);
            while (TaskLog.next()) logId = std::max(logId, TLO.TASKLOGID + 1);
        }
        const int running = s.running;
        s = RunState{};
        s.running = running;
        s.task = t;
        s.logId = logId;
        s.startDate = today();
        s.startTime = clockNow();
        s.runNow = t.RUNNOWDATE != 0 && t.RUNNOWTIME != 0 && (t.RUNNOWDATE == s.startDate || t.RUNNOWDATE == s.startDate - 1);
        s.importPhase = true;
        CleanUp(1);
        Mem.DoTask = 2;
        addLog();
        return NextTask(10, 0, nullptr);
    }
    case 16: return copyOut(&s.task, sizeof s.task);
    case 17: return copyIn(&s.batch, sizeof s.batch);
    case 18: return copyOut(&s.batch, sizeof s.batch);
    case 19: return copyIn(&s.taskBatch, sizeof s.taskBatch);
    case 20: return copyOut(&s.taskBatch, sizeof s.taskBatch);
    default: return 0;
    }
}

std::vector<TaskJob> buildJobs(const TasksRec& t, const std::vector<uint32_t>& databases,
                               bool (*keepsIndex)(uint32_t)) {
    std::vector<TaskJob> jobs;
    for (uint32_t db : databases) {
        if (t.DODUPELIM == 1) jobs.push_back({StepDuplicates, 1, db, 0});
        if (t.DOPURGE == 1) jobs.push_back({StepPurge, 2, db, 0});
        if (t.DOCOUNT == 1 && t.DOPURGE != 1) jobs.push_back({StepCount, 3, db, 0});
        if (t.DOINDEX == 1 && keepsIndex && keepsIndex(db)) jobs.push_back({StepIndex, 4, db, 0});
    }
    return jobs;
}

bool databaseKeepsIndex(uint32_t database) {
    Open o{Forums.number()};
    Forums.clearBuffer();
    FOR.ID = database;
    return Forums.get(FOR_ForumKey) && FOR.INDEXTYPE == 1;
}

bool setKeepsIndex(uint32_t database, bool on) {
    Open o{Forums.number()};
    Forums.clearBuffer();
    FOR.ID = database;
    if (!Forums.get(FOR_ForumKey) || !Forums.hold()) return false;
    FOR.INDEXTYPE = on ? 1 : 0;
    const bool ok = UppDat(Forums, UppPut, ModeReport) == 1;
    Forums.release();
    return ok;
}

bool indexActiveForTask(int batch) {
    loadWordTables();
    IndexSummary s;
    return indexActiveDatabase(false, batch, s) && (s.mode < 0 || s.result == 1);
}

bool indexFilledDatabases(const std::vector<uint32_t>& databases, int batch) {
    const uint32_t active = Mem.ForumNumber;
    bool ok = true;
    for (uint32_t db : databases) {
        if (!databaseKeepsIndex(db)) continue;
        if (!selectDatabase(db)) {
            ok = false;
            continue;
        }
        ok = indexActiveForTask(batch) && ok;
    }
    if (Mem.ForumNumber != active) {
        if (active != 0) selectDatabase(active);
        else clearActiveDatabase();
    }
    return ok;
}

uint8_t CleanUp(int operation, int kind, int result, uint32_t database) {
    RunState& s = st();
    switch (operation) {
    case 1:
        s.databases.clear();
        s.jobs.clear();
        s.jobsBuilt = false;
        s.currentJob = -1;
        return 1;
    case 2:
        if (database != 0 && std::find(s.databases.begin(), s.databases.end(), database) == s.databases.end())
            s.databases.push_back(database);
        return 1;
    case 3:
        if (!taskRunning()) return 0;
        if (!s.jobsBuilt) {
            s.jobs = buildJobs(s.task, s.databases, databaseKeepsIndex);
            s.jobsBuilt = true;
        }
        startNextJob();
        return 1;
    case 4: {
        if (!taskRunning() || s.currentJob < 0) return StepNone;
        TaskJob& j = s.jobs[static_cast<size_t>(s.currentJob)];
        (void)kind;
        (void)database;
        const int r = result == 1 ? 1 : 2;
        j.status = r;
        fold(s.worst, r);
        finishLastItem(j.kind, 0, r, false);
        if (r == 2) {
            Mem.DoTask = 6;
            endRun();
            return StepNone;
        }
        return static_cast<uint8_t>(startNextJob());
    }
    case 5: return taskRunning() ? static_cast<uint8_t>(startNextJob()) : 0;
    case 6:
        if (taskRunning()) endRun();
        return 1;
    default: return 0;
    }
}

void reportImportEnd(int result, int32_t eventTime, const std::vector<uint32_t>& databases) {
    RunState& s = st();
    if (!taskRunning() || !s.importPhase) return;
    for (uint32_t db : databases) CleanUp(2, 0, 0, db);
    s.importResults.emplace_back(s.taskBatch.BATCHID, result == 1 ? 1 : 2);
    {
        Open o{TaskBatch.number()};
        TaskBatch.clearBuffer();
        TIM.TASKID = s.taskBatch.TASKID;
        TIM.BATCHID = s.taskBatch.BATCHID;
        if (TaskBatch.get(TIM_TASKKEY)) {
            TIM.RESULTCODE = static_cast<uint8_t>(result == 1 ? 1 : 2);
            TIM.EVENTTIME = result == 1 ? eventTime : 0;
            UppDat(TaskBatch, UppPut, ModeReport);
        }
    }
    NextTask(11, 0, nullptr);
    NextTask(10, 0, nullptr);
}

} // namespace qb
