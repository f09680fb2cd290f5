// The text readers whose files carry the five-line forum header ("#:",
// date, "Sb:", "Fm:", "To:"): OzWin I and II, OzCIS, TAPCIS 5.x and 6.x,
// AUTOSIG and GoldenCompass, with their mail forms.
#include <fstream>

#include "core/tables.h"
#include "import/cis_common.h"
#include "import/cis_window.h"

namespace qb::cis {

namespace {

enum class Reader { OzWin1, OzWin2, OzCis, Tapcis5, Tapcis6, Autosig, Golden };

bool dosReader(Reader r) {
    return r == Reader::OzCis || r == Reader::Tapcis5 || r == Reader::Tapcis6 || r == Reader::Autosig;
}
bool ozReader(Reader r) { return r == Reader::OzWin1 || r == Reader::OzWin2 || r == Reader::OzCis; }
// Readers whose files do not name the forum.
bool runForum(Reader r) { return r != Reader::OzWin1 && r != Reader::OzWin2; }

std::string from(const std::string& s, size_t at, size_t n = std::string::npos) {
    return at < s.size() ? s.substr(at, n) : std::string();
}

// The soft-break marks of GoldenCompass body lines.
void stripGoldenMarks(std::string& s) {
    if (s.compare(0, 2, "@l") == 0) s.erase(0, 2);
    if (s.size() >= 2 && (s.compare(s.size() - 2, 2, "@b") == 0 || s.compare(s.size() - 2, 2, "@l") == 0))
        s.resize(s.size() - 2);
}

class TextParser : public WindowParser {
public:
    explicit TextParser(Reader r) : r_(r) { dos_ = dosReader(r); }

protected:
    bool preload(const std::string& path, std::vector<std::string>& lines) override;
    bool isStart(const std::string& line, const std::string&) const override {
        if (startsWith(line, "#:")) return true;
        return ozReader(r_) && startsWith(line, "Date:  ");
    }
    void parseMessage(ImportContext& ctx, size_t first, size_t last) override;

private:
    bool mailRun(const ImportContext& ctx, const std::string& line1) const;
    void parseForum(ImportContext& ctx, size_t s, size_t last);
    void parseOzMail(ImportContext& ctx, size_t s, size_t last);
    void parseTapcisMail(ImportContext& ctx, size_t s, size_t last);
    void parseTapcis5Mail(ImportContext& ctx, size_t s, size_t last);
    // Header line i of the message (0-based); "" past its end.
    std::string line(size_t s, size_t last, size_t i) const {
        if (s + i >= last) return {};
        std::string l = q_[s + i].LINE;
        if (r_ == Reader::Golden) dropTrailingAtB(l);
        return l;
    }
    std::string body(size_t s, size_t last) const;
    void owner(ImportContext& ctx) {
        if (!owner_.loaded()) owner_.load(ctx);
    }
    int32_t tapcis5Date(const std::string& l2, size_t* end) const;

