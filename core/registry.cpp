#include "core/registry.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/maildb.h"
#include "import/persons.h"

namespace fs = std::filesystem;

namespace qb {

namespace {
std::vector<std::function<void()>>& listeners() {
    static std::vector<std::function<void()>> v;
    return v;
}
void notify() {
    for (auto& f : listeners()) f();
}

const char* const kWarning = "Warning!";

// A directory global without trailing blanks and slashes.
std::string dirOf(std::string_view d) {
    d = rtrim(d);
    size_t n = d.size();
    while (n > 1 && d[n - 1] == '/') --n;
    return std::string(d.substr(0, n));
}

std::string join(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool isDirectory(const std::string& p) {
    std::error_code ec;
    return !p.empty() && fs::is_directory(p, ec);
}

bool fileExists(const std::string& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

bool sameDirectory(const std::string& a, const std::string& b) { return upper(dirOf(a)) == upper(dirOf(b)); }

// Mem.Dirnamn set for the scope, so that table file names point into another
// database directory.
struct DirnamnScope {
    std::string saved;
    explicit DirnamnScope(const std::string& d) : saved(Mem.Dirnamn) { Mem.Dirnamn = d; }
    ~DirnamnScope() { Mem.Dirnamn = saved; }
};

// A table opened through the use-counted open and closed again at scope end.
struct TableUse {
    int number;
    explicit TableUse(int n) : number(n) { OP_CLOSE(OpOpenShared, n); }
    ~TableUse() { OP_CLOSE(OpClose, number); }
    TableUse(const TableUse&) = delete;
    TableUse& operator=(const TableUse&) = delete;
};

// A private twin of one of the declared tables, with its own record buffer:
// used to create, test and scan the files of a database other than the one
// whose tables the rest of the program holds open.
struct Twin {
    std::vector<unsigned char> buf;
    std::string memo;
    std::unique_ptr<Table> t;
    explicit Twin(const Table& of) : buf(of.recordSize() + 8) {
        t = std::make_unique<Table>(of.number(), of.name(), of.prefix(), of.kind(), buf.data(), of.recordSize(),
                                    of.fields(), of.keys(), of.memo() ? &memo : nullptr, of.memoMax(),
                                    of.memoName());
        t->clearBuffer();
    }
    template <class Rec>
    Rec& rec() {
        return *reinterpret_cast<Rec*>(buf.data());
    }
};


// The table numbers of a database of this kind.
std::vector<int> tablesOfKind(int kind) {
    switch (kind) {
    case KindForum: return {1, 3, 4, 5, 6, 7, 9, 23};
    case KindMail: return {1, 4, 5, 9, 13, 17, 23};
    case KindNews: return {1, 3, 4, 5, 6, 7, 9, 23, 25};
    default: return {};
    }
}

std::string fileOfTable(const std::string& dirName, int number) {
    DirnamnScope scope(dirName);
    return tableFileName(number);
}

// Creates the missing table files of a new database. False (error set) when one cannot be created.
bool createTables(const std::string& dirName, int kind) {
    for (int n : tablesOfKind(kind)) {
        const std::string path = fileOfTable(dirName, n);
        if (fileExists(path)) continue;
        Twin twin(*tableByNumber(n));
        twin.t->create(path);
        if (errorCode() != NoError) return false;
    }
    return true;
}

void removeTree(const std::string& dir) {
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
}

std::string u32(uint32_t n) { return std::to_string(n); }

// Whether a registry row uses this ID or directory number (Forums open).
bool idUsed(uint32_t id) {
    ForumsRec saved = FOR;
    Forums.clearBuffer();
    FOR.ID = id;
    bool found = Forums.get(FOR_ForumKey);
    FOR = saved;
    return found;
}
bool dirUsed(uint32_t dir) {
    ForumsRec saved = FOR;
    Forums.clearBuffer();
    FOR.DIRNUMBER = dir;
    bool found = Forums.get(FOR_DirKey);
    FOR = saved;
    return found;
}

void fillRefFrom(const ForumsRec& f, ForumRefRec& r) {
    r = ForumRefRec{};
    r.TYPE = f.TYPE;
    r.DESCRIPTION = f.DESCRIPTION;
    r.PERSONID = 0;
    if (f.TYPE == KindMail) {
        r.PERSONID = static_cast<int32_t>(f.PERSONID);
        r.MAILADDRESS = f.MAILADDRESS;
        for (size_t i = 0; i < 10; ++i) {
            if (f.ALTADDRESS[i].empty()) break;
            r.ALTADDRESS[i] = f.ALTADDRESS[i];
        }
    }
}

bool sameRef(const ForumRefRec& a, const ForumRefRec& b) {
    if (a.TYPE != b.TYPE || !(a.DESCRIPTION == b.DESCRIPTION) || a.PERSONID != b.PERSONID ||
        !(a.MAILADDRESS == b.MAILADDRESS))
        return false;
    for (size_t i = 0; i < 10; ++i)
        if (!(a.ALTADDRESS[i] == b.ALTADDRESS[i])) return false;
    return true;
}

int writeSelfDescriptionAt(const std::string& dirName, const ForumsRec& row, int mode) {
    const std::string path = fileOfTable(dirName, ForumRef.number());
    Twin twin(ForumRef);
    Table& t = *twin.t;
    t.open(path, OpenMode::SharedReadWrite);
    if (errorCode() == ErrFileNotFound || (errorCode() == ErrInvalidDeclaration && storedRowCount(path) == 0)) {
        t.create(path);
        if (errorCode() == NoError) t.open(path, OpenMode::SharedReadWrite);
    }
    if (!t.isOpen()) {
        if (mode == ModeReport || mode == ModeReportRollback) {
            if (mode == ModeReportRollback && inTransaction()) rollbackTransaction();
            if (!unattended())
                ui().message(path, "Record add error!\r\n" + errorText().substr(0, 50), Icon::Exclamation);
        }
        return 0;
    }
    ForumRefRec fresh;
    fillRefFrom(row, fresh);
    int ok = 1;
    t.setFile();
    if (t.next()) {
        if (!sameRef(twin.rec<ForumRefRec>(), fresh)) {
            twin.rec<ForumRefRec>() = fresh;
            ok = UppDat(t, UppPut, mode);
        }
    } else {
        t.clearBuffer();
        twin.rec<ForumRefRec>() = fresh;
        ok = UppDat(t, UppAdd, mode);
    }
    t.close();
    return ok;
}

// Whether any table of these numbers is open on a file in dir.
void closeTablesIn(const std::string& dir) {
    const std::string prefix = dirOf(dir) + "/";
    for (Table* t : allTables())
        if (t->isOpen() && t->path().rfind(prefix, 0) == 0) OP_CLOSE(OpForceClose, t->number());
}

} // namespace

void onActiveDatabaseChanged(std::function<void()> listener) { listeners().push_back(std::move(listener)); }

BorrowedTable::BorrowedTable(Table& table) : t_(table), wasOpen_(table.isOpen()), oldPath_(table.path()) {
    if (wasOpen_) t_.close();
}

BorrowedTable::~BorrowedTable() {
    if (t_.isOpen()) t_.close();
    if (wasOpen_) t_.open(oldPath_, OpenMode::SharedReadWrite);
}

bool BorrowedTable::openAt(const std::string& path, bool createMissing, OpenMode mode) {
    std::error_code ec;
    if (createMissing && !fs::exists(path, ec)) {
        t_.create(path);
        if (errorCode() != NoError) return false;
        if (t_.isOpen()) t_.close();
    }
    t_.open(path, mode);
    return t_.isOpen();
}

bool selectDatabase(uint32_t forumId) {
    ForumsRec row;
    if (!findDatabaseById(forumId, row)) return false;
    FOR = row;
    Mem.ForumNumber = FOR.ID;
    Mem.Description = std::string(FOR.DESCRIPTION.view());
    Mem.Dirnamn = databaseDirName(FOR.DIRNUMBER);
    Mem.ForumType = FOR.TYPE;
    Mem.ForumCheck = FOR.DUMMY;
    Mem.PersonID = FOR.PERSONID;
    Mem.WordListIndexNeedsUpdate = FOR.WORDLISTINDEXNEEDSUPDATE;
    notify();
    return true;
}

void clearActiveDatabase() {
    Mem.ForumNumber = 0;
    Mem.Description.clear();
    Mem.Dirnamn.clear();
    Mem.ForumType = 0;
    Mem.ForumCheck = 0;
    Mem.PersonID = 0;
    Mem.WordListIndexNeedsUpdate = 0;
    notify();
}

// ---------------------------------------------------------------- kinds and directories

const char* kindWord(int kind) {
    switch (kind) {
    case KindForum: return "forum";
    case KindMail: return "mail";
    case KindNews: return "news";
    default: return "unknown";
    }
}

std::string databaseDirName(uint32_t dirNumber) { return "F" + u32(dirNumber); }

std::string databaseDirectory(uint32_t dirNumber) { return join(dirOf(Mem.FileDir), databaseDirName(dirNumber)); }

uint32_t dirNumberOf(const std::string& dirName) {
    if (dirName.size() < 2 || dirName.size() > 11 || (dirName[0] != 'F' && dirName[0] != 'f')) return 0;
    uint64_t n = 0;
    for (size_t i = 1; i < dirName.size(); ++i) {
        if (dirName[i] < '0' || dirName[i] > '9') return 0;
        n = n * 10 + static_cast<uint64_t>(dirName[i] - '0');
    }
    if (dirName[1] == '0' || n > 0xFFFFFFFFu) return 0;  // "F0", "F012": not ours
    return static_cast<uint32_t>(n);
}

uint32_t nextDirNumber() {
    TableUse use(Forums.number());
    ForumsRec saved = FOR;
    uint32_t n = 1;
    Forums.clearBuffer();
    Forums.set(FOR_ForumKey);
    if (Forums.previous()) n = FOR.DIRNUMBER + 1;
    // The row with the highest ID need not hold the highest number (rows
    // attached by the rebuild get new IDs), and a directory may be on the
    // disk without a row: never hand out a number that is in use.
    auto taken = [&](uint32_t d) {
        if (d == 0 || dirUsed(d)) return true;
        if (isDirectory(databaseDirectory(d))) return true;
        if (!sameDirectory(MasIdxPath, Mem.FileDir) && isDirectory(join(dirOf(MasIdxPath), databaseDirName(d))))
            return true;
        return false;
    };
    while (taken(n)) ++n;
    // The read ends here: a cursor left open would keep other processes
    // from writing the database list meanwhile.
    Forums.set(FOR_ForumKey);
    FOR = saved;
    return n;
}

// ---------------------------------------------------------------- reading the registry

std::vector<ForumsRec> listDatabases(int kind) {
    TableUse use(Forums.number());
    ForumsRec saved = FOR;
    std::vector<ForumsRec> out;
    Forums.clearBuffer();
    Forums.set(FOR_AlphaKey);
    while (Forums.next())
        if (kind == 0 || FOR.TYPE == kind) out.push_back(FOR);
    FOR = saved;
    return out;
}

bool findDatabaseByName(const std::string& name, ForumsRec& row) {
    if (rtrim(name).empty() || rtrim(name).size() > ForumsRec{}.DESCRIPTION.size()) return false;
    TableUse use(Forums.number());
    ForumsRec saved = FOR;
    Forums.clearBuffer();
    FOR.DESCRIPTION = name;
    bool found = Forums.get(FOR_AlphaKey);
    if (found) row = FOR;
    FOR = saved;
    return found;
}

bool findDatabaseById(uint32_t id, ForumsRec& row) {
    TableUse use(Forums.number());
    ForumsRec saved = FOR;
    Forums.clearBuffer();
    FOR.ID = id;
    bool found = Forums.get(FOR_ForumKey);
    if (found) row = FOR;
    FOR = saved;
    return found;
}

bool setImportAllowed(uint32_t id, bool allowed) {
    TableUse use(Forums.number());
    Forums.clearBuffer();
    FOR.ID = id;
    if (!HoldRec(Forums, FOR_ForumKey, 1, "")) return false;
    FOR.NOIMPORT = allowed ? 0 : 1;
    int ok = UppDat(Forums, UppPut, ModeReport);
    Forums.release();
    return ok == 1;
}

// ---------------------------------------------------------------- adding

bool readSelfDescription(const std::string& dirName, ForumRefRec& ref) {
    const std::string path = fileOfTable(dirName, ForumRef.number());
    if (!fileExists(path)) return false;
    Twin twin(ForumRef);
    twin.t->open(path, OpenMode::SharedReadOnly);
    if (!twin.t->isOpen()) return false;
    twin.t->setFile();
    bool found = twin.t->next();
    if (found) ref = twin.rec<ForumRefRec>();
    twin.t->close();
    return found;
}

void (*addDatabaseHook)(uint32_t) = nullptr;

uint32_t addDatabase(const NewDatabase& db) {
    const std::string title = db.kind == KindMail ? "Add New Mail Database" : " Add New Forum";
    std::string_view trimmed = rtrim(db.name);
    while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
    const std::string name(trimmed);
    auto refuse = [&](const std::string& text) {
        if (!unattended()) ui().message(title, text, Icon::Exclamation);
        return 0u;
    };
    if (db.kind != KindForum && db.kind != KindMail && db.kind != KindNews) return refuse("Unknown database kind.");
    if (name.empty()) return refuse("Please enter a name for the database.");
    // A name is one line of text: the lists, the log and the command line
    // show it between tabs and line ends.
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F) return refuse("The database name must not contain tabs or line breaks.");
    if (name.size() > ForumsRec{}.DESCRIPTION.size())
        return refuse("The database name is longer than " + std::to_string(ForumsRec{}.DESCRIPTION.size()) +
                      " characters.");
    std::string address;
    std::vector<std::string> alts;
    if (db.kind == KindMail) {
        if (db.altAddresses.size() > 10) return refuse("A mail database has at most 10 alternative addresses.");
        address = normaliseOwnerAddress(db.address);
        // Blank entries are left out: the self-description keeps the
        // alternatives only up to the first blank one.
        for (const std::string& a : db.altAddresses)
            if (std::string n = normaliseOwnerAddress(a); !n.empty()) alts.push_back(n);
        if (address.empty()) return refuse("A mail database needs a default mail address.");
        for (const std::string* a : [&] {
                 std::vector<const std::string*> v{&address};
                 for (auto& x : alts) v.push_back(&x);
                 return v;
             }())
            if (a->size() > ForumsRec{}.MAILADDRESS.size())
                return refuse("The mail address " + *a + " is longer than 60 characters.");
    }
    if (inTransaction()) return refuse("Another transaction is open.");

    TableUse forums(Forums.number());
    TableUse control(Control.number());
    // The directory is claimed by creating it: a directory that exists
    // already belongs to someone else (another process adding a database at
    // the same moment, or files left on the disk) and is never touched; the
    // next free number is tried instead.
    uint32_t dir = nextDirNumber();
    if (addDatabaseHook) addDatabaseHook(dir);
    std::error_code ec;
    if (!isDirectory(dirOf(Mem.FileDir))) fs::create_directories(dirOf(Mem.FileDir), ec);
    bool claimed = false;
    for (int tries = 0; tries < 1000 && !claimed; ++tries) {
        ec.clear();
        const bool wordDirTaken = !sameDirectory(MasIdxPath, Mem.FileDir) &&
                                  isDirectory(join(dirOf(MasIdxPath), databaseDirName(dir)));
        if (!dirUsed(dir) && !wordDirTaken) {
            claimed = fs::create_directory(databaseDirectory(dir), ec);
            if (ec) break;
        }
        if (!claimed) ++dir;
    }
    const std::string dirName = databaseDirName(dir);
    const std::string dirPath = databaseDirectory(dir);
    if (!claimed)
        return refuse("The specified directory " + verbatim(dirPath) + " could not be created.\r\n" +
                      (ec ? ec.message() : std::string("It exists already.")));

    // The directory and its empty tables first: a failure on the way removes
    // them again and leaves no registry row.
    if (!createTables(dirName, db.kind)) {
        const std::string why = errorText();
        removeTree(dirPath);
        return refuse("The specified directory " + verbatim(dirPath) + " could not be created.\r\n" + why);
    }
    const ForumsRec saved = FOR;
    std::unique_ptr<BorrowedTable> person, plink;
    auto giveUp = [&] {
        if (inTransaction()) rollbackTransaction();
        person.reset();
        plink.reset();
        removeTree(dirPath);
        FOR = saved;
        return 0u;
    };

    // The owner person of a mail database is made in the new database's own
    // person tables, in the transaction that adds the row.
    std::vector<Table*> txn{&Forums, &Control};
    if (db.kind == KindMail) {
        person = std::make_unique<BorrowedTable>(Person);
        plink = std::make_unique<BorrowedTable>(PLINK);
        if (!person->openAt(fileOfTable(dirName, Person.number())) ||
            !plink->openAt(fileOfTable(dirName, PLINK.number()))) {
            const std::string why = errorText();
            giveUp();
            return refuse("The tables of the new database cannot be opened.\r\n" + why);
        }
        txn.push_back(&Person);
        txn.push_back(&PLINK);
    }
    beginTransaction(txn);
    if (transactionCheck()) return giveUp();
    const uint32_t id = NextNr();
    if (id == 0) return giveUp();
    uint32_t owner = 0;
    if (db.kind == KindMail) {
        if (AddPers(address, name) != 0) return giveUp();
        owner = PER.PERSONID;
    }
    Forums.clearBuffer();
    FOR.ID = id;
    FOR.DESCRIPTION = name;
    FOR.DIRNUMBER = dir;
    FOR.TYPE = static_cast<uint8_t>(db.kind);
    FOR.CREATED = today();
    FOR.WORDLISTINDEXNEEDSUPDATE = 1;
    if (db.kind == KindMail) {
        FOR.MAILADDRESS = address;
        FOR.PERSONID = owner;
        for (size_t i = 0; i < alts.size(); ++i) FOR.ALTADDRESS[i] = alts[i];
    }
    if (!UppDat(Forums, UppAdd, ModeReport)) return giveUp();
    const ForumsRec row = FOR;
    if (!writeSelfDescriptionAt(dirName, row, ModeReport)) return giveUp();
    if (!commitTransaction()) {
        const std::string why = errorText();
        giveUp();
        return refuse("Transaction Frame Error!\r\n" + why);
    }
    person.reset();
    plink.reset();
    FOR = row;
    return id;
}

uint32_t addForumDatabase(const std::string& name) {
    NewDatabase db;
    db.kind = KindForum;
    db.name = name;
    return addDatabase(db);
}

bool completeDatabaseDirectory(const ForumsRec& row) {
    const std::string dirName = databaseDirName(row.DIRNUMBER);
    if (!createTables(dirName, row.TYPE)) return false;
    return writeSelfDescriptionAt(dirName, row, ModeReport) == 1;
}

// ---------------------------------------------------------------- the log

std::string rebuildLogPath() { return join(join(dirOf(Mem.Net), "CFG"), "TestDB.Txt"); }

RebuildLog::~RebuildLog() { close(); }

bool RebuildLog::open(const std::string& path) {
    close();
    f_ = std::fopen(path.c_str(), "wb");
    return f_ != nullptr;
}

void RebuildLog::close() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
}

void RebuildLog::line(const std::string& text) {
    if (!f_) return;
    std::fwrite(text.data(), 1, text.size(), f_);
    std::fwrite("\r\n", 1, 2, f_);
    std::fflush(f_);
}

void RebuildLog::dashes() { line(std::string(53, '-')); }

// ---------------------------------------------------------------- database test

int kindFromFiles(bool idx003, bool idx007, bool idx013, bool idx025, bool idx005) {
    if (idx013 && !idx003) return KindMail;
    if (idx025 && idx003 && idx007 && !idx013) return KindNews;
    if (idx003 && idx007 && !idx013 && !idx025) return KindForum;
    if (idx005 && !idx003 && !idx007 && !idx013 && !idx025) return KindPersonsOnly;
    return KindUnknown;
}

DatabaseTest testDatabase(const std::string& dirName, RebuildLog* log) {
    auto write = [&](const std::string& s) {
        if (log) log->line(s);
    };
    const std::string dir = join(dirOf(Mem.FileDir), dirName);
    const int probe[5] = {3, 7, 13, 25, 5};
    bool has[5];
    for (int i = 0; i < 5; ++i) has[i] = fileExists(fileOfTable(dirName, probe[i]));

    DatabaseTest result;
    result.kind = kindFromFiles(has[0], has[1], has[2], has[3], has[4]);
    if (result.kind == KindUnknown) {
        write("Error .. Database type not recognizable");
        for (int i = 0; i < 5; ++i) {
            char file[16];
            std::snprintf(file, sizeof file, "IDX%03d.TPS", probe[i]);
            write(".. " + join(dir, file) + (has[i] ? " exists" : " does not exist"));
        }
        write("This database may contains surplus files that do not belong there.");
        write("Please remove them (see below) and run Rebuild again.");
        write("1. A Mail database should never contain idx003.tps,idx007.tps or idx025.tps.");
        write("2. A Forum message database should never contain idx013.tps or idx025.tps.");
        write("3. A Newsgroup database should never contain idx013.tps.");
        write("");
        return result;
    }

    struct Item {
        int number;
        const char* description;
    };
    std::vector<Item> items;
    switch (result.kind) {
    case KindMail: items = {{13, "mail header"}, {4, "mail text"}, {5, "mail partner"}}; break;
    case KindForum:
        items = {{3, "Forum msg header"}, {4, "Forum msg text"}, {6, "Forum section"}, {7, "Forum thread"},
                 {5, "Forum member"}};
        break;
    case KindNews:
        items = {{3, "newsgroup header"}, {4, "newsgroup text"}, {6, "newsgroup section"},
                 {7, "newsgroup thread"}, {5, "newsgroup participant"}};
        break;
    default: items = {{5, "single person"}}; break;
    }
    for (const Item& it : items) {
        const std::string path = fileOfTable(dirName, it.number);
        bool ok;
        if (openCount(it.number) == 0) {
            DirnamnScope scope(dirName);
            layoutDiffers = false;
            OP_CLOSE(OpTest, it.number);
            ok = !layoutDiffers;
            layoutDiffers = false;
        } else {
            // The table is in use (by the active database): test a twin, so
            // that the open one stays open.
            Twin twin(*tableByNumber(it.number));
            twin.t->open(path, OpenMode::SharedReadOnly);
            ok = twin.t->isOpen();
            if (twin.t->isOpen()) twin.t->close();
        }
        if (!ok) result.failed = true;
        write(std::string(ok ? "OK .. testing " : "Faling test ") + it.description + " file " + path);
    }
    return result;
}

// ---------------------------------------------------------------- next-ID check

namespace {

// The highest value of an ID field over the rows of one table of a database:
// by the key (last row, or first row for a descending key) when given, else
// over every row. False when the file exists but cannot be read.
template <class Rec>
bool highestIn(const std::string& dirName, const Table& of, int key, bool descendingKey, uint32_t Rec::*field,
               uint32_t& m) {
    const std::string path = fileOfTable(dirName, of.number());
    if (!fileExists(path)) return true;
    Twin twin(of);
    Table& t = *twin.t;
    t.open(path, OpenMode::SharedReadOnly);
    if (!t.isOpen()) return false;
    t.skipMemo(true);
    Rec& r = twin.rec<Rec>();
    if (key >= 0) {
        t.set(key);
        bool found = descendingKey ? t.next() : t.previous();
        if (found) m = std::max(m, r.*field);
    } else {
        t.setFile();
        while (t.next()) m = std::max(m, r.*field);
    }
    t.close();
    return true;
}

} // namespace

NextIdCheck::NextIdCheck() = default;
NextIdCheck::~NextIdCheck() { release(); }

void NextIdCheck::release() {
    if (!opened_) return;
    if (Forums.streaming()) Forums.flush();
    if (locked_) Forums.unlock();
    locked_ = false;
    OP_CLOSE(OpClose, Forums.number(), Control.number());
    opened_ = false;
}

std::string NextIdCheck::status() const {
    return finished() ? "Checking for highest existing ID ...OK!" : "Checking for highest existing ID ...";
}

bool NextIdCheck::step() {
    switch (state_) {
    case Start: {
        OP_CLOSE(OpOpenShared, Forums.number(), Control.number());
        opened_ = true;
        if (!Forums.lock(5)) {
            if (!unattended())
                ui().message(" Next ID check", "The database list is in use by another user.\r\n" + errorText(),
                             Icon::Exclamation);
            release();
            state_ = Failed;
            return false;
        }
        locked_ = true;
        Forums.clearBuffer();
        Forums.set(FOR_ForumKey);
        while (Forums.next()) ids_.push_back(FOR.ID);
        Forums.stream();
        state_ = Rows;
        return true;
    }
    case Rows: {
        if (index_ >= ids_.size()) {
            state_ = Finish;
            return true;
        }
        const uint32_t id = ids_[index_++];
        Forums.clearBuffer();
        FOR.ID = id;
        if (!Forums.get(FOR_ForumKey)) return true;
        if (FOR.CREATED == 0) FOR.CREATED = today();
        const std::string dirName = databaseDirName(FOR.DIRNUMBER);
        if (!isDirectory(databaseDirectory(FOR.DIRNUMBER))) {
            // Nothing to count where there is no directory; the row is left
            // to the rebuild, which asks about it.
            UppDat(Forums, UppPut, ModeReport);
            return true;
        }
        const std::string textPath = fileOfTable(dirName, MsgText.number());
        uint32_t count = 0;
        bool counted = true;
        if (fileExists(textPath)) {
            Twin twin(MsgText);
            Table& t = *twin.t;
            t.open(textPath, OpenMode::SharedReadOnly);
            if (t.isOpen()) {
                t.skipMemo(true);
                const int64_t n = t.records();
                count = n > 0 ? static_cast<uint32_t>(n) : 0;
                if (count > 0) {
                    MsgTextRec& r = twin.rec<MsgTextRec>();
                    t.clearBuffer();
                    r.DATE = 71000;
                    t.setFrom(TXT_DateKey);
                    if (t.next()) {
                        FOR.LOWDATE = r.DATE;
                        if (FOR.LOWDATE > 0 && FOR.LOWDATE < FOR.CREATED) FOR.CREATED = FOR.LOWDATE;
                    }
                }
                t.close();
            } else {
                incomplete_ = true;
                counted = false;  // the stored count stays
            }
        }
        if (counted) {
            FOR.MSGCOUNT = count;
            FOR.COUNTFLAG = 0;
        }
        // The ID tables are read also when no text is left: persons, topics,
        // threads and sections outlive a purge of every message, and the
        // generator must not hand out their IDs again.
        uint32_t m = highest_;
        bool ok = true;
        ok &= highestIn<PersonRec>(dirName, Person, PER_PersonKey, false, &PersonRec::PERSONID, m);
        ok &= highestIn<CodesRec>(dirName, Codes, -1, false, &CodesRec::ID, m);
        if (FOR.TYPE == KindMail) {
            ok &= highestIn<MsgTextRec>(dirName, MsgText, TXT_IdKey, false, &MsgTextRec::MSGNUMBER, m);
        } else {
            ok &= highestIn<ThreadsRec>(dirName, Threads, THR_ThreadKey, false, &ThreadsRec::THREADNUMBER, m);
            ok &= highestIn<SectionsRec>(dirName, Sections, SEC_SysIdKey, false, &SectionsRec::SECSYSID, m);
            if (FOR.TYPE == KindNews) {
                ok &= highestIn<MsgNmbrRec>(dirName, MsgNmbr, MSG_IdKey, true, &MsgNmbrRec::MSGNUMBER, m);
                ok &= highestIn<MessageIdsRec>(dirName, MessageIds, MST_IDKEY, false, &MessageIdsRec::MSGNUMBER, m);
            }
        }
        if (!ok) incomplete_ = true;
        highest_ = m;
        UppDat(Forums, UppPut, ModeReport);
        return true;
    }
    case Finish: {
        Forums.flush();
        uint32_t m = highest_;
        Forums.clearBuffer();
        Forums.set(FOR_ForumKey);
        if (Forums.previous()) m = std::max(m, FOR.ID);
        {
            TableUse tasks(Tasks.number());
            Tasks.clearBuffer();
            Tasks.set(TAS_IDKEY);
            if (Tasks.previous()) m = std::max(m, TAS.ID);
        }
        {
            TableUse batch(Batch.number());
            Batch.clearBuffer();
            Batch.set(BAT_IDKEY);
            if (Batch.previous()) m = std::max(m, BAT.ID);
        }
        highest_ = m;
        bool ok = true;
        Control.clearBuffer();
        CTL.ID = 1;
        if (Control.get(CTL_IdKey)) {
            if (HoldRec(Control, CTL_IdKey, 1, "")) {
                // A table that could not be read may hold higher IDs: then the
                // counter is never moved down.
                uint32_t next = m + 1;
                if (incomplete_ && CTL.NEXTNUMBER > next) next = CTL.NEXTNUMBER;
                CTL.NEXTNUMBER = next;
                ok = UppDat(Control, UppPut, ModeReport) == 1;
                Control.release();
            } else {
                ok = false;
            }
        } else {
            Control.clearBuffer();
            CTL.ID = 1;
            CTL.NEXTNUMBER = m + 1;
            ok = UppDat(Control, UppAdd, ModeReport) == 1;
        }
        release();
        state_ = ok ? Done : Failed;
        return false;
    }
    default:
        return false;
    }
}

// ---------------------------------------------------------------- rebuild

namespace {

std::string kindLabel(int kind) {
    switch (kind) {
    case KindForum: return "Forum      F";
    case KindMail: return "Mail       F";
    case KindNews: return "Newsgroup  F";
    default: return "Invalid DB F";
    }
}

// The subdirectories "F" + number of the data directory, by number.
std::vector<std::pair<uint32_t, std::string>> databaseDirectories() {
    std::vector<std::pair<uint32_t, std::string>> found;
    std::error_code ec;
    for (fs::directory_iterator it(dirOf(Mem.FileDir), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ec2;
        if (!it->is_directory(ec2)) continue;
        const std::string name = it->path().filename().string();
        if (uint32_t n = dirNumberOf(name)) found.emplace_back(n, name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

bool messageDatabase(int kind) { return kind == KindForum || kind == KindMail || kind == KindNews; }

void notRecognisable(const std::string& name, const std::string& dir) {
    if (unattended()) return;
    ui().message(kWarning,
                 "Database " + verbatim(name) + " in directory " + verbatim(dir) +
                     " is not a recognizable current version Quillbox database.\r\n" +
                     "The database definition will be removed from the database list but the database will be "
                     "left as is.\r\nPlease check the log file testdb.txt in directory cfg for details.",
                 Icon::Exclamation);
}

} // namespace

Rebuild::Rebuild() = default;
Rebuild::~Rebuild() = default;

long long Rebuild::done() const {
    if (state_ == IdCheck && idCheck_) return idCheck_->done();
    return static_cast<long long>(index_);
}

long long Rebuild::total() const {
    if (state_ == Rows) return static_cast<long long>(ids_.size());
    if (state_ == Attach) return static_cast<long long>(dirs_.size());
    if (state_ == IdCheck && idCheck_) return idCheck_->total();
    return 0;
}

bool Rebuild::step() {
    switch (state_) {
    case Start: {
        if (!log_.open(rebuildLogPath()) && !unattended())
            ui().message(kWarning, "The log file " + verbatim(rebuildLogPath()) + " cannot be written.", Icon::Exclamation);
        status_ = "Checking the Quillbox directory structure ...";
        log_.line(status_);
        const std::string data = dirOf(Mem.FileDir), words = dirOf(MasIdxPath), temp = dirOf(Mem.TempDir);
        const bool haveData = isDirectory(data);
        if (!haveData)
            ui().message(kWarning, "Database directory path " + verbatim(data) + " does not exist!\r\n" +
                                       "Check the directory for database files in Preferences.", Icon::Exclamation);
        if (!isDirectory(words))
            ui().message(kWarning, "WordSearch index file directory path " + verbatim(words) + " does not exist!\r\n" +
                                       "Check the directory for WordSearch index files in Preferences.",
                         Icon::Exclamation);
        if (!isDirectory(temp))
            ui().message(kWarning, "The temporary file directory path " + verbatim(temp) + " does not exist!\r\n" +
                                       "Check the directory for temporary files in Preferences.", Icon::Exclamation);
        if (!haveData) {
            // Without the data directory every database would look lost:
            // the registry is left as it is.
            log_.line("Database directory path " + data + " does not exist!");
            log_.line("Rebuild process aborted.");
            log_.close();
            status_ = "Rebuild process aborted.";
            state_ = Aborted;
            return false;
        }
        // A data directory without any database directory is most likely
        // the wrong one: the rebuild ends before it drops every row.
        if (databaseDirectories().empty()) {
            log_.line("No database available at " + data + ".");
            log_.line("Rebuild process aborted.");
            log_.close();
            ui().message("No databases!", "No database available at " + verbatim(data) + ".\r\nRebuild process aborted.",
                         Icon::Exclamation);
            status_ = "Rebuild process aborted.";
            state_ = Aborted;
            return false;
        }
        log_.line("Checking the Quillbox directory structure ...OK!");

        status_ = "Checking the existing Quillbox database list ...";
        log_.line(status_);
        log_.dashes();
        log_.line(" Databases recorded in the IDX002.TPS file");
        log_.dashes();
        {
            TableUse use(Forums.number());
            Forums.clearBuffer();
            Forums.set(FOR_ForumKey);
            while (Forums.next()) ids_.push_back(FOR.ID);
        }
        index_ = 0;
        state_ = Rows;
        return true;
    }
    case Rows:
        if (index_ < ids_.size()) {
            checkRow(ids_[index_++]);
            return true;
        }
        state_ = RowsEnd;
        return true;
    case RowsEnd: {
        if (!changed_.empty()) {
            TableUse use(Forums.number());
            for (const ForumsRec& row : changed_) {
                Forums.clearBuffer();
                FOR.ID = row.ID;
                if (!HoldRec(Forums, FOR_ForumKey, 1, "")) continue;
                FOR.DESCRIPTION = row.DESCRIPTION;
                const bool put = UppDat(Forums, UppPut, ModeReport) == 1;
                Forums.release();
                if (!put) continue;
                ++renamed_;
                if (Mem.ForumNumber == row.ID) selectDatabase(row.ID);  // the new name in the globals
            }
            changed_.clear();
        }
        log_.line("Checking the existing Quillbox database list ...OK!");

        status_ = "Attaching new database directories";
        log_.line(status_);
        const auto found = databaseDirectories();
        {
            TableUse use(Forums.number());
            // A directory whose row the check above has just dropped was
            // reported there already.
            for (auto& [n, name] : found)
                if (!dirUsed(n) && !std::count(checkedDirs_.begin(), checkedDirs_.end(), n)) dirs_.push_back(name);
        }
        log_.dashes();
        log_.line(dirs_.empty() ? " All databases are connected" : " Databases not recorded in the IDX002.TPS file");
        log_.dashes();
        index_ = 0;
        state_ = Attach;
        return true;
    }
    case Attach:
        if (index_ < dirs_.size()) {
            attachDir(dirs_[index_++]);
            return true;
        }
        state_ = AttachEnd;
        return true;
    case AttachEnd:
        log_.line("Attaching new database directories ... OK!");
        idCheck_ = std::make_unique<NextIdCheck>();
        status_ = idCheck_->status();
        log_.line(status_);
        index_ = 0;
        state_ = IdCheck;
        return true;
    case IdCheck:
        if (idCheck_->step()) {
            status_ = idCheck_->status();
            return true;
        }
        status_ = idCheck_->status();
        if (idCheck_->ok()) {
            log_.line(status_);
            log_.line("Next ID " + u32(idCheck_->highestId() + 1));
        } else {
            log_.line("The next-ID check could not be finished.");
        }
        log_.close();
        state_ = Done;
        return false;
    default:
        return false;
    }
}

void Rebuild::checkRow(uint32_t id) {
    TableUse use(Forums.number());
    Forums.clearBuffer();
    FOR.ID = id;
    if (!Forums.get(FOR_ForumKey)) return;
    const ForumsRec row = FOR;
    const std::string name = row.DESCRIPTION.str();
    const std::string dirName = databaseDirName(row.DIRNUMBER);
    const std::string dir = databaseDirectory(row.DIRNUMBER);
    status_ = "Checking " + dirName + " " + name;
    checkedDirs_.push_back(row.DIRNUMBER);

    auto dropRow = [&] {
        if (keepRows_) {
            rowsKept_.push_back(dirName + "\t" + name);
            log_.line("Kept       " + dirName + " " + name + " (it would be removed from the database list)");
            return;
        }
        Forums.clearBuffer();
        FOR.ID = id;
        if (!HoldRec(Forums, FOR_ForumKey, 1, "")) return;
        if (UppDat(Forums, UppDelete, ModeReport)) {
            ++removed_;
            if (Mem.ForumNumber == id) clearActiveDatabase();
        }
    };

    if (!isDirectory(dir)) {
        log_.line("Missing    " + dirName + " " + name);
        if (keepRows_) {
            dropRow();
            return;
        }
        unsigned answer = ui().ask(kWarning,
                                   "Directory path " + verbatim(dir) + " for database " + verbatim(name) +
                                       " does not exist! If you press OK this database " +
                                       "definition will be removed. If you press Cancel Quillbox will be aborted.",
                                   BtnOk | BtnCancel, BtnOk, Icon::Exclamation);
        if (answer != BtnOk) {
            log_.line("Program aborted!");
            log_.close();
            throw ProgramStop("Program aborted!");
        }
        dropRow();
        log_.line("Removed    " + dirName + " " + name);
        return;
    }
    if (!sameDirectory(MasIdxPath, Mem.FileDir)) {
        std::error_code ec;
        fs::create_directories(join(dirOf(MasIdxPath), dirName), ec);
    }
    ForumRefRec ref;
    const bool haveRef = readSelfDescription(dirName, ref);
    const DatabaseTest test = testDatabase(dirName, &log_);
    if (test.kind == KindUnknown) {
        log_.line("Unknown:" + dirName);
        notRecognisable(name, dir);
        dropRow();
        return;
    }
    log_.line(kindLabel(test.kind) + u32(row.DIRNUMBER) + " " + name);
    if (test.kind != row.TYPE || (haveRef && ref.TYPE != test.kind)) {
        ForumsRec renamed = row;
        renamed.DESCRIPTION = "Unknown:" + dirName;
        log_.line("The kind found does not agree with the database list: renamed " + renamed.DESCRIPTION.str());
        changed_.push_back(renamed);
    }
}

void Rebuild::attachDir(const std::string& dirName) {
    const uint32_t number = dirNumberOf(dirName);
    // Table files are named under "F" + number: a directory spelt otherwise
    // ("f12") would be registered under a path that does not exist.
    if (dirName != databaseDirName(number)) {
        log_.line("Invalid DB " + dirName + " .. the directory name must be " + databaseDirName(number) +
                  " (capital F); rename it and run Rebuild again. The directory is left as is.");
        ++refusedDirs_;
        return;
    }
    status_ = "Attaching " + dirName;
    ForumRefRec ref;
    const bool haveRef = readSelfDescription(dirName, ref);
    const DatabaseTest test = testDatabase(dirName, &log_);
    const bool usable = messageDatabase(test.kind);
    log_.line(kindLabel(usable ? test.kind : KindUnknown) + u32(number) +
              (haveRef && !ref.DESCRIPTION.empty() ? " " + ref.DESCRIPTION.str() : std::string()));
    if (!usable) {
        notRecognisable(haveRef && !ref.DESCRIPTION.empty() ? ref.DESCRIPTION.str() : dirName,
                        databaseDirectory(number));
        return;
    }

    TableUse forums(Forums.number());
    TableUse control(Control.number());
    std::string name;
    if (!haveRef || ref.DESCRIPTION.empty()) name = "Unknown:" + u32(number);
    else if (ref.TYPE != test.kind) name = "Unknown:" + dirName;
    else {
        name = ref.DESCRIPTION.str();
        Forums.clearBuffer();
        FOR.DESCRIPTION = name;
        if (Forums.get(FOR_AlphaKey)) name = "Unknown:" + dirName;
    }

    beginTransaction({&Forums, &Control});
    if (transactionCheck()) return;
    uint32_t id = 0;
    do {
        id = NextNr();
    } while (id != 0 && idUsed(id));
    if (id == 0) {
        rollbackTransaction();
        return;
    }
    Forums.clearBuffer();
    FOR.ID = id;
    FOR.DESCRIPTION = name;
    FOR.DIRNUMBER = number;
    FOR.TYPE = static_cast<uint8_t>(test.kind);
    FOR.CREATED = today();
    FOR.WORDLISTINDEXNEEDSUPDATE = 1;
    if (haveRef) {
        FOR.PERSONID = ref.PERSONID > 0 ? static_cast<uint32_t>(ref.PERSONID) : 0;
        FOR.MAILADDRESS = ref.MAILADDRESS;
        for (size_t i = 0; i < 10; ++i) FOR.ALTADDRESS[i] = ref.ALTADDRESS[i];
    }
    if (!UppDat(Forums, UppAdd, ModeReportRollback)) return;
    const ForumsRec row = FOR;
    if (!commitTransaction()) {
        if (!unattended()) ui().message(kWarning, "Transaction Frame Error!\r\n" + errorText(), Icon::Exclamation);
        return;
    }
    ++attached_;
    log_.line("Attached   " + dirName + " " + name);
    writeSelfDescriptionAt(dirName, row, ModeReport);
    FOR = row;
}

// ---------------------------------------------------------------- removing

bool removeDatabase(uint32_t id) {
    TableUse forums(Forums.number());
    TableUse batch(Batch.number());
    TableUse taskBatch(TaskBatch.number());
    ForumsRec row;
    if (!findDatabaseById(id, row)) {
        if (!unattended()) ui().message(kWarning, "The database is not in the database list.", Icon::Exclamation);
        return false;
    }

    beginTransaction({&Forums, &Batch, &TaskBatch});
    if (transactionCheck()) return false;

    std::vector<uint32_t> touched;
    Batch.clearBuffer();
    Batch.set(BAT_IDKEY);
    while (Batch.next())
        if (BAT.DATABASE == id || BAT.MAILBOX == id) touched.push_back(BAT.ID);
    for (uint32_t bid : touched) {
        Batch.clearBuffer();
        BAT.ID = bid;
        if (!HoldRec(Batch, BAT_IDKEY, 1, "")) {
            rollbackTransaction();
            return false;
        }
        if (BAT.DATABASE == id) BAT.DATABASE = 0;
        if (BAT.MAILBOX == id) BAT.MAILBOX = 0;
        if (BAT.DATABASE == 0 && BAT.MAILBOX == 0) {
            if (!UppDat(Batch, UppDelete, ModeReportRollback)) return false;
            // Its places in the tasks go with it.
            std::vector<uint32_t> tasks;
            TaskBatch.clearBuffer();
            TIM.BATCHID = bid;
            TaskBatch.setFrom(TIM_BATCHKEY);
            while (TaskBatch.next() && TIM.BATCHID == bid) tasks.push_back(TIM.TASKID);
            for (uint32_t tid : tasks) {
                TaskBatch.clearBuffer();
                TIM.TASKID = tid;
                TIM.BATCHID = bid;
                if (!HoldRec(TaskBatch, TIM_TASKKEY, 1, "")) {
                    rollbackTransaction();
                    return false;
                }
                if (!UppDat(TaskBatch, UppDelete, ModeReportRollback)) return false;
            }
        } else if (!UppDat(Batch, UppPut, ModeReportRollback)) {
            return false;
        }
    }

    Forums.clearBuffer();
    FOR.ID = id;
    if (!HoldRec(Forums, FOR_ForumKey, 1, "")) {
        rollbackTransaction();
        return false;
    }
    if (!UppDat(Forums, UppDelete, ModeReportRollback)) return false;
    if (!commitTransaction()) {
        if (!unattended()) ui().message(kWarning, "Transaction Frame Error!\r\n" + errorText(), Icon::Exclamation);
        return false;
    }
    FOR = row;
    if (Mem.ForumNumber == id) clearActiveDatabase();
    // The settings that remember a database (the last active one, the last
    // mail database of import and export) must not name a removed one.
    bool remembered = false;
    for (int item : {6, 19}) {
        if (konfigNumber(item) != static_cast<int32_t>(id)) continue;
        int32_t none = 0;
        std::string text;
        Konfig(2, item, none, text);
        remembered = true;
    }
    if (remembered) {
        int32_t number = 0;
        std::string text;
        Konfig(4, 0, number, text);
    }
    return true;
}

bool removeDatabaseFiles(uint32_t dirNumber) {
    if (dirNumber == 0) return false;
    std::vector<std::string> dirs{databaseDirectory(dirNumber)};
    if (!sameDirectory(MasIdxPath, Mem.FileDir)) dirs.push_back(join(dirOf(MasIdxPath), databaseDirName(dirNumber)));
    bool all = true;
    for (const std::string& dir : dirs) {
        if (!isDirectory(dir)) continue;
        closeTablesIn(dir);
        for (const char* mask : {"*.TPS", "*.DAT", "*.K*", "*.I*", "*.TPS-*", "*.DAT-*"})
            if (!DOSFunc(4, dir, mask)) all = false;
        std::error_code ec;
        fs::remove(dir, ec);  // only when nothing else is left in it
    }
    return all;
}

namespace {
// The removal of the active database from the import definitions and the
// registry; the program removes the files afterwards.
const bool semaFore209 = [] {
    registerSemaFore(209, [] { return Mem.ForumNumber != 0 && removeDatabase(Mem.ForumNumber) ? 1 : 0; });
    return true;
}();
} // namespace

int removeActiveDatabase() {
    const uint32_t id = Mem.ForumNumber;
    if (id == 0) return 0;
    ForumsRec row;
    if (!findDatabaseById(id, row)) return 0;
    if (!removeDatabase(id)) return 0;
    return removeDatabaseFiles(row.DIRNUMBER) ? 1 : 0;
}

} // namespace qb
