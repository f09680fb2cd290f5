// Ends a test's use of the storage engine in this process.
#pragma once
#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"

namespace qb::testing {

// Every table closed, also those held open by number.
inline void forceCloseEveryTable() {
    closeAllTables();
    for (int n = 1; n <= 42; ++n)
        if (tableNumberDefined(n)) OP_CLOSE(OpForceClose, n);
}

// Every table closed, no interface set and the globals as at start.
inline void resetEngine() {
    forceCloseEveryTable();
    setUi(nullptr);
    Mem = MemGlobals{};
}

} // namespace qb::testing
