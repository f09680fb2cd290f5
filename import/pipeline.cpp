#include "import/pipeline.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <new>
#include <set>
#include <system_error>

#include "core/access.h"
#include "core/dates.h"
#include "core/fixedstr.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/catalogue.h"
#include "import/persons.h"
#include "import/store.h"
#include "reading/topics.h"

namespace fs = std::filesystem;

namespace qb {

namespace {

// The temporary files made anew, empty (an emptied SQLite file keeps its
// size). They are closed.
void emptyTemporaryFiles() {
    for (Table* t : {&NewHR, &TempCC, &TempID}) {
        const std::string file = tableFileName(t->number());
        std::error_code ec;
        if (std::filesystem::exists(file, ec)) t->create(file);
    }
}

constexpr uint64_t kLowDisk = 5000000;
constexpr uint64_t kCommitEvery = 400;
constexpr uint64_t kRefreshEvery = 100;

const char* const kStopQuestion =
    "Stopping at this stage will cause message counts \r\nper section, thread and person to be incorrect.\r\n"
    "If you do quit, please run the Count Messages process to correct the numbers! Are you sure you want to quit?";

void box(const std::string& title, const std::string& text) {
    if (!unattended()) ui().message(title, text, Icon::Exclamation);
}

// Drive part of a path for the space messages: "X:" where there is one,
// else the directory itself.
std::string driveOf(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    return path;
}

std::string spaceText(uint64_t free, const std::string& path, const std::string& tail) {
    return "You have only " + pictureN13(free) + " bytes free on disk  " + driveOf(path) + " " + tail;
}

// The run of this process that owns the temporary files, if any.
const ImportRun* gActiveRun = nullptr;
// The temporary files' hold between processes (imports and merges alike).
ProcessHold gTemporaryHold;

// True when another process has the temporary import file open.
bool temporaryFileBusy() {
    const std::string file = tableFileName(NewHR.number());
    std::error_code ec;
    if (NewHR.isOpen() || !fs::exists(file, ec)) return false;
    NewHR.open(file, OpenMode::Exclusive);
    const bool busy = errorCode() == ErrAccessDenied;
    if (NewHR.isOpen()) NewHR.close();
    return busy;
}

int32_t batchOf(int kind, int32_t fallback) {
    int32_t n = SpeedVal(3, kind);
    return n > 0 ? n : fallback;
}

} // namespace

std::string temporaryHoldPath() { return tableFileName(NewHR.number()) + "-run"; }

bool temporaryFilesInUse() {
    return gActiveRun != nullptr || ProcessHold::heldByAnyone(temporaryHoldPath()) || temporaryFileBusy();
}

// ------------------------------------------------------------------ space

uint64_t freeBytes(const std::string& path) {
    std::error_code ec;
    fs::path p = path.empty() ? fs::path(".") : fs::path(path);
    // The nearest existing directory tells the drive.
    while (!p.empty() && !fs::exists(p, ec)) p = p.parent_path();
    if (p.empty()) p = ".";
    fs::space_info si = fs::space(p, ec);
    if (ec) return std::numeric_limits<uint64_t>::max();
    return si.available;
}

std::string pictureN13(uint64_t n) {
    std::string digits = std::to_string(n), out;
    int count = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (count && count % 3 == 0) out.insert(out.begin(), ',');
        out.insert(out.begin(), *it);
        ++count;
    }
    if (out.size() < 13) out.insert(0, 13 - out.size(), ' ');
    return out;
}

uint64_t CheckSpace(const std::string& path, uint64_t size) {
    uint64_t free = freeBytes(path);
    if (free >= size) return 0;
    // A full disk must not read as "go on".
    const uint64_t refuse = free ? free : 1;
    if (unattended()) return refuse;
    unsigned a = ui().ask("Warning",
                          spaceText(free, path,
                                    "This may be too little for this process. Running out of diskspace may corrupt "
                                    "the currently accessed data file(s).Press OK if you want to continue and "
                                    "Cancel if you want to abort this process!"),
                          BtnOk | BtnCancel, BtnCancel, Icon::Exclamation);
    return a == BtnOk ? 0 : refuse;
}

// ------------------------------------------------------------------ run

ImportRun::ImportRun(ImportSettings settings, std::vector<std::string> files)
    : settings_(std::move(settings)), files_(std::move(files)) {
    ctx_.settings = settings_;
    const ReaderEntry* r = readerByName(settings_.reader);
    if (r && r->optionalForumDb) {
        // Only the messages that name no forum go to the forum chosen for the run.
        ctx_.fallbackForumDb = ctx_.settings.forumDb;
        ctx_.settings.forumDb = 0;
    } else if (!r || !r->needsForumDb) {
        ctx_.settings.forumDb = 0;
    }
    started_ = std::chrono::steady_clock::now();
}

