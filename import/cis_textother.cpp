// Text readers with header forms of their own: VirtualAccess (forum, mail
// and newsgroup messages between "==========" separators) and the NavCIS
// Save format. The line forms are described in docs/formats.md.
#include "core/dates.h"
#include "core/tables.h"
#include "import/cis_common.h"
#include "import/cis_window.h"

namespace qb::cis {

namespace {

std::string trimBoth(std::string_view s) {
    std::string t = trimRight(s);
    size_t a = 0;
    while (a < t.size() && t[a] == ' ') ++a;
    return t.substr(a);
}

// "#123400" at the start of a subject: the reference it carries, kept on the
// rules of the forum header (numeric, not 0, at most the message number and
// not more than 30000 below it); the subject loses it when it is kept.
uint32_t subjectReference(std::string& subj, uint32_t msgNumber) {
    if (subj.empty() || subj[0] != '#') return 0;
    size_t e = 1;
    while (e < subj.size() && subj[e] >= '0' && subj[e] <= '9') ++e;
    uint32_t ref = toNumber(subj.substr(1, e - 1));
    if (e == 1 || ref == 0 || ref > msgNumber || msgNumber - ref > 30000) {
        subj.erase(0, 1);
        return 0;
    }
    while (e < subj.size() && (subj[e] == ' ' || subj[e] == '-')) ++e;
    subj.erase(0, e);
    return ref;
}

// A date "15 Jan 1996" or "15-Jan-96" at the start of s (day, month name,
// year), and the time "HH:MM[:SS]" after it.
void readDayMonthYear(std::string_view s, int32_t& date, int32_t& time) {
    date = time = 0;
    std::string t(s);
    for (auto& c : t)
        if (c == '-' || c == ',') c = ' ';
    size_t at = 0;
    auto word = [&]() {
        while (at < t.size() && t[at] == ' ') ++at;
        size_t b = at;
        while (at < t.size() && t[at] != ' ') ++at;
        return t.substr(b, at - b);
    };
    std::string d = word();
    if (!isNumeric(d)) d = word();  // a weekday in front
    std::string m = word(), y = word(), clock = word();
    if (!isNumeric(d) || !isNumeric(y) || m.size() < 3) return;
    date = dayNumber(fullYear(static_cast<int>(toNumber(y))), monthFromName(m.substr(0, 3)),
                     static_cast<int>(toNumber(d)));
    if (clock.size() == 4 && clock[1] == ':') clock = "0" + clock;
    if (clock.size() == 5) clock += ":00";
    time = readClock(clock);
}

// ---------------------------------------------------------- VirtualAccess

// A mail whose sender and receivers are written out as "name address" texts
// (the date, number and text already in NHR), as one record per receiver.
void storeListedMail(ImportContext& ctx, MailOwner& owner, const std::string& sender, std::vector<Receiver> rcv,
                     const std::string& subject, int32_t time) {
    if (!ctx.settings.importMail) {
        ctx.skip();
        return;
    }
    if (!owner.loaded()) owner.load(ctx);
    std::string sAddr, sName, dummy;
    splitMailPerson(sender, sAddr, sName);
    for (auto& r : rcv) {
        std::string text = r.address;
        splitMailPerson(text, r.address, r.name);
    }
    int type = owner.classify(sAddr, dummy);
    startMail(ctx, static_cast<uint8_t>(type));
    NHR.HEADING.set(subject);
    NHR.S_NAME.set(type == 2 ? owner.name() : sName);
    NHR.S_CISADRESS.set(sAddr);
    NHR.TIME = time;
    storeMailRecords(ctx, owner, std::move(rcv), true, false);
}

class VirtualAccessParser : public WindowParser {
protected:
    bool isStart(const std::string& line, const std::string&) const override {
        return startsWith(line, "==========");
    }
    void parseMessage(ImportContext& ctx, size_t first, size_t last) override;

private:
    MailOwner owner_;
};

void VirtualAccessParser::parseMessage(ImportContext& ctx, size_t first, size_t last) {
    std::string location, sender, subject, to, msgId, refs;
    std::vector<Receiver> rcv;
    uint32_t number = 0, comment = 0;
    int32_t date = 0, time = 0;
    bool haveNumberLine = false;
    size_t i = first + 1;
    for (; i < last; ++i) {
        const std::string& l = q_[i].LINE;
        if (l.empty() || startsWith(l, "----------")) {
            ++i;
            break;
        }
        size_t hash = l.find(" #");
        size_t comma = hash == std::string::npos ? std::string::npos : l.find(',', hash);
        if (!haveNumberLine && hash != std::string::npos && comma != std::string::npos &&
            isNumeric(l.substr(hash + 2, comma - hash - 2))) {
            haveNumberLine = true;
            location = trimBoth(l.substr(0, hash));
            number = toNumber(l.substr(hash + 2, comma - hash - 2));
            size_t fromAt = l.find("from ", comma);
            sender = fromAt == std::string::npos ? std::string() : trimBoth(l.substr(fromAt + 5));
        } else if (startsWith(l, "To: ")) {
            rcv.push_back({"", trimBoth(l.substr(4)), "TO"});
        } else if (startsWith(l, "Cc: ")) {
            rcv.push_back({"", trimBoth(l.substr(4)), "CC"});
        } else if (startsWith(l, "Bcc: ")) {
            rcv.push_back({"", trimBoth(l.substr(5)), "BC"});
        } else if (startsWith(l, "Subject: ")) {
            subject = trimBoth(l.substr(9));
        } else if (startsWith(l, "Comment to ")) {
            comment = toNumber(trimRight(l.substr(11, l.find_first_not_of("0123456789", 11) - 11)));
        } else if (startsWith(l, "Message-ID: ")) {
            msgId = trimBoth(l.substr(12));
        } else if (startsWith(l, "References: ")) {
            refs = trimBoth(l.substr(12));
        } else if (size_t c = l.find(" chars, "); c != std::string::npos && isNumeric(l.substr(0, c))) {
            readDayMonthYear(std::string_view(l).substr(c + 8), date, time);
        }
    }
    if (!haveNumberLine) {
        ctx.skip();
        return;
    }
    size_t bodyFirst = std::min(i, last);
    NewHR.clearBuffer();
    NHR.DATE = date;
    NHR_MSGTEXT = joinBody(q_, bodyFirst, last);

    if (location == "Mail") {
        storeListedMail(ctx, owner_, sender, std::move(rcv), subject, time);
        return;
    }

    size_t slash = location.find('/');
    if (slash == std::string::npos) {  // a newsgroup article
        if (!ctx.settings.importNews || location.empty()) {
            ctx.skip();
            return;
        }
        NHR.FOR_DESCRIPTION.set(location);
        NHR.SEC_DESCRIPTION.set(location.substr(0, 30));
        NHR.SECTIONNUMBER = 1;
        NHR.HEADING.set(subject);
        std::string addr, name;
        splitMailPerson(sender, addr, name);
        NHR.S_CISADRESS.set(addr);
        NHR.S_NAME.set(name);
        NHR.TIME = time;
        Route rt = ctx.route(location, KindNews);
        if (!rt.found || !rt.allowImport || ctx.settings.filter == 2) {
            ctx.skip();
            return;
        }
        if (!msgId.empty()) {
            NHR.MSGNUMBER = ctx.newId();
            ctx.addMessageId(msgId.substr(0, 60), NHR.MSGNUMBER);
        }
        if (!refs.empty()) {
            size_t sp = refs.find_last_of(' ');
            NHR.REFNUMBER = ctx.newId();
            ctx.addMessageId(sp == std::string::npos ? refs.substr(0, 60) : refs.substr(sp + 1, 60), NHR.REFNUMBER);
        }
        ctx.store(KindNews, rt);
        return;
    }

    if (!ctx.settings.importForum || number == 0 || number >= 9000000) {
        ctx.skip();
        return;
    }
    std::string forum = location.substr(0, slash), sec = trimBoth(location.substr(slash + 1));
    if (startsWithNoCase(forum, "CIS:")) forum.erase(0, 4);
    forum = trimBoth(forum);
    if (forum.empty()) forum = runForumName(ctx);
    size_t digits = 0;
    while (digits < sec.size() && sec[digits] >= '0' && sec[digits] <= '9') ++digits;
    NHR.SECTIONNUMBER = static_cast<uint8_t>(toNumber(sec.substr(0, digits)));
    NHR.SEC_DESCRIPTION.set(trimBoth(sec.substr(digits)));
    NHR.MSGNUMBER = number;
    NHR.REFNUMBER = comment != 0 && comment <= number ? comment : 0;
    if (!subject.empty() && subject[0] == '#') subject.erase(0, 1);
    NHR.HEADING.set(subject);
    NHR.FOR_DESCRIPTION.set(forum);
    std::string addr, name;
    splitForumPerson(sender, addr, name);
    NHR.S_CISADRESS.set(addr);
    NHR.S_NAME.set(name);
    if (!rcv.empty()) {
        splitForumPerson(rcv[0].address, addr, name);
        NHR.R_CISADRESS.set(addr);
        NHR.R_NAME.set(name);
    }
    ctx.store(KindForum, ctx.route(forum, KindForum));
}

// ------------------------------------------------------ NavCIS Save format

class NavcisSaveParser : public WindowParser {
protected:
    bool isStart(const std::string& line, const std::string& next) const override {
        return startsWith(line, "Subject:  ") && startsWith(next, "   From:  ");
    }
    ParseStatus opened(ImportContext&) override {
        std::string a, b;
        bool found = false;
        if (nextLine(a))
            while (!found && nextLine(b)) {
                found = isStart(a, b);
                a = std::move(b);
            }
        if (!found) {
            failText_ = "Not a Forum message or mail file!\r\nMessages will not be imported!";
            return ParseStatus::NotThisReader;
        }
        return rewind() ? ParseStatus::More : ParseStatus::Failed;
    }
    void parseMessage(ImportContext& ctx, size_t first, size_t last) override;

private:
    MailOwner owner_;
};

void NavcisSaveParser::parseMessage(ImportContext& ctx, size_t first, size_t last) {
    auto line = [&](size_t k) -> std::string { return first + k < last ? q_[first + k].LINE : std::string(); };
    std::string l1 = line(0), l2 = line(1), to = line(2);
    if (!startsWith(l1, "Subject:  ") || !startsWith(l2, "   From:  ")) {  // cut off by the window
        ctx.skip();
        return;
    }
    std::string from = trimBoth(l2.substr(10));
    if (!startsWith(to, "     To:  ")) {
        ctx.skip();
        return;
    }
    std::vector<Receiver> rcv{{"", trimBoth(to.substr(10)), "TO"}};
    size_t k = 3;
    for (; startsWith(line(k), "     Cc:  ") || startsWith(line(k), "    Bcc:  "); ++k)
        rcv.push_back({"", trimBoth(line(k).substr(10)), startsWith(line(k), "     Cc:  ") ? "CC" : "BC"});
    std::string forumLine;
    if (startsWith(line(k), "  Forum: ")) forumLine = line(k++);
    std::string dateLine = line(k);
    if (!startsWith(dateLine, "   Date:  ")) {
        ctx.skip();
        return;
    }
    ++k;
    int32_t date = readDate9(trimBoth(dateLine.substr(10)).substr(0, 9)), time = 0;
    std::string clock = trimBoth(dateLine.substr(10));
    clock = clock.size() > 9 ? trimBoth(clock.substr(9)) : std::string();
    if (clock.size() == 4 && clock[1] == ':') clock = "0" + clock;
    if (clock.size() == 5) clock += ":00";
    time = readClock(clock);

    std::string subj = l1.substr(10);
    size_t msgAt = subj.find("Msg Number: ");
    uint32_t number = 0;
    if (msgAt != std::string::npos) {
        number = toNumber(trimBoth(subj.substr(msgAt + 12)));
        subj.resize(msgAt);
    }
    subj = trimBoth(subj);
    NewHR.clearBuffer();
    NHR.DATE = date;
    NHR_MSGTEXT = joinBody(q_, first + k, last);

    if (forumLine.empty()) {
        storeListedMail(ctx, owner_, from, std::move(rcv), subj, time);
        return;
    }

    if (!ctx.settings.importForum || number == 0 || number >= 9000000) {
        ctx.skip();
        return;
    }
    std::string fl = forumLine.substr(9);
    size_t secAt = fl.find("Sec: ");
    std::string forum = trimBoth(fl.substr(0, secAt));
    std::string sec = secAt == std::string::npos ? std::string() : trimBoth(fl.substr(secAt + 5));
    if (startsWithNoCase(forum, "CIS:")) forum = trimBoth(forum.substr(4));
    if (forum.empty()) forum = runForumName(ctx);
    size_t digits = 0;
    while (digits < sec.size() && sec[digits] >= '0' && sec[digits] <= '9') ++digits;
    NHR.SECTIONNUMBER = static_cast<uint8_t>(toNumber(sec.substr(0, digits)));
    NHR.SEC_DESCRIPTION.set(trimBoth(sec.substr(digits)));
    NHR.MSGNUMBER = number;
    NHR.REFNUMBER = subjectReference(subj, number);
    NHR.HEADING.set(subj);
    NHR.FOR_DESCRIPTION.set(forum);
    std::string addr, name;
    splitForumPerson(from, addr, name);
    NHR.S_CISADRESS.set(addr);
    NHR.S_NAME.set(name);
    splitForumPerson(rcv[0].address, addr, name);
    NHR.R_CISADRESS.set(addr);
    NHR.R_NAME.set(name);
    ctx.store(KindForum, ctx.route(forum, KindForum));
}

const bool registered =
    registerParser("VirtualAccess", [] { return std::make_unique<VirtualAccessParser>(); }) &&
    registerParser("NavCIS Save format", [] { return std::make_unique<NavcisSaveParser>(); });

} // namespace

} // namespace qb::cis
