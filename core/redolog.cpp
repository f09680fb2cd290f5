#include "core/redolog.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>

#include "core/sqltext.h"
#include "core/storage.h"

namespace fs = std::filesystem;

namespace qb::redo {

// ---------------------------------------------------------------- encoding

namespace {

template <class T>
void put(std::string& s, T v) {
    s.append(reinterpret_cast<const char*>(&v), sizeof v);
}

void putString(std::string& s, const std::string& v) {
    put<uint32_t>(s, static_cast<uint32_t>(v.size()));
    s += v;
}

// Reads the encoded values back; every read checks the end.
struct Reader {
    const char* p;
    const char* end;
    bool ok = true;

    template <class T>
    T get() {
        T v{};
        if (end - p < static_cast<ptrdiff_t>(sizeof v)) {
            ok = false;
            p = end;
            return v;
        }
        std::memcpy(&v, p, sizeof v);
        p += sizeof v;
        return v;
    }
    std::string_view bytes(uint32_t n) {
        if (static_cast<size_t>(end - p) < n) {
            ok = false;
            p = end;
            return {};
        }
        std::string_view v(p, n);
        p += n;
        return v;
    }
    std::string_view string() { return bytes(get<uint32_t>()); }
    bool atEnd() const { return p >= end; }
};

uint64_t hashBytes(const char* p, size_t n) {
    uint64_t h = 0xcbf29ce484222325ull;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * 0x100000001b3ull;
        h ^= h >> 29;
    }
    for (; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 0x100000001b3ull;
    return h ^ n;
}

constexpr char kMagic[8] = {'Q', 'B', 'R', 'E', 'D', 'O', '1', '\n'};
constexpr size_t kHeader = 8 + 8 + 8;  // magic, payload length, payload hash

} // namespace

int Writer::fileIndex(const std::string& schema, const std::string& path) {
    for (size_t i = 0; i < files_.size(); ++i)
        if (files_[i].first == schema) return static_cast<int>(i);
    files_.emplace_back(schema, path);
    return static_cast<int>(files_.size() - 1);
}

void Writer::row(char op, int file, int64_t rowid) {
    put<char>(ops_, op);
    put<uint16_t>(ops_, static_cast<uint16_t>(file));
    put<int64_t>(ops_, rowid);
}

void Writer::columns(uint16_t n) { put<uint16_t>(ops_, n); }

void Writer::valueInt(int64_t v) {
    put<char>(ops_, 'i');
    put<int64_t>(ops_, v);
}

void Writer::valueText(const char* p, size_t n) {
    put<char>(ops_, 't');
    put<uint32_t>(ops_, static_cast<uint32_t>(n));
    ops_.append(p, n);
}

void Writer::valueBlob(const char* p, size_t n) {
    put<char>(ops_, 'b');
    put<uint32_t>(ops_, static_cast<uint32_t>(n));
    ops_.append(p, n);
}

void Writer::exec(int file, const std::string& sql) {
    row('X', file, 0);
    putString(ops_, sql);
}

void Writer::clear() {
    ops_.clear();
    files_.clear();
}

// ---------------------------------------------------------------- the log file

namespace {

struct Slot {
    int fd = -1;
    int number = -1;
    pid_t pid = 0;
    std::string dir;
    uint64_t logId = 0;
    uint64_t serial = 0;
    std::vector<std::string> files;  // paths of the current transaction's files
} slot;

std::string slotPath(const std::string& dir, int k) { return dir + "/qbtxn-" + std::to_string(k) + ".redo"; }

bool tryLock(int fd) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

bool syncDirectory(const std::string& dir) {
    int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d < 0) return false;
    bool ok = fsync(d) == 0;
    ::close(d);
    return ok;
}

bool readAll(int fd, std::string& out) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string stampValueOf(uint64_t logId, uint64_t serial) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%016llx:%llu", static_cast<unsigned long long>(logId),
                  static_cast<unsigned long long>(serial));
    return buf;
}

// One transaction as read back from a log.
struct Record {
    uint64_t logId = 0, serial = 0;
    uint32_t slot = 0;
    std::vector<std::pair<std::string, std::string>> files;
    std::string_view ops;
};

// False when the log holds no complete record (it was being written when the
// process died, so none of its files was committed).
bool parse(const std::string& data, Record& r) {
    if (data.size() < kHeader || std::memcmp(data.data(), kMagic, 8) != 0) return false;
    uint64_t len, hash;
    std::memcpy(&len, data.data() + 8, 8);
    std::memcpy(&hash, data.data() + 16, 8);
    if (len > data.size() - kHeader) return false;
    const char* payload = data.data() + kHeader;
    if (hashBytes(payload, len) != hash) return false;
    Reader in{payload, payload + len};
    r.logId = in.get<uint64_t>();
    r.serial = in.get<uint64_t>();
    r.slot = in.get<uint32_t>();
    uint32_t n = in.get<uint32_t>();
    for (uint32_t i = 0; i < n && in.ok; ++i) {
        std::string schema(in.string());
        std::string path(in.string());
        r.files.emplace_back(std::move(schema), std::move(path));
    }
    uint32_t opsLen = in.get<uint32_t>();
    r.ops = in.bytes(opsLen);
    return in.ok;
}

