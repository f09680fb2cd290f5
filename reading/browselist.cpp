#include "reading/browselist.h"

#include <cstring>

#include "core/dates.h"
#include "core/tables.h"
#include "reading/render.h"

namespace qb {

namespace {
// The row of the view that stands for the message with this ID.
bool rowOfId(const ViewSpec& spec, uint32_t id, ViewRow& out) {
    Table* t = spec.table;
    if (!t || !t->isOpen() || spec.nothing || id == 0) return false;
    std::vector<char> saved(static_cast<char*>(t->buffer()), static_cast<char*>(t->buffer()) + t->recordSize());
    t->clearBuffer();
    if (!spec.limitRec.empty()) std::memcpy(t->buffer(), spec.limitRec.data(), t->recordSize());
    int key = 0;
    if (t == &Mail) MAI.MAILID = id, key = MAI_IdKey;
    else if (t == &MsgNmbr) MSG.MSGNUMBER = id, key = MSG_IdKey;
    else if (t == &MasIdx) MAS.SYSID = id, key = MAS_by_SysID;
    else if (t == &SIndex) SIN.MSGNUMBER = id, key = SIN_IdKey;
    else if (t == &Search) SEA.ID = id, key = SEA_IdKey;
    bool ok = t->get(key);
    if (ok) {
        out.pos = t->position();
        const char* b = static_cast<const char*>(t->buffer());
        out.rec.assign(b, b + t->recordSize());
        ok = spec.cursor().inView(out.rec.data());
    }
    std::memcpy(t->buffer(), saved.data(), saved.size());
    return ok;
}

const char* statusText(uint8_t s) { return s == 1 ? "Keep" : s == 2 ? "Delete" : ""; }
} // namespace

std::vector<std::string> BrowseList::columnTitles(bool mail) {
    if (mail) return {"Date", "Time", "From", "To", "Subject", "Status"};
    return {"MsgNo", "Date", "From", "To", "Subject", "Status"};
}

std::string BrowseList::personText(uint32_t id) {
    if (id == 0) return {};
    auto it = persons_.find(id);
    if (it != persons_.end()) return it->second;
    if (persons_.size() > 20000) persons_.clear();
    std::string s;
    if (Person.isOpen()) {
        const PersonRec saved = PER;
        Person.clearBuffer();
        PER.PERSONID = id;
        if (Person.get(PER_PersonKey)) {
            s = personName(PER);
            if (s.empty()) s = PER.ADDRESS.str();
        }
        PER = saved;
    }
    persons_.emplace(id, s);
    return s;
}

std::string BrowseList::headingText(uint32_t threadId, const Str<10>& alpha) {
    auto it = headings_.find(threadId);
    if (it != headings_.end()) return it->second;
    if (headings_.size() > 20000) headings_.clear();
    std::string h = threadHeading(threadId);
    if (h.empty()) h = alpha.str();
    headings_.emplace(threadId, h);
    return h;
}

BrowseRow BrowseList::makeRow(const ViewRow& r) {
    BrowseRow b;
    b.row = r;
    b.id = spec_.idOf(r);
    if (mail_) {
        if (spec_.indirect) b.found = readMailHeader(b.id, b.mail);
        else b.mail = r.as<MailRec>(), b.found = true;
        if (b.found) {
            const MailRec& m = b.mail;
            b.cols = {formatDate(m.DATE, "@D10-"), formatTime(m.TIME, "@T1"), personText(m.FROMID),
                      personText(m.TOID), m.SUBJECT.str(), statusText(m.DUMMY)};
        }
    } else {
        if (spec_.indirect) b.found = readMessageHeader(b.id, b.msg);
        else b.msg = r.as<MsgNmbrRec>(), b.found = true;
        if (b.found) {
            const MsgNmbrRec& m = b.msg;
            b.cols = {std::to_string(m.MSGNUMBER), formatDate(m.DATE, "@D10-"), personText(m.FROMID),
                      personText(m.TOID), headingText(m.THREADNUMBER, m.THREADALPHA), statusText(m.DUMMY)};
        }
    }
    if (!b.found) b.cols = {std::to_string(b.id), "", "", "", "(message not found)", ""};
    return b;
}

void BrowseList::setView(const ViewSpec& spec) {
    spec_ = spec;
    cursor_ = spec_.cursor();
    headings_.clear();
    toFirst();
}

void BrowseList::toFirst() {
    rows_.clear();
    for (auto& r : cursor_.first(kPage)) rows_.push_back(makeRow(r));
    atStart_ = true;
    atEnd_ = rows_.size() < kPage;
}

void BrowseList::toLast() {
    rows_.clear();
    for (auto& r : cursor_.last(kPage)) rows_.push_back(makeRow(r));
    atEnd_ = true;
    atStart_ = rows_.size() < kPage;
}

std::vector<BrowseRow> BrowseList::readAfter(size_t n, bool& end) {
    std::vector<BrowseRow> out;
    end = atEnd_;
    if (atEnd_) return out;
    auto more = rows_.empty() ? cursor_.first(n) : cursor_.after(rows_.back().row, n);
    for (auto& r : more) out.push_back(makeRow(r));
    end = more.size() < n;
    return out;
}

std::vector<BrowseRow> BrowseList::readBefore(size_t n, bool& start) {
    std::vector<BrowseRow> out;
    start = atStart_;
    if (atStart_ || rows_.empty()) return out;
    auto more = cursor_.before(rows_.front().row, n);
    for (auto& r : more) out.push_back(makeRow(r));
    start = more.size() < n;
    return out;
}

void BrowseList::appendRows(std::vector<BrowseRow>&& rows, bool end) {
    for (auto& r : rows) rows_.push_back(std::move(r));
    atEnd_ = end;
}

void BrowseList::prependRows(std::vector<BrowseRow>&& rows, bool start) {
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) rows_.push_front(std::move(*it));
    atStart_ = start;
}

