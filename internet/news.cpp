#include "internet/news.h"

#include <algorithm>
#include <cctype>

#include "core/fixedstr.h"
#include "core/tables.h"
#include "core/text.h"
#include "import/persons.h"

namespace qb {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string cut(std::string s, size_t n) {
    if (s.size() > n) s.resize(n);
    return s;
}

// The Message-ID of a Message-ID value: the "<...>" token when there is one.
std::string idToken(std::string_view v) {
    std::string t = trimBlanks(v);
    size_t lt = t.find('<');
    if (lt != std::string::npos) {
        size_t gt = t.find('>', lt);
        if (gt != std::string::npos) return cut(t.substr(lt, gt - lt + 1), 60);
    }
    return cut(t, 60);
}

} // namespace

std::string lastReference(std::string_view value) {
    std::string v = trimBlanks(value);
    size_t gt = v.rfind('>');
    if (gt != std::string::npos) {
        size_t lt = v.rfind('<', gt);
        if (lt != std::string::npos) return cut(v.substr(lt, gt - lt + 1), 60);
    }
    size_t b = v.find_last_of(" \t");
    if (b != std::string::npos) return cut(v.substr(b + 1), 60);
    return cut(v, 60);
}

std::string chooseNewsgroup(std::string_view value, const ImportContext& ctx) {
    std::string v = trimBlanks(value);
    if (v.find(',') == std::string::npos) return cut(v, 100);
    std::vector<std::string> groups;
    size_t at = 0;
    while (at <= v.size()) {
        size_t c = v.find(',', at);
        std::string g = trimBlanks(std::string_view(v).substr(at, c == std::string::npos ? std::string::npos : c - at));
        if (!g.empty()) groups.push_back(g);
        if (c == std::string::npos) break;
        at = c + 1;
    }
    if (groups.empty()) return {};
    for (const auto& g : groups) {
        std::string up = upper(cut(g, 100));
        for (const auto& t : ctx.targets)
            if (t.descUpr == up) return cut(g, 100);
    }
    return cut(groups[0], 100);
}

void parseNewsHeaders(const LineQueue& q, size_t first, ImportContext& ctx, ArticleIndex* index, NewsHeaders& h) {
    h = NewsHeaders{};
    bool haveIndex = index && index->present;
    h.kind = haveIndex ? NewsArticle : NewsMail;
    bool notText = false;
    std::string references, inReplyTo;
    bool haveRefs = false, haveInReply = false;
    size_t i = first;
    for (; i < q.size(); ++i) {
        const TQEntry& e = q[i];
        if (e.LEN == 0) {
            bool ends = h.kind == NewsArticle || (h.haveFrom && h.haveDate && h.haveSubject) || h.haveTo;
            if (!ends) {
                // Headers that go on after an empty line must look like headers.
                size_t j = i;
                while (j < q.size() && q[j].LEN == 0) ++j;
                ends = j >= q.size() || !isHeaderLike(q[j].LINE);
            }
            if (ends) break;
            continue;
        }
        const std::string& l = e.LINE;
        if (isBlank(l[0])) continue;
        HeaderStart hs;
        std::string_view up = hs.set(l);
        auto starts = [&](std::string_view k) { return up.substr(0, k.size()) == k; };
        if (starts("NEWSGROUPS:")) {
            if (h.newsgroups.empty()) h.newsgroups = chooseNewsgroup(headerValue(q, i, 11, 1000), ctx);
            h.kind = NewsArticle;
        } else if (starts("MESSAGE-ID:")) {
            if (h.msgNumber == 0) {
                h.messageId = idToken(headerValue(q, i, 11, 200));
                if (!h.messageId.empty()) {
                    h.msgNumber = ctx.newId();
                    ctx.addMessageId(h.messageId, h.msgNumber);
                    if (haveIndex && index->messageId != h.messageId) {
                        index->clear();
                        haveIndex = false;
                    }
                }
            }
        } else if (starts("REFERENCES:")) {
            if (!haveRefs) references = headerValue(q, i, 11, 8000);
            haveRefs = true;
        } else if (starts("IN-REPLY-TO:")) {
            if (!haveInReply) inReplyTo = headerValue(q, i, 12, 800);
            haveInReply = true;
        } else if (starts("LINES:")) {
            std::string v = headerValue(q, i, 6, 20);
            if (!v.empty() && v[0] >= '0' && v[0] <= '9') h.lines = std::strtol(v.c_str(), nullptr, 10);
        } else if (starts("FROM:")) {
            if (!h.haveFrom) h.from = headerValue(q, i, 5);
            h.haveFrom = true;
        } else if (starts("DATE:")) {
            if (!h.haveDate) h.date = headerValue(q, i, 5, 100);
            h.haveDate = true;
        } else if (starts("SUBJECT:")) {
            if (i == first) h.kind = NewsSubjectFirstMail;
            if (!h.haveSubject) h.subject = headerValue(q, i, 8);
            h.haveSubject = true;
        } else if (starts("SUBJ:")) {
            if (!h.haveSubject) h.subject = headerValue(q, i, 5);
            h.haveSubject = true;
        } else if (starts("REPLY TO:")) {
            if (h.kind != NewsArticle) h.subject = headerValue(q, i, 9);
        } else if (starts("TO:")) {
            if (!h.haveTo) h.to = headerValue(q, i, 3);
            h.haveTo = true;
        } else if (starts("FM:")) {
            if (h.kind == NewsSubjectFirstMail && !h.haveFrom) {
                h.from = headerValue(q, i, 3);
                h.haveFrom = true;
            }
        } else {
            mimeHeaderLine(q, i, up, HeaderStyle::Common, h.mime, notText);
        }
    }
    if (notText) h.mime.enc.transferEncoding.clear();
    while (i < q.size() && q[i].LEN == 0) ++i;
    h.bodyStart = i;
    h.mime.bodyStart = i;

    // The reference: the last Message-ID of References, else that of In-Reply-To.
    std::string ref = haveRefs ? lastReference(references) : haveInReply ? lastReference(inReplyTo) : std::string();
    if (ref.empty() && h.kind == NewsArticle && haveIndex && !index->references.empty())
        ref = lastReference(index->references);
    if (!ref.empty()) {
        h.reference = ref;
        h.refNumber = ctx.newId();
        ctx.addMessageId(ref, h.refNumber);
    }
    if (h.kind == NewsArticle && haveIndex) {
        if (h.msgNumber == 0 && !index->messageId.empty()) {
            h.messageId = idToken(index->messageId);
            h.msgNumber = ctx.newId();
            ctx.addMessageId(h.messageId, h.msgNumber);
        }
        if (h.newsgroups.empty()) h.newsgroups = chooseNewsgroup(index->newsgroups, ctx);
        if (!h.haveSubject) h.subject = index->subject;
        if (!h.haveFrom) h.from = index->from;
    }
    h.from = headerText(firstRecipient(h.from));
    h.to = headerText(firstRecipient(h.to));
    h.subject = headerText(h.subject);
}

