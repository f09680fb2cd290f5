// What the windows of the maintenance procedures share: the procedure of a
// task manager job, and running a step on the window's own database.
#pragma once
#include <QTimer>
#include <cstdint>
#include <string>

#include "core/globals.h"
#include "app/procedures.h"
#include "core/registry.h"
#include "maintenance/taskreport.h"

namespace qb {

// The procedure of a task manager job kind.
inline const char* procedureOfJob(int kind) {
    switch (kind) {
    case JobPurge: return "PurgeMess";
    case JobCount: return "CountMess";
    case JobIndex: return "AutoIndex";
    case JobDuplicates: return "Duplicates";
    default: return nullptr;
    }
}

// Unattended: reports the end of a job to the task manager and starts the
// procedure of the next job it names, once the caller has returned.
inline void reportJobEnd(int kind, uint32_t database, int result) {
    if (const char* proc = procedureOfJob(reportMaintenanceEnd(kind, database, result))) {
        const std::string name = proc;
        QTimer::singleShot(0, [name] { startProcedure(name); });
    }
}

// Runs a step with the window's database active, whatever the frame has
// selected meanwhile, and puts the frame's choice back afterwards.
class OnDatabase {
public:
    explicit OnDatabase(uint32_t id) : previous_(Mem.ForumNumber) {
        if (id != previous_) switched_ = selectDatabase(id);
    }
    ~OnDatabase() {
        if (!switched_) return;
        if (previous_) selectDatabase(previous_);
        else clearActiveDatabase();
    }
    OnDatabase(const OnDatabase&) = delete;
    OnDatabase& operator=(const OnDatabase&) = delete;

private:
    uint32_t previous_;
    bool switched_ = false;
};

} // namespace qb