ImportRun::~ImportRun() {
    if (state_ != ImportState::Finished && state_ != ImportState::Start) {
        stopped_ = true;
        finish(false);
    }
}

std::string ImportRun::heading() const { return settings_.reader + " Import Processing"; }

std::string ImportRun::windowTitle() const { return unattended() ? "Scheduled import" : heading(); }

int64_t ImportRun::elapsedSeconds() const {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_).count();
}

double ImportRun::currentFraction() const {
    switch (state_) {
    case ImportState::Convert:
        return currentFileSize_ ? std::min(1.0, double(ctx_.progress) / double(currentFileSize_)) : 0.0;
    case ImportState::ImportRecords:
    case ImportState::CarbonCopies:
    case ImportState::CountPersons:
    case ImportState::CountThreads:
    case ImportState::CountSections:
        return totals_.tempRecords ? std::min(1.0, double(dbRecordsDone_) / double(totals_.tempRecords)) : 1.0;
    case ImportState::Finished: return 1.0;
    default: return 0.0;
    }
}

double ImportRun::overallFraction() const {
    switch (state_) {
    case ImportState::Start:
    case ImportState::NextFile:
    case ImportState::Convert:
        return files_.empty() ? 0.0 : double(fileIndex_) / double(files_.size());
    case ImportState::QueueEmpty: return 1.0;
    case ImportState::Finished: return 1.0;
    default: return dbOrder_.empty() ? 1.0 : double(dbIndex_) / double(dbOrder_.size());
    }
}

void ImportRun::setText(const std::string& t) {
    if (t == progressText_) return;
    progressText_ = t;
    if (onProgressText) onProgressText(t);
}

bool ImportRun::step() {
    try {
        stepState();
    } catch (const std::exception& e) {
        // Whatever went wrong is reported and ends the run; what was committed stays.
        box("Warning!", std::string(e.what()) + "\r\n" + "Import will not proceed!");
        if (txnOpen_ && inTransaction()) rollbackTransaction();
        txnOpen_ = false;
        finish(true);
    }
    return state_ != ImportState::Finished;
}

void ImportRun::stepState() {
    switch (state_) {
    case ImportState::Start: doStart(); break;
    case ImportState::NextFile: doNextFile(); break;
    case ImportState::Convert: doConvert(); break;
    case ImportState::QueueEmpty: doQueueEmpty(); break;
    case ImportState::NextDatabase: doNextDatabase(); break;
    case ImportState::ImportRecords: doImportRecords(); break;
    case ImportState::CarbonCopies: doCarbonCopies(); break;
    case ImportState::CountPersons: doCountPersons(); break;
    case ImportState::CountThreads: doCountThreads(); break;
    case ImportState::CountSections: doCountSections(); break;
    case ImportState::KeyWords: doKeyWords(); break;
    case ImportState::BuildSavedKeys: doBuildSavedKeys(); break;
    case ImportState::Finished: break;
    }
}

bool ImportRun::requestStop() {
    if (state_ == ImportState::Finished) return true;
    const bool importPass = state_ >= ImportState::NextDatabase && state_ <= ImportState::BuildSavedKeys;
    if (importPass && !unattended()) {
        const bool yes = confirmStop ? confirmStop()
                                     : ui().ask("Import process interrupted", kStopQuestion, BtnYes | BtnNo, BtnNo,
                                                Icon::Question) == BtnYes;
        if (!yes) return false;
    }
    stopped_ = true;
    finish(false);
    return true;
}

// ---- start ------------------------------------------------------------------

