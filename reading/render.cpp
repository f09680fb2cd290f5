#include "reading/render.h"

#include <cstdio>
#include <tuple>

#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/storage.h"

namespace qb {

namespace {
const char* const kCrLf = "\r\n";

std::string line(const std::string& s) { return s + kCrLf; }

std::string trimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::string num(uint32_t n) { return std::to_string(n); }

bool isInternet(std::string_view address) { return address.find('@') != std::string_view::npos; }

// CompuServe ID in comma form to the point form used inside Internet addresses.
std::string pointForm(std::string_view id) {
    std::string r(id);
    for (char& c : r)
        if (c == ',') c = '.';
    return r;
}

// A name before an Internet address is quoted when it holds a character that
// would end it there (a comma would make it two addresses).
std::string internetPhrase(const std::string& n) {
    if (n.find_first_of("()<>@,;:\"[]") == std::string::npos) return n;
    std::string q = "\"";
    for (char c : n) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + "\"";
}

struct DateParts {
    std::string weekday, month, day, year;
};
DateParts dateParts(int32_t dayNr) {
    DateParts p;
    if (dayNr <= 0) {
        p.weekday = kWeekdays[0];
        p.month = kMonths[0];
        p.day = "00";
        p.year = "0000";
        return p;
    }
    int y, m, d;
    civilDate(dayNr, y, m, d);
    char buf[16];
    p.weekday = kWeekdays[weekday(dayNr)];
    p.month = kMonths[m - 1];
    std::snprintf(buf, sizeof buf, "%02d", d);
    p.day = buf;
    std::snprintf(buf, sizeof buf, "%04d", y);
    p.year = buf;
    return p;
}
} // namespace

const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

RenderSettings& renderSettings() {
    static RenderSettings s;
    return s;
}

int RenderSettings::target(MessageKind kind) const {
    int v = kind == MessageKind::Mail ? mailTarget : kind == MessageKind::Forum ? forumTarget : newsTarget;
    if (v < 1 || v > 4) v = kind == MessageKind::Newsgroup ? TargetUnix : TargetTapcis;
    return v;
}

std::string shortDate(int32_t day) {
    DateParts p = dateParts(day);
    return p.day + "-" + p.month + "-" + p.year.substr(2);
}

std::string longDate(int32_t day) {
    DateParts p = dateParts(day);
    return p.day + "-" + p.month + "-" + p.year;
}

std::string clockText(int32_t time) {
    int h = 0, m = 0, s = 0, hs = 0;
    if (time > 0) clockParts(time, h, m, s, hs);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, m, s);
    return buf;
}

std::string personName(const PersonRec& p) {
    std::string last = p.LASTNAME.str(), first = p.FIRSTNAME.str();
    if (last.empty()) return {};
    if (first.empty()) return last;
    return first + " " + last;
}

std::string personForm(const PersonRec& p, PersonUse use, const std::string& cisDomain) {
    const std::string n = personName(p);
    const std::string address = p.ADDRESS.str();
    const bool inet = isInternet(address);
    const std::string cisInet = pointForm(address) + "@" + cisDomain;
    const std::string bar(1, static_cast<char>(179));
    std::string r;
    switch (use) {
    case PersonUse::Forum:
        r = n.empty() ? address : n + " " + address;
        break;
    case PersonUse::Internet: {
        std::string a = "<" + (inet ? address : cisInet) + ">";
        if (address.empty()) a.clear();
        r = n.empty() ? a : internetPhrase(n) + " " + a;
        break;
    }
    case PersonUse::MailTapcis:
        if (inet) r = n.empty() ? "INTERNET:" + address : n + " > INTERNET:" + address;
        else r = n.empty() ? address : n + " " + address;
        break;
    case PersonUse::OzWinReceiverOfSent:
        if (inet) r = n.empty() ? ">INTERNET:" + address : n + " >INTERNET:" + address;
        else r = n.empty() ? address : n + " " + address;
        break;
    case PersonUse::OzWinSenderOfReceived:
        if (inet) r = n + bar + ">INTERNET:" + address;
        else r = n + bar + address;
        break;
    case PersonUse::OzWinBare:
        r = address;
        break;
    }
    return trimRight(r);
}

