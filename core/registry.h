// The registry of databases (the Forums table of the configuration
// directory), the active database, adding and removing databases, the test
// of a database directory, the rebuild of the registry from the directories
// and the next-ID check.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/kinds.h"
#include "core/tables.h"

namespace qb {

// Makes the database with this FOR:ID the active one: reads its Forums row by
// FOR:ForumKey and copies it into the active-database globals (Mem.*). Forums
// is opened and closed around the read when it is not open. False (and
// nothing changed) when there is no such row.
bool selectDatabase(uint32_t forumId);
// No active database.
void clearActiveDatabase();
// Listeners told after every change of the active database (the frame's
// title and menus).
void onActiveDatabaseChanged(std::function<void()> listener);

// A declared table switched to another database's file for a while: the file
// it had open is closed now and opened again when this ends.
class BorrowedTable {
public:
    explicit BorrowedTable(Table& table);
    ~BorrowedTable();
    BorrowedTable(const BorrowedTable&) = delete;
    BorrowedTable& operator=(const BorrowedTable&) = delete;
    // Opens the table at path; with createMissing a file that is not there is
    // created first. False when it could not be opened.
    bool openAt(const std::string& path, bool createMissing = false, OpenMode mode = OpenMode::SharedReadWrite);

private:
    Table& t_;
    bool wasOpen_;
    std::string oldPath_;
};

// ---- Kinds and directories ----------------------------------------------------
// Besides KindForum, KindMail and KindNews (core/kinds.h):
enum DatabaseKind : int { KindUnknown = 0, KindPersonsOnly = 99 };

// "forum", "mail", "news"; "unknown" for anything else.
const char* kindWord(int kind);
// "F" + number.
std::string databaseDirName(uint32_t dirNumber);
// The directory of a database under the data directory (Mem.FileDir).
std::string databaseDirectory(uint32_t dirNumber);
// The directory number of a name "F<digits>" (letter case ignored), or 0.
uint32_t dirNumberOf(const std::string& dirName);

// One above the directory number of the registry row with the highest ID (1
// with an empty registry), moved on past any number that another row uses
// or whose directory (data or word-index) already exists.
uint32_t nextDirNumber();

// ---- Reading the registry -----------------------------------------------------
// Every Forums row of the kind (0 all kinds), in name order.
std::vector<ForumsRec> listDatabases(int kind = 0);
// The row whose name equals name, letter case and trailing blanks ignored.
bool findDatabaseByName(const std::string& name, ForumsRec& row);
bool findDatabaseById(uint32_t id, ForumsRec& row);
// Sets FOR:NOIMPORT of the row (0 import allowed, 1 not). False after a
// message when the row cannot be held or written.
bool setImportAllowed(uint32_t id, bool allowed);

// ---- Adding ---------------------------------------------------------------------
struct NewDatabase {
    int kind = KindForum;
    std::string name;                       // Windows-1252
    std::string address;                    // mail: the owner's default address
    std::vector<std::string> altAddresses;  // mail: up to ten more
};
// Adds the registry row (new ID, next directory number, created today, word
// list to be rebuilt) in one transaction over Forums and Control, creates
// the database directory with the kind's empty tables and writes the
// self-description. A mail database gets its owner person (AddPers with the
// name and the default address) in the same transaction. Returns the new
// FOR:ID (FOR holds the row), or 0 after a message: "A record with identical
// key already exists!" for a name that is registered already in any letter
// case.
uint32_t addDatabase(const NewDatabase& db);
// Called by addDatabase with the directory number it has chosen, before it
// creates the directory; for tests that let another process add a database
// at that moment.
extern void (*addDatabaseHook)(uint32_t dirNumber);
uint32_t addForumDatabase(const std::string& name);
// Creates the missing tables of the row's kind in its directory and writes
// its self-description, for a row added elsewhere. False after a message.
bool completeDatabaseDirectory(const ForumsRec& row);

// Reads the self-description of database directory dirName under the data
// directory. False when the file is missing or empty.
bool readSelfDescription(const std::string& dirName, ForumRefRec& ref);

// ---- The rebuild log ------------------------------------------------------------
// Home directory + "/CFG/TestDB.Txt".
std::string rebuildLogPath();

class RebuildLog {
public:
    RebuildLog() = default;
    ~RebuildLog();
    RebuildLog(const RebuildLog&) = delete;
    RebuildLog& operator=(const RebuildLog&) = delete;
    bool open(const std::string& path);  // truncates
    void close();
    bool isOpen() const { return f_ != nullptr; }
    void line(const std::string& text);  // ended by CR LF
    void dashes();                        // 53 dashes
private:
    std::FILE* f_ = nullptr;
};

// ---- Database test --------------------------------------------------------------
struct DatabaseTest {
    int kind = KindUnknown;  // 1, 2, 3, 99, or 0 when not recognisable
    bool failed = false;     // a table of the kind failed its test-open
};
// Tests the database directory dirName under the data directory; writes its
// lines to log when given.
DatabaseTest testDatabase(const std::string& dirName, RebuildLog* log);
// The kind from which of IDX003, IDX007, IDX013, IDX025 and IDX005 exist.
int kindFromFiles(bool idx003, bool idx007, bool idx013, bool idx025, bool idx005);

// ---- Step machines -------------------------------------------------------------
// The next-ID check: counts every database, lowers FOR:CREATED to the oldest
// text, and sets the next ID one above the highest ID found anywhere. One
// database per step.
class NextIdCheck {
public:
    NextIdCheck();
    ~NextIdCheck();
    // One batch; false when the work is over (see ok()).
    bool step();
    bool finished() const { return state_ == Done || state_ == Failed; }
    bool ok() const { return state_ == Done; }
    std::string status() const;
    long long done() const { return static_cast<long long>(index_); }
    long long total() const { return static_cast<long long>(ids_.size()); }
    uint32_t highestId() const { return highest_; }

private:
    enum State { Start, Rows, Finish, Done, Failed };
    void release();
    State state_ = Start;
    std::vector<uint32_t> ids_;
    size_t index_ = 0;
    uint32_t highest_ = 0;
    bool opened_ = false;
    bool locked_ = false;
    bool incomplete_ = false;  // a table could not be read
};

// The rebuild: checks the directories, verifies every registry row, attaches
// unrecorded database directories and runs the next-ID check, writing the
// log at rebuildLogPath(). A Cancel on a missing directory throws
// ProgramStop("Program aborted!").
class Rebuild {
public:
    Rebuild();
    ~Rebuild();
    bool step();
    bool finished() const { return state_ == Done || state_ == Aborted; }
    bool aborted() const { return state_ == Aborted; }
    std::string status() const { return status_; }
    long long done() const;
    long long total() const;
    // Counts for the caller's report.
    int removedRows() const { return removed_; }
    int renamedRows() const { return renamed_; }
    int attachedDirs() const { return attached_; }
    // Directories not attached because their name is not "F" + number.
    int refusedDirs() const { return refusedDirs_; }
    // With keep set, rows whose directory is missing or not recognisable
    // stay in the registry (no question is asked); rowsKept() names them,
    // "F<dir><TAB>name" each.
    void keepRowsToDrop(bool keep) { keepRows_ = keep; }
    const std::vector<std::string>& rowsKept() const { return rowsKept_; }
    // The next ID the closing check set; 0 when it did not finish.
    uint32_t nextId() const { return idCheck_ && idCheck_->ok() ? idCheck_->highestId() + 1 : 0; }

private:
    enum State { Start, Rows, RowsEnd, Attach, AttachEnd, IdCheck, Done, Aborted };
    void checkRow(uint32_t id);
    void attachDir(const std::string& name);
    State state_ = Start;
    std::string status_;
    RebuildLog log_;
    std::vector<uint32_t> ids_;
    std::vector<std::string> dirs_;
    std::vector<uint32_t> checkedDirs_;
    std::vector<ForumsRec> changed_;
    size_t index_ = 0;
    int removed_ = 0, renamed_ = 0, attached_ = 0, refusedDirs_ = 0;
    bool keepRows_ = false;
    std::vector<std::string> rowsKept_;
    std::unique_ptr<NextIdCheck> idCheck_;
};

// ---- Removing -------------------------------------------------------------------
// Clears the database from the import definitions (definitions left with no
// target are deleted with their task entries) and deletes its registry row,
// in one transaction. Clears the active database when it was this one.
// False after a message.
bool removeDatabase(uint32_t id);
// Removes the table files of database directory dirNumber (and its word
// index), then the directory when nothing else is left in it. False when a
// file stayed (after a message).
bool removeDatabaseFiles(uint32_t dirNumber);
// The removal of the active database: registry and files.
int removeActiveDatabase();

} // namespace qb
