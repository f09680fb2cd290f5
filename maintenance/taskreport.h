// The end report of a maintenance procedure to the task manager (its CleanUp
// operation 4): kind 2 purge, 5 count, 6 duplicate persons; result 1 OK, 2
// error. The task manager installs the receiver; it answers the kind of the
// next job to start (2, 4, 5 or 6) with its database made active, or 14 when
// no job is left.
#pragma once
#include <cstdint>
#include <functional>

namespace qb {

enum MaintenanceKind : int { JobPurge = 2, JobIndex = 4, JobCount = 5, JobDuplicates = 6, JobNone = 14 };

using MaintenanceReport = std::function<int(int kind, uint32_t database, int result)>;

// Installs the receiver (nullptr removes it).
void setMaintenanceReport(MaintenanceReport receiver);
// Reports the end of a step; 14 when no receiver is installed.
int reportMaintenanceEnd(int kind, uint32_t database, int result);

} // namespace qb
