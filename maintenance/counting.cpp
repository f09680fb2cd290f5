#include "maintenance/counting.h"

#include <algorithm>
#include <climits>
#include <filesystem>

#include "core/access.h"
#include "core/globals.h"
#include "core/kinds.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "import/persons.h"
#include "maintenance/wordcounts.h"

namespace qb {

namespace {

std::string_view alpha10(std::string_view s) { return rtrim(s.substr(0, std::min<size_t>(10, s.size()))); }

// Rows of the key whose alpha (letter case ignored) and ID equal the given
// ones; the buffer has been filled with the first key values to seek.
uint32_t countRun(int key, const Str<10>& rowAlpha, const uint32_t& rowId, std::string_view alpha, uint32_t id) {
    MsgNmbr.setFrom(key);
    uint32_t n = 0;
    while (MsgNmbr.next()) {
        if (rowId != id || compare1252(rowAlpha.view(), alpha, true) != 0) break;
        ++n;
    }
    return n;
}

// The key of a tally: the alpha as the case-blind keys compare it, and the ID.
std::string tallyKey(std::string_view alpha, uint32_t id) {
    std::string k = upper(alpha10(alpha));
    k.push_back('\x01');
    k.append(reinterpret_cast<const char*>(&id), sizeof id);
    return k;
}

uint32_t tallyOf(const std::unordered_map<std::string, uint32_t>& tally, std::string_view alpha, uint32_t id) {
    auto it = tally.find(tallyKey(alpha, id));
    return it == tally.end() ? 0 : it->second;
}

RecountResult writeOrDelete(Table& t, bool remove, bool write) {
    if (remove) return UppDat(t, UppDelete, ModeReportRollback) == 1 ? RecountResult::Deleted : RecountResult::Failed;
    if (write) return UppDat(t, UppPut, ModeReportRollback) == 1 ? RecountResult::Written : RecountResult::Failed;
    return RecountResult::Unchanged;
}

} // namespace

PersonCounts countForumPerson(uint32_t personId, std::string_view lastName) {
    const std::string_view alpha = alpha10(lastName);
    PersonCounts c;
    MsgNmbr.clearBuffer();
    MSG.FROMALPHA = alpha;
    MSG.FROMID = personId;
    MSG.MSGNUMBER = UINT32_MAX;  // descending: the first of the person's rows
    c.from = countRun(MSG_FromKey, MSG.FROMALPHA, MSG.FROMID, alpha, personId);
    MsgNmbr.clearBuffer();
    MSG.TOALPHA = alpha;
    MSG.TOID = personId;
    MSG.MSGNUMBER = UINT32_MAX;
    c.to = countRun(MSG_ToKey, MSG.TOALPHA, MSG.TOID, alpha, personId);
    return c;
}

uint32_t countThreadMessages(uint32_t threadNumber, std::string_view alpha) {
    alpha = alpha10(alpha);
    MsgNmbr.clearBuffer();
    MSG.THREADALPHA = alpha;
    MSG.THREADNUMBER = threadNumber;
    MSG.MSGNUMBER = 0;
    return countRun(MSG_Threadkey, MSG.THREADALPHA, MSG.THREADNUMBER, alpha, threadNumber);
}

RecountResult recountPerson(uint8_t kind, uint32_t ownerId) {
    if (kind == KindMail) {
        const bool owner = ownerId != 0 && PER.PERSONID == ownerId;
        const int r = CFromToMail(owner ? 1 : 0);
        return writeOrDelete(Person, r == 3, r == 2);
    }
    const PersonCounts c = countForumPerson(PER.PERSONID, PER.LASTNAME.view());
    const bool none = c.from == 0 && c.to == 0;
    const bool differs = c.from != PER.FROMCOUNT || c.to != PER.TOCOUNT;
    PER.FROMCOUNT = c.from;
    PER.TOCOUNT = c.to;
    return writeOrDelete(Person, none, differs);
}

RecountResult recountThread() {
    const uint32_t n = countThreadMessages(THR.THREADNUMBER, THR.ALPHA.view());
    const bool differs = n != THR.MSGCOUNT;
    THR.MSGCOUNT = n;
    return writeOrDelete(Threads, n == 0, differs);
}

RecountResult recountSection() {
    const SectionsRec section = SEC;
    uint64_t sum = 0;
    Threads.clearBuffer();
    THR.SECSYSID = section.SECSYSID;
    Threads.setFrom(THR_SecKey);
    while (Threads.next() && THR.SECSYSID == section.SECSYSID) sum += THR.MSGCOUNT;
    SEC = section;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(sum, UINT32_MAX));
    const bool differs = n != SEC.MSGCOUNT;
    SEC.MSGCOUNT = n;
    return writeOrDelete(Sections, n == 0, differs);
}

