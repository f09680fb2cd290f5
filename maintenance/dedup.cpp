#include "maintenance/dedup.h"

#include <algorithm>

#include "core/access.h"
#include "core/globals.h"
#include "core/kinds.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/persons.h"
#include "import/pipeline.h"
#include "maintenance/counting.h"
#include "maintenance/persons.h"

namespace qb {

namespace {

Table& header(bool mail) { return mail ? Mail : MsgNmbr; }

std::vector<int> runTables(bool mail) { return {header(mail).number(), Person.number(), PLINK.number()}; }

bool hasChar179(std::string_view s) { return s.find(static_cast<char>(179)) != std::string_view::npos; }

} // namespace

DuplicateMerge::DuplicateMerge() {
    mail_ = Mem.ForumType == KindMail;
    forumId_ = Mem.ForumNumber;
    ownId_ = mail_ ? Mem.PersonID : 0;
    const int32_t b = SpeedVal(3, 29);
    batch_ = b > 0 ? std::max<int32_t>(b, 50) : 200;
}

DuplicateMerge::~DuplicateMerge() {
    recount_.reset();
    if (txn_ && inTransaction()) commitTransaction();
    txn_ = false;
    if (opened_)
        for (int n : runTables(mail_)) OP_CLOSE(OpClose, n);
}

double DuplicateMerge::seconds() const {
    if (finished()) return seconds_;
    if (pass_ == NotStarted) return 0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

std::string DuplicateMerge::status() const {
    const std::string who = mail_ ? "Mail Partners" : "Forum Members";
    switch (pass_) {
    case NotStarted: return "";
    case CorrectAddresses: return "Correcting non wellformed CIS addresses";
    case FindSuspects: return "Identifying duplicate " + who;
    case CountSuspects: return "Updating count for suspected duplicates";
    case ChooseKeepers: return "Processing Step 1";
    case RecodeMessages: return "Recoding Message Receiver ID";
    case RemoveDuplicates: return "Deleting duplicate persons";
    case Recount: return "Updating message counts per person";
    case Finish:
    case Done: return "The Duplicate Removal Process has finished!";
    case Failed: return stopped_ ? "Stopped" : "Ended by an error";
    }
    return "";
}

void DuplicateMerge::next(Pass p) {
    pass_ = p;
    index_ = 0;
    total_ = 0;
    ids_.clear();
}

void DuplicateMerge::fail() {
    recount_.reset();
    if (txn_ && inTransaction()) rollbackTransaction();
    txn_ = false;
    seconds_ = seconds();
    pass_ = Failed;
}

void DuplicateMerge::stop() {
    if (finished()) return;
    if (recount_) recount_->stop();
    recount_.reset();
    if (txn_ && inTransaction()) commitTransaction();
    txn_ = false;
    stopped_ = true;
    seconds_ = seconds();
    pass_ = Failed;
}

bool DuplicateMerge::begin(std::vector<Table*> tables) {
    if (txn_) return true;
    if (!tables.empty()) txnTables_ = std::move(tables);
    if (!beginTransaction(txnTables_, 5) || transactionCheck()) {
        if (inTransaction()) rollbackTransaction();
        return false;
    }
    txn_ = true;
    sinceCommit_ = 0;
    return true;
}

// Commits the open batch; with reopen the next batch's transaction begins
// once the data directory still has room.
bool DuplicateMerge::commitBatch(bool reopen) {
    if (txn_) {
        txn_ = false;
        if (!commitTransaction()) {
            if (!unattended()) ui().message("Warning!", "Transaction Frame Error!\r\n" + errorText(), Icon::Exclamation);
            rollbackTransaction();
            return false;
        }
    }
    sinceCommit_ = 0;
    if (!reopen) return true;
    if (CheckSpace(Mem.FileDir, kFreeSpace) != 0) return false;
    return begin({});
}

bool DuplicateMerge::noteChanged(uint64_t rows) {
    sinceCommit_ += rows;
    if (sinceCommit_ < static_cast<uint64_t>(kCommitEvery)) return true;
    return commitBatch(true);
}

bool DuplicateMerge::step() {
    if (finished()) return false;
    if (pass_ == NotStarted) {
        started_ = std::chrono::steady_clock::now();
        for (int n : runTables(mail_)) OP_CLOSE(OpOpenShared, n);
        opened_ = true;
        for (int n : runTables(mail_))
            if (!tableByNumber(n)->isOpen()) {
                fail();
                return false;
            }
        existing_ = static_cast<uint64_t>(Person.records());
        next(CorrectAddresses);
    }
    switch (pass_) {
    case CorrectAddresses: doCorrect(); break;
    case FindSuspects: doSuspects(); break;
    case CountSuspects: doCount(); break;
    case ChooseKeepers: doKeepers(); break;
    case RecodeMessages: doRecode(); break;
    case RemoveDuplicates: doRemove(); break;
    case Recount: doRecount(); break;
    case Finish: doFinish(); break;
    default: break;
    }
    return !finished();
}

// 1. Addresses that an older import stored badly are derived again from the
// identity string.
void DuplicateMerge::doCorrect() {
    if (total_ == 0 && ids_.empty()) {
        Person.setFile();
        while (Person.next()) {
            const bool candidate = mail_ ? (PER.ADDRESS.empty() || PER.PERSONSTRING.view().find("CSINET") !=
                                                                       std::string_view::npos ||
                                            hasChar179(PER.ADDRESS.view()))
                                         : PER.ADDRESS.empty();
            if (candidate) ids_.push_back(PER.PERSONID);
        }
        total_ = ids_.size();
        if (total_ == 0) {
            next(FindSuspects);
            return;
        }
        if (!begin({&Person, &header(mail_)})) return fail();
    }
    for (int i = 0; i < batch_ && index_ < total_; ++i, ++index_) {
        Person.clearBuffer();
        PER.PERSONID = ids_[index_];
        if (!Person.get(PER_PersonKey)) continue;
        std::string address, name;
        FindCISAdress(mail_ ? 2 : 1, PER.PERSONSTRING.view(), address, name, 100, 100);
        address = std::string(rtrim(address));
        // Nothing better to be had from the string: the person stays as it is.
        if (address.empty() || upper(address) == upper(PER.ADDRESS.view())) continue;
        const std::string oldLast = PER.LASTNAME.str();
        PER.ADDRESS = address;
        std::string current = PER.FIRSTNAME.str();
        if (!current.empty()) current += ' ';
        current += PER.LASTNAME.str();
        // The identity string is in capitals; a name that only differs in
        // letter case keeps the way it was written.
        if (upper(rtrim(name)) != upper(current) && !rtrim(name).empty()) {
            std::string last, first;
            ParseName(name, last, first, 25, 25);
            PER.LASTNAME = last;
            PER.FIRSTNAME = first;
        }
        const std::string newLast = PER.LASTNAME.str();
        const uint32_t id = PER.PERSONID;
        if (!UppDat(Person, UppPut, ModeReportRollback)) {
            txn_ = false;
            return fail();
        }
        uint64_t changed = 1;
        if (newLast != oldLast && !recodePersonMessages(PersonRef{id, oldLast}, PersonRef{id, newLast}, &changed)) {
            txn_ = false;
            return fail();
        }
        if (!noteChanged(changed)) return fail();
    }
    if (index_ >= total_) {
        if (!commitBatch(false)) return fail();
        next(FindSuspects);
    }
}

// 2. Runs of two or more persons with the same address, letter case ignored.
void DuplicateMerge::doSuspects() {
    suspects_.clear();
    std::vector<Suspect> run;
    auto flush = [&] {
        if (run.size() >= 2) suspects_.insert(suspects_.end(), run.begin(), run.end());
        run.clear();
    };
    Person.set(PER_AddressKey);
    while (Person.next()) {
        if (PER.ADDRESS.empty()) continue;
        Suspect s;
        s.address = upper(PER.ADDRESS.view());
        s.id = PER.PERSONID;
        s.last = PER.LASTNAME.str();
        if (!run.empty() && run.back().address != s.address) flush();
        run.push_back(std::move(s));
    }
    flush();
    next(CountSuspects);
    total_ = suspects_.size();
}

// 3. Messages and the latest date of each suspect.
void DuplicateMerge::doCount() {
    total_ = suspects_.size();
    for (int i = 0; i < batch_ && index_ < total_; ++i, ++index_) {
        Suspect& s = suspects_[index_];
        const PersonMessages m = personMessages(PersonRef{s.id, s.last});
        s.count = m.sent + m.received;
        s.latest = m.latest;
    }
    if (index_ >= total_) next(ChooseKeepers);
}

// 4. One keeper per address: the person with the latest message among those
// with a last name; with equal dates the earlier one stays. The own person of
// a mail database is always the keeper of its address.
void DuplicateMerge::doKeepers() {
    merges_.clear();
    size_t i = 0;
    while (i < suspects_.size()) {
        size_t end = i;
        while (end < suspects_.size() && suspects_[end].address == suspects_[i].address) ++end;
        const Suspect* keeper = nullptr;
        bool fixed = false;
        for (size_t k = i; k < end; ++k)
            if (ownId_ != 0 && suspects_[k].id == ownId_) {
                keeper = &suspects_[k];
                fixed = true;
            }
        const size_t firstMerge = merges_.size();
        auto toMerges = [&](const Suspect& s) { merges_.push_back(Merge{s.id, s.count, s.last, 0, {}}); };
        for (size_t k = i; k < end; ++k) {
            const Suspect& s = suspects_[k];
            if (fixed && &s == keeper) continue;
            if (s.count == 0) {
                toMerges(s);
            } else if (!keeper) {
                keeper = &s;
            } else if (!fixed && !rtrim(s.last).empty() &&
                       (rtrim(keeper->last).empty() || s.latest > keeper->latest)) {
                toMerges(*keeper);
                keeper = &s;
            } else {
                toMerges(s);
            }
        }
        for (size_t m = firstMerge; m < merges_.size(); ++m) {
            merges_[m].keeperId = keeper ? keeper->id : 0;
            merges_[m].keeperLast = keeper ? keeper->last : std::string();
        }
        i = end;
    }
    next(RecodeMessages);
    total_ = merges_.size();
}

// 5. The messages of each person to be removed go to its keeper.
void DuplicateMerge::doRecode() {
    total_ = merges_.size();
    if (index_ == 0 && !begin({&header(mail_)})) return fail();
    for (int i = 0; i < batch_ && index_ < total_; ++i, ++index_) {
        const Merge& m = merges_[index_];
        if (m.keeperId == 0) continue;
        uint64_t changed = 0;
        if (!recodePersonMessages(PersonRef{m.id, m.last}, PersonRef{m.keeperId, m.keeperLast}, &changed)) {
            txn_ = false;
            return fail();
        }
        if (changed && !noteChanged(changed)) return fail();
    }
    if (index_ >= total_) {
        if (!commitBatch(false)) return fail();
        next(RemoveDuplicates);
        total_ = merges_.size();
    }
}

// 6. The removed person's identity string (and its aliases) lead to the
// keeper from now on.
void DuplicateMerge::doRemove() {
    total_ = merges_.size();
    if (index_ == 0 && !begin({&Person, &PLINK})) return fail();
    for (int i = 0; i < batch_ && index_ < total_; ++i, ++index_) {
        const Merge& m = merges_[index_];
        Person.clearBuffer();
        PER.PERSONID = m.id;
        if (!Person.get(PER_PersonKey)) continue;
        const std::string ident = PER.PERSONSTRING.str();
        if (m.keeperId != 0 && !pointAliasesTo(m.id, ident, m.keeperId)) {
            txn_ = false;
            return fail();
        }
        Person.clearBuffer();
        PER.PERSONID = m.id;
        if (!Person.get(PER_PersonKey) || !UppDat(Person, UppDelete, ModeReportRollback)) {
            if (inTransaction()) rollbackTransaction();
            txn_ = false;
            return fail();
        }
        if (m.count > 0 && m.keeperId != 0) ++merged_;
        else ++removed_;
        if (!noteChanged(2)) return fail();
    }
    if (index_ >= total_) {
        if (!commitBatch(false)) return fail();
        next(Recount);
    }
}

// 7. Every person is counted again; persons without messages go. In a forum
// or newsgroup database the messages are tallied in one pass over the
// message file (the count's own way), not sought per person.
void DuplicateMerge::doRecount() {
    if (!mail_) {
        if (!recount_) recount_ = std::make_unique<qb::Recount>(RecountPersons, batch_);
        const bool more = recount_->step();
        index_ = static_cast<size_t>(std::max<long long>(recount_->done(), 0));
        total_ = static_cast<size_t>(std::max<long long>(recount_->total(), 0));
        if (more) return;
        const bool ok = recount_->result() == 1;
        removed_ += recount_->totals().personsDeleted;
        recount_.reset();
        if (!ok) return fail();
        next(Finish);
        return;
    }
    if (total_ == 0 && ids_.empty()) {
        Person.set(PER_PersonKey);
        while (Person.next()) ids_.push_back(PER.PERSONID);
        total_ = ids_.size();
        if (!begin({&Person})) return fail();
    }
    for (int i = 0; i < batch_ && index_ < total_; ++i, ++index_) {
        Person.clearBuffer();
        PER.PERSONID = ids_[index_];
        if (!Person.get(PER_PersonKey)) continue;
        const RecountResult r = recountPerson(mail_ ? KindMail : KindForum, ownId_);
        if (r == RecountResult::Failed) {
            txn_ = false;
            return fail();
        }
        if (r == RecountResult::Unchanged) continue;
        if (r == RecountResult::Deleted) ++removed_;
        if (!noteChanged(1)) return fail();
    }
    if (index_ < total_) return;
    if (!commitBatch(false)) return fail();
    if (mail_) {
        // The database row: its mail count, and counts are current.
        OP_CLOSE(OpOpenShared, Forums.number());
        const bool ok = Forums.isOpen() && writeDatabaseCount(forumId_, KindMail, static_cast<uint32_t>(Mail.records()));
        OP_CLOSE(OpClose, Forums.number());
        if (!ok) return fail();
    }
    next(Finish);
}

void DuplicateMerge::doFinish() {
    remaining_ = static_cast<uint64_t>(Person.records());
    seconds_ = seconds();
    pass_ = Done;
}

} // namespace qb
