// Rendering of messages: header layouts of every target, person forms,
// wrapping and the clipboard frame.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/dates.h"
#include "reading/render.h"

using namespace qb;

namespace {

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    size_t p = 0;
    while (p < s.size()) {
        size_t e = s.find("\r\n", p);
        if (e == std::string::npos) {
            out.push_back(s.substr(p));
            break;
        }
        out.push_back(s.substr(p, e - p));
        p = e + 2;
    }
    return out;
}

PersonRec person(const std::string& first, const std::string& last, const std::string& address, uint32_t id = 0) {
    PersonRec p{};
    p.PERSONID = id;
    p.FIRSTNAME = first;
    p.LASTNAME = last;
    p.ADDRESS = address;
    return p;
}

RenderInput mailInput(bool sent) {
    RenderInput in;
    in.kind = MessageKind::Mail;
    in.ownerId = 7;
    in.mail.MAILID = 250123;
    in.mail.DATE = 71000;  // Saturday 20 May 1995
    in.mail.TIME = clockTime(9, 5, 7);
    in.mail.SUBJECT = "Meeting notes";
    in.from = sent ? person("Ann", "Owner", "ann@home.example", 7) : person("John", "Smith", "76543,210", 8);
    in.to = sent ? person("John", "Smith", "76543,210", 8) : person("Ann", "Owner", "ann@home.example", 7);
    in.mail.FROMID = in.from.PERSONID;
    in.mail.TOID = in.to.PERSONID;
    in.text = "Hello\r\nWorld\r\n";
    return in;
}

RenderInput forumInput(uint32_t ref) {
    RenderInput in;
    in.kind = MessageKind::Forum;
    in.databaseName = "Writers Forum";
    in.msg.MSGNUMBER = 124;
    in.msg.REFNUMBER = ref;
    in.msg.DATE = dayNumber(1997, 1, 5);
    in.section.SECTIONNUMBER = 3;
    in.section.DESCRIPTION = "Poetry";
    in.heading = "Sonnets";
    in.from = person("John", "Smith", "76543,210");
    in.to = person("", "All", "");
    return in;
}

} // namespace

TEST(ReadingRender, DatePartsAndTimes) {
    EXPECT_EQ(shortDate(dayNumber(1997, 1, 5)), "05-Jan-97");
    EXPECT_EQ(longDate(dayNumber(2003, 12, 31)), "31-Dec-2003");
    EXPECT_EQ(clockText(clockTime(9, 5, 7)), "09:05:07");
    EXPECT_EQ(clockText(0), "00:00:00");
    // The weekday follows the day number modulo 7.
    RenderInput in = mailInput(false);
    std::string h = renderHeader(in, TargetEudora, false, "compuserve.com");
    EXPECT_EQ(lines(h)[0], "From ???@??? Sat May 20 09:05:07 1995");
    in.mail.DATE = 71001;
    EXPECT_EQ(lines(renderHeader(in, TargetEudora, false, "compuserve.com"))[0].substr(13, 3), "Sun");
}

