#include "reading/export.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/kinds.h"
#include "core/readbatch.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/ui.h"
#include "reading/browseview.h"
#include "reading/topics.h"

namespace qb {

// ------------------------------------------------------------------ checks

bool fileNameHasPath(std::string_view name) {
    if (name.find_first_of("/\\:") != std::string_view::npos) return true;
    const std::string_view t = rtrim(name);
    return t == "." || t == "..";
}

std::optional<BoxText> checkFileName(std::string_view name) {
    if (fileNameHasPath(name)) return BoxText{"Filename error", "Do not include the path, just the filename!"};
    return std::nullopt;
}

std::optional<BoxText> checkDateRange(int32_t from, int32_t to) {
    const char* title = "Date range filter error";
    if (from <= 0) return BoxText{title, "A valid From-date must be entered to apply a date range filter."};
    if (to <= 0) return BoxText{title, "A valid To-date must be entered to apply a date range filter."};
    if (to < from) return BoxText{title, "A negative date range cannot be allowed."};
    return std::nullopt;
}

int32_t isoDay(const std::string& text) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) return 0;
    return dayNumber(y, m, d);
}

bool sameFileName(std::string_view a, std::string_view b) {
    return compare1252(a, b, true) == 0;
}

// ------------------------------------------------------------- file names

std::string ozwinForumFileName(std::string_view databaseName) {
    std::string base(rtrim(databaseName.substr(0, std::min<size_t>(8, databaseName.size()))));
    // The name becomes a file name: characters that would name a directory
    // (or none) are replaced.
    for (char& c : base)
        if (c == '/' || c == '\\' || c == ':' || c == '\0') c = '_';
    if (base.empty() || base == "." || base == "..") base = "FORUM";
    return base + ".SAV";
}

ExportNames defaultExportNames(uint8_t kind, int target, std::string_view databaseName) {
    if (kind == KindMail) {
        switch (target) {
        case TargetTapcis: return {"SaveMail.Txt", ""};
        case TargetOzWin: return {"CISMAIL.IN", "CISMAIL.OUT"};
        default: return {"InBox.MBX", "OutBox.MBX"};
        }
    }
    if (kind == KindNews) return {"SaveMsg.TXT", ""};
    if (target == TargetOzWin) return {ozwinForumFileName(databaseName), ""};
    return {"SaveMsg.Txt", ""};
}

std::vector<int> targetsOffered(uint8_t kind) {
    if (kind == KindMail) return {TargetEudora, TargetOzWin, TargetTapcis, TargetUnix};
    if (kind == KindNews) return {TargetUnix};
    return {TargetOzWin, TargetTapcis};
}

const char* targetName(int target) {
    switch (target) {
    case TargetTapcis: return "TAPCIS";
    case TargetEudora: return "Eudora";
    case TargetUnix: return "Unix RFC822";
    case TargetOzWin: return "OzWin II";
    }
    return "";
}

namespace {
// Windows characters 128-159 in the DOS code page 850 of TAPCIS.
const unsigned char kCp850Low[32] = {14, 14, 44,  159, 34,  249, 197, 197, 94, 14,  83, 60, 157, 32, 32, 32,
                                     32, 247, 247, 34, 34,  250, 240, 240, 34, 14, 115, 62, 155, 32, 32, 152};
// Characters 160-255 (Latin-1 in both) to their code page 850 places.
const unsigned char kCp850High[96] = {
    255, 173, 189, 156, 207, 190, 221, 245, 249, 184, 166, 174, 170, 240, 169, 238, 248, 241, 253, 252,
    239, 230, 244, 250, 247, 251, 167, 175, 172, 171, 243, 168, 183, 181, 182, 199, 142, 143, 146, 128,
    212, 144, 210, 211, 222, 214, 215, 216, 209, 165, 227, 224, 226, 229, 153, 158, 157, 235, 233, 234,
    154, 237, 232, 225, 133, 160, 131, 198, 132, 134, 145, 135, 138, 130, 136, 137, 141, 161, 140, 139,
    208, 164, 149, 162, 147, 228, 148, 246, 155, 151, 163, 150, 129, 236, 231, 152};
} // namespace

unsigned char toCp850(unsigned char c) {
    if (c < 128) return c;
    if (c < 160) return kCp850Low[c - 128];
    if (c == 160) return ' ';
    if (c == 184) return ',';
    return kCp850High[c - 160];
}

std::string toCp850(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(toCp850(static_cast<unsigned char>(c)));
    return r;
}

// --------------------------------------------------------------- the scope

ScopeChoice& scopeChoice() {
    static ScopeChoice c;
    return c;
}