    Reader r_;
    MailOwner owner_;
};

// GoldenCompass files are read once when they are opened: their lines may end
// in CR LF, LF or a lone CR, and a body line ends in "@b" or starts with "@l".
bool TextParser::preload(const std::string& path, std::vector<std::string>& lines) {
    if (r_ != Reader::Golden) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string data((std::istreambuf_iterator<char>(in)), {});
    size_t at = 0;
    while (at < data.size()) {
        size_t e = data.find_first_of("\r\n", at);
        if (e == std::string::npos) {
            lines.push_back(data.substr(at));
            break;
        }
        lines.push_back(data.substr(at, e - at));
        at = e + (data[e] == '\r' && e + 1 < data.size() && data[e + 1] == '\n' ? 2 : 1);
    }
    return true;
}

// Whether a "#:" message of the readers that file mail and forum messages
// alike is a mail: "/Outbox" marks a sent TAPCIS 5.x mail; a run that takes
// only one of the two kinds reads every message as that kind; otherwise a
// forum message is told by its section ("S5/Hardware") after the number.
bool TextParser::mailRun(const ImportContext& ctx, const std::string& line1) const {
    if (r_ == Reader::Tapcis5 && line1.find("/Outbox") != std::string::npos) return true;
    if (ctx.settings.importMail != ctx.settings.importForum) return ctx.settings.importMail;
    std::string l = line1;
    if (r_ == Reader::Golden || r_ == Reader::Tapcis5) dropTrailingAtB(l);
    size_t at = l.find(' ', 3);
    if (at == std::string::npos) return true;
    while (at < l.size() && l[at] == ' ') ++at;
    if (at + 4 <= l.size() && l[at] == '(' && l[at + 2] == ')' && l[at + 3] == ' ') at += 4;
    if (at < l.size() && !(l[at] >= '0' && l[at] <= '9')) ++at;  // the section letter
    size_t digits = at;
    while (digits < l.size() && l[digits] >= '0' && l[digits] <= '9') ++digits;
    return !(digits > at && digits < l.size() && l[digits] == '/');
}

void TextParser::parseMessage(ImportContext& ctx, size_t first, size_t last) {
    const std::string& l1 = q_[first].LINE;
    if (startsWith(l1, "Date:  ")) {
        parseOzMail(ctx, first, last);
    } else if (!ozReader(r_) && mailRun(ctx, l1)) {
        if (r_ == Reader::Tapcis5) parseTapcis5Mail(ctx, first, last);
        else parseTapcisMail(ctx, first, last);
    } else {
        parseForum(ctx, first, last);
    }
}

std::string TextParser::body(size_t s, size_t last) const {
    if (r_ != Reader::Golden) return joinBody(q_, s, last);
    LineQueue b(q_.begin() + static_cast<long>(std::min(s, last)), q_.begin() + static_cast<long>(last));
    for (auto& e : b) {
        if (e.SPLITLINE) continue;
        stripGoldenMarks(e.LINE);
        e.LEN = static_cast<uint32_t>(e.LINE.size());
    }
    return joinBody(b, 0, b.size());
}

int32_t TextParser::tapcis5Date(const std::string& l2, size_t* end) const {
    size_t at = 4;
    if (at < l2.size() && l2[at] == ' ') {
        at = 5;
        if (at >= l2.size() || l2[at] == ' ') {
            if (end) *end = at;
            return 0;
        }
    }
    std::string d = from(l2, at, 9);
    if (d.size() >= 2 && d[1] == '-') {
        d = "0" + from(l2, at, 8);
        if (end) *end = at + 8;
    } else if (end) {
        *end = at + 9;
    }
    return readDate9(d);
}

void TextParser::parseForum(ImportContext& ctx, size_t s, size_t last) {
    if (!ctx.settings.importForum || last - s < 5) {
        ctx.skip();
        return;
    }
    std::string l1 = line(s, last, 0);
    // Message number: position 4 up to the first blank (at most 12 digits on).
    size_t blank = l1.find(' ', 3);
    if (blank == std::string::npos || blank > 14) {
        ctx.skip();
        return;
    }
    std::string num = l1.substr(3, blank - 3);
    uint32_t msgNumber = toNumber(num);
    if (!isNumeric(num) || msgNumber == 0 || msgNumber >= 9000000) {
        ctx.skip();
        return;
    }
    std::string forum;
    size_t forumPart = std::string::npos;
    if (!runForum(r_)) {
        for (size_t i = l1.size(); i-- > 2;) {
            if (l1[i] != '(') continue;
            size_t close = l1.find(')', i + 1);
            if (close == std::string::npos) continue;
            forum = l1.substr(i + 1, close - i - 1);
            if (startsWithNoCase(forum, "CIS:")) forum.erase(0, 4);
            forum = trimRight(forum);
            forumPart = i;
            break;
        }
    }
    if (forum.empty()) forum = runForumName(ctx);

    std::string l2 = line(s, last, 1), l3 = line(s, last, 2), l4 = line(s, last, 3), l5 = line(s, last, 4);
    if (!startsWith(l3, "Sb:") || !startsWith(l4, "Fm:") || !startsWith(l5, "To:")) {
        ctx.skip();
        return;
    }
    NewHR.clearBuffer();
    NHR.MSGNUMBER = msgNumber;

    // Reference from the parent line.
    bool parRef = false;
    if (r_ == Reader::OzWin2 && s + 5 < last) {
        const std::string& l6 = q_[s + 5].LINE;
        size_t p = l6.substr(0, 40).find("Par:");
        if (p != std::string::npos) {
            std::string ref = trimRight(from(l6, p + 4, 8));
            NHR.REFNUMBER = toNumber(ref);
            parRef = true;
        }
    }

    // Section.
    std::string sec = from(l1, blank + 1, forumPart == std::string::npos ? std::string::npos : forumPart - blank - 1);
    if (r_ == Reader::Tapcis5) dropTrailingAtB(sec);
    sec = trimRight(sec.substr(0, 30));
    while (!sec.empty() && sec[0] == ' ') sec.erase(0, 1);
    if (sec.size() >= 4 && sec[0] == '(' && sec[2] == ')' && sec[3] == ' ') sec.erase(0, 4);
    size_t slash = sec.substr(0, 30).find('/');
    if (slash != std::string::npos) {
        NHR.SECTIONNUMBER = static_cast<uint8_t>(toNumber(sec.substr(1, slash > 0 ? slash - 1 : 0)));
        NHR.SEC_DESCRIPTION.set(sec.substr(slash + 1));
    } else {
        NHR.SECTIONNUMBER = 0;
        NHR.SEC_DESCRIPTION.set(sec);
    }

    NHR.DATE = r_ == Reader::Tapcis5 ? tapcis5Date(l2, nullptr) : readDate9(from(l2, 4, 9));

    // Subject, with the reference it may carry.
    std::string subj = from(l3, 4);
    if (r_ == Reader::Tapcis5) dropTrailingAtB(subj);
    subj = trimRight(subj.substr(0, 50));
    if (!parRef && !subj.empty() && (subj[0] == '#' || (subj[0] >= '0' && subj[0] <= '9'))) {
        size_t st = subj[0] == '#' ? 1 : 0;
        size_t lim = std::min(subj.size(), num.size() + 6);
        size_t end = std::string::npos;
        for (size_t i = st; i < lim; ++i)
            if (subj[i] == '-' || subj[i] == ' ') {
                end = i;
                break;
            }
        if (end != std::string::npos) {
            std::string refText = subj.substr(st, end - st);
            uint32_t ref = toNumber(refText);
            if (isNumeric(refText) && ref != 0 && ref <= msgNumber && msgNumber - ref <= 30000) {
                NHR.REFNUMBER = ref;
                subj = subj.substr(end + 1);
                while (!subj.empty() && subj[0] == ' ') subj.erase(0, 1);
            }
        }
    }
    if (!subj.empty() && subj[0] == '#') subj.erase(0, 1);
    NHR.HEADING.set(subj);

    std::string addr, name;
    std::string fm = from(l4, 4, 100), to = from(l5, 4, 100);
    if (r_ == Reader::Tapcis5) {
        dropTrailingAtB(fm);
        dropTrailingAtB(to);
    }
    splitForumPerson(fm, addr, name);
    NHR.S_CISADRESS.set(addr);
    NHR.S_NAME.set(name);
    splitForumPerson(to, addr, name);
    NHR.R_CISADRESS.set(addr);
    NHR.R_NAME.set(name);
    NHR.FOR_DESCRIPTION.set(forum);

    Route rt = ctx.route(forum, KindForum);
    NHR_MSGTEXT = body(s + 5, last);
    ctx.store(KindForum, rt);
}

void TextParser::parseOzMail(ImportContext& ctx, size_t s, size_t last) {
    if (!ctx.settings.importMail || last - s < 3) {
        ctx.skip();
        return;
    }
    std::string l1 = line(s, last, 0), l2 = line(s, last, 1), l3 = line(s, last, 2);
    uint8_t type;
    if (startsWith(l2, "MgTo:")) type = 2;
    else if (startsWith(l2, "From:")) type = 1;
    else {
        ctx.skip();
        return;
    }
    if (!startsWith(l3, "Subj:")) {
        ctx.skip();
        return;
    }
    owner(ctx);
    NewHR.clearBuffer();
    startMail(ctx, type);
    NHR.DATE = readDate9(from(l1, 7, 9));
    std::string t = from(l1, 17, 5);
    NHR.TIME = readClock(t.size() == 5 ? t + ":00" : t);
    NHR.HEADING.set(trimRight(from(l3, 7, 50)));
    std::string addr, name;
    splitMailPerson(from(l2, 7), addr, name);
    if (type == 1) {
        NHR.S_CISADRESS.set(addr);
        NHR.S_NAME.set(name);
        NHR.R_CISADRESS.set(owner_.address());
        NHR.R_NAME.set(owner_.name());
    } else {
        NHR.S_CISADRESS.set(owner_.address());
        NHR.S_NAME.set(owner_.name());
        NHR.R_CISADRESS.set(addr);
        NHR.R_NAME.set(name);
    }
    size_t bodyLine = (type == 1 && r_ == Reader::OzWin2) ? 5 : 4;
    Route rt = ctx.route(owner_.name(), KindMail);
    NHR_MSGTEXT = body(s + bodyLine, last);
    ctx.store(KindMail, rt);
}

void TextParser::parseTapcisMail(ImportContext& ctx, size_t s, size_t last) {
    if (!ctx.settings.importMail || last - s < 5) {
        ctx.skip();
        return;
    }
    std::string l2 = line(s, last, 1), l3 = line(s, last, 2), l4 = line(s, last, 3), l5 = line(s, last, 4);
    if (!startsWith(l3, "Sb:") || !startsWith(l4, "Fm:") || !startsWith(l5, "To:")) {
        ctx.skip();
        return;
    }
    owner(ctx);
    NewHR.clearBuffer();
    NHR.DATE = readDate9(from(l2, 4, 9));
    bool seconds = l2.size() > 20 && l2[20] != ' ';
    NHR.TIME = readClock(seconds ? from(l2, 15, 8) : from(l2, 15, 5) + ":00");
    NHR.HEADING.set(trimRight(from(l3, 4, 50)));
    std::string sAddr, sName, rAddr, rName;
    splitMailPerson(from(l4, 4), sAddr, sName);
    splitMailPerson(from(l5, 4), rAddr, rName);
    int type = owner_.classify(sAddr, rAddr);
    startMail(ctx, static_cast<uint8_t>(type));
    if (type == 2) {
        NHR.S_NAME.set(owner_.name());
        NHR.R_NAME.set(rName);
    } else {
        NHR.S_NAME.set(sName);
        NHR.R_NAME.set(owner_.name());
    }
    NHR.S_CISADRESS.set(sAddr);
    NHR.R_CISADRESS.set(rAddr);
    Route rt = ctx.route(owner_.name(), KindMail);
    NHR_MSGTEXT = body(s + 6, last);
    ctx.store(KindMail, rt);
}

void TextParser::parseTapcis5Mail(ImportContext& ctx, size_t s, size_t last) {
    if (!ctx.settings.importMail || last - s < 4) {
        ctx.skip();
        return;
    }
    std::string l1 = line(s, last, 0), l2 = line(s, last, 1), l3 = line(s, last, 2);
    bool outbox = l1.find("/Outbox") != std::string::npos;
    std::string party = line(s, last, outbox ? 4 : 3);
    if (!startsWith(l3, "Sb:") || !startsWith(party, outbox ? "To:" : "Fm:")) {
        ctx.skip();
        return;
    }
    owner(ctx);
    NewHR.clearBuffer();
    startMail(ctx, outbox ? 2 : 1);
    size_t dateEnd = 0;
    NHR.DATE = tapcis5Date(l2, &dateEnd);
    // The time: the first non-blank character within five positions after the date.
    size_t t = dateEnd;
    while (t < l2.size() && t < dateEnd + 5 && l2[t] == ' ') ++t;
    NHR.TIME = 0;
    if (t < l2.size() && t < dateEnd + 5) {
        std::string tm = from(l2, t, 8);
        size_t sp = tm.find(' ');
        if (sp != std::string::npos) tm.resize(sp);
        if (tm.size() >= 2 && tm[1] == ':') tm = "0" + tm;
        if (tm.size() == 5) tm += ":00";
        NHR.TIME = readClock(tm);
    }
    std::string subj = from(l3, 4);
    dropTrailingAtB(subj);
    NHR.HEADING.set(trimRight(subj.substr(0, 50)));
    std::string text = from(party, 4);
    dropTrailingAtB(text);
    std::string addr, name;
    splitMailPerson(text, addr, name);
    if (outbox) {
        NHR.S_CISADRESS.set(owner_.address());
        NHR.S_NAME.set(owner_.name());
        NHR.R_CISADRESS.set(addr);
        NHR.R_NAME.set(name);
    } else {
        NHR.S_CISADRESS.set(addr);
        NHR.S_NAME.set(name);
        NHR.R_CISADRESS.set(owner_.address());
        NHR.R_NAME.set(owner_.name());
    }
    Route rt = ctx.route(owner_.name(), KindMail);
    NHR_MSGTEXT = body(s + (outbox ? 6 : 5), last);
    ctx.store(KindMail, rt);
}

template <Reader R>
std::unique_ptr<Parser> make() {
    return std::make_unique<TextParser>(R);
}

const bool registered = registerParser("OzWin I", make<Reader::OzWin1>) &&
                        registerParser("OzWin II", make<Reader::OzWin2>) &&
                        registerParser("OzCIS", make<Reader::OzCis>) &&
                        registerParser("TAPCIS 5.x", make<Reader::Tapcis5>) &&
                        registerParser("TAPCIS 6.x", make<Reader::Tapcis6>) &&
                        registerParser("AUTOSIG", make<Reader::Autosig>) &&
                        registerParser("GoldenCompass", make<Reader::Golden>);

} // namespace

} // namespace qb::cis