TEST(ReadingRender, PersonForms) {
    const std::string dom = "compuserve.com";
    PersonRec cis = person("John", "Smith", "76543,210");
    EXPECT_EQ(personForm(cis, PersonUse::Internet, dom), "John Smith <76543.210@compuserve.com>");
    EXPECT_EQ(personForm(cis, PersonUse::MailTapcis, dom), "John Smith 76543,210");
    EXPECT_EQ(personForm(cis, PersonUse::Forum, dom), "John Smith 76543,210");
    EXPECT_EQ(personForm(cis, PersonUse::OzWinSenderOfReceived, dom), "John Smith\xB3" "76543,210");

    PersonRec inetNoLast = person("Mary", "", "mary@example.org");
    EXPECT_EQ(personForm(inetNoLast, PersonUse::MailTapcis, dom), "INTERNET:mary@example.org");
    EXPECT_EQ(personForm(inetNoLast, PersonUse::Internet, dom), "<mary@example.org>");
    EXPECT_EQ(personForm(inetNoLast, PersonUse::Forum, dom), "mary@example.org");
    EXPECT_EQ(personForm(inetNoLast, PersonUse::OzWinReceiverOfSent, dom), ">INTERNET:mary@example.org");
    EXPECT_EQ(personForm(inetNoLast, PersonUse::OzWinSenderOfReceived, dom), "\xB3>INTERNET:mary@example.org");

    PersonRec inet = person("", "Doe", "doe@example.org");
    EXPECT_EQ(personForm(inet, PersonUse::MailTapcis, dom), "Doe > INTERNET:doe@example.org");
    EXPECT_EQ(personForm(inet, PersonUse::OzWinReceiverOfSent, dom), "Doe >INTERNET:doe@example.org");
    EXPECT_EQ(personForm(inet, PersonUse::OzWinBare, dom), "doe@example.org");
    EXPECT_EQ(personForm(person("", "", "12345,6"), PersonUse::Internet, dom), "<12345.6@compuserve.com>");
    // A missing person gives an empty form, not a stray bracket.
    EXPECT_EQ(personForm(PersonRec{}, PersonUse::Internet, dom), "");
}

TEST(ReadingRender, MailLayoutsOfEveryTarget) {
    const std::string dom = "compuserve.com";
    RenderInput rec = mailInput(false), sent = mailInput(true);

    EXPECT_EQ(lines(renderHeader(rec, TargetTapcis, false, dom)),
              (std::vector<std::string>{"#: 250123 S0/CompuServe Mail  [MAIL]", "      20-May-95  09:05:07",
                                        "Sb: Meeting notes", "Fm: John Smith 76543,210",
                                        "To: Ann Owner > INTERNET:ann@home.example"}));
    // TAPCIS treats sent mail as received: the same layout.
    EXPECT_EQ(lines(renderHeader(sent, TargetTapcis, false, dom))[0], "#: 250123 S0/CompuServe Mail  [MAIL]");

    EXPECT_EQ(lines(renderHeader(rec, TargetEudora, false, dom)),
              (std::vector<std::string>{"From ???@??? Sat May 20 09:05:07 1995",
                                        "Date: Sat, 20 May 1995 09:05:07",
                                        "From: John Smith <76543.210@compuserve.com>",
                                        "To: Ann Owner <ann@home.example>", "Subject: Meeting notes"}));
    EXPECT_EQ(lines(renderHeader(sent, TargetEudora, false, dom)),
              (std::vector<std::string>{"From ???@??? Sat May 20 09:05:07 1995",
                                        "To: John Smith <76543.210@compuserve.com>",
                                        "From: Ann Owner <ann@home.example>", "Subject: Meeting notes"}));
    EXPECT_EQ(lines(renderHeader(rec, TargetUnix, false, dom)),
              (std::vector<std::string>{"From: John Smith <76543.210@compuserve.com>",
                                        "Date: Sat, 20 May 1995 09:05:07", "Subject: Meeting notes",
                                        "To: Ann Owner <ann@home.example>"}));
    EXPECT_EQ(lines(renderHeader(sent, TargetOzWin, false, dom)),
              (std::vector<std::string>{"Date:  20-May-95 09:05:07  MsgID: OUTBOX", "MgTo:  John Smith 76543,210",
                                        "Subj:  Meeting notes"}));
    EXPECT_EQ(lines(renderHeader(rec, TargetOzWin, false, dom)),
              (std::vector<std::string>{"Date:  20-May-95 09:05:07  MsgID:             ToID: ann@home.example",
                                        "From:  John Smith\xB3" "76543,210", "Subj:  Meeting notes",
                                        "Chrg:          Imp:        Sens:        Receipt:       Parts:"}));
}