void parseCompuServePerson(std::string_view valueIn, std::string& address, std::string& name) {
    std::string v = trimBlanks(valueIn);
    address.clear();
    name.clear();
    if (v.find('@') != std::string::npos) {
        size_t lt = v.rfind('<');
        size_t gt = lt == std::string::npos ? lt : v.find('>', lt);
        if (gt != std::string::npos) {
            address = v.substr(lt + 1, gt - lt - 1);
            name = v.substr(0, lt);
        } else {
            size_t at = v.find('@');
            size_t b = v.find_last_of(" \t", at);
            size_t e = v.find_first_of(" \t", at);
            size_t s = b == std::string::npos ? 0 : b + 1;
            address = v.substr(s, e == std::string::npos ? std::string::npos : e - s);
            name = v.substr(0, s);
        }
        address = trimBlanks(address);
        if (address.size() >= 8 && upper(address.substr(0, 8)) == "INTERNET") {
            address.erase(0, 8);
            if (!address.empty() && address[0] == ':') address.erase(0, 1);
        }
        address = lower(trimBlanks(address));
    } else {
        // A name and a CompuServe user ID: "Jim Smith [76543.210]", "Jim Smith 76543,210".
        std::string rest = v;
        size_t open = rest.rfind('[');
        size_t close = open == std::string::npos ? open : rest.find(']', open);
        std::string id;
        if (close != std::string::npos) {
            id = trimBlanks(rest.substr(open + 1, close - open - 1));
            rest = rest.substr(0, open) + rest.substr(close + 1);
        } else {
            size_t b = rest.find_last_of(" \t");
            std::string last = b == std::string::npos ? rest : rest.substr(b + 1);
            size_t sep = last.find_first_of(".,");
            bool digits = sep != std::string::npos && sep > 0 && sep + 1 < last.size();
            for (size_t k = 0; digits && k < last.size(); ++k)
                digits = k == sep || (last[k] >= '0' && last[k] <= '9');
            if (digits) {
                id = last;
                rest = b == std::string::npos ? std::string() : rest.substr(0, b);
            }
        }
        size_t dot = id.find('.');
        if (dot != std::string::npos) id[dot] = ',';
        address = id;
        name = rest;
    }
    name = trimBlanks(name);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = trimBlanks(name.substr(1, name.size() - 2));
    address = cut(address, 60);
    name = cut(name, 40);
}