struct Db {
    sqlite3* db = nullptr;
    ~Db() {
        if (db) sqlite3_close_v2(db);
    }
    bool exec(const std::string& sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK; }
};

using sql::quoteId;
using sql::quoteText;

// True when the file attached under table's schema holds the stamp.
bool hasStamp(sqlite3* db, const std::string& metaTable, const std::string& key, const std::string& value) {
    sqlite3_stmt* s = nullptr;
    bool yes = false;
    if (sqlite3_prepare_v2(db, ("SELECT v FROM " + metaTable + " WHERE k = ?1").c_str(), -1, &s, nullptr) ==
        SQLITE_OK) {
        sqlite3_bind_text(s, 1, key.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(s) == SQLITE_ROW) {
            const unsigned char* v = sqlite3_column_text(s, 0);
            yes = v && value == reinterpret_cast<const char*>(v);
        }
    }
    sqlite3_finalize(s);
    return yes;
}

void bindValue(sqlite3_stmt* s, int param, Reader& in) {
    char tag = in.get<char>();
    if (tag == 'i') {
        sqlite3_bind_int64(s, param, in.get<int64_t>());
    } else {
        std::string_view v = in.bytes(in.get<uint32_t>());
        if (tag == 't') sqlite3_bind_text(s, param, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        else if (tag == 'b') sqlite3_bind_blob(s, param, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        else in.ok = false;
    }
}

// Skips the values of a row op that belongs to another file.
void skipValues(Reader& in) {
    uint16_t n = in.get<uint16_t>();
    for (uint16_t i = 0; i < n && in.ok; ++i) {
        char tag = in.get<char>();
        if (tag == 'i') in.get<int64_t>();
        else in.bytes(in.get<uint32_t>());
    }
}

// Brings one file up to the record: nothing when it holds the stamp already,
// else its operations and the stamp in one commit. False when the file could
// not be brought up now.
bool applyFile(const Record& r, size_t fi) {
    const std::string& schema = r.files[fi].first;  // named apart: lambdas below take it
    const std::string& path = r.files[fi].second;
    std::error_code ec;
    if (!fs::exists(path, ec)) return true;  // removed since: nothing to bring up
    Db d;
    if (sqlite3_open_v2(":memory:", &d.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, nullptr) != SQLITE_OK)
        return false;
    prepareConnection(d.db);
    sqlite3_busy_timeout(d.db, 5000);
    if (!d.exec("ATTACH " + quoteText(sql::fileUri(path, false)) + " AS " + quoteId(schema))) return false;
    const std::string key = "redo" + std::to_string(r.slot), value = stampValueOf(r.logId, r.serial);
    auto stamped = [&] { return hasStamp(d.db, quoteId(schema) + ".qb_meta", key, value); };
    if (stamped()) return true;
    if (!d.exec("BEGIN IMMEDIATE")) return false;
    if (stamped()) {  // brought up by another process meanwhile
        d.exec("ROLLBACK");
        return true;
    }
    std::vector<std::string> cols;
    {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(d.db, ("PRAGMA " + quoteId(schema) + ".table_info(r)").c_str(), -1, &s, nullptr) ==
            SQLITE_OK)
            while (sqlite3_step(s) == SQLITE_ROW) cols.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
        sqlite3_finalize(s);
    }
    // A file without row IDs names a row by its key: two numbers packed into
    // the position (the first in the upper 32 bits).
    std::vector<std::string> keyCols;
    {
        sqlite3_stmt* s = nullptr;
        bool withoutRowIds = false;
        if (sqlite3_prepare_v2(d.db, ("SELECT sql FROM " + quoteId(schema) + ".sqlite_master WHERE type='table' AND name='r'").c_str(),
                               -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            const unsigned char* v = sqlite3_column_text(s, 0);
            withoutRowIds = v && std::string(reinterpret_cast<const char*>(v)).find("WITHOUT ROWID") != std::string::npos;
        }
        sqlite3_finalize(s);
        if (withoutRowIds) {
            std::map<int, std::string> pk;
            if (sqlite3_prepare_v2(d.db, ("PRAGMA " + quoteId(schema) + ".table_info(r)").c_str(), -1, &s, nullptr) ==
                SQLITE_OK)
                while (sqlite3_step(s) == SQLITE_ROW)
                    if (int k = sqlite3_column_int(s, 5); k > 0)
                        pk[k] = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
            sqlite3_finalize(s);
            for (auto& [k, c] : pk) keyCols.push_back(c);
            if (keyCols.size() != 2) return false;  // not a layout this log can name rows of
        }
    }
    const std::string whereRow = keyCols.empty() ? std::string("rowid = ?1")
                                                 : quoteId(keyCols[0]) + " = (?1 >> 32) AND " + quoteId(keyCols[1]) +
                                                       " = (?1 & 4294967295)";
    const std::string tab = quoteId(schema) + ".r";
    std::string insWith = "INSERT INTO " + tab + " (rowid", insWithout = "INSERT INTO " + tab + " (", upd =
        "UPDATE " + tab + " SET ";
    for (size_t i = 0; i < cols.size(); ++i) {
        insWith += ", " + quoteId(cols[i]);
        insWithout += (i ? ", " : "") + quoteId(cols[i]);
        upd += (i ? ", " : "") + quoteId(cols[i]) + " = ?" + std::to_string(i + 2);
    }
    insWith += ") VALUES (?1";
    insWithout += ") VALUES (";
    for (size_t i = 0; i < cols.size(); ++i) {
        insWith += ", ?" + std::to_string(i + 2);
        insWithout += (i ? ", ?" : "?") + std::to_string(i + 2);
    }
    insWith += ")";
    insWithout += ")";
    upd += " WHERE " + whereRow;

    // Rows that another process stored meanwhile keep their place; the rows
    // of the transaction then go where there is room.
    std::map<int64_t, int64_t> moved;
    auto target = [&](int64_t rowid) {
        auto it = moved.find(rowid);
        return it == moved.end() ? rowid : it->second;
    };
    auto run = [&](const std::string& sql, int64_t rowid, Reader* values, uint16_t n) -> int {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(d.db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) return SQLITE_ERROR;
        sqlite3_bind_int64(s, 1, rowid);
        for (uint16_t i = 0; values && i < n; ++i) bindValue(s, i + 2, *values);
        int rc = sqlite3_step(s);
        sqlite3_finalize(s);
        return rc;
    };
    auto exists = [&](int64_t rowid) {
        sqlite3_stmt* s = nullptr;
        bool yes = false;
        if (sqlite3_prepare_v2(d.db, ("SELECT 1 FROM " + tab + " WHERE " + whereRow).c_str(), -1, &s, nullptr) ==
            SQLITE_OK) {
            sqlite3_bind_int64(s, 1, rowid);
            yes = sqlite3_step(s) == SQLITE_ROW;
        }
        sqlite3_finalize(s);
        return yes;
    };
    // A hard error (the disk, a lock) leaves the file for a later try; a row
    // that the file refuses (a key stored meanwhile by another process) is left out.
    auto hard = [](int rc) { return rc != SQLITE_DONE && (rc & 0xFF) != SQLITE_CONSTRAINT; };

    Reader in{r.ops.data(), r.ops.data() + r.ops.size()};
    bool failed = false;
    while (!in.atEnd() && in.ok && !failed) {
        char op = in.get<char>();
        uint16_t file = in.get<uint16_t>();
        int64_t rowid = in.get<int64_t>();
        if (op == 'X') {
            std::string sql(in.string());
            if (file == fi) d.exec(sql);
            continue;
        }
        if (op == 'D') {
            if (file == fi && hard(run("DELETE FROM " + tab + " WHERE " + whereRow, target(rowid), nullptr, 0)))
                failed = true;
            continue;
        }
        if (file != fi) {
            skipValues(in);
            continue;
        }
        uint16_t n = in.get<uint16_t>();
        if (n != cols.size()) {  // the file was made anew with another layout
            failed = true;
            break;
        }
        if (op == 'I' && !keyCols.empty()) {
            // The row is its key: one that is there already needs nothing more.
            if (hard(run("INSERT OR IGNORE" + insWithout.substr(6), 0, &in, n))) failed = true;
        } else if (op == 'I') {
            if (!exists(rowid)) {
                if (hard(run(insWith, rowid, &in, n))) failed = true;
            } else {
                int rc = run(insWithout, 0, &in, n);
                if (hard(rc)) failed = true;
                else if (rc == SQLITE_DONE) moved[rowid] = sqlite3_last_insert_rowid(d.db);
            }
        } else if (op == 'U') {
            if (hard(run(upd, target(rowid), &in, n))) failed = true;
        } else failed = true;
    }
    if (!in.ok) failed = true;
    if (!failed)
        failed = !d.exec("INSERT OR REPLACE INTO " + quoteId(schema) + ".qb_meta VALUES (" + quoteText(key) + ", " +
                         quoteText(value) + ")");
    if (failed || !d.exec("COMMIT")) {
        d.exec("ROLLBACK");
        return false;
    }
    return true;
}

// True when every file of the log's record is brought up to it (or the log
// holds no complete record).
bool replay(int fd) {
    std::string data;
    if (!readAll(fd, data)) return false;
    Record r;
    if (!parse(data, r)) return true;
    bool ok = true;
    for (size_t i = 0; i < r.files.size(); ++i)
        if (!applyFile(r, i)) ok = false;
    return ok;
}

bool clearLog(int fd) { return ftruncate(fd, 0) == 0 && fdatasync(fd) == 0; }

void forgetInherited() {
    if (slot.fd >= 0 && slot.pid != getpid()) {
        // A copy of the parent's log after a fork: the parent keeps it.
        ::close(slot.fd);
        slot = Slot{};
    }
}

} // namespace

bool acquire(const std::string& dir) {
    forgetInherited();
    if (slot.fd >= 0 && slot.dir == dir) return true;
    if (slot.fd >= 0) {
        ::close(slot.fd);
        slot = Slot{};
    }
    std::error_code ec;
    fs::create_directories(dir, ec);
    for (int k = 0; k < 1000; ++k) {
        std::string p = slotPath(dir, k);
        bool existed = fs::exists(p, ec);
        int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            setError(errno == EACCES ? ErrAccessDenied : ErrFileSystem, "cannot keep the commit log " + p);
            return false;
        }
        if (!tryLock(fd)) {
            ::close(fd);
            continue;
        }
        struct stat st {};
        if (fstat(fd, &st) == 0 && st.st_size > 0) {
            // Left by a process that died: finish its transaction first.
            if (!replay(fd) || !clearLog(fd)) {
                ::close(fd);
                continue;
            }
        }
        if (!existed) syncDirectory(dir);
        slot.fd = fd;
        slot.number = k;
        slot.pid = getpid();
        slot.dir = dir;
        std::random_device rd;
        slot.logId = (uint64_t(rd()) << 32) ^ rd() ^
                     static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                     (uint64_t(getpid()) << 16);
        slot.serial = 0;
        return true;
    }
    setError(ErrFileSystem, "no commit log free in " + dir);
    return false;
}

