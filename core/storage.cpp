// The storage engine over SQLite.
//
// Every table file is an SQLite database holding the rows in table "r", the
// stored layout in "qb_meta", and one index per key. A table normally has a
// connection of its own (where asked, a closed table keeps it, with its
// prepared statements, for the next opening of the same file in this
// process). A transaction over several tables attaches their files to one
// process-wide connection whose main file lies in the engine directory.
// The files keep write-ahead logs; a commit that writes more than one of them
// goes through the commit log (redolog.h) first, so that it ends up either in
// every file or in none, also when the process dies midway.
//
// Open modes, record holds and table locks are open-file-description locks on a
// companion file "<table file>-lock": they are seen by every process and vanish
// with the process that holds them.
#include "core/storage.h"
#include "core/bulkappend.h"
#include "core/fieldput.h"
#include "core/readbatch.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "core/redolog.h"
#include "core/sqltext.h"
#include "core/text.h"

namespace fs = std::filesystem;

namespace qb {

// ---------------------------------------------------------------- errors

namespace {
int gErr = 0;
std::string gErrDetail;
}

int errorCode() { return gErr; }

namespace {
// The error of the moment, kept across clean-up work that sets its own.
struct SavedError {
    int code = gErr;
    std::string detail = gErrDetail;
    void restore() const {
        gErr = code;
        gErrDetail = detail;
    }
};
} // namespace

void setError(int code, std::string detail) {
    gErr = code;
    gErrDetail = std::move(detail);
}

std::string errorText(int code) {
    switch (code) {
    case NoError: return "No error";
    case ErrFileNotFound: return "File not found";
    case ErrPathNotFound: return "Path not found";
    case ErrAccessDenied: return "Access denied";
    case ErrNoMemory: return "Insufficient memory";
    case ErrEntryNotFound: return "Entry not found";
    case ErrRecordNotAvailable: return "Record not available";
    case ErrRecordNotFound: return "Record not found";
    case ErrDuplicateKey: return "Creates duplicate key";
    case ErrRecordHeld: return "Record is already held";
    case ErrInvalidFileName: return "Invalid filename";
    case ErrKeysNeedRebuild: return "Data file has bad keys - rebuild needed";
    case ErrInvalidDeclaration: return "Invalid record declaration";
    case ErrFileAlreadyOpen: return "File already open";
    case ErrInvalidFieldType: return "Invalid field type descriptor";
    case ErrFileSystem: return "File system error";
    default: return "Error " + std::to_string(code);
    }
}

std::string errorText() {
    std::string t = errorText(gErr);
    if (!gErrDetail.empty()) t += " (" + gErrDetail + ")";
    return t;
}

// ---------------------------------------------------------------- helpers

namespace {

int collateNoCase(void*, int na, const void* a, int nb, const void* b) {
    return compare1252(std::string_view(static_cast<const char*>(a), na),
                       std::string_view(static_cast<const char*>(b), nb), true);
}

// A connection's page cache takes memory for each page as it reads it,
// instead of a block for twenty pages made ready at its first read: a
// command reads a few pages of each of several files, and each page of
// memory that a process touches for the first time costs it a fault.
// (Set before the engine starts, so here, when the library is loaded.)
const bool pageCacheConfigured = [] {
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
    return true;
}();

void setupConnection(sqlite3* db) {
    sqlite3_create_collation_v2(db, "QBNOCASE", SQLITE_UTF8, nullptr, collateNoCase, nullptr);
    sqlite3_extended_result_codes(db, 1);
}

// Pages of a table file are read through a memory map (up to 1 GiB of the
// file) instead of one read call each: seeks spread over a large file (the
// sender and receiver keys of a million messages) then cost no system call
// per page. Writes still go through the write-ahead log.
bool readMapping = true;

// Reads of the file at schema through a map, or page by page.
void setMapping(sqlite3* db, const std::string& schema, bool on) {
    const std::string sql = "PRAGMA \"" + schema + "\".mmap_size=" + (on ? "1073741824" : "0");
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
}

void mapForReading(sqlite3* db, const std::string& schema) {
    if (readMapping) setMapping(db, schema, true);
}

} // namespace

void redo::prepareConnection(sqlite3* db) { setupConnection(db); }

void (*storageCommitHook)(int stage) = nullptr;

namespace {

// Map an SQLite result to a storage error.
int mapSqlite(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return NoError;
    case SQLITE_CONSTRAINT: return ErrDuplicateKey;
    case SQLITE_NOMEM: return ErrNoMemory;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return ErrAccessDenied;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ErrRecordHeld;
    case SQLITE_CANTOPEN: return ErrFileNotFound;
    default: return ErrFileSystem;
    }
}

bool failSqlite(sqlite3* db, int rc) {
    setError(mapSqlite(rc), db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    return false;
}

using sql::fileUri;
using sql::quoteId;
const auto& sqlString = sql::quoteText;

std::string columnName(const std::string& field) {
    auto p = field.find(':');
    std::string n = p == std::string::npos ? field : field.substr(p + 1);
    for (auto& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

struct Val {
    bool text = false;
    int64_t i = 0;
    std::string s;
};

// Lock offsets in the companion lock file.
constexpr off_t kModeM = 1, kModeW = 2, kTableLock = 3, kRowBase = off_t(1) << 32;

bool lockByte(int fd, short type, off_t off) {
    if (fd < 0) return true;
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off;
    fl.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

bool lockByteWait(int fd, off_t off, std::chrono::milliseconds wait) {
    auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (lockByte(fd, F_WRLCK, off)) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::vector<Table*>& registry() {
    static std::vector<Table*> r;
    return r;
}

std::string engineDir;
int schemaCounter = 0;

// Where the engine keeps its own files for transactions over the file: the
// engine directory, else the file's own.
std::string engineDirFor(const std::string& path) {
    if (!engineDir.empty()) return engineDir;
    std::string d = fs::path(path).parent_path().string();
    return d.empty() ? "." : d;
}

constexpr int kStreamBatch = 50000;

} // namespace

// ---------------------------------------------------------------- connections

struct Conn {
    sqlite3* db = nullptr;
    bool shared = false;        // the transaction connection
    bool batchOpen = false;     // an implicit batch of streamed writes is open
    int batchWrites = 0;
    bool userTxn = false;
    std::vector<Table*> members;
    std::string dir;                 // engine directory of the shared connection
    pid_t pid = 0;                   // process that made it
    redo::Writer redo;               // what the open transaction wrote
    std::vector<Table*> written;     // the tables it wrote to

    bool exec(const std::string& sql) {
        char* err = nullptr;
        int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
        if (rc != SQLITE_OK) {
            setError(mapSqlite(rc), err ? err : sqlite3_errstr(rc));
            sqlite3_free(err);
            return false;
        }
        return true;
    }
    void commitBatch() {
        if (batchOpen && !userTxn) exec("COMMIT");
        batchOpen = false;
        batchWrites = 0;
    }
};

namespace {
Conn* txnConn = nullptr;
std::string txnPath;  // main file of txnConn
void retireSharedConn();

// Its main file holds nothing; it goes with the connection (a copy of the
// connection in a forked process leaves it to the process that made it).
void closeSharedConn() {
    sqlite3_close_v2(txnConn->db);
    if (txnConn->pid == getpid()) {
        std::error_code ec;
        for (const char* side : {"", "-journal"}) fs::remove(txnPath + side, ec);
    }
    delete txnConn;
    txnConn = nullptr;
    txnPath.clear();
}

Conn* sharedConn(const std::string& dir) {
    std::string path = dir + "/qbtxn-" + std::to_string(getpid()) + ".db";
    if (txnConn) {
        // Keep the connection while its main file is where it belongs; after a
        // change of the engine directory (or its removal) start a new one, so
        // that the super-journal is written where it can be.
        std::error_code ec;
        if (txnConn->userTxn || (path == txnPath && fs::exists(txnPath, ec))) return txnConn;
        retireSharedConn();
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    auto* c = new Conn;
    c->shared = true;
    if (sqlite3_open_v2(path.c_str(), &c->db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        failSqlite(c->db, SQLITE_CANTOPEN);
        sqlite3_close(c->db);
        delete c;
        return nullptr;
    }
    setupConnection(c->db);
    sqlite3_busy_timeout(c->db, 5000);
    c->exec("PRAGMA journal_mode=DELETE");
    // Pages that one commit after another changes (the index pages of a busy
    // key) are copied back into their files once per 4000 logged pages, not
    // once per commit or two.
    c->exec("PRAGMA wal_autocheckpoint=4000");
    c->dir = dir;
    c->pid = getpid();
    txnConn = c;
    txnPath = path;
    return c;
}
} // namespace

void setEngineDirectory(const std::string& dir) { engineDir = dir; }

void setReadMapping(bool on) { readMapping = on; }
bool readMappingOn() { return readMapping; }

namespace {
bool keepClosed = false;  // keepClosedConnections
}

// ---------------------------------------------------------------- table internals

struct Table::Impl {
    Table* t;
    Conn* conn = nullptr;
    bool own = false;           // conn belongs to this table alone
    std::string schema = "main";
    // The column names, one per stored element; made at the first use (a
    // program declares every table at its start and opens few of them).
    mutable std::vector<std::string> colNames_;
    std::vector<int> fieldCol;       // first column of each field
    int memoCol = -1;
    int ncols = 0;
    bool readOnly = false;
    bool keysDropped = false;        // appends left the keys to be built
    // The key whose order the file keeps its rows in, without row IDs (a row's
    // position is then its key values); -1 for a file with row IDs.
    int clusterKey = -1;
    int lockFd = -1;
    int redoFile = -1;               // index in the open transaction's log
    Position heldRow = 0;
    bool tableLocked = false;

    std::map<std::string, sqlite3_stmt*> stmts;
    sqlite3_stmt* cur = nullptr;     // live cursor

    // The file as found at open: a connection kept after the close is used
    // again only for the same file (not one made anew under its name).
    dev_t fileDev = 0;
    ino_t fileIno = 0;
    bool mapped = false;             // the connection reads through a memory map

    // The connection of the last close, kept with its prepared statements
    // for a reopen of the same file in this process: the schema is not read
    // and the statements not prepared again. At rest it holds no lock and no
    // open statement, so other processes see the file as closed.
    struct Parked {
        Conn* conn = nullptr;
        std::map<std::string, sqlite3_stmt*> stmts;
        std::string path;
        bool readOnly = false;
        bool mapped = false;
        dev_t dev = 0;
        ino_t ino = 0;
        pid_t pid = 0;
    } parked;
    int curKey = -1, curDir = 0;
    int curMode = 0, curPhase = 0;   // the cursor's phase and what it was opened at
    std::vector<Val> curVals;
    Position curPos = 0;
    enum Pending { None, Start, FromValues, AfterRow } pending = None;
    int seekKey = -1;
    std::vector<Val> seekVals;

    explicit Impl(Table* table) : t(table) {
        for (const auto& fd : t->fields_) {
            fieldCol.push_back(ncols);
            ncols += fd.dim > 1 ? static_cast<int>(fd.dim) : 1;
        }
        if (t->memo_) memoCol = ncols;
    }

    const std::vector<std::string>& cols() const {
        if (colNames_.empty()) {
            for (const auto& fd : t->fields_) {
                std::string base = columnName(fd.name);
                if (fd.dim <= 1) colNames_.push_back(base);
                else
                    for (uint32_t j = 1; j <= fd.dim; ++j) colNames_.push_back(base + "_" + std::to_string(j));
            }
            if (t->memo_) colNames_.push_back(t->memoName_.empty() ? "MEMO" : columnName(t->memoName_));
        }
        return colNames_;
    }

    std::string tab() const { return quoteId(schema) + ".r"; }
    int totalCols() const { return ncols + (memoCol >= 0 ? 1 : 0); }

    void finalizeAll() {
        for (auto& [k, s] : stmts) sqlite3_finalize(s);
        stmts.clear();
        cur = nullptr;
        curDir = 0;
    }

    // The cached statement id, reset; buildSql() is called only when it is
    // not prepared yet.
    template <class BuildSql>
    sqlite3_stmt* prepare(const std::string& id, BuildSql&& buildSql) {
        auto it = stmts.find(id);
        if (it != stmts.end()) {
            sqlite3_reset(it->second);
            sqlite3_clear_bindings(it->second);
            return it->second;
        }
        sqlite3_stmt* s = nullptr;
        std::string sql = buildSql();
        int rc = sqlite3_prepare_v3(conn->db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
        if (rc != SQLITE_OK) {
            failSqlite(conn->db, rc);
            return nullptr;
        }
        stmts[id] = s;
        return s;
    }

    // A statement of fixed text kept with the connection; the result of
    // preparing it (the statement is reset when it was prepared before).
    int fixed(const char* id, const char* sql, sqlite3_stmt*& out) {
        auto it = stmts.find(id);
        if (it != stmts.end()) {
            sqlite3_reset(it->second);
            out = it->second;
            return SQLITE_OK;
        }
        out = nullptr;
        int rc = sqlite3_prepare_v3(conn->db, sql, -1, SQLITE_PREPARE_PERSISTENT, &out, nullptr);
        if (rc == SQLITE_OK) stmts[id] = out;
        return rc;
    }
    bool execFixed(const char* id, const char* sql) {
        sqlite3_stmt* s = nullptr;
        if (fixed(id, sql, s) != SQLITE_OK) return false;
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        return rc == SQLITE_DONE;
    }

    // Expression of a key component, with the key's collation.
    std::string compExpr(const KeyDef& k, const KeyComp& c) const {
        std::string e = quoteId(cols()[fieldCol[c.field]]);
        if (k.nocase && t->fields_[c.field].type == FieldType::String) e += " COLLATE QBNOCASE";
        return e;
    }

    std::string optionalCond(const KeyDef& k) const {
        std::string r;
        for (auto& c : k.comps) {
            if (!r.empty()) r += " OR ";
            r += quoteId(cols()[fieldCol[c.field]]) +
                 (t->fields_[c.field].type == FieldType::String ? " <> ''" : " <> 0");
        }
        return "(" + r + ")";
    }

    // ---- rows without row IDs
    //
    // A table that is nothing but its key (two unsigned 32-bit numbers under
    // an optional primary key: the master index of the word index) is made
    // without row IDs, its rows kept in that key's order: one B-tree less on
    // disk and no index to build for that key. A row's position is then its
    // key, the first number in the upper 32 bits. Files made with row IDs are
    // read and written as before.
    static int clusterableKey(const Table& t) {
        if (t.kind() != StorageKind::Keyed || t.memo() || t.keys().empty() || t.fields().size() != 2) return -1;
        const KeyDef& k = t.keys().front();
        if (!k.primary || !k.unique || !k.optional || k.nocase || k.onDemand || k.comps.size() != 2) return -1;
        for (size_t i = 0; i < 2; ++i) {
            const KeyComp& c = k.comps[i];
            if (c.descending || c.field != static_cast<int>(i) || t.fields()[i].type != FieldType::ULong ||
                t.fields()[i].dim > 1)
                return -1;
        }
        return 0;
    }

    // The column of part i of the position, and that part of parameter n.
    std::string posCol(size_t i) const {
        return quoteId(cols()[fieldCol[t->keys_[clusterKey].comps[i].field]]);
    }
    static std::string posPart(size_t i, int n) {
        return i == 0 ? "(?" + std::to_string(n) + " >> 32)" : "(?" + std::to_string(n) + " & 4294967295)";
    }
    // The parts of the position that the key k does not hold already (all of
    // them without a key).
    std::vector<size_t> posPartsBeyond(const KeyDef* k) const {
        std::vector<size_t> r;
        for (size_t i = 0; i < 2; ++i) {
            bool inKey = false;
            if (k)
                for (auto& c : k->comps) inKey = inKey || c.field == t->keys_[clusterKey].comps[i].field;
            if (!inKey) r.push_back(i);
        }
        return r;
    }
    std::string posExpr() const {
        if (clusterKey < 0) return "rowid";
        return "((" + posCol(0) + " << 32) | " + posCol(1) + ")";
    }
    std::string posEquals(int n) const {
        if (clusterKey < 0) return "rowid = ?" + std::to_string(n);
        return posCol(0) + " = " + posPart(0, n) + " AND " + posCol(1) + " = " + posPart(1, n);
    }
    // The rows whose position compares by op with parameter n, among rows
    // whose values of key k (if any) are equal.
    std::string posCompare(const std::string& op, int n, const KeyDef* k) const {
        if (clusterKey < 0) return "rowid " + op + " ?" + std::to_string(n);
        auto parts = posPartsBeyond(k);
        if (parts.empty()) return op.size() == 2 ? "1" : "0";  // the key holds the whole position
        std::string lhs, rhs;
        for (size_t i : parts) {
            if (!lhs.empty()) { lhs += ", "; rhs += ", "; }
            lhs += posCol(i);
            rhs += posPart(i, n);
        }
        return "(" + lhs + ") " + op + " (" + rhs + ")";
    }
    // ORDER BY terms of the position after the key k; empty when k holds it.
    std::string posOrder(bool desc, const KeyDef* k) const {
        if (clusterKey < 0) return desc ? "rowid DESC" : "rowid";
        std::string r;
        for (size_t i : posPartsBeyond(k)) r += (r.empty() ? "" : ", ") + posCol(i) + (desc ? " DESC" : "");
        return r;
    }
    int64_t posFromBuffer() const {
        uint32_t part[2];
        for (size_t i = 0; i < 2; ++i)
            std::memcpy(&part[i], static_cast<const char*>(t->buffer_) + t->fields_[t->keys_[clusterKey].comps[i].field].offset, 4);
        return static_cast<int64_t>(uint64_t(part[0]) << 32 | part[1]);
    }
    bool storedAsIndex(size_t k) const { return static_cast<int>(k) != clusterKey; }

    std::string indexSql(size_t ki) const {
        const KeyDef& k = t->keys_[ki];
        std::string sql = std::string("CREATE ") + (k.unique ? "UNIQUE " : "") + "INDEX " + quoteId(schema) +
                          ".k" + std::to_string(ki) + " ON r (";
        for (size_t i = 0; i < k.comps.size(); ++i) {
            if (i) sql += ", ";
            sql += compExpr(k, k.comps[i]) + (k.comps[i].descending ? " DESC" : "");
        }
        sql += ")";
        if (k.optional) sql += " WHERE " + optionalCond(k);
        return sql;
    }

    std::string selectList(bool withMemo) const {
        std::string s = posExpr();
        for (int i = 0; i < totalCols(); ++i) {
            if (i == memoCol && !withMemo) continue;
            s += ", " + quoteId(cols()[i]);
        }
        return s;
    }

    // ---- buffer <-> row

    // The values of the buffer in stored order: numbers, strings without
    // their trailing blanks, then the memo cut at its largest size.
    template <class Number, class Text, class Blob>
    void forEachValue(Number number, Text text, Blob blob) const {
        for (const auto& fd : t->fields_) {
            const char* p = static_cast<const char*>(t->buffer_) + fd.offset;
            uint32_t dim = fd.dim ? fd.dim : 1;
            for (uint32_t e = 0; e < dim; ++e) {
                switch (fd.type) {
                case FieldType::Byte: number(reinterpret_cast<const uint8_t*>(p)[e]); break;
                case FieldType::Short: { int16_t v; std::memcpy(&v, p + 2 * e, 2); number(v); break; }
                case FieldType::Long: { int32_t v; std::memcpy(&v, p + 4 * e, 4); number(v); break; }
                case FieldType::ULong: { uint32_t v; std::memcpy(&v, p + 4 * e, 4); number(v); break; }
                case FieldType::String: {
                    const char* sp = p + size_t(fd.width) * e;
                    text(sp, trimmedLength(sp, fd.width));
                    break;
                }
                }
            }
        }
        if (memoCol >= 0) {
            const std::string& m = *t->memo_;
            size_t n = t->memoMax_ && m.size() > t->memoMax_ ? t->memoMax_ : m.size();
            blob(m.data(), n);
        }
    }

    // The buffer's values as parameters first, first + 1, ...
    void bindRow(sqlite3_stmt* s, int first = 1) const {
        int param = first;
        forEachValue([&](int64_t v) { sqlite3_bind_int64(s, param++, v); },
                     [&](const char* p, size_t n) { sqlite3_bind_text(s, param++, p, static_cast<int>(n), SQLITE_TRANSIENT); },
                     [&](const char* p, size_t n) { sqlite3_bind_blob(s, param++, p, static_cast<int>(n), SQLITE_TRANSIENT); });
    }

    void readField(sqlite3_stmt* s, int col, int f, uint32_t elem) const {
        const auto& fd = t->fields_[f];
        char* p = static_cast<char*>(t->buffer_) + fd.offset;
        switch (fd.type) {
        case FieldType::Byte: reinterpret_cast<uint8_t*>(p)[elem] = static_cast<uint8_t>(sqlite3_column_int64(s, col)); break;
        case FieldType::Short: {
            int16_t v = static_cast<int16_t>(sqlite3_column_int64(s, col));
            std::memcpy(p + 2 * elem, &v, 2);
            break;
        }
        case FieldType::Long: {
            int32_t v = static_cast<int32_t>(sqlite3_column_int64(s, col));
            std::memcpy(p + 4 * elem, &v, 4);
            break;
        }
        case FieldType::ULong: {
            uint32_t v = static_cast<uint32_t>(sqlite3_column_int64(s, col));
            std::memcpy(p + 4 * elem, &v, 4);
            break;
        }
        case FieldType::String: {
            char* sp = p + size_t(fd.width) * elem;
            const unsigned char* v = sqlite3_column_text(s, col);
            size_t n = static_cast<size_t>(sqlite3_column_bytes(s, col));
            if (n > fd.width) n = fd.width;
            if (n) std::memcpy(sp, v, n);
            std::memset(sp + n, ' ', fd.width - n);
            break;
        }
        }
    }

    // Columns of s: rowid, then the selected columns.
    void readRow(sqlite3_stmt* s, bool withMemo) {
        int col = 1;
        for (size_t f = 0; f < t->fields_.size(); ++f) {
            uint32_t dim = t->fields_[f].dim ? t->fields_[f].dim : 1;
            for (uint32_t e = 0; e < dim; ++e) readField(s, col++, static_cast<int>(f), e);
        }
        if (memoCol >= 0 && withMemo) {
            const void* b = sqlite3_column_blob(s, col);
            int n = sqlite3_column_bytes(s, col);
            t->memo_->assign(static_cast<const char*>(b ? b : ""), static_cast<size_t>(n));
        }
        t->current_ = sqlite3_column_int64(s, 0);
    }

    Val keyValFromBuffer(const KeyComp& c) const {
        const auto& fd = t->fields_[c.field];
        const char* p = static_cast<const char*>(t->buffer_) + fd.offset;
        Val v;
        switch (fd.type) {
        case FieldType::Byte: v.i = *reinterpret_cast<const uint8_t*>(p); break;
        case FieldType::Short: { int16_t x; std::memcpy(&x, p, 2); v.i = x; break; }
        case FieldType::Long: { int32_t x; std::memcpy(&x, p, 4); v.i = x; break; }
        case FieldType::ULong: { uint32_t x; std::memcpy(&x, p, 4); v.i = x; break; }
        case FieldType::String: v.text = true; v.s.assign(p, trimmedLength(p, fd.width)); break;
        }
        return v;
    }

    std::vector<Val> keyValsFromBuffer(int key) const {
        std::vector<Val> r;
        for (auto& c : t->keys_[key].comps) r.push_back(keyValFromBuffer(c));
        return r;
    }

    // Key values of the row the statement stands on.
    // Filled in place: a walk through the rows takes no memory per row.
    void keyValsFromRow(sqlite3_stmt* s, int key, std::vector<Val>& r) const {
        const auto& comps = t->keys_[key].comps;
        r.resize(comps.size());
        for (size_t i = 0; i < comps.size(); ++i) {
            const KeyComp& c = comps[i];
            int col = 1 + fieldCol[c.field];
            Val& v = r[i];
            v.text = t->fields_[c.field].type == FieldType::String;
            if (v.text) {
                const unsigned char* x = sqlite3_column_text(s, col);
                v.s.assign(reinterpret_cast<const char*>(x ? x : reinterpret_cast<const unsigned char*>("")),
                           static_cast<size_t>(sqlite3_column_bytes(s, col)));
                v.i = 0;
            } else {
                v.i = sqlite3_column_int64(s, col);
                v.s.clear();
            }
        }
    }

    static void bindVal(sqlite3_stmt* s, int param, const Val& v) {
        if (v.text) sqlite3_bind_text(s, param, v.s.data(), static_cast<int>(v.s.size()), SQLITE_TRANSIENT);
        else sqlite3_bind_int64(s, param, v.i);
    }

    // ---- cursor SQL

    // A positioned read runs through phases, each one index seek in key order;
    // together they cover every row at or after the key values (mode 1) or
    // after the row (mode 2). The key components fall into runs that go the
    // same way in the direction dir; run j of phase j stands past (or at) its
    // values while the runs before it stay equal. Mode 2 starts with the rows
    // whose key values all equal the row's and that come after it by row ID.
    std::vector<std::pair<size_t, size_t>> keyRuns(const KeyDef& k, int dir) const {
        std::vector<std::pair<size_t, size_t>> runs;  // [first, end) of each run
        for (size_t i = 0; i < k.comps.size(); ++i) {
            bool up = (dir > 0) != k.comps[i].descending;
            if (i && up == ((dir > 0) != k.comps[i - 1].descending)) runs.back().second = i + 1;
            else runs.push_back({i, i + 1});
        }
        return runs;
    }

    int phaseCount(int key, int dir, int mode) const {
        if (key < 0 || mode == 0) return 1;
        return static_cast<int>(keyRuns(t->keys_[key], dir).size()) + (mode == 2 ? 1 : 0);
    }

    std::string phaseCond(const KeyDef& k, int dir, int mode, int phase) const {
        auto runs = keyRuns(k, dir);
        std::string eq;
        auto equalUpTo = [&](size_t end) {
            for (size_t i = 0; i < end; ++i) {
                if (!eq.empty()) eq += " AND ";
                eq += compExpr(k, k.comps[i]) + " = ?" + std::to_string(i + 1);
            }
        };
        if (mode == 2 && phase == 0) {
            equalUpTo(k.comps.size());
            return eq + " AND " + posCompare(dir > 0 ? ">" : "<", static_cast<int>(k.comps.size() + 1), &k);
        }
        size_t j = runs.size() - 1 - static_cast<size_t>(phase - (mode == 2 ? 1 : 0));
        equalUpTo(runs[j].first);
        // The run as a row value of plain columns against the values with the
        // key's collation, so that SQLite seeks on every column of the run.
        std::string lhs, rhs;
        for (size_t i = runs[j].first; i < runs[j].second; ++i) {
            const KeyComp& c = k.comps[i];
            if (i > runs[j].first) { lhs += ", "; rhs += ", "; }
            lhs += quoteId(cols()[fieldCol[c.field]]);
            rhs += "?" + std::to_string(i + 1);
            if (k.nocase && t->fields_[c.field].type == FieldType::String) rhs += " COLLATE QBNOCASE";
        }
        bool up = (dir > 0) != k.comps[runs[j].first].descending;
        bool inclusive = mode == 1 && j + 1 == runs.size();
        std::string op = up ? (inclusive ? " >= " : " > ") : (inclusive ? " <= " : " < ");
        return (eq.empty() ? "" : eq + " AND ") + "(" + lhs + ")" + op + "(" + rhs + ")";
    }

    std::string orderBy(int key, int dir) const {
        if (key < 0) return " ORDER BY " + posOrder(dir < 0, nullptr);
        const KeyDef& k = t->keys_[key];
        std::string s = " ORDER BY ";
        for (auto& c : k.comps) {
            bool desc = c.descending != (dir < 0);
            s += compExpr(k, c) + (desc ? " DESC, " : ", ");
        }
        std::string tie = posOrder(dir < 0, &k);
        return tie.empty() ? s.substr(0, s.size() - 2) : s + tie;
    }

    // mode: 0 from the start, 1 at or after values, 2 after the current row
    sqlite3_stmt* cursorStmt(int key, int dir, int mode, int phase, bool withMemo) {
        std::string id = "cur" + std::to_string(key) + "/" + std::to_string(dir) + "/" + std::to_string(mode) + "/" +
                         std::to_string(phase) + (withMemo ? "m" : "");
        return prepare(id, [&] {
            std::string where;
            if (key < 0) {
                if (mode == 1) where = posCompare(dir > 0 ? ">=" : "<=", 1, nullptr);
                if (mode == 2) where = posCompare(dir > 0 ? ">" : "<", 1, nullptr);
            } else {
                const KeyDef& k = t->keys_[key];
                if (k.optional) where = optionalCond(k);
                if (mode) {
                    if (!where.empty()) where += " AND ";
                    where += phaseCond(k, dir, mode, phase);
                }
            }
            std::string sql = "SELECT " + selectList(withMemo) + " FROM " + tab();
            if (!where.empty()) sql += " WHERE " + where;
            sql += orderBy(key, dir);
            return sql;
        });
    }

    void invalidateCursor() {
        if (cur) sqlite3_reset(cur);
        cur = nullptr;
        curDir = 0;
    }

    // ---- writes

    void setCurrent(Position p) { t->current_ = p; }

    bool writable() {
        if (!t->open_) { setError(ErrRecordNotAvailable, "table not open"); return false; }
        if (readOnly) { setError(ErrAccessDenied, "opened read-only"); return false; }
        return true;
    }

    void beforeWrite() {
        invalidateCursor();
        if (t->streaming_ && !conn->userTxn && !conn->batchOpen) {
            if (sqlite3_get_autocommit(conn->db)) conn->exec("BEGIN");
            conn->batchOpen = true;
            conn->batchWrites = 0;
        }
    }

    void afterWrite() {
        if (conn->batchOpen && !conn->userTxn && ++conn->batchWrites >= kStreamBatch) {
            conn->exec("COMMIT");
            conn->exec("BEGIN");
            conn->batchWrites = 0;
        }
    }

    bool stepWrite(sqlite3_stmt* s) {
        int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE) return failSqlite(conn->db, rc);
        return true;
    }

    // ---- the commit log of the open transaction

    bool logging() const { return conn && conn->shared && conn->userTxn; }

    void noteWrite() {
        if (redoFile >= 0) return;
        redoFile = conn->redo.fileIndex(schema, t->path_);
        conn->written.push_back(t);
    }

    // The row as bindRow() stores it.
    void logRow(char op, int64_t rowid) {
        if (!logging()) return;
        noteWrite();
        redo::Writer& w = conn->redo;
        w.row(op, redoFile, rowid);
        if (op == 'D') return;
        w.columns(static_cast<uint16_t>(totalCols()));
        forEachValue([&](int64_t v) { w.valueInt(v); }, [&](const char* p, size_t n) { w.valueText(p, n); },
                     [&](const char* p, size_t n) { w.valueBlob(p, n); });
    }

    // A statement that changes the file as a whole (keys, emptying).
    bool execLogged(const std::string& sql) {
        if (!conn->exec(sql)) return false;
        if (logging()) {
            noteWrite();
            conn->redo.exec(redoFile, sql);
        }
        return true;
    }

    std::string insertSql() const {
        std::string sql = "INSERT INTO " + tab() + " (";
        std::string vals;
        for (int i = 0; i < totalCols(); ++i) {
            if (i) { sql += ", "; vals += ", "; }
            sql += quoteId(cols()[i]);
            vals += "?" + std::to_string(i + 1);
        }
        return sql + ") VALUES (" + vals + ")";
    }

    // Schema changes (dropping or making an index) are refused by SQLite while
    // any statement of the connection is under way: the cursors of every table
    // on it are put aside first (they resume from their saved position).
    void quietConnection() {
        invalidateCursor();
        if (conn)
            for (Table* m : conn->members) m->impl()->invalidateCursor();
    }

    bool dropKeys() {
        quietConnection();
        for (size_t k = 0; k < t->keys_.size(); ++k)
            if (storedAsIndex(k) && !execLogged("DROP INDEX IF EXISTS " + quoteId(schema) + ".k" + std::to_string(k)))
                return false;
        return execLogged("INSERT OR REPLACE INTO " + quoteId(schema) + ".qb_meta VALUES ('keys_pending', '1')");
    }

    // ---- placement of the file on a connection

    bool attachOwn(const std::string& path) {
        sqlite3* db = nullptr;
        // A connection is used by one thread only: no mutex of its own.
        int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
        int rc = sqlite3_open_v2(fileUri(path, false).c_str(), &db, flags, nullptr);
        if (rc != SQLITE_OK) {
            failSqlite(db, rc);
            sqlite3_close(db);
            return false;
        }
        setupConnection(db);
        mapForReading(db, "main");
        mapped = readMapping;
        sqlite3_busy_timeout(db, 5000);
        conn = new Conn;
        conn->db = db;
        own = true;
        schema = "main";
        return true;
    }

    // Keeps the table's own connection after a close instead of closing it;
    // false when it cannot be kept (the caller then closes it). A connection
    // that has the file in write-ahead-log mode is not kept: it would hold
    // the file's read lock and so keep another connection from bringing the
    // file back to rest.
    bool park() {
        if (!keepClosed || !own || !conn || conn->userTxn) return false;
        conn->commitBatch();
        invalidateCursor();
        if (keysDropped || !sqlite3_get_autocommit(conn->db)) return false;
        sqlite3_stmt* mode = nullptr;
        const bool wal = fixed("journal_mode", "PRAGMA main.journal_mode", mode) != SQLITE_OK ||
                         sqlite3_step(mode) != SQLITE_ROW ||
                         sqlite3_stricmp(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), "wal") == 0;
        if (mode) sqlite3_reset(mode);
        if (wal) return false;
        for (auto& [id, s] : stmts) sqlite3_reset(s);
        dropParked();
        parked.conn = conn;
        parked.stmts = std::move(stmts);
        parked.path = t->path_;
        parked.readOnly = readOnly;
        parked.mapped = mapped;
        parked.dev = fileDev;
        parked.ino = fileIno;
        parked.pid = getpid();
        stmts.clear();
        cur = nullptr;
        curDir = 0;
        conn = nullptr;
        own = false;
        return true;
    }

    // Takes the kept connection back for the file at path (found with st);
    // false when there is none for it (a kept one of another file is closed).
    bool unpark(const std::string& path, const struct stat& st) {
        if (!parked.conn) return false;
        if (parked.path != path || parked.readOnly != readOnly || parked.dev != st.st_dev ||
            parked.ino != st.st_ino || parked.pid != getpid()) {
            dropParked();
            return false;
        }
        finalizeAll();
        conn = parked.conn;
        stmts = std::move(parked.stmts);
        own = true;
        schema = "main";
        if (parked.mapped != readMapping) setMapping(conn->db, "main", readMapping);
        mapped = readMapping;
        parked = Parked{};
        return true;
    }

    void dropParked() {
        if (!parked.conn) return;
        for (auto& [id, s] : parked.stmts) sqlite3_finalize(s);
        // A copy inherited by a forked process is closed like the others:
        // it holds no lock at rest.
        sqlite3_close_v2(parked.conn->db);
        delete parked.conn;
        parked = Parked{};
    }

    void detach() {
        finalizeAll();
        if (!conn) return;
        if (own) {
            conn->commitBatch();
            sqlite3_close_v2(conn->db);
            delete conn;
        } else {
            conn->commitBatch();
            if (!readOnly && !conn->userTxn) {
                // At rest a file keeps no write-ahead log, so that it can be
                // read where no log can be made (a read-only disc). While
                // another connection uses it, it stays as it is.
                const SavedError saved;
                sqlite3_busy_timeout(conn->db, 0);
                conn->exec("PRAGMA " + quoteId(schema) + ".journal_mode=DELETE");
                sqlite3_busy_timeout(conn->db, 5000);
                saved.restore();
            }
            conn->exec("DETACH " + quoteId(schema));
            auto& m = conn->members;
            m.erase(std::remove(m.begin(), m.end(), t), m.end());
        }
        conn = nullptr;
        own = false;
    }

    bool moveToShared(Conn* c) {
        if (conn == c) return true;
        detach();
        schema = "s" + std::to_string(++schemaCounter);
        if (!c->exec("ATTACH " + sqlString(fileUri(t->path_, readOnly)) + " AS " + quoteId(schema))) {
            attachOwn(t->path_);
            return false;
        }
        conn = c;
        own = false;
        c->members.push_back(t);
        // Room for the index pages that a batch of several hundred rows dirties
        // across a large file, so that they are not spilled before the commit.
        c->exec("PRAGMA " + quoteId(schema) + ".cache_size=-16384");
        mapForReading(c->db, schema);
        if (!readOnly) {
            // A write-ahead log: one write of each changed page, and a commit
            // over several files is made whole by the commit log. A file that
            // another connection keeps busy stays as it is for now.
            sqlite3_busy_timeout(c->db, 100);
            c->exec("PRAGMA " + quoteId(schema) + ".journal_mode=WAL");
            sqlite3_busy_timeout(c->db, 5000);
            setError(NoError);
        }
        if (t->streaming_) c->exec("PRAGMA " + quoteId(schema) + ".synchronous=OFF");
        return true;
    }
};

// ---------------------------------------------------------------- Table

Table::Table(int number, std::string name, std::string prefix, StorageKind kind, void* buffer, size_t recordSize,
             std::vector<FieldDef> fields, std::vector<KeyDef> keys, std::string* memo, uint32_t memoMax,
             std::string memoName)
    : number_(number), name_(std::move(name)), prefix_(std::move(prefix)), kind_(kind), buffer_(buffer),
      recordSize_(recordSize), fields_(std::move(fields)), keys_(std::move(keys)), memo_(memo), memoMax_(memoMax),
      memoName_(std::move(memoName)) {
    impl_ = std::make_unique<Impl>(this);
    registry().push_back(this);
}

Table::~Table() {
    if (open_) close();
    impl_->dropParked();
    auto& r = registry();
    r.erase(std::remove(r.begin(), r.end(), this), r.end());
}

const KeyDef& Table::key(const std::string& n) const {
    int k = keyIndex(n);
    if (k < 0) throw std::out_of_range("no key " + n + " in " + name_);
    return keys_[k];
}

int Table::keyIndex(const std::string& n) const {
    for (size_t i = 0; i < keys_.size(); ++i)
        if (keys_[i].name == n) return static_cast<int>(i);
    return -1;
}

int Table::fieldIndex(const std::string& n) const {
    for (size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].name == n) return static_cast<int>(i);
    return -1;
}

void Table::clearBuffer() {
    for (auto& f : fields_) {
        char* p = static_cast<char*>(buffer_) + f.offset;
        uint32_t dim = f.dim ? f.dim : 1;
        if (f.type == FieldType::String) std::memset(p, ' ', size_t(f.width) * dim);
        else std::memset(p, 0, detail::elemSize(f.type, 0) * dim);
    }
    if (memo_) memo_->clear();
}

std::string layoutSignature(const Table& t) {
    std::string s = t.kind() == StorageKind::Flat ? "flat;" : "keyed;";
    for (auto& f : t.fields())
        s += f.name + ":" + std::to_string(int(f.type)) + ":" + std::to_string(f.width) + ":" +
             std::to_string(f.dim) + ";";
    if (t.memo()) s += "memo:" + t.memoName() + ":" + std::to_string(t.memoMax()) + ";";
    return s;
}

namespace {

int checkPath(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos || path.back() == '/') return ErrInvalidFileName;
    fs::path p(path);
    fs::path dir = p.parent_path();
    std::error_code ec;
    if (!dir.empty() && !fs::is_directory(dir, ec)) return ErrPathNotFound;
    return NoError;
}

} // namespace

void Table::create(const std::string& path) {
    setError(NoError);
    if (int e = checkPath(path)) { setError(e, path); return; }
    if (open_) close();
    impl_->dropParked();
    redo::recoverDead(engineDirFor(path));
    std::error_code ec;
    fs::remove(path, ec);
    for (const char* side : {"-journal", "-wal", "-shm"}) fs::remove(path + side, ec);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        int e = errno == EACCES ? ErrAccessDenied : mapSqlite(rc);
        setError(e == ErrFileNotFound ? ErrAccessDenied : e, sqlite3_errmsg(db));
        sqlite3_close(db);
        return;
    }
    setupConnection(db);
    Impl& im = *impl_;
    im.clusterKey = Impl::clusterableKey(*this);
    std::string sql = "BEGIN; CREATE TABLE r (";
    for (int i = 0; i < im.totalCols(); ++i) {
        if (i) sql += ", ";
        sql += quoteId(im.cols()[i]);
        sql += i == im.memoCol ? " BLOB" : "";
    }
    if (im.clusterKey >= 0) sql += ", PRIMARY KEY (" + im.posCol(0) + ", " + im.posCol(1) + ")) WITHOUT ROWID";
    else sql += ")";
    sql += "; CREATE TABLE qb_meta (k TEXT PRIMARY KEY, v TEXT);";
    sql += "INSERT INTO qb_meta VALUES ('layout', " + sqlString(layoutSignature(*this)) + ");";
    sql += "INSERT INTO qb_meta VALUES ('keys_pending', '0');";
    std::string saved = im.schema;
    im.schema = "main";
    for (size_t k = 0; k < keys_.size(); ++k)
        if (im.storedAsIndex(k)) sql += im.indexSql(k) + ";";
    im.schema = saved;
    sql += "COMMIT;";
    char* err = nullptr;
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) setError(mapSqlite(rc), err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
}

// ---------------------------------------------------------------- holds

bool ProcessHold::take(const std::string& path) {
    release();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    if (!lockByte(fd, F_WRLCK, 0)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void ProcessHold::release() {
    if (fd_ < 0) return;
    lockByte(fd_, F_UNLCK, 0);
    ::close(fd_);
    fd_ = -1;
}

bool ProcessHold::heldByAnyone(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    const bool held = fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

int64_t storedRowCount(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return -1;
    }
    setupConnection(db);
    sqlite3_stmt* s = nullptr;
    int64_t n = -1;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM r", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        n = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    sqlite3_close(db);
    return n;
}

void Table::open(const std::string& path, OpenMode mode) {
    setError(NoError);
    if (open_) { setError(ErrFileAlreadyOpen, path_); return; }
    if (path.empty() || path.find('\0') != std::string::npos || path.back() == '/') {
        setError(ErrInvalidFileName, path);
        return;
    }
    Impl& im = *impl_;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        // Missing: the file, or the directory it would lie in.
        const int e = checkPath(path);
        setError(e ? e : ErrFileNotFound, path);
        im.dropParked();
        return;
    }
    im.readOnly = mode == OpenMode::SharedReadOnly;
    if (access(path.c_str(), im.readOnly ? R_OK : R_OK | W_OK) != 0) {
        setError(ErrAccessDenied, path);
        return;
    }
    // A transaction that a dead process left in part is finished first, at
    // every opening: also before a kept connection is used again, so that a
    // writer that died while the table was closed is never read half done.
    // (The directory is looked through each time: a log made meanwhile by
    // another process need not change the directory's time stamp in a way
    // that every file system shows at once.)
    redo::recoverDead(engineDirFor(path));
    path_ = path;
    if (!im.unpark(path, st) && !im.attachOwn(path)) { path_.clear(); return; }
    im.fileDev = st.st_dev;
    im.fileIno = st.st_ino;

    // The checks below read the file in one read transaction instead of one
    // each (the file's lock, journal and log are then looked at once).
    const bool checkTxn = im.execFixed("begin", "BEGIN");

    // The stored layout and the state of the keys.
    int err = NoError;
    std::string detail;
    {
        sqlite3_stmt* s = nullptr;
        int rc = im.fixed("meta", "SELECT k, v FROM qb_meta", s);
        if (rc != SQLITE_OK) {
            std::string m = sqlite3_errmsg(im.conn->db);
            err = (rc & 0xFF) == SQLITE_ERROR ? ErrInvalidDeclaration : mapSqlite(rc);
            if ((rc & 0xFF) == SQLITE_NOTADB || (rc & 0xFF) == SQLITE_CORRUPT) err = ErrFileSystem;
            if ((rc & 0xFF) == SQLITE_BUSY) err = ErrAccessDenied;
            detail = m;
        } else {
            std::string layout;
            bool pending = false;
            while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
                std::string k = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
                const unsigned char* v = sqlite3_column_text(s, 1);
                std::string vs = v ? reinterpret_cast<const char*>(v) : "";
                if (k == "layout") layout = vs;
                if (k == "keys_pending") pending = vs == "1";
            }
            if (rc != SQLITE_DONE) { err = ErrFileSystem; detail = sqlite3_errmsg(im.conn->db); }
            else if (layout != layoutSignature(*this)) err = ErrInvalidDeclaration;
            else if (pending) err = ErrKeysNeedRebuild;
        }
        if (s) sqlite3_reset(s);
    }
    im.clusterKey = -1;
    if (!err) {
        // The rows' table and the keys as stored, in one pass over the schema.
        // A file without row IDs keeps its rows in the order of the key that
        // allows it; any other such file is not of this declaration. Every
        // declared key must be stored as declared.
        sqlite3_stmt* s = nullptr;
        std::map<std::string, std::string> have;
        if (im.fixed("schema", "SELECT type, name, sql FROM sqlite_master WHERE sql IS NOT NULL", s) == SQLITE_OK) {
            while (sqlite3_step(s) == SQLITE_ROW) {
                const std::string type = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
                std::string name = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
                std::string sql = reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
                if (type == "index") {
                    have[std::move(name)] = std::move(sql);
                } else if (type == "table" && name == "r" && sql.find("WITHOUT ROWID") != std::string::npos) {
                    im.clusterKey = Impl::clusterableKey(*this);
                    if (im.clusterKey < 0) err = ErrInvalidDeclaration;
                }
            }
            sqlite3_reset(s);
        }
        for (size_t k = 0; k < keys_.size() && !err; ++k) {
            if (!im.storedAsIndex(k)) continue;
            std::string want = im.indexSql(k);
            // sqlite_master keeps the statement without the schema prefix
            auto pos = want.find("\"main\".");
            if (pos != std::string::npos) want.erase(pos, 7);
            auto it = have.find("k" + std::to_string(k));
            if (it == have.end() || it->second != want) err = ErrKeysNeedRebuild;
        }
    }
    if (checkTxn) im.execFixed("commit", "COMMIT");
    // Access mode against the other openers.
    if (!err || err == ErrKeysNeedRebuild) {
        im.lockFd = ::open((path + "-lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        bool ok = true;
        switch (mode) {
        case OpenMode::SharedReadWrite: ok = lockByte(im.lockFd, F_RDLCK, kModeM) && lockByte(im.lockFd, F_RDLCK, kModeW); break;
        case OpenMode::SharedReadOnly: ok = lockByte(im.lockFd, F_RDLCK, kModeM); break;
        case OpenMode::DenyWrite: ok = lockByte(im.lockFd, F_RDLCK, kModeM) && lockByte(im.lockFd, F_WRLCK, kModeW); break;
        case OpenMode::Exclusive: ok = lockByte(im.lockFd, F_WRLCK, kModeM) && lockByte(im.lockFd, F_WRLCK, kModeW); break;
        }
        if (!ok) { err = ErrAccessDenied; detail = "in use by another user"; }
    }
    if (err && err != ErrKeysNeedRebuild) {
        im.detach();
        if (im.lockFd >= 0) ::close(im.lockFd);
        im.lockFd = -1;
        path_.clear();
        setError(err, detail);
        return;
    }
    open_ = true;
    im.keysDropped = err == ErrKeysNeedRebuild;
    current_ = 0;
    im.pending = Impl::None;
    if (err) {
        // The table stays open so that its keys can be built.
        setError(err, detail);
    }
}

void Table::close() {
    setError(NoError);
    if (!open_) return;
    Impl& im = *impl_;
    if (streaming_) flush();
    release();
    unlock();
    if (!im.own && im.conn && im.conn->userTxn) {
        // Detached after the transaction ends.
        im.finalizeAll();
    } else if (!im.park()) im.detach();
    if (im.lockFd >= 0) ::close(im.lockFd);
    im.lockFd = -1;
    open_ = false;
    streaming_ = false;
}

namespace {
// Moves every file of the shared connection back to a connection of its own
// and closes the shared one. No transaction may be open.
void retireSharedConn() {
    if (!txnConn) return;
    auto members = txnConn->members;
    for (Table* t : members) {
        auto* im = t->impl();
        im->detach();
        if (t->isOpen()) im->attachOwn(t->path());
    }
    closeSharedConn();
}
} // namespace

void keepClosedConnections(bool on) {
    keepClosed = on;
    if (on) return;
    for (Table* t : registry()) t->impl()->dropParked();
}

void closeAllTables() {
    if (txnConn && txnConn->userTxn) rollbackTransaction();
    for (Table* t : registry())
        if (t->isOpen()) t->close();
    // Connections kept for closed tables stay while they are asked for: they
    // hold no lock and nothing unwritten (and go with the process).
    for (Table* t : registry()) {
        t->impl()->detach();
        if (!keepClosed) t->impl()->dropParked();
    }
    if (txnConn) closeSharedConn();
}

// ---- reading

bool Table::get(int key) {
    setError(NoError);
    if (!open_) { setError(ErrRecordNotAvailable, "table not open"); return false; }
    if (key < 0 || key >= static_cast<int>(keys_.size())) { setError(ErrInvalidFieldType, "no such key"); return false; }
    Impl& im = *impl_;
    const KeyDef& k = keys_[key];
    std::string id = "get" + std::to_string(key) + (skipMemo_ ? "" : "m");
    sqlite3_stmt* s = im.prepare(id, [&] {
        std::string where = k.optional ? im.optionalCond(k) : "";
        for (size_t i = 0; i < k.comps.size(); ++i) {
            if (!where.empty()) where += " AND ";
            where += im.compExpr(k, k.comps[i]) + " = ?" + std::to_string(i + 1);
        }
        return "SELECT " + im.selectList(!skipMemo_) + " FROM " + im.tab() + " WHERE " + where + im.orderBy(key, 1) +
               " LIMIT 1";
    });
    if (!s) return false;
    auto vals = im.keyValsFromBuffer(key);
    for (size_t i = 0; i < vals.size(); ++i) Impl::bindVal(s, static_cast<int>(i + 1), vals[i]);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        im.readRow(s, !skipMemo_);
        sqlite3_reset(s);
        im.invalidateCursor();
        im.pending = Impl::AfterRow;
        im.seekKey = key;
        im.seekVals = std::move(vals);
        return true;
    }
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) return failSqlite(im.conn->db, rc);
    setError(ErrRecordNotFound);
    return false;
}

void Table::set(int key) {
    setError(NoError);
    Impl& im = *impl_;
    im.invalidateCursor();
    im.pending = Impl::Start;
    im.seekKey = key;
    im.seekVals.clear();
}

void Table::setFrom(int key) {
    setError(NoError);
    Impl& im = *impl_;
    im.invalidateCursor();
    im.pending = Impl::FromValues;
    im.seekKey = key;
    im.seekVals = key >= 0 ? im.keyValsFromBuffer(key) : std::vector<Val>{};
}

void Table::setFile() { set(-1); }

void Table::setAfter(int key, Position p) {
    setFrom(key);
    impl_->pending = Impl::AfterRow;  // as if the row had just been read
    current_ = p;
}

void Table::setRecord(Position p) {
    Impl& im = *impl_;
    im.invalidateCursor();
    im.pending = Impl::FromValues;
    im.seekKey = -1;
    im.seekVals = {Val{false, p, {}}};
}

namespace {
bool step(Table& t, Table::Impl& im, int dir, bool skipMemo) {
    setError(NoError);
    if (!t.isOpen()) { setError(ErrRecordNotAvailable, "table not open"); return false; }
    if (im.pending == Table::Impl::None) { setError(ErrRecordNotAvailable, "no position set"); return false; }
    bool withMemo = !skipMemo;
    // Opens phase `phase` of the cursor at its starting values.
    auto openPhase = [&](int phase) {
        sqlite3_stmt* s = im.cursorStmt(im.curKey, dir, im.curMode, phase, withMemo);
        if (!s) return false;
        if (im.curKey < 0) {
            if (im.curMode == 1) sqlite3_bind_int64(s, 1, im.curVals.empty() ? 0 : im.curVals[0].i);
            if (im.curMode == 2) sqlite3_bind_int64(s, 1, im.curPos);
        } else if (im.curMode) {
            for (size_t i = 0; i < im.curVals.size(); ++i) Table::Impl::bindVal(s, static_cast<int>(i + 1), im.curVals[i]);
            if (im.curMode == 2 && phase == 0)
                sqlite3_bind_int64(s, static_cast<int>(im.curVals.size() + 1), im.curPos);
        }
        im.cur = s;
        im.curPhase = phase;
        return true;
    };
    if (!im.cur || im.curDir != dir) {
        im.curMode = im.pending == Table::Impl::Start ? 0 : im.pending == Table::Impl::FromValues ? 1 : 2;
        im.curKey = im.seekKey;
        im.curVals = im.seekVals;
        im.curPos = t.position();
        if (!openPhase(0)) return false;
        im.curDir = dir;
    }
    int rc = sqlite3_step(im.cur);
    while (rc == SQLITE_DONE && im.curPhase + 1 < im.phaseCount(im.curKey, dir, im.curMode)) {
        sqlite3_reset(im.cur);
        if (!openPhase(im.curPhase + 1)) { im.invalidateCursor(); return false; }
        rc = sqlite3_step(im.cur);
    }
    if (rc == SQLITE_ROW) {
        im.readRow(im.cur, withMemo);
        if (im.seekKey >= 0) im.keyValsFromRow(im.cur, im.seekKey, im.seekVals);
        im.pending = Table::Impl::AfterRow;
        return true;
    }
    im.invalidateCursor();
    if (rc != SQLITE_DONE) return failSqlite(im.conn->db, rc);
    setError(ErrRecordNotAvailable, "end of table");
    return false;
}
} // namespace

bool Table::next() { return step(*this, *impl_, 1, skipMemo_); }
bool Table::previous() { return step(*this, *impl_, -1, skipMemo_); }

bool Table::reget(Position p) { return reget(p, skipMemo_); }

bool Table::reget(Position p, bool withoutMemo) {
    setError(NoError);
    if (!open_) { setError(ErrRecordNotAvailable, "table not open"); return false; }
    Impl& im = *impl_;
    std::string id = std::string("row") + (withoutMemo ? "" : "m");
    sqlite3_stmt* s = im.prepare(
        id, [&] { return "SELECT " + im.selectList(!withoutMemo) + " FROM " + im.tab() + " WHERE " + im.posEquals(1); });
    if (!s) return false;
    sqlite3_bind_int64(s, 1, p);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        im.readRow(s, !withoutMemo);
        sqlite3_reset(s);
        im.invalidateCursor();
        im.pending = Impl::FromValues;  // next continues after this row in file order
        im.seekKey = -1;
        im.seekVals = {Val{false, p + 1, {}}};
        return true;
    }
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) return failSqlite(im.conn->db, rc);
    setError(ErrRecordNotFound);
    return false;
}

// ---- writing

bool Table::add() {
    setError(NoError);
    Impl& im = *impl_;
    if (!im.writable()) return false;
    im.beforeWrite();
    sqlite3_stmt* s = im.prepare("ins", [&] { return im.insertSql(); });
    if (!s) return false;
    im.bindRow(s);
    if (!im.stepWrite(s)) return false;
    current_ = im.clusterKey >= 0 ? im.posFromBuffer() : sqlite3_last_insert_rowid(im.conn->db);
    im.logRow('I', current_);
    im.afterWrite();
    return true;
}

bool Table::append() {
    setError(NoError);
    Impl& im = *impl_;
    if (!im.writable()) return false;
    if (!im.keysDropped) {
        if (!im.dropKeys()) return false;
        im.keysDropped = true;
    }
    return add();
}

namespace {
// Values bound by one statement of a bulk append, at most.
constexpr size_t kBulkValues = 512;
} // namespace

bool appendRows(Table& t, size_t n, bool keysLater, Position& first, const std::function<void(size_t)>& fill) {
    setError(NoError);
    first = 0;
    Table::Impl& im = *t.impl();
    if (!im.writable()) return false;
    if (t.memo()) {
        setError(ErrInvalidDeclaration, "a table with a memo");
        return false;
    }
    if (n == 0) return true;
    if (keysLater && !im.keysDropped) {
        if (!im.dropKeys()) return false;
        im.keysDropped = true;
    }
    if (im.logging()) {
        // The commit log of the open transaction takes each row as add() writes it.
        for (size_t i = 0; i < n; ++i) {
            fill(i);
            if (!t.add()) return false;
            if (i == 0) first = t.position();
        }
        return true;
    }
    im.invalidateCursor();
    im.conn->commitBatch();
    Conn& c = *im.conn;
    if (!c.exec("SAVEPOINT qbbulk")) return false;
    auto undo = [&] {
        const SavedError saved;
        c.exec("ROLLBACK TO qbbulk; RELEASE qbbulk");
        saved.restore();
        first = 0;
        return false;
    };
    Position start = 0;
    if (im.clusterKey < 0) {
        // New rows take the row IDs after the largest one.
        sqlite3_stmt* s = im.prepare("maxrow", [&] { return "SELECT max(rowid) FROM " + im.tab(); });
        if (!s) return undo();
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) start = sqlite3_column_int64(s, 0) + 1;
        sqlite3_reset(s);
        if (rc != SQLITE_ROW) {
            failSqlite(c.db, rc);
            return undo();
        }
    }
    const int cols = im.totalCols();
    const size_t perStatement = std::max<size_t>(1, kBulkValues / static_cast<size_t>(cols));
    sqlite3_stmt* many = n >= perStatement ? im.prepare("bulk", [&] {
        std::string row = "(";
        for (int k = 0; k < cols; ++k) row += std::string(k ? ", " : "") + "?";
        row += ")";
        std::string sql = im.insertSql();
        sql.erase(sql.find(" VALUES ") + 8);
        for (size_t r = 0; r < perStatement; ++r) sql += (r ? ", " : "") + row;
        return sql;
    }) : nullptr;
    if (n >= perStatement && !many) return undo();
    size_t i = 0;
    for (; n - i >= perStatement; i += perStatement) {
        for (size_t r = 0; r < perStatement; ++r) {
            fill(i + r);
            if (i + r == 0 && im.clusterKey >= 0) start = im.posFromBuffer();
            im.bindRow(many, static_cast<int>(r) * cols + 1);
        }
        if (!im.stepWrite(many)) return undo();
    }
    if (i < n) {
        sqlite3_stmt* one = im.prepare("ins", [&] { return im.insertSql(); });
        if (!one) return undo();
        for (; i < n; ++i) {
            fill(i);
            if (i == 0 && im.clusterKey >= 0) start = im.posFromBuffer();
            im.bindRow(one);
            if (!im.stepWrite(one)) return undo();
        }
    }
    if (!c.exec("RELEASE qbbulk")) {
        const SavedError saved;
        if (!sqlite3_get_autocommit(c.db)) c.exec("ROLLBACK");
        saved.restore();
        return false;
    }
    // The buffer holds the last row, and so does the position.
    im.setCurrent(im.clusterKey >= 0 ? im.posFromBuffer() : start + static_cast<Position>(n) - 1);
    first = start;
    return true;
}

