#include "import/merge.h"

#include <filesystem>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/access.h"
#include "core/fixedstr.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/parser.h"

namespace fs = std::filesystem;

namespace qb {

const char* const kMergeReader = "Database Merge";

namespace {

const char* const kBoardStopQuestion =
    "Stopping at this stage will cause message counts \r\nper section, thread and person to be incorrect.\r\n"
    "If you do quit, please run the Count Messages process to correct the numbers! Are you sure you want to quit?";
const char* const kMailStopQuestion =
    "Stopping at this stage will cause message counts \r\nper mailpartner to be incorrect.\r\n"
    "If you do quit, please run the Count Messages process to correct the numbers! Are you sure you want to quit?";
const char* const kMergedText = "The merging process has finished!";
const char* const kNothingText = "No messages to merge!";

void box(const std::string& title, const std::string& text) {
    if (!unattended()) ui().message(title, text, Icon::Exclamation);
}

// The source and target of the merge under way; the pipeline makes its
// reader through the parser registry, which passes nothing along.
struct MergePlan {
    ForumsRec source{}, target{};
};
MergePlan gPlan;

// A table's file in a database directory other than the active one.
std::string fileIn(const ForumsRec& db, const Table& t) {
    return (fs::path(databaseDirectory(db.DIRNUMBER)) / fs::path(tableFileName(t.number())).filename()).string();
}

// A keyed read in the source: true when it could be read (found or not
// there); false on a failure of the storage.
bool lookup(Table& t, int key, bool& found) {
    found = t.get(key);
    return found || errorCode() == ErrRecordNotFound || errorCode() == ErrRecordNotAvailable;
}

// "first last" and the address of a source person; empty when it is missing.
bool personOf(uint32_t id, std::string& name, std::string& address) {
    name.clear();
    address.clear();
    if (id == 0) return true;
    Person.clearBuffer();
    PER.PERSONID = id;
    bool found = false;
    if (!lookup(Person, PER_PersonKey, found)) return false;
    if (!found) return true;
    name = PER.FIRSTNAME.str();
    if (!name.empty() && !PER.LASTNAME.empty()) name += ' ';
    name += PER.LASTNAME.str();
    address = PER.ADDRESS.str();
    return true;
}

// The pre-merge conversion: reads the source database's message table in
// physical order and writes one temporary import record per row; newsgroup
// message identifiers and mail carbon copies go along.
class MergeReader : public Parser {
public:
    std::string passText() const override { return "Pre-merge message conversion"; }

    ParseStatus begin(const std::string& path, ImportContext& ctx) override {
        fileSize_ = 0;
        std::error_code ec;
        fileSize_ = fs::file_size(path, ec);
        kind_ = gPlan.source.TYPE;
        targetName_ = std::string(gPlan.target.DESCRIPTION.view());
        // The merge is chosen for this target: a target closed to import takes it all the same.
        if (TargetDb* t = ctx.target(gPlan.target.ID)) t->allowImport = 1;
        route_ = ctx.route(targetName_, kind_);
        if (!route_.found || route_.id != gPlan.target.ID) return fail(ctx, "The target database " + targetName_ + " cannot be found!");
        if (kind_ == KindMail) {
            ownerName_ = targetName_.substr(0, 40);
            ownerAddress_ = std::string(gPlan.target.MAILADDRESS.view());
        }

        std::vector<Table*> tables;
        if (kind_ == KindMail) tables = {&Mail, &MsgText, &Person};
        else tables = {&MsgNmbr, &MsgText, &Person, &Sections, &Threads};
        if (kind_ == KindNews) tables.push_back(&MessageIds);
        for (Table* t : tables)
            if (!borrow(*t)) return fail(ctx, "The source database " + std::string(gPlan.source.DESCRIPTION.view()) +
                                                  " cannot be read: " + fileIn(gPlan.source, *t) + "\r\n" + errorText());
        if (kind_ == KindMail) {
            std::error_code e;
            haveCopies_ = fs::exists(fileIn(gPlan.source, CCRTable), e) && borrow(CCRTable);
        }
        main_ = kind_ == KindMail ? &Mail : &MsgNmbr;
        total_ = main_->records();
        main_->setFile();
        return ParseStatus::More;
    }