size_t BrowseList::fetchAfter(size_t n) {
    bool end = false;
    auto rows = readAfter(n, end);
    const size_t count = rows.size();
    appendRows(std::move(rows), end);
    return count;
}

size_t BrowseList::fetchBefore(size_t n) {
    bool start = false;
    auto rows = readBefore(n, start);
    const size_t count = rows.size();
    prependRows(std::move(rows), start);
    return count;
}

void BrowseList::dropFront(size_t n) {
    n = std::min(n, rows_.size());
    if (n == 0) return;
    rows_.erase(rows_.begin(), rows_.begin() + static_cast<long>(n));
    atStart_ = false;
}

void BrowseList::dropBack(size_t n) {
    n = std::min(n, rows_.size());
    if (n == 0) return;
    rows_.erase(rows_.end() - static_cast<long>(n), rows_.end());
    atEnd_ = false;
}

size_t BrowseList::centreOn(const ViewRow& row) {
    rows_.clear();
    auto before = cursor_.before(row, kPage / 2);
    for (auto& r : before) rows_.push_back(makeRow(r));
    atStart_ = before.size() < kPage / 2;
    const size_t index = rows_.size();
    rows_.push_back(makeRow(row));
    auto after = cursor_.after(row, kPage);
    for (auto& r : after) rows_.push_back(makeRow(r));
    atEnd_ = after.size() < kPage;
    return index;
}

size_t BrowseList::seek(const void* rec) {
    auto found = cursor_.seek(rec, 1);
    if (found.empty()) {
        toLast();
        return rows_.empty() ? 0 : rows_.size() - 1;
    }
    return centreOn(found.front());
}

long BrowseList::locateId(uint32_t id) {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].id == id) return static_cast<long>(i);
    ViewRow r;
    if (!rowOfId(spec_, id, r)) return -1;
    return static_cast<long>(centreOn(r));
}

void BrowseList::refresh() {
    if (rows_.empty()) {
        toFirst();
        return;
    }
    ViewRow first = rows_.front().row;
    const size_t n = rows_.size();
    const bool start = atStart_;
    rows_.clear();
    persons_.clear();
    // The first row may be gone: start after the row before it.
    auto before = cursor_.before(first, 1);
    std::vector<ViewRow> rows = before.empty() ? cursor_.first(n) : cursor_.after(before.front(), n);
    for (auto& r : rows) rows_.push_back(makeRow(r));
    atStart_ = start || before.empty();
    atEnd_ = rows.size() < n;
}

int64_t BrowseList::headerCount() const {
    Table& t = mail_ ? Mail : MsgNmbr;
    return t.isOpen() ? t.records() : 0;
}

} // namespace qb