bool appendNumberPairs(Table& t, const uint64_t* rows, size_t n, bool keysLater, Position& first) {
    const auto& fields = t.fields();
    if (fields.size() != 2 ||
        std::any_of(fields.begin(), fields.end(), [](const FieldDef& f) { return f.type != FieldType::ULong || f.dim > 1; })) {
        setError(ErrInvalidDeclaration, "not a table of two whole numbers");
        first = 0;
        return false;
    }
    return appendRows(t, n, keysLater, first, [&](size_t i) {
        const uint32_t part[2] = {static_cast<uint32_t>(rows[i] >> 32), static_cast<uint32_t>(rows[i])};
        for (size_t f = 0; f < 2; ++f) std::memcpy(static_cast<char*>(t.buffer()) + fields[f].offset, &part[f], 4);
    });
}

bool Table::put() {
    setError(NoError);
    Impl& im = *impl_;
    if (!im.writable()) return false;
    if (current_ <= 0) { setError(ErrRecordNotAvailable, "no record read"); return false; }
    im.beforeWrite();
    sqlite3_stmt* s = im.prepare("upd", [&] {
        std::string sql = "UPDATE " + im.tab() + " SET ";
        for (int i = 0; i < im.totalCols(); ++i)
            sql += (i ? ", " : "") + quoteId(im.cols()[i]) + " = ?" + std::to_string(i + 1);
        return sql + " WHERE " + im.posEquals(im.totalCols() + 1);
    });
    if (!s) return false;
    im.bindRow(s);
    sqlite3_bind_int64(s, im.totalCols() + 1, current_);
    if (!im.stepWrite(s)) return false;
    if (sqlite3_changes(im.conn->db) == 0) { setError(ErrRecordNotFound); return false; }
    im.logRow('U', current_);
    // Without row IDs the row's position follows its (new) key.
    if (im.clusterKey >= 0) current_ = im.posFromBuffer();
    im.afterWrite();
    return true;
}