ScopeTables::ScopeTables(uint8_t scope) {
    const bool mail = Mem.ForumType == KindMail;
    numbers = browseTables(mail);
    if (Mem.ForumType == KindNews) numbers.push_back(MessageIds.number());
    if (scope == ScopeWord) numbers.push_back(MasIdx.number());
    for (int n : numbers) OP_CLOSE(OpOpenShared, n);
}

ScopeTables::~ScopeTables() {
    for (int n : numbers) OP_CLOSE(OpClose, n);
}

std::vector<uint32_t> scopeMessages(uint8_t scope, uint32_t currentId, const ScopeChoice& choice) {
    const bool mail = Mem.ForumType == KindMail;
    BrowseChoice c;
    c.wordId = choice.wordId;
    c.topicId = choice.topicId;
    int tab = 0;
    if (scope >= ScopeCurrent && scope <= ScopeSection) {
        if (mail) {
            MailRec m;
            if (!readMailHeader(currentId, m)) return {};
            if (scope == ScopeCurrent) return {currentId};
            if (scope == ScopeSection) return {};
            c.senderId = m.FROMID;
            c.senderAlpha = m.FROMALPHA.str();
            c.receiverId = m.TOID;
            c.receiverAlpha = m.TOALPHA.str();
            c.partnerId = m.PAIRID;
            c.partnerAlpha = m.PAIRALPHA.str();
            tab = scope == ScopeSender ? 4 : scope == ScopeReceiver ? 5 : 3;
        } else {
            MsgNmbrRec m;
            if (!readMessageHeader(currentId, m)) return {};
            if (scope == ScopeCurrent) return {currentId};
            c.senderId = m.FROMID;
            c.senderAlpha = m.FROMALPHA.str();
            c.receiverId = m.TOID;
            c.receiverAlpha = m.TOALPHA.str();
            c.threadId = m.THREADNUMBER;
            c.threadAlpha = m.THREADALPHA.str();
            c.sectionId = m.SECSYSID;
            tab = scope == ScopeSender ? 4 : scope == ScopeReceiver ? 5 : scope == ScopeThread ? 2 : 3;
        }
    } else if (scope == ScopeAll) {
        tab = 1;  // by date for mail, by number for messages
    } else if (scope == ScopeWord) {
        tab = mail ? 6 : 7;
    } else if (scope == ScopeTopic) {
        tab = mail ? 7 : 8;
    } else if (scope == ScopeSearch) {
        tab = mail ? 8 : 9;
    } else {
        return {};
    }
    // The person limits of the views leave out rows without that person;
    // a message without a sender (ID 0) has no sender scope.
    if ((scope == ScopeSender && c.senderId == 0) || (scope == ScopeReceiver && c.receiverId == 0) ||
        (scope == ScopeThread && mail && c.partnerId == 0))
        return {currentId};

    ViewSpec spec = mail ? mailView(tab, c) : messageView(tab, c);
    std::vector<uint32_t> ids;
    if (spec.nothing || !spec.table || !spec.table->isOpen()) return ids;
    ViewCursor cur = spec.cursor();
    for (std::vector<ViewRow> page = cur.first(2000); !page.empty(); page = cur.after(page.back(), 2000))
        for (const ViewRow& r : page) ids.push_back(spec.idOf(r));
    const bool threadOrder = !mail && (scope == ScopeThread || scope == ScopeSection);
    if (spec.indirect) {
        // Word, topic and search rows: each message once, by number.
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    } else if (!threadOrder) {
        // The keys hold the newest first.
        std::reverse(ids.begin(), ids.end());
    }
    return ids;
}

bool inDateRange(const RenderInput& in, int32_t from, int32_t to) {
    const int32_t d = in.kind == MessageKind::Mail ? in.mail.DATE : in.msg.DATE;
    return d >= from && d <= to;
}


namespace {
// Keeps a table's record buffer as it was.
struct KeepBuffer {
    Table& t;
    std::vector<char> saved;
    explicit KeepBuffer(Table& table)
        : t(table), saved(static_cast<char*>(table.buffer()), static_cast<char*>(table.buffer()) + table.recordSize()) {}
    ~KeepBuffer() { std::memcpy(t.buffer(), saved.data(), saved.size()); }
};
} // namespace

void ScopeWalk::start(uint8_t scope, uint32_t currentId, int32_t from, int32_t to, bool range) {
    stop();
    tables_ = std::make_unique<ScopeTables>(scope);
    ids_ = scopeMessages(scope, currentId, scopeChoice());
    from_ = from;
    to_ = to;
    range_ = range;
}

