#include "core/access.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/fieldput.h"
#include "core/fixedstr.h"
#include "core/globals.h"
#include "core/text.h"
#include "core/ui.h"

#include "core/tables.h"

namespace fs = std::filesystem;

namespace qb {

bool layoutDiffers = false;
int GlobalRequest = 0;
int queueError = 0;

namespace {

constexpr int kMaxTableNumber = 256;
std::array<int, kMaxTableNumber> openCounts{};
std::vector<Table*> bound;

const char* const kRolledBack = "The last transaction is rolled back.";

std::string trimmed(const std::string& s) { return std::string(rtrim(s)); }

void box(const std::string& title, const std::string& text) { ui().message(title, text, Icon::Exclamation); }

// A box unless the program runs a task unattended.
void report(const std::string& title, const std::string& text) {
    if (!unattended()) box(title, text);
}

// Shown in any case, then the program ends.
[[noreturn]] void stop(const std::string& title, const std::string& text, const std::string& halt = {}) {
    box(title, text);
    if (!halt.empty()) box("Quillbox", halt);
    throw ProgramStop(text, halt);
}

std::string centred40(const std::string& s) {
    if (s.size() >= 40) return s;
    size_t left = (40 - s.size()) / 2;
    return std::string(left, ' ') + s + std::string(40 - s.size() - left, ' ');
}

[[noreturn]] void undefinedTable(int number) {
    std::string text = centred40("File no " + std::to_string(number) + " not defined!") + "\r\n" +
                       centred40("Quillbox will terminate!");
    stop("Program Failure!", text, "Program Failure!");
}

int& countOf(int number) {
    static int outside = 0;
    if (number < 0 || number >= kMaxTableNumber) {
        outside = 0;
        return outside;
    }
    return openCounts[static_cast<size_t>(number)];
}

// Tables whose file of an older layout is replaced when it holds nothing worth
// keeping; the result set of a search is replaced whatever it holds.
bool replaceableWhenEmpty(int number) {
    switch (number) {
    case 1: case 9: case 18: case 22: case 26: case 27: case 33: case 34: case 35: return true;
    default: return false;
    }
}
constexpr int kSearchTable = 32;

void bind(Table* t) {
    for (Table* b : bound)
        if (b == t) return;
    bound.push_back(t);
}

void unbind(Table* t) {
    for (auto it = bound.begin(); it != bound.end(); ++it)
        if (*it == t) {
            bound.erase(it);
            return;
        }
}

void closeTable(Table* t) {
    if (!t) return;
    unbind(t);
    if (t->isOpen()) t->close();
}

// Remove a table file together with the files the engine keeps beside it.
void removeTableFile(const std::string& path) {
    std::error_code ec;
    fs::remove(path, ec);
    for (const char* side : {"-journal", "-lock", "-wal", "-shm"}) fs::remove(path + side, ec);
}

std::string directoryOf(const std::string& name) {
    size_t p = name.find_last_of("/\\");
    return p == std::string::npos ? std::string() : name.substr(0, p);
}

OpenMode modeOf(int action) {
    switch (action) {
    case OpOpenShared: return OpenMode::SharedReadWrite;
    case OpOpenExclusive: return OpenMode::Exclusive;
    default: return OpenMode::DenyWrite;
    }
}

// Opens the table in the action's mode, repairing what can be repaired and
// stopping the program otherwise. Returns with the table open.
void openTable(Table& t, int action) {
    const OpenMode mode = modeOf(action);
    // Each repair either succeeds or stops; the bound only guards against an
    // engine that keeps reporting a repaired condition.
    for (int round = 0;; ++round) {
        const std::string name = trimmed(FileName);
        t.open(name, mode);
        const int err = errorCode();
        if (err == NoError || err == ErrFileAlreadyOpen) return;
        const std::string engineText = errorText();
        if (round >= 8) {
            stop("File Open Error", "The file " + verbatim(name) + " cannot be opened.\r\nError no " + std::to_string(err) +
                                        "\r\n" + engineText + "\r\nQuillbox will terminate.");
        }
        switch (err) {
        case ErrFileNotFound:
            t.create(name);
            if (errorCode() != NoError) {
                stop("File Open Error", "The file " + verbatim(name) + " is missing!\r\n" +
                                            "This file cannot be created by the program\r\n" +
                                            "and Quillbox will terminate.");
            }
            if (t.isOpen()) t.close();
            continue;
        case ErrPathNotFound:
            stop("Path Not Found", "The path " + verbatim(directoryOf(name)) + " does not exist.\r\nQuillbox will terminate.",
                 "Check your directory setup in Preferences and run File/Rebuild.");
        case ErrInvalidDeclaration: {
            if (action == OpTest) {
                layoutDiffers = true;
                return;
            }
            bool replace = t.number() == kSearchTable;
            if (!replace && replaceableWhenEmpty(t.number())) replace = storedRowCount(name) == 0;
            if (replace) {
                if (t.isOpen()) t.close();
                removeTableFile(name);
                continue;
            }
            stop(" File Open Error - Invalid record declaration", "The file " + verbatim(name) + " cannot be opened\r\n" +
                                                                     "as the file definition is incorrect.\r\n" +
                                                                     "Quillbox will terminate.");
        }
        case ErrAccessDenied:
            stop(" File Open Error - Access denied",
                 "The file " + verbatim(name) + " cannot be opened!\r\n" + "Quillbox will terminate.",
                 "Check your network access rights or the possible need for SHARE or VSHARE");
        case ErrKeysNeedRebuild:
            report("File Open Error - Bad keys", "The file " + verbatim(name) + " cannot be opened\r\n" +
                                                     "due to corrupted indices.\r\n" +
                                                     "Automatic rebuild will take place.");
            if (!t.build()) {
                stop("File Rebuild Error",
                     "The file " + verbatim(name) + " cannot be rebuilt.\r\n" + "Quillbox will terminate.");
            }
            if (t.isOpen()) t.close();
            continue;
        case ErrInvalidFileName:
            stop("Invalid File Name Error", "The file " + verbatim(name) + " cannot be opened.\r\n" +
                                                "The filename is not a valid DOS file name \r\n" +
                                                "Quillbox will terminate.");
        default:
            stop("File Open Error", "The file " + verbatim(name) + " cannot be opened.\r\n" + "Error no " +
                                        std::to_string(err) + "\r\n" + engineText + "\r\n" +
                                        "Quillbox will terminate.");
        }
    }
}

// The tables that lie in a database's directory or its word-index directory.
bool databaseTable(int number) {
    switch (number) {
    case 1: case 3: case 4: case 5: case 6: case 7: case 9: case 13: case 17: case 22: case 23: case 25:
    case 28: case 29: case 33: case 39:
        return true;
    default:
        return false;
    }
}

void applyAction(int action, int number) {
    if (action < 0 || action > OpTest) return;
    if (!tableNumberDefined(number)) undefinedTable(number);
    Table* t = tableByNumber(number);
    if (!t && !isReaderFile(number)) undefinedTable(number);
    int& count = countOf(number);

    // The name of the table being opened; reader files keep the caller's name.
    // A table of a database has no name while no database is active: its
    // file would fall into the data or word-index directory itself.
    auto setName = [&] {
        if (isReaderFile(number)) FileName = trimmed(FileTmpName);
        else if (databaseTable(number) && rtrim(Mem.Dirnamn).empty()) FileName.clear();
        else FileName = tableFileName(number);
    };
    auto nameless = [&] {
        stop("Invalid File Name Error", "The file " + verbatim(trimmed(FileName)) + " cannot be opened.\r\n" +
                                            "The filename is not a valid DOS file name or the path does not exist \r\n" +
                                            "Quillbox will terminate.");
    };

    switch (action) {
    case OpClose:
        if (count > 0) --count;
        if (count == 0) closeTable(t);
        return;
    case OpOpenShared:
    case OpOpenExclusive:
        if (count == 0) {
            setName();
            if (trimmed(FileName).empty()) nameless();
            if (t) {
                openTable(*t, action);
                bind(t);
            }
        }
        ++count;
        return;
    case OpEmpty:
    case OpPack:
    case OpTest:
        setName();
        if (trimmed(FileName).empty()) nameless();
        if (t) {
            openTable(*t, action);
            if (action == OpEmpty && !t->empty()) {
                const std::string name = trimmed(FileName);
                closeTable(t);
                count = 0;
                stop("File Empty Error", "The file " + verbatim(name) + " cannot be emptied.\r\n" +
                                             "Exclusive access not granted \r\n" + "Quillbox will terminate.");
            }
            if (action == OpPack) t->pack();
            closeTable(t);
        }
        count = 0;
        return;
    case OpForceClose:
        closeTable(t);
        count = 0;
        return;
    case OpDelete: {
        closeTable(t);
        count = 0;
        setName();
        const std::string name = trimmed(FileName);
        std::error_code ec;
        if (!name.empty() && fs::exists(name, ec)) {
            if (t) removeTableFile(name);
            else fs::remove(name, ec);
        }
        return;
    }
    default:
        return;
    }
}

std::string cut50(std::string s) {
    if (s.size() > 50) s.resize(50);
    return s;
}

std::string bufferImage(const Table& t) {
    return std::string(static_cast<const char*>(t.buffer()), t.recordSize());
}

void loadImage(Table& t, const std::string& image) {
    std::memcpy(t.buffer(), image.data(), std::min(image.size(), t.recordSize()));
}

// Error of one file removal, as the storage numbers them.
int removeError(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) return ErrFileNotFound;
    if (fs::is_directory(path, ec)) return ErrFileSystem;  // not a file: not removed, no message
    if (fs::remove(path, ec)) return NoError;
    if (!ec) return ErrFileNotFound;
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted ||
        ec == std::errc::read_only_file_system)
        return ErrAccessDenied;
    if (ec == std::errc::device_or_resource_busy || ec == std::errc::text_file_busy) return ErrFileAlreadyOpen;
    if (ec == std::errc::no_such_file_or_directory) return ErrFileNotFound;
    return ErrFileSystem;
}