bool putFields(Table& t, const std::vector<int>& fields) {
    setError(NoError);
    Table::Impl& im = *t.impl();
    if (!im.writable()) return false;
    const Position row = t.position();
    if (row <= 0) { setError(ErrRecordNotAvailable, "no record read"); return false; }
    if (fields.empty()) { setError(ErrInvalidDeclaration, "no field named"); return false; }
    const auto& defs = t.fields();
    for (int f : fields)
        if (f < 0 || f >= static_cast<int>(defs.size())) { setError(ErrInvalidDeclaration, "no such field"); return false; }
    im.beforeWrite();
    // Every column is bound; the statement names those it writes.
    std::string id = "upd";
    for (int f : fields) id += ":" + std::to_string(f);
    sqlite3_stmt* s = im.prepare(id, [&] {
        std::vector<bool> written(im.totalCols(), false);
        for (int f : fields)
            for (uint32_t e = 0; e < std::max<uint32_t>(defs[f].dim, 1); ++e) written[im.fieldCol[f] + e] = true;
        std::string sql;
        for (int i = 0; i < im.totalCols(); ++i)
            if (written[i]) sql += (sql.empty() ? "" : ", ") + quoteId(im.cols()[i]) + " = ?" + std::to_string(i + 1);
        return "UPDATE " + im.tab() + " SET " + sql + " WHERE " + im.posEquals(im.totalCols() + 1);
    });
    if (!s) return false;
    im.bindRow(s);
    sqlite3_bind_int64(s, im.totalCols() + 1, row);
    if (!im.stepWrite(s)) return false;
    if (sqlite3_changes(im.conn->db) == 0) { setError(ErrRecordNotFound); return false; }
    if (im.logging()) {
        // The commit log holds the row as stored: the fields not written are
        // taken from the file, and the buffer stays as the caller left it.
        const std::string mine(static_cast<const char*>(t.buffer()), t.recordSize());
        const std::string myMemo = t.memo() ? *t.memo() : std::string();
        sqlite3_stmt* r = im.prepare("rowm", [&] {
            return "SELECT " + im.selectList(true) + " FROM " + im.tab() + " WHERE " + im.posEquals(1);
        });
        if (!r) return false;
        sqlite3_bind_int64(r, 1, row);
        const int rc = sqlite3_step(r);
        if (rc == SQLITE_ROW) im.readRow(r, true);
        sqlite3_reset(r);
        if (rc == SQLITE_ROW) im.logRow('U', row);
        std::memcpy(t.buffer(), mine.data(), t.recordSize());
        if (t.memo()) *t.memo() = myMemo;
        if (rc != SQLITE_ROW) return failSqlite(im.conn->db, rc == SQLITE_DONE ? SQLITE_NOTFOUND : rc);
    }
    im.afterWrite();
    return true;
}

