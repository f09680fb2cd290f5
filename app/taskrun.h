// Performing a task run without a window: every step the task manager
// requests (imports of definitions, then the maintenance jobs) runs here one
// after another, unattended, until the run ends.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "tasks/taskmanager.h"

namespace qb {

// A line of progress or a step's outcome for the caller to show.
using TaskNote = std::function<void(const std::string&)>;

// The work of one requested step: batches while step() is true, then end(),
// which reports the step's result to the task manager.
struct TaskWork {
    std::function<bool()> step;
    std::function<void()> end;
    TaskStep what;
};
// Prepares the work of a step (an import, or a maintenance job on its
// database, made active).
TaskWork beginTaskStep(const TaskStep& step, const TaskNote& note = {});
// One batch; false once the step has ended and reported.
bool stepTaskWork(TaskWork& work, const TaskNote& note = {});

// Runs task `taskId` now. Returns the run's result: 1 every step OK, 2 a step
// failed; 0 when the run could not start (no such task, a run under way).
int runTaskUnattended(uint32_t taskId, const TaskNote& note = {});

// Runs every due task, one after another, as the scheduler would (settings 48
// and 46/47 honoured). The number of runs; `failed` counts those that ended
// with an error.
int runDueTasks(const TaskNote& note, int& failed);

} // namespace qb