int removeOne(const std::string& name) {
    switch (removeError(name)) {
    case NoError:
    case ErrFileNotFound: return 1;
    case ErrAccessDenied:
        report("File Deletion Error!", "No access rights - the file " + verbatim(name) + " cannot be removed");
        return 0;
    case ErrFileAlreadyOpen:
        report("File Deletion Error!", "The file " + verbatim(name) + " is open and cannot be removed");
        return 0;
    default: return 0;
    }
}

// Names of the regular files in dir that match mask.
std::vector<std::string> matchingFiles(const std::string& dir, const std::string& mask) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec);
    if (ec) return names;
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code fec;
        if (!it->is_regular_file(fec)) continue;
        std::string n = it->path().filename().string();
        if (fileMaskMatches(mask, n)) names.push_back(n);
    }
    return names;
}

bool maskMatch(const char* m, const char* me, const char* n, const char* ne) {
    // Iterative matcher with one backtrack point for the last '*'.
    const char* starM = nullptr;
    const char* starN = nullptr;
    while (n != ne) {
        if (m != me && *m == '*') {
            starM = ++m;
            starN = n;
        } else if (m != me && (*m == '?' || upper1252(static_cast<unsigned char>(*m)) ==
                                                upper1252(static_cast<unsigned char>(*n)))) {
            ++m;
            ++n;
        } else if (starM) {
            m = starM;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m != me && *m == '*') ++m;
    return m == me;
}

} // namespace