    ParseStatus step(ImportContext& ctx, int batch) override {
        if (identifiers_) return copyIdentifiers(ctx, batch);
        for (int i = 0; i < batch; ++i) {
            if (!main_->next()) {
                if (errorCode() != ErrRecordNotAvailable) return readFailure(ctx);
                ctx.progress = fileSize_;
                if (kind_ != KindNews) return done();
                identifiers_ = true;
                MessageIds.set(MST_IDKEY);
                return ParseStatus::More;
            }
            ++done_;
            if (total_ > 0) ctx.progress = fileSize_ * static_cast<uint64_t>(done_) / static_cast<uint64_t>(total_);
            if (!(kind_ == KindMail ? mailRecord(ctx) : boardRecord())) return readFailure(ctx);
            NHR.INTERNAL = route_.id;
            NHR.FOR_DESCRIPTION.set(targetName_);
            if (!NewHR.append()) {
                ctx.noteWriteError();
                return done();
            }
            ++ctx.written;
            if (kind_ == KindMail && copiesOf_ != 0 && !writeCopies(ctx, copiesOf_, NHR.REFNUMBER))
                return ctx.writeFailed ? done() : readFailure(ctx);
        }
        return ParseStatus::More;
    }

private:
    bool borrow(Table& t) {
        borrowed_.push_back(std::make_unique<BorrowedTable>(t));
        return borrowed_.back()->openAt(fileIn(gPlan.source, t), false, OpenMode::SharedReadOnly);
    }

    ParseStatus done() {
        borrowed_.clear();
        return ParseStatus::Done;
    }

    // A failure ends the whole run: the pipeline stops on a failed write.
    ParseStatus fail(ImportContext& ctx, const std::string& text) {
        if (!ctx.writeFailed) {
            ctx.writeFailed = true;
            ctx.writeError = text;
        }
        return done();
    }

    ParseStatus readFailure(ImportContext& ctx) {
        return fail(ctx, "The source database " + std::string(gPlan.source.DESCRIPTION.view()) +
                             " cannot be read!\r\n" + errorText());
    }

    // A source person as the records name it, read once.
    struct Who {
        std::string name, address;
    };
    const Who* person(uint32_t id) {
        auto it = persons_.find(id);
        if (it != persons_.end()) return &it->second;
        Who w;
        if (!personOf(id, w.name, w.address)) return nullptr;
        return &persons_.emplace(id, std::move(w)).first->second;
    }

    // The text of the current source message, with its first import date.
    bool text(uint32_t id) {
        MsgText.clearBuffer();
        TXT.MSGNUMBER = id;
        bool found = false;
        if (!lookup(MsgText, TXT_IdKey, found)) return false;
        if (found) {
            NHR_MSGTEXT = TXT_MsgText.substr(0, NHR_MSGTEXTMax);
            NHR.IMPDATE = TXT.DATE;
            NHR.IMPTIME = TXT.TIME;
        }
        return true;
    }

    bool boardRecord() {
        const MsgNmbrRec m = MSG;
        NewHR.clearBuffer();
        NHR_MSGTEXT.clear();
        NHR.MSGNUMBER = m.MSGNUMBER;
        NHR.REFNUMBER = m.REFNUMBER;
        NHR.DUMMY = m.DUMMY;
        NHR.DATE = m.DATE;
        NHR.TIME = 0;

        auto sec = sections_.find(m.SECSYSID);
        if (sec == sections_.end()) {
            Sections.clearBuffer();
            SEC.SECSYSID = m.SECSYSID;
            bool found = false;
            if (!lookup(Sections, SEC_SysIdKey, found)) return false;
            sec = sections_.emplace(m.SECSYSID, found ? std::make_pair(SEC.SECTIONNUMBER, SEC.DESCRIPTION.str())
                                                      : std::make_pair(uint8_t(0), std::string()))
                      .first;
        }
        NHR.SECTIONNUMBER = sec->second.first;
        NHR.SEC_DESCRIPTION.set(sec->second.second);

        if (m.THREADNUMBER != 0) {
            auto thr = headings_.find(m.THREADNUMBER);
            if (thr == headings_.end()) {
                Threads.clearBuffer();
                THR.THREADNUMBER = m.THREADNUMBER;
                bool found = false;
                if (!lookup(Threads, THR_ThreadKey, found)) return false;
                thr = headings_.emplace(m.THREADNUMBER, found ? std::string(rtrim(THR.heading())) : std::string()).first;
            }
            NHR.HEADING.set(thr->second);
        }
        const Who* who = person(m.FROMID);
        if (!who) return false;
        NHR.S_NAME.set(who->name);
        NHR.S_CISADRESS.set(who->address);
        if (!(who = person(m.TOID))) return false;
        NHR.R_NAME.set(who->name);
        NHR.R_CISADRESS.set(who->address);
        return text(m.MSGNUMBER);
    }

