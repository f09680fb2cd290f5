// The text readers with the five-line forum header and their mail forms.
#include "core/dates.h"
#include "import/cis_common.h"
#include "tests/cis_testutil.h"

using namespace qb;

namespace {

class CisText : public CisImport {};

std::string s(const auto& f) { return f.str(); }

} // namespace

TEST_F(CisText, OzWinForumMessagesNameTheirForumAndReplies) {
    ASSERT_EQ(run("OzWin I", cisSample("ozwin1/MYFORUM.MSG")), ParseStatus::Done);
    auto v = records();
    const CisRecord* a = byNumber(v, 123456);
    const CisRecord* b = byNumber(v, 123460);
    const CisRecord* c = byNumber(v, 77001);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(s(a->h.FOR_DESCRIPTION), "MYFORUM");
    EXPECT_EQ(forumName(a->h.INTERNAL), "MYFORUM");
    EXPECT_EQ(a->h.SECTIONNUMBER, 5);
    EXPECT_EQ(s(a->h.SEC_DESCRIPTION), "Hardware");
    EXPECT_EQ(a->h.DATE, dayNumber(1996, 1, 12));
    EXPECT_EQ(a->h.TIME, 0);
    EXPECT_EQ(s(a->h.HEADING), "Laser printer jams");
    EXPECT_EQ(s(a->h.S_NAME), "John Smith");
    EXPECT_EQ(s(a->h.S_CISADRESS), "12345,678");
    EXPECT_EQ(s(a->h.R_NAME), "ALL");
    EXPECT_EQ(a->text, "Every page jams since I changed the toner.\r\nAny ideas?\r\n\r\n");
    // A reply carries its reference in the subject.
    EXPECT_EQ(b->h.REFNUMBER, 123456u);
    EXPECT_EQ(s(b->h.HEADING), "Laser printer jams");
    EXPECT_EQ(s(b->h.S_NAME), "Sysop");
    EXPECT_TRUE(b->h.S_CISADRESS.empty());
    // Forum without "CIS:", bracketed ID, "(X)" dropped from the receiver.
    EXPECT_EQ(s(c->h.FOR_DESCRIPTION), "OTHERFORUM");
    EXPECT_NE(c->h.INTERNAL, a->h.INTERNAL);
    EXPECT_EQ(s(c->h.S_CISADRESS), "23456,789");
    EXPECT_EQ(s(c->h.R_NAME), "Sysop");
    // The message without "Sb:" is dropped; the mail of the file too when
    // mail is not wanted.
    EXPECT_FALSE(byNumber(v, 77002));
}

TEST_F(CisText, OzWinMailInAndOut) {
    ctx.settings.importForum = false;
    ASSERT_EQ(run("OzWin I", cisSample("ozwin1/MYFORUM.MSG")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 2u);
    const auto& in = v[0].h;
    EXPECT_EQ(in.INTERNAL, MailDb);
    EXPECT_EQ(in.MAILTYPE, 1);
    EXPECT_EQ(in.MSGNUMBER, in.REFNUMBER);
    EXPECT_GE(in.MSGNUMBER, 300000u);
    EXPECT_EQ(s(in.RECIPTYPE), "TO");
    EXPECT_EQ(s(in.FOR_DESCRIPTION), "Ann Owner");
    EXPECT_EQ(in.DATE, dayNumber(1996, 1, 15));
    EXPECT_EQ(in.TIME, clockTime(10, 20, 0));
    EXPECT_EQ(s(in.S_NAME), "John Smith");
    EXPECT_EQ(s(in.S_CISADRESS), "john@example.com");
    EXPECT_EQ(s(in.R_NAME), "Ann Owner");
    EXPECT_EQ(s(in.R_CISADRESS), "71234,567");
    EXPECT_EQ(s(in.HEADING), "Lunch on Friday?");
    EXPECT_EQ(v[0].text, "Are you free on Friday?\r\n\r\nJohn\r\n");
    // "MgTo:": sent by the owner; the quoted partner name loses its quotes.
    const auto& out = v[1].h;
    EXPECT_EQ(out.MAILTYPE, 2);
    EXPECT_EQ(out.MSGNUMBER, in.MSGNUMBER + 1);
    EXPECT_EQ(s(out.S_NAME), "Ann Owner");
    EXPECT_EQ(s(out.S_CISADRESS), "71234,567");
    EXPECT_EQ(s(out.R_NAME), "Jane Doe");
    EXPECT_EQ(s(out.R_CISADRESS), "jane@example.org");
    EXPECT_EQ(v[1].text, "Sure, see you at noon.\r\n");
}

TEST_F(CisText, OzWinIITakesTheReferenceFromTheParentLine) {
    ASSERT_EQ(run("OzWin II", cisSample("ozwin2/FORUM.MSG")), ParseStatus::Done);
    auto v = records();
    const CisRecord* a = byNumber(v, 400100);
    const CisRecord* b = byNumber(v, 400105);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->h.REFNUMBER, 0u);
    EXPECT_EQ(b->h.REFNUMBER, 400100u);
    EXPECT_EQ(s(b->h.FOR_DESCRIPTION), "WINFORUM");
    EXPECT_EQ(s(b->h.S_CISADRESS), "76543,210");
    ASSERT_EQ(v.size(), 3u);
    // Its INBOX mail body starts at line 6.
    EXPECT_EQ(v[2].h.MAILTYPE, 1);
    EXPECT_EQ(v[2].text, "Thanks for the pointer to the driver.\r\n");
}