RecountResult recountReceiver() {
    const MsgNmbrRec row = MSG;
    const Position pos = MsgNmbr.position();
    if (row.REFNUMBER == 0) return RecountResult::Unchanged;
    MsgNmbr.clearBuffer();
    MSG.MSGNUMBER = row.REFNUMBER;
    const bool parentFound = MsgNmbr.get(MSG_IdKey);
    const MsgNmbrRec parent = MSG;
    if (!MsgNmbr.reget(pos)) {
        // The message itself went away meanwhile: nothing to write.
        MSG = row;
        return RecountResult::Unchanged;
    }
    if (!parentFound || parent.FROMID == MSG.TOID) return RecountResult::Unchanged;
    MSG.TOID = parent.FROMID;
    MSG.TOALPHA = parent.FROMALPHA.view();
    return writeOrDelete(MsgNmbr, false, true);
}

bool writeDatabaseCount(uint32_t forumId, uint8_t kind, uint32_t messageCount) {
    (void)kind;
    // A hold waits at most a second; five tries make the five seconds.
    bool held = false;
    for (int attempt = 0; attempt < 4 && !held; ++attempt) {
        Forums.clearBuffer();
        FOR.ID = forumId;
        held = Forums.get(FOR_ForumKey) && Forums.holdPosition(Forums.position());
        if (!held && errorCode() == ErrRecordNotFound) break;
    }
    if (!held) {
        Forums.clearBuffer();
        FOR.ID = forumId;
        if (HoldRec(Forums, FOR_ForumKey, 1, "") != 1) return false;
    }
    FOR.MSGCOUNT = messageCount;
    FOR.COUNTFLAG = 0;
    const bool ok = UppDat(Forums, UppPut, ModeReport) == 1;
    Forums.release();
    return ok;
}

// ---- the step machine ---------------------------------------------------------

Recount::Recount(unsigned parts, int batch) : parts_(parts), batch_(batch) {
    if (batch_ <= 0) batch_ = SpeedVal(3, 26);
    if (batch_ <= 0) batch_ = 500;
}

Recount::~Recount() {
    words_.reset();
    txn_.rollback();
    closeTables();
}

void Recount::openTables() {
    kind_ = Mem.ForumType;
    forumId_ = Mem.ForumNumber;
    ownerId_ = Mem.PersonID;
    if (kind_ == KindMail) OP_CLOSE(OpOpenShared, Mail.number(), Person.number(), Forums.number());
    else OP_CLOSE(OpOpenShared, MsgNmbr.number(), Person.number(), Threads.number(), Sections.number(), Forums.number());
    opened_ = true;
}

void Recount::closeTables() {
    if (!opened_) return;
    opened_ = false;
    if (kind_ == KindMail) OP_CLOSE(OpClose, Mail.number(), Person.number(), Forums.number());
    else OP_CLOSE(OpClose, MsgNmbr.number(), Person.number(), Threads.number(), Sections.number(), Forums.number());
}

void Recount::fail() {
    words_.reset();
    txn_.rollback();
    closeTables();
    stage_ = Stage::Failed;
}

void Recount::stop() {
    if (finished()) return;
    txn_.commit();
    closeTables();
    stage_ = Stage::Failed;
}