bool Table::erase() {
    setError(NoError);
    Impl& im = *impl_;
    if (!im.writable()) return false;
    if (current_ <= 0) { setError(ErrRecordNotAvailable, "no record read"); return false; }
    im.beforeWrite();
    sqlite3_stmt* s = im.prepare("del", [&] { return "DELETE FROM " + im.tab() + " WHERE " + im.posEquals(1); });
    if (!s) return false;
    sqlite3_bind_int64(s, 1, current_);
    if (!im.stepWrite(s)) return false;
    if (sqlite3_changes(im.conn->db) == 0) { setError(ErrRecordNotFound); return false; }
    im.logRow('D', current_);
    if (im.heldRow == current_) release();
    im.afterWrite();
    return true;
}

int64_t Table::records() {
    setError(NoError);
    if (!open_) { setError(ErrRecordNotAvailable, "table not open"); return 0; }
    Impl& im = *impl_;
    sqlite3_stmt* s = im.prepare("count", [&] { return "SELECT count(*) FROM " + im.tab(); });
    if (!s) return 0;
    int64_t n = 0;
    if (sqlite3_step(s) == SQLITE_ROW) n = sqlite3_column_int64(s, 0);
    sqlite3_reset(s);
    return n;
}

bool Table::empty() {
    setError(NoError);
    Impl& im = *impl_;
    if (!im.writable()) return false;
    im.beforeWrite();
    if (!im.execLogged("DELETE FROM " + im.tab())) return false;
    current_ = 0;
    return true;
}