TEST_F(CisText, DosReadersConvertTheCharacterSetAndUseTheRunForum) {
    ctx.settings.forumDb = ForumDb;
    ASSERT_EQ(run("OzCIS", cisSample("ozcis/OZCIS.MSG")), ParseStatus::Done);
    auto v = records();
    const CisRecord* a = byNumber(v, 5001);
    const CisRecord* b = byNumber(v, 5002);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->h.INTERNAL, ForumDb);
    EXPECT_EQ(s(a->h.HEADING), "Caf\xE9 in M\xFCnchen");
    EXPECT_EQ(s(a->h.S_NAME), "J\xFCrgen M\xFCller");
    // Box drawing characters become blanks; the pound sign survives.
    EXPECT_NE(a->text.find("Gr\xFC\xDF Gott!"), std::string::npos);
    EXPECT_NE(a->text.find("\r\n        \r\n"), std::string::npos);
    EXPECT_NE(a->text.find("  Preis   \xA3 5  "), std::string::npos);
    // "#5001 " with a blank after the reference.
    EXPECT_EQ(b->h.REFNUMBER, 5001u);
    EXPECT_EQ(s(b->h.HEADING), "Caf\xE9 in M\xFCnchen");
    EXPECT_EQ(s(b->h.S_NAME), "Fran\xE7ois Dupr\xE9");
}

TEST_F(CisText, Tapcis5DropsSoftBreaksAndReadsShortDates) {
    ctx.settings.forumDb = ForumDb;
    ASSERT_EQ(run("TAPCIS 5.x", cisSample("tapcis5/FORUM.MSG")), ParseStatus::Done);
    auto v = records();
    const CisRecord* a = byNumber(v, 210001);
    const CisRecord* b = byNumber(v, 210004);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->h.DATE, dayNumber(1996, 1, 1));
    EXPECT_EQ(s(a->h.SEC_DESCRIPTION), "General");
    EXPECT_EQ(a->h.SECTIONNUMBER, 1);
    EXPECT_EQ(s(a->h.HEADING), "Happy new year");
    EXPECT_EQ(s(a->h.S_CISADRESS), "70000,111");
    EXPECT_EQ(s(a->h.S_NAME), "Ed Green");
    EXPECT_EQ(s(a->h.R_NAME), "All");
    EXPECT_EQ(b->h.DATE, dayNumber(1996, 3, 1));  // German month name, DOS "ä"
    EXPECT_EQ(b->h.REFNUMBER, 210001u);
    EXPECT_EQ(b->text, "Godt nytt \xE5r!\r\n");
}

TEST_F(CisText, Tapcis5MailDirectionFromTheOutboxMark) {
    ASSERT_EQ(run("TAPCIS 5.x", cisSample("tapcis5/MAIL.MSG")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].h.MAILTYPE, 1);
    EXPECT_EQ(v[0].h.TIME, clockTime(9, 5, 0));
    EXPECT_EQ(v[0].h.DATE, dayNumber(1996, 1, 5));
    EXPECT_EQ(s(v[0].h.S_NAME), "Shop Service");
    EXPECT_EQ(s(v[0].h.S_CISADRESS), "75555,123");
    EXPECT_EQ(s(v[0].h.R_NAME), "Ann Owner");
    EXPECT_EQ(v[0].text, "Your order has been shipped.\r\n\r\n");
    // "/Outbox": the receiver comes from line 5, line 4 is not read.
    EXPECT_EQ(v[1].h.MAILTYPE, 2);
    EXPECT_EQ(v[1].h.TIME, clockTime(12, 30, 15));
    EXPECT_EQ(s(v[1].h.HEADING), "Re: Your order");
    EXPECT_EQ(s(v[1].h.R_NAME), "Shop Service");
    EXPECT_EQ(s(v[1].h.R_CISADRESS), "75555,123");
    EXPECT_EQ(s(v[1].h.S_CISADRESS), "71234,567");
    EXPECT_EQ(v[1].text, "Thank you.\r\n");
}