void Recount::enter(Stage s) {
    // Stages that do not apply to this database or run are passed over.
    const bool mail = kind_ == KindMail;
    for (;;) {
        bool wanted = true;
        switch (s) {
        case Stage::Receivers: wanted = (parts_ & RecountReceivers) && kind_ == KindNews; break;
        case Stage::Tally: wanted = parts_ & (RecountPersons | RecountThreads); break;
        case Stage::Persons: wanted = parts_ & RecountPersons; break;
        case Stage::Threads: wanted = (parts_ & RecountThreads) && !mail; break;
        case Stage::Sections: wanted = (parts_ & RecountSections) && !mail; break;
        case Stage::Words:
            wanted = (parts_ & RecountWords) && std::filesystem::exists(tableFileName(MasIdx.number())) &&
                     std::filesystem::exists(tableFileName(WordList.number())) && wordCountsMarked();
            break;
        default: break;
        }
        if (wanted) break;
        s = static_cast<Stage>(static_cast<int>(s) + 1);
    }
    stage_ = s;
    position_ = 0;
    done_ = 0;
    total_ = 0;
    Table* t = nullptr;
    switch (s) {
    case Stage::Receivers:
        status_ = "Updating message receiver information";
        t = &MsgNmbr;
        break;
    case Stage::Tally:
        status_ = mail ? "Updating message counts per mailpartner" : "Updating message counts per person";
        t = mail ? &Mail : &MsgNmbr;
        fromTally_.clear();
        toTally_.clear();
        threadTally_.clear();
        break;
    case Stage::Persons:
        status_ = mail ? "Updating message counts per mailpartner" : "Updating message counts per person";
        t = &Person;
        break;
    case Stage::Threads:
        status_ = "Updating message counts per thread";
        t = &Threads;
        break;
    case Stage::Sections:
        status_ = "Updating message counts per section";
        t = &Sections;
        break;
    case Stage::Words:
        status_ = "Updating word counts";
        words_ = std::make_unique<WordCountWriter>(batch_);
        break;
    case Stage::Database: status_ = "Updating message count of the database"; break;
    default: break;
    }
    if (t) {
        total_ = t->records();
        txn_.setTables({t});
    }
}

bool Recount::step() {
    switch (stage_) {
    case Stage::Start:
        openTables();
        for (Table* t : {kind_ == KindMail ? &Mail : &MsgNmbr, &Person, &Forums})
            if (!t->isOpen()) {
                fail();
                return false;
            }
        if (kind_ != KindMail && (!Threads.isOpen() || !Sections.isOpen())) {
            fail();
            return false;
        }
        enter(Stage::Receivers);
        return true;
    case Stage::Tally: return stepTally();
    case Stage::Receivers:
    case Stage::Persons:
    case Stage::Threads:
    case Stage::Sections: return stepRows();
    case Stage::Words: return stepWords();
    case Stage::Database: return stepDatabase();
    case Stage::Done:
    case Stage::Failed: return false;
    }
    return false;
}

bool Recount::stepRows() {
    Table& t = stage_ == Stage::Receivers ? MsgNmbr
               : stage_ == Stage::Persons ? Person
               : stage_ == Stage::Threads ? Threads
                                          : Sections;
    if (!txn_.begin()) {
        fail();
        return false;
    }
    t.setRecord(position_ + 1);
    for (int i = 0; i < batch_; ++i) {
        if (!t.next()) {
            if (errorCode() != ErrRecordNotAvailable) {
                maintenanceMessage(t.path(), "Record read error!\r\n" + errorText());
                fail();
                return false;
            }
            if (!txn_.commit()) {
                fail();
                return false;
            }
            enter(static_cast<Stage>(static_cast<int>(stage_) + 1));
            return true;
        }
        position_ = t.position();
        ++done_;
        RecountResult r = RecountResult::Unchanged;
        switch (stage_) {
        case Stage::Receivers: r = recountReceiver(); break;
        case Stage::Persons: r = personFromTally(); break;
        case Stage::Threads: r = threadFromTally(); break;
        default: r = recountSection(); break;
        }
        if (r == RecountResult::Failed) {
            fail();
            return false;
        }
        const bool kept = r != RecountResult::Deleted;
        switch (stage_) {
        case Stage::Receivers: totals_.receiversChanged += r == RecountResult::Written; break;
        case Stage::Persons:
            if (kept) {
                ++totals_.persons;
                if (kind_ == KindMail && PER.PERSONID != ownerId_) ++totals_.partners;
            } else {
                ++totals_.personsDeleted;
            }
            break;
        case Stage::Threads: kept ? ++totals_.threads : ++totals_.threadsDeleted; break;
        default: kept ? ++totals_.sections : ++totals_.sectionsDeleted; break;
        }
        if (r != RecountResult::Unchanged && !txn_.changed(1)) {
            fail();
            return false;
        }
    }
    if (!txn_.commit()) {
        fail();
        return false;
    }
    return true;
}

