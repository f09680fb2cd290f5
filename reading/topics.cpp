// Topics and key words: the Codes entries of a database and their SIndex links.
#include "reading/topics.h"

#include <algorithm>
#include <initializer_list>
#include <map>
#include <unordered_map>

#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "reading/browseview.h"
#include "wordsearch/textsearch.h"

namespace qb {

namespace {

constexpr size_t kLinksPerTransaction = 400;
constexpr uint32_t kHighestMessage = 0xFFFFFFFFu;

// Tables opened for the length of one operation (use-counted).
class Opened {
public:
    Opened(std::initializer_list<Table*> tables) {
        for (Table* t : tables) {
            OP_CLOSE(OpOpenShared, t->number());
            numbers_.push_back(t->number());
            if (!t->isOpen()) ok_ = false;
        }
    }
    ~Opened() {
        for (int n : numbers_) OP_CLOSE(OpClose, n);
    }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    bool ok() const { return ok_; }

private:
    std::vector<int> numbers_;
    bool ok_ = true;
};

std::string clipName(const std::string& name) { return std::string(rtrim(name.substr(0, kEntryNameMax))); }

Entry entryOfBuffer() {
    Entry e;
    e.type = COD.TYPE;
    e.name = std::string(rtrim(COD.INDEX.view()));
    e.id = COD.ID;
    e.count = COD.COUNT;
    e.date = COD.DATE;
    e.time = COD.TIME;
    e.matchCase = COD.CHARCASE != 0;
    e.wholeWords = COD.WORDONLY != 0;
    return e;
}

bool sameRow(const Entry& a, const Entry& b) {
    return a.type == b.type && a.name == b.name && a.id == b.id && a.count == b.count && a.date == b.date &&
           a.time == b.time && a.matchCase == b.matchCase && a.wholeWords == b.wholeWords;
}

bool readByName(uint8_t type, const std::string& name) {
    Codes.clearBuffer();
    COD.TYPE = type;
    COD.INDEX = clipName(name);
    return Codes.get(COD_ClassKey);
}

bool readById(uint32_t id) {
    if (id == 0) return false;
    Codes.clearBuffer();
    Codes.set(COD_ClassKey);
    while (Codes.next())
        if (COD.ID == id) return true;
    return false;
}

// Holds the row of e (read by its name) and checks that nobody changed it
// since e was read. The row is in the buffer and held on Ok.
EntryResult holdUnchanged(const Entry& e) {
    Codes.clearBuffer();
    COD.TYPE = e.type;
    COD.INDEX = e.name;
    if (HoldRec(Codes, COD_ClassKey, 1, "") != 1) return Codes.get(COD_ClassKey) ? EntryResult::Failed : EntryResult::NotFound;
    if (!sameRow(entryOfBuffer(), e)) {
        Codes.release();
        ui().message("Warning!", "The record has just been changed by another user!\r\nTry again!");
        return EntryResult::Changed;
    }
    return EntryResult::Ok;
}

bool begin(const std::vector<Table*>& tables) {
    if (!beginTransaction(tables, 5)) {
        transactionCheck();
        return false;
    }
    return true;
}

bool commit() {
    if (commitTransaction()) return true;
    const std::string why = errorText();
    if (inTransaction()) rollbackTransaction();
    ui().message("Transaction Error!", "The changes cannot be saved!\r\n" + why);
    return false;
}

EntryResult rollbackWith(EntryResult r) {
    if (inTransaction()) rollbackTransaction();
    return r;
}

// Positions of the entry's SIndex rows.
std::vector<Position> linkPositions(uint32_t entryId) {
    std::vector<Position> out;
    SIndex.clearBuffer();
    SIN.ID = entryId;
    SIN.MSGNUMBER = kHighestMessage;
    SIndex.setFrom(SIN_IdKey);
    while (SIndex.next() && SIN.ID == entryId) out.push_back(SIndex.position());
    return out;
}

bool linkThere(uint32_t entryId, uint32_t messageId) {
    SIndex.clearBuffer();
    SIN.ID = entryId;
    SIN.MSGNUMBER = messageId;
    return SIndex.get(SIN_IdKey);
}

// Inside a transaction: adds or removes one link. Reports a failure (and rolls back).
bool writeLink(uint32_t entryId, uint32_t messageId, bool add) {
    if (add) {
        SIndex.clearBuffer();
        SIN.ID = entryId;
        SIN.MSGNUMBER = messageId;
        return UppDat(SIndex, UppAdd, ModeReportRollback) == 1;
    }
    if (!linkThere(entryId, messageId)) return true;
    return UppDat(SIndex, UppDelete, ModeReportRollback) == 1;
}

// Inside a transaction: adds delta to the entry's COD:COUNT (held while
// written). A count that would fall below zero had drifted: it is counted
// from the links instead.
bool moveCount(const Entry& e, int64_t delta, const int32_t* stampDate = nullptr, const int32_t* stampTime = nullptr) {
    Codes.clearBuffer();
    COD.TYPE = e.type;
    COD.INDEX = e.name;
    if (HoldRec(Codes, COD_ClassKey, 1, "") != 1) {
        rollbackTransaction();
        return false;
    }
    int64_t n = static_cast<int64_t>(COD.COUNT) + delta;
    if (n < 0) {
        const CodesRec keep = COD;
        n = static_cast<int64_t>(linkPositions(e.id).size());
        COD = keep;
    }
    COD.COUNT = static_cast<uint32_t>(n);
    if (stampDate) COD.DATE = *stampDate;
    if (stampTime) COD.TIME = *stampTime;
    if (UppDat(Codes, UppPut, ModeReportRollback) != 1) return false;
    Codes.release();
    return true;
}

} // namespace

// ---- looking up -----------------------------------------------------------------

bool findEntry(uint8_t type, const std::string& name, Entry& out) {
    Opened open{&Codes};
    if (!open.ok() || clipName(name).empty() || !readByName(type, name)) return false;
    out = entryOfBuffer();
    return true;
}

bool findEntryById(uint32_t id, Entry& out) {
    Opened open{&Codes};
    if (!open.ok() || !readById(id)) return false;
    out = entryOfBuffer();
    return true;
}

std::vector<Entry> listEntries(uint8_t type) {
    std::vector<Entry> out;
    Opened open{&Codes};
    if (!open.ok()) return out;
    Codes.clearBuffer();
    COD.TYPE = type;
    Codes.setFrom(COD_ClassKey);
    while (Codes.next() && COD.TYPE == type) out.push_back(entryOfBuffer());
    return out;
}

std::vector<uint32_t> entryMessages(uint32_t entryId) {
    std::vector<uint32_t> out;
    Opened open{&SIndex};
    if (!open.ok() || entryId == 0) return out;
    SIndex.clearBuffer();
    SIN.ID = entryId;
    SIN.MSGNUMBER = kHighestMessage;
    SIndex.setFrom(SIN_IdKey);
    while (SIndex.next() && SIN.ID == entryId) out.push_back(SIN.MSGNUMBER);
    return out;
}

uint64_t linkCount(uint32_t entryId) {
    Opened open{&SIndex};
    if (!open.ok() || entryId == 0) return 0;
    return linkPositions(entryId).size();
}

bool isLinked(uint32_t entryId, uint32_t messageId) {
    Opened open{&SIndex};
    return open.ok() && linkThere(entryId, messageId);
}

bool messageExists(uint32_t messageId) {
    if (messageId == 0) return false;
    if (Mem.ForumType == 2) {
        Opened open{&Mail};
        if (!open.ok()) return false;
        Mail.clearBuffer();
        MAI.MAILID = messageId;
        return Mail.get(MAI_IdKey);
    }
    Opened open{&MsgNmbr};
    if (!open.ok()) return false;
    MsgNmbr.clearBuffer();
    MSG.MSGNUMBER = messageId;
    return MsgNmbr.get(MSG_IdKey);
}

// ---- maintenance ------------------------------------------------------------------

EntryResult addEntry(uint8_t type, const std::string& name, bool matchCase, bool wholeWords, Entry* out) {
    const std::string n = clipName(name);
    if (n.empty()) return EntryResult::NotFound;
    Opened open{&Codes, &Control};
    if (!open.ok()) return EntryResult::Failed;
    if (readByName(type, n)) return EntryResult::NameInUse;
    if (!begin({&Codes, &Control})) return EntryResult::Failed;
    const uint32_t id = NextNr();
    if (id == 0) return rollbackWith(EntryResult::Failed);
    Codes.clearBuffer();
    COD.TYPE = type;
    COD.INDEX = n;
    COD.ID = id;
    COD.COUNT = 0;
    COD.DATE = 0;
    COD.TIME = 0;
    COD.CHARCASE = type == kKeyWordEntry && matchCase ? 1 : 0;
    COD.WORDONLY = type == kKeyWordEntry && wholeWords ? 1 : 0;
    const Entry added = entryOfBuffer();
    if (UppDat(Codes, UppAdd, ModeReportRollback) != 1) return EntryResult::Failed;
    if (!commit()) return EntryResult::Failed;
    if (out) *out = added;
    return EntryResult::Ok;
}

EntryResult updateEntry(const Entry& before, const Entry& after) {
    const std::string n = clipName(after.name);
    if (n.empty()) return EntryResult::NotFound;
    Opened open{&Codes, &SIndex};
    if (!open.ok()) return EntryResult::Failed;
    if (compare1252(n, before.name, true) != 0 && readByName(before.type, n)) return EntryResult::NameInUse;
    const bool keyWord = before.type == kKeyWordEntry;
    const bool newMatch = keyWord && (n != before.name || after.matchCase != before.matchCase ||
                                      after.wholeWords != before.wholeWords);
    if (!begin({&Codes, &SIndex})) return EntryResult::Failed;
    // The old links of a key word whose match changed are dropped first.
    if (newMatch) {
        for (Position p : linkPositions(before.id))
            if (!SIndex.reget(p) || UppDat(SIndex, UppDelete, ModeReportRollback) != 1) return rollbackWith(EntryResult::Failed);
    }
    EntryResult r = holdUnchanged(before);
    if (r != EntryResult::Ok) return rollbackWith(r);
    COD.INDEX = n;
    COD.CHARCASE = keyWord && after.matchCase ? 1 : 0;
    COD.WORDONLY = keyWord && after.wholeWords ? 1 : 0;
    if (newMatch) COD.COUNT = 0, COD.DATE = 0, COD.TIME = 0;
    if (UppDat(Codes, UppPut, ModeReportRollback) != 1) {
        return errorCode() == ErrDuplicateKey ? EntryResult::NameInUse : EntryResult::Failed;
    }
    Codes.release();
    return commit() ? EntryResult::Ok : EntryResult::Failed;
}

EntryResult deleteEntry(const Entry& entry) {
    Opened open{&Codes, &SIndex};
    if (!open.ok()) return EntryResult::Failed;
    if (!begin({&SIndex, &Codes})) return EntryResult::Failed;
    for (Position p : linkPositions(entry.id)) {
        if (!SIndex.reget(p)) {
            ui().message("Fatal error", "Record delete error!\r\n" + errorText());
            return rollbackWith(EntryResult::Failed);
        }
        if (UppDat(SIndex, UppDelete, ModeReportRollback) != 1) return rollbackWith(EntryResult::Failed);
    }
    EntryResult r = holdUnchanged(entry);
    if (r != EntryResult::Ok) return rollbackWith(r);
    if (UppDat(Codes, UppDelete, ModeReportRollback) != 1) return rollbackWith(EntryResult::Failed);
    return commit() ? EntryResult::Ok : EntryResult::Failed;
}

EntryResult recountEntry(uint32_t entryId) {
    Opened open{&Codes, &SIndex};
    if (!open.ok()) return EntryResult::Failed;
    if (!readById(entryId)) return EntryResult::NotFound;
    const Entry e = entryOfBuffer();
    if (!begin({&Codes, &SIndex})) return EntryResult::Failed;
    const int64_t links = static_cast<int64_t>(linkPositions(entryId).size());
    if (!moveCount(e, links - static_cast<int64_t>(e.count))) return rollbackWith(EntryResult::Failed);
    return commit() ? EntryResult::Ok : EntryResult::Failed;
}

// ---- classification -------------------------------------------------------------

EntryResult attachMessages(uint32_t entryId, const std::vector<uint32_t>& messageIds, bool attach,
                           uint64_t* changed) {
    if (changed) *changed = 0;
    Opened open{&Codes, &SIndex};
    if (!open.ok()) return EntryResult::Failed;
    if (!readById(entryId)) return EntryResult::NotFound;
    const Entry e = entryOfBuffer();
    for (size_t from = 0; from < messageIds.size(); from += kLinksPerTransaction) {
        const size_t to = std::min(messageIds.size(), from + kLinksPerTransaction);
        if (!begin({&SIndex, &Codes})) return EntryResult::Failed;
        int64_t delta = 0;
        for (size_t i = from; i < to; ++i) {
            const uint32_t m = messageIds[i];
            if (m == 0 || linkThere(entryId, m) == attach) continue;
            if (!writeLink(entryId, m, attach)) return rollbackWith(EntryResult::Failed);
            delta += attach ? 1 : -1;
        }
        if (delta == 0) {
            rollbackTransaction();
            continue;
        }
        if (!moveCount(e, delta)) return rollbackWith(EntryResult::Failed);
        if (!commit()) return EntryResult::Failed;
        if (changed) *changed += static_cast<uint64_t>(delta < 0 ? -delta : delta);
    }
    return EntryResult::Ok;
}

EntryResult toggleMessage(uint32_t entryId, uint32_t messageId, bool* attachedNow) {
    const bool attach = !isLinked(entryId, messageId);
    EntryResult r = attachMessages(entryId, {messageId}, attach);
    if (attachedNow) *attachedNow = r == EntryResult::Ok ? attach : !attach;
    return r;
}

// ---- key-word runs ------------------------------------------------------------------

struct KeywordRun::Impl {
    enum class State { Start, Test, Stamp, Done };
    struct Word {
        Entry entry;
        std::string pattern;  // upper-cased unless match case
        int64_t delta = 0;    // links added less links removed in this batch
    };