bool ScopeWalk::load(uint32_t id, RenderInput& in) {
    if (Mem.ForumType != KindMail || !Mail.isOpen() || !MsgText.isOpen() || !Person.isOpen())
        return loadRenderInput(id, in);
    // Mail is read straight from the tables the walk holds open, persons from
    // a cache: an export of a whole mailbox reads each person once.
    KeepBuffer keepMail(Mail), keepText(MsgText);
    std::string savedText = std::move(TXT_MsgText);
    in = RenderInput{};
    in.kind = MessageKind::Mail;
    in.databaseName = Mem.Description;
    in.ownerId = Mem.PersonID;
    Mail.clearBuffer();
    MAI.MAILID = id;
    const bool found = Mail.get(MAI_IdKey);
    if (found) {
        in.mail = MAI;
        in.from = person(in.mail.FROMID);
        in.to = person(in.mail.TOID);
        MsgText.clearBuffer();
        TXT.MSGNUMBER = id;
        if (MsgText.get(TXT_IdKey)) in.text = std::move(TXT_MsgText);
    }
    TXT_MsgText = std::move(savedText);
    return found;
}

const PersonRec& ScopeWalk::person(uint32_t id) {
    auto it = persons_.find(id);
    if (it != persons_.end()) return it->second;
    PersonRec p{};
    if (id) {
        KeepBuffer keepPerson(Person);
        Person.clearBuffer();
        PER.PERSONID = id;
        if (Person.get(PER_PersonKey)) p = PER;
    }
    if (persons_.size() > 100000) persons_.clear();
    return persons_.emplace(id, p).first->second;
}

namespace {
constexpr int kReadsPerRun = 256;
} // namespace

void ScopeWalk::endRun() {
    if (!runTables_.empty()) endReadBatch(runTables_);
    runTables_.clear();
    runReads_ = 0;
}

bool ScopeWalk::next(RenderInput& in) {
    while (next_ < ids_.size()) {
        if (runs_ && tables_) {
            if (runReads_ >= kReadsPerRun) endRun();
            if (runTables_.empty()) {
                for (Table* t : allTables())
                    if (std::find(tables_->numbers.begin(), tables_->numbers.end(), t->number()) !=
                        tables_->numbers.end())
                        runTables_.push_back(t);
                beginReadBatch(runTables_);
            }
            ++runReads_;
        }
        const uint32_t id = ids_[next_++];
        if (!load(id, in)) continue;  // removed meanwhile
        if (range_ && !inDateRange(in, from_, to_)) continue;
        return true;
    }
    endRun();
    return false;
}

void ScopeWalk::stop() {
    endRun();
    persons_.clear();
    tables_.reset();
    ids_.clear();
    next_ = 0;
}

namespace {

const char* const kCrLf = "\r\n";

// The Unix RFC822 files are mailboxes: each message begins with a "From "
// line, and a body line that begins with "From " (after any ">") gets one
// more ">" so that it does not start a message.
bool needsMboxQuote(std::string_view ln) {
    size_t k = 0;
    while (k < ln.size() && ln[k] == '>') ++k;
    return ln.substr(k, 5) == "From ";
}

bool has8bit(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 128) return true;
    return false;
}

// Text with characters beyond ASCII as RFC 2047 encoded words of at most 75
// characters each.
std::string encodedWords(std::string_view text) {
    static const char* const hex = "0123456789ABCDEF";
    const std::string open = "=?windows-1252?Q?";
    std::string out, word;
    auto flush = [&] {
        if (word.empty()) return;
        if (!out.empty()) out += ' ';
        out += open + word + "?=";
        word.clear();
    };
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        std::string piece;
        if (c == ' ') piece = "_";
        else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' ||
                 c == '*' || c == '+' || c == '-' || c == '/')
            piece = std::string(1, ch);
        else piece = {'=', hex[c >> 4], hex[c & 15]};
        if (open.size() + word.size() + piece.size() + 2 > 75) flush();
        word += piece;
    }
    flush();
    return out;
}

// A name as written in an address header, quotes and their escapes taken off.
std::string unquotedPhrase(std::string_view n) {
    if (n.size() < 2 || n.front() != '"' || n.back() != '"') return std::string(n);
    std::string r;
    for (size_t i = 1; i + 1 < n.size(); ++i) {
        if (n[i] == '\\' && i + 2 < n.size()) ++i;
        r += n[i];
    }
    return r;
}

