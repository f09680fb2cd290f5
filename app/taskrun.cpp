#include "app/taskrun.h"

#include <exception>
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

template <class Machine>
void driveToEnd(Machine& m) {
    while (m.step()) {
    }
}

void performImport(uint32_t batchId, const TaskNote& note) {
    ImportSettings s;
    SetupCheck check;
    if (!loadDefinition(batchId, s, check)) {
        tell(note, "import definition " + std::to_string(batchId) + ": " +
                       (check.text.empty() ? std::string("it cannot be read") : check.text));
        reportImportEnd(2, 0, {});
        return;
    }
    int result = 2;
    std::vector<uint32_t> filled;
    try {
        ImportRun run(s);
        driveToEnd(run);
        result = run.failed() || run.stopped() ? 2 : 1;
        filled = run.context().routed;
        tell(note, "import definition " + std::to_string(batchId) + ": stored " +
                       std::to_string(run.totals().stored) + " skipped " + std::to_string(run.totals().skipped));
    } catch (const ProgramStop&) {
        throw;
    } catch (const std::exception& e) {
        tell(note, std::string("import definition ") + std::to_string(batchId) + ": " + e.what());
        result = 2;
    }
    // A database that keeps a word index is brought up to date after every import.
    if (!indexFilledDatabases(filled, kIndexBatch)) tell(note, "the word index of a filled database failed");
    reportImportEnd(result, result == 1 ? clockNow() : 0, filled);
}

int performJob(const TaskStep& step, const TaskNote& note) {
    int result = 2;
    try {
        if (!selectDatabase(step.database)) {
            tell(note, stepDescription(step.kind) + ": database " + std::to_string(step.database) + " is gone");
        } else if (step.kind == StepPurge) {
            Purge p;
            driveToEnd(p);
            result = p.result() == 1 ? 1 : 2;
        } else if (step.kind == StepCount) {
            Recount r;
            driveToEnd(r);
            result = r.result() == 1 ? 1 : 2;
        } else if (step.kind == StepDuplicates) {
            DuplicateMerge d;
            driveToEnd(d);
            result = d.ok() ? 1 : 2;
        } else if (step.kind == StepIndex) {
            result = indexActiveForTask(kIndexBatch) ? 1 : 2;
        }
    } catch (const ProgramStop&) {
        throw;
    } catch (const std::exception& e) {
        tell(note, stepDescription(step.kind) + ": " + e.what());
        result = 2;
    }
    tell(note, stepDescription(step.kind) + " [" + Mem.Description + "]: " + resultText(result));
    return CleanUp(4, step.kind, result, step.database);
}

} // namespace

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
            if (step.kind == StepImport) performImport(step.batchId, note);
            else performJob(step, note);
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
