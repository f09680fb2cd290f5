#include "app/taskrun.h"

#include <exception>
#include <memory>
#include <stdexcept>
#include <vector>

#include "core/dates.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/catalogue.h"
#include "import/pipeline.h"
#include "maintenance/counting.h"
#include "maintenance/dedup.h"
#include "maintenance/purge.h"
#include "tasks/taskmanager.h"

namespace qb {

namespace {

constexpr int kIndexBatch = 40;

void tell(const TaskNote& note, const std::string& text) {
    if (note) note(text);
}

// Work without batches: only its end.
TaskWork endOnly(std::function<void()> end) {
    TaskWork w;
    w.end = std::move(end);
    return w;
}

// A step machine kept alive by the work that drives it.
template <class Machine>
TaskWork machineWork(std::shared_ptr<Machine> m, std::function<void(Machine&)> end) {
    TaskWork w;
    w.step = [m] { return m->step(); };
    w.end = [m, end] { end(*m); };
    return w;
}

TaskWork importWork(uint32_t batchId, const TaskNote& note) {
    ImportSettings s;
    SetupCheck check;
    if (!loadDefinition(batchId, s, check)) {
        return endOnly([batchId, note, text = check.text] {
                            tell(note, "import definition " + std::to_string(batchId) + ": " +
                                           (text.empty() ? std::string("it cannot be read") : text));
                            reportImportEnd(2, 0, {});
                        });
    }
    return machineWork<ImportRun>(std::make_shared<ImportRun>(s), [batchId, note](ImportRun& run) {
        const int result = run.failed() || run.stopped() ? 2 : 1;
        const std::vector<uint32_t> filled = run.context().routed;
        tell(note, "import definition " + std::to_string(batchId) + ": stored " + std::to_string(run.totals().stored) +
                       " skipped " + std::to_string(run.totals().skipped));
        // A database that keeps a word index is brought up to date after every import.
        if (!indexFilledDatabases(filled, kIndexBatch)) tell(note, "the word index of a filled database failed");
        reportImportEnd(result, result == 1 ? clockNow() : 0, filled);
    });
}

TaskWork jobWork(const TaskStep& step, const TaskNote& note) {
    auto report = [step, note](int result) {
        tell(note, stepDescription(step.kind) + " [" + Mem.Description + "]: " + resultText(result));
        CleanUp(4, step.kind, result, step.database);
    };
    if (!selectDatabase(step.database)) {
        return endOnly([step, note, report] {
                            tell(note, stepDescription(step.kind) + ": database " + std::to_string(step.database) +
                                           " is gone");
                            report(2);
                        });
    }
    switch (step.kind) {
    case StepPurge:
        return machineWork<Purge>(std::make_shared<Purge>(), [report](Purge& p) { report(p.result() == 1 ? 1 : 2); });
    case StepCount:
        return machineWork<Recount>(std::make_shared<Recount>(),
                                    [report](Recount& r) { report(r.result() == 1 ? 1 : 2); });
    case StepDuplicates:
        return machineWork<DuplicateMerge>(std::make_shared<DuplicateMerge>(),
                                           [report](DuplicateMerge& d) { report(d.ok() ? 1 : 2); });
    case StepIndex:
        return endOnly([report] { report(indexActiveForTask(kIndexBatch) ? 1 : 2); });
    default:
        return endOnly([report] { report(2); });
    }
}

} // namespace

TaskWork beginTaskStep(const TaskStep& step, const TaskNote& note) {
    TaskWork w;
    try {
        w = step.kind == StepImport ? importWork(step.batchId, note) : jobWork(step, note);
    } catch (const ProgramStop&) {
        throw;
    } catch (const std::exception& e) {
        // Reported as the step's failure at its first batch.
        const std::string why = e.what();
        w = TaskWork{};
        w.step = [why]() -> bool { throw std::runtime_error(why); };
    }
    w.what = step;
    return w;
}

bool stepTaskWork(TaskWork& work, const TaskNote& note) {
    try {
        if (work.step && work.step()) return true;
        if (work.end) work.end();
    } catch (const ProgramStop&) {
        throw;
    } catch (const std::exception& e) {
        // A step that threw ends as an error; the run goes on as its kind says.
        tell(note, std::string("a task step failed: ") + e.what());
        const TaskStep failed = work.what;
        work = TaskWork{};
        if (failed.kind == StepImport) reportImportEnd(2, 0, {});
        else if (failed.kind != StepNone) CleanUp(4, failed.kind, 2, failed.database);
        return false;
    }
    work = TaskWork{};
    return false;
}

int runTaskUnattended(uint32_t taskId, const TaskNote& note) {
    if (NextTask(13, 0, nullptr)) return 0;  // a procedure is running
    uint32_t id = taskId;
    if (!NextTask(15, sizeof id, &id)) return 0;
    try {
        while (taskRunning()) {
            const TaskStep step = takeRequestedStep();
            if (step.kind == StepNone) {
                CleanUp(6);  // nothing left to do: the run is over
                break;
            }
            TaskWork work = beginTaskStep(step, note);
            while (stepTaskWork(work, note)) {
            }
        }
    } catch (const ProgramStop&) {
        if (taskRunning()) CleanUp(6);
        throw;
    }
    clearActiveDatabase();
    return lastRunResult();
}

int runDueTasks(const TaskNote& note, int& failed) {
    failed = 0;
    int runs = 0;
    std::vector<uint32_t> done;
    for (;;) {
        if (konfigNumber(48) == 1) {
            tell(note, "task processing is turned off");
            break;
        }
        const int32_t now = clockNow();
        if (inQuietPeriod(now, konfigNumber(46), konfigNumber(47))) {
            tell(note, "no task starts in the quiet period");
            break;
        }
        TasksRec t{};
        if (!findDueTask(today(), now, t)) break;
        // A task that stays due after its run (its next start lies in the
        // past) runs once here; the next call finds it again.
        bool again = false;
        for (uint32_t d : done) again = again || d == t.ID;
        if (again) break;
        done.push_back(t.ID);
        tell(note, "task " + std::to_string(t.ID) + " " + std::string(t.DESCRIPTION.str()));
        const int r = runTaskUnattended(t.ID, note);
        ++runs;
        if (r != 1) ++failed;
    }
    return runs;
}

} // namespace qb