// A header line of a mailbox: names and subjects with characters beyond
// ASCII are written as encoded words, as mail programs expect them.
std::string mailboxHeaderLine(std::string_view ln) {
    if (!has8bit(ln)) return std::string(ln);
    for (const char* label : {"From: ", "To: "}) {
        const std::string_view l(label);
        if (ln.substr(0, l.size()) != l) continue;
        const std::string_view v = ln.substr(l.size());
        const size_t lt = v.rfind(" <");
        if (lt == std::string_view::npos || has8bit(v.substr(lt))) return std::string(ln);
        return std::string(l) + encodedWords(unquotedPhrase(v.substr(0, lt))) + std::string(v.substr(lt));
    }
    if (ln.substr(0, 9) == "Subject: ") return "Subject: " + encodedWords(ln.substr(9));
    return std::string(ln);
}

std::string mailboxHeader(std::string_view header) {
    if (!has8bit(header)) return std::string(header);
    std::string out;
    size_t pos = 0;
    while (pos < header.size()) {
        size_t eol = header.find("\r\n", pos);
        if (eol == std::string_view::npos) eol = header.size();
        out += mailboxHeaderLine(header.substr(pos, eol - pos));
        out += kCrLf;
        pos = eol + 2;
    }
    return out;
}

std::string envelopeLine(const RenderInput& in, const std::string& cisDomain) {
    std::string address = in.from.ADDRESS.str();
    if (address.empty()) address = "???@???";
    else if (address.find('@') == std::string::npos) {
        for (char& ch : address)
            if (ch == ',') ch = '.';
        address += "@" + cisDomain;
    }
    for (char& ch : address)
        if (ch == ' ') ch = '_';
    const int32_t day = in.mail.DATE;
    std::string date = "Thu Jan 01 00:00:00 1970";
    if (day > 0) {
        int y, m, d;
        civilDate(day, y, m, d);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s %s %02d %s %04d", kWeekdays[weekday(day)], kMonths[m - 1], d,
                      clockText(in.mail.TIME).c_str(), y);
        date = buf;
    }
    return "From " + address + " " + date + kCrLf;
}

class ExportFile {
public:
    ~ExportFile() { close(); }
    bool open(const std::string& path, bool append) {
        path_ = path;
        f_ = std::fopen(path.c_str(), append ? "ab" : "wb");
        if (!f_) return false;
        std::setvbuf(f_, nullptr, _IOFBF, 1 << 16);
        return true;
    }
    bool isOpen() const { return f_ != nullptr; }
    void write(std::string_view s) {
        if (f_ && !s.empty() && std::fwrite(s.data(), 1, s.size(), f_) != s.size()) failed_ = true;
    }
    bool close() {
        if (!f_) return !failed_;
        if (std::fclose(f_) != 0) failed_ = true;
        f_ = nullptr;
        return !failed_;
    }
    bool failed() const { return failed_; }
    const std::string& path() const { return path_; }

private:
    std::FILE* f_ = nullptr;
    std::string path_;
    bool failed_ = false;
};

std::string tempPath(const std::string& name) {
    std::string dir = Mem.TempDir;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir + name;
}

void reportFileError(const std::string& path, const char* what) {
    ui().message("Export error", "The export file " + path + " cannot be " + what + ": " + std::strerror(errno));
}

class MessageExport {
public:
    uint8_t step(uint8_t fileMode, uint8_t scope, uint8_t stepNo, uint32_t id, const std::string& first,
                 const std::string& second, int32_t from, int32_t to, uint32_t flags) {
        if (stepNo == 1) return begin(fileMode, scope, id, first, second, from, to, flags);
        if (stepNo == 2) return walk_.active() && !ended_ ? writeNext() : 0;
        finish();
        return 0;
    }
    ExportStatus status;

private:
    uint8_t begin(uint8_t fileMode, uint8_t scope, uint32_t id, std::string first, std::string second, int32_t from,
                  int32_t to, uint32_t flags) {
        finish();
        status = ExportStatus{};
        ended_ = false;
        const RenderSettings& rs = renderSettings();
        kind_ = Mem.ForumType == KindMail ? MessageKind::Mail
                : Mem.ForumType == KindNews ? MessageKind::Newsgroup
                                            : MessageKind::Forum;
        target_ = rs.target(kind_);
        plain_ = scope == ScopeCurrent && kind_ != MessageKind::Mail;
        const bool mail = kind_ == MessageKind::Mail;
        first = std::string(rtrim(first));
        second = std::string(rtrim(second));
        if (first.empty() && second.empty()) {
            if (!mail) first = "SaveMsg.Txt";
            else if (target_ == TargetTapcis) first = "SaveMail.Txt";
            else {
                first = "InBox.Mbx";
                second = "OutBox.Mbx";
            }
        }
        if (first.empty()) first = second, second.clear();
        for (const std::string* n : {&first, &second})
            if (auto box = checkFileName(*n)) {
                ui().message(box->title, box->text);
                status.failed = true;
                return 0;
            }
        if (!mail || target_ == TargetTapcis) second.clear();
        if (!second.empty() && sameFileName(first, second)) {
            ui().message("File name conflict", "Inbox and Outbox files cannot have the same name.");
            status.failed = true;
            return 0;
        }
        const bool append = fileMode == 2;
        if (!files_[0].open(tempPath(first), append)) {
            reportFileError(tempPath(first), "created");
            status.failed = true;
            return 0;
        }
        status.files.push_back(files_[0].path());
        if (!second.empty()) {
            if (!files_[1].open(tempPath(second), append)) {
                reportFileError(tempPath(second), "created");
                files_[0].close();
                status.failed = true;
                return 0;
            }
            status.files.push_back(files_[1].path());
        }
        walk_.readInRuns(true);
        walk_.start(scope, id, from, to, (flags & ExportDateRange) != 0);
        return writeNext();
    }