    bool mailRecord(ImportContext& ctx) {
        const MailRec m = MAI;
        NewHR.clearBuffer();
        NHR_MSGTEXT.clear();
        const uint32_t id = ctx.newId();
        NHR.MSGNUMBER = id;
        NHR.REFNUMBER = id;
        NHR.HEADING.set(m.SUBJECT.view());
        NHR.DUMMY = m.DUMMY;
        NHR.DATE = m.DATE;
        NHR.TIME = m.TIME;
        NHR.RECIPTYPE.set("TO");
        // Sent by the partner when the receiver is not the partner.
        NHR.MAILTYPE = m.TOID != m.PAIRID ? 1 : 2;
        const Who* who = person(m.PAIRID);
        if (!who) return false;
        const std::string name = who->name, address = who->address;
        if (NHR.MAILTYPE == 1) {
            NHR.S_NAME.set(name);
            NHR.S_CISADRESS.set(address);
            NHR.R_NAME.set(ownerName_);
            NHR.R_CISADRESS.set(ownerAddress_);
        } else {
            NHR.S_NAME.set(ownerName_);
            NHR.S_CISADRESS.set(ownerAddress_);
            NHR.R_NAME.set(name);
            NHR.R_CISADRESS.set(address);
        }
        copiesOf_ = haveCopies_ && m.CCR ? m.MAILID : 0;
        return text(m.MAILID);
    }

    // The carbon copies of source mail `from` for the new mail ID `to`.
    bool writeCopies(ImportContext& ctx, uint32_t from, uint32_t to) {
        CCRTable.clearBuffer();
        CCR.MAILID = from;
        CCRTable.setFrom(CCR_IdKey);
        while (CCRTable.next()) {
            if (CCR.MAILID != from) return true;
            if (!ctx.addCarbonCopy(to, CCR.R_NAME.str(), CCR.R_CISADRESS.str(), CCR.RECIPTYPE.str())) return false;
        }
        return errorCode() == ErrRecordNotAvailable;
    }

    ParseStatus copyIdentifiers(ImportContext& ctx, int batch) {
        for (int i = 0; i < batch; ++i) {
            if (!MessageIds.next()) {
                if (errorCode() != ErrRecordNotAvailable) return readFailure(ctx);
                return done();
            }
            if (MST.MSGNUMBER == 0 || (anyId_ && MST.MSGNUMBER == lastId_)) continue;
            anyId_ = true;
            lastId_ = MST.MSGNUMBER;
            if (!ctx.addMessageId(MST.IDSTRING.str(), MST.MSGNUMBER)) return done();
        }
        return ParseStatus::More;
    }

