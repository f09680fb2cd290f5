#include "maintenance/taskreport.h"

#include <utility>

namespace qb {

namespace {
MaintenanceReport& receiver() {
    static MaintenanceReport r;
    return r;
}
} // namespace

void setMaintenanceReport(MaintenanceReport r) { receiver() = std::move(r); }

int reportMaintenanceEnd(int kind, uint32_t database, int result) {
    return receiver() ? receiver()(kind, database, result) : JobNone;
}

} // namespace qb