bool Table::pack() {
    setError(NoError);
    Impl& im = *impl_;
    if (!im.writable()) return false;
    im.invalidateCursor();
    im.conn->commitBatch();
    if (!sqlite3_get_autocommit(im.conn->db)) return true;  // packed after the transaction
    return im.conn->exec("VACUUM " + quoteId(im.schema));
}

bool Table::remove() {
    setError(NoError);
    std::string p = path_;
    if (open_) close();
    impl_->dropParked();
    if (p.empty()) { setError(ErrInvalidFileName); return false; }
    std::error_code ec;
    if (!fs::exists(p, ec)) { setError(ErrFileNotFound, p); return false; }
    if (::unlink(p.c_str()) != 0) {
        setError(errno == EACCES || errno == EPERM ? ErrAccessDenied : ErrFileSystem, std::strerror(errno));
        return false;
    }
    for (const char* side : {"-journal", "-wal", "-shm", "-lock"}) fs::remove(p + side, ec);
    return true;
}

bool Table::build() {
    setError(NoError);
    Impl& im = *impl_;
    if (!im.writable()) return false;
    im.quietConnection();
    im.conn->commitBatch();
    bool own = sqlite3_get_autocommit(im.conn->db);
    if (own && !im.conn->exec("SAVEPOINT qbbuild")) return false;
    bool ok = true;
    for (size_t k = 0; k < keys_.size() && ok; ++k)
        ok = !im.storedAsIndex(k) ||
             (im.execLogged("DROP INDEX IF EXISTS " + quoteId(im.schema) + ".k" + std::to_string(k)) &&
              im.execLogged(im.indexSql(k)));
    ok = ok && im.execLogged("INSERT OR REPLACE INTO " + quoteId(im.schema) + ".qb_meta VALUES ('keys_pending', '0')");
    if (own) {
        const SavedError saved;
        im.conn->exec(ok ? "RELEASE qbbuild" : "ROLLBACK TO qbbuild; RELEASE qbbuild");
        if (!ok) saved.restore();
    }
    if (ok) im.keysDropped = false;
    return ok;
}