    std::vector<uint32_t> wanted;
    bool since = false;
    int32_t sinceDate = 0, sinceTime = 0;
    State state = State::Start;
    std::vector<Word> words;
    std::vector<int> opened;
    bool mail = false;
    // Full run: the last message tested (IDs go down); since a stamp: the IDs to test.
    uint32_t lastId = kHighestMessage;
    bool started = false;
    std::vector<uint32_t> ids;
    size_t next = 0;
    std::unordered_map<uint32_t, std::string> headings;
    int32_t runDate = 0, runTime = 0;
    uint64_t done = 0, total = 0, linked = 0, unlinked = 0;
    bool failed = false, cancelled = false;
    std::string error;

    ~Impl() { closeTables(); }

    void closeTables() {
        for (int n : opened) OP_CLOSE(OpClose, n);
        opened.clear();
    }

    void fail(const std::string& why) {
        if (inTransaction()) rollbackTransaction();
        failed = true;
        error = why;
        ui().message(" Key Word Run ", why);
        closeTables();
        state = State::Done;
    }

    void start() {
        runDate = today();
        runTime = clockNow();
        mail = Mem.ForumType == 2;
        std::vector<Table*> tables{&Codes, &SIndex, &MsgText};
        if (mail) tables.push_back(&Mail);
        else tables.insert(tables.end(), {&MsgNmbr, &Threads});
        for (Table* t : tables) {
            OP_CLOSE(OpOpenShared, t->number());
            opened.push_back(t->number());
            if (!t->isOpen()) return fail("The table " + t->name() + " cannot be opened!\r\n" + errorText());
        }
        for (const Entry& e : listEntries(kKeyWordEntry)) {
            if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), e.id) == wanted.end()) continue;
            std::string p = e.name;
            if (!e.matchCase) p = upper(p);
            words.push_back({e, p, 0});
        }
        if (!wanted.empty() && words.size() != wanted.size())
            return fail("A key word of the run is not there any more!");
        if (words.empty()) {
            closeTables();
            state = State::Done;
            return;
        }
        if (since) {
            MsgText.skipMemo(true);
            MsgText.clearBuffer();
            TXT.DATE = sinceDate;
            MsgText.setFrom(TXT_DateKey);
            while (MsgText.next())
                if (TXT.DATE > sinceDate || TXT.TIME >= sinceTime) ids.push_back(TXT.MSGNUMBER);
            MsgText.skipMemo(false);
            total = ids.size();
        } else {
            total = static_cast<uint64_t>(std::max<int64_t>(0, (mail ? Mail : MsgNmbr).records()));
        }
        state = State::Test;
    }

    // The next batch of (ID, subject or heading) to test.
    std::vector<std::pair<uint32_t, std::string>> batchOf(int batch) {
        std::vector<std::pair<uint32_t, std::string>> out;
        if (since) {
            while (next < ids.size() && out.size() < static_cast<size_t>(batch)) {
                const uint32_t id = ids[next++];
                if (mail) {
                    MailRec m;
                    if (readMailHeader(id, m)) out.emplace_back(id, std::string(rtrim(m.SUBJECT.view())));
                    else ++done;  // a text without a header row is not a message
                } else {
                    MsgNmbrRec m;
                    if (readMessageHeader(id, m)) out.emplace_back(id, headingOf(m));
                    else ++done;
                }
            }
            return out;
        }
        Table& t = mail ? Mail : MsgNmbr;
        t.clearBuffer();
        if (mail) MAI.MAILID = lastId;
        else MSG.MSGNUMBER = lastId;
        t.setFrom(mail ? MAI_IdKey : MSG_IdKey);
        while (out.size() < static_cast<size_t>(batch) && t.next()) {
            const uint32_t id = mail ? MAI.MAILID : MSG.MSGNUMBER;
            if (started && id >= lastId) continue;
            if (mail) out.emplace_back(id, std::string(rtrim(MAI.SUBJECT.view())));
            else out.emplace_back(id, headingOf(MSG));
        }
        return out;
    }

    std::string headingOf(const MsgNmbrRec& m) {
        auto it = headings.find(m.THREADNUMBER);
        if (it == headings.end()) {
            std::string h = threadHeading(m.THREADNUMBER);
            if (h.empty()) h = std::string(rtrim(m.THREADALPHA.view()));
            it = headings.emplace(m.THREADNUMBER, h).first;
        }
        return it->second;
    }

    void test(int batch) {
        const auto items = batchOf(batch);
        if (items.empty()) {
            state = State::Stamp;
            return;
        }
        if (!begin({&SIndex, &Codes})) return fail("The key word links cannot be written!\r\n" + errorText());
        for (Word& w : words) w.delta = 0;
        for (const auto& [id, subject] : items) {
            MsgText.clearBuffer();
            TXT.MSGNUMBER = id;
            const std::string body = MsgText.get(TXT_IdKey) ? TXT_MsgText : std::string();
            std::string subjectUp, bodyUp;
            bool upDone = false;
            for (Word& w : words) {
                if (!w.entry.matchCase && !upDone) {
                    subjectUp = upper(subject);
                    bodyUp = upper(body);
                    upDone = true;
                }
                const std::string& s = w.entry.matchCase ? subject : subjectUp;
                const std::string& b = w.entry.matchCase ? body : bodyUp;
                const bool hit = AISINB(w.entry.wholeWords, s, w.pattern) || AISINB(w.entry.wholeWords, b, w.pattern);
                if (hit == linkThere(w.entry.id, id)) continue;
                if (!writeLink(w.entry.id, id, hit)) return fail("The key word links cannot be written!");
                w.delta += hit ? 1 : -1;
                (hit ? linked : unlinked) += 1;
            }
            ++done;
            lastId = id;
            started = true;
        }
        for (const Word& w : words)
            if (w.delta != 0 && !moveCount(w.entry, w.delta)) return fail("The key word counts cannot be written!");
        if (!commit()) return fail("The key word links cannot be saved!");
        for (Word& w : words) w.entry.count = static_cast<uint32_t>(static_cast<int64_t>(w.entry.count) + w.delta);
    }

    void stamp() {
        if (!begin({&SIndex, &Codes})) return fail("The key word dates cannot be written!\r\n" + errorText());
        for (Word& w : words) {
            Entry now;
            if (!readById(w.entry.id)) continue;  // deleted meanwhile
            now = entryOfBuffer();
            if (!moveCount(now, 0, &runDate, &runTime)) return fail("The key word dates cannot be written!");
        }
        if (!commit()) return fail("The key word dates cannot be saved!");
        closeTables();
        state = State::Done;
    }
};