namespace {

std::string mailHeader(const RenderInput& in, int target, const std::string& dom) {
    const MailRec& m = in.mail;
    const std::string s = m.SUBJECT.str();
    const DateParts d = dateParts(m.DATE);
    const std::string time = clockText(m.TIME);
    const bool sent = target != TargetTapcis && in.mailSent();
    std::string h;
    switch (target) {
    case TargetEudora: {
        const std::string f = personForm(in.from, PersonUse::Internet, dom);
        const std::string t = personForm(in.to, PersonUse::Internet, dom);
        h += line("From ???@??? " + d.weekday + " " + d.month + " " + d.day + " " + time + " " + d.year);
        if (sent) {
            h += line("To: " + t);
            h += line("From: " + f);
        } else {
            h += line("Date: " + d.weekday + ", " + d.day + " " + d.month + " " + d.year + " " + time);
            h += line("From: " + f);
            h += line("To: " + t);
        }
        h += line("Subject: " + s);
        break;
    }
    case TargetUnix: {
        h += line("From: " + personForm(in.from, PersonUse::Internet, dom));
        h += line("Date: " + d.weekday + ", " + d.day + " " + d.month + " " + d.year + " " + time);
        h += line("Subject: " + s);
        h += line("To: " + personForm(in.to, PersonUse::Internet, dom));
        break;
    }
    case TargetOzWin:
        if (sent) {
            h += line("Date:  " + shortDate(m.DATE) + " " + time + "  MsgID: OUTBOX");
            h += line("MgTo:  " + personForm(in.to, PersonUse::OzWinReceiverOfSent, dom));
            h += line("Subj:  " + s);
        } else {
            h += line("Date:  " + shortDate(m.DATE) + " " + time + "  MsgID:             ToID: " +
                      personForm(in.to, PersonUse::OzWinBare, dom));
            h += line("From:  " + personForm(in.from, PersonUse::OzWinSenderOfReceived, dom));
            h += line("Subj:  " + s);
            h += line("Chrg:          Imp:        Sens:        Receipt:       Parts:");
        }
        break;
    default:  // TAPCIS: every mail reads as received
        h += line("#: " + num(m.MAILID) + " S0/CompuServe Mail  [MAIL]");
        h += line("      " + shortDate(m.DATE) + "  " + time);
        h += line("Sb: " + s);
        h += line("Fm: " + personForm(in.from, PersonUse::MailTapcis, dom));
        h += line("To: " + personForm(in.to, PersonUse::MailTapcis, dom));
        break;
    }
    return h;
}

std::string forumHeader(const RenderInput& in, int target, bool plain, const std::string& dom) {
    const MsgNmbrRec& m = in.msg;
    const std::string f = personForm(in.from, PersonUse::Forum, dom);
    const std::string t = personForm(in.to, PersonUse::Forum, dom);
    const std::string secNo = std::to_string(in.section.SECTIONNUMBER);
    const std::string secName = in.section.DESCRIPTION.str();
    std::string h;
    if (plain) {
        h += line("Subject: " + in.heading);
        h += line("From: " + f);
        h += line("To: " + t);
        h += line("Date: " + shortDate(m.DATE));
        h += line("Forum: " + in.databaseName);
        h += line("MsgNo: " + num(m.MSGNUMBER) + (m.REFNUMBER ? " (reply to " + num(m.REFNUMBER) + ")" : ""));
        return h;
    }
    if (target == TargetTapcis) {
        h += line("#: " + num(m.MSGNUMBER) + " S" + secNo + "/" + secName + "  [" + in.databaseName + "]");
        h += line("    " + shortDate(m.DATE) + " 00:00:00 ");
        h += line("Sb: " + (m.REFNUMBER ? "#" + num(m.REFNUMBER) + "-" : std::string()) + in.heading);
        h += line("Fm: " + f);
        h += line("To: " + t);
    } else if (target == TargetOzWin) {
        std::string par = m.REFNUMBER ? num(m.REFNUMBER) : std::string();
        par.resize(11, ' ');
        h += line("#: " + num(m.MSGNUMBER) + " S" + secNo + "/" + secName + "  [CIS:" + in.databaseName + "]");
        h += line("    " + shortDate(m.DATE) + " 00:00:00 ");
        h += line("Sb: " + in.heading);
        h += line("Fm: " + f);
        h += line("To: " + t);
        h += line("Replies:      TID:           Par:" + par + "Chd:           Sib:");
    }
    return h;
}

std::string newsHeader(const RenderInput& in, bool plain, const std::string& dom) {
    const MsgNmbrRec& m = in.msg;
    const DateParts d = dateParts(m.DATE);
    const std::string f = personForm(in.from, PersonUse::Internet, dom);
    std::string h;
    if (plain) {
        h += line(" From: " + f);
        h += line(" Newsgroups: " + in.databaseName);
        h += line(" Date: " + longDate(m.DATE) + " 00:00:00 ");
        h += line(" Subject: " + in.heading);
        h += line(" Message-ID: " + in.idString);
        if (m.REFNUMBER) h += line(" References: " + in.parentIdString);
        return h;
    }
    h += line("From ???@??? " + d.weekday + " " + d.month + " " + d.day + " 00:00:00 " + d.year);
    h += line("From: " + f);
    h += line("Newsgroups: " + in.databaseName);
    h += line("Date: " + longDate(m.DATE) + " 00:00:00 ");
    h += line("Subject: " + in.heading);
    h += line("Message-ID: " + in.idString);
    if (m.REFNUMBER) h += line("References: " + in.parentIdString);
    return h;
}

} // namespace

