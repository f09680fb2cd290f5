#include "import/catalogue.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "core/access.h"
#include "core/dates.h"
#include "core/fixedstr.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"

namespace fs = std::filesystem;

namespace qb {

namespace {

struct Row {
    int number;
    const char* name;
    const char* mask;
    unsigned kinds;  // 1 forum, 2 mail, 4 newsgroup
};
constexpr unsigned F = 1, M = 2, N = 4;

// Numbers 32-35 are placeholders ("Reserv") and are not offered.
const Row kRows[] = {
    {1, "AUTOSIG", "*.ATO", F | M},
    {2, "CISCOMM", "*.DBF", F | M},
    {3, "CompuServe 3.x", "FCABINET.DAT", F | M},
    {4, "CSNav", "*.THD;*.MSG;*.PLX", F | M},
    {5, "DOSCIM", "*.THD;*.MSG;*.PLX", F | M},
    {6, "Eudora", "*.MBX", M},
    {7, "GoldenCompass", "*.MSG", F | M},
    {8, "IE Mail", "*.MBX", M},
    {9, "IE News", "*.NCH", N},
    {10, "NavCIS 1.6x", "RECV.DBF", F | M},
    {11, "NavCIS 1.7x-", "HRECV.DBF", F | M},
    {12, "OzCIS", "*.MSG;*.PRG;*.OBS", F | M},
    {13, "OzWin I", "*.MSG;*.PRG;*.OBS", F | M},
    {14, "OzWin II", "*.MSG;*.PRG;*.OBS", F | M},
    {15, "TAPCIS 5.x", "*.MSG;*.OLD", F | M},
    {16, "VirtualAccess", "*.", F | M | N},
    {17, "WinCIM", "*.THD;*.MSG;*.PLX", F | M},
    {18, "Agent News", "*.*", N},
    {19, "TAPCIS 6.x", "*.MSG;*.OLD", F | M},
    {20, "Pegasus", "*.PMM", M},
    {21, "Netscape News", "*.SNM", N},
    {22, "Netscape Mail", "*.*", M},
    {23, "Outlook Express Mail", "*.MBX", M},
    {24, "Outlook Express News", "*.NCH", N},
    {25, "NavCIS Save format", "*.SAV", F | M},
    {26, "Unix Mail", "*.*", M},
    {27, "Becky Mail", "*.MBX", M},
    {28, "Unix News", "*.*", N},
    {29, "Gravity", "*.*", N},
    {30, "Agent Mail", "*.*", M},
    {31, "OUI", "MESSAGE.DBF", M | N},
};

bool needsForum(int n) { return n == 1 || n == 2 || n == 7 || n == 12 || n == 15 || n == 19; }

std::string trim(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && (s[b] == ' ' || s[b] == '\t')) ++b;
    return std::string(rtrim(s.substr(b)));
}

// Regular files of one directory matching any of the masks, in name order.
void matchingFiles(const fs::path& dir, const std::vector<std::string>& masks, std::vector<std::string>& out) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) return;
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code fec;
        if (!it->is_regular_file(fec)) continue;
        std::string n = it->path().filename().string();
        for (const std::string& m : masks)
            if (fileMaskMatches(m, n)) {
                names.push_back(n);
                break;
            }
    }
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) out.push_back((dir / n).string());
}

void walkTree(const fs::path& dir, const std::vector<std::string>& masks, std::vector<std::string>& out,
              std::set<fs::path>& seen) {
    std::error_code ec;
    // A link back up the tree must not make the walk endless.
    fs::path canon = fs::canonical(dir, ec);
    if (ec || !seen.insert(canon).second) return;
    matchingFiles(dir, masks, out);
    std::vector<fs::path> subdirs;
    fs::directory_iterator it(dir, ec);
    if (ec) return;
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code dec;
        if (it->is_directory(dec)) subdirs.push_back(it->path());
    }
    std::sort(subdirs.begin(), subdirs.end());
    for (const fs::path& d : subdirs) walkTree(d, masks, out, seen);
}

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};

} // namespace

const std::vector<ReaderEntry>& readerCatalogue() {
    static const std::vector<ReaderEntry> list = [] {
        std::vector<ReaderEntry> v;
        for (const Row& r : kRows) {
            ReaderEntry e;
            e.number = r.number;
            e.name = r.name;
            e.mask = r.mask;
            e.forum = r.kinds & F;
            e.mail = r.kinds & M;
            e.news = r.kinds & N;
            e.needsForumDb = needsForum(r.number);
            e.optionalForumDb = r.number == 13 || r.number == 14;  // OzWin I and II
            v.push_back(std::move(e));
        }
        return v;
    }();
    return list;
}