void ImportRun::doStart() {
    startDate_ = today();
    startTime_ = clockNow();
    previousDb_ = Mem.ForumNumber;
    preBatch_ = batchOf(27, 300);
    importBatch_ = batchOf(26, 500);
    resetStoreRun();
    setText("Pre-import message conversion");

    // The temporary files have one name: a second run would destroy the first one's.
    if (temporaryFilesInUse() || !gTemporaryHold.take(temporaryHoldPath())) {
        box("Warning!", "Another import or database merge is running!\r\nImport will not proceed!\r\n");
        finish(true);
        return;
    }
    gActiveRun = this;

    // The ID counter is taken for the whole pre-import pass.
    OP_CLOSE(OpOpenShared, Control.number());
    controlOpen_ = true;
    bool haveControl = Control.isOpen() && Control.lock(5);
    if (haveControl) {
        controlLocked_ = true;
        Control.clearBuffer();
        CTL.ID = 1;
        if (Control.get(CTL_IdKey)) {
            ctx_.nextId = CTL.NEXTNUMBER;
        } else if (errorCode() == ErrRecordNotFound) {
            // A new installation: the row is made as the ID generator makes it.
            Control.clearBuffer();
            CTL.ID = 1;
            CTL.NEXTNUMBER = 250000;
            haveControl = Control.add();
            ctx_.nextId = 250000;
        } else {
            haveControl = false;
        }
    }
    if (!haveControl) {
        box("Warning!", "No access to Control File!\r\nImport will not proceed!\r\n");
        finish(true);
        return;
    }

    OP_CLOSE(OpOpenShared, Forums.number(), SavedMsg.number());
    forumsOpen_ = savedOpen_ = true;
    ctx_.loadTargets();
    ctx_.alreadySaved = [](uint32_t db, uint32_t msgNumber) {
        IMP.FORUMNUMBER = db;
        IMP.MSGNUMBER = msgNumber;
        return SavedMsg.get(IMP_IDKEY);
    };

    if (!ctx_.openTemporary()) {
        tempOpen_ = true;
        finish(true);
        return;
    }
    tempOpen_ = true;
    if (files_.empty()) files_ = buildFileQueue(settings_);
    parser_.reset();
    if (!makeParser(settings_.reader)) {
        box("Warning!", settings_.reader + " is not available yet.");
        finish(true);
        return;
    }
    state_ = ImportState::NextFile;
}

// ---- pre-import pass ----------------------------------------------------------

void ImportRun::doNextFile() {
    parser_.reset();
    if (fileIndex_ >= files_.size()) {
        state_ = ImportState::QueueEmpty;
        return;
    }
    currentFile_ = files_[fileIndex_++];
    std::error_code ec;
    if (!fs::is_regular_file(currentFile_, ec)) {
        if (!unattended())
            ui().message(" Import Error ", "The file " + currentFile_ + " does not exist and will be skipped!",
                         Icon::Exclamation);
        return;
    }
    currentFileSize_ = fs::file_size(currentFile_, ec);
    if (ec) currentFileSize_ = 0;
    from_ = currentFile_;
    ctx_.progress = 0;
    parser_ = makeParser(settings_.reader);
    ParseStatus st = ParseStatus::Failed;
    try {
        st = parser_->begin(currentFile_, ctx_);
    } catch (const std::exception& e) {
        box("Warning!", currentFile_ + " cannot be opened\r\n" + e.what() + "\r\n" + "This file will be skipped!");
        parser_.reset();
        return;
    }
    readerThrows_ = 0;
    setText(parser_->passText());
    if (temporaryWritesFailed()) return;
    switch (st) {
    case ParseStatus::More: state_ = ImportState::Convert; break;
    case ParseStatus::Done: break;
    case ParseStatus::NotThisReader:
    case ParseStatus::Failed:
        if (!parser_->failText().empty()) box("Warning!", parser_->failText());
        parser_.reset();
        break;
    }
}

bool ImportRun::temporaryWritesFailed() {
    if (!ctx_.writeFailed) return false;
    box("Warning!", ctx_.writeError + "\r\n" + "Messages will not be imported!");
    finish(true);
    return true;
}

void ImportRun::doConvert() {
    ParseStatus st = ParseStatus::More;
    bool gaveUp = false;
    try {
        st = parser_->step(ctx_, preBatch_);
        readerThrows_ = 0;
    } catch (const std::exception& e) {
        // The reader goes on after what it failed on; one that fails again and
        // again without getting any further gives the rest of the file up.
        ctx_.messageFailed(e.what());
        if (readerThrows_ > 0 && ctx_.progress == throwProgress_) gaveUp = true;
        throwProgress_ = ctx_.progress;
        ++readerThrows_;
    }
    setText(parser_->passText());
    totals_.skipped = ctx_.skipped;
    if (temporaryWritesFailed()) return;
    if (gaveUp || st != ParseStatus::More) {
        if ((st == ParseStatus::Failed || st == ParseStatus::NotThisReader) && !parser_->failText().empty())
            box("Warning!", parser_->failText());
        reportFailedMessages(gaveUp);
        parser_.reset();
        state_ = ImportState::NextFile;
    }
    if (!diskCheck(false)) finish(true);
}

void ImportRun::reportFailedMessages(bool gaveUp) {
    const uint64_t failed = ctx_.failedMessages - failedReported_;
    failedReported_ = ctx_.failedMessages;
    if (failed == 0) return;
    std::string text = currentFile_ + "\r\n" + std::to_string(failed) +
                       (failed == 1 ? " message could not be read and was skipped:\r\n"
                                    : " messages could not be read and were skipped; the first:\r\n") +
                       ctx_.failureText;
    if (gaveUp) text += "\r\nThe rest of this file will be skipped!";
    ctx_.failureText.clear();
    box(" Import Error ", text);
}

