// Keyed record storage: one SQLite file per table, one record buffer per table.
//
// A table is declared once by its fields (in stored order, with widths and types)
// and its keys. Callers fill the record buffer, call an operation and read the
// buffer back; every operation sets the error number that errorCode() returns.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/fixedstr.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qb {

// Error numbers of the storage layer.
enum StorageError : int {
    NoError = 0,
    ErrFileNotFound = 2,
    ErrPathNotFound = 3,
    ErrAccessDenied = 5,
    ErrNoMemory = 8,
    ErrEntryNotFound = 30,
    ErrRecordNotAvailable = 33,  // also: end of table while iterating
    ErrRecordNotFound = 35,
    ErrDuplicateKey = 40,
    ErrRecordHeld = 43,
    ErrInvalidFileName = 45,
    ErrKeysNeedRebuild = 46,
    ErrInvalidDeclaration = 47,
    ErrFileAlreadyOpen = 52,
    ErrInvalidFieldType = 75,
    ErrFileSystem = 90,
};

int errorCode();
std::string errorText();             // text of the current error
std::string errorText(int code);     // text of any error number
void setError(int code, std::string detail = {});

enum class FieldType : uint8_t { Byte, Short, Long, ULong, String };

struct FieldDef {
    std::string name;   // "FOR:ID"
    FieldType type;
    uint32_t width;     // String: characters; numbers: 0
    uint32_t dim;       // number of array elements (1 = scalar)
    size_t offset;      // offset in the record buffer
};

struct KeyComp {
    int field;          // index into the table's fields
    bool descending = false;
};

struct KeyDef {
    std::string name;   // "MSG:IdKey"
    std::vector<KeyComp> comps;
    bool unique = false;
    bool nocase = false;
    bool primary = false;
    bool optional = false;   // rows whose components are all zero or blank are left out
    bool onDemand = false;   // not maintained by writes; rebuilt by build()
};

enum class OpenMode { SharedReadWrite, SharedReadOnly, DenyWrite, Exclusive };
enum class StorageKind { Keyed, Flat };

class Table;
class Engine;

// A saved position: the row's identity in its file.
using Position = int64_t;

class Table {
public:
    // memo: the table's memo field (at most memoMax bytes), or nullptr when it has none.
    Table(int number, std::string name, std::string prefix, StorageKind kind, void* buffer, size_t recordSize,
          std::vector<FieldDef> fields, std::vector<KeyDef> keys, std::string* memo = nullptr,
          uint32_t memoMax = 0, std::string memoName = {});
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    int number() const { return number_; }
    const std::string& name() const { return name_; }
    const std::string& prefix() const { return prefix_; }
    const std::vector<FieldDef>& fields() const { return fields_; }
    const std::vector<KeyDef>& keys() const { return keys_; }
    const KeyDef& key(const std::string& name) const;  // throws std::out_of_range
    int keyIndex(const std::string& name) const;       // -1 when unknown
    int fieldIndex(const std::string& name) const;     // -1 when unknown
    void* buffer() const { return buffer_; }
    std::string* memo() const { return memo_; }
    uint32_t memoMax() const { return memoMax_; }
    const std::string& memoName() const { return memoName_; }
    size_t recordSize() const { return recordSize_; }
    StorageKind kind() const { return kind_; }

    // The file, fixed at open or create.
    const std::string& path() const { return path_; }
    bool isOpen() const { return open_; }

    // Opening an open table is not an error (error 52 is set, nothing else happens).
    void open(const std::string& path, OpenMode mode);
    void create(const std::string& path);  // empty table with its keys; leaves it closed
    void close();
    void clearBuffer();                    // numbers 0, strings blank, memo empty

    // Reading
    bool get(int key);                     // by the key values in the buffer
    bool get(const std::string& key) { return get(keyIndex(key)); }
    void set(int key);                     // before the first row in key order
    void setFrom(int key);                 // at the first row at or after the buffer's key values
    void set(const std::string& key) { set(keyIndex(key)); }
    void setFrom(const std::string& key) { setFrom(keyIndex(key)); }
    void setRecord(Position p);            // iterate in file order from this row
    // Stand on the row at p in the order of key, its key values taken from the
    // buffer: next reads the row after it, previous the row before it (also
    // when that row is gone meanwhile: then its neighbours in key order).
    void setAfter(int key, Position p);
    void setFile();                        // iterate in file order from the start
    bool next();                           // 33 past the end
    bool previous();                       // 33 before the start
    Position position() const { return current_; }
    bool reget(Position p);                // read the row at a saved position
    bool reget(Position p, bool withoutMemo);
    void skipMemo(bool on) { skipMemo_ = on; }  // read rows without their memo