KeywordRun::KeywordRun(std::vector<uint32_t> keyWordIds) : d_(std::make_unique<Impl>()) {
    d_->wanted = std::move(keyWordIds);
}

KeywordRun::KeywordRun(std::vector<uint32_t> keyWordIds, int32_t sinceDate, int32_t sinceTime)
    : KeywordRun(std::move(keyWordIds)) {
    d_->since = true;
    d_->sinceDate = sinceDate;
    d_->sinceTime = sinceTime;
}

KeywordRun::~KeywordRun() = default;

bool KeywordRun::step(int batch) {
    if (batch < 1) batch = 1;
    switch (d_->state) {
    case Impl::State::Start: d_->start(); break;
    case Impl::State::Test:
        if (d_->cancelled) {
            d_->closeTables();
            d_->state = Impl::State::Done;
        } else {
            d_->test(batch);
        }
        break;
    case Impl::State::Stamp: d_->stamp(); break;
    case Impl::State::Done: return false;
    }
    return d_->state != Impl::State::Done;
}

bool KeywordRun::finished() const { return d_->state == Impl::State::Done; }
bool KeywordRun::failed() const { return d_->failed; }
const std::string& KeywordRun::error() const { return d_->error; }
void KeywordRun::cancel() { d_->cancelled = true; }
uint64_t KeywordRun::done() const { return d_->done; }
uint64_t KeywordRun::total() const { return d_->total; }
uint64_t KeywordRun::linked() const { return d_->linked; }
uint64_t KeywordRun::unlinked() const { return d_->unlinked; }
size_t KeywordRun::keyWordCount() const { return d_->words.size(); }

bool runKeyWordsSince(int32_t sinceDate, int32_t sinceTime, void (*progress)(uint64_t, uint64_t)) {
    if (listEntries(kKeyWordEntry).empty()) return true;
    KeywordRun run({}, sinceDate, sinceTime);
    while (run.step()) {
        if (progress) progress(run.done(), run.total());
    }
    return !run.failed();
}

} // namespace qb