bool ImportRun::diskCheck(bool importPass) {
    const std::string dir = importPass ? Mem.FileDir : Mem.TempDir;
    uint64_t free = freeBytes(dir);
    if (free >= kLowDisk) return true;
    if (unattended()) return false;
    const char* tail =
        importPass ? "This may be too little to allow import. Running out of diskspace may corrupt the currently "
                     "accessed data file(s).Press OK if you want to continue and Cancel if you want to abort the "
                     "import!"
                   : "This may be too little for the temporary importfile. Running out of diskspace may corrupt "
                     "the currently accessed data file(s).Press OK if you want to continue and Cancel if you want "
                     "to abort the import!";
    return ui().ask("Warning", spaceText(free, dir, tail), BtnOk | BtnCancel, BtnCancel, Icon::Exclamation) ==
           BtnOk;
}

void ImportRun::releaseControl() {
    if (controlLocked_) {
        Control.unlock();
        controlLocked_ = false;
    }
}

void ImportRun::doQueueEmpty() {
    parser_.reset();
    // The IDs handed out from the private counter are taken for good. The
    // counter never goes back, whoever drew meanwhile.
    if (controlLocked_) {
        Control.clearBuffer();
        CTL.ID = 1;
        bool written = false;
        if (HoldRec(Control, CTL_IdKey, 1, "") == 1) {
            if (ctx_.nextId > CTL.NEXTNUMBER) CTL.NEXTNUMBER = ctx_.nextId;
            written = UppDat(Control, UppPut, ModeReport) == 1;
            Control.release();
        }
        releaseControl();
        // IDs that are not taken for good would be handed out again: the
        // records that carry them are not stored (the message came first).
        if (!written) {
            finish(true);
            return;
        }
    }
    totals_.skipped = ctx_.skipped;

    setText("Building Temporary File Index!");
    std::string title;
    if (!ctx_.buildTemporaryKeys(&title)) {
        box(title, errorText() + "\r\n" + "Messages will not be imported!");
        finish(true);
        return;
    }
    totals_.tempRecords = static_cast<uint64_t>(NewHR.records());

    std::error_code ec;
    uint64_t tempSize = fs::file_size(NewHR.path(), ec);
    if (ec) tempSize = 0;
    if (CheckSpace(Mem.FileDir, tempSize) != 0) {
        finish(true);
        return;
    }

    // Only the databases that messages were routed to take part.
    std::vector<const TargetDb*> left;
    for (const TargetDb& t : ctx_.targets)
        if (std::find(ctx_.routed.begin(), ctx_.routed.end(), t.id) != ctx_.routed.end()) left.push_back(&t);
    std::sort(left.begin(), left.end(), [](const TargetDb* a, const TargetDb* b) { return a->descUpr < b->descUpr; });
    dbOrder_.clear();
    for (const TargetDb* t : left) dbOrder_.push_back(t->id);
    if (dbOrder_.empty()) {
        box("Warning!", "No messages found in selected file(s)!\r\nImport unsuccessful!");
        finish(true);
        return;
    }
    from_ = "Temporary File";
    setText("Importing messages");
    dbIndex_ = 0;
    state_ = ImportState::NextDatabase;
}

// ---- import pass ------------------------------------------------------------

bool ImportRun::openDatabaseTables() {
    dbTables_.clear();
    txnTables_.clear();
    auto want = [&](Table* t) {
        if (std::find(txnTables_.begin(), txnTables_.end(), t) == txnTables_.end()) txnTables_.push_back(t);
    };
    for (Table* t : storeTables(dbKind_)) want(t);
    if (dbKind_ != KindMail) want(&Sections);
    if (dbKind_ == KindMail) want(&CCRTable);
    want(&Control);
    for (Table* t : txnTables_) {
        OP_CLOSE(OpOpenShared, t->number());
        dbTables_.push_back(t->number());
        if (!t->isOpen()) return false;
        // A table kept open elsewhere on another database's file would take this database's rows.
        if (t->path() != tableFileName(t->number())) {
            box("Warning!", "The file " + tableFileName(t->number()) + " cannot be opened while " + t->path() +
                                " is in use!\r\nMessages will not be imported!");
            return false;
        }
    }
    return true;
}

void ImportRun::closeDatabaseTables() {
    for (int n : dbTables_) OP_CLOSE(OpClose, n);
    dbTables_.clear();
}

bool ImportRun::beginTxn() {
    beginTransaction(txnTables_);
    if (transactionCheck() != 0) return false;
    txnOpen_ = true;
    sinceCommit_ = 0;
    return true;
}

