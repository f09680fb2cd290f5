#include "import/maildb.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/registry.h"
#include "core/ui.h"
#include "import/persons.h"

namespace fs = std::filesystem;

namespace qb {

namespace {

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::string trimBoth(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return s.substr(b, e - b);
}

// Opens a configuration table for the length of one operation.
struct ConfigOpen {
    int number;
    bool ok;
    explicit ConfigOpen(Table& t) : number(t.number()) {
        OP_CLOSE(OpOpenShared, number);
        ok = t.isOpen();
    }
    ~ConfigOpen() {
        if (ok) OP_CLOSE(OpClose, number);
    }
};

bool checkAddresses(const std::vector<std::string>& alternatives, std::vector<std::string>& out, std::string* error) {
    if (alternatives.size() > static_cast<size_t>(MaxAltAddresses)) {
        setError(error, "At most " + std::to_string(MaxAltAddresses) + " alternative addresses can be given");
        return false;
    }
    out.clear();
    for (const std::string& a : alternatives) {
        std::string n = normaliseOwnerAddress(a);
        if (n.empty()) continue;  // slots are kept without gaps
        if (n.size() > 60) {
            setError(error, "The address " + n + " is longer than 60 characters");
            return false;
        }
        out.push_back(n);
    }
    return true;
}

// The self-description of the database in its own directory (ForumRef), from
// which a lost registry row can be rebuilt. Written only when it differs.
bool writeSelfDescription(const ForumsRec& row) {
    BorrowedTable ref(ForumRef);
    const std::string savedDirnamn = Mem.Dirnamn;
    Mem.Dirnamn = databaseDirName(row.DIRNUMBER);
    const std::string path = tableFileName(ForumRef.number());
    Mem.Dirnamn = savedDirnamn;
    if (!ref.openAt(path, true)) return false;

    ForumRefRec want;
    want.TYPE = row.TYPE;
    want.PERSONID = 0;
    want.DESCRIPTION = row.DESCRIPTION.view();
    want.MAILADDRESS.clear();
    for (auto& a : want.ALTADDRESS) a.clear();
    if (row.TYPE == 2) {
        want.PERSONID = static_cast<int32_t>(row.PERSONID);
        want.MAILADDRESS = row.MAILADDRESS.view();
        for (int i = 0; i < MaxAltAddresses && !row.ALTADDRESS[i].empty(); ++i) want.ALTADDRESS[i] = row.ALTADDRESS[i].view();
    }
    auto same = [&] {
        if (REF.TYPE != want.TYPE || REF.PERSONID != want.PERSONID || !(REF.DESCRIPTION == want.DESCRIPTION) ||
            !(REF.MAILADDRESS == want.MAILADDRESS))
            return false;
        for (int i = 0; i < MaxAltAddresses; ++i)
            if (!(REF.ALTADDRESS[i] == want.ALTADDRESS[i])) return false;
        return true;
    };
    ForumRef.setFile();
    if (ForumRef.next()) {
        if (same()) return true;
        REF = want;
        return UppDat(ForumRef, UppPut, ModeReport) == 1;
    }
    ForumRef.clearBuffer();
    REF = want;
    return UppDat(ForumRef, UppAdd, ModeReport) == 1;
}

} // namespace

std::string normaliseOwnerAddress(const std::string& address) {
    std::string a = trimBoth(address);
    size_t dot = a.find('.');
    if (dot != std::string::npos && dot > 0 && dot + 1 < a.size() && a.find('.', dot + 1) == std::string::npos) {
        bool digits = true;
        for (size_t i = 0; i < a.size(); ++i)
            if (i != dot && (a[i] < '0' || a[i] > '9')) digits = false;
        if (digits) a[dot] = ',';
    }
    return a;
}

// nextDirNumber() is the registry's (core/registry.cpp).

uint32_t addMailDatabase(const std::string& nameIn, const std::string& addressIn,
                         const std::vector<std::string>& alternativesIn, std::string* error) {
    const std::string name = trimBoth(nameIn);
    const std::string address = normaliseOwnerAddress(addressIn);
    std::vector<std::string> alternatives;
    if (name.empty()) {
        setError(error, "A mail database needs a name");
        return 0;
    }
    if (name.size() > 100) {
        setError(error, "The name is longer than 100 characters");
        return 0;
    }
    if (address.empty()) {
        setError(error, "A mail database needs a default mail address");
        return 0;
    }
    if (address.size() > 60) {
        setError(error, "The default mail address is longer than 60 characters");
        return 0;
    }
    if (!checkAddresses(alternativesIn, alternatives, error)) return 0;
    if (Mem.FileDir.empty()) {
        setError(error, "No data directory is set");
        return 0;
    }
    if (inTransaction()) {
        setError(error, "Another transaction is open");
        return 0;
    }

    ConfigOpen forums(Forums), control(Control);
    if (!forums.ok || !control.ok) {
        setError(error, "The configuration tables cannot be opened: " + errorText());
        return 0;
    }
    const ForumsRec savedFor = FOR;
    Forums.clearBuffer();
    FOR.DESCRIPTION = name;
    if (Forums.get(FOR_AlphaKey)) {
        FOR = savedFor;
        setError(error, "A database named " + name + " exists already");
        return 0;
    }

    const uint32_t dirNumber = nextDirNumber();
    const std::string dir = databaseDirName(dirNumber);
    const fs::path dirPath = fs::path(Mem.FileDir) / dir;
    std::error_code ec;
    const bool madeDir = !fs::exists(dirPath, ec);
    fs::create_directories(dirPath, ec);
    if (ec) {
        FOR = savedFor;
        setError(error, "The directory " + dirPath.string() + " cannot be created: " + ec.message());
        return 0;
    }

    const std::string savedDirnamn = Mem.Dirnamn;
    uint32_t id = 0;
    std::string reason;
    ForumsRec createdRow = FOR;
    {
        BorrowedTable person(Person), plink(PLINK);
        Mem.Dirnamn = dir;
        const std::string personPath = tableFileName(Person.number());
        const std::string plinkPath = tableFileName(PLINK.number());
        Mem.Dirnamn = savedDirnamn;
        if (!person.openAt(personPath, true) || !plink.openAt(plinkPath, true)) {
            reason = "The tables of the new database cannot be made: " + errorText();
        } else if (!beginTransaction({&Forums, &Control, &Person, &PLINK}, 5)) {
            reason = "The transaction cannot be begun: " + errorText();
        } else {
            const uint32_t newId = NextNr();
            if (newId == 0) {
                rollbackTransaction();
                reason = "No new database ID could be generated";
            } else if (AddPers(address, name) != 0) {
                reason = "The owner person could not be made";  // rolled back by AddPers
            } else {
                const uint32_t ownerId = PER.PERSONID;
                Forums.clearBuffer();
                FOR.ID = newId;
                FOR.DESCRIPTION = name;
                FOR.DIRNUMBER = dirNumber;
                FOR.TYPE = 2;
                FOR.CREATED = today();
                FOR.MAILADDRESS = address;
                FOR.PERSONID = ownerId;
                for (size_t i = 0; i < alternatives.size(); ++i) FOR.ALTADDRESS[i] = alternatives[i];
                FOR.WORDLISTINDEXNEEDSUPDATE = 1;
                FOR.INDEXTYPE = 0;
                if (!UppDat(Forums, UppAdd, ModeReportRollback)) {
                    reason = "The database row could not be added";
                } else if (!commitTransaction()) {
                    reason = "The transaction could not be committed: " + errorText();
                } else {
                    id = newId;
                    // The kind's tables and the self-description, so that the
                    // rebuild recognises the new directory.
                    completeDatabaseDirectory(FOR);
                }
                createdRow = FOR;
            }
        }
        if (id == 0 && inTransaction()) rollbackTransaction();
    }
    if (id == 0) {
        if (madeDir) fs::remove_all(dirPath, ec);
        FOR = savedFor;
        setError(error, reason);
        return 0;
    }
    if (!writeSelfDescription(createdRow) && !unattended())
        ui().message("Warning!", "The self-description of the database " + name + " could not be written.\r\n" +
                                     "The database is registered; a rebuild cannot recover its registry row.",
                     Icon::Exclamation);
    FOR = createdRow;
    return id;
}

bool updateAltAddresses(uint32_t forumId, const std::vector<std::string>& alternativesIn, std::string* error) {
    std::vector<std::string> alternatives;
    if (!checkAddresses(alternativesIn, alternatives, error)) return false;
    ConfigOpen forums(Forums);
    if (!forums.ok) {
        setError(error, "The database registry cannot be opened: " + errorText());
        return false;
    }
    Forums.clearBuffer();
    FOR.ID = forumId;
    if (!Forums.get(FOR_ForumKey)) {
        setError(error, "There is no database with the ID " + std::to_string(forumId));
        return false;
    }
    if (FOR.TYPE != 2) {
        setError(error, "The database " + FOR.DESCRIPTION.str() + " is not a mail database");
        return false;
    }
    if (!HoldRec(Forums, FOR_ForumKey, 1, "")) {
        setError(error, "The database row cannot be held: " + errorText());
        return false;
    }
    for (int i = 0; i < MaxAltAddresses; ++i)
        FOR.ALTADDRESS[i] = static_cast<size_t>(i) < alternatives.size() ? alternatives[static_cast<size_t>(i)] : "";
    const bool ok = UppDat(Forums, UppPut, ModeReport) == 1;
    Forums.release();
    if (!ok) {
        setError(error, "The database row could not be written: " + errorText());
        return false;
    }
    if (!writeSelfDescription(FOR)) {
        setError(error, "The self-description of the database could not be written: " + errorText());
        return false;
    }
    // A loaded owner cache of this database learns the new addresses.
    if (mailOwner().forumId == forumId) loadMailOwner(forumId);
    return true;
}

} // namespace qb
