// The readers whose messages live in dBase tables of another program:
// CISCOMM (forum and mail tables), NavCIS (HRECV.DBF / RECV.DBF) and OUI
// (MESSAGE.DBF with Internet-style mail and newsgroup articles).
#include <cstring>

#include "core/dates.h"
#include "core/globals.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/cis_common.h"
#include "import/persons.h"
#include "internet/mailheaders.h"
#include "internet/readerbase.h"
#include "platform/dbf.h"

namespace qb::cis {

namespace {

constexpr int BadRowLimit = 5;

// Walks a table row by row: deleted rows are passed over and counted as
// skipped; five damaged rows in a row give the file up.
class RowWalker {
public:
    enum class Next { Row, End, GaveUp };

    RowWalker(std::string fileWord, std::string packWords) : word_(std::move(fileWord)), pack_(std::move(packWords)) {}

    bool open(const std::string& path, std::string& failText) {
        path_ = path;
        bad_ = 0;
        if (!db.open(path)) {
            failText = path + " cannot be opened\r\n" + db.error() + "\r\nThis file will be skipped!";
            return false;
        }
        return true;
    }

    Next next(ImportContext& ctx) {
        for (;;) {
            DbfRow r = db.next();
            ctx.progress = db.rowCount() ? db.fileSize() * db.rowsRead() / db.rowCount() : db.fileSize();
            if (r == DbfRow::End) return Next::End;
            if (r == DbfRow::Good) {
                bad_ = 0;
                return Next::Row;
            }
            if (r == DbfRow::Deleted) {
                bad_ = 0;
                ctx.skip();
                continue;
            }
            if (++bad_ >= BadRowLimit) {
                giveUp();
                return Next::GaveUp;
            }
        }
    }

    DbfReader db;

private:
    void giveUp() {
        if (unattended()) return;
        uint64_t pct = db.rowCount() ? 100ull * db.rowsRead() / db.rowCount() : 100;
        ui().message(db.rowError(),
                     "Quillbox has processed " + std::to_string(pct) + " % of this " + word_ + " file " +
                         "and have encountered 5 bad records! They are probably deleted records that are still " +
                         "retained in the file. To ensure data integrity this file will be skipped! \r\n\r\n" +
                         "To physically remove deleted records from your " + word_ + " file, always use the " +
                         pack_ + "option when closing your " + word_ + " session after records have been purged!",
                     Icon::Exclamation);
    }