bool ImportRun::commitTxn() {
    txnOpen_ = false;
    if (!inTransaction()) return true;
    if (commitTransaction()) return true;
    box("Warning!", "Transaction Frame Error!\r\n" + errorText());
    return false;
}

void ImportRun::doNextDatabase() {
    if (dbIndex_ >= dbOrder_.size()) {
        if (!settings_.allowReimport && savedAppended_) {
            setText("Building SaveFile Index!\r\n");
            state_ = ImportState::BuildSavedKeys;
        } else {
            finish(false);
        }
        return;
    }
    TargetDb* t = ctx_.target(dbOrder_[dbIndex_]);
    if (!t) {
        ++dbIndex_;
        return;
    }
    setText("Importing messages");
    to_ = t->description;
    dbKind_ = t->forumType;

    if (t->newItem) {
        // The number is the registry's: one that no row holds and no directory
        // on the disk has (the number routing gave it is only provisional).
        t->dirNumber = nextDirNumber();
        // The directory first: a registry row must never name a directory that is not there.
        std::error_code ec;
        const std::string dir = (fs::path(std::string(rtrim(Mem.FileDir))) / databaseDirName(t->dirNumber)).string();
        fs::create_directories(dir, ec);
        if (!fs::is_directory(dir, ec)) {
            box(" Directory Creation Error",
                "The specified directory " + dir + " could not be created.\r\n" + "Messages will not be imported!");
            finish(true);
            return;
        }
        Forums.clearBuffer();
        FOR.ID = t->id;
        FOR.DESCRIPTION.set(t->description);
        FOR.DIRNUMBER = t->dirNumber;
        FOR.TYPE = t->forumType;
        FOR.CREATED = today();
        FOR.WORDLISTINDEXNEEDSUPDATE = 1;
        FOR.INDEXTYPE = 0;
        if (UppDat(Forums, UppAdd, ModeReport) != 1) {
            finish(true);
            return;
        }
        t->newItem = 0;
        if (!selectDatabase(t->id)) {
            finish(true);
            return;
        }
        UpdREF(ModeReport);
    } else if (!selectDatabase(t->id)) {
        // The row went away since the run began: its messages stay in the temporary file.
        ++dbIndex_;
        return;
    }

    if (!openDatabaseTables()) {
        finish(true);
        return;
    }
    Table& msgTable = dbKind_ == KindMail ? Mail : MsgNmbr;
    totals_.rowsBefore = static_cast<uint64_t>(msgTable.records());
    storedBeforeDb_ = totals_.stored;

    sections_.clear();
    firstSection_ = 0;
    if (dbKind_ != KindMail) {
        Sections.set(SEC_SysIdKey);
        while (Sections.next()) sections_[{SEC.SECTIONNUMBER, SEC.DESCRIPTION.str()}] = SEC.SECSYSID;
        if (!sections_.empty()) firstSection_ = sections_.begin()->second;
    }
    personCounts_.clear();
    threadCounts_.clear();
    sectionCounts_.clear();
    countingLost_ = false;
    recordsStarted_ = false;
    lastKeyValid_ = false;
    ccStarted_ = false;
    countStarted_ = false;
    resetStoreRun();
    if (dbKind_ == KindMail) loadMailOwner(t->id);

    if (!beginTxn()) {
        finish(true);
        return;
    }
    state_ = ImportState::ImportRecords;
}

bool ImportRun::sectionFor(uint32_t& secSysId) {
    if (dbKind_ == KindNews) {
        if (firstSection_ == 0) {
            Sections.clearBuffer();
            SEC.SECSYSID = 1;
            SEC.SECTIONNUMBER = NHR.SECTIONNUMBER;
            SEC.DESCRIPTION.set(NHR.SEC_DESCRIPTION.view());
            if (UppDat(Sections, UppAdd, ModeReportRollback) != 1) return false;
            firstSection_ = 1;
            sections_[{SEC.SECTIONNUMBER, SEC.DESCRIPTION.str()}] = 1;
        }
        secSysId = firstSection_;
        return true;
    }
    auto key = std::make_pair(NHR.SECTIONNUMBER, NHR.SEC_DESCRIPTION.str());
    auto it = sections_.find(key);
    if (it != sections_.end()) {
        secSysId = it->second;
        return true;
    }
    uint32_t id = NextNr();
    if (id == 0) {
        rollbackTransaction();
        return false;
    }
    Sections.clearBuffer();
    SEC.SECSYSID = id;
    SEC.SECTIONNUMBER = key.first;
    SEC.DESCRIPTION.set(key.second);
    SEC.MSGCOUNT = 0;
    if (UppDat(Sections, UppAdd, ModeReportRollback) != 1) return false;
    try {
        sections_[key] = id;
    } catch (const std::bad_alloc&) {
        noteCountMemoryError();
    }
    if (firstSection_ == 0) firstSection_ = id;
    secSysId = id;
    return true;
}