void nextSerial() { ++slot.serial; }

std::string stampKey() { return "redo" + std::to_string(slot.number); }

std::string stampValue() { return stampValueOf(slot.logId, slot.serial); }

bool write(const Writer& w) {
    std::string payload;
    put<uint64_t>(payload, slot.logId);
    put<uint64_t>(payload, slot.serial);
    put<uint32_t>(payload, static_cast<uint32_t>(slot.number));
    put<uint32_t>(payload, static_cast<uint32_t>(w.fileList().size()));
    slot.files.clear();
    for (auto& [schema, path] : w.fileList()) {
        putString(payload, schema);
        putString(payload, path);
        slot.files.push_back(path);
    }
    putString(payload, w.ops());
    std::string rec(kMagic, 8);
    put<uint64_t>(rec, payload.size());
    put<uint64_t>(rec, hashBytes(payload.data(), payload.size()));
    rec += payload;
    size_t done = 0;
    while (done < rec.size()) {
        ssize_t n = pwrite(slot.fd, rec.data() + done, rec.size() - done, static_cast<off_t>(done));
        if (n <= 0) {
            setError(ErrFileSystem, std::string("commit log: ") + std::strerror(errno));
            return false;
        }
        done += static_cast<size_t>(n);
    }
    // A longer record of an earlier transaction may follow: the length in the
    // header tells where this one ends.
    if (fdatasync(slot.fd) != 0) {
        setError(ErrFileSystem, std::string("commit log: ") + std::strerror(errno));
        return false;
    }
    return true;
}

bool completeOwn() {
    if (slot.fd < 0) return true;
    return replay(slot.fd);
}

bool noneStamped() {
    const std::string key = stampKey(), value = stampValue();
    for (const std::string& path : slot.files) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            continue;
        }
        const bool yes = hasStamp(db, "qb_meta", key, value);
        sqlite3_close(db);
        if (yes) return false;
    }
    return true;
}

void discardOwn() {
    if (slot.fd >= 0) clearLog(slot.fd);
}

void recoverDead(const std::string& dir) {
    forgetInherited();
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    std::vector<std::string> logs;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 11 && n.compare(0, 6, "qbtxn-") == 0 && n.compare(n.size() - 5, 5, ".redo") == 0)
            logs.push_back(dir + "/" + n);
    }
    closedir(d);
    for (const std::string& p : logs) {
        struct stat st {};
        if (stat(p.c_str(), &st) != 0 || st.st_size == 0) continue;
        int fd = ::open(p.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        // A log whose lock can be taken has no living owner.
        if (tryLock(fd) && replay(fd)) clearLog(fd);
        ::close(fd);
    }
}

} // namespace qb::redo