bool Table::buildKey(int key) {
    setError(NoError);
    Impl& im = *impl_;
    if (!im.writable()) return false;
    if (key < 0 || key >= static_cast<int>(keys_.size())) { setError(ErrInvalidFieldType, "no such key"); return false; }
    if (im.keysDropped) return build();
    if (!im.storedAsIndex(static_cast<size_t>(key))) return true;
    im.quietConnection();
    im.conn->commitBatch();
    return im.execLogged("DROP INDEX IF EXISTS " + quoteId(im.schema) + ".k" + std::to_string(key)) &&
           im.execLogged(im.indexSql(static_cast<size_t>(key)));
}

// ---- holds and locks

bool Table::hold() {
    setError(NoError);
    if (!open_ || current_ <= 0) { setError(ErrRecordNotAvailable); return false; }
    Impl& im = *impl_;
    if (im.heldRow == current_) return true;
    release();
    if (!lockByteWait(im.lockFd, kRowBase + current_, std::chrono::milliseconds(1000))) {
        setError(ErrRecordHeld);
        return false;
    }
    im.heldRow = current_;
    return true;
}

bool Table::holdPosition(Position p) {
    setError(NoError);
    if (!open_) { setError(ErrRecordNotAvailable); return false; }
    Impl& im = *impl_;
    if (im.heldRow != p) {
        release();
        if (!lockByteWait(im.lockFd, kRowBase + p, std::chrono::milliseconds(1000))) {
            setError(ErrRecordHeld);
            return false;
        }
        im.heldRow = p;
    }
    if (!reget(p)) {
        int e = errorCode();
        release();
        setError(e);
        return false;
    }
    return true;
}