    // Writing
    bool add();
    bool put();                            // the row last read
    bool erase();                          // the row last read
    bool append();                         // add without key maintenance; build() later
    int64_t records();
    bool empty();
    bool pack();
    bool remove();                         // delete the file (table closed)
    bool build();                          // all keys
    bool buildKey(int key);

    // Holds and locks (between processes; they vanish with the holder)
    bool hold();                           // the row last read; waits at most 1 second
    bool holdPosition(Position p);         // hold and re-read the row at p
    void release();
    bool lock(int seconds);
    void unlock();
    // True when the whole table is locked: by this table object (lock()) or
    // by another process or open.
    bool lockedByAnyone() const;

    // Batch mode: writes are gathered and written together until flush.
    void stream();
    void flush();
    bool streaming() const { return streaming_; }

    // Engine internals
    struct Impl;
    Impl* impl() const { return impl_.get(); }

private:
    friend class Engine;
    int number_;
    std::string name_, prefix_;
    StorageKind kind_;
    void* buffer_;
    size_t recordSize_;
    std::vector<FieldDef> fields_;
    std::vector<KeyDef> keys_;
    std::string* memo_;
    uint32_t memoMax_;
    std::string memoName_;
    std::string path_;
    bool open_ = false;
    bool streaming_ = false;
    bool skipMemo_ = false;
    Position current_ = 0;
    std::unique_ptr<Impl> impl_;
};

// Transactions over a named list of tables: all of them are committed, or none,
// also when the process dies during the commit. One transaction at a time.
bool beginTransaction(const std::vector<Table*>& tables, int timeoutSeconds = 5);
bool commitTransaction();
bool rollbackTransaction();
bool inTransaction();

// Called by a commit over several files once the commit log is on disk (stage 1)
// and once every file is committed (stage 2); for tests that stop a process there.
extern void (*storageCommitHook)(int stage);

// Close every open table (end of program, tests).
void closeAllTables();

// Directory for the engine's own transaction files (the configuration directory).
// Commits over several files are finished from the commit logs kept here.
void setEngineDirectory(const std::string& dir);

// An exclusive hold on a file of its own, taken without waiting. Every other
// process sees it, and so does every other hold of this process; it vanishes
// when it is let go or when the process that has it ends.
class ProcessHold {
public:
    ProcessHold() = default;
    ~ProcessHold() { release(); }
    ProcessHold(const ProcessHold&) = delete;
    ProcessHold& operator=(const ProcessHold&) = delete;
    // False when someone has it already or the file cannot be made.
    bool take(const std::string& path);
    void release();
    bool held() const { return fd_ >= 0; }
    // True while anyone (this process included) has the hold on path.
    static bool heldByAnyone(const std::string& path);

private:
    int fd_ = -1;
};

// Rows in the file at path whatever its stored layout; -1 when it cannot be read.
int64_t storedRowCount(const std::string& path);

// The layout stored with a file, as the declaration would write it.
std::string layoutSignature(const Table& t);

} // namespace qb

// Declaration helpers for the record buffers of the table declarations.
#define QB_FIELD(Rec, member, prefix, type, width)                                                     \
    ::qb::FieldDef { prefix ":" #member, ::qb::FieldType::type, width,                                \
                     static_cast<uint32_t>(sizeof(Rec::member) / ::qb::detail::elemSize(::qb::FieldType::type, width)), \
                     offsetof(Rec, member) }

namespace qb::detail {
constexpr size_t elemSize(FieldType t, uint32_t width) {
    switch (t) {
    case FieldType::Byte: return 1;
    case FieldType::Short: return 2;
    case FieldType::Long:
    case FieldType::ULong: return 4;
    case FieldType::String: return width;
    }
    return 1;
}
} // namespace qb::detail