    // Writes the next message of the scope; 1 when more may follow.
    uint8_t writeNext() {
        RenderInput in;
        if (!walk_.next(in)) return 0;
        write(in);
        if (status.failed) {
            ended_ = true;
            return 0;
        }
        return walk_.more() ? 1 : 0;
    }

    void write(const RenderInput& in) {
        const RenderSettings& rs = renderSettings();
        const bool toSecond = in.kind == MessageKind::Mail && target_ != TargetTapcis && files_[1].isOpen() &&
                              in.mailSent();
        ExportFile& f = files_[toSecond ? 1 : 0];
        const bool cp850 = target_ == TargetTapcis && !toSecond;
        const bool mbox = target_ == TargetUnix;
        buf_.clear();
        if (mbox && in.kind == MessageKind::Mail) buf_ += envelopeLine(in, rs.cisDomain);
        const std::string header = renderHeader(in, target_, plain_, rs.cisDomain);
        if (mbox && has8bit(header)) buf_ += mailboxHeader(header);
        else buf_ += header;
        buf_ += kCrLf;
        // The text is copied only when it is wrapped.
        std::string wrapped;
        std::string_view body = in.text;
        if (rs.wrap == 1) {
            wrapped = wrapBody(in.text, true, rs.wrapWidth());
            body = wrapped;
        }
        size_t pos = 0;
        while (pos < body.size()) {
            size_t eol = body.find('\n', pos);
            size_t end = eol == std::string::npos ? body.size() : eol;
            size_t contentEnd = end > pos && body[end - 1] == '\r' ? end - 1 : end;
            std::string_view ln(body.data() + pos, contentEnd - pos);
            if (mbox && needsMboxQuote(ln)) buf_ += '>';
            buf_.append(ln);
            buf_ += kCrLf;
            pos = eol == std::string::npos ? body.size() : eol + 1;
        }
        buf_ += kCrLf;
        if (cp850)
            for (char& c : buf_) c = static_cast<char>(toCp850(static_cast<unsigned char>(c)));
        f.write(buf_);
        if (f.failed()) {
            reportFileError(f.path(), "written");
            status.failed = true;
            return;
        }
        ++status.count;
    }

    void finish() {
        walk_.stop();
        for (ExportFile& f : files_) {
            const bool wasOpen = f.isOpen();
            if (!f.close() && wasOpen && !status.failed) {
                reportFileError(f.path(), "written");
                status.failed = true;
            }
            f = ExportFile{};
        }
    }

    ScopeWalk walk_;
    ExportFile files_[2];
    MessageKind kind_ = MessageKind::Mail;
    int target_ = TargetTapcis;
    bool plain_ = false;
    bool ended_ = false;
    std::string buf_;
};

MessageExport& exporter() {
    static MessageExport e;
    return e;
}

ReportSink* gSink = nullptr;