    std::string path_, word_, pack_;
    int bad_ = 0;
};

// A text field of the table in the Windows character set.
std::string field(const DbfReader& db, std::string_view name) {
    std::string s = db.text(name);
    dosToWindows(s);
    return s;
}

std::string noInternet(std::string a) {
    a = trimRight(a);
    if (startsWithNoCase(a, "INTERNET:")) a.erase(0, 9);
    while (!a.empty() && a[0] == ' ') a.erase(0, 1);
    return a;
}

int32_t dateOf(const DbfReader& db, std::string_view name) {
    int y, m, d;
    return db.date(name, y, m, d) ? dayNumber(y, m, d) : 0;
}

int32_t timeOf(const DbfReader& db, std::string_view name) {
    std::string t = trimRight(db.text(name));
    while (!t.empty() && t[0] == ' ') t.erase(0, 1);
    if (t.size() >= 2 && t[1] == ':') t = "0" + t;
    if (t.size() == 5) t += ":00";
    return readClock(t);
}

// Memo text with CR LF line ends, at most 64000 characters.
std::string memoText(const DbfReader& db, std::string_view name) {
    std::string t = field(db, name);
    std::string out;
    out.reserve(t.size());
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\n' && (out.empty() || out.back() != '\r')) out += '\r';
        if (t[i] == 0x1A || t[i] == '\0') continue;
        out += t[i];
    }
    while (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0) out.resize(out.size() - 2);
    if (out.size() > NHR_MSGTEXTMax) out.resize(NHR_MSGTEXTMax);
    return out;
}

// Sets the owner side and the direction of a mail from a table row.
void fillMail(ImportContext& ctx, const MailOwner& owner, std::string sName, std::string sAddr, std::string rName,
              std::string rAddr) {
    sAddr = noInternet(sAddr);
    rAddr = noInternet(rAddr);
    sName = unquote(sName);
    rName = unquote(rName);
    int type = owner.classify(sAddr, rAddr);
    startMail(ctx, static_cast<uint8_t>(type));
    if (type == 2) sName = owner.name();
    else rName = owner.name();
    NHR.S_NAME.set(sName == sAddr ? std::string() : sName);
    NHR.S_CISADRESS.set(sAddr);
    NHR.R_NAME.set(rName == rAddr ? std::string() : rName);
    NHR.R_CISADRESS.set(rAddr);
}

// Column names of a mail row in the tables of one program.
struct MailColumns {
    const char* sender;
    const char* senderId;
    const char* receiver;
    const char* receiverId;
    const char* subject;
};

// One mail row of a dBase message table as a temporary record; true when it
// was written.
bool storeMailRow(ImportContext& ctx, MailOwner& owner, const DbfReader& db, const MailColumns& c) {
    if (!ctx.settings.importMail) {
        ctx.skip();
        return false;
    }
    if (!owner.loaded()) owner.load(ctx);
    NewHR.clearBuffer();
    fillMail(ctx, owner, field(db, c.sender), field(db, c.senderId), field(db, c.receiver), field(db, c.receiverId));
    NHR.HEADING.set(field(db, c.subject));
    NHR.DATE = dateOf(db, "MSG_DATE");
    NHR.TIME = timeOf(db, "MSG_TIME");
    NHR_MSGTEXT = memoText(db, "MSG_TEXT");
    return ctx.store(KindMail, ctx.route(owner.name(), KindMail));
}

// --------------------------------------------------------------- CISCOMM

class CiscommParser : public Parser {
public:
    ParseStatus begin(const std::string& path, ImportContext& ctx) override {
        if (!w_.open(path, failText_)) return ParseStatus::Failed;
        forumTable_ = w_.db.fieldIndex("MSG_SECTNO") >= 0;
        if (w_.db.fieldIndex("MSG_NUMBER") < 0 || w_.db.fieldIndex("MSG_TEXT") < 0) {
            failText_ = path + " is not a CISCOMM message table!\r\nThis file will be skipped!";
            return ParseStatus::NotThisReader;
        }
        ctx.progress = 0;
        return ParseStatus::More;
    }
    ParseStatus step(ImportContext& ctx, int batch) override {
        for (int i = 0; i < std::max(batch, 1); ++i) {
            auto n = w_.next(ctx);
            if (n == RowWalker::Next::End) return ParseStatus::Done;
            if (n == RowWalker::Next::GaveUp) return ParseStatus::Failed;
            ctx.oneMessage([&] {
                if (forumTable_) forumRow(ctx);
                else mailRow(ctx);
            });
        }
        return ParseStatus::More;
    }

private:
    void forumRow(ImportContext& ctx) {
        const DbfReader& db = w_.db;
        long long num = db.number("MSG_NUMBER");
        if (!ctx.settings.importForum || num <= 0 || num >= 9000000) {
            ctx.skip();
            return;
        }
        NewHR.clearBuffer();
        NHR.MSGNUMBER = static_cast<uint32_t>(num);
        long long ref = db.number("MSG_PARENT");
        NHR.REFNUMBER = ref > 0 ? static_cast<uint32_t>(ref) : 0;
        NHR.SECTIONNUMBER = static_cast<uint8_t>(db.number("MSG_SECTNO"));
        NHR.SEC_DESCRIPTION.set(field(db, "MSG_SECT").substr(0, 20));
        NHR.HEADING.set(field(db, "MSG_SUBJEC").substr(0, 24));
        NHR.S_CISADRESS.set(noInternet(field(db, "MSG_SENDID")).substr(0, 11));
        NHR.S_NAME.set(field(db, "MSG_SENDER"));
        NHR.R_CISADRESS.set(noInternet(field(db, "MSG_RECVID")).substr(0, 11));
        NHR.R_NAME.set(field(db, "MSG_RECVR"));
        NHR.DATE = dateOf(db, "MSG_DATE");
        std::string forum = runForumName(ctx);
        NHR.FOR_DESCRIPTION.set(forum);
        NHR_MSGTEXT = memoText(db, "MSG_TEXT");
        ctx.store(KindForum, ctx.route(forum, KindForum));
    }
    void mailRow(ImportContext& ctx) {
        storeMailRow(ctx, owner_, w_.db, {"MSG_SENDER", "MSG_SENDID", "MSG_RECVR", "MSG_RECVID", "MSG_SUBJEC"});
    }