std::string renderHeader(const RenderInput& in, int target, bool plain, const std::string& cisDomain) {
    switch (in.kind) {
    case MessageKind::Mail: return mailHeader(in, target, cisDomain);
    case MessageKind::Forum: return forumHeader(in, target, plain, cisDomain);
    case MessageKind::Newsgroup: return newsHeader(in, plain, cisDomain);
    }
    return {};
}

std::string wrapBody(std::string_view body, bool wrap, int width) {
    if (!wrap) return std::string(body);
    if (width <= 0) width = 78;
    const size_t w = static_cast<size_t>(width);
    std::string out;
    out.reserve(body.size() + body.size() / 16);
    size_t pos = 0;
    while (pos < body.size()) {
        size_t eol = body.find('\n', pos);
        const bool terminated = eol != std::string_view::npos;
        size_t end = terminated ? eol : body.size();
        size_t contentEnd = end > pos && body[end - 1] == '\r' ? end - 1 : end;
        std::string_view ln = body.substr(pos, contentEnd - pos);
        pos = terminated ? eol + 1 : body.size();
        if (ln.size() <= w) {
            out.append(ln);
            if (terminated) out += kCrLf;
            continue;
        }
        size_t s = 0;
        bool first = true;
        while (s < ln.size()) {
            if (!first) out += kCrLf;
            first = false;
            if (ln.size() - s <= w) {
                out += trimRight(std::string(ln.substr(s)));
                break;
            }
            const size_t k = s + w - 1;
            size_t cutEnd, nextStart;
            if (ln[k] == ' ') {
                cutEnd = k + 1;
                nextStart = k + 1;
            } else {
                // The last blank after the start of the piece; a blank at the
                // very start would give an empty piece and no progress.
                size_t b = k;
                while (b > s && ln[b] != ' ') --b;
                if (b > s) {
                    cutEnd = b;
                    nextStart = b;
                    if (b + 1 < ln.size() && ln[b + 1] != ' ') nextStart = b + 1;
                } else {
                    cutEnd = k + 1;
                    nextStart = k + 1;
                }
            }
            out += trimRight(std::string(ln.substr(s, cutEnd - s)));
            s = nextStart;
        }
        if (terminated) out += kCrLf;
    }
    return out;
}

std::string renderMessage(const RenderInput& in, const RenderSettings& s, bool plain) {
    std::string r = renderHeader(in, s.target(in.kind), plain, s.cisDomain);
    r += wrapBody(in.text, s.wrap == 1, s.wrapWidth());
    return r;
}

std::string clipboardText(const RenderInput& in, const RenderSettings& s) {
    const std::string sep(64, '-');
    std::string r;
    r += line(sep);
    r += line(in.kind == MessageKind::Mail ? "         Mail retrieved by Quillbox Message Archiver            "
                                           : "         Message retrieved by Quillbox Message Archiver         ");
    r += line(sep);
    r += renderHeader(in, s.target(in.kind), false, s.cisDomain);
    r += line(sep);
    std::string body = wrapBody(in.text, s.wrap == 1, s.wrapWidth());
    r += body;
    if (!body.empty() && body.back() != '\n') r += kCrLf;
    r += line(sep);
    r += line("                            End Of Quote                        ");
    r += kCrLf;
    return r;
}

