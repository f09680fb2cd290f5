#include "reading/browseview.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/access.h"
#include "core/globals.h"
#include "core/text.h"

namespace qb {

namespace {

// Restores a table's record buffer (and memo) when it goes out of scope.
class BufferKeeper {
public:
    explicit BufferKeeper(Table& t)
        : t_(t), saved_(static_cast<char*>(t.buffer()), static_cast<char*>(t.buffer()) + t.recordSize()) {
        if (t.memo()) memo_ = *t.memo();
    }
    ~BufferKeeper() {
        std::memcpy(t_.buffer(), saved_.data(), saved_.size());
        if (t_.memo()) *t_.memo() = memo_;
    }

private:
    Table& t_;
    std::vector<char> saved_;
    std::string memo_;
};

int64_t numberAt(const FieldDef& f, const char* p) {
    switch (f.type) {
    case FieldType::Byte: return *reinterpret_cast<const uint8_t*>(p);
    case FieldType::Short: { int16_t x; std::memcpy(&x, p, 2); return x; }
    case FieldType::Long: { int32_t x; std::memcpy(&x, p, 4); return x; }
    case FieldType::ULong: { uint32_t x; std::memcpy(&x, p, 4); return x; }
    case FieldType::String: break;
    }
    return 0;
}

uint32_t u32At(const Table& t, const void* rec, const char* field) {
    int f = t.fieldIndex(field);
    if (f < 0) return 0;
    uint32_t v;
    std::memcpy(&v, static_cast<const char*>(rec) + t.fields()[static_cast<size_t>(f)].offset, 4);
    return v;
}

} // namespace

int compareKeyComps(const Table& t, int key, const void* a, const void* b, size_t from, size_t to) {
    const KeyDef& k = t.keys()[static_cast<size_t>(key)];
    to = std::min(to, k.comps.size());
    for (size_t i = from; i < to; ++i) {
        const FieldDef& f = t.fields()[static_cast<size_t>(k.comps[i].field)];
        const char* pa = static_cast<const char*>(a) + f.offset;
        const char* pb = static_cast<const char*>(b) + f.offset;
        int c;
        if (f.type == FieldType::String) {
            c = compare1252(std::string_view(pa, f.width), std::string_view(pb, f.width), k.nocase);
        } else {
            int64_t x = numberAt(f, pa), y = numberAt(f, pb);
            c = x < y ? -1 : x > y ? 1 : 0;
        }
        if (c) return k.comps[i].descending ? -c : c;
    }
    return 0;
}

void setKeyBound(const Table& t, int key, void* rec, size_t from, size_t to, bool high) {
    const KeyDef& k = t.keys()[static_cast<size_t>(key)];
    to = std::min(to, k.comps.size());
    for (size_t i = from; i < to; ++i) {
        const FieldDef& f = t.fields()[static_cast<size_t>(k.comps[i].field)];
        char* p = static_cast<char*>(rec) + f.offset;
        // The largest value in key order: the largest value of an ascending
        // component, the smallest of a descending one.
        const bool large = high != k.comps[i].descending;
        switch (f.type) {
        case FieldType::Byte: *reinterpret_cast<uint8_t*>(p) = large ? 0xFF : 0; break;
        case FieldType::Short: { int16_t x = large ? INT16_MAX : INT16_MIN; std::memcpy(p, &x, 2); break; }
        case FieldType::Long: { int32_t x = large ? INT32_MAX : INT32_MIN; std::memcpy(p, &x, 4); break; }
        case FieldType::ULong: { uint32_t x = large ? UINT32_MAX : 0; std::memcpy(p, &x, 4); break; }
        case FieldType::String:
            // Blank is the smallest text; 0xF7 is the largest character once
            // letter case is folded, 0xFF without folding.
            std::memset(p, large ? (k.nocase ? 0xF7 : 0xFF) : ' ', f.width);
            break;
        }
    }
}

// ---------------------------------------------------------------- cursor

ViewCursor::ViewCursor(Table* table, int key, int limitComps, const void* limitRec)
    : table_(table), key_(key), limitComps_(limitRec ? limitComps : 0) {
    if (table_ && limitRec && limitComps_ > 0)
        limit_.assign(static_cast<const char*>(limitRec), static_cast<const char*>(limitRec) + table_->recordSize());
}

bool ViewCursor::inView(const void* rec) const {
    if (limitComps_ == 0) return true;
    return compareKeyComps(*table_, key_, rec, limit_.data(), 0, static_cast<size_t>(limitComps_)) == 0;
}

ViewRow ViewCursor::current() const {
    ViewRow r;
    r.pos = table_->position();
    const char* b = static_cast<const char*>(table_->buffer());
    r.rec.assign(b, b + table_->recordSize());
    return r;
}

void ViewCursor::fillTrailing(bool high) {
    void* buf = table_->buffer();
    const size_t comps = table_->keys()[static_cast<size_t>(key_)].comps.size();
    setKeyBound(*table_, key_, buf, static_cast<size_t>(limitComps_), comps, high);
}

std::vector<ViewRow> ViewCursor::forward(size_t n, bool haveFirst) {
    std::vector<ViewRow> out;
    if (haveFirst) {
        if (!inView(table_->buffer())) return out;
        out.push_back(current());
    }
    while (out.size() < n && table_->next()) {
        if (!inView(table_->buffer())) break;
        out.push_back(current());
    }
    return out;
}

std::vector<ViewRow> ViewCursor::first(size_t n) {
    if (!valid() || n == 0) return {};
    BufferKeeper keep(*table_);
    table_->skipMemo(true);
    if (limitComps_ == 0) {
        table_->set(key_);
    } else {
        std::memcpy(table_->buffer(), limit_.data(), limit_.size());
        fillTrailing(false);
        table_->setFrom(key_);
    }
    auto out = forward(n, false);
    table_->skipMemo(false);
    return out;
}

std::vector<ViewRow> ViewCursor::last(size_t n) {
    if (!valid() || n == 0) return {};
    BufferKeeper keep(*table_);
    table_->skipMemo(true);
    if (limitComps_ == 0) {
        table_->set(key_);
    } else {
        std::memcpy(table_->buffer(), limit_.data(), limit_.size());
        fillTrailing(true);
        table_->setFrom(key_);
    }
    std::vector<ViewRow> out;
    while (out.size() < n && table_->previous()) {
        if (!inView(table_->buffer())) break;
        out.push_back(current());
    }
    std::reverse(out.begin(), out.end());
    table_->skipMemo(false);
    return out;
}

// Leaves the table standing on the row (true), or, when the row is gone, on
// the first row after it in key order (false; onSuccessor tells whether
// there is one).
bool ViewCursor::positionAt(const ViewRow& row, bool& onSuccessor) {
    onSuccessor = false;
    const size_t comps = table_->keys()[static_cast<size_t>(key_)].comps.size();
    // By key and place: the rows of equal key values before it (thousands of
    // messages of one word, person or thread) are not walked.
    if (table_->reget(row.pos, true) &&
        compareKeyComps(*table_, key_, table_->buffer(), row.rec.data(), 0, comps) == 0) {
        table_->setAfter(key_, row.pos);
        return true;
    }
    // Gone, or moved elsewhere in key order: stand on the row that follows
    // its old place.
    std::memcpy(table_->buffer(), row.rec.data(), std::min(row.rec.size(), table_->recordSize()));
    table_->setAfter(key_, row.pos);
    onSuccessor = table_->next();
    return false;
}

std::vector<ViewRow> ViewCursor::after(const ViewRow& row, size_t n) {
    if (!valid() || n == 0) return {};
    BufferKeeper keep(*table_);
    table_->skipMemo(true);
    bool succ = false;
    std::vector<ViewRow> out;
    if (positionAt(row, succ)) out = forward(n, false);
    else if (succ) out = forward(n, true);
    table_->skipMemo(false);
    return out;
}

std::vector<ViewRow> ViewCursor::before(const ViewRow& row, size_t n) {
    if (!valid() || n == 0) return {};
    BufferKeeper keep(*table_);
    table_->skipMemo(true);
    bool succ = false;
    bool found = positionAt(row, succ);
    if (!found && !succ) {
        // The row is gone and nothing follows it: the view ends before it.
        table_->skipMemo(false);
        return last(n);
    }
    std::vector<ViewRow> out;
    while (out.size() < n && table_->previous()) {
        if (!inView(table_->buffer())) break;
        out.push_back(current());
    }
    std::reverse(out.begin(), out.end());
    table_->skipMemo(false);
    return out;
}

std::vector<ViewRow> ViewCursor::seek(const void* rec, size_t n) {
    if (!valid() || n == 0) return {};
    BufferKeeper keep(*table_);
    table_->skipMemo(true);
    std::memcpy(table_->buffer(), rec, table_->recordSize());
    if (limitComps_ > 0) {
        // The limit's components stay fixed; only the rest is sought.
        const KeyDef& k = table_->keys()[static_cast<size_t>(key_)];
        for (int i = 0; i < limitComps_ && static_cast<size_t>(i) < k.comps.size(); ++i) {
            const FieldDef& f = table_->fields()[static_cast<size_t>(k.comps[static_cast<size_t>(i)].field)];
            std::memcpy(static_cast<char*>(table_->buffer()) + f.offset, limit_.data() + f.offset,
                        f.type == FieldType::String ? f.width : detail::elemSize(f.type, f.width));
        }
    }
    table_->setFrom(key_);
    auto out = forward(n, false);
    table_->skipMemo(false);
    return out;
}

// ---------------------------------------------------------------- tabs

ViewCursor ViewSpec::cursor() const {
    if (nothing || !table) return ViewCursor();
    return ViewCursor(table, key, limitComps, limitRec.empty() ? nullptr : limitRec.data());
}

uint32_t ViewSpec::idOf(const ViewRow& row) const {
    if (!table || row.rec.empty()) return 0;
    const char* f = table == &Mail ? "MAI:MAILID"
                    : table == &MsgNmbr ? "MSG:MSGNUMBER"
                    : table == &MasIdx  ? "MAS:SYSID"
                    : table == &SIndex  ? "SIN:MSGNUMBER"
                    : table == &Search  ? "SEA:ID"
                                        : "";
    return u32At(*table, row.rec.data(), f);
}

namespace {
template <class Rec>
std::vector<char> bytesOf(const Rec& r) {
    const char* p = reinterpret_cast<const char*>(&r);
    return std::vector<char>(p, p + sizeof(Rec));
}

ViewSpec wordView(uint32_t wordId) {
    ViewSpec v{&MasIdx, MAS_by_WordId, 1, {}, true, wordId == 0};
    MasIdxRec r{};
    r.WORDID = wordId;
    v.limitRec = bytesOf(r);
    return v;
}

ViewSpec topicView(uint32_t topicId) {
    ViewSpec v{&SIndex, SIN_IdKey, 1, {}, true, topicId == 0};
    SIndexRec r{};
    r.ID = topicId;
    v.limitRec = bytesOf(r);
    return v;
}
} // namespace

ViewSpec mailView(int tab, const BrowseChoice& c) {
    ViewSpec v;
    v.table = &Mail;
    MailRec r{};
    switch (tab) {
    case 1: v.key = MAI_DateKey; break;
    case 2: v.key = MAI_SubjectKey; break;
    case 3:
        v.key = MAI_PairKey;
        if (c.partnerId) {
            r.PAIRALPHA = c.partnerAlpha.substr(0, 25);
            r.PAIRID = c.partnerId;
            v.limitComps = 2;
        }
        break;
    case 4:
        v.key = MAI_FromKey;
        if (c.senderId) {
            r.FROMALPHA = c.senderAlpha.substr(0, 10);
            r.FROMID = c.senderId;
            v.limitComps = 2;
        }
        break;
    case 5:
        v.key = MAI_ToKey;
        if (c.receiverId) {
            r.TOALPHA = c.receiverAlpha.substr(0, 10);
            r.TOID = c.receiverId;
            v.limitComps = 2;
        }
        break;
    case 6: return wordView(c.wordId);
    case 7: return topicView(c.topicId);
    case 8: return ViewSpec{&Search, SEA_IdKey, 0, {}, true, false};
    default: v.key = MAI_DateKey; break;
    }
    if (v.limitComps) v.limitRec = bytesOf(r);
    return v;
}

ViewSpec messageView(int tab, const BrowseChoice& c) {
    ViewSpec v;
    v.table = &MsgNmbr;
    MsgNmbrRec r{};
    switch (tab) {
    case 1: v.key = MSG_IdKey; break;
    case 2:
        v.key = MSG_Threadkey;
        if (c.threadId) {
            r.THREADALPHA = c.threadAlpha.substr(0, 10);
            r.THREADNUMBER = c.threadId;
            v.limitComps = 2;
        }
        break;
    case 3:
        v.key = MSG_SECkey;
        if (c.sectionId) {
            r.SECSYSID = c.sectionId;
            v.limitComps = 1;
        }
        break;
    case 4:
        v.key = MSG_FromKey;
        if (c.senderId) {
            r.FROMALPHA = c.senderAlpha.substr(0, 10);
            r.FROMID = c.senderId;
            v.limitComps = 2;
        }
        break;
    case 5:
        v.key = MSG_ToKey;
        if (c.receiverId) {
            r.TOALPHA = c.receiverAlpha.substr(0, 10);
            r.TOID = c.receiverId;
            v.limitComps = 2;
        }
        break;
    case 6: v.key = MSG_DateKey; break;
    case 7: return wordView(c.wordId);
    case 8: return topicView(c.topicId);
    case 9: return ViewSpec{&Search, SEA_IdKey, 0, {}, true, false};
    default: v.key = MSG_IdKey; break;
    }
    if (v.limitComps) v.limitRec = bytesOf(r);
    return v;
}

const char* const kMailTabHints[kMailTabs] = {
    "Sort by mail date",     "Sort by mail subject",      "Sort by mail partner", "Sort by mail sender",
    "Sort by mail receiver", "Filter by key word string", "Filter by topic",      "Show search result set"};
const char* const kMessageTabHints[kMessageTabs] = {
    "Sort by message number",   "Sort by message thread", "Sort by message section",
    "Sort by message sender",   "Sort by message receiver", "Sort by message date",
    "Filter by key word string", "Filter by topic",         "Show search result set"};

std::string mailLocatorCaption(int tab) {
    switch (tab) {
    case 1: return "Find Date";
    case 2: return "";
    case 3: return "Filter Partner";
    case 4: return "Filter Sender";
    case 5: return "Filter Receiver";
    case 6: return "Filter KeyWord";
    case 7: return "Filter Topic ";
    default: return " ";
    }
}

std::string messageLocatorCaption(int tab) {
    switch (tab) {
    case 1: return "Find MsgNo";
    case 2: return "Filter Thread";
    case 3: return "Filter Section";
    case 4: return "Filter Sender";
    case 5: return "Filter Receiver";
    case 6: return "Find Date";
    case 7: return "Filter KeyWord";
    case 8: return "Filter Topic ";
    default: return " ";
    }
}

std::vector<int> browseTables(bool mail) {
    if (mail) return {Mail.number(), MsgText.number(), Person.number(), Codes.number(), SIndex.number(),
                      Search.number()};
    return {MsgNmbr.number(), MsgText.number(), Person.number(), Sections.number(), Threads.number(),
            Codes.number(),   SIndex.number(),  Search.number()};
}

// ---------------------------------------------------------------- steps

std::optional<PersonStep> stepPerson(Table& headers, int key, const std::string& alpha, uint32_t id, bool forward) {
    if (!headers.isOpen()) return std::nullopt;
    const bool mail = &headers == &Mail;
    const char* alphaField = nullptr;
    const char* idField = nullptr;
    if (mail) {
        if (key == MAI_PairKey) alphaField = "MAI:PAIRALPHA", idField = "MAI:PAIRID";
        else if (key == MAI_FromKey) alphaField = "MAI:FROMALPHA", idField = "MAI:FROMID";
        else if (key == MAI_ToKey) alphaField = "MAI:TOALPHA", idField = "MAI:TOID";
    } else {
        if (key == MSG_FromKey) alphaField = "MSG:FROMALPHA", idField = "MSG:FROMID";
        else if (key == MSG_ToKey) alphaField = "MSG:TOALPHA", idField = "MSG:TOID";
    }
    if (!alphaField) return std::nullopt;
    const FieldDef& af = headers.fields()[static_cast<size_t>(headers.fieldIndex(alphaField))];
    const FieldDef& idf = headers.fields()[static_cast<size_t>(headers.fieldIndex(idField))];

    std::optional<PersonStep> result;
    uint32_t newId = 0;
    std::string newAlpha;
    bool found = false;
    {
        BufferKeeper keep(headers);
        headers.skipMemo(true);
        char* buf = static_cast<char*>(headers.buffer());
        headers.clearBuffer();
        std::string a = alpha.substr(0, af.width);
        std::memset(buf + af.offset, ' ', af.width);
        std::memcpy(buf + af.offset, a.data(), a.size());
        std::memcpy(buf + idf.offset, &id, 4);
        // Beyond the current person's rows in the direction of the step.
        const size_t comps = headers.keys()[static_cast<size_t>(key)].comps.size();
        setKeyBound(headers, key, buf, 2, comps, forward);
        headers.setFrom(key);
        bool ok = forward ? headers.next() : headers.previous();
        if (ok) {
            found = true;
            std::memcpy(&newId, buf + idf.offset, 4);
            newAlpha = std::string(rtrim(std::string_view(buf + af.offset, af.width)));
        }
        headers.skipMemo(false);
    }
    if (!found) return std::nullopt;

    const bool openedPerson = !Person.isOpen();
    if (openedPerson) OP_CLOSE(OpOpenShared, Person.number());
    {
        BufferKeeper keep(Person);
        Person.clearBuffer();
        PER.PERSONID = newId;
        if (Person.isOpen() && Person.get(PER_PersonKey)) {
            PersonStep s;
            s.id = newId;
            s.alpha = newAlpha;
            s.lastName = PER.LASTNAME.str();
            s.firstName = PER.FIRSTNAME.str();
            if (key == MAI_PairKey && mail) s.count = PER.FROMCOUNT + PER.TOCOUNT;
            else if ((mail && key == MAI_FromKey) || (!mail && key == MSG_FromKey)) s.count = PER.FROMCOUNT;
            else s.count = PER.TOCOUNT;
            result = s;
        }
    }
    if (openedPerson) OP_CLOSE(OpClose, Person.number());
    return result;
}

std::optional<ThreadStep> stepThread(uint32_t threadId, uint32_t sectionId, bool forward) {
    const bool opened = !Threads.isOpen();
    if (opened) OP_CLOSE(OpOpenShared, Threads.number());
    if (!Threads.isOpen()) return std::nullopt;
    std::optional<ThreadStep> result;
    {
        BufferKeeper keep(Threads);
        const int key = sectionId ? THR_SecKey : THR_AlphaKey;
        Threads.clearBuffer();
        THR.THREADNUMBER = threadId;
        const bool known = threadId != 0 && Threads.get(THR_ThreadKey);
        bool ok = false;
        if (!known && threadId == 0) {
            // Nothing chosen yet: the first (or last) thread of the order.
            if (sectionId) {
                Threads.clearBuffer();
                THR.SECSYSID = sectionId;
                std::memset(THR.ALPHA.c, forward ? ' ' : 0xF7, sizeof THR.ALPHA.c);
                Threads.setFrom(key);
            } else {
                Threads.set(key);
            }
            ok = forward ? Threads.next() : Threads.previous();
        } else if (known) {
            const uint32_t current = THR.THREADNUMBER;
            Threads.setFrom(key);
            bool passed = false;
            while (forward ? Threads.next() : Threads.previous()) {
                if (passed) {
                    ok = true;
                    break;
                }
                if (THR.THREADNUMBER == current) passed = true;
            }
        }
        if (ok && (sectionId == 0 || THR.SECSYSID == sectionId)) {
            ThreadStep s;
            s.id = THR.THREADNUMBER;
            s.alpha = THR.ALPHA.str();
            s.heading = std::string(rtrim(THR.heading()));
            s.count = sectionId ? 0 : THR.MSGCOUNT;
            s.sectionId = THR.SECSYSID;
            result = s;
        }
    }
    if (opened) OP_CLOSE(OpClose, Threads.number());
    return result;
}

// ---------------------------------------------------------------- status

bool setStatus(StatusTarget what, uint32_t id, uint8_t status) {
    if (status > 2) return false;
    Table* t = nullptr;
    int key = 0;
    switch (what) {
    case StatusTarget::Message: t = Mem.ForumType == 2 ? &Mail : &MsgNmbr; key = 0; break;
    case StatusTarget::Person: t = &Person; key = PER_PersonKey; break;
    case StatusTarget::Thread: t = &Threads; key = THR_ThreadKey; break;
    case StatusTarget::Section: t = &Sections; key = SEC_SysIdKey; break;
    case StatusTarget::Database: t = &Forums; key = FOR_ForumKey; break;
    }
    if (!t || id == 0) return false;
    OP_CLOSE(OpOpenShared, t->number());
    if (!t->isOpen()) return false;
    bool ok = false;
    {
        BufferKeeper keep(*t);
        t->clearBuffer();
        switch (what) {
        case StatusTarget::Message:
            if (t == &Mail) MAI.MAILID = id;
            else MSG.MSGNUMBER = id;
            break;
        case StatusTarget::Person: PER.PERSONID = id; break;
        case StatusTarget::Thread: THR.THREADNUMBER = id; break;
        case StatusTarget::Section: SEC.SECSYSID = id; break;
        case StatusTarget::Database: FOR.ID = id; break;
        }
        if (HoldRec(*t, key, 1, "") == 1) {
            uint8_t* dummy = nullptr;
            switch (what) {
            case StatusTarget::Message: dummy = t == &Mail ? &MAI.DUMMY : &MSG.DUMMY; break;
            case StatusTarget::Person: dummy = &PER.DUMMY; break;
            case StatusTarget::Thread: dummy = &THR.DUMMY; break;
            case StatusTarget::Section: dummy = &SEC.DUMMY; break;
            case StatusTarget::Database: dummy = &FOR.DUMMY; break;
            }
            const uint8_t before = *dummy;
            *dummy = status;
            ok = UppDat(*t, UppPut, ModeReport) == 1;
            if (!ok) {
                *dummy = before;
                t->release();
            }
        }
    }
    OP_CLOSE(OpClose, t->number());
    if (ok && what == StatusTarget::Database && id == Mem.ForumNumber) Mem.ForumCheck = status;
    return ok;
}

// ---------------------------------------------------------------- viewer

std::vector<std::string> viewerPages(const std::string& memo, const std::string* subject) {
    std::string text;
    if (subject) text = "Subject: " + std::string(rtrim(*subject)) + "\r\n\r\n";
    text += rtrim(memo);
    // Trailing blanks of the whole text do not count.
    text.resize(rtrim(text).size());
    const size_t L = text.size();
    if (L <= 24000) return {text};
    auto breakAt = [&](size_t from1, size_t to1) {
        for (size_t p = from1; p <= to1 && p <= L; ++p)
            if (text[p - 1] == ' ') return p - 1;  // 0-based index of the space
        return to1;                                // right after position to1
    };
    const std::string more = " ..........<MORE>>";
    const std::string cont = "<CONTINUED>> \r\n";
    const size_t b1 = breakAt(23950, 23980);
    if (L <= 48000) return {text.substr(0, b1) + more, cont + text.substr(b1)};
    // Texts beyond 64000 characters (a long subject line before a full memo)
    // stay in the third page rather than being cut.
    const size_t b2 = breakAt(47060, 47100);
    return {text.substr(0, b1) + more, cont + text.substr(b1, b2 - b1) + more, cont + text.substr(b2)};
}

// ---------------------------------------------------------------- headers

bool readMailHeader(uint32_t id, MailRec& out) {
    if (!Mail.isOpen()) return false;
    BufferKeeper keep(Mail);
    Mail.clearBuffer();
    MAI.MAILID = id;
    if (!Mail.get(MAI_IdKey)) return false;
    out = MAI;
    return true;
}

bool readMessageHeader(uint32_t id, MsgNmbrRec& out) {
    if (!MsgNmbr.isOpen()) return false;
    BufferKeeper keep(MsgNmbr);
    MsgNmbr.clearBuffer();
    MSG.MSGNUMBER = id;
    if (!MsgNmbr.get(MSG_IdKey)) return false;
    out = MSG;
    return true;
}

std::string threadHeading(uint32_t threadId) {
    if (!Threads.isOpen() || threadId == 0) return {};
    BufferKeeper keep(Threads);
    Threads.clearBuffer();
    THR.THREADNUMBER = threadId;
    if (!Threads.get(THR_ThreadKey)) return {};
    return std::string(rtrim(THR.heading()));
}

// ---------------------------------------------------------------- search source

ViewSearchSource::ViewSearchSource(ViewSpec spec, bool mail, std::optional<ViewRow> start)
    : spec_(std::move(spec)), cursor_(spec_.cursor()), mail_(mail), start_(std::move(start)) {}

bool ViewSearchSource::fill(bool forward) {
    const size_t batch = 64;
    if (!begun_ || forward != dir_) {
        const std::optional<ViewRow> from = begun_ ? std::optional<ViewRow>(last_) : start_;
        begun_ = true;
        dir_ = forward;
        if (from) ahead_ = forward ? cursor_.after(*from, batch) : cursor_.before(*from, batch);
        else ahead_ = forward ? cursor_.first(batch) : cursor_.last(batch);
        if (!forward) std::reverse(ahead_.begin(), ahead_.end());
    } else {
        ahead_ = forward ? cursor_.after(last_, batch) : cursor_.before(last_, batch);
        if (!forward) std::reverse(ahead_.begin(), ahead_.end());
    }
    next_ = 0;
    return !ahead_.empty();
}

bool ViewSearchSource::step(bool newer, SearchItem& item) {
    // The views list the newest message first: going forward in time is
    // going backward in the view.
    const bool forward = !newer;
    if (!cursor_.valid()) return false;
    for (;;) {
        if (!begun_ || forward != dir_ || next_ >= ahead_.size()) {
            if (!fill(forward)) return false;
        }
        last_ = ahead_[next_++];
        const uint32_t id = spec_.idOf(last_);
        item = SearchItem{};
        item.id = id;
        if (mail_) {
            MailRec m;
            if (spec_.indirect) {
                if (!readMailHeader(id, m)) continue;  // a link to a mail that is gone
            } else {
                m = last_.as<MailRec>();
            }
            item.date = m.DATE;
            item.subject = m.SUBJECT.str();
        } else {
            MsgNmbrRec m;
            if (spec_.indirect) {
                if (!readMessageHeader(id, m)) continue;
            } else {
                m = last_.as<MsgNmbrRec>();
            }
            item.date = m.DATE;
            if (m.THREADNUMBER != headThread_) {
                headThread_ = m.THREADNUMBER;
                headHeading_ = threadHeading(m.THREADNUMBER);
                if (headHeading_.empty()) headHeading_ = m.THREADALPHA.str();
            }
            item.subject = headHeading_;
        }
        return true;
    }
}

std::string ViewSearchSource::body(uint32_t id) {
    if (!MsgText.isOpen()) return {};
    BufferKeeper keep(MsgText);
    MsgText.clearBuffer();
    TXT.MSGNUMBER = id;
    if (!MsgText.get(TXT_IdKey)) return {};
    return TXT_MsgText;
}

} // namespace qb
