#include "tasks/tasktables.h"

#include <algorithm>
#include <functional>

#include "core/access.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/text.h"
#include "tasks/taskmanager.h"

namespace qb {

namespace {

// Deletes a row and the rows that depend on it in one transaction: the rows
// of `children` from where seekChildren puts it while belongs() holds, then
// the row of `parent` that findParent() reads.
bool deleteWithChildren(Table& parent, Table& children, const std::function<void()>& seekChildren,
                        const std::function<bool()>& belongs, const std::function<bool()>& findParent) {
    OP_CLOSE(OpOpenShared, parent.number(), children.number());
    beginTransaction({&parent, &children});
    bool ok = transactionCheck() == 0;
    if (ok) {
        seekChildren();
        while (ok && children.next() && belongs()) ok = UppDat(children, UppDelete, ModeReportRollback) == 1;
        if (ok && findParent()) ok = UppDat(parent, UppDelete, ModeReportRollback) == 1;
        if (ok && !commitTransaction()) {
            rollbackTransaction();
            ok = false;
        }
    }
    OP_CLOSE(OpClose, parent.number(), children.number());
    return ok;
}

} // namespace

std::vector<BatchRec> listDefinitions() {
    std::vector<BatchRec> all;
    OP_CLOSE(OpOpenShared, Batch.number());
    Batch.set(BAT_IDKEY);
    while (Batch.next())
        if (BAT.TYPE == 1) all.push_back(BAT);
    OP_CLOSE(OpClose, Batch.number());
    return all;
}

// The definition of this description (letter case ignored); false when none.
bool definitionNamed(const std::string& name, BatchRec& out) {
    for (const BatchRec& b : listDefinitions())
        if (upper(b.DESCRIPTION.view()) == upper(rtrim(name))) {
            out = b;
            return true;
        }
    return false;
}

std::vector<std::string> fileSpecs(uint32_t id) {
    std::vector<std::string> specs;
    OP_CLOSE(OpOpenShared, FileList.number());
    FileList.clearBuffer();
    FLI.ID = id;
    FileList.setFrom(FLI_IDKEY);
    while (FileList.next() && FLI.ID == id) specs.push_back(FLI.FILESPEC.str());
    OP_CLOSE(OpClose, FileList.number());
    return specs;
}

// The tasks that run this definition.
std::vector<uint32_t> tasksUsing(uint32_t batchId) {
    std::vector<uint32_t> ids;
    OP_CLOSE(OpOpenShared, TaskBatch.number());
    TaskBatch.clearBuffer();
    TIM.BATCHID = batchId;
    TaskBatch.setFrom(TIM_BATCHKEY);
    while (TaskBatch.next() && TIM.BATCHID == batchId) ids.push_back(TIM.TASKID);
    OP_CLOSE(OpClose, TaskBatch.number());
    return ids;
}

std::vector<TasksRec> listTasks() {
    std::vector<TasksRec> all;
    OP_CLOSE(OpOpenShared, Tasks.number());
    Tasks.set(TAS_IDKEY);
    while (Tasks.next()) all.push_back(TAS);
    OP_CLOSE(OpClose, Tasks.number());
    return all;
}

bool taskNamed(const std::string& name, TasksRec& out) {
    for (const TasksRec& t : listTasks())
        if (upper(t.DESCRIPTION.view()) == upper(rtrim(name))) {
            out = t;
            return true;
        }
    return false;
}

// Saves the task and its TaskBatch rows in one transaction.
bool saveTask(TasksRec& t, bool adding, const std::vector<uint32_t>& batches, bool batchesGiven) {
    OP_CLOSE(OpOpenShared, Tasks.number(), TaskBatch.number(), Control.number());
    beginTransaction({&Tasks, &TaskBatch, &Control});
    bool ok = transactionCheck() == 0;
    if (ok && adding) {
        t.ID = NextNr();
        ok = t.ID != 0;
        if (ok) {
            TAS = t;
            ok = UppDat(Tasks, UppAdd, ModeReportRollback) == 1;
        }
    } else if (ok) {
        Tasks.clearBuffer();
        TAS.ID = t.ID;
        ok = Tasks.get(TAS_IDKEY) && Tasks.hold();
        if (ok) {
            TAS = t;
            ok = UppDat(Tasks, UppPut, ModeReportRollback) == 1;
            Tasks.release();
        }
    }
    if (ok && batchesGiven) {
        std::vector<uint32_t> have;
        TaskBatch.clearBuffer();
        TIM.TASKID = t.ID;
        TaskBatch.setFrom(TIM_TASKKEY);
        while (ok && TaskBatch.next() && TIM.TASKID == t.ID) {
            if (std::find(batches.begin(), batches.end(), TIM.BATCHID) == batches.end())
                ok = UppDat(TaskBatch, UppDelete, ModeReportRollback) == 1;
            else have.push_back(TIM.BATCHID);
        }
        for (uint32_t b : batches) {
            if (!ok || std::find(have.begin(), have.end(), b) != have.end()) continue;
            TaskBatch.clearBuffer();
            TIM.TASKID = t.ID;
            TIM.BATCHID = b;
            ok = UppDat(TaskBatch, UppAdd, ModeReportRollback) == 1;
        }
    }
    if (ok && !commitTransaction()) {
        rollbackTransaction();
        ok = false;
    }
    OP_CLOSE(OpClose, Tasks.number(), TaskBatch.number(), Control.number());
    return ok;
}

bool deleteDefinition(uint32_t id) {
    return deleteWithChildren(
        Batch, FileList,
        [&] {
            FileList.clearBuffer();
            FLI.ID = id;
            FileList.setFrom(FLI_IDKEY);
        },
        [&] { return FLI.ID == id; },
        [&] {
            Batch.clearBuffer();
            BAT.ID = id;
            return Batch.get(BAT_IDKEY);
        });
}

bool changeDefinition(const BatchRec& b, const std::vector<std::string>& specs) {
    OP_CLOSE(OpOpenShared, Batch.number(), FileList.number());
    beginTransaction({&Batch, &FileList});
    bool ok = transactionCheck() == 0;
    if (ok) {
        Batch.clearBuffer();
        BAT.ID = b.ID;
        ok = Batch.get(BAT_IDKEY);
        if (!ok) rollbackTransaction();  // gone meanwhile: nothing to change
        if (ok) {
            BAT = b;
            ok = UppDat(Batch, UppPut, ModeReportRollback) == 1;
        }
        // The old rows go, the new ones come, in their order.
        FileList.clearBuffer();
        FLI.ID = b.ID;
        FileList.setFrom(FLI_IDKEY);
        while (ok && FileList.next() && FLI.ID == b.ID) ok = UppDat(FileList, UppDelete, ModeReportRollback) == 1;
        for (size_t i = 0; ok && i < specs.size(); ++i) {
            FileList.clearBuffer();
            FLI.ID = b.ID;
            FLI.FILESPEC.set(specs[i]);
            ok = UppDat(FileList, UppAdd, ModeReportRollback) == 1;
        }
        if (ok && !commitTransaction()) {
            rollbackTransaction();
            ok = false;
        }
    }
    OP_CLOSE(OpClose, Batch.number(), FileList.number());
    return ok;
}

bool deleteTask(uint32_t id) {
    return deleteWithChildren(
        Tasks, TaskBatch,
        [&] {
            TaskBatch.clearBuffer();
            TIM.TASKID = id;
            TaskBatch.setFrom(TIM_TASKKEY);
        },
        [&] { return TIM.TASKID == id; },
        [&] {
            Tasks.clearBuffer();
            TAS.ID = id;
            return Tasks.get(TAS_IDKEY);
        });
}

std::vector<uint32_t> taskDefinitions(uint32_t taskId) {
    std::vector<uint32_t> ids;
    OP_CLOSE(OpOpenShared, TaskBatch.number());
    TaskBatch.clearBuffer();
    TIM.TASKID = taskId;
    TaskBatch.setFrom(TIM_TASKKEY);
    while (TaskBatch.next() && TIM.TASKID == taskId) ids.push_back(TIM.BATCHID);
    OP_CLOSE(OpClose, TaskBatch.number());
    return ids;
}

std::vector<TaskLogRec> taskRuns(uint32_t taskId) {
    std::vector<TaskLogRec> runs;
    OP_CLOSE(OpOpenShared, TaskLog.number());
    TaskLog.clearBuffer();
    TLO.TASKID = taskId;
    TaskLog.setFrom(TLO_BYTASK);
    while (TaskLog.next() && TLO.TASKID == taskId) runs.push_back(TLO);
    OP_CLOSE(OpClose, TaskLog.number());
    return runs;
}

std::vector<TaskLogItemRec> runItems(uint32_t logId) {
    std::vector<TaskLogItemRec> items;
    OP_CLOSE(OpOpenShared, TaskLogItem.number());
    TaskLogItem.clearBuffer();
    TLI.TASKLOGID = logId;
    TaskLogItem.setFrom(TLI_IDKEY);
    while (TaskLogItem.next() && TLI.TASKLOGID == logId) items.push_back(TLI);
    OP_CLOSE(OpClose, TaskLogItem.number());
    std::stable_sort(items.begin(), items.end(), [](const TaskLogItemRec& a, const TaskLogItemRec& b) {
        return a.DATESTARTED != b.DATESTARTED ? a.DATESTARTED < b.DATESTARTED : a.TIMESTARTED < b.TIMESTARTED;
    });
    return items;
}

std::string itemDescription(const TaskLogItemRec& item) {
    if (item.TYPE != StepImport) return stepDescription(static_cast<int>(item.TYPE));
    std::string text = "definition " + std::to_string(item.BATCHID);
    OP_CLOSE(OpOpenShared, Batch.number());
    Batch.clearBuffer();
    BAT.ID = item.BATCHID;
    if (Batch.get(BAT_IDKEY)) text = BAT.DESCRIPTION.str();
    OP_CLOSE(OpClose, Batch.number());
    return text;
}

} // namespace qb
