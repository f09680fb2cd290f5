// What the Internet mail and news readers share: the open file, the owner of
// the run's mail database and the storing of one mail from the line queue.
#pragma once
#include <string>
#include <vector>

#include "import/linequeue.h"
#include "import/parser.h"
#include "internet/mailheaders.h"

namespace qb {

// Appends a file line to the queue, taking over its text (as pushLine).
inline void takeLine(LineQueue& q, std::string&& line) {
    if (line.size() > TQ_LINE_MAX) {
        pushLine(q, line);
        return;
    }
    TQEntry e;
    e.LEN = static_cast<uint32_t>(line.size());
    e.LINE = std::move(line);
    q.push_back(std::move(e));
}

class InternetReader : public Parser {
public:
    ParseStatus begin(const std::string& path, ImportContext& ctx) override;

protected:
    // Called by begin() after the file is open (reset the reader's state).
    virtual void reset() {}

    enum class DateRule { Common, Eudora };

    // Parses the headers from q[first] and writes one mail record (or counts
    // the message as skipped). Eudora: the direction follows the Date line;
    // `separator` is then the "From ???@???" line.
    void storeMail(LineQueue& q, size_t first, HeaderStyle style, DateRule dates,
                   const std::string& separator = {});

    // storeMail without the guard that fails the one message on an exception.
    void storeOneMail(LineQueue& q, size_t first, HeaderStyle style, DateRule dates, const std::string& separator);

    // The text of the body from h.bodyStart: the kept MIME part, decoded.
    static std::string bodyText(LineQueue& q, const MailHeaders& h) { return bodyText(q, h, true); }
    // decode false: the text is kept in its transfer encoding and charset as
    // filed (a client that stores its mail decoded already).
    static std::string bodyText(LineQueue& q, const MailHeaders& h, bool decode);

    // Drops the empty lines at the end of the queue (the separator space
    // between two messages of a mailbox).
    static void trimTrailingEmpty(LineQueue& q, size_t keepFrom);

    void progress() { if (ctx_) ctx_->progress = in_.offset(); }

    // Reads the header block that begins with `first` into `block`: it goes on
    // over continuation lines and every header-like line. Returns the bits
    // that `kindBit` gives the classified lines, or-ed together.
    template <class KindBit>
    unsigned readHeaderBlock(std::string first, std::vector<std::string>& block, KindBit kindBit) {
        block.clear();
        unsigned kinds = kindBit(classifyHeader(first));
        block.push_back(std::move(first));
        std::string next;
        while (in_.next(next)) {
            if (isContinuation(next) || isBareFromLine(next) ||
                (!next.empty() && (isHeaderLike(next) || classifyHeader(next) != HdrNone))) {
                kinds |= kindBit(classifyHeader(next));
                block.push_back(std::move(next));
            } else {
                in_.unread(next);
                break;
            }
        }
        return kinds;
    }

    LineReader in_;
    ImportContext* ctx_ = nullptr;
    std::string mailDbName_;
    std::string path_;
    bool rawBodies_ = false;     // the client files its mail decoded
};

} // namespace qb