TEST(ReadingRender, ForumLayoutsAndReplies) {
    const std::string dom = "compuserve.com";
    RenderInput reply = forumInput(123), top = forumInput(0);
    EXPECT_EQ(lines(renderHeader(reply, TargetTapcis, false, dom)),
              (std::vector<std::string>{"#: 124 S3/Poetry  [Writers Forum]", "    05-Jan-97 00:00:00 ",
                                        "Sb: #123-Sonnets", "Fm: John Smith 76543,210", "To: All"}));
    EXPECT_EQ(lines(renderHeader(top, TargetTapcis, false, dom))[2], "Sb: Sonnets");

    auto oz = lines(renderHeader(reply, TargetOzWin, false, dom));
    ASSERT_EQ(oz.size(), 6u);
    EXPECT_EQ(oz[0], "#: 124 S3/Poetry  [CIS:Writers Forum]");
    EXPECT_EQ(oz[2], "Sb: Sonnets");
    EXPECT_EQ(oz[5], "Replies:      TID:           Par:123        Chd:           Sib:");
    EXPECT_EQ(lines(renderHeader(top, TargetOzWin, false, dom))[5],
              "Replies:      TID:           Par:           Chd:           Sib:");

    EXPECT_EQ(lines(renderHeader(reply, TargetTapcis, true, dom)),
              (std::vector<std::string>{"Subject: Sonnets", "From: John Smith 76543,210", "To: All",
                                        "Date: 05-Jan-97", "Forum: Writers Forum", "MsgNo: 124 (reply to 123)"}));
    EXPECT_EQ(lines(renderHeader(top, TargetTapcis, true, dom)).back(), "MsgNo: 124");
    EXPECT_TRUE(renderHeader(reply, TargetEudora, false, dom).empty());
}

TEST(ReadingRender, NewsgroupLayouts) {
    RenderInput in;
    in.kind = MessageKind::Newsgroup;
    in.databaseName = "comp.os.linux";
    in.msg.MSGNUMBER = 5;
    in.msg.REFNUMBER = 4;
    in.msg.DATE = 71000;
    in.heading = "Kernel panic";
    in.idString = "<a1@host>";
    in.parentIdString = "<a0@host>";
    in.from = person("Linus", "T", "lt@example.fi");
    const std::string dom = "compuserve.com";
    EXPECT_EQ(lines(renderHeader(in, TargetUnix, false, dom)),
              (std::vector<std::string>{"From ???@??? Sat May 20 00:00:00 1995", "From: Linus T <lt@example.fi>",
                                        "Newsgroups: comp.os.linux", "Date: 20-May-1995 00:00:00 ",
                                        "Subject: Kernel panic", "Message-ID: <a1@host>", "References: <a0@host>"}));
    auto plain = lines(renderHeader(in, TargetUnix, true, dom));
    ASSERT_EQ(plain.size(), 6u);
    EXPECT_EQ(plain[0], " From: Linus T <lt@example.fi>");
    EXPECT_EQ(plain[5], " References: <a0@host>");
    in.msg.REFNUMBER = 0;
    EXPECT_EQ(renderHeader(in, TargetUnix, false, dom).find("References:"), std::string::npos);
    // A newsgroup message has one layout whatever the setting says.
    RenderSettings s;
    s.newsTarget = 1;
    EXPECT_EQ(lines(renderMessage(in, s))[0], "From ???@??? Sat May 20 00:00:00 1995");
}

TEST(ReadingRender, TargetSettingsDefaultWhenZero) {
    RenderSettings s;
    EXPECT_EQ(s.target(MessageKind::Mail), 1);
    EXPECT_EQ(s.target(MessageKind::Forum), 1);
    EXPECT_EQ(s.target(MessageKind::Newsgroup), 3);
    EXPECT_EQ(s.wrapWidth(), 78);
    s.mailTarget = 2;
    s.width = 40;
    EXPECT_EQ(s.target(MessageKind::Mail), 2);
    EXPECT_EQ(s.wrapWidth(), 40);
}

