// Command line of the task manager: import definitions, tasks, their runs and
// their log, and the run of every due task for a timer.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/cli_import.h"
#include "app/commands.h"
#include "app/taskrun.h"
#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "import/catalogue.h"
#include "tasks/taskmanager.h"
#include "tasks/tasktables.h"

namespace qb {
namespace {

int fail(const std::string& text, int code = 1) {
    std::fprintf(stderr, "qbox: %s\n", text.c_str());
    return code;
}

std::string when(int32_t date, int32_t time) {
    if (date == 0) return "-";
    std::string s = formatDate(date, "@D10-");
    if (time != 0) s += " " + formatTime(time, "@T1");
    return s;
}


// ---- Import definitions ------------------------------------------------------





std::string absolute(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

int definitionAdd(std::vector<std::string> args) {
    if (args.empty() || args[0].rfind("--", 0) == 0) return fail("usage: definition add NAME --reader R [import options]", 2);
    const std::string name = fromUtf8(args[0]);
    args.erase(args.begin());
    if (name.size() > 50) return fail("a definition name has at most 50 characters", 2);
    BatchRec existing;
    if (definitionNamed(name, existing)) return fail("an import definition named '" + toUtf8(name) + "' exists already");
    ImportSettings s;
    if (int status = importSettingsFromArgs(args, s)) return status;
    // The task runs from another directory: keep the paths absolute.
    if (s.method == 2) {
        std::vector<std::string> files;
        for (const std::string& f : splitList(s.path)) files.push_back(absolute(f));
        s.path = joinList(files);
    } else {
        s.path = absolute(s.path);
    }
    const uint32_t id = saveDefinition(s);
    if (!id) return fail("the definition could not be saved");
    bool named = false;
    OP_CLOSE(OpOpenShared, Batch.number());
    Batch.clearBuffer();
    BAT.ID = id;
    if (Batch.get(BAT_IDKEY) && Batch.hold()) {
        BAT.DESCRIPTION.set(name);
        named = UppDat(Batch, UppPut, ModeReport) == 1;
        Batch.release();
    }
    OP_CLOSE(OpClose, Batch.number());
    if (!named) return fail("the definition was saved as " + std::to_string(id) + " but could not be named");
    std::printf("%u\t%s\n", id, toUtf8(name).c_str());
    return 0;
}

int definitionList() {
    for (const BatchRec& b : listDefinitions()) {
        const char* method = b.SELMETHOD == 0 ? "tree" : b.SELMETHOD == 1 ? "dir" : "files";
        std::vector<std::string> specs = fileSpecs(b.ID);
        std::printf("%u\t%s\t%s\t%s\t%s\t%s\n", b.ID, toUtf8(b.DESCRIPTION.view()).c_str(),
                    readerName(b.FILETYPE).c_str(), method,
                    toUtf8(b.SELMETHOD == 2 ? std::string() : b.IMPPATH.str()).c_str(),
                    toUtf8(joinList(specs)).c_str());
    }
    return 0;
}

int definitionDelete(const std::vector<std::string>& args) {
    if (args.size() != 1) return fail("usage: definition delete NAME", 2);
    BatchRec b;
    if (!definitionNamed(fromUtf8(args[0]), b)) return fail("no import definition named '" + args[0] + "'");
    std::vector<uint32_t> users = tasksUsing(b.ID);
    if (!users.empty())
        return fail("the definition is run by task " + std::to_string(users.front()) + "; take it out of the task first");
    const bool ok = deleteDefinition(b.ID);
    if (!ok) return fail("the definition could not be deleted");
    std::printf("%u\t%s\tdeleted\n", b.ID, toUtf8(b.DESCRIPTION.view()).c_str());
    return 0;
}

int runDefinition(CliContext& ctx) {
    std::vector<std::string> args = ctx.args;
    if (args.empty()) return fail("usage: definition add NAME --reader R [import options] | list | delete NAME", 2);
    const std::string sub = args[0];
    args.erase(args.begin());
    if (sub == "add") return definitionAdd(args);
    if (sub == "list" && args.empty()) return definitionList();
    if (sub == "delete") return definitionDelete(args);
    return fail("usage: definition add NAME --reader R [import options] | list | delete NAME", 2);
}

// ---- Tasks -----------------------------------------------------------------------



std::vector<std::string> commaList(std::string s) {
    std::replace(s.begin(), s.end(), ',', ';');
    return splitList(s);
}

// "YYYY-MM-DD HH:MM" into a date and a time.
bool parseNext(const std::string& text, int32_t& date, int32_t& time) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%c", &y, &mo, &d, &h, &mi, &tail) != 5) return false;
    date = dayNumber(y, mo, d);
    time = clockTime(h, mi, 0);
    return date != 0 && time != 0;
}

// The options of task add and task update applied to `t`; the definitions in
// `batches` when --definition was given.
int taskOptions(std::vector<std::string>& args, TasksRec& t, bool adding, std::vector<uint32_t>& batches,
                bool& batchesGiven) {
    std::vector<std::string> defs = takeOptions(args, "--definition");
    std::string next, weekdays, monthdays;
    const bool haveNext = takeOption(args, "--next", next);
    const bool haveWeekdays = takeOption(args, "--weekdays", weekdays);
    const bool haveMonthdays = takeOption(args, "--monthdays", monthdays);
    struct Flag {
        const char* name;
        uint8_t* field;
    } flags[] = {{"dedup", &t.DODUPELIM}, {"purge", &t.DOPURGE}, {"count", &t.DOCOUNT}, {"index", &t.DOINDEX}};
    for (Flag& f : flags) {
        if (takeFlag(args, std::string("--") + f.name)) *f.field = 1;
        if (takeFlag(args, std::string("--no-") + f.name)) *f.field = 0;
    }
    const bool runNow = takeFlag(args, "--run-now");
    const bool noRunNow = takeFlag(args, "--no-run-now");
    const bool inactive = takeFlag(args, "--inactive");
    const bool active = takeFlag(args, "--active");
    for (const std::string& a : args) return fail("unexpected argument '" + a + "'", 2);

    batchesGiven = !defs.empty();
    for (const std::string& d : defs) {
        BatchRec b;
        if (!definitionNamed(fromUtf8(d), b)) return fail("no import definition named '" + d + "'");
        if (std::find(batches.begin(), batches.end(), b.ID) == batches.end()) batches.push_back(b.ID);
    }
    if (adding && batches.empty()) return fail("a task needs at least one --definition", 2);
    if (haveNext) {
        if (next.empty() || next == "-") {
            t.RUNNEXTDATE = t.RUNNEXTTIME = 0;
        } else if (!parseNext(next, t.RUNNEXTDATE, t.RUNNEXTTIME)) {
            return fail("--next wants \"YYYY-MM-DD HH:MM\"", 2);
        }
    }
    if (haveWeekdays) {
        static const char* names[7] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
        std::fill(std::begin(t.DAYS), std::end(t.DAYS), 0);
        for (const std::string& w : commaList(weekdays)) {
            std::string low = w.substr(0, 3);
            for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            auto it = std::find_if(std::begin(names), std::end(names), [&](const char* n) { return low == n; });
            if (it == std::end(names) || w.size() < 3) return fail("unknown weekday '" + w + "' (Sun,Mon,...)", 2);
            t.DAYS[it - std::begin(names)] = 1;
        }
    }
    if (haveMonthdays) {
        std::fill(std::begin(t.MONTHDAYS), std::end(t.MONTHDAYS), 0);
        std::vector<std::string> days = commaList(monthdays);
        if (days.size() > 5) return fail("at most 5 month days", 2);
        for (size_t i = 0; i < days.size(); ++i) {
            char* end = nullptr;
            const long v = std::strtol(days[i].c_str(), &end, 10);
            if (*end != '\0' || v < 1 || v > 31) return fail("a month day is a number from 1 to 31", 2);
            t.MONTHDAYS[i] = static_cast<uint8_t>(v);
        }
    }
    bool repeats = false;
    for (uint8_t d : t.DAYS) repeats = repeats || d == 1;
    for (uint8_t d : t.MONTHDAYS) repeats = repeats || d != 0;
    if (repeats && t.RUNNEXTDATE == 0) return fail("weekdays and month days need a next start (--next)", 2);
    if (runNow) {
        t.RUNNOWDATE = today();
        t.RUNNOWTIME = clockNow();
    }
    if (noRunNow) t.RUNNOWDATE = t.RUNNOWTIME = 0;
    if (adding) t.ACTIVE = 1;
    if (active) t.ACTIVE = 1;
    if (inactive) t.ACTIVE = 0;
    if (t.ACTIVE == 1 && t.RUNNEXTDATE == 0 && t.RUNNOWDATE == 0) {
        t.ACTIVE = 0;
        std::fprintf(stderr, "qbox: A Task without run information cannot be active!\n");
    }
    return 0;
}


int taskAddOrUpdate(std::vector<std::string> args, bool adding) {
    if (args.empty() || args[0].rfind("--", 0) == 0)
        return fail(std::string("usage: task ") + (adding ? "add" : "update") + " NAME [options]", 2);
    const std::string name = fromUtf8(args[0]);
    args.erase(args.begin());
    if (name.size() > 50) return fail("a task name has at most 50 characters", 2);
    TasksRec t{};
    const bool exists = taskNamed(name, t);
    if (adding && exists) return fail("a task named '" + toUtf8(name) + "' exists already");
    if (!adding && !exists) return fail("no task named '" + toUtf8(name) + "'");
    if (adding) {
        Tasks.clearBuffer();
        t = TAS;
        t.DESCRIPTION.set(name);
    }
    std::vector<uint32_t> batches;
    bool batchesGiven = false;
    if (int status = taskOptions(args, t, adding, batches, batchesGiven)) return status;
    if (!saveTask(t, adding, batches, batchesGiven)) return fail("the task could not be saved");
    std::printf("%u\t%s\n", t.ID, toUtf8(name).c_str());
    return 0;
}

int taskDelete(const std::vector<std::string>& args) {
    if (args.size() != 1) return fail("usage: task delete NAME", 2);
    TasksRec t;
    if (!taskNamed(fromUtf8(args[0]), t)) return fail("no task named '" + args[0] + "'");
    const bool ok = deleteTask(t.ID);
    if (!ok) return fail("the task could not be deleted");
    std::printf("%u\t%s\tdeleted\n", t.ID, toUtf8(t.DESCRIPTION.view()).c_str());
    return 0;
}

int taskList() {
    for (const TasksRec& t : listTasks()) {
        const int32_t nextDate = t.RUNNOWDATE != 0 ? t.RUNNOWDATE : t.RUNNEXTDATE;
        const int32_t nextTime = t.RUNNOWDATE != 0 ? t.RUNNOWTIME : t.RUNNEXTTIME;
        std::printf("%u\t%s\t%s\t%s\t%s\t%s\n", t.ID, toUtf8(t.DESCRIPTION.view()).c_str(),
                    t.ACTIVE == 1 ? "active" : "inactive", when(nextDate, nextTime).c_str(),
                    when(t.LASTRUNDATE, t.LASTRUNTIME).c_str(), resultText(t.RESULTCODE).c_str());
    }
    return 0;
}

void note(const std::string& text) { std::fprintf(stderr, "qbox: %s\n", toUtf8(text).c_str()); }

int taskRun(const std::vector<std::string>& args) {
    if (args.size() != 1) return fail("usage: task run NAME", 2);
    TasksRec t;
    if (!taskNamed(fromUtf8(args[0]), t)) return fail("no task named '" + args[0] + "'");
    const int result = runTaskUnattended(t.ID, note);
    if (result == 0) return fail("the task could not be started");
    std::printf("%u\t%s\t%s\n", t.ID, toUtf8(t.DESCRIPTION.view()).c_str(), resultText(result).c_str());
    return result == 1 ? 0 : 1;
}

int taskLog(const std::vector<std::string>& args) {
    if (args.size() != 1) return fail("usage: task log NAME", 2);
    TasksRec t;
    if (!taskNamed(fromUtf8(args[0]), t)) return fail("no task named '" + args[0] + "'");
    for (const TaskLogRec& r : taskRuns(t.ID)) {
        std::printf("run %u\t%s\t%s\t%s\n", r.TASKLOGID, when(r.DATESTARTED, r.TIMESTARTED).c_str(),
                    durationText(stepDuration(r.DATESTARTED, r.TIMESTARTED, r.DATEFINISHED, r.TIMEFINISHED)).c_str(),
                    resultText(r.RESULTCODE).c_str());
        for (const TaskLogItemRec& i : runItems(r.TASKLOGID))
            std::printf("\t%s\t%s\t%s\t%s\t%s\n", stepKindText(static_cast<int>(i.TYPE)).c_str(),
                        toUtf8(itemDescription(i)).c_str(), when(i.DATESTARTED, i.TIMESTARTED).c_str(),
                        durationText(stepDuration(i.DATESTARTED, i.TIMESTARTED, i.DATEFINISHED, i.TIMEFINISHED)).c_str(),
                        resultText(i.RESULTCODE).c_str());
    }
    return 0;
}

int runTask(CliContext& ctx) {
    std::vector<std::string> args = ctx.args;
    const char* usage = "usage: task add NAME --definition D... [options] | update NAME [options] | delete NAME | "
                        "list | run NAME | log NAME";
    if (args.empty()) return fail(usage, 2);
    const std::string sub = args[0];
    args.erase(args.begin());
    if (sub == "add") return taskAddOrUpdate(args, true);
    if (sub == "update") return taskAddOrUpdate(args, false);
    if (sub == "delete") return taskDelete(args);
    if (sub == "list" && args.empty()) return taskList();
    if (sub == "run") return taskRun(args);
    if (sub == "log") return taskLog(args);
    return fail(usage, 2);
}

int runTasks(CliContext& ctx) {
    if (ctx.args.size() != 1 || ctx.args[0] != "due") return fail("usage: tasks due", 2);
    // One run of the due tasks at a time per home directory.
    const std::string lockPath = (std::filesystem::path(ctx.home) / "tasks-due.lock").string();
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return fail("cannot open " + lockPath);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        std::fprintf(stderr, "qbox: the due tasks are being run by another qbox already\n");
        return 0;
    }
    int failed = 0;
    const int runs = runDueTasks(note, failed);
    std::printf("runs %d failed %d\n", runs, failed);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return failed ? 1 : 0;
}

const bool registered = [] {
    registerCommand("definition", "definition add NAME --reader R [import options] | definition list | "
                                  "definition delete NAME",
                    runDefinition);
    registerCommand("task",
                    "task add NAME --definition D... [--next \"YYYY-MM-DD HH:MM\"] [--weekdays Sun,Mon,...] "
                    "[--monthdays 1,15,31] [--dedup] [--purge] [--count] [--index] [--run-now] [--inactive] | "
                    "task update NAME [same options, --no-purge..., --active] | task delete NAME | task list | "
                    "task run NAME | task log NAME",
                    runTask);
    registerCommand("tasks", "tasks due   run every task that is due now", runTasks);
    return true;
}();

} // namespace
} // namespace qb
