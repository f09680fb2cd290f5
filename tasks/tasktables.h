// Reading and changing the task manager's rows: import definitions, tasks
// with their definitions, and the task log. Shared by the windows and the
// command line.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/tables.h"

namespace qb {

// Import definitions (BAT:TYPE 1) in ID order.
std::vector<BatchRec> listDefinitions();
// The definition of this description (letter case ignored); false when none.
bool definitionNamed(const std::string& name, BatchRec& out);
// Its FileList rows: masks or files.
std::vector<std::string> fileSpecs(uint32_t id);
// The tasks that run this definition.
std::vector<uint32_t> tasksUsing(uint32_t batchId);
// Deletes the definition with its FileList rows in one transaction.
bool deleteDefinition(uint32_t id);
// Writes the changed definition `b` (found by BAT:ID) and makes `specs` its
// FileList rows, in one transaction; false when nothing was written.
bool changeDefinition(const BatchRec& b, const std::vector<std::string>& specs);

// Tasks in ID order.
std::vector<TasksRec> listTasks();
bool taskNamed(const std::string& name, TasksRec& out);
// The definitions of the task, in the order they run.
std::vector<uint32_t> taskDefinitions(uint32_t taskId);
// Saves the task (a new one gets its ID) and, when batchesGiven, makes
// `batches` its TaskBatch rows; one transaction.
bool saveTask(TasksRec& t, bool adding, const std::vector<uint32_t>& batches, bool batchesGiven);
// Deletes the task's TaskBatch rows and then the task, in one transaction.
bool deleteTask(uint32_t id);

// The runs of a task in log-ID order, and the steps of a run in the order they ran.
std::vector<TaskLogRec> taskRuns(uint32_t taskId);
std::vector<TaskLogItemRec> runItems(uint32_t logId);
// The description of a step: its definition's, or the maintenance kind's.
std::string itemDescription(const TaskLogItemRec& item);

} // namespace qb