class MessagePrint {
public:
    uint8_t step(uint8_t scope, uint8_t stepNo, uint32_t id, int32_t from, int32_t to, uint32_t flags) {
        if (stepNo == 1) {
            finish();
            status = ExportStatus{};
            ended_ = false;
            if (!gSink) {
                ui().message("Print error", "There is no printer to print on.");
                status.failed = true;
                return 0;
            }
            std::string name;
            SetDate(name, picture_);
            if (picture_.empty()) picture_ = "@D17";
            if (!gSink->begin(reportTitle(Mem.ForumType == KindMail))) {
                status.failed = true;
                return 0;
            }
            begun_ = true;
            walk_.readInRuns(true);
            walk_.start(scope, id, from, to, (flags & ExportDateRange) != 0);
            return printNext();
        }
        if (stepNo == 2) return walk_.active() && !ended_ ? printNext() : 0;
        finish();
        return 0;
    }
    ExportStatus status;

private:
    uint8_t printNext() {
        RenderInput in;
        if (!walk_.next(in)) return 0;
        if (!gSink->add(reportEntry(in, picture_))) {
            status.failed = true;
            ended_ = true;
            return 0;
        }
        ++status.count;
        return walk_.more() ? 1 : 0;
    }
    void finish() {
        walk_.stop();
        if (begun_ && gSink && !gSink->end()) status.failed = true;
        begun_ = false;
    }
    ScopeWalk walk_;
    std::string picture_;
    bool begun_ = false;
    bool ended_ = false;
};

MessagePrint& printer() {
    static MessagePrint p;
    return p;
}

std::string personLine(const PersonRec& p) {
    std::string r;
    for (std::string part : {p.FIRSTNAME.str(), p.LASTNAME.str(), p.ADDRESS.str()}) {
        if (part.empty()) continue;
        if (!r.empty()) r += ' ';
        r += part;
    }
    return r;
}

} // namespace

uint8_t CopyMsg(uint8_t fileMode, uint8_t scope, uint8_t step, uint32_t messageId, const std::string& firstName,
                const std::string& secondName, int32_t fromDate, int32_t toDate, uint32_t flags) {
    return exporter().step(fileMode, scope, step, messageId, firstName, secondName, fromDate, toDate, flags);
}

const ExportStatus& exportStatus() { return exporter().status; }

void setReportSink(ReportSink* sink) { gSink = sink; }

std::string reportTitle(bool mail) {
    return mail ? "Mail from the Quillbox Message Archiver Database"
                : "Messages from the Quillbox Message Archiver Database";
}

ReportEntry reportEntry(const RenderInput& in, const std::string& datePicture) {
    ReportEntry e;
    if (in.kind == MessageKind::Mail) {
        e.number = std::to_string(in.mail.MAILID);
        e.date = formatDate(in.mail.DATE, datePicture);
        e.subject = in.mail.SUBJECT.str();
    } else {
        e.number = std::to_string(in.msg.MSGNUMBER);
        if (in.kind == MessageKind::Forum && in.msg.REFNUMBER)
            e.number += "  (reply to " + std::to_string(in.msg.REFNUMBER) + ")";
        e.date = formatDate(in.msg.DATE, datePicture);
        e.subject = in.heading;
    }
    e.from = personLine(in.from);
    e.to = personLine(in.to);
    e.text = in.text;
    return e;
}

uint8_t PrintMsg(uint8_t /*fileMode*/, uint8_t scope, uint8_t step, uint32_t messageId, int32_t fromDate,
                 int32_t toDate, uint32_t flags) {
    return printer().step(scope, step, messageId, fromDate, toDate, flags);
}

const ExportStatus& printStatus() { return printer().status; }

// ------------------------------------------------------- status and topics

StatusRow statusRowOfScope(uint8_t scope, uint32_t currentId, bool dateRange) {
    StatusRow r;
    const bool mail = Mem.ForumType == KindMail;
    if (scope == ScopeCurrent) return StatusRow{true, static_cast<int>(StatusTarget::Message), currentId};
    if (dateRange) return r;
    if (scope == ScopeAll) return StatusRow{true, static_cast<int>(StatusTarget::Database), Mem.ForumNumber};
    if (scope != ScopeThread && scope != ScopeSection) return r;
    OP_CLOSE(OpOpenShared, mail ? Mail.number() : MsgNmbr.number());
    if (mail && scope == ScopeThread) {
        MailRec m;
        if (readMailHeader(currentId, m) && m.PAIRID)
            r = StatusRow{true, static_cast<int>(StatusTarget::Person), m.PAIRID};
    } else if (!mail) {
        MsgNmbrRec m;
        if (readMessageHeader(currentId, m)) {
            if (scope == ScopeThread && m.THREADNUMBER)
                r = StatusRow{true, static_cast<int>(StatusTarget::Thread), m.THREADNUMBER};
            if (scope == ScopeSection && m.SECSYSID)
                r = StatusRow{true, static_cast<int>(StatusTarget::Section), m.SECSYSID};
        }
    }
    OP_CLOSE(OpClose, mail ? Mail.number() : MsgNmbr.number());
    return r;
}