// ---- OP_CLOSE -------------------------------------------------------------

void OP_CLOSE(int action, std::initializer_list<int> tableNumbers) {
    for (int n : tableNumbers) applyAction(action, n);
}

int openCount(int tableNumber) { return countOf(tableNumber); }

const std::vector<Table*>& boundTables() { return bound; }

Table* boundTableOfField(const std::string& fieldName, int* fieldIndex) {
    const std::string wanted = upper(rtrim(fieldName));
    for (Table* t : bound) {
        const auto& fields = t->fields();
        for (size_t i = 0; i < fields.size(); ++i)
            if (upper(fields[i].name) == wanted) {
                if (fieldIndex) *fieldIndex = static_cast<int>(i);
                return t;
            }
    }
    return nullptr;
}

// ---- UppDat ---------------------------------------------------------------

namespace {

// The message and rollback of a failed write; 0.
int writeFailed(Table& table, int operation, const char* first, int mode) {
    const int err = errorCode();
    const std::string engineText = errorText();

    std::string second;
    switch (err) {
    case ErrAccessDenied:
    case ErrRecordNotAvailable:
    case ErrRecordNotFound: second = "Record not available!"; break;
    case ErrDuplicateKey: second = "A record with identical key already exists!"; break;
    default: second = cut50(engineText); break;
    }
    const std::string title = trimmed(table.path());
    if (mode == ModeReport) {
        if (operation == UppPut || operation == UppDelete) table.release();
        report(title, std::string(first) + "\r\n" + second);
    } else if (mode == ModeReportRollback) {
        rollbackTransaction();
        report(title, std::string(first) + "\r\n" + second + "\r\n" + kRolledBack);
    }
    return 0;
}

} // namespace

