#include "import/store.h"

#include <string>
#include <string_view>

#include "core/access.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/persons.h"

namespace qb {

namespace {

constexpr const char* kUnknownName = "Name Unknown";

std::string first10(std::string_view s) { return std::string(s.substr(0, s.size() < 10 ? s.size() : 10)); }

// A person as the message row refers to it: ID and last name.
struct Who {
    uint32_t id = 0;
    std::string last;
};

// Rolls the caller's transaction back after a failure of the store step's own.
int fail(const std::string& title, const std::string& text) {
    if (inTransaction()) rollbackTransaction();
    if (!unattended()) ui().message(title, text, Icon::Exclamation);
    return StoreFailed;
}

bool resolve(std::string_view address, std::string_view name, Who& who) {
    if (AddPers(address, name) != 0) return false;
    who.id = PER.PERSONID;
    who.last = PER.LASTNAME.str();
    return true;
}

bool resolveOwner(std::string_view address, std::string_view name, Who& who) {
    if (!ownerPerson(address, name)) return false;
    who.id = ownerAlphaCache().personId;
    who.last = ownerAlphaCache().lastName;
    return true;
}

bool writeText(uint32_t id, const StoreInput& in, bool overwrite) {
    if (overwrite) {
        MsgText.clearBuffer();
        TXT.MSGNUMBER = id;
        if (MsgText.get(TXT_IdKey)) {
            TXT.DATE = in.textDate;
            TXT.TIME = in.textTime;
            TXT_MsgText = NHR_MSGTEXT.substr(0, TXT_MsgTextMax);
            return UppDat(MsgText, UppPut, ModeReportRollback) == 1;
        }
    }
    MsgText.clearBuffer();
    TXT.MSGNUMBER = id;
    TXT.DATE = in.textDate;
    TXT.TIME = in.textTime;
    TXT_MsgText = NHR_MSGTEXT.substr(0, TXT_MsgTextMax);
    return UppDat(MsgText, UppAdd, ModeReportRollback) == 1;
}

// ---- Mail ----------------------------------------------------------------------

int storeMail(const StoreInput& in, StoreOutput& out) {
    const std::string sName = NHR.S_NAME.empty() ? std::string(kUnknownName) : NHR.S_NAME.str();
    const std::string rName = NHR.R_NAME.empty() ? std::string(kUnknownName) : NHR.R_NAME.str();
    const std::string sAddr = NHR.S_CISADRESS.str();
    const std::string rAddr = NHR.R_CISADRESS.str();

    Who from, to;
    if (NHR.MAILTYPE == MailOutbox) {
        if (!resolveOwner(sAddr, sName, from) || !resolve(rAddr, rName, to)) return StoreFailed;
    } else if (NHR.MAILTYPE == MailInbox) {
        if (!resolve(sAddr, sName, from) || !resolveOwner(rAddr, rName, to)) return StoreFailed;
    } else {
        // Direction unknown: both persons by their own names.
        if (!resolve(sAddr, sName, from) || !resolve(rAddr, rName, to)) return StoreFailed;
    }
    const Who& pair = NHR.MAILTYPE == MailOutbox ? to : from;

    int32_t time = NHR.TIME;
    if (time % 6000 != 0) time = time - time % 6000 + 1;

    // The same subject, date and minute, between the same persons, with the same text.
    const std::string heading = NHR.HEADING.str();
    Mail.clearBuffer();
    MAI.SUBJECT = heading;
    MAI.DATE = NHR.DATE;
    MAI.TIME = time;
    MAI.MAILID = UINT32_MAX;
    Mail.setFrom(MAI_SubjectKey);
    while (Mail.next()) {
        if (compare1252(MAI.SUBJECT.view(), heading, true) != 0 || MAI.DATE != NHR.DATE || MAI.TIME != time) break;
        if (MAI.FROMID == from.id && MAI.TOID == to.id && DupString(1, MAI.MAILID, 0) == 1) {
            out.fromId = from.id;
            out.toId = to.id;
            return StoreSkipped;
        }
    }

    uint32_t mailId = NHR.REFNUMBER != 0 ? NHR.REFNUMBER : NHR.MSGNUMBER;
    if (mailId == 0) {
        mailId = NextNr();
        if (mailId == 0) return fail("Warning!", "Transaction Frame Error!");
    }

    Mail.clearBuffer();
    MAI.MAILID = mailId;
    MAI.SUBJECT = heading;
    MAI.DATE = NHR.DATE;
    MAI.TIME = time;
    MAI.FROMID = from.id;
    MAI.FROMALPHA = first10(from.last);
    MAI.TOID = to.id;
    MAI.TOALPHA = first10(to.last);
    MAI.PAIRID = pair.id;
    MAI.PAIRALPHA = pair.last;
    MAI.RECIPTYPE = NHR.RECIPTYPE.view();
    MAI.CCR = 0;
    MAI.DUMMY = 0;
    MAI.FG = 0;
    if (!UppDat(Mail, UppAdd, ModeReportRollback)) return StoreFailed;
    if (!writeText(mailId, in, false)) return StoreFailed;

    if (in.mailTopic != 0) {
        SIndex.clearBuffer();
        SIN.ID = in.mailTopic;
        SIN.MSGNUMBER = mailId;
        if (!SIndex.get(SIN_IdKey)) {
            SIndex.clearBuffer();
            SIN.ID = in.mailTopic;
            SIN.MSGNUMBER = mailId;
            if (!UppDat(SIndex, UppAdd, ModeReportRollback)) return StoreFailed;
        }
    }
    out.isNew = true;
    out.fromId = from.id;
    out.toId = to.id;
    out.msgNumber = mailId;
    return StoreStored;
}

// ---- Forum and newsgroup -------------------------------------------------------

// The thread of a heading in a section: the first whose whole heading equals it
// exactly, else a new one.
bool threadByHeading(uint32_t secSysId, std::string_view heading, uint32_t& number, std::string& alpha) {
    const std::string h(rtrim(heading.substr(0, ThreadsRec::HeadingLength)));
    const std::string a = first10(h);
    Threads.clearBuffer();
    THR.SECSYSID = secSysId;
    THR.ALPHA = a;
    Threads.setFrom(THR_SecKey);
    while (Threads.next()) {
        if (THR.SECSYSID != secSysId || compare1252(THR.ALPHA.view(), a, true) != 0) break;
        if (rtrim(THR.heading()) == h) {
            number = THR.THREADNUMBER;
            alpha = THR.ALPHA.str();
            return true;
        }
    }
    const uint32_t id = NextNr();
    if (id == 0) {
        fail("Warning!", "Transaction Frame Error!");
        return false;
    }
    Threads.clearBuffer();
    THR.THREADNUMBER = id;
    THR.SECSYSID = secSysId;
    THR.setHeading(h);
    THR.MSGCOUNT = 0;
    THR.DUMMY = 0;
    if (!UppDat(Threads, UppAdd, ModeReportRollback)) return false;
    number = id;
    alpha = THR.ALPHA.str();
    return true;
}

bool messageExists(uint32_t number) {
    if (number == 0) return false;
    MsgNmbr.clearBuffer();
    MSG.MSGNUMBER = number;
    return MsgNmbr.get(MSG_IdKey);
}

// The Message-ID or reference with this temporary number, or empty.
std::string temporaryId(uint32_t tempNumber) {
    if (tempNumber == 0) return {};
    TempID.clearBuffer();
    TID.MSGNUMBER = tempNumber;
    if (!TempID.get(TID_IDKEY)) return {};
    return TID.IDSTRING.str();
}

struct Parent {
    bool found = false;
    uint32_t number = 0;       // for MSG:REFNUMBER (also when the parent is not stored yet)
    uint32_t thread = 0;
    std::string threadAlpha;
    uint32_t senderId = 0;
};

int storeBoard(const StoreInput& in, StoreOutput& out, bool news) {
    uint32_t number = NHR.MSGNUMBER;
    Parent parent;

    if (news) {
        // The message's own Message-ID decides its number.
        const std::string mid = temporaryId(NHR.MSGNUMBER);
        if (mid.empty()) return StoreSkipped;
        MessageIds.clearBuffer();
        MST.IDSTRING = mid;
        if (MessageIds.get(MST_IDSTRINGKEY)) {
            number = MST.MSGNUMBER;
        } else {
            MessageIds.clearBuffer();
            MST.IDSTRING = mid;
            MST.MSGNUMBER = NHR.MSGNUMBER;
            // A Message-ID that cannot be written is a failure, not a duplicate.
            if (!UppDat(MessageIds, UppAdd, ModeReportRollback)) return StoreFailed;
        }
    }

    const bool exists = messageExists(number);
    if (exists && (in.merge || !in.allowReimport)) return StoreSkipped;

    if (news) {
        const std::string ref = temporaryId(NHR.REFNUMBER);
        if (!ref.empty()) {
            MessageIds.clearBuffer();
            MST.IDSTRING = ref;
            if (MessageIds.get(MST_IDSTRINGKEY)) {
                parent.number = MST.MSGNUMBER;
            } else {
                // The referenced article takes this number when it comes.
                MessageIds.clearBuffer();
                MST.IDSTRING = ref;
                MST.MSGNUMBER = NHR.REFNUMBER;
                if (!UppDat(MessageIds, UppAdd, ModeReportRollback)) return StoreFailed;
                parent.number = NHR.REFNUMBER;
            }
        }
    } else {
        parent.number = NHR.REFNUMBER;
    }
    if (parent.number == number) parent.number = 0;  // a message is not its own reply
    if (parent.number != 0 && messageExists(parent.number)) {
        parent.found = true;
        parent.thread = MSG.THREADNUMBER;
        parent.threadAlpha = MSG.THREADALPHA.str();
        parent.senderId = MSG.FROMID;
    }

    uint32_t thread = 0;
    std::string threadAlpha;
    if (parent.found) {
        thread = parent.thread;
        threadAlpha = parent.threadAlpha;
    } else if (!threadByHeading(in.secSysId, NHR.HEADING.view(), thread, threadAlpha)) {
        return StoreFailed;
    }

    Who from, to;
    if (!resolve(NHR.S_CISADRESS.view(), NHR.S_NAME.view(), from)) return StoreFailed;
    bool toKnown = false;
    if (news && parent.found && parent.senderId != 0) {
        // A reply is addressed to the sender of the article it answers.
        Person.clearBuffer();
        PER.PERSONID = parent.senderId;
        if (Person.get(PER_PersonKey)) {
            to.id = PER.PERSONID;
            to.last = PER.LASTNAME.str();
            toKnown = true;
        }
    }
    if (!toKnown && !resolve(NHR.R_CISADRESS.view(), NHR.R_NAME.view(), to)) return StoreFailed;

    uint8_t status = 0;
    if (exists) {
        if (!messageExists(number)) return fail("Warning!", "Transaction Frame Error!");
        // The user's keep or delete mark stays over a reimport.
        status = MSG.DUMMY;
    } else {
        MsgNmbr.clearBuffer();
    }
    MSG.MSGNUMBER = number;
    MSG.SECSYSID = in.secSysId;
    MSG.REFNUMBER = parent.number;
    MSG.THREADNUMBER = thread;
    MSG.THREADALPHA = threadAlpha;
    MSG.FROMID = from.id;
    MSG.FROMALPHA = first10(from.last);
    MSG.TOID = to.id;
    MSG.TOALPHA = first10(to.last);
    MSG.DATE = NHR.DATE;
    MSG.DUMMY = status;
    MSG.FG = 0;
    if (!UppDat(MsgNmbr, exists ? UppPut : UppAdd, ModeReportRollback)) return StoreFailed;
    if (!writeText(number, in, exists)) return StoreFailed;

    if (!news) {
        IMP.FORUMNUMBER = NHR.INTERNAL != 0 ? NHR.INTERNAL : Mem.ForumNumber;
        IMP.MSGNUMBER = number;
        if (in.allowReimport) {
            const SavedMsgRec pairRow = IMP;
            if (!SavedMsg.get(IMP_IDKEY)) {
                IMP = pairRow;
                if (!UppDat(SavedMsg, UppAdd, ModeReportRollback)) return StoreFailed;
            }
        } else if (!UppDat(SavedMsg, UppAppend, ModeReportRollback)) {
            return StoreFailed;
        }
    }

    out.isNew = !exists;
    out.fromId = from.id;
    out.toId = to.id;
    out.threadNumber = thread;
    out.msgNumber = number;
    return StoreStored;
}

bool readText(uint32_t id, std::string& text) {
    MsgText.clearBuffer();
    TXT.MSGNUMBER = id;
    if (!MsgText.get(TXT_IdKey)) return false;
    text = TXT_MsgText;
    return true;
}

} // namespace

std::vector<Table*> storeTables(uint8_t kind) {
    switch (kind) {
    case 1: return {&MsgNmbr, &MsgText, &Threads, &SavedMsg, &Person, &PLINK, &Control};
    case 2: return {&Mail, &MsgText, &SIndex, &Person, &PLINK, &Control};
    case 3: return {&MsgNmbr, &MsgText, &Threads, &MessageIds, &Person, &PLINK, &Control};
    default: return {};
    }
}

int storeMessage(const StoreInput& in, StoreOutput& out) {
    out = StoreOutput{};
    const std::vector<Table*> tables = storeTables(in.kind);
    if (tables.empty())
        return fail("Warning!", "Unknown database type " + std::to_string(in.kind) + "!\r\nThe last transaction is rolled back.");
    for (Table* t : tables)
        if (!t->isOpen())
            return fail("Warning!", "The table " + t->name() + " is not open!\r\nThe last transaction is rolled back.");
    if (in.kind == 3 && !TempID.isOpen())
        return fail("Warning!", "The table " + TempID.name() + " is not open!\r\nThe last transaction is rolled back.");
    if (in.kind == 2) return storeMail(in, out);
    return storeBoard(in, out, in.kind == 3);
}

void resetStoreRun() { ownerAlphaCache() = OwnerAlpha{}; }

int DupString(int mode, uint32_t id1, uint32_t id2) {
    std::string a, b;
    if (!readText(id1, a)) return 0;
    if (mode == 1) {
        b = NHR_MSGTEXT.substr(0, TXT_MsgTextMax);
    } else if (mode == 2) {
        if (!readText(id2, b)) return 0;
    } else {
        return 0;
    }
    std::string_view x = rtrim(a), y = rtrim(b);
    if (x.size() > y.size()) std::swap(x, y);
    if (y.size() - x.size() >= 20) return 0;
    return y.substr(0, x.size()) == x ? 1 : 0;
}

} // namespace qb