bool Recount::stepTally() {
    const bool mail = kind_ == KindMail;
    Table& t = mail ? Mail : MsgNmbr;
    t.setRecord(position_ + 1);
    // Reading only: ten times the batch of a writing step.
    for (int i = 0; i < batch_ * 10; ++i) {
        if (!t.next()) {
            if (errorCode() != ErrRecordNotAvailable) {
                maintenanceMessage(t.path(), "Record read error!\r\n" + errorText());
                fail();
                return false;
            }
            enter(Stage::Persons);
            return true;
        }
        position_ = t.position();
        ++done_;
        if (mail) {
            ++fromTally_[tallyKey(MAI.FROMALPHA.view(), MAI.FROMID)];
            ++toTally_[tallyKey(MAI.TOALPHA.view(), MAI.TOID)];
        } else {
            ++fromTally_[tallyKey(MSG.FROMALPHA.view(), MSG.FROMID)];
            ++toTally_[tallyKey(MSG.TOALPHA.view(), MSG.TOID)];
            ++threadTally_[tallyKey(MSG.THREADALPHA.view(), MSG.THREADNUMBER)];
        }
    }
    return true;
}

// The person in PER counted from the tally, decided as recountPerson does:
// a person without messages goes, except the mail database's own, whose
// counts become 0.
RecountResult Recount::personFromTally() {
    const uint32_t from = tallyOf(fromTally_, PER.LASTNAME.view(), PER.PERSONID);
    const uint32_t to = tallyOf(toTally_, PER.LASTNAME.view(), PER.PERSONID);
    const bool owner = kind_ == KindMail && ownerId_ != 0 && PER.PERSONID == ownerId_;
    const bool none = from == 0 && to == 0;
    const bool differs = from != PER.FROMCOUNT || to != PER.TOCOUNT;
    PER.FROMCOUNT = from;
    PER.TOCOUNT = to;
    return writeOrDelete(Person, none && !owner, differs);
}

RecountResult Recount::threadFromTally() {
    const uint32_t n = tallyOf(threadTally_, THR.ALPHA.view(), THR.THREADNUMBER);
    const bool differs = n != THR.MSGCOUNT;
    THR.MSGCOUNT = n;
    return writeOrDelete(Threads, n == 0, differs);
}

bool Recount::stepWords() {
    const bool more = words_->step();
    done_ = words_->done();
    total_ = words_->total();
    if (more) return true;
    const bool ok = words_->ok();
    words_.reset();
    if (!ok) {
        fail();
        return false;
    }
    enter(Stage::Database);
    return true;
}

bool Recount::stepDatabase() {
    Table& messages = kind_ == KindMail ? Mail : MsgNmbr;
    totals_.messages = static_cast<uint64_t>(messages.records());
    if ((parts_ & RecountDatabase) &&
        !writeDatabaseCount(forumId_, kind_, static_cast<uint32_t>(std::min<uint64_t>(totals_.messages, UINT32_MAX)))) {
        fail();
        return false;
    }
    closeTables();
    stage_ = Stage::Done;
    status_.clear();
    return false;
}

} // namespace qb
