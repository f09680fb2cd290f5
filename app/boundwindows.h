// Procedure windows of one database. A window that works on a database is
// bound, when it opens, to the database active then: it keeps that
// database's identity and table files for its life, and its title names it.
// When the user selects another database, the windows of the old one close;
// a window that runs a batch (indexing) asks first and goes on with its own
// database until the batch ends.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class QWidget;

namespace qb {

struct BoundDatabase {
    uint32_t id = 0;  // FOR:ID; 0 = the window is not bound to a database
    std::string dirnamn, description;
    uint8_t type = 0, check = 0;
    uint32_t personId = 0;
    int32_t needsUpdate = 0;
};

// Procedures that work on the active database and need one.
bool procedureNeedsDatabase(const std::string& name);

// Binds the window to the active database (once; later calls keep the first
// binding). startProcedure binds every window of a procedure that needs a
// database; a window may bind itself earlier, in its constructor.
void bindToActiveDatabase(QWidget* w);
// The database of the window or of the window it lies in; id 0 when none.
BoundDatabase boundDatabase(const QWidget* w);

// The active-database globals (Mem.*) set to a window's database for the
// scope, so that table names, registry rows and removals are those of the
// window's database. Nothing changes when the window's database is active.
class DatabaseScope {
public:
    explicit DatabaseScope(const QWidget* w);
    explicit DatabaseScope(const BoundDatabase& db);
    ~DatabaseScope();
    DatabaseScope(const DatabaseScope&) = delete;
    DatabaseScope& operator=(const DatabaseScope&) = delete;

private:
    bool active_ = false;
    BoundDatabase saved_;
};

// A window runs a batch that must finish on its database: it refuses to
// close meanwhile. Set by the window while the batch runs.
void setBatchRunning(QWidget* w, bool running);
bool batchRunning(const QWidget* w);

// The user's choice of another database: asks first when a window of
// another database runs a batch (No keeps the active database), makes the
// database active and closes the windows of other databases. False when
// nothing changed.
bool switchDatabase(uint32_t forumId);

// Closes the open windows bound to another database than the active one;
// the names of the windows that stayed open (running batches).
std::vector<std::string> closeWindowsOfOtherDatabases();

} // namespace qb