uint32_t wordIdByText(const std::string& word) {
    OP_CLOSE(OpOpenShared, WordList.number());
    uint32_t id = 0;
    if (WordList.isOpen()) {
        KeepBuffer keep(WordList);
        WordList.clearBuffer();
        WOR.THEWORD = word;
        if (WordList.get(WOR_by_theWord)) id = static_cast<uint32_t>(WOR.WORDID);
    }
    OP_CLOSE(OpClose, WordList.number());
    return id;
}

// ------------------------------------------------------------------ batch run

std::string BatchRun::workingText(int op) {
    switch (op) {
    case OpExportNew:
    case OpExportAppend: return "Exporting messages ... please wait!";
    case OpPrint: return "Printing messages ... please wait!";
    case OpAttachTopic: return "Attaching topics ... please wait!";
    case OpRemoveTopic: return "Removing topics ... please wait!";
    default: return "Recoding message status ... please wait!";
    }
}

std::string BatchRun::doneText(int op) {
    switch (op) {
    case OpExportNew:
    case OpExportAppend: return "Messages exported!";
    case OpPrint: return "Messages printed!";
    case OpAttachTopic: return "Topics attached!";
    case OpRemoveTopic: return "Topics removed!";
    default: return "Message status recoded!";
    }
}

uint8_t BatchRun::step(uint8_t no) {
    const uint32_t flags = r_.dateRange ? static_cast<uint32_t>(ExportDateRange) : 0u;
    if (exporting())
        return CopyMsg(static_cast<uint8_t>(r_.operation), r_.scope, no, r_.messageId, r_.firstName, r_.secondName,
                       r_.fromDate, r_.toDate, flags);
    return PrintMsg(1, r_.scope, no, r_.messageId, r_.fromDate, r_.toDate, flags);
}

bool BatchRun::start() {
    scopeChoice() = r_.choice;
    started_ = true;
    if (exporting() || r_.operation == OpPrint) {
        const bool more = step(1) != 0;
        const ExportStatus& st = exporting() ? exportStatus() : printStatus();
        count_ = st.count;
        failed_ = st.failed;
        if (failed_) {
            finish();
            return false;
        }
        if (!more) finish();
        return true;
    }
    if (r_.operation == OpAttachTopic || r_.operation == OpRemoveTopic) {
        if (!r_.topicId) {
            ui().message("Selection error", "No topic selected!");
            failed_ = true;
            ended_ = true;
            return false;
        }
    } else if (r_.operation >= OpStatusNormal && r_.operation <= OpStatusDelete) {
        const uint8_t status = static_cast<uint8_t>(r_.operation - OpStatusNormal);
        const StatusRow row = statusRowOfScope(r_.scope, r_.messageId, r_.dateRange);
        if (row.single) {
            // One row stands for the whole scope.
            failed_ = !setStatus(static_cast<StatusTarget>(row.what), row.id, status);
            if (!failed_ && row.what == static_cast<int>(StatusTarget::Database)) Mem.ForumCheck = status;
            count_ = failed_ ? 0 : 1;
            ended_ = true;
            return !failed_;
        }
    } else {
        failed_ = true;
        ended_ = true;
        return false;
    }
    walk_.start(r_.scope, r_.messageId, r_.fromDate, r_.toDate, r_.dateRange);
    return true;
}

bool BatchRun::tick(int n) {
    if (!started_ || ended_) return false;
    if (aborted_) {
        finish();
        return false;
    }
    if (exporting() || r_.operation == OpPrint) {
        bool more = true;
        for (int i = 0; i < n && more; ++i) more = step(2) != 0;
        const ExportStatus& st = exporting() ? exportStatus() : printStatus();
        count_ = st.count;
        failed_ = st.failed;
        if (!more || failed_) {
            finish();
            return false;
        }
        return true;
    }
    RenderInput in;
    std::vector<uint32_t> ids;
    bool more = true;
    while (static_cast<int>(ids.size()) < n && (more = walk_.next(in)))
        ids.push_back(in.kind == MessageKind::Mail ? in.mail.MAILID : in.msg.MSGNUMBER);
    if (r_.operation == OpAttachTopic || r_.operation == OpRemoveTopic) {
        // The links and the topic's count go together, a batch at a time.
        if (!ids.empty() &&
            attachMessages(r_.topicId, ids, r_.operation == OpAttachTopic) != EntryResult::Ok)
            failed_ = true;
    } else {
        for (uint32_t id : ids)
            if (!setStatus(StatusTarget::Message, id, static_cast<uint8_t>(r_.operation - OpStatusNormal))) {
                failed_ = true;
                break;
            }
    }
    if (!failed_) count_ += ids.size();
    if (failed_ || !more) {
        finish();
        return false;
    }
    return true;
}

