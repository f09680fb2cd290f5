// The binary filing files: WinCIM, DOSCIM and CSNav message files and the
// CompuServe 3.x filing cabinet.
#include "core/dates.h"
#include "tests/cis_testutil.h"

using namespace qb;

namespace {

class CisFiling : public CisImport {};

std::string s(const auto& f) { return f.str(); }

} // namespace

TEST_F(CisFiling, ForumMessageFilesInBothLayouts) {
    ASSERT_EQ(run("WinCIM", cisSample("wincim/PRINTERS.THD")), ParseStatus::Done);
    ASSERT_EQ(run("DOSCIM", cisSample("doscim/SHORT.MSG")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 2u);
    const CisRecord* a = byNumber(v, 123500);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->h.REFNUMBER, 123456u);
    EXPECT_EQ(s(a->h.FOR_DESCRIPTION), "MYFORUM");
    EXPECT_EQ(forumName(a->h.INTERNAL), "MYFORUM");
    EXPECT_EQ(a->h.SECTIONNUMBER, 5);
    EXPECT_EQ(s(a->h.SEC_DESCRIPTION), "Hardware");
    EXPECT_EQ(s(a->h.HEADING), "Laser printer jams");
    EXPECT_EQ(s(a->h.S_NAME), "Kim Lee");
    EXPECT_EQ(s(a->h.S_CISADRESS), "76000,111");
    EXPECT_EQ(s(a->h.R_NAME), "John Smith");
    EXPECT_EQ(s(a->h.R_CISADRESS), "12345,678");
    EXPECT_EQ(a->h.DATE, dayNumber(1996, 1, 14));
    // "@l" dropped, the soft break and the bare line feeds become CR LF,
    // line ends trimmed at the end.
    EXPECT_EQ(a->text, "Try a new drum.\r\nIt fixed mine.\r\n\r\nKim");
    const CisRecord* b = byNumber(v, 124000);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->h.INTERNAL, a->h.INTERNAL);
    EXPECT_EQ(b->h.REFNUMBER, 123500u);
    EXPECT_EQ(s(b->h.HEADING), "Drums again");
    EXPECT_EQ(s(b->h.S_NAME), "John Smith");
    EXPECT_EQ(s(b->h.R_CISADRESS), "76000,111");
    EXPECT_EQ(b->h.DATE, dayNumber(1996, 1, 15));
    EXPECT_EQ(b->text, "Thanks, the drum helped.");  // the text length is kept to
}