void ImportRun::noteCountMemoryError() {
    if (countingLost_) return;
    countingLost_ = true;
    queueError = ErrNoMemory;
    QError(ModeReport);
    personCounts_.clear();
    threadCounts_.clear();
    sectionCounts_.clear();
}

void ImportRun::doImportRecords() {
    const uint32_t db = dbOrder_[dbIndex_];
    if (!recordsStarted_) {
        NewHR.clearBuffer();
        NHR.INTERNAL = db;
        NHR.MSGNUMBER = 0;
        NewHR.setFrom(NHR_MSGKEY);
        recordsStarted_ = true;
    }
    for (int i = 0; i < importBatch_; ++i) {
        const bool read = NewHR.next();
        // Only the end of the file ends the records; a read error ends the run.
        if (!read && (errorCode() != ErrRecordNotAvailable || !NewHR.isOpen())) {
            box("Warning!", errorText() + "\r\n" + "Messages will not be imported!");
            finish(true);
            return;
        }
        if (!read || NHR.INTERNAL != db) {
            bool copies = dbKind_ == KindMail && TempCC.records() > 0;
            if (copies) setText("Adding InBox CarbonCopies");
            else setText("Counting messages per person");
            state_ = copies ? ImportState::CarbonCopies : ImportState::CountPersons;
            return;
        }
        ++dbRecordsDone_;
        // The same forum message twice in the files of one run is stored once.
        // (Newsgroup articles are told apart by their Message-IDs instead.)
        if (dbKind_ == KindForum && lastKeyValid_ && NHR.MSGNUMBER == lastMsgNumber_) {
            ++totals_.skipped;
            continue;
        }
        lastKeyValid_ = true;
        lastMsgNumber_ = NHR.MSGNUMBER;

        StoreInput in;
        in.kind = dbKind_;
        in.textDate = startDate_;
        in.textTime = startTime_;
        in.mailTopic = dbKind_ == KindMail ? settings_.mailTopic : 0;
        in.allowReimport = settings_.allowReimport;
        if (dbKind_ != KindMail && !sectionFor(in.secSysId)) {
            txnOpen_ = false;
            finish(true);
            return;
        }
        StoreOutput out;
        int r = storeMessage(in, out);
        if (r == StoreFailed) {
            txnOpen_ = false;
            finish(true);
            return;
        }
        if (r == StoreSkipped) {
            ++totals_.skipped;
            continue;
        }
        ++totals_.stored;
        if (dbKind_ == KindForum && !settings_.allowReimport) savedAppended_ = true;
        const bool count = dbKind_ == KindMail || out.isNew;
        if (count && !countingLost_) {
            try {
                if (out.fromId) ++personCounts_[out.fromId].first;
                if (out.toId) ++personCounts_[out.toId].second;
                if (dbKind_ != KindMail) {
                    if (out.threadNumber) ++threadCounts_[out.threadNumber];
                    if (dbKind_ == KindForum) ++sectionCounts_[in.secSysId];
                }
            } catch (const std::bad_alloc&) {
                noteCountMemoryError();
            }
        }
        if (++sinceCommit_ >= kCommitEvery) {
            if (!commitTxn() || !beginTxn()) {
                finish(true);
                return;
            }
        }
        if (totals_.stored - storedAtLastRefresh_ >= kRefreshEvery) {
            storedAtLastRefresh_ = totals_.stored;
            if (onProgressText) onProgressText(progressText_);
        }
    }
    if (!diskCheck(true)) finish(true);
}