void BatchRun::finish() {
    if (!started_ || ended_) return;
    ended_ = true;
    if (exporting() || r_.operation == OpPrint) {
        step(3);
        const ExportStatus& st = exporting() ? exportStatus() : printStatus();
        count_ = st.count;
        failed_ = failed_ || st.failed;
    }
    walk_.stop();
}

// ------------------------------------------------------------------ contexts

namespace {
int keepContext(std::vector<uint8_t>& store, int size, int mode, int length, void* buffer) {
    if (length != size || !buffer) return 0;
    if (store.size() != static_cast<size_t>(size)) store.assign(size, 0);
    if (mode == 2) std::memcpy(store.data(), buffer, size);
    else if (mode == 3) std::memcpy(buffer, store.data(), size);
    else return 0;
    return 1;
}
} // namespace

int Context(int mode, int length, void* buffer) {
    static std::vector<uint8_t> store;
    return keepContext(store, kContextLength, mode, length, buffer);
}

int MailContext(int mode, int length, void* buffer) {
    static std::vector<uint8_t> store;
    return keepContext(store, kMailContextLength, mode, length, buffer);
}

// ------------------------------------------------------------ address export

std::string defaultAddressFileName(int target) { return target == TargetOzWin ? "Address.Ab" : "Address.Txt"; }

std::optional<std::string> addressEntry(const PersonRec& p, int target, const std::string& cisDomain) {
    const std::string address = p.ADDRESS.str();
    // Nobody can be written to without an address, whatever the target.
    if (address.empty()) return std::nullopt;
    const bool inet = address.find('@') != std::string::npos;
    const std::string first = p.FIRSTNAME.str(), last = p.LASTNAME.str();
    std::string n = !first.empty() && !last.empty() ? first + " " + last : !last.empty() ? last : first;
    std::string a;
    if (target == TargetTapcis || target == TargetOzWin) {
        a = inet ? "INTERNET:" + address : address;
    } else {
        std::string mailAddress = address;
        if (!inet) {
            for (char& c : mailAddress)
                if (c == ',') c = '.';
            mailAddress += "@" + cisDomain;
        }
        if (!first.empty() && !last.empty()) a = "\"" + first + " " + last + "\" " + mailAddress;
        else if (!last.empty()) a = last + " " + mailAddress;
        else a = mailAddress;
    }
    switch (target) {
    case TargetUnix: return a + kCrLf;
    case TargetEudora: return "alias " + a + kCrLf;
    case TargetTapcis: return toCp850(n + " " + a + "|" + kCrLf);
    case TargetOzWin: {
        if (n.size() > 255) n.resize(255);
        if (a.size() > 255) a.resize(255);
        std::string r;
        r += static_cast<char>(n.size());
        r += n;
        r += static_cast<char>(a.size());
        r += a;
        r.append(2, '\0');
        return r;
    }
    }
    return std::nullopt;
}

namespace {
std::string gAddressPath;
}

const std::string& addressFilePath() { return gAddressPath; }

long long CopyAddress(int target, const std::string& fileName) {
    std::string name(rtrim(fileName));
    if (auto box = checkFileName(name)) {
        ui().message(box->title, box->text);
        return -1;
    }
    if (name.empty()) name = "Address.Txt";
    gAddressPath = tempPath(name);
    OP_CLOSE(OpOpenShared, Person.number());
    if (!Person.isOpen()) return -1;
    ExportFile f;
    if (!f.open(gAddressPath, false)) {
        reportFileError(gAddressPath, "created");
        OP_CLOSE(OpClose, Person.number());
        return -1;
    }
    const std::string domain = renderSettings().cisDomain;
    const long long total = Person.records();
    long long written = 0, seen = 0;
    bool readFailed = false;
    {
        KeepBuffer keep(Person);
        Person.setFile();
        while (Person.next()) {
            if (auto e = addressEntry(PER, target, domain)) {
                f.write(*e);
                ++written;
            }
            if (++seen % 500 == 0) ui().progress("Exporting addresses", seen, total);
        }
        readFailed = errorCode() != ErrRecordNotAvailable;
    }
    ui().progress("Exporting addresses", seen, total);
    OP_CLOSE(OpClose, Person.number());
    if (readFailed) {
        ui().message("Export error", "The persons cannot be read: " + errorText());
        f.close();
        return -1;
    }
    if (!f.close()) {
        reportFileError(gAddressPath, "written");
        return -1;
    }
    return written;
}

} // namespace qb