// ---------------------------------------------------------------- loading

namespace {
// Opens the tables on construction, closes them (and restores the record
// buffers) at the end.
template <class... Rec>
struct BufferGuard {
    std::tuple<Rec&...> refs;
    std::tuple<Rec...> saved;
    explicit BufferGuard(Rec&... r) : refs(r...), saved(r...) {}
    ~BufferGuard() { refs = saved; }
};

void readPerson(uint32_t id, PersonRec& out) {
    if (id == 0) return;
    Person.clearBuffer();
    PER.PERSONID = id;
    if (Person.get(PER_PersonKey)) out = PER;
}
} // namespace

bool loadRenderInput(uint32_t id, RenderInput& in) {
    in = RenderInput{};
    in.databaseName = Mem.Description;
    in.ownerId = Mem.PersonID;
    std::string savedText = TXT_MsgText;
    BufferGuard guard(MAI, MSG, TXT, PER, SEC, THR, MST);
    bool found = false;
    if (Mem.ForumType == 2) {
        in.kind = MessageKind::Mail;
        OP_CLOSE(OpOpenShared, Mail.number(), MsgText.number(), Person.number());
        if (Mail.isOpen()) {
            Mail.clearBuffer();
            MAI.MAILID = id;
            if (Mail.get(MAI_IdKey)) {
                found = true;
                in.mail = MAI;
                if (Person.isOpen()) {
                    readPerson(MAI.FROMID, in.from);
                    readPerson(MAI.TOID, in.to);
                }
            }
        }
        OP_CLOSE(OpClose, Mail.number(), Person.number());
    } else {
        in.kind = Mem.ForumType == 3 ? MessageKind::Newsgroup : MessageKind::Forum;
        OP_CLOSE(OpOpenShared, MsgNmbr.number(), MsgText.number(), Person.number(), Sections.number(),
                 Threads.number());
        if (in.kind == MessageKind::Newsgroup) OP_CLOSE(OpOpenShared, MessageIds.number());
        if (MsgNmbr.isOpen()) {
            MsgNmbr.clearBuffer();
            MSG.MSGNUMBER = id;
            if (MsgNmbr.get(MSG_IdKey)) {
                found = true;
                in.msg = MSG;
                if (Person.isOpen()) {
                    readPerson(MSG.FROMID, in.from);
                    readPerson(MSG.TOID, in.to);
                }
                if (Sections.isOpen()) {
                    Sections.clearBuffer();
                    SEC.SECSYSID = in.msg.SECSYSID;
                    if (Sections.get(SEC_SysIdKey)) in.section = SEC;
                }
                if (Threads.isOpen()) {
                    Threads.clearBuffer();
                    THR.THREADNUMBER = in.msg.THREADNUMBER;
                    if (Threads.get(THR_ThreadKey)) in.heading = trimRight(THR.heading());
                    else in.heading = in.msg.THREADALPHA.str();
                }
                if (in.kind == MessageKind::Newsgroup && MessageIds.isOpen()) {
                    MessageIds.clearBuffer();
                    MST.MSGNUMBER = in.msg.MSGNUMBER;
                    if (MessageIds.get(MST_IDKEY)) in.idString = MST.IDSTRING.str();
                    if (in.msg.REFNUMBER) {
                        MessageIds.clearBuffer();
                        MST.MSGNUMBER = in.msg.REFNUMBER;
                        if (MessageIds.get(MST_IDKEY)) in.parentIdString = MST.IDSTRING.str();
                    }
                }
            }
        }
        if (in.kind == MessageKind::Newsgroup) OP_CLOSE(OpClose, MessageIds.number());
        OP_CLOSE(OpClose, MsgNmbr.number(), Person.number(), Sections.number(), Threads.number());
    }
    if (found && MsgText.isOpen()) {
        MsgText.clearBuffer();
        TXT.MSGNUMBER = id;
        if (MsgText.get(TXT_IdKey)) in.text = TXT_MsgText;
    }
    OP_CLOSE(OpClose, MsgText.number());
    TXT_MsgText = savedText;
    return found;
}

} // namespace qb