    RowWalker w_{"CISCOM", "PACK "};
    bool forumTable_ = true;
    MailOwner owner_;
};

// ---------------------------------------------------------------- NavCIS

class NavcisParser : public Parser {
public:
    ParseStatus begin(const std::string& path, ImportContext& ctx) override {
        if (!w_.open(path, failText_)) return ParseStatus::Failed;
        if (w_.db.fieldIndex("IS_MAIL") < 0 || w_.db.fieldIndex("MSG_TEXT") < 0) {
            failText_ = path + " is not a NavCIS message table!\r\nThis file will be skipped!";
            return ParseStatus::NotThisReader;
        }
        ctx.progress = 0;
        return ParseStatus::More;
    }
    ParseStatus step(ImportContext& ctx, int batch) override {
        for (int i = 0; i < std::max(batch, 1); ++i) {
            auto n = w_.next(ctx);
            if (n == RowWalker::Next::End) return ParseStatus::Done;
            if (n == RowWalker::Next::GaveUp) return ParseStatus::Failed;
            if (w_.db.logical("IS_DELETE")) {
                ctx.skip();
                continue;
            }
            ctx.oneMessage([&] {
                if (w_.db.logical("IS_MAIL")) mailRow(ctx);
                else forumRow(ctx);
            });
        }
        return ParseStatus::More;
    }

private:
    void forumRow(ImportContext& ctx) {
        const DbfReader& db = w_.db;
        long long num = db.number("MSG_NUMBER");
        if (!ctx.settings.importForum || num <= 0 || num >= 9000000) {
            ctx.skip();
            return;
        }
        NewHR.clearBuffer();
        NHR.MSGNUMBER = static_cast<uint32_t>(num);
        long long ref = db.number("MSG_PARENT");
        NHR.REFNUMBER = ref > 0 && ref <= num ? static_cast<uint32_t>(ref) : 0;
        NHR.SECTIONNUMBER = static_cast<uint8_t>(db.number("SEC_NUMBER"));
        NHR.SEC_DESCRIPTION.set(field(db, "SEC_NAME"));
        NHR.HEADING.set(field(db, "SUBJECT"));
        NHR.S_CISADRESS.set(noInternet(field(db, "SEND_ID")));
        NHR.S_NAME.set(field(db, "SEND_NAME"));
        NHR.R_CISADRESS.set(noInternet(field(db, "RECV_ID")));
        NHR.R_NAME.set(field(db, "RECV_NAME"));
        NHR.DATE = dateOf(db, "MSG_DATE");
        std::string forum = field(db, "FORUM_NAME");
        if (startsWithNoCase(forum, "CIS:")) forum.erase(0, 4);
        forum = trimRight(forum);
        if (forum.empty()) forum = runForumName(ctx);
        NHR.FOR_DESCRIPTION.set(forum);
        NHR_MSGTEXT = memoText(db, "MSG_TEXT");
        ctx.store(KindForum, ctx.route(forum, KindForum));
    }
    void mailRow(ImportContext& ctx) {
        const DbfReader& db = w_.db;
        bool written = storeMailRow(ctx, owner_, db, {"SEND_NAME", "SEND_ID", "RECV_NAME", "RECV_ID", "SUBJECT"});
        // Further receivers of a group mail: one "name address" per line.
        std::string group = field(db, "GROUP_LIST");
        if (!written || group.empty()) return;
        LineQueue q;
        textToQueue(group, q);
        for (const auto& e : q) {
            std::string addr, name;
            if (trimRight(e.LINE).empty()) continue;
            splitMailPerson(e.LINE, addr, name);
            ctx.addCarbonCopy(NHR.REFNUMBER, name, addr, "CC");
        }
    }