const ReaderEntry* readerByNumber(int number) {
    if (number == 0) number = DefaultReaderNumber;
    for (const ReaderEntry& e : readerCatalogue())
        if (e.number == number) return &e;
    return nullptr;
}

const ReaderEntry* readerByName(const std::string& name) {
    const std::string want = upper(rtrim(name));
    for (const ReaderEntry& e : readerCatalogue())
        if (upper(e.name) == want) return &e;
    return nullptr;
}

std::string readerName(int number) {
    const ReaderEntry* e = readerByNumber(number);
    return e ? e->name : std::string();
}

void defaultMask(int number, std::string& masks) {
    if (number == 0) return;
    if (const ReaderEntry* e = readerByNumber(number)) masks = e->mask;
}

void chooseReader(ImportSettings& s, const ReaderEntry& r) {
    s.reader = r.name;
    s.masks = r.mask;
    s.importForum = r.forum;
    s.importMail = r.mail;
    s.importNews = r.news;
    s.messageKind = r.mail ? KindMail : r.forum ? KindForum : KindNews;
    if (!r.takesForumDb()) s.forumDb = 0;
}

std::vector<std::string> splitList(const std::string& list) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        size_t p = list.find(';', start);
        if (p == std::string::npos) p = list.size();
        std::string item = trim(std::string_view(list).substr(start, p - start));
        if (!item.empty()) out.push_back(item);
        start = p + 1;
    }
    return out;
}

std::string joinList(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& i : items) {
        if (!out.empty()) out += ';';
        out += i;
    }
    return out;
}

std::vector<std::string> buildFileQueue(const ImportSettings& s) {
    std::vector<std::string> out;
    if (s.method == 2) return splitList(s.path);
    std::vector<std::string> masks = splitList(s.masks);
    if (masks.empty()) masks.push_back("*.*");
    const std::string dir = trim(s.path);
    if (dir.empty()) return out;
    if (s.method == 0) {
        std::set<fs::path> seen;
        walkTree(dir, masks, out, seen);
    } else {
        matchingFiles(dir, masks, out);
    }
    return out;
}

SetupCheck checkSettings(const ImportSettings& s, bool checkDatabases) {
    SetupCheck c;
    auto fail = [&](const char* title, const char* text) {
        c.ok = false;
        c.title = title;
        c.text = text;
        return c;
    };
    if (!s.importMail && !s.importForum && !s.importNews)
        return fail(" Import definition error!", "You must select at least one messagetype for import!");
    if (s.importMail && s.mailDb == 0)
        return fail("No mail database available!", "You must set up a mail database to import to!");
    const ReaderEntry* r = readerByName(s.reader);
    const bool needsForumDb = r && r->needsForumDb;
    if (s.importForum && needsForumDb && s.forumDb == 0)
        return fail("Import setup error!", "You must select a database to import to!");
    if (checkDatabases) {
        auto exists = [](uint32_t id, uint8_t type) {
            Forums.clearBuffer();
            FOR.ID = id;
            return Forums.get(FOR_ForumKey) && FOR.TYPE == type;
        };
        if (s.importMail && !exists(s.mailDb, KindMail))
            return fail("Import procedure specification error", "Specified mail database no longer exists!");
        const bool chosenForum = needsForumDb || (r && r->optionalForumDb && s.forumDb != 0);
        if (s.importForum && chosenForum && !exists(s.forumDb, KindForum))
            return fail("Import procedure specification error", "Specified Forum database does no longer exist!");
    }
    return c;
}

std::string savedDescription() {
    int y, m, d;
    civilDate(today(), y, m, d);
    char date[40];
    std::snprintf(date, sizeof date, "%s %d, %d", kMonths[(m - 1) % 12], d, y);
    std::string text = std::string("Saved from ImportWizard  ") + date + " " + formatTime(clockNow(), "@T7");
    if (text.size() > 50) text.resize(50);
    return text;
}

