#include "maintenance/persons.h"

#include <algorithm>
#include <climits>
#include <set>

#include "core/access.h"
#include "core/fieldput.h"
#include "core/globals.h"
#include "core/kinds.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/persons.h"
#include "maintenance/counting.h"

namespace qb {

const char* const kOwnPersonRefused = "You are not allowed to change the mail default address!";

namespace {

void warn(const std::string& title, const std::string& text) {
    if (!unattended()) ui().message(title, text, Icon::Exclamation);
}

std::string alpha10(std::string_view last) {
    last = rtrim(last);
    return std::string(last.substr(0, std::min<size_t>(10, last.size())));
}

bool sameAlpha(std::string_view a, std::string_view b) { return compare1252(a, b, true) == 0; }

bool samePerson(const PersonRec& a, const PersonRec& b) {
    return a.PERSONID == b.PERSONID && a.PERSONSTRING == b.PERSONSTRING && a.LASTNAME == b.LASTNAME &&
           a.FIRSTNAME == b.FIRSTNAME && a.ADDRESS == b.ADDRESS && a.FROMCOUNT == b.FROMCOUNT &&
           a.TOCOUNT == b.TOCOUNT && a.LASTDATE == b.LASTDATE && a.DUMMY == b.DUMMY;
}

bool mailDatabase() { return Mem.ForumType == KindMail; }
Table& headerTable() { return mailDatabase() ? Mail : MsgNmbr; }

// The tables a procedure opens for its time, closed again at scope end.
struct Use {
    std::vector<int> numbers;
    explicit Use(std::initializer_list<int> n) : numbers(n) {
        for (int x : numbers) OP_CLOSE(OpOpenShared, x);
    }
    ~Use() {
        for (int x : numbers) OP_CLOSE(OpClose, x);
    }
    bool ok() const {
        for (int x : numbers)
            if (!tableByNumber(x)->isOpen()) return false;
        return true;
    }
};

// Positions of the rows of a header key whose leading alpha and ID are the person's.
void collectMsg(int key, const PersonRef& who, std::set<Position>& out) {
    const std::string a = alpha10(who.last);
    MsgNmbr.clearBuffer();
    if (key == MSG_FromKey) {
        MSG.FROMALPHA = a;
        MSG.FROMID = who.id;
    } else {
        MSG.TOALPHA = a;
        MSG.TOID = who.id;
    }
    MSG.MSGNUMBER = UINT32_MAX;
    MsgNmbr.setFrom(key);
    while (MsgNmbr.next()) {
        const bool from = key == MSG_FromKey;
        if (!sameAlpha(from ? MSG.FROMALPHA.view() : MSG.TOALPHA.view(), a) || (from ? MSG.FROMID : MSG.TOID) != who.id)
            break;
        out.insert(MsgNmbr.position());
    }
}

void collectMail(int key, const PersonRef& who, std::set<Position>& out) {
    const std::string a = key == MAI_PairKey ? std::string(rtrim(who.last)).substr(0, 25) : alpha10(who.last);
    Mail.clearBuffer();
    if (key == MAI_FromKey) {
        MAI.FROMALPHA = a;
        MAI.FROMID = who.id;
    } else if (key == MAI_ToKey) {
        MAI.TOALPHA = a;
        MAI.TOID = who.id;
    } else {
        MAI.PAIRALPHA = a;
        MAI.PAIRID = who.id;
    }
    MAI.DATE = INT32_MAX;
    MAI.TIME = INT32_MAX;
    MAI.MAILID = UINT32_MAX;
    Mail.setFrom(key);
    while (Mail.next()) {
        std::string_view rowAlpha;
        uint32_t rowId;
        if (key == MAI_FromKey) rowAlpha = MAI.FROMALPHA.view(), rowId = MAI.FROMID;
        else if (key == MAI_ToKey) rowAlpha = MAI.TOALPHA.view(), rowId = MAI.TOID;
        else rowAlpha = MAI.PAIRALPHA.view(), rowId = MAI.PAIRID;
        if (!sameAlpha(rowAlpha, a) || rowId != who.id) break;
        out.insert(Mail.position());
    }
}

} // namespace

std::string personsWord(int kind) {
    switch (kind) {
    case KindMail: return "Mail Partners";
    case KindNews: return "Newsgroup Participants";
    default: return "Forum Members";
    }
}

std::string personWord(int kind) {
    std::string w = personsWord(kind);
    w.pop_back();
    return w;
}

std::string personBrowseTitle(int kind, const std::string& description) {
    return " " + personsWord(kind) + " [" + std::string(rtrim(description)) + "]";
}

std::vector<PersonRec> listPersons(bool byAddress) {
    std::vector<PersonRec> out;
    Use use{Person.number()};
    if (!use.ok()) return out;
    Person.set(byAddress ? PER_AddressKey : PER_NameKey);
    while (Person.next()) out.push_back(PER);
    return out;
}

bool readPerson(uint32_t id, PersonRec& out) {
    Use use{Person.number()};
    if (!use.ok()) return false;
    Person.clearBuffer();
    PER.PERSONID = id;
    if (!Person.get(PER_PersonKey)) return false;
    out = PER;
    return true;
}

bool isOwnPerson(uint32_t id) { return mailDatabase() && id != 0 && id == Mem.PersonID; }

// ---- Messages of a person ------------------------------------------------------

bool recodePersonMessages(const PersonRef& from, const PersonRef& to, uint64_t* changed) {
    std::set<Position> rows;
    const bool mail = mailDatabase();
    if (mail) {
        collectMail(MAI_PairKey, from, rows);
        collectMail(MAI_FromKey, from, rows);
        collectMail(MAI_ToKey, from, rows);
    } else {
        collectMsg(MSG_FromKey, from, rows);
        collectMsg(MSG_ToKey, from, rows);
    }
    const std::string a = alpha10(to.last);
    Table& t = headerTable();
    static const std::vector<int> mailFields = {Mail.fieldIndex("MAI:PAIRID"), Mail.fieldIndex("MAI:PAIRALPHA"),
                                                Mail.fieldIndex("MAI:TOID"), Mail.fieldIndex("MAI:TOALPHA"),
                                                Mail.fieldIndex("MAI:FROMID"), Mail.fieldIndex("MAI:FROMALPHA")};
    static const std::vector<int> msgFields = {MsgNmbr.fieldIndex("MSG:TOID"), MsgNmbr.fieldIndex("MSG:TOALPHA"),
                                               MsgNmbr.fieldIndex("MSG:FROMID"), MsgNmbr.fieldIndex("MSG:FROMALPHA")};
    const std::vector<int>& personFields = mail ? mailFields : msgFields;
    for (Position p : rows) {
        if (!t.reget(p)) continue;  // gone meanwhile
        if (mail) {
            if (MAI.PAIRID == from.id) {
                MAI.PAIRID = to.id;
                MAI.PAIRALPHA = rtrim(to.last);
            }
            if (MAI.TOID == from.id) {
                MAI.TOID = to.id;
                MAI.TOALPHA = a;
            }
            if (MAI.FROMID == from.id) {
                MAI.FROMID = to.id;
                MAI.FROMALPHA = a;
            }
        } else {
            if (MSG.TOID == from.id) {
                MSG.TOID = to.id;
                MSG.TOALPHA = a;
            }
            if (MSG.FROMID == from.id) {
                MSG.FROMID = to.id;
                MSG.FROMALPHA = a;
            }
        }
        // Only the person fields: the other keys of the row keep their entries.
        if (!UppPutFields(t, personFields, ModeReportRollback)) return false;
        if (changed) ++*changed;
    }
    return true;
}

PersonMessages personMessages(const PersonRef& who) {
    PersonMessages m;
    if (mailDatabase()) {
        for (int key : {MAI_FromKey, MAI_ToKey}) {
            std::set<Position> rows;
            collectMail(key, who, rows);
            (key == MAI_FromKey ? m.sent : m.received) = static_cast<uint32_t>(rows.size());
            for (Position p : rows)
                if (Mail.reget(p)) m.latest = std::max(m.latest, MAI.DATE);
        }
    } else {
        for (int key : {MSG_FromKey, MSG_ToKey}) {
            std::set<Position> rows;
            collectMsg(key, who, rows);
            (key == MSG_FromKey ? m.sent : m.received) = static_cast<uint32_t>(rows.size());
            for (Position p : rows)
                if (MsgNmbr.reget(p)) m.latest = std::max(m.latest, MSG.DATE);
        }
    }
    return m;
}

std::vector<uint32_t> messagesOfPerson(const PersonRef& who) {
    std::set<Position> rows;
    if (mailDatabase()) {
        collectMail(MAI_FromKey, who, rows);
        collectMail(MAI_ToKey, who, rows);
    } else {
        collectMsg(MSG_FromKey, who, rows);
        collectMsg(MSG_ToKey, who, rows);
    }
    std::vector<std::pair<int64_t, uint32_t>> found;  // (date * 10^7 + time, id)
    Table& t = headerTable();
    for (Position p : rows) {
        if (!t.reget(p)) continue;
        if (mailDatabase()) found.emplace_back(int64_t{MAI.DATE} * 10000000 + MAI.TIME, MAI.MAILID);
        else found.emplace_back(int64_t{MSG.DATE} * 10000000, MSG.MSGNUMBER);
    }
    std::sort(found.begin(), found.end(), [](auto& x, auto& y) { return x > y; });
    std::vector<uint32_t> ids;
    for (auto& f : found) ids.push_back(f.second);
    return ids;
}

// ---- Rename --------------------------------------------------------------------

namespace {

// The database's name follows its own person: the registry row, the
// directory's self-description and the active-database globals.
bool renameOwnDatabase(const std::string& description) {
    const uint32_t id = Mem.ForumNumber;
    {
        Use use{Forums.number()};
        Forums.clearBuffer();
        FOR.ID = id;
        if (!HoldRec(Forums, FOR_ForumKey, 1, "")) return false;
        FOR.DESCRIPTION = description;
        const int ok = UppDat(Forums, UppPut, ModeReport);
        Forums.release();
        if (!ok) return false;
        UpdREF(ModeReport);
    }
    return selectDatabase(id);  // refreshes the globals and tells the open windows
}

} // namespace

SaveResult renamePerson(const PersonRec& opened, const std::string& last, const std::string& first) {
    const std::string title = " Update " + personWord(Mem.ForumType) + " name";
    const std::string newDescription =
        rtrim(first).empty() ? std::string(rtrim(last)) : std::string(rtrim(first)) + " " + std::string(rtrim(last));
    if (isOwnPerson(opened.PERSONID)) {
        // The database takes the new name: it must not be another database's.
        ForumsRec other;
        if (findDatabaseByName(newDescription, other) && other.ID != Mem.ForumNumber) {
            warn(title, "A record with identical key already exists!");
            return SaveResult::Failed;
        }
    }
    Table& header = headerTable();
    Use use{header.number(), Person.number()};
    if (!use.ok()) return SaveResult::Failed;
    if (!beginTransaction({&header, &Person}, 5) || transactionCheck()) {
        if (inTransaction()) rollbackTransaction();
        return SaveResult::Failed;
    }
    Person.clearBuffer();
    PER.PERSONID = opened.PERSONID;
    if (!Person.get(PER_PersonKey)) {
        rollbackTransaction();
        warn(title, "Record retrieval error!\r\n" + errorText());
        return SaveResult::NotFound;
    }
    if (!samePerson(PER, opened)) {
        rollbackTransaction();
        warn("Warning!", "The record has just been changed by another user!\r\nTry again!");
        return SaveResult::ChangedByOther;
    }
    const std::string oldLast = PER.LASTNAME.str();
    PER.LASTNAME = rtrim(last);
    PER.FIRSTNAME = rtrim(first);
    const std::string newLast = PER.LASTNAME.str();
    if (!UppDat(Person, UppPut, ModeReportRollback)) return SaveResult::Failed;
    if (newLast != oldLast &&
        !recodePersonMessages(PersonRef{opened.PERSONID, oldLast}, PersonRef{opened.PERSONID, newLast}))
        return SaveResult::Failed;
    if (!commitTransaction()) {
        warn("Warning!", "Transaction Frame Error!\r\n" + errorText());
        rollbackTransaction();
        return SaveResult::Failed;
    }
    if (isOwnPerson(opened.PERSONID) && !renameOwnDatabase(newDescription)) return SaveResult::Failed;
    return SaveResult::Saved;
}

// ---- Aliases and swap ------------------------------------------------------------

std::string aliasAddress(const std::string& personString) {
    const std::string_view s = rtrim(personString);
    const size_t b = s.rfind(' ');
    return lower(b == std::string_view::npos ? s : s.substr(b + 1));
}

std::vector<PersonAlias> personAliases(uint32_t id, bool all) {
    std::vector<PersonAlias> out;
    PersonRec p;
    if (!readPerson(id, p)) return out;
    Use use{PLINK.number()};
    if (!use.ok()) return out;
    const std::string current = lower(p.ADDRESS.view());
    PLINK.clearBuffer();
    PLI.PERSONID = id;
    PLINK.setFrom(PLI_PersonKey);
    while (PLINK.next() && PLI.PERSONID == id) {
        PersonAlias a{PLI.PERSONSTRING.str(), aliasAddress(PLI.PERSONSTRING.str())};
        if (all || a.address != current) out.push_back(a);
    }
    return out;
}

bool swapIdentity(uint32_t id, const std::string& newString, const std::string& newAddress) {
    if (isOwnPerson(id)) {
        warn("Warning!", kOwnPersonRefused);
        return false;
    }
    Use use{Person.number(), PLINK.number()};
    if (!use.ok()) return false;
    if (!beginTransaction({&Person, &PLINK}, 5) || transactionCheck()) {
        if (inTransaction()) rollbackTransaction();
        return false;
    }
    auto fail = [](const std::string& text) {
        rollbackTransaction();
        warn("Warning!", text);
        return false;
    };
    Person.clearBuffer();
    PER.PERSONID = id;
    if (!Person.get(PER_PersonKey)) return fail("Record retrieval error!\r\n" + errorText());
    const std::string previous = PER.PERSONSTRING.str();
    if (upper(rtrim(previous)) == upper(rtrim(newString))) {
        rollbackTransaction();
        return true;  // nothing changed
    }
    PLINK.clearBuffer();
    PLI.PERSONSTRING = newString;
    if (!PLINK.get(PLI_StringKey) || PLI.PERSONID != id)
        return fail("The identity string is not an alias of this person.");
    // The alias row now holds the previous identity.
    PLI.PERSONSTRING = previous;
    if (!UppDat(PLINK, UppPut, ModeReportRollback)) return false;
    Person.clearBuffer();
    PER.PERSONID = id;
    if (!Person.get(PER_PersonKey)) return fail("Record retrieval error!\r\n" + errorText());
    PER.PERSONSTRING = upper(rtrim(newString));
    PER.ADDRESS = rtrim(newAddress);
    if (!UppDat(Person, UppPut, ModeReportRollback)) return false;
    if (!commitTransaction()) return fail("Transaction Frame Error!\r\n" + errorText());
    return true;
}

// ---- Counting ----------------------------------------------------------------------

bool recountCurrentPerson(bool* changed) {
    bool differs = false;
    if (mailDatabase()) {
        differs = CFromToMail(1) == 2;
    } else {
        const PersonCounts c = countForumPerson(PER.PERSONID, PER.LASTNAME.view());
        differs = c.from != PER.FROMCOUNT || c.to != PER.TOCOUNT;
        PER.FROMCOUNT = c.from;
        PER.TOCOUNT = c.to;
    }
    if (changed) *changed = differs;
    return PER.FROMCOUNT + PER.TOCOUNT > 0 || isOwnPerson(PER.PERSONID);
}

// ---- Merge -----------------------------------------------------------------------

MergeOutcome mergePersons(uint32_t keepId, const std::vector<uint32_t>& others) {
    MergeOutcome out;
    Table& header = headerTable();
    Use use{header.number(), Person.number(), PLINK.number()};
    if (!use.ok()) {
        out.failed = true;
        return out;
    }
    Person.clearBuffer();
    PER.PERSONID = keepId;
    if (!Person.get(PER_PersonKey)) {
        warn("Warning!", "Record retrieval error!\r\n" + errorText());
        out.failed = true;
        return out;
    }
    const PersonRef keeper{keepId, PER.LASTNAME.str()};

    for (uint32_t id : others) {
        if (id == keepId) continue;
        if (isOwnPerson(id)) {
            warn("Warning!", kOwnPersonRefused);
            ++out.refused;
            continue;
        }
        if (!beginTransaction({&header, &PLINK, &Person}, 5) || transactionCheck()) {
            if (inTransaction()) rollbackTransaction();
            out.failed = true;
            break;
        }
        Person.clearBuffer();
        PER.PERSONID = id;
        if (!Person.get(PER_PersonKey)) {
            rollbackTransaction();
            warn("Warning!", "Record retrieval error!\r\n" + errorText());
            ++out.refused;
            continue;
        }
        const PersonRec gone = PER;
        if (!recodePersonMessages(PersonRef{id, gone.LASTNAME.str()}, keeper)) {
            out.failed = true;
            break;
        }
        if (!pointAliasesTo(id, gone.PERSONSTRING.str(), keepId)) {
            out.failed = true;
            break;
        }
        Person.clearBuffer();
        PER.PERSONID = id;
        if (!Person.get(PER_PersonKey) || !UppDat(Person, UppDelete, ModeReportRollback)) {
            if (inTransaction()) rollbackTransaction();
            out.failed = true;
            break;
        }
        if (!commitTransaction()) {
            warn("Warning!", "Transaction Frame Error!\r\n" + errorText());
            rollbackTransaction();
            out.failed = true;
            break;
        }
        ++out.merged;
    }

    // The kept person's counts include what it took over.
    if (beginTransaction({&Person}, 5) && !transactionCheck()) {
        Person.clearBuffer();
        PER.PERSONID = keepId;
        bool changed = false;
        if (Person.get(PER_PersonKey)) {
            recountCurrentPerson(&changed);
            if (changed && !UppDat(Person, UppPut, ModeReportRollback)) out.failed = true;
        }
        if (inTransaction() && !commitTransaction()) {
            rollbackTransaction();
            out.failed = true;
        }
    } else {
        if (inTransaction()) rollbackTransaction();
        out.failed = true;
    }
    return out;
}

bool pointAliasesTo(uint32_t fromId, const std::string& fromString, uint32_t toId) {
    std::vector<Position> rows;
    PLINK.clearBuffer();
    PLI.PERSONID = fromId;
    PLINK.setFrom(PLI_PersonKey);
    while (PLINK.next() && PLI.PERSONID == fromId) rows.push_back(PLINK.position());
    for (Position p : rows) {
        if (!PLINK.reget(p)) continue;
        PLI.PERSONID = toId;
        if (!UppDat(PLINK, UppPut, ModeReportRollback)) return false;
    }
    if (rtrim(fromString).empty()) return true;
    PLINK.clearBuffer();
    PLI.PERSONSTRING = fromString;
    if (PLINK.get(PLI_StringKey)) {
        if (PLI.PERSONID == toId) return true;
        PLI.PERSONID = toId;
        return UppDat(PLINK, UppPut, ModeReportRollback) == 1;
    }
    PLINK.clearBuffer();
    PLI.PERSONSTRING = fromString;
    PLI.PERSONID = toId;
    return UppDat(PLINK, UppAdd, ModeReportRollback) == 1;
}

} // namespace qb