void ImportRun::doCarbonCopies() {
    if (!ccStarted_) {
        TempCC.set(CCT_IDKEY);
        ccStarted_ = true;
        lastCcMail_ = 0;
        lastCcMailFound_ = false;
    }
    for (int i = 0; i < importBatch_; ++i) {
        if (!TempCC.next()) {
            setText("Counting messages per person");
            state_ = ImportState::CountPersons;
            return;
        }
        if (CCT.MAILID != lastCcMail_ || lastCcMail_ == 0) {
            lastCcMail_ = CCT.MAILID;
            Mail.clearBuffer();
            MAI.MAILID = CCT.MAILID;
            // A mail that was not stored (a duplicate) keeps no copies.
            lastCcMailFound_ = Mail.get(MAI_IdKey);
            if (lastCcMailFound_ && MAI.CCR != 1) {
                MAI.CCR = 1;
                if (UppDat(Mail, UppPut, ModeReportRollback) != 1) {
                    txnOpen_ = false;
                    finish(true);
                    return;
                }
            }
        }
        if (!lastCcMailFound_ || isOwnerAddress(CCT.R_CISADRESS.view())) continue;
        CCRTable.clearBuffer();
        CCR.MAILID = CCT.MAILID;
        CCR.R_NAME.set(CCT.R_NAME.view());
        CCR.R_CISADRESS.set(CCT.R_CISADRESS.view());
        CCR.RECIPTYPE.set(CCT.RECIPTYPE.view());
        // A recipient named twice on one mail is kept once.
        if (!CCRTable.add() && errorCode() != ErrDuplicateKey) {
            if (UppDat(CCRTable, UppAdd, ModeReportRollback) != 1) {
                txnOpen_ = false;
                finish(true);
                return;
            }
        }
        if (++sinceCommit_ >= kCommitEvery && (!commitTxn() || !beginTxn())) {
            finish(true);
            return;
        }
    }
}

void ImportRun::doCountPersons() {
    if (countingLost_) {
        endDatabase();
        return;
    }
    auto it = countStarted_ ? personCounts_.upper_bound(countResume_) : personCounts_.begin();
    countStarted_ = true;
    for (int i = 0; i < importBatch_ && it != personCounts_.end(); ++i, ++it) {
        countResume_ = it->first;
        Person.clearBuffer();
        PER.PERSONID = it->first;
        if (!Person.get(PER_PersonKey)) continue;
        PER.FROMCOUNT += it->second.first;
        PER.TOCOUNT += it->second.second;
        if (UppDat(Person, UppPut, ModeReportRollback) != 1) {
            txnOpen_ = false;
            finish(true);
            return;
        }
    }
    if (it != personCounts_.end()) return;
    countStarted_ = false;
    if (dbKind_ == KindMail) {
        endDatabase();
    } else {
        setText("Counting messages per thread");
        state_ = ImportState::CountThreads;
    }
}

void ImportRun::doCountThreads() {
    auto it = countStarted_ ? threadCounts_.upper_bound(countResume_) : threadCounts_.begin();
    countStarted_ = true;
    for (int i = 0; i < importBatch_ && it != threadCounts_.end(); ++i, ++it) {
        countResume_ = it->first;
        Threads.clearBuffer();
        THR.THREADNUMBER = it->first;
        if (!Threads.get(THR_ThreadKey)) continue;
        THR.MSGCOUNT += it->second;
        if (UppDat(Threads, UppPut, ModeReportRollback) != 1) {
            txnOpen_ = false;
            finish(true);
            return;
        }
    }
    if (it != threadCounts_.end()) return;
    countStarted_ = false;
    if (dbKind_ == KindForum) {
        setText("Counting messages per section");
        state_ = ImportState::CountSections;
    } else {
        endDatabase();
    }
}

void ImportRun::doCountSections() {
    auto it = countStarted_ ? sectionCounts_.upper_bound(countResume_) : sectionCounts_.begin();
    countStarted_ = true;
    for (int i = 0; i < importBatch_ && it != sectionCounts_.end(); ++i, ++it) {
        countResume_ = it->first;
        Sections.clearBuffer();
        SEC.SECSYSID = it->first;
        if (!Sections.get(SEC_SysIdKey)) continue;
        SEC.MSGCOUNT += it->second;
        if (UppDat(Sections, UppPut, ModeReportRollback) != 1) {
            txnOpen_ = false;
            finish(true);
            return;
        }
    }
    if (it != sectionCounts_.end()) return;
    countStarted_ = false;
    endDatabase();
}

void ImportRun::updateForumsRow() {
    Table& msgTable = dbKind_ == KindMail ? Mail : MsgNmbr;
    const uint32_t rows = static_cast<uint32_t>(msgTable.records());
    Forums.clearBuffer();
    FOR.ID = dbOrder_[dbIndex_];
    if (HoldRec(Forums, FOR_ForumKey, 1, "") != 1) return;
    FOR.MSGCOUNT = rows;
    FOR.COUNTFLAG = 0;
    UppDat(Forums, UppPut, ModeReport);
    Forums.release();
}

void ImportRun::endDatabase() {
    if (!commitTxn()) {
        finish(true);
        return;
    }
    updateForumsRow();
    recountMailTopic();
    closeDatabaseTables();
    // The key words of the database are brought up to date with the texts
    // stored now (they carry the run's start as their date and time).
    if (totals_.stored > storedBeforeDb_ && !listEntries(kKeyWordEntry).empty()) {
        keywords_ = std::make_unique<KeywordRun>(std::vector<uint32_t>{}, startDate_, startTime_);
        setText("Running key words");
        state_ = ImportState::KeyWords;
        return;
    }
    nextDatabase();
}