int UppDat(Table& table, int operation, int mode) {
    bool ok = false;
    const char* first = nullptr;
    switch (operation) {
    case UppAdd: ok = table.add(); first = "Record add error!"; break;
    case UppPut: ok = table.put(); first = "Record update error!"; break;
    case UppDelete: ok = table.erase(); first = "Record delete error!"; break;
    case UppAppend: ok = table.append(); first = "Record add error!"; break;
    default: return 0;
    }
    return ok ? 1 : writeFailed(table, operation, first, mode);
}

int UppPutFields(Table& table, const std::vector<int>& fields, int mode) {
    return putFields(table, fields) ? 1 : writeFailed(table, UppPut, "Record update error!", mode);
}

// ---- HoldRec --------------------------------------------------------------

int HoldRec(Table& table, int key, int byKey, const std::string& position) {
    bool ok = false;
    if (byKey == 1) {
        ok = table.get(key) && table.holdPosition(table.position());
    } else {
        const std::string p = trimmed(position);
        Position pos = 0;
        auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), pos);
        if (ec != std::errc() || end != p.data() + p.size() || p.empty()) {
            setError(ErrRecordNotFound, "no saved position");
        } else {
            ok = table.holdPosition(pos);
        }
    }
    if (ok) return 1;
    switch (errorCode()) {
    case ErrRecordNotFound:
        report(trimmed(table.path()),
               "The record has been deleted by another user!\r\n                   Update is cancelled!");
        break;
    case ErrRecordHeld:
        report("The record is not accessible!",
               "The record is locked by another user!\r\nUpdate is cancelled, try again later!");
        break;
    default:
        report("The record is not accessible!",
               "               The record cannot be read!\r\nUpdate is cancelled, try again later!");
        break;
    }
    return 0;
}

// ---- SaveRec --------------------------------------------------------------

