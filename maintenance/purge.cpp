#include "maintenance/purge.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <tuple>

#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/kinds.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/pipeline.h"
#include "import/store.h"
#include "wordsearch/indexer.h"

namespace qb {

namespace {

constexpr uint8_t StatusNormal = 0, StatusKeep = 1, StatusDelete = 2;
constexpr uint64_t kSpaceToDelete = 10000000;
constexpr uint64_t kSpaceAfterDuplicates = 5000000;

std::string padded(std::string_view s, size_t n) {
    std::string r(s.substr(0, std::min(n, s.size())));
    r.resize(n, ' ');
    return r;
}

bool sameAlpha(std::string_view a, std::string_view b) { return compare1252(a, b, true) == 0; }

const char* stageText(Purge::Stage s, uint8_t kind) {
    using S = Purge::Stage;
    switch (s) {
    case S::DupTimes: return "Preparing for mail duplicate elimination";
    case S::DupIdentify:
    case S::DupCompare: return "Identifying duplicate mail messages";
    case S::DupMark: return "Set delete status on duplicates";
    case S::AgedCollect: return "Marking aged threads for deletion";
    case S::AgedMark: return "Setting delete status to aged threads";
    case S::ObsoleteThreads: return "Deleting messages in obsolete threads";
    case S::ObsoleteMessages:
    case S::ObsoletePersons:
    case S::ObsoleteMail: return "Deleting obsolete messages";
    case S::ObsoleteSections: return "Deleting messages in obsolete sections";
    case S::CarbonCopies: return "Removing orphaned carbon copies";
    case S::SearchIndexes: return "Removing orphaned search indexes";
    case S::KeyWordCounts: return "Updating key word index counts";
    case S::OrphanAliases: return "Removing orphan duplicates";
    case S::WordCounts: return "Updating word counts";
    case S::WordList: return "Rebuilding word list";
    case S::Counting:
        return kind == KindMail ? "Updating message counts per mailpartner" : "Updating message counts per person";
    case S::RemoveDatabase: return "Removing the database";
    default: return "";
    }
}

} // namespace

size_t markDuplicateMail(std::vector<MailCandidate>& list, const std::function<bool(uint32_t, uint32_t)>& sameText) {
    auto fields = [](const MailCandidate& c) {
        return std::tie(c.subject, c.date, c.time, c.fromId, c.toId, c.initStr);
    };
    std::stable_sort(list.begin(), list.end(),
                     [&](const MailCandidate& a, const MailCandidate& b) { return fields(a) < fields(b); });
    const MailCandidate* ref = nullptr;
    size_t marked = 0;
    for (MailCandidate& e : list) {
        if (e.status == StatusDelete) continue;  // never a reference
        if (!ref || fields(*ref) != fields(e)) {
            ref = &e;
        } else if (sameText(ref->mailId, e.mailId)) {
            e.duplicate = true;
            ++marked;
        } else {
            ref = &e;
        }
    }
    return marked;
}

Purge::Purge(int ageWeeks, int batch) : ageWeeks_(ageWeeks), batch_(batch) {
    if (batch_ <= 0) batch_ = SpeedVal(3, 26);
    if (batch_ <= 0) batch_ = 500;
}

Purge::~Purge() {
    txn_.rollback();
    recount_.reset();
    closeTables();
}

const CountTotals& Purge::counts() const {
    static const CountTotals none;
    return recount_ ? recount_->totals() : none;
}

// ---- tables -------------------------------------------------------------------

void Purge::openTables() {
    if (kind_ == KindMail)
        OP_CLOSE(OpOpenShared, {Mail.number(), MsgText.number(), Person.number(), PLINK.number(), CCRTable.number(),
                                SIndex.number(), Codes.number()});
    else
        OP_CLOSE(OpOpenShared, {MsgNmbr.number(), MsgText.number(), Person.number(), PLINK.number(),
                                Threads.number(), Sections.number(), SIndex.number(), Codes.number()});
    // A database that was never indexed keeps no word index files.
    const bool indexFiles = std::filesystem::exists(tableFileName(MasIdx.number())) &&
                            std::filesystem::exists(tableFileName(WordList.number()));
    if (indexFiles) {
        OP_CLOSE(OpOpenShared, MasIdx.number(), WordList.number());
        indexed_ = MasIdx.records() > 0;
        if (!indexed_) OP_CLOSE(OpClose, MasIdx.number(), WordList.number());
    }
    MsgText.skipMemo(true);
    opened_ = true;

    std::vector<Table*> tables;
    if (kind_ == KindMail) tables = {&Mail, &MsgText, &Person, &PLINK, &CCRTable, &SIndex, &Codes};
    else tables = {&MsgNmbr, &MsgText, &Person, &PLINK, &Threads, &Sections, &SIndex, &Codes};
    if (indexed_) {
        tables.push_back(&MasIdx);
        tables.push_back(&WordList);
    }
    txn_.setTables(tables);
}

void Purge::closeTables() {
    if (!opened_) return;
    opened_ = false;
    MsgText.skipMemo(false);
    if (kind_ == KindMail)
        OP_CLOSE(OpClose, {Mail.number(), MsgText.number(), Person.number(), PLINK.number(), CCRTable.number(),
                           SIndex.number(), Codes.number()});
    else
        OP_CLOSE(OpClose, {MsgNmbr.number(), MsgText.number(), Person.number(), PLINK.number(), Threads.number(),
                           Sections.number(), SIndex.number(), Codes.number()});
    if (indexed_) OP_CLOSE(OpClose, MasIdx.number(), WordList.number());
}

void Purge::fail(const std::string& why) {
    txn_.rollback();
    wordAdjust_.clear();
    wordWriter_.reset();
    recount_.reset();
    closeTables();
    if (reason_.empty()) reason_ = why;
    stage_ = Stage::Failed;
}

void Purge::stop() {
    if (finished()) return;
    if (!txn_.commit()) {
        fail();
        return;
    }
    recount_.reset();
    closeTables();
    if (reason_.empty()) reason_ = "stopped";
    stage_ = Stage::Failed;
}

bool Purge::spaceFor(uint64_t bytes) {
    if (CheckSpace(Mem.FileDir + "/" + Mem.Dirnamn, bytes) == 0) return true;
    fail("too little free disk space");
    return false;
}

bool Purge::beginBatch() {
    if (!txn_.begin()) {
        fail("a transaction could not begin");
        return false;
    }
    return true;
}

bool Purge::endBatch() {
    if (txn_.commit()) return true;
    fail("a commit failed");
    return false;
}

// ---- the stages ---------------------------------------------------------------

void Purge::enter(Stage s) {
    stage_ = s;
    status_ = stageText(s, kind_);
    done_ = 0;
    total_ = 0;
    position_ = 0;
    resume_ = false;
    index_ = 0;
    threads_.clear();
    ids_.clear();
    seen_.clear();
    lastChecked_ = 0;
    lastExists_ = false;
    lastPersonKnown_ = false;
    Table& messages = kind_ == KindMail ? Mail : MsgNmbr;

    switch (s) {
    case Stage::DupTimes:
        total_ = Mail.records();
        break;
    case Stage::DupIdentify:
        candidates_.clear();
        previousAdded_ = false;
        total_ = Mail.records();
        break;
    case Stage::AgedCollect:
    case Stage::ObsoleteMessages:
    case Stage::ObsoleteMail:
        total_ = messages.records();
        break;
    case Stage::ObsoleteThreads:
        Threads.clearBuffer();
        THR.DUMMY = StatusDelete;
        Threads.setFrom(THR_StatusKey);
        while (Threads.next() && THR.DUMMY == StatusDelete) threads_.push_back({THR.THREADNUMBER, THR.ALPHA});
        total_ = static_cast<long long>(threads_.size());
        break;
    case Stage::ObsoleteSections: {
        std::vector<uint32_t> sections;
        Sections.setFile();
        while (Sections.next())
            if (SEC.DUMMY == StatusDelete || (removeAll_ && SEC.DUMMY != StatusKeep)) sections.push_back(SEC.SECSYSID);
        for (uint32_t sec : sections) {
            Threads.clearBuffer();
            THR.SECSYSID = sec;
            Threads.setFrom(THR_SecKey);
            while (Threads.next() && THR.SECSYSID == sec)
                if (THR.DUMMY != StatusKeep) threads_.push_back({THR.THREADNUMBER, THR.ALPHA});
        }
        total_ = static_cast<long long>(threads_.size());
        break;
    }
    case Stage::ObsoletePersons:
        Person.setFile();
        while (Person.next())
            if (PER.DUMMY == StatusDelete) ids_.push_back(PER.PERSONID);
        total_ = static_cast<long long>(ids_.size());
        break;
    case Stage::CarbonCopies: total_ = CCRTable.records(); break;
    case Stage::SearchIndexes:
        codeIds_.clear();
        codeCounts_.clear();
        Codes.setFile();
        while (Codes.next()) codeIds_.insert(COD.ID);
        total_ = SIndex.records();
        break;
    case Stage::KeyWordCounts: total_ = Codes.records(); break;
    case Stage::OrphanAliases: total_ = PLINK.records(); break;
    default: break;
    }
}

void Purge::next() {
    for (++planIndex_; planIndex_ < plan_.size(); ++planIndex_) {
        enter(plan_[planIndex_]);
        if (stage_ == Stage::Failed) return;
        // Stages that found nothing to do end here.
        if ((stage_ == Stage::ObsoleteThreads || stage_ == Stage::ObsoleteSections || stage_ == Stage::ObsoletePersons) &&
            total_ == 0)
            continue;
        return;
    }
    closeTables();
    stage_ = Stage::Done;
    status_.clear();
}

bool Purge::step() {
    if (stage_ != Stage::Start && stage_ != Stage::Counting && stage_ != Stage::RemoveDatabase && !finished() &&
        !opened_) {
        fail("the tables are closed");
        return false;
    }
    bool more = false;
    switch (stage_) {
    case Stage::Start: more = stepStart(); break;
    case Stage::DupTimes: more = stepDupTimes(); break;
    case Stage::DupIdentify: more = stepDupIdentify(); break;
    case Stage::DupCompare: more = stepDupCompare(); break;
    case Stage::DupMark: more = stepDupMark(); break;
    case Stage::AgedCollect: more = stepAgedCollect(); break;
    case Stage::AgedMark: more = stepAgedMark(); break;
    case Stage::ObsoleteThreads:
    case Stage::ObsoleteSections: more = stepThreadList(); break;
    case Stage::ObsoleteMessages:
    case Stage::ObsoleteMail: more = stepObsoleteMessages(); break;
    case Stage::ObsoletePersons: more = stepObsoletePersons(); break;
    case Stage::CarbonCopies: more = stepCarbonCopies(); break;
    case Stage::SearchIndexes: more = stepSearchIndexes(); break;
    case Stage::KeyWordCounts: more = stepKeyWordCounts(); break;
    case Stage::OrphanAliases: more = stepOrphanAliases(); break;
    case Stage::WordCounts: more = stepWordCounts(); break;
    case Stage::WordList: more = stepWordList(); break;
    case Stage::Counting: more = stepCounting(); break;
    case Stage::RemoveDatabase: more = stepRemoveDatabase(); break;
    case Stage::Done:
    case Stage::Failed: return false;
    }
    return more && !finished();
}

bool Purge::stepStart() {
    kind_ = Mem.ForumType;
    forumId_ = Mem.ForumNumber;
    if (forumId_ == 0 || (kind_ != KindForum && kind_ != KindMail && kind_ != KindNews)) {
        fail("no active database");
        return false;
    }
    if (IndexingInProgress) {
        maintenanceMessage("Warning!", "The word index of a database is being built.\r\nPurge the messages when "
                                       "the indexing has finished!");
        fail("the word indexer is running");
        return false;
    }
    openTables();
    before_ = static_cast<uint64_t>((kind_ == KindMail ? Mail : MsgNmbr).records());

    if (Mem.ForumCheck == StatusDelete && !unattended()) {
        const unsigned a = ui().ask(" Database marked for deletion!",
                                    "Do you really want to delete all messages in this database? If you do, the "
                                    "entire database directory will be removed.",
                                    BtnYes | BtnNo, BtnNo, Icon::Question);
        removeAll_ = a == BtnYes;
    }

    if (indexed_) {
        // Until the word list's count key is rebuilt at the end, it is marked
        // as needing it; a purge that dies leaves the mark for the next run.
        uint32_t pos = 0, count = 0;
        int32_t upd = 0;
        if (readIndexFields(pos, count, upd) && upd != 1) writeIndexFields(pos, count, 1);
        wordsRecount_ = wordCountsMarked();
    }

    using S = Stage;
    if (kind_ == KindMail) {
        plan_ = {S::DupTimes, S::DupIdentify, S::DupCompare, S::DupMark, S::ObsoletePersons, S::ObsoleteMail,
                 S::WordCounts, S::CarbonCopies, S::OrphanAliases, S::WordList, S::SearchIndexes, S::KeyWordCounts};
    } else {
        if (ageWeeks_ > 0) plan_ = {S::AgedCollect, S::AgedMark};
        for (S s : {S::ObsoleteThreads, S::ObsoleteMessages, S::ObsoleteSections, S::WordCounts, S::SearchIndexes, S::KeyWordCounts,
                    S::WordList, S::OrphanAliases})
            plan_.push_back(s);
    }
    plan_.push_back(S::Counting);
    plan_.push_back(S::RemoveDatabase);
    planIndex_ = static_cast<size_t>(-1);
    next();
    return true;
}

// ---- deleting a message -------------------------------------------------------

// The recount mark goes to disk before the first index row is deleted, so
// that it is there whenever a committed deletion is not yet counted.
bool Purge::markBeforeFirstIndexRow() {
    if (wordsMarked_) return true;
    if (!markWordCounts()) {
        maintenanceMessage("Warning!", "The word list cannot be marked for a recount!");
        return false;
    }
    wordsMarked_ = true;
    return true;
}

// Deletes the message current in MsgNmbr or Mail with its text and its word
// index rows; the word counts follow after the deletions (WordCounts).
bool Purge::deleteCurrentMessage() {
    Table& messages = kind_ == KindMail ? Mail : MsgNmbr;
    const uint32_t number = kind_ == KindMail ? MAI.MAILID : MSG.MSGNUMBER;
    MsgText.clearBuffer();
    TXT.MSGNUMBER = number;
    if (MsgText.get(TXT_IdKey)) {
        if (UppDat(MsgText, UppDelete, ModeReportRollback) != 1) return false;
    } else if (errorCode() != ErrRecordNotFound && errorCode() != ErrRecordNotAvailable) {
        maintenanceMessage(MsgText.path(), "Record read error!\r\n" + errorText());
        return false;
    }
    if (indexed_) {
        bool any = false;
        MasIdx.clearBuffer();
        MAS.SYSID = number;
        MasIdx.setFrom(MAS_by_SysID);
        while (MasIdx.next() && MAS.SYSID == number) {
            if (!markBeforeFirstIndexRow()) return false;
            ++wordAdjust_[static_cast<int32_t>(MAS.WORDID)];
            if (UppDat(MasIdx, UppDelete, ModeReportRollback) != 1) return false;
            any = true;
        }
        if (any) ++indexedDeleted_;
    }
    if (UppDat(messages, UppDelete, ModeReportRollback) != 1) return false;
    ++deleted_;
    return txn_.changed(2);
}

bool Purge::messageExists(uint32_t number) {
    if (number == lastChecked_ && lastChecked_ != 0) return lastExists_;
    lastChecked_ = number;
    if (kind_ == KindMail) {
        Mail.clearBuffer();
        MAI.MAILID = number;
        lastExists_ = Mail.get(MAI_IdKey);
    } else {
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = number;
        lastExists_ = MsgNmbr.get(MSG_IdKey);
    }
    return lastExists_;
}

// ---- duplicate mail -------------------------------------------------------------

// One batch of a step that reads the table in file order and may write or
// delete the row it is on: row() gives -1 on failure (after its message), 0
// when it left the row alone, 1 when it changed it.
bool Purge::scanBatch(Table& t, const std::function<int()>& row, const char* failure) {
    if (!beginBatch()) return false;
    t.setRecord(position_ + 1);
    for (int i = 0; i < batch_; ++i) {
        if (!t.next()) {
            if (errorCode() != ErrRecordNotAvailable) {
                maintenanceMessage(t.path(), "Record read error!\r\n" + errorText());
                fail(failure);
                return false;
            }
            if (!endBatch()) return false;
            next();
            return true;
        }
        position_ = t.position();
        ++done_;
        const int r = row();
        if (r < 0 || (r > 0 && !txn_.changed(1))) {
            fail(failure);
            return false;
        }
    }
    return endBatch();
}

bool Purge::stepDupTimes() {
    return scanBatch(Mail, [] {
        if (MAI.TIME % 6000 == 0) return 0;
        MAI.TIME = MAI.TIME - MAI.TIME % 6000 + 1;
        return UppDat(Mail, UppPut, ModeReportRollback) == 1 ? 1 : -1;
    }, "a mail could not be written");
}

bool Purge::stepDupIdentify() {
    auto candidateOf = [](const MailRec& m) {
        MailCandidate c;
        c.mailId = m.MAILID;
        c.subject = padded(upper(m.SUBJECT.view()), 50);
        c.date = m.DATE;
        c.time = m.TIME;
        c.fromId = m.FROMID;
        c.toId = m.TOID;
        c.status = m.DUMMY;
        MsgText.skipMemo(false);
        MsgText.clearBuffer();
        TXT.MSGNUMBER = m.MAILID;
        c.initStr = padded(MsgText.get(TXT_IdKey) ? std::string_view(TXT_MsgText) : std::string_view(), 30);
        MsgText.skipMemo(true);
        return c;
    };
    if (resume_) {
        MAI = lastMail_;
        Mail.setFrom(MAI_SubjectKey);
    } else {
        Mail.clearBuffer();
        Mail.set(MAI_SubjectKey);
    }
    for (int i = 0; i < batch_; ++i) {
        if (!Mail.next()) {
            next();
            return true;
        }
        if (resume_ && i == 0 && MAI.MAILID == lastMail_.MAILID) {
            --i;
            resume_ = false;
            continue;
        }
        ++done_;
        const MailRec row = MAI;
        const bool haveLast = done_ > 1;
        const bool same = haveLast && sameAlpha(lastMail_.SUBJECT.view(), row.SUBJECT.view()) &&
                          lastMail_.DATE == row.DATE && lastMail_.TIME == row.TIME;
        if (same) {
            if (!previousAdded_) candidates_.push_back(candidateOf(lastMail_));
            candidates_.push_back(candidateOf(row));
            previousAdded_ = true;
        } else {
            previousAdded_ = false;
        }
        lastMail_ = row;
        resume_ = true;
    }
    return true;
}

bool Purge::stepDupCompare() {
    MsgText.skipMemo(false);
    markDuplicateMail(candidates_, [](uint32_t a, uint32_t b) { return DupString(2, a, b) == 1; });
    MsgText.skipMemo(true);
    for (const MailCandidate& c : candidates_)
        if (c.duplicate) ids_.push_back(c.mailId);
    candidates_.clear();
    candidates_.shrink_to_fit();
    stage_ = Stage::DupMark;
    status_ = stageText(stage_, kind_);
    total_ = static_cast<long long>(ids_.size());
    done_ = 0;
    index_ = 0;
    return true;
}

bool Purge::stepDupMark() {
    if (!beginBatch()) return false;
    for (int i = 0; i < batch_ && index_ < ids_.size(); ++i, ++index_, ++done_) {
        Mail.clearBuffer();
        MAI.MAILID = ids_[index_];
        if (!Mail.get(MAI_IdKey) || MAI.DUMMY != StatusNormal) continue;  // keep is never changed
        MAI.DUMMY = StatusDelete;
        if (UppDat(Mail, UppPut, ModeReportRollback) != 1 || !txn_.changed(1)) {
            fail("a mail could not be written");
            return false;
        }
        ++dupMarked_;
    }
    if (!endBatch()) return false;
    if (index_ >= ids_.size()) {
        if (!spaceFor(kSpaceAfterDuplicates)) return false;
        next();
    }
    return true;
}

// ---- aged threads ------------------------------------------------------------------

bool Purge::stepAgedCollect() {
    const int32_t cutoff = today() - 7 * ageWeeks_;
    MsgNmbr.clearBuffer();
    if (resume_) {
        MSG.DATE = lastMail_.DATE;  // the last row read: its date and number
        MSG.MSGNUMBER = lastMail_.MAILID;
    } else {
        MSG.DATE = cutoff;
        MSG.MSGNUMBER = UINT32_MAX;
    }
    MsgNmbr.setFrom(MSG_DateKey);
    for (int i = 0; i < batch_; ++i) {
        if (!MsgNmbr.next() || MSG.DATE <= 0) {
            ids_.assign(seen_.begin(), seen_.end());
            std::sort(ids_.begin(), ids_.end());
            seen_.clear();
            stage_ = Stage::AgedMark;
            status_ = stageText(stage_, kind_);
            total_ = static_cast<long long>(ids_.size());
            done_ = 0;
            index_ = 0;
            if (ids_.empty()) next();
            return true;
        }
        if (resume_ && MSG.MSGNUMBER == lastMail_.MAILID && MSG.DATE == lastMail_.DATE) continue;
        ++done_;
        if (MSG.THREADNUMBER != 0) seen_.insert(MSG.THREADNUMBER);
        lastMail_.DATE = MSG.DATE;
        lastMail_.MAILID = MSG.MSGNUMBER;
        resume_ = true;
    }
    return true;
}

bool Purge::stepAgedMark() {
    const int32_t cutoff = today() - 7 * ageWeeks_;
    if (!beginBatch()) return false;
    for (int i = 0; i < batch_ && index_ < ids_.size(); ++i, ++index_, ++done_) {
        Threads.clearBuffer();
        THR.THREADNUMBER = ids_[index_];
        if (!Threads.get(THR_ThreadKey) || THR.DUMMY != StatusNormal) continue;
        const ThreadsRec thread = THR;
        // Aged only when every message of the thread is dated and on or
        // before the cut-off; a message without a date keeps the thread.
        bool aged = true;
        MsgNmbr.clearBuffer();
        MSG.THREADALPHA = thread.ALPHA.view();
        MSG.THREADNUMBER = thread.THREADNUMBER;
        MsgNmbr.setFrom(MSG_Threadkey);
        while (aged && MsgNmbr.next() && MSG.THREADNUMBER == thread.THREADNUMBER &&
               sameAlpha(MSG.THREADALPHA.view(), thread.ALPHA.view()))
            if (MSG.DATE <= 0 || MSG.DATE > cutoff) aged = false;
        if (!aged) continue;
        THR = thread;  // Threads is still on the thread's row
        THR.DUMMY = StatusDelete;
        if (UppDat(Threads, UppPut, ModeReportRollback) != 1 || !txn_.changed(1)) {
            fail("a thread could not be written");
            return false;
        }
        ++agedMarked_;
    }
    if (!endBatch()) return false;
    if (index_ >= ids_.size()) next();
    return true;
}

// ---- deleting -----------------------------------------------------------------------

// Obsolete threads and the threads of obsolete sections: every message not
// kept goes; the thread row goes when no kept message remains.
bool Purge::stepThreadList() {
    if (!spaceFor(kSpaceToDelete) || !beginBatch()) return false;
    int handled = 0;
    while (handled < batch_ && index_ < threads_.size()) {
        const ThreadRef r = threads_[index_];
        bool kept = false;
        MsgNmbr.clearBuffer();
        MSG.THREADALPHA = r.alpha.view();
        MSG.THREADNUMBER = r.number;
        MsgNmbr.setFrom(MSG_Threadkey);
        while (MsgNmbr.next() && MSG.THREADNUMBER == r.number && sameAlpha(MSG.THREADALPHA.view(), r.alpha.view())) {
            ++handled;
            if (MSG.DUMMY == StatusKeep) {
                kept = true;
                continue;
            }
            if (!deleteCurrentMessage()) {
                fail("a message could not be deleted");
                return false;
            }
        }
        if (errorCode() != NoError && errorCode() != ErrRecordNotAvailable) {
            maintenanceMessage(MsgNmbr.path(), "Record read error!\r\n" + errorText());
            fail("a message could not be read");
            return false;
        }
        if (!kept) {
            Threads.clearBuffer();
            THR.THREADNUMBER = r.number;
            if (Threads.get(THR_ThreadKey)) {
                if (UppDat(Threads, UppDelete, ModeReportRollback) != 1 || !txn_.changed(1)) {
                    fail("a thread could not be deleted");
                    return false;
                }
            }
        }
        ++index_;
        ++done_;
        ++handled;
    }
    if (!endBatch()) return false;
    if (index_ >= threads_.size()) next();
    return true;
}

// Every message with status delete; in a mail database that is to go
// altogether, afterwards every mail without status keep.
bool Purge::stepObsoleteMessages() {
    if (!spaceFor(kSpaceToDelete) || !beginBatch()) return false;
    const bool mail = kind_ == KindMail;
    Table& t = mail ? Mail : MsgNmbr;
    const uint8_t wanted = index_ == 0 ? StatusDelete : StatusNormal;
    uint8_t& status = mail ? MAI.DUMMY : MSG.DUMMY;
    t.clearBuffer();
    status = wanted;
    t.setFrom(mail ? MAI_StatusKey : MSG_StatusKey);
    for (int i = 0; i < batch_; ++i) {
        if (!t.next() || status != wanted) {
            if (errorCode() != NoError && errorCode() != ErrRecordNotAvailable) {
                maintenanceMessage(t.path(), "Record read error!\r\n" + errorText());
                fail("a message could not be read");
                return false;
            }
            if (!endBatch()) return false;
            if (index_ == 0 && mail && removeAll_) {
                index_ = 1;
                return true;
            }
            next();
            return true;
        }
        ++done_;
        if (!deleteCurrentMessage()) {
            fail("a message could not be deleted");
            return false;
        }
    }
    return endBatch();
}

// Mail of persons with status delete: mail not kept goes, and the person
// with it when none of its mail is kept.
bool Purge::stepObsoletePersons() {
    if (!spaceFor(kSpaceToDelete) || !beginBatch()) return false;
    int handled = 0;
    while (handled < batch_ && index_ < ids_.size()) {
        const uint32_t id = ids_[index_];
        Person.clearBuffer();
        PER.PERSONID = id;
        if (Person.get(PER_PersonKey)) {
            const std::string last = PER.LASTNAME.str();
            bool kept = false;
            Mail.clearBuffer();
            MAI.PAIRALPHA = last;
            MAI.PAIRID = id;
            MAI.DATE = INT32_MAX;
            MAI.TIME = INT32_MAX;
            MAI.MAILID = UINT32_MAX;
            Mail.setFrom(MAI_PairKey);
            while (Mail.next() && MAI.PAIRID == id && sameAlpha(MAI.PAIRALPHA.view(), last)) {
                ++handled;
                if (MAI.DUMMY == StatusKeep) {
                    kept = true;
                    continue;
                }
                if (!deleteCurrentMessage()) {
                    fail("a mail could not be deleted");
                    return false;
                }
            }
            if (!kept) {
                Person.clearBuffer();
                PER.PERSONID = id;
                if (Person.get(PER_PersonKey) &&
                    (UppDat(Person, UppDelete, ModeReportRollback) != 1 || !txn_.changed(1))) {
                    fail("a person could not be deleted");
                    return false;
                }
            }
        }
        ++index_;
        ++done_;
        ++handled;
    }
    if (!endBatch()) return false;
    if (index_ >= ids_.size()) next();
    return true;
}

// ---- repairs ------------------------------------------------------------------------

bool Purge::stepCarbonCopies() {
    return scanBatch(CCRTable, [this] {
        if (messageExists(CCR.MAILID)) return 0;
        return UppDat(CCRTable, UppDelete, ModeReportRollback) == 1 ? 1 : -1;
    }, "a carbon copy could not be deleted");
}

// Links of key words and topics: those of messages that are gone and those of
// key words that are gone are deleted; the others are counted per key word.
// Links of key words and topics: those of messages that are gone and those of
// key words that are gone are deleted; the others are counted per key word.
bool Purge::stepSearchIndexes() {
    return scanBatch(SIndex, [this] {
        const uint32_t id = SIN.ID;
        if (codeIds_.count(id) && messageExists(SIN.MSGNUMBER)) {
            ++codeCounts_[id];
            return 0;
        }
        return UppDat(SIndex, UppDelete, ModeReportRollback) == 1 ? 1 : -1;
    }, "a search index could not be deleted");
}

bool Purge::stepKeyWordCounts() {
    return scanBatch(Codes, [this] {
        auto it = codeCounts_.find(COD.ID);
        const uint32_t n = it == codeCounts_.end() ? 0 : it->second;
        if (COD.COUNT == n) return 0;
        COD.COUNT = n;
        return UppDat(Codes, UppPut, ModeReportRollback) == 1 ? 1 : -1;
    }, "a key word could not be written");
}

bool Purge::stepOrphanAliases() {
    return scanBatch(PLINK, [this] {
        const uint32_t id = PLI.PERSONID;
        if (id != lastChecked_ || !lastPersonKnown_) {
            lastChecked_ = id;
            lastPersonKnown_ = true;
            Person.clearBuffer();
            PER.PERSONID = id;
            lastExists_ = id != 0 && Person.get(PER_PersonKey);
        }
        if (lastExists_) return 0;
        return UppDat(PLINK, UppDelete, ModeReportRollback) == 1 ? 1 : -1;
    }, "an alias could not be deleted");
}

// The word counts of every index row this purge removed, in one pass; a
// purge that found the mark of a killed run recounts the words instead.
bool Purge::stepWordCounts() {
    if (!wordWriter_) {
        if (!indexed_ || (!wordsRecount_ && !wordsMarked_)) {
            next();
            return true;
        }
        wordWriter_ = wordsRecount_ ? std::make_unique<WordCountWriter>(batch_)
                                    : std::make_unique<WordCountWriter>(wordAdjust_, batch_);
        wordAdjust_.clear();
    }
    const bool more = wordWriter_->step();
    done_ = wordWriter_->done();
    total_ = wordWriter_->total();
    if (more) return true;
    const bool ok = wordWriter_->ok();
    wordWriter_.reset();
    if (!ok) {
        fail("the word counts could not be written");
        return false;
    }
    wordsMarked_ = wordsRecount_ = false;
    next();
    return true;
}

bool Purge::stepWordList() {
    if (!indexed_) {
        next();
        return true;
    }
    if (!WordList.lock(5)) {
        maintenanceMessage("Warning!", "The word list cannot be locked!\r\n" + errorText());
        fail("the word list is locked");
        return false;
    }
    const bool built = WordList.buildKey(WOR_by_WordCount);
    WordList.unlock();
    if (!built) {
        maintenanceMessage(WordList.path(), "Key rebuild error!\r\n" + errorText());
        fail("the word list could not be rebuilt");
        return false;
    }
    uint32_t pos = 0, count = 0;
    int32_t upd = 0;
    if (readIndexFields(pos, count, upd)) {
        count = count > indexedDeleted_ ? count - static_cast<uint32_t>(indexedDeleted_) : 0;
        writeIndexFields(pos, count, 0);
    }
    next();
    return true;
}

bool Purge::stepCounting() {
    if (!recount_) recount_ = std::make_unique<Recount>(RecountAll, batch_);
    const bool more = recount_->step();
    status_ = recount_->status().empty() ? status_ : recount_->status();
    done_ = recount_->done();
    total_ = recount_->total();
    if (more) return true;
    if (recount_->result() != 1) {
        fail("the count failed");
        return false;
    }
    next();
    return true;
}

bool Purge::stepRemoveDatabase() {
    after_ = static_cast<uint64_t>((kind_ == KindMail ? Mail : MsgNmbr).records());
    if (!removeAll_) {
        next();
        return true;
    }
    if (after_ > 0) {
        maintenanceMessage(" Database marked for deletion!",
                           "Messages with status keep remain in this database, so the database is not removed.");
        next();
        return true;
    }
    closeTables();
    if (removeActiveDatabase() != 1) {
        fail("the database could not be removed");
        return false;
    }
    databaseRemoved_ = true;
    stage_ = Stage::Done;
    status_.clear();
    return false;
}

} // namespace qb