void ImportRun::nextDatabase() {
    ++dbIndex_;
    state_ = ImportState::NextDatabase;
}

// The links to the run's topic were written with the messages; its count
// follows them.
void ImportRun::recountMailTopic() {
    if (dbKind_ == KindMail && settings_.mailTopic != 0) recountEntry(settings_.mailTopic);
}

void ImportRun::doKeyWords() {
    if (keywords_->step(importBatch_)) return;
    const bool failed = keywords_->failed();
    keywords_.reset();
    if (failed) {
        finish(true);
        return;
    }
    nextDatabase();
}

bool ImportRun::buildSavedKeys() {
    savedAppended_ = false;
    bool ok = SavedMsg.build();
    if (!ok && errorCode() == ErrDuplicateKey) {
        // A pair recorded twice would keep the key from ever being built:
        // keep the first row of each pair.
        std::set<std::pair<uint32_t, uint32_t>> seen;
        std::vector<Position> extra;
        SavedMsg.setFile();
        while (SavedMsg.next())
            if (!seen.insert({IMP.FORUMNUMBER, IMP.MSGNUMBER}).second) extra.push_back(SavedMsg.position());
        for (Position p : extra)
            if (SavedMsg.reget(p)) SavedMsg.erase();
        ok = SavedMsg.build();
    }
    if (!ok) box("Key Build Error!", errorText() + "\r\n" + "Message SaveFile can not be built!");
    return ok;
}

void ImportRun::doBuildSavedKeys() { finish(!buildSavedKeys()); }

// ---- end ----------------------------------------------------------------------

void ImportRun::finish(bool error) {
    if (state_ == ImportState::Finished) return;
    // What is done is kept: a stop or a low disk commits the open transaction.
    if (txnOpen_ && inTransaction()) commitTransaction();
    txnOpen_ = false;
    // A database left half-way keeps its stored messages: its registry row
    // counts them.
    const bool midDatabase = state_ >= ImportState::ImportRecords && state_ <= ImportState::CountSections &&
                             dbIndex_ < dbOrder_.size() && !dbTables_.empty() && !inTransaction();
    if (midDatabase) {
        updateForumsRow();
        recountMailTopic();
    }
    keywords_.reset();
    // A run that ends early still leaves the saved-message key whole, so that
    // the next run finds what this one stored.
    if (savedAppended_ && savedOpen_ && !buildSavedKeys()) error = true;
    const bool endedNormally = !error && !stopped_;
    closeDatabaseTables();
    parser_.reset();
    releaseControl();
    if (tempOpen_) {
        // A run that stored everything leaves the temporary files empty; a
        // failed or stopped one keeps what it read.
        ctx_.closeTemporary();
        if (endedNormally) emptyTemporaryFiles();
        tempOpen_ = false;
    }
    if (savedOpen_) OP_CLOSE(OpClose, SavedMsg.number());
    if (forumsOpen_) OP_CLOSE(OpClose, Forums.number());
    if (controlOpen_) OP_CLOSE(OpClose, Control.number());
    savedOpen_ = forumsOpen_ = controlOpen_ = false;
    if (gActiveRun == this) {
        gActiveRun = nullptr;
        gTemporaryHold.release();
    }
    if (previousDb_ != Mem.ForumNumber) {
        if (previousDb_ == 0 || !selectDatabase(previousDb_)) clearActiveDatabase();
    }
    failed_ = error;
    state_ = ImportState::Finished;
    if (!error) {
        endText_ = totals_.stored > 0 ? "The import process has finished!" : "No messages to import!";
        setText(endText_);
    }
    if (endedNormally && reportTime && !unattended()) {
        ui().message(" Import Processing ",
                     "The time for completion was: " + std::to_string(elapsedSeconds()) + " seconds",
                     Icon::Information);
    }
    if (onFinished) onFinished();
}

// ---- definitions ---------------------------------------------------------------

ImportOutcome runImportDefinition(uint32_t id, ImportTotals* totals, std::string* failure) {
    ImportSettings s;
    SetupCheck check;
    if (!loadDefinition(id, s, check)) {
        if (check.ok) {
            check.title = "Import procedure specification error";
            check.text = "Import definition " + std::to_string(id) + " does not exist!";
        }
        if (failure) *failure = check.text;
        box(check.title, check.text);
        return ImportOutcome::Failed;
    }
    ImportRun run(s);
    while (run.step()) {}
    if (totals) *totals = run.totals();
    if (run.stopped()) return ImportOutcome::Stopped;
    return run.failed() ? ImportOutcome::Failed : ImportOutcome::Done;
}

} // namespace qb