TEST(ReadingRender, WrappingCutsAtBlanksAndSplitsLongWords) {
    const std::string longWord(200, 'x');
    auto out = lines(wrapBody(longWord + "\r\n", true, 78));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].size(), 78u);
    EXPECT_EQ(out[1].size(), 78u);
    EXPECT_EQ(out[2].size(), 44u);

    // Cut before the last blank; the blank is dropped.
    std::string words;
    for (int i = 0; i < 30; ++i) words += "word" + std::to_string(i % 10) + " ";
    auto w = lines(wrapBody(words, true, 20));
    std::string joined;
    for (auto& l : w) {
        EXPECT_LE(l.size(), 20u);
        EXPECT_NE(l.front(), ' ') << l;
        if (!joined.empty()) joined += " ";
        joined += l;
    }
    EXPECT_EQ(joined + " ", words);

    // A blank exactly at the width: cut after it.
    auto b = lines(wrapBody("abcd efgh ijkl", true, 5));
    EXPECT_EQ(b, (std::vector<std::string>{"abcd", "efgh", "ijkl"}));

    // Short lines, and everything with wrapping off, pass unchanged.
    EXPECT_EQ(wrapBody("short\r\nlines\r\n", true, 78), "short\r\nlines\r\n");
    EXPECT_EQ(wrapBody(longWord, false, 78), longWord);
    // LF alone is a line end too.
    EXPECT_EQ(lines(wrapBody(longWord + "\nnext", true, 100)).size(), 3u);
}

TEST(ReadingRender, WrappingEndsOnBlankRuns) {
    // Runs of blanks, a leading blank and a line of blanks only must not
    // loop and must keep the text.
    std::string spaces(300, ' ');
    std::string out = wrapBody(spaces, true, 10);
    for (char c : out) EXPECT_TRUE(c == '\r' || c == '\n');
    std::string mixed = " a" + std::string(50, ' ') + "b" + std::string(120, 'c');
    auto l = lines(wrapBody(mixed, true, 10));
    std::string letters;
    for (auto& x : l) {
        EXPECT_LE(x.size(), 10u);
        for (char c : x)
            if (c != ' ') letters += c;
    }
    EXPECT_EQ(letters, "ab" + std::string(120, 'c'));
}

TEST(ReadingRender, ClipboardFrame) {
    RenderInput in = mailInput(false);
    auto out = lines(clipboardText(in, RenderSettings{}));
    ASSERT_GE(out.size(), 12u);
    const std::string sep(64, '-');
    EXPECT_EQ(out[0], sep);
    EXPECT_EQ(out[1], "         Mail retrieved by Quillbox Message Archiver            ");
    EXPECT_EQ(out[1].size(), 64u);
    EXPECT_EQ(out[2], sep);
    EXPECT_EQ(out[3], "#: 250123 S0/CompuServe Mail  [MAIL]");
    EXPECT_EQ(out[8], sep);
    EXPECT_EQ(out[9], "Hello");
    EXPECT_EQ(out[10], "World");
    EXPECT_EQ(out[11], sep);
    EXPECT_EQ(out[12], "                            End Of Quote                        ");
    EXPECT_EQ(out[12].size(), 64u);
    EXPECT_EQ(out.size(), 14u);
    EXPECT_EQ(out[13], "");

    RenderInput forum = forumInput(0);
    EXPECT_EQ(lines(clipboardText(forum, RenderSettings{}))[1],
              "         Message retrieved by Quillbox Message Archiver         ");

    // No text row: header, then the separator right away.
    in.text.clear();
    auto empty = lines(clipboardText(in, RenderSettings{}));
    EXPECT_EQ(empty[8], sep);
    EXPECT_EQ(empty[9], sep);
    // A body without a final line end still ends before the separator.
    in.text = "last line";
    auto unterminated = lines(clipboardText(in, RenderSettings{}));
    EXPECT_EQ(unterminated[9], "last line");
    EXPECT_EQ(unterminated[10], sep);
    // The plain message is the header followed by the body.
    in.text = "Body";
    EXPECT_EQ(renderMessage(in, RenderSettings{}), renderHeader(in, 1, false, "compuserve.com") + "Body");
}
