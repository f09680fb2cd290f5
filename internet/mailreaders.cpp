// The mailbox readers of Internet mail clients. One reader per family:
//   "Eudora"                           "From ???@???" separator lines
//   "IE Mail", "Outlook Express Mail"  messages between 0x7F 0x00 0x7F markers
//   "Netscape Mail"                    "From - " separator lines
//   "Pegasus"                          messages ended by Ctrl-Z after a line end
//   "Unix Mail", "Becky Mail", "Agent Mail"
//                                      a stream of messages, each beginning with
//                                      a header block
#include <cerrno>
#include <cstring>
#include <memory>

#include "core/fixedstr.h"
#include "core/tables.h"
#include "core/text.h"
#include "import/persons.h"
#include "internet/readerbase.h"

namespace qb {

// ------------------------------------------------------------------- shared

ParseStatus InternetReader::begin(const std::string& path, ImportContext& ctx) {
    ctx_ = &ctx;
    path_ = path;
    failText_.clear();
    if (!in_.open(path)) {
        failText_ = path + " cannot be opened\r\n" + std::strerror(errno) + "\r\n" + "This file will be skipped!";
        return ParseStatus::Failed;
    }
    // The owner side of the run's mail database (its addresses and name).
    loadMailOwner(ctx.settings.mailDb);
    const TargetDb* t = ctx.target(ctx.settings.mailDb);
    mailDbName_ = t ? t->description : std::string();
    ctx.progress = 0;
    reset();
    return ParseStatus::More;
}

void InternetReader::trimTrailingEmpty(LineQueue& q, size_t keepFrom) {
    while (q.size() > keepFrom && q.back().LEN == 0) q.pop_back();
}

std::string InternetReader::bodyText(LineQueue& q, const MailHeaders& h, bool decode) {
    return messageText(q, h, decode);
}

void InternetReader::storeMail(LineQueue& q, size_t first, HeaderStyle style, DateRule dates,
                               const std::string& separator) {
    ctx_->oneMessage([&] { storeOneMail(q, first, style, dates, separator); });
}

void InternetReader::storeOneMail(LineQueue& q, size_t first, HeaderStyle style, DateRule dates,
                                  const std::string& separator) {
    ImportContext& ctx = *ctx_;
    MailHeaders h;
    parseMailHeaders(q, first, style, h);
    if (h.newsgroups) {  // a newsgroup article in a mail file
        ctx.skip();
        return;
    }
    Route rt = ctx.route(mailDbName_, KindMail);
    if (!rt.found || !rt.allowImport) {
        ctx.skip();
        return;
    }
    if (mailOwner().forumId != ctx.settings.mailDb) loadMailOwner(ctx.settings.mailDb);
    NewHR.clearBuffer();
    NHR.FOR_DESCRIPTION.set(mailDbName_);
    uint32_t id = ctx.newId();
    NHR.MSGNUMBER = id;
    NHR.REFNUMBER = id;
    NHR.HEADING.set(subjectHeading(h.subject));

    std::string sAddr, sName, rAddr, rName;
    parseAddress(h.from, sAddr, sName);
    std::string to = trimBlanks(h.to);
    if (to.size() >= 3 && to.compare(to.size() - 3, 3, "(X)") == 0) to = trimBlanks(to.substr(0, to.size() - 3));
    parseAddress(to, rAddr, rName);

    int32_t date = 0, time = 0;
    if (style == HeaderStyle::Eudora) {
        if (h.haveDate) {
            parseDateEudora(h.date, date, time);
            rAddr = mailOwner().address;
            rName = mailOwner().name;
            NHR.MAILTYPE = 1;
        } else {
            parseEudoraSeparatorDate(separator, date, time);
            sAddr = mailOwner().address;
            sName = mailOwner().name;
            NHR.MAILTYPE = 2;
        }
    } else {
        if (dates == DateRule::Eudora)
            parseDateEudora(h.date, date, time);
        else
            parseDateCommon(h.date, date, time);
        if (isOwnerAddress(sAddr)) {
            sAddr = mailOwner().address;
            sName = mailOwner().name;
            NHR.MAILTYPE = 2;
        } else {
            rAddr = mailOwner().address;
            rName = mailOwner().name;
            NHR.MAILTYPE = 1;
        }
    }
    NHR.S_CISADRESS.set(lower(sAddr));
    NHR.S_NAME.set(sName);
    NHR.R_CISADRESS.set(lower(rAddr));
    NHR.R_NAME.set(rName);
    NHR.DATE = date;
    NHR.TIME = time;
    NHR.RECIPTYPE.set("TO");

    trimTrailingEmpty(q, h.bodyStart);
    NHR_MSGTEXT = bodyText(q, h, !rawBodies_);
    ctx.store(KindMail, rt);
}

namespace {

// ------------------------------------------------------------------ Unix Mail

// A stream of messages: a header block with at least three of From, Date, To
// and Subject begins a message; any other header block is body text.
class Rfc822MailReader : public InternetReader {
public:
    // mboxAware: a file that begins with a "From " line is a Unix mailbox.
    explicit Rfc822MailReader(bool mboxAware) : mboxAware_(mboxAware) {}

protected:
    void reset() override {
        q_.clear();
        haveMsg_ = false;
        first_ = true;
        mbox_ = false;
    }

public:
    ParseStatus step(ImportContext&, int batch) override {
        int done = 0;
        std::string line;
        while (done < batch && !ctx_->writeFailed) {
            if (!in_.next(line)) {
                if (haveMsg_) finish();
                progress();
                in_.close();
                return ParseStatus::Done;
            }
            if (!beginsHeaderBlock(line)) {
                if (!line.empty()) first_ = false;
                if (mbox_ && line[0] == '>') {
                    // A mailbox writes ">From " for a body line "From " (and one more ">"
                    // before a line that had them already): one ">" is taken off again.
                    size_t k = line.find_first_not_of('>');
                    if (k != std::string::npos && line.compare(k, 5, "From ") == 0) line.erase(0, 1);
                }
                if (haveMsg_) takeLine(q_, std::move(line));
                continue;
            }
            std::vector<std::string> block;
            unsigned kinds = readHeaderBlock(std::move(line), block, kindBit);
            if (first_) {
                // A mailbox that begins with a "From " line has one before every
                // message: a header block elsewhere is quoted text of a body.
                mbox_ = mboxAware_ && block[0].compare(0, 5, "From ") == 0;
                first_ = false;
            }
            int count = __builtin_popcount(kinds & 0xF);
            // In a mailbox the "From " line is what starts a message; its header
            // block need hold only one of the four (a message may lack Subject and To).
            bool starts = mbox_ ? block[0].compare(0, 5, "From ") == 0 && count > 0 : count > 2;
            if (starts) {
                if (haveMsg_) {
                    finish();
                    ++done;
                }
                haveMsg_ = true;
            }
            if (haveMsg_)
                for (auto& l : block) takeLine(q_, std::move(l));
        }
        progress();
        return ParseStatus::More;
    }

private:
    static unsigned kindBit(HeaderKind k) {
        switch (k) {
            case HdrFrom: return 1;
            case HdrDate: return 2;
            case HdrTo: return 4;
            case HdrSubject: return 8;
            default: return 0;
        }
    }
    void finish() {
        storeMail(q_, 0, HeaderStyle::Common, DateRule::Common);
        q_.clear();
        progress();
    }
    LineQueue q_;
    bool haveMsg_ = false;
    bool first_ = true;  // no line with text read yet
    bool mbox_ = false;  // the file is a mailbox with "From " separator lines
    bool mboxAware_;
};

// ------------------------------------------- mailboxes with separator lines

// A mailbox whose messages each begin with a separator line of their own;
// the separator stays the first line of the message's queue.
class SeparatedMailReader : public InternetReader {
protected:
    void reset() override {
        q_.clear();
        haveMsg_ = false;
    }
    virtual bool isSeparator(const std::string& line) const = 0;
    // Stores the message gathered in q_.
    virtual void store() = 0;

public:
    ParseStatus step(ImportContext&, int batch) override {
        int done = 0;
        std::string line;
        while (done < batch && !ctx_->writeFailed) {
            if (!in_.next(line)) {
                if (haveMsg_) finish();
                progress();
                in_.close();
                return ParseStatus::Done;
            }
            if (isSeparator(line)) {
                if (haveMsg_) {
                    finish();
                    ++done;
                }
                haveMsg_ = true;
            }
            if (haveMsg_) takeLine(q_, std::move(line));
        }
        progress();
        return ParseStatus::More;
    }

protected:
    LineQueue q_;

private:
    void finish() {
        store();
        q_.clear();
        progress();
    }
    bool haveMsg_ = false;
};

// --------------------------------------------------------------------- Eudora

class EudoraReader : public SeparatedMailReader {
public:
    EudoraReader() { rawBodies_ = true; }

protected:
    bool isSeparator(const std::string& line) const override { return line.compare(0, 12, "From ???@???") == 0; }
    void store() override {
        std::string sep = q_.empty() ? std::string() : q_[0].LINE;
        storeMail(q_, 1, HeaderStyle::Eudora, DateRule::Eudora, sep);
    }
};

// The first line from `from` on that begins with "From:", "Date:", "To:" or
// "Subject:" as written; q.size() when there is none.
size_t firstKeyHeader(const LineQueue& q, size_t from) {
    for (size_t i = from; i < q.size(); ++i) {
        const std::string& l = q[i].LINE;
        if (l.compare(0, 5, "From:") == 0 || l.compare(0, 5, "Date:") == 0 || l.compare(0, 3, "To:") == 0 ||
            l.compare(0, 8, "Subject:") == 0)
            return i;
    }
    return q.size();
}

// The header block that holds line h: header lines right before it belong to
// it as well (a Content-Type line may stand above the first From line).
size_t headerBlockStart(const LineQueue& q, size_t h, size_t from) {
    while (h > from && q[h - 1].LEN != 0 && (isHeaderLike(q[h - 1].LINE) || isContinuation(q[h - 1].LINE))) --h;
    while (h < q.size() && isContinuation(q[h].LINE)) ++h;
    return h;
}

// -------------------------------------------------------------- Netscape Mail

class NetscapeMailReader : public SeparatedMailReader {
protected:
    bool isSeparator(const std::string& line) const override { return line.compare(0, 7, "From - ") == 0; }
    void store() override {
        size_t h = firstKeyHeader(q_, 1);
        if (h < q_.size()) h = headerBlockStart(q_, h, 1);
        if (h < q_.size())
            storeMail(q_, h, HeaderStyle::Common, DateRule::Common);
        else
            ctx_->skip();
    }
};

// --------------------------------------------------- IE / Outlook Express Mail

class MarkerMailReader : public InternetReader {
protected:
    void reset() override {
        q_.clear();
        haveMsg_ = false;
    }

public:
    ParseStatus step(ImportContext&, int batch) override {
        static const std::string marker("\x7F\x00\x7F", 3);
        int done = 0;
        std::string line;
        while (done < batch && !ctx_->writeFailed) {
            if (!in_.next(line)) {
                if (haveMsg_) finish();
                progress();
                in_.close();
                return ParseStatus::Done;
            }
            size_t m = line.find(marker);
            if (m == std::string::npos) {
                if (haveMsg_) takeLine(q_, std::move(line));
                continue;
            }
            if (haveMsg_) {
                if (m > 0) pushLine(q_, line.substr(0, m));
                finish();
                ++done;
            }
            haveMsg_ = true;
            // What follows the marker on its line is the start of the next message.
            if (m + 3 < line.size()) in_.unread(line.substr(m + 3));
        }
        progress();
        return ParseStatus::More;
    }

private:
    void finish() {
        size_t h = firstKeyHeader(q_, 0);
        if (h < q_.size()) h = headerBlockStart(q_, h, 0);
        if (h < q_.size())
            storeMail(q_, h, HeaderStyle::Common, DateRule::Common);
        else if (!q_.empty())
            ctx_->skip();
        q_.clear();
        progress();
    }
    LineQueue q_;
    bool haveMsg_ = false;
};

// -------------------------------------------------------------------- Pegasus

class PegasusReader : public InternetReader {
public:
    PegasusReader() { rawBodies_ = true; }

protected:
    void reset() override {
        q_.clear();
        joined_.clear();
        joining_ = false;
    }

public:
    ParseStatus step(ImportContext&, int batch) override {
        int done = 0;
        std::string line;
        while (done < batch && !ctx_->writeFailed) {
            if (!in_.next(line)) {
                flushJoined();
                if (!q_.empty()) finish();
                progress();
                in_.close();
                return ParseStatus::Done;
            }
            // Ctrl-Z after a line end (LF, CR LF, or a CR inside the line read) ends a message.
            size_t z = std::string::npos;
            if (!line.empty() && line[0] == '\x1A')
                z = 0;
            else {
                size_t c = line.find("\r\x1A");
                if (c != std::string::npos) z = c + 1;
            }
            if (z == std::string::npos) {
                addLine(line);
                continue;
            }
            if (z > 0) addLine(line.substr(0, z - 1));
            flushJoined();
            if (!q_.empty()) {
                finish();
                ++done;
            }
            if (z + 1 < line.size()) in_.unread(line.substr(z + 1));
        }
        progress();
        return ParseStatus::More;
    }

private:
    // A line ending in "==" goes on in the next line; "==" alone is an empty line.
    void addLine(const std::string& l) {
        if (l == "==") {
            if (joining_) {
                pushLine(q_, joined_);
                joined_.clear();
                joining_ = false;
            }
            pushLine(q_, std::string());
            return;
        }
        if (l.size() >= 2 && l.compare(l.size() - 2, 2, "==") == 0) {
            joined_ += l.substr(0, l.size() - 2);
            joining_ = true;
            return;
        }
        if (joining_) {
            joined_ += l;
            pushLine(q_, joined_);
            joined_.clear();
            joining_ = false;
        } else {
            pushLine(q_, l);
        }
    }
    void flushJoined() {
        if (joining_) pushLine(q_, joined_);
        joined_.clear();
        joining_ = false;
    }
    void finish() {
        size_t h = q_.size();
        for (size_t i = 0; i < q_.size(); ++i) {
            const std::string& l = q_[i].LINE;
            if (l.find(':') != std::string::npos && classifyHeader(l) != HdrNone) {
                h = i;
                break;
            }
        }
        bool content = false;
        for (const auto& e : q_) content = content || e.LEN != 0;
        if (h < q_.size())
            storeMail(q_, h, HeaderStyle::Common, DateRule::Eudora);
        else if (content)
            ctx_->skip();
        q_.clear();
        progress();
    }
    LineQueue q_;
    std::string joined_;
    bool joining_ = false;
};

template <class T, class... A>
ParserFactory factory(A... a) {
    return [=] { return std::unique_ptr<Parser>(new T(a...)); };
}

const bool registered = [] {
    registerParser("Eudora", factory<EudoraReader>());
    registerParser("IE Mail", factory<MarkerMailReader>());
    registerParser("Outlook Express Mail", factory<MarkerMailReader>());
    registerParser("Netscape Mail", factory<NetscapeMailReader>());
    registerParser("Pegasus", factory<PegasusReader>());
    registerParser("Unix Mail", factory<Rfc822MailReader>(true));
    registerParser("Becky Mail", factory<Rfc822MailReader>(false));
    registerParser("Agent Mail", factory<Rfc822MailReader>(false));
    return true;
}();

} // namespace

} // namespace qb