uint32_t saveDefinition(const ImportSettings& s) {
    const ReaderEntry* reader = readerByName(s.reader);
    if (!reader) return 0;
    // One row per mask (directory methods) or per selected file.
    std::vector<std::string> items = splitList(s.method == 2 ? s.path : s.masks);
    // An empty mask reads every file; kept as such, not as the reader's default.
    if (s.method != 2 && items.empty()) items.push_back("*.*");
    std::vector<std::string> unique;
    for (const std::string& item : items) {
        if (std::find_if(unique.begin(), unique.end(), [&](const std::string& u) {
                return compare1252(u, item, false) == 0;
            }) == unique.end())
            unique.push_back(item);
    }
    // A path or file name the definition cannot hold would be cut and point
    // elsewhere when the task runs.
    bool tooLong = s.method != 2 && trim(s.path).size() > BatchRec{}.IMPPATH.size();
    for (const std::string& item : unique) tooLong = tooLong || item.size() > FileListRec{}.FILESPEC.size();
    if (tooLong) {
        if (!unattended())
            ui().message("Warning!", "The import path is too long to be kept in a definition.\r\n"
                                     "The session is not saved.", Icon::Exclamation);
        return 0;
    }

    OP_CLOSE(OpOpenShared, Batch.number(), FileList.number(), Control.number());
    uint32_t id = 0;
    if (Batch.isOpen() && FileList.isOpen() && Control.isOpen()) {
        beginTransaction({&Batch, &FileList, &Control});
        if (transactionCheck() == 0) {
            id = NextNr();
            bool ok = id != 0;
            if (ok) {
                Batch.clearBuffer();
                BAT.ID = id;
                BAT.TYPE = 1;
                BAT.DESCRIPTION.set(savedDescription());
                BAT.DATABASE = reader->takesForumDb() ? s.forumDb : 0;
                BAT.FILETYPE = static_cast<uint8_t>(reader->number);
                BAT.IMPPATH.set(s.method == 2 ? std::string(s.path.substr(0, 100)) : trim(s.path));
                BAT.SELMETHOD = s.method;
                BAT.MAILBOX = s.mailDb;
                BAT.MAILMSG = s.importMail;
                BAT.FORUMMSG = s.importForum;
                BAT.NEWSGROUPMSG = s.importNews;
                BAT.MSGFILTER = s.filter == 2 ? 2 : 1;
                BAT.ALLOWREIMP = s.allowReimport;
                BAT.MAILTOPIC = s.mailTopic;
                ok = UppDat(Batch, UppAdd, ModeReportRollback) == 1;
            }
            for (size_t i = 0; ok && i < unique.size(); ++i) {
                FileList.clearBuffer();
                FLI.ID = id;
                FLI.FILESPEC.set(unique[i]);
                ok = UppDat(FileList, UppAdd, ModeReportRollback) == 1;
            }
            if (ok && !commitTransaction()) {
                ui().message("Key Build Error!", errorText() + "\r\n" + "Import file list can not be built!",
                             Icon::Exclamation);
                ok = false;
            }
            if (!ok) {
                if (inTransaction()) rollbackTransaction();
                id = 0;
            }
        }
    }
    OP_CLOSE(OpClose, Batch.number(), FileList.number(), Control.number());
    return id;
}

bool loadDefinition(uint32_t id, ImportSettings& s, SetupCheck& check) {
    check = SetupCheck{};
    OP_CLOSE(OpOpenShared, Batch.number(), FileList.number(), Forums.number());
    bool ok = false;
    Batch.clearBuffer();
    BAT.ID = id;
    if (Batch.isOpen() && Batch.get(BAT_IDKEY) && BAT.TYPE == 1) {
        const ReaderEntry* reader = readerByNumber(BAT.FILETYPE);
        ImportSettings n;
        if (reader) {
            n.reader = reader->name;
            n.masks = reader->mask;
            n.messageKind = reader->mail ? KindMail : reader->forum ? KindForum : KindNews;
        }
        n.forumDb = reader && reader->takesForumDb() ? BAT.DATABASE : 0;
        n.mailDb = BAT.MAILBOX;
        n.importMail = BAT.MAILMSG != 0;
        n.importForum = BAT.FORUMMSG != 0;
        n.importNews = BAT.NEWSGROUPMSG != 0;
        n.filter = BAT.MSGFILTER == 2 ? 2 : 1;
        n.allowReimport = BAT.ALLOWREIMP != 0;
        n.mailTopic = BAT.MAILTOPIC;
        n.method = BAT.SELMETHOD <= 2 ? BAT.SELMETHOD : 2;
        n.path = BAT.IMPPATH.str();
        std::vector<std::string> items;
        FileList.clearBuffer();
        FLI.ID = id;
        FileList.setFrom(FLI_IDKEY);
        while (FileList.next() && FLI.ID == id) items.push_back(FLI.FILESPEC.str());
        if (n.method == 2) n.path = joinList(items);
        else if (!items.empty()) n.masks = joinList(items);
        if (!reader) {
            check.ok = false;
            check.title = "Import procedure specification error";
            check.text = "Unknown import file type " + std::to_string(BAT.FILETYPE) + "!";
        } else {
            check = checkSettings(n, true);
        }
        if (check.ok) {
            s = n;
            ok = true;
        }
    }
    OP_CLOSE(OpClose, Batch.number(), FileList.number(), Forums.number());
    return ok;
}

} // namespace qb