TEST_F(CisFiling, ReceivedMailWithCopies) {
    ASSERT_EQ(run("WinCIM", cisSample("wincim/MAILIN.MSG")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 1u);
    const auto& h = v[0].h;
    EXPECT_EQ(h.INTERNAL, MailDb);
    EXPECT_EQ(h.MAILTYPE, 1);
    EXPECT_EQ(s(h.HEADING), "Project plan");
    EXPECT_EQ(s(h.S_NAME), "John Smith");
    EXPECT_EQ(s(h.S_CISADRESS), "12345,678");
    EXPECT_EQ(s(h.R_NAME), "Ann Owner");
    EXPECT_EQ(s(h.R_CISADRESS), "71234,567");
    EXPECT_EQ(s(h.RECIPTYPE), "TO");
    EXPECT_EQ(h.DATE, dayNumber(1996, 2, 1));
    EXPECT_EQ(h.TIME, clockTime(9, 30, 15));
    EXPECT_EQ(v[0].text, "Here is the plan.\r\nSee the CC list.");
    auto cc = copies();
    ASSERT_EQ(cc.size(), 2u);
    for (const auto& c : cc) EXPECT_EQ(c.MAILID, h.REFNUMBER);
    EXPECT_EQ(s(cc[0].R_CISADRESS), "71234,567");
    EXPECT_EQ(s(cc[0].RECIPTYPE), "TO");
    EXPECT_EQ(s(cc[1].R_NAME), "Jane Doe");
    EXPECT_EQ(s(cc[1].R_CISADRESS), "jane@example.org");
    EXPECT_EQ(s(cc[1].RECIPTYPE), "CC");
}

TEST_F(CisFiling, SentMailIsWrittenOncePerReceiver) {
    ASSERT_EQ(run("WinCIM", cisSample("wincim/MAILOUT.MSG")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_TRUE(copies().empty());
    for (const auto& r : v) {
        EXPECT_EQ(r.h.MAILTYPE, 2);
        EXPECT_EQ(s(r.h.S_NAME), "Ann Owner");
        EXPECT_EQ(s(r.h.S_CISADRESS), "71234,567");
        EXPECT_EQ(r.h.MSGNUMBER, r.h.REFNUMBER);
        EXPECT_EQ(r.text, "Budget figures attached.");
    }
    EXPECT_EQ(v[1].h.MSGNUMBER, v[0].h.MSGNUMBER + 1);
    EXPECT_EQ(v[2].h.MSGNUMBER, v[0].h.MSGNUMBER + 2);
    EXPECT_EQ(s(v[0].h.R_NAME), "Bob White");
    EXPECT_EQ(s(v[0].h.RECIPTYPE), "TO");
    EXPECT_EQ(s(v[1].h.R_CISADRESS), "72000,444");  // point form of an ID
    EXPECT_EQ(s(v[1].h.RECIPTYPE), "CC");
    EXPECT_EQ(s(v[2].h.R_NAME), "Dave Grey");
    EXPECT_EQ(s(v[2].h.RECIPTYPE), "BC");
}

TEST_F(CisFiling, InternetMailTextIsConvertedAndOtherFilesGiveNothing) {
    ASSERT_EQ(run("CSNav", cisSample("csnav/CSNAV.PLX")), ParseStatus::Done);
    ASSERT_EQ(run("WinCIM", cisSample("wincim/INTERNET.MSG")), ParseStatus::Done);
    ASSERT_EQ(run("WinCIM", cisSample("wincim/NOTAMESSAGE.MSG")), ParseStatus::Done);
    std::string junk = dir.path + "/junk.msg";
    writeFile(junk, "this is just text, not a filing file");
    ASSERT_EQ(run("WinCIM", junk), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(s(v[0].h.HEADING), "Minutes");
    EXPECT_EQ(v[0].text, "Minutes of the meeting.");
    EXPECT_EQ(s(v[1].h.S_CISADRESS), "bob@example.net");
    EXPECT_EQ(s(v[1].h.S_NAME), "");  // the name only repeated the address
    // The header lines stay in the text; the body is decoded on its own.
    EXPECT_EQ(v[1].text,
              "Received: from mail.example.net by cis\r\nFrom: Bob <bob@example.net>\r\nSubject: Hello from the net\r\n"
              "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
              "Gr\xFC\xDF" "e aus Berlin.");
}

TEST_F(CisFiling, MailTextThatBeginsLikeAHeaderIsKeptWhole) {
    // A WinCIM mail whose own text begins with "To:" and has no empty line.
    std::string mail = readFile(cisSample("wincim/MAILIN.MSG"));
    size_t text = mail.find("Here is the plan.");
    ASSERT_NE(text, std::string::npos);
    std::string f = dir.path + "/TOALL.MSG";
    writeFile(f, mail.substr(0, text) + "To: all members of the club\r\nThe meeting moves to Friday.\r\n"
                                        "Date: to be confirmed\r\n");
    ASSERT_EQ(run("WinCIM", f), ParseStatus::Done);
    // And one that holds an empty line after its first lines.
    writeFile(f, mail.substr(0, text) + "From: the desk of Jane\r\n\r\nPlease call me.\r\n");
    ASSERT_EQ(run("WinCIM", f), ParseStatus::Done);
    // A filing cabinet mail whose text is "Date: Monday, 8pm".
    std::string cab = readFile(cisSample("compuserve3/FCABINET.DAT"));
    size_t note = cab.find("See you at eight.");
    ASSERT_NE(note, std::string::npos);
    cab.replace(note, 17, "Date: Monday, 8pm");
    std::string c = dir.path + "/FCABINET.DAT";
    writeFile(c, cab);
    ASSERT_EQ(run("CompuServe 3.x", c), ParseStatus::Done);

    auto v = records();
    ASSERT_GE(v.size(), 3u);
    EXPECT_EQ(v[0].text, "To: all members of the club\r\nThe meeting moves to Friday.\r\nDate: to be confirmed");
    EXPECT_EQ(v[1].text, "From: the desk of Jane\r\n\r\nPlease call me.");
    bool found = false;
    for (const auto& r : v)
        if (s(r.h.HEADING) == "Short note") {
            EXPECT_EQ(r.text, "Date: Monday, 8pm");
            found = true;
        }
    EXPECT_TRUE(found);
}

TEST_F(CisFiling, CutShortFilesDoNotReadPastTheirEnd) {
    std::string whole = readFile(cisSample("wincim/PRINTERS.THD"));
    std::string mail = readFile(cisSample("wincim/MAILIN.MSG"));
    for (size_t n : {size_t(12), size_t(40), size_t(90), whole.size() - 40}) {
        std::string f = dir.path + "/cut" + std::to_string(n);
        writeFile(f, whole.substr(0, n));
        EXPECT_EQ(run("WinCIM", f), ParseStatus::Done);
        writeFile(f + "m", mail.substr(0, std::min(n, mail.size())));
        EXPECT_EQ(run("WinCIM", f + "m"), ParseStatus::Done);
    }
    // A forum message cut before its text counts as skipped, never as a
    // record with a made-up number.
    for (const auto& r : records()) EXPECT_TRUE(r.h.MSGNUMBER == 123500 || r.h.INTERNAL == MailDb);
}

TEST_F(CisFiling, ForumFilesAreSkippedWhenOnlyMailIsWanted) {
    ctx.settings.importForum = false;
    ASSERT_EQ(run("WinCIM", cisSample("wincim/PRINTERS.THD")), ParseStatus::Done);
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(ctx.skipped, 1u);
    EXPECT_TRUE(ctx.routed.empty());
}

TEST_F(CisFiling, FilingCabinetForumMessagesAndMail) {
    ASSERT_EQ(run("CompuServe 3.x", cisSample("compuserve3/FCABINET.DAT")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 7u);
    const CisRecord* a = byNumber(v, 130001);
    const CisRecord* b = byNumber(v, 130005);
    const CisRecord* c = byNumber(v, 880001);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(s(a->h.FOR_DESCRIPTION), "MYFORUM");
    EXPECT_EQ(s(a->h.SEC_DESCRIPTION), "Supplies and toner for all pri");
    EXPECT_EQ(a->h.SECTIONNUMBER, 3);
    EXPECT_EQ(a->h.DATE, dayNumber(1997, 5, 6));
    EXPECT_EQ(s(a->h.S_NAME), "Kim Lee");
    EXPECT_EQ(s(a->h.S_CISADRESS), "76000,111");
    EXPECT_EQ(a->text, "Where is toner cheapest?\r\nKim");
    EXPECT_EQ(b->h.REFNUMBER, 130001u);
    EXPECT_EQ(s(b->h.R_NAME), "Kim Lee");
    EXPECT_EQ(b->text, "Mail order.");
    EXPECT_EQ(s(c->h.FOR_DESCRIPTION), "MODEMFORUM");
    EXPECT_NE(c->h.INTERNAL, a->h.INTERNAL);

    // Received mail to several: stored once, every receiver a copy.
    const CisRecord* in = nullptr;
    std::vector<const CisRecord*> out;
    const CisRecord* note = nullptr;
    for (const auto& r : v) {
        if (r.h.INTERNAL != MailDb) continue;
        if (r.h.MAILTYPE == 1 && s(r.h.HEADING) == "Visit") in = &r;
        if (r.h.MAILTYPE == 2) out.push_back(&r);
        if (s(r.h.HEADING) == "Short note") note = &r;
    }
    ASSERT_TRUE(in && note);
    EXPECT_EQ(s(in->h.S_NAME), "Bob White");
    EXPECT_EQ(s(in->h.S_CISADRESS), "bob@example.net");
    EXPECT_EQ(s(in->h.R_CISADRESS), "71234,567");
    EXPECT_EQ(in->h.TIME, clockTime(9, 15, 20));
    EXPECT_EQ(in->text, "We arrive on Monday.");
    auto cc = copies();
    ASSERT_EQ(cc.size(), 2u);
    EXPECT_EQ(cc[0].MAILID, in->h.REFNUMBER);
    EXPECT_EQ(s(cc[1].R_CISADRESS), "carol@example.com");
    EXPECT_EQ(s(cc[1].RECIPTYPE), "CC");
    // Sent mail to two: two records with their own IDs.
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1]->h.MSGNUMBER, out[0]->h.MSGNUMBER + 1);
    EXPECT_EQ(s(out[0]->h.R_NAME), "Bob White");
    EXPECT_EQ(s(out[1]->h.R_CISADRESS), "72000,444");
    EXPECT_EQ(s(out[0]->h.S_NAME), "Ann Owner");
    // A text of kind 3 lives in the header.
    EXPECT_EQ(note->text, "See you at eight.");
    EXPECT_EQ(note->h.MAILTYPE, 1);
}

TEST_F(CisFiling, AFileWithoutCabinetRecordsIsRefused) {
    std::string f = dir.path + "/FCABINET.DAT";
    writeFile(f, std::string(500, 'x') + "~CS~FCR~tiny");
    EXPECT_EQ(run("CompuServe 3.x", f), ParseStatus::NotThisReader);
    EXPECT_EQ(lastFail, f + " is not a CompuServe 3.x file!\r\nThis file will be skipped!");
}

TEST_F(CisFiling, CabinetMarkersAcrossReadChunksAreFoundOnce) {
    // Records far apart so that the first pass reads the file in several chunks.
    std::string one = readFile(cisSample("compuserve3/FCABINET.DAT"));
    size_t first = one.find("~CS~FCR~"), second = one.find("~CS~FCR~", first + 1);
    std::string rec = one.substr(first, second - first);
    std::string data = rec + std::string((1 << 22) - rec.size() - 3, ' ') + rec;
    std::string f = dir.path + "/big.dat";
    writeFile(f, data);
    ASSERT_EQ(run("CompuServe 3.x", f), ParseStatus::Done);
    // The same message twice in one file: both records are read.
    auto v = records();
    EXPECT_EQ(v.size(), 2u);
    for (const auto& r : v) EXPECT_EQ(r.h.MSGNUMBER, 130001u);
}