std::string SaveRec(Table& table, int request, bool opening, EditSave& es) {
    es.save = bufferImage(table);
    if (opening) {
        es.images.assign(2, es.save);
        if (request == 1) {
            es.position.clear();
            return {};
        }
        es.position = std::to_string(table.position());
        return es.position;
    }

    if (es.images.size() < 2) es.images.resize(2, es.save);
    es.images[1] = es.save;    // the user's values
    es.save = es.images[0];    // the row as read at opening
    if (request != 2 && request != 3) return {};

    if (!HoldRec(table, -1, 0, es.position)) return {};

    const std::string now = bufferImage(table);
    if (now != es.images[0]) {
        report("Warning!", "The record has just been changed by another user!\r\nTry again!");
        es.images[0] = now;    // compared against on the next attempt; the buffer shows it
        table.release();
        es.save = es.images[1];
        return {};
    }

    int ok;
    if (request == 2) {
        es.save = es.images[1];
        loadImage(table, es.save);
        ok = UppDat(table, UppPut, ModeReport);
    } else {
        ok = UppDat(table, UppDelete, ModeReport);
    }
    if (!ok) return "0";
    table.release();
    return "OK";
}

// ---- QError ---------------------------------------------------------------

int QError(int mode) {
    const int err = queueError;
    if (err == NoError || err == ErrEntryNotFound) return 0;
    const std::string first = "Queue access error";
    std::string second, title;
    switch (err) {
    case ErrNoMemory: second = "Insufficient memory!"; title = "Fatal error!"; break;
    case ErrInvalidFieldType: second = "Invalid field type descriptor!"; title = "Fatal error!"; break;
    default: second = cut50(errorText(err)); title = "Warning!"; break;
    }
    if (mode == ModeReport) {
        report(title, first + "\r\n" + second);
    } else if (mode == ModeReportRollback) {
        rollbackTransaction();
        report("Fatal error", first + "\r\n" + second + "\r\n" + kRolledBack);
    }
    return 1;
}

// ---- Transaction check ------------------------------------------------------

int transactionCheck() {
    const int err = errorCode();
    if (err == NoError) return 0;
    report("Warning!", "Transaction Frame Error!\r\n" + errorText());
    rollbackTransaction();
    return 1;
}

// ---- Files ----------------------------------------------------------------

bool fileMaskMatches(const std::string& maskIn, const std::string& name) {
    const std::string mask(rtrim(maskIn));
    // A mask that ends in "." ("*.", "README.") asks for a name without an extension.
    if (mask.size() >= 2 && mask.back() == '.' && mask[mask.size() - 2] != '.') {
        if (name.find('.') != std::string::npos) return false;
        return maskMatch(mask.data(), mask.data() + mask.size() - 1, name.data(), name.data() + name.size());
    }
    if (maskMatch(mask.data(), mask.data() + mask.size(), name.data(), name.data() + name.size())) return true;
    // "name.*" covers a name without an extension too.
    if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0 && name.find('.') == std::string::npos)
        return maskMatch(mask.data(), mask.data() + mask.size() - 2, name.data(), name.data() + name.size());
    return false;
}

int DOSFunc(int operation, const std::string& first, const std::string& second) {
    switch (operation) {
    case 3:
        return removeOne(trimmed(second));
    case 4: {
        const std::string dir = trimmed(first);
        bool all = true;
        for (const std::string& n : matchingFiles(dir, trimmed(second)))
            if (!removeOne(dir + "/" + n)) all = false;
        if (!all) {
            report("File Deletion Error!", "One or more files have not been \r\nremoved in subdirectory " + verbatim(dir));
            return 0;
        }
        return 1;
    }
    case 5: {
        const std::string wanted = trimmed(second);
        if (wanted.empty()) return 0;
        const size_t p = wanted.find_last_of("/\\");
        const std::string dir = p == std::string::npos ? std::string() : (p == 0 ? std::string("/") : wanted.substr(0, p));
        const std::string mask = p == std::string::npos ? wanted : wanted.substr(p + 1);
        if (mask.empty()) return 0;
        return matchingFiles(dir, mask).empty() ? 0 : 1;
    }
    default:
        return 0;
    }
}

} // namespace qb