void Table::release() {
    Impl& im = *impl_;
    if (im.heldRow) lockByte(im.lockFd, F_UNLCK, kRowBase + im.heldRow);
    im.heldRow = 0;
}

bool Table::lock(int seconds) {
    setError(NoError);
    Impl& im = *impl_;
    if (!open_) { setError(ErrRecordNotAvailable); return false; }
    if (!lockByteWait(im.lockFd, kTableLock, std::chrono::seconds(seconds))) {
        setError(ErrRecordHeld, "table locked by another user");
        return false;
    }
    im.tableLocked = true;
    return true;
}

bool Table::lockedByAnyone() const {
    const Impl& im = *impl_;
    if (im.tableLocked) return true;
    if (!open_ || im.lockFd < 0) return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kTableLock;
    fl.l_len = 1;
    if (fcntl(im.lockFd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

void Table::unlock() {
    Impl& im = *impl_;
    if (im.tableLocked) lockByte(im.lockFd, F_UNLCK, kTableLock);
    im.tableLocked = false;
}

// ---- batch mode

void Table::stream() {
    setError(NoError);
    if (!open_ || streaming_) return;
    streaming_ = true;
    Impl& im = *impl_;
    im.conn->exec("PRAGMA " + quoteId(im.schema) + ".synchronous=OFF");
}

void Table::flush() {
    setError(NoError);
    if (!open_ || !streaming_) return;
    Impl& im = *impl_;
    streaming_ = false;
    im.conn->commitBatch();
    im.conn->exec("PRAGMA " + quoteId(im.schema) + ".synchronous=FULL");
}

// ---------------------------------------------------------------- transactions

bool inTransaction() { return txnConn && txnConn->userTxn; }

void beginReadBatch(const std::vector<Table*>& tables) {
    const SavedError saved;
    for (Table* t : tables) {
        Conn* c = t->isOpen() && t->impl() ? t->impl()->conn : nullptr;
        if (!c || c->userTxn || c->batchOpen || !sqlite3_get_autocommit(c->db)) continue;
        // Held like a batch of streamed writes, so that whatever ends those
        // (a transaction, the table's close) ends this one too.
        if (c->exec("BEGIN")) {
            c->batchOpen = true;
            c->batchWrites = 0;
        }
    }
    saved.restore();
}

void endReadBatch(const std::vector<Table*>& tables) {
    const SavedError saved;
    for (Table* t : tables) {
        Conn* c = t->isOpen() && t->impl() ? t->impl()->conn : nullptr;
        if (c) c->commitBatch();
    }
    saved.restore();
}

bool beginTransaction(const std::vector<Table*>& tables, int timeoutSeconds) {
    setError(NoError);
    if (inTransaction()) { setError(ErrFileSystem, "a transaction is already open"); return false; }
    if (tables.empty()) { setError(ErrFileSystem, "no tables named"); return false; }
    if (tables.size() > 10) { setError(ErrFileSystem, "more than 10 tables in one transaction"); return false; }
    for (Table* t : tables)
        if (!t->isOpen()) { setError(ErrRecordNotAvailable, "table " + t->name() + " not open"); return false; }
    Conn* c = sharedConn(engineDirFor(tables.front()->path()));
    if (!c) return false;
    redo::recoverDead(c->dir);
    c->commitBatch();
    // Make room: files not in this transaction leave the shared connection.
    auto inList = [&](Table* t) { return std::find(tables.begin(), tables.end(), t) != tables.end(); };
    size_t needed = 0;
    for (Table* t : tables)
        if (t->impl()->conn != c) ++needed;
    if (c->members.size() + needed > 10) {
        auto members = c->members;
        for (Table* t : members) {
            if (inList(t)) continue;
            auto* im = t->impl();
            im->detach();
            if (t->isOpen()) im->attachOwn(t->path());
            if (c->members.size() + needed <= 10) break;
        }
    }
    for (Table* t : tables) {
        if (!t->impl()->moveToShared(c)) return false;
    }
    sqlite3_busy_timeout(c->db, timeoutSeconds * 1000);
    bool ok = c->exec("BEGIN IMMEDIATE");
    sqlite3_busy_timeout(c->db, 5000);
    if (!ok) {
        if (errorCode() == ErrRecordHeld) setError(ErrFileSystem, "the tables are in use by another user (time-out)");
        return false;
    }
    c->userTxn = true;
    return true;
}

namespace {
void afterTransaction() {
    txnConn->userTxn = false;
    for (Table* t : txnConn->written) t->impl()->redoFile = -1;
    txnConn->written.clear();
    txnConn->redo.clear();
    // Tables closed during the transaction leave the connection now.
    auto members = txnConn->members;
    for (Table* t : members)
        if (!t->isOpen()) t->impl()->detach();
}
} // namespace

bool commitTransaction() {
    setError(NoError);
    if (!inTransaction()) { setError(ErrFileSystem, "no transaction open"); return false; }
    for (Table* t : txnConn->members) t->impl()->invalidateCursor();
    // Ends the transaction with the error of the step that failed.
    auto fail = [] {
        const SavedError saved;
        txnConn->exec("ROLLBACK");
        afterTransaction();
        saved.restore();
        return false;
    };
    // Each file commits on its own: with more than one written, the whole
    // transaction goes to the commit log first, and each file gets its stamp.
    const bool logged = txnConn->written.size() > 1;
    if (logged) {
        if (!redo::acquire(txnConn->dir)) return fail();
        redo::nextSerial();
        const std::string stamp =
            " VALUES (" + sqlString(redo::stampKey()) + ", " + sqlString(redo::stampValue()) + ")";
        for (Table* t : txnConn->written)
            if (!txnConn->exec("INSERT OR REPLACE INTO " + quoteId(t->impl()->schema) + ".qb_meta" + stamp))
                return fail();
        if (!redo::write(txnConn->redo)) return fail();
        if (storageCommitHook) storageCommitHook(1);
    }
    if (!txnConn->exec("COMMIT")) {
        if (!logged) return fail();
        // Some files may hold the transaction already: it is finished in the
        // others, or, when none holds it, dropped.
        SavedError saved;
        fail();
        if (redo::noneStamped()) {
            redo::discardOwn();
            saved.restore();
            return false;
        }
        if (redo::completeOwn()) {
            redo::discardOwn();
            setError(NoError);
            return true;
        }
        saved.detail += "; the transaction is stored in part and is finished when the tables are opened again";
        saved.restore();
        return false;
    }
    if (storageCommitHook) storageCommitHook(2);
    afterTransaction();
    return true;
}

bool rollbackTransaction() {
    setError(NoError);
    if (!inTransaction()) { setError(ErrFileSystem, "no transaction open"); return false; }
    for (Table* t : txnConn->members) t->impl()->invalidateCursor();
    bool ok = txnConn->exec("ROLLBACK");
    afterTransaction();
    return ok;
}

} // namespace qb