namespace {

// Fills the date, time, receiver kind and text of the record and stores it.
bool storeWithDateAndText(LineQueue& q, const NewsHeaders& h, ImportContext& ctx, uint8_t kind, const Route& rt) {
    int32_t date = 0, time = 0;
    parseDateCommon(h.date, date, time);
    NHR.DATE = date;
    NHR.TIME = time;
    NHR.RECIPTYPE.set("TO");
    while (q.size() > h.bodyStart && q.back().LEN == 0) q.pop_back();
    NHR_MSGTEXT = messageText(q, h.mime);
    return ctx.store(kind, rt);
}

// A mail among the articles of a news file: stored in the run's mail
// database as sent (a sender "You", or one of the owner's addresses) or
// received.
bool storeMailOfNewsFile(LineQueue& q, const NewsHeaders& h, ImportContext& ctx, NewsAddresses addresses) {
    const TargetDb* db = ctx.settings.importMail ? ctx.target(ctx.settings.mailDb) : nullptr;
    if (!db) {
        ctx.skip();
        return false;
    }
    Route rt = ctx.route(db->description, KindMail);
    if (!rt.found || !rt.allowImport) {
        ctx.skip();
        return false;
    }
    if (mailOwner().forumId != ctx.settings.mailDb) loadMailOwner(ctx.settings.mailDb);
    auto person = [&](const std::string& value, std::string& address, std::string& name) {
        if (addresses == NewsAddresses::CompuServe) parseCompuServePerson(value, address, name);
        else parseAddress(value, address, name);
    };
    NewHR.clearBuffer();
    NHR.FOR_DESCRIPTION.set(std::string_view(db->description).substr(0, std::min<size_t>(40, db->description.size())));
    const uint32_t id = ctx.newId();
    NHR.MSGNUMBER = id;
    NHR.REFNUMBER = id;
    NHR.HEADING.set(subjectHeading(h.subject));

    std::string sAddr, sName, rAddr, rName;
    const std::string from = trimBlanks(h.from);
    const bool you = from.compare(0, 3, "You") == 0 && (from.size() == 3 || !isalpha(static_cast<unsigned char>(from[3])));
    if (!you) person(from, sAddr, sName);
    if (h.haveTo) {
        std::string to = trimBlanks(h.to);
        if (to.size() >= 3 && to.compare(to.size() - 3, 3, "(X)") == 0) to = trimBlanks(to.substr(0, to.size() - 3));
        person(to, rAddr, rName);
    } else {
        rAddr = mailOwner().address;
        rName = mailOwner().name;
    }
    if (you || isOwnerAddress(sAddr)) {
        sAddr = mailOwner().address;
        sName = mailOwner().name;
        NHR.MAILTYPE = MailOutbox;
    } else {
        rAddr = mailOwner().address;
        rName = mailOwner().name;
        NHR.MAILTYPE = MailInbox;
    }
    NHR.S_CISADRESS.set(lower(sAddr));
    NHR.S_NAME.set(sName);
    NHR.R_CISADRESS.set(lower(rAddr));
    NHR.R_NAME.set(rName);
    return storeWithDateAndText(q, h, ctx, KindMail, rt);
}

} // namespace

namespace {

bool storeOneArticle(LineQueue& q, size_t first, ImportContext& ctx, ArticleIndex* index, NewsAddresses addresses) {
    NewsHeaders h;
    parseNewsHeaders(q, first, ctx, index, h);
    if (h.kind != NewsArticle) {
        // A mail has the headers of one (From, Date and Subject, or a To line);
        // a stray header line is no message.
        if (!((h.haveFrom && h.haveDate && h.haveSubject) || h.haveTo)) {
            ctx.skip();
            return false;
        }
        return storeMailOfNewsFile(q, h, ctx, addresses);
    }
    if (h.newsgroups.empty()) {  // no newsgroup to file it in
        ctx.skip();
        return false;
    }
    Route rt = ctx.route(h.newsgroups, KindNews);
    if (!rt.found || !rt.allowImport) {
        ctx.skip();
        return false;
    }
    NewHR.clearBuffer();
    NHR.FOR_DESCRIPTION.set(h.newsgroups);
    NHR.SEC_DESCRIPTION.set(std::string_view(h.newsgroups).substr(0, std::min<size_t>(30, h.newsgroups.size())));
    NHR.SECTIONNUMBER = 1;
    NHR.MSGNUMBER = h.msgNumber;
    NHR.REFNUMBER = h.refNumber;
    NHR.HEADING.set(subjectHeading(h.subject));
    std::string sAddr, sName;
    parseAddress(h.from, sAddr, sName);
    NHR.S_CISADRESS.set(sAddr);
    NHR.S_NAME.set(sName);
    NHR.R_CISADRESS.clear();
    NHR.R_NAME.set(h.refNumber ? "Unknown" : "All");
    return storeWithDateAndText(q, h, ctx, KindNews, rt);
}

} // namespace

bool storeNewsArticle(LineQueue& q, size_t first, ImportContext& ctx, ArticleIndex* index, NewsAddresses addresses) {
    bool stored = false;
    ctx.oneMessage([&] { stored = storeOneArticle(q, first, ctx, index, addresses); });
    return stored;
}

} // namespace qb