    uint8_t kind_ = 0;
    Route route_;
    std::string targetName_, ownerName_, ownerAddress_;
    std::vector<std::unique_ptr<BorrowedTable>> borrowed_;
    Table* main_ = nullptr;
    int64_t total_ = 0, done_ = 0;
    uint64_t fileSize_ = 0;
    bool haveCopies_ = false;
    uint32_t copiesOf_ = 0;
    bool identifiers_ = false, anyId_ = false;
    uint32_t lastId_ = 0;
    std::map<uint32_t, std::pair<uint8_t, std::string>> sections_;
    std::unordered_map<uint32_t, std::string> headings_;
    std::unordered_map<uint32_t, Who> persons_;
};

const bool registered = registerParser(kMergeReader, [] { return std::make_unique<MergeReader>(); });

} // namespace

MergeCheck checkMerge(uint32_t sourceId, uint32_t targetId) {
    MergeCheck c;
    ForumsRec source{}, target{};
    if (!findDatabaseById(sourceId, source)) {
        c = {false, "Warning!", "The source database cannot be found!"};
    } else if (!findDatabaseById(targetId, target)) {
        c = {false, "Warning!", "The target database cannot be found!"};
    } else if (source.ID == target.ID) {
        c = {false, "Illegal selection!", "A database cannot be merged into itself - please choose another target!"};
    } else if (source.TYPE != target.TYPE) {
        c = {false, "Illegal selection!",
             "You cannot merge different kinds of databases - they both will have to be either Mail, Forum or "
             "Newsgroup!"};
    }
    return c;
}

MergeRun::MergeRun(uint32_t sourceId, uint32_t targetId) : sourceId_(sourceId), targetId_(targetId) {
    (void)registered;
}

MergeRun::~MergeRun() = default;

std::string MergeRun::stopQuestion() const { return kind_ == KindMail ? kMailStopQuestion : kBoardStopQuestion; }

void MergeRun::setText(const std::string& t) {
    if (t == progressText_) return;
    progressText_ = t;
    if (onProgressText) onProgressText(t);
}

void MergeRun::importText(const std::string& t) {
    if (t == "Importing messages") {
        storing_ = true;
        setText("Merging messages");
        return;
    }
    if (storing_ && !completeShown_) {
        completeShown_ = true;
        setText("Merge complete");
    }
    if (run_ && run_->finished()) return;  // the end text is the merge's own
    setText(t == "Pre-import message conversion" ? "Pre-merge message conversion" : t);
}

bool MergeRun::start() {
    started_ = true;
    MergeCheck c = checkMerge(sourceId_, targetId_);
    if (!c.ok) {
        box(c.title, c.text);
        return false;
    }
    if (!findDatabaseById(sourceId_, gPlan.source) || !findDatabaseById(targetId_, gPlan.target)) return false;
    kind_ = gPlan.source.TYPE;
    sourceName_ = std::string(gPlan.source.DESCRIPTION.view());
    targetName_ = std::string(gPlan.target.DESCRIPTION.view());
    if (temporaryFilesInUse()) {
        box("Warning!", "Another import or database merge is running!\r\nMerge will not proceed!\r\n");
        return false;
    }
    const std::string file = fileIn(gPlan.source, kind_ == KindMail ? Mail : MsgNmbr);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        box("Warning!", "The source database " + sourceName_ + " cannot be read: " + file + " does not exist!");
        return false;
    }

    ImportSettings s;
    s.reader = kMergeReader;
    s.messageKind = kind_;
    s.mailDb = kind_ == KindMail ? targetId_ : 0;
    s.method = 2;
    s.path = file;
    run_ = std::make_unique<ImportRun>(s, std::vector<std::string>{file});
    run_->reportTime = false;
    run_->onProgressText = [this](const std::string& t) { importText(t); };
    run_->confirmStop = [this] {
        return ui().ask("Import process interrupted", stopQuestion(), BtnYes | BtnNo, BtnNo, Icon::Question) ==
               BtnYes;
    };
    return true;
}

bool MergeRun::step() {
    if (finished_) return false;
    if (!started_ && !start()) {
        end(true);
        return false;
    }
    run_->step();
    if (run_->finished()) end(run_->failed());
    return !finished_;
}

bool MergeRun::requestStop() {
    if (finished_) return true;
    if (run_ && !run_->requestStop()) return false;
    started_ = stopped_ = true;
    end(run_ && run_->failed());
    return true;
}

void MergeRun::end(bool error) {
    if (finished_) return;
    finished_ = true;
    failed_ = error;
    if (!error && !stopped()) {
        importText("");
        endText_ = totals().stored > 0 ? kMergedText : kNothingText;
        setText(endText_);
    }
    if (onFinished) onFinished();
}

} // namespace qb