    RowWalker w_{"NavCIS", "EXIT and PACK "};
    MailOwner owner_;
};

// ------------------------------------------------------------------- OUI

class OuiParser : public InternetReader {
public:
    ParseStatus begin(const std::string& path, ImportContext& ctx) override {
        ctx_ = &ctx;
        path_ = path;
        failText_.clear();
        if (!w_.open(path, failText_)) return ParseStatus::Failed;
        if (w_.db.fieldIndex("MSG_BODY") < 0) {
            failText_ = path + " is not an OUI message table!\r\nThis file will be skipped!";
            return ParseStatus::NotThisReader;
        }
        loadMailOwner(ctx.settings.mailDb);
        const TargetDb* t = ctx.target(ctx.settings.mailDb);
        mailDbName_ = t ? t->description : std::string();
        ctx.progress = 0;
        return ParseStatus::More;
    }
    ParseStatus step(ImportContext& ctx, int batch) override {
        for (int i = 0; i < std::max(batch, 1); ++i) {
            auto n = w_.next(ctx);
            if (n == RowWalker::Next::End) return ParseStatus::Done;
            if (n == RowWalker::Next::GaveUp) return ParseStatus::Failed;
            if (w_.db.logical("DELETE")) {
                ctx.skip();
                continue;
            }
            ctx.oneMessage([&] {
                LineQueue q;
                std::string body = field(w_.db, "MSG_BODY");
                textToQueue(body, q);
                if (isNews(q)) newsRow(ctx, q);
                else if (!ctx.settings.importMail) ctx.skip();
                else storeMail(q, 0, HeaderStyle::Common, DateRule::Common);
            });
        }
        return ParseStatus::More;
    }

private:
    // Header lines of the article; the index past the header block.
    static size_t headerEnd(const LineQueue& q) {
        size_t i = 0;
        while (i < q.size() && q[i].LEN > 0) ++i;
        return i;
    }
    static bool isNews(const LineQueue& q) {
        for (size_t i = 0, e = headerEnd(q); i < e; ++i)
            if (classifyHeader(q[i].LINE) == HdrNewsgroups) return true;
        return false;
    }
    void newsRow(ImportContext& ctx, LineQueue& q) {
        if (!ctx.settings.importNews) {
            ctx.skip();
            return;
        }
        MailHeaders h;
        parseMailHeaders(q, 0, HeaderStyle::Common, h);
        std::string group, msgId, refs;
        for (size_t i = 0, e = headerEnd(q); i < e; ++i) {
            const std::string& l = q[i].LINE;
            if (startsWithNoCase(l, "Newsgroups:")) group = headerValue(q, i, 11);
            else if (startsWithNoCase(l, "Message-ID:")) msgId = headerValue(q, i, 11);
            else if (startsWithNoCase(l, "References:")) refs = headerValue(q, i, 11, 800);
            else if (startsWithNoCase(l, "In-Reply-To:") && refs.empty()) refs = headerValue(q, i, 12, 800);
        }
        group = trimBlanks(group.substr(0, group.find(',')));
        if (group.empty()) {
            ctx.skip();
            return;
        }
        NewHR.clearBuffer();
        NHR.FOR_DESCRIPTION.set(group);
        NHR.SEC_DESCRIPTION.set(group.substr(0, 30));
        NHR.SECTIONNUMBER = 1;
        NHR.HEADING.set(subjectHeading(h.subject));
        std::string addr, name;
        parseAddress(h.from, addr, name);
        NHR.S_CISADRESS.set(addr);
        NHR.S_NAME.set(name);
        int32_t date = 0, time = 0;
        parseDateCommon(h.date, date, time);
        NHR.DATE = date;
        NHR.TIME = time;
        Route rt = ctx.route(group, KindNews);
        if (!rt.found || !rt.allowImport || ctx.settings.filter == 2) {
            ctx.skip();
            return;
        }
        if (!msgId.empty()) {
            NHR.MSGNUMBER = ctx.newId();
            ctx.addMessageId(msgId.substr(0, 60), NHR.MSGNUMBER);
        }
        refs = trimBlanks(refs);
        if (!refs.empty()) {
            size_t sp = refs.find_last_of(' ');
            std::string last = sp == std::string::npos ? refs.substr(0, 60) : refs.substr(sp + 1);
            NHR.REFNUMBER = ctx.newId();
            ctx.addMessageId(last.substr(0, 60), NHR.REFNUMBER);
        }
        trimTrailingEmpty(q, h.bodyStart);
        NHR_MSGTEXT = bodyText(q, h);
        ctx.store(KindNews, rt);
    }

    RowWalker w_{"OUI", "EXIT and PACK "};
};

const bool registered =
    registerParser("CISCOMM", [] { return std::make_unique<CiscommParser>(); }) &&
    registerParser("NavCIS 1.6x", [] { return std::make_unique<NavcisParser>(); }) &&
    registerParser("NavCIS 1.7x-", [] { return std::make_unique<NavcisParser>(); }) &&
    registerParser("OUI", [] { return std::make_unique<OuiParser>(); });

} // namespace

} // namespace qb::cis