TEST_F(CisText, Tapcis6MailFromAnAlternativeAddressIsSent) {
    ASSERT_EQ(run("TAPCIS 6.x", cisSample("tapcis6/MAIL.MSG")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].h.MAILTYPE, 1);
    EXPECT_EQ(v[0].h.TIME, clockTime(14, 33, 10));
    EXPECT_EQ(s(v[0].h.S_CISADRESS), "72000,333");
    EXPECT_EQ(s(v[0].h.R_CISADRESS), "71234,567");
    EXPECT_EQ(v[1].h.MAILTYPE, 2);
    EXPECT_EQ(v[1].h.TIME, clockTime(8, 15, 0));
    EXPECT_EQ(s(v[1].h.S_CISADRESS), "71234,567");  // the default address, not the one used
    EXPECT_EQ(s(v[1].h.S_NAME), "Ann Owner");
    EXPECT_EQ(s(v[1].h.R_NAME), "Bob White");
    EXPECT_EQ(s(v[1].h.R_CISADRESS), "72000,333");
    EXPECT_EQ(v[1].text, "I will be away this weekend.\r\n");
}

TEST_F(CisText, AutosigForumAndMailFilesOfOneRun) {
    ctx.settings.forumDb = ForumDb;
    ASSERT_EQ(run("AUTOSIG", cisSample("autosig/FORUM.ATO")), ParseStatus::Done);
    ASSERT_EQ(run("AUTOSIG", cisSample("autosig/MAIL.ATO")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(byNumber(v, 88010)->h.REFNUMBER, 88001u);
    EXPECT_EQ(byNumber(v, 88010)->h.INTERNAL, ForumDb);
    EXPECT_EQ(v[2].h.INTERNAL, MailDb);
    EXPECT_EQ(s(v[2].h.HEADING), "Font files");
}

TEST_F(CisText, GoldenCompassMarkupIsDroppedAndSplitLinesAreRejoined) {
    ctx.settings.forumDb = ForumDb;
    ASSERT_EQ(run("GoldenCompass", cisSample("goldencompass/GRAPHICS.MSG")), ParseStatus::Done);
    auto v = records();
    const CisRecord* a = byNumber(v, 99001);
    const CisRecord* b = byNumber(v, 99004);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(s(a->h.SEC_DESCRIPTION), "Graphics");
    EXPECT_EQ(s(a->h.HEADING), "Palette problems");
    EXPECT_EQ(s(a->h.S_CISADRESS), "76000,500");
    EXPECT_EQ(s(a->h.R_NAME), "All");
    EXPECT_EQ(a->text,
              "My 256-colour palette\r\ngoes wrong in every viewer.\r\nWhat can I do?\r\nGreta\r\n");
    EXPECT_EQ(b->h.REFNUMBER, 99001u);
}

// Header rules that the samples do not show.
TEST_F(CisText, HeaderEdgeCases) {
    std::string f = dir.path + "/edge.msg";
    writeFile(f,
              "#: 160000 S5/Hardware (CIS:MYFORUM)\r\n    12-Jan-96\r\nSb: #123400-Re: printers\r\n"
              "Fm: A 1,2\r\nTo: B\r\n\r\nx\r\n"
              "#: 123456 S5/Hardware (CIS:MYFORUM)\r\n    12-Jan-96\r\nSb: #123400-Re: printers\r\n"
              "Fm: A 1,2\r\nTo: B\r\n\r\ny\r\n"
              "#: 9000000 S5/X (CIS:MYFORUM)\r\n    12-Jan-96\r\nSb: big\r\nFm: A\r\nTo: B\r\n"
              "#: 12345678901234 S5/X (CIS:MYFORUM)\r\n    12-Jan-96\r\nSb: long\r\nFm: A\r\nTo: B\r\n"
              "#: 500 (P) S12/Modem talk (CIS:MYFORUM)\r\n    31-Xyz-96\r\nSb: marker\r\nFm: A\r\nTo: B\r\n"
              "#: 501 General chat\r\n    01-JAN-99\r\nSb: #499 low\r\nFm: A\r\nTo: B\r\n");
    ctx.settings.forumDb = ForumDb;
    ASSERT_EQ(run("OzWin I", f), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 4u);
    // More than 30000 below the message number: not a reference.
    EXPECT_EQ(byNumber(v, 160000)->h.REFNUMBER, 0u);
    EXPECT_EQ(s(byNumber(v, 160000)->h.HEADING), "123400-Re: printers");
    EXPECT_EQ(byNumber(v, 123456)->h.REFNUMBER, 123400u);
    EXPECT_EQ(s(byNumber(v, 123456)->h.HEADING), "Re: printers");
    EXPECT_EQ(ctx.skipped, 2u);
    const CisRecord* m = byNumber(v, 500);
    EXPECT_EQ(m->h.SECTIONNUMBER, 12);
    EXPECT_EQ(s(m->h.SEC_DESCRIPTION), "Modem talk");
    EXPECT_EQ(m->h.DATE, 0);  // unknown month
    // No forum on the line: the run's forum; no "/": section 0.
    const CisRecord* g = byNumber(v, 501);
    EXPECT_EQ(g->h.INTERNAL, ForumDb);
    EXPECT_EQ(g->h.SECTIONNUMBER, 0);
    EXPECT_EQ(s(g->h.SEC_DESCRIPTION), "General chat");
    EXPECT_EQ(g->h.DATE, dayNumber(1999, 1, 1));
    EXPECT_EQ(g->h.REFNUMBER, 499u);
}

TEST_F(CisText, LongFilesAreReadInWindowsAtMessageBoundaries) {
    std::string f = dir.path + "/long.msg", data;
    std::string longLine(950, 'w');
    for (int i = 1; i <= 700; ++i) {
        data += "#: " + std::to_string(1000 + i) + " S1/Gen (CIS:BIGFORUM)\n    05-May-97\nSb: m" +
                std::to_string(i) + "\nFm: A 1,2\nTo: B 3,4\n\nline one\n" + longLine + "\nline three\n";
    }
    writeFile(f, data);
    ASSERT_EQ(run("OzWin I", f, 50), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 700u);
    for (int i = 1; i <= 700; i += 233) {
        const CisRecord* r = byNumber(v, 1000 + i);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->text, "line one\r\n" + longLine + "\r\nline three\r\n");
    }
    EXPECT_EQ(ctx.progress, data.size());
}

TEST_F(CisText, DosConversionTable) {
    EXPECT_EQ(cis::dosTo1252(0x81), 0xFC);   // u umlaut
    EXPECT_EQ(cis::dosTo1252(0x9F), 0x83);   // florin
    EXPECT_EQ(cis::dosTo1252(0xC4), ' ');    // box drawing
    EXPECT_EQ(cis::dosTo1252(0xF2), '=');    // double low line
    EXPECT_EQ(cis::dosTo1252(0xF8), ' ');    // degree sign
    EXPECT_EQ(cis::dosTo1252(0xE1), 0xDF);   // sharp s
    EXPECT_EQ(cis::dosTo1252('A'), 'A');
}

TEST(CisSplit, FromAndToTexts) {
    std::string a, n;
    cis::splitForumPerson("John Smith 12345.678", a, n);
    EXPECT_EQ(a, "12345,678");
    EXPECT_EQ(n, "John Smith");
    cis::splitForumPerson("John Smith [12345,678]", a, n);
    EXPECT_EQ(a, "12345,678");
    EXPECT_EQ(n, "John Smith");
    cis::splitForumPerson("12345,678", a, n);
    EXPECT_EQ(a, "12345,678");
    EXPECT_EQ(n, "");
    cis::splitForumPerson("John Smith 12345, 678", a, n);
    EXPECT_EQ(a, "12345,678");
    cis::splitForumPerson("J. Smith", a, n);
    EXPECT_EQ(a, "");
    EXPECT_EQ(n, "J. Smith");
    cis::splitMailPerson("Sysop", a, n);
    EXPECT_EQ(a, "Sysop");
    EXPECT_EQ(n, "");
    cis::splitMailPerson("\"Jane Doe\" >INTERNET:jane@example.org", a, n);
    EXPECT_EQ(a, "jane@example.org");
    EXPECT_EQ(n, "Jane Doe");
    cis::splitMailPerson("Bill CSINET:bill@host.example", a, n);
    EXPECT_EQ(a, "bill");
    EXPECT_EQ(n, "Bill");
    cis::splitMailPerson("Web Master webmaster@site.example", a, n);
    EXPECT_EQ(a, "webmaster@site.example");
    EXPECT_EQ(n, "Web Master");
}
