// VirtualAccess and the NavCIS Save format.
#include "core/dates.h"
#include "tests/cis_testutil.h"

using namespace qb;

namespace {

class CisTextOther : public CisImport {};

std::string s(const auto& f) { return f.str(); }

} // namespace

TEST_F(CisTextOther, VirtualAccessForumMailAndNews) {
    ASSERT_EQ(run("VirtualAccess", cisSample("virtualaccess/MESSAGES")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 5u);
    EXPECT_EQ(ctx.skipped, 1u);  // the block without a message line
    const CisRecord* a = byNumber(v, 123470);
    const CisRecord* b = byNumber(v, 123475);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(s(a->h.FOR_DESCRIPTION), "MYFORUM");
    EXPECT_EQ(a->h.SECTIONNUMBER, 5);
    EXPECT_EQ(s(a->h.SEC_DESCRIPTION), "Hardware");
    EXPECT_EQ(a->h.REFNUMBER, 123456u);
    EXPECT_EQ(a->h.DATE, dayNumber(1996, 1, 16));
    EXPECT_EQ(s(a->h.HEADING), "Re: Laser printer jams");
    EXPECT_EQ(s(a->h.S_NAME), "Kim Lee");
    EXPECT_EQ(s(a->h.S_CISADRESS), "76000,111");
    EXPECT_EQ(s(a->h.R_CISADRESS), "12345,678");
    EXPECT_EQ(a->text, "Did the new drum help?\r\nKim\r\n");
    EXPECT_EQ(b->h.REFNUMBER, 123470u);
    EXPECT_EQ(b->h.INTERNAL, a->h.INTERNAL);

    const CisRecord* in = nullptr;
    const CisRecord* out = nullptr;
    const CisRecord* news = nullptr;
    for (const auto& r : v) {
        if (r.h.INTERNAL == MailDb) (r.h.MAILTYPE == 1 ? in : out) = &r;
        else if (s(r.h.FOR_DESCRIPTION) == "comp.archives.misc") news = &r;
    }
    ASSERT_TRUE(in && out && news);
    EXPECT_EQ(s(in->h.S_NAME), "Lena Berg");
    EXPECT_EQ(s(in->h.S_CISADRESS), "lena@berg.example");
    EXPECT_EQ(s(in->h.R_NAME), "Ann Owner");
    EXPECT_EQ(in->h.TIME, clockTime(19, 30, 0));
    EXPECT_EQ(in->text, "V\xE4lkommen till stugan i juli!\r\n");
    auto cc = copies();
    ASSERT_EQ(cc.size(), 2u);
    EXPECT_EQ(cc[1].MAILID, in->h.REFNUMBER);
    EXPECT_EQ(s(cc[1].R_NAME), "Olaf Berg");
    EXPECT_EQ(s(cc[1].RECIPTYPE), "CC");
    EXPECT_EQ(out->h.MAILTYPE, 2);
    EXPECT_EQ(s(out->h.S_NAME), "Ann Owner");
    EXPECT_EQ(s(out->h.R_CISADRESS), "lena@berg.example");
    EXPECT_EQ(news->h.SECTIONNUMBER, 1);
    EXPECT_EQ(ctx.target(news->h.INTERNAL)->forumType, 3);
    EXPECT_NE(news->h.MSGNUMBER, 0u);
    EXPECT_EQ(s(news->h.S_CISADRESS), "oscar@owl.example");
}

TEST_F(CisTextOther, NavcisSaveForumFile) {
    ASSERT_EQ(run("NavCIS Save format", cisSample("navcis-save/FORUM.SAV")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 2u);
    const CisRecord* a = byNumber(v, 123480);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->h.REFNUMBER, 123456u);
    EXPECT_EQ(s(a->h.HEADING), "Laser printer jams");
    EXPECT_EQ(s(a->h.FOR_DESCRIPTION), "MYFORUM");
    EXPECT_EQ(a->h.SECTIONNUMBER, 5);
    EXPECT_EQ(s(a->h.SEC_DESCRIPTION), "Hardware");
    EXPECT_EQ(a->h.DATE, dayNumber(1996, 1, 18));
    EXPECT_EQ(s(a->h.S_CISADRESS), "75000,222");
    EXPECT_EQ(s(a->h.R_NAME), "John Smith");
    EXPECT_EQ(a->text, "Replace the fuser assembly.\r\n\r\n");
    EXPECT_EQ(byNumber(v, 123490)->h.REFNUMBER, 0u);
}

TEST_F(CisTextOther, NavcisSaveMailFile) {
    ASSERT_EQ(run("NavCIS Save format", cisSample("navcis-save/MAIL.SAV")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].h.MAILTYPE, 1);
    EXPECT_EQ(s(v[0].h.S_NAME), "Paper Shop");
    EXPECT_EQ(v[0].h.TIME, clockTime(10, 15, 0));
    auto cc = copies();
    ASSERT_EQ(cc.size(), 2u);
    EXPECT_EQ(s(cc[1].R_CISADRESS), "72000,333");
    EXPECT_EQ(s(cc[1].RECIPTYPE), "CC");  // a "Cc:" receiver is a copy, not a blind one
    EXPECT_EQ(v[1].h.MAILTYPE, 2);
    EXPECT_EQ(v[1].h.TIME, clockTime(8, 30, 0));
    EXPECT_EQ(s(v[1].h.R_NAME), "Paper Shop");
    EXPECT_EQ(v[1].text, "Thank you!\r\n");
}

TEST_F(CisTextOther, NavcisSaveCopiesAndBlindCopiesKeepTheirKinds) {
    std::string f = dir.path + "/SENT.SAV";
    writeFile(f,
              "Subject:  Meeting\r\n"
              "   From:  Ann Owner 71234,567\r\n"
              "     To:  Paper Shop 76500,100\r\n"
              "     Cc:  Bob White 72000,333\r\n"
              "    Bcc:  Carol Black 72000,444\r\n"
              "   Date:  22-Jan-96 9:00\r\n"
              "\r\n"
              "See you at nine.\r\n");
    ASSERT_EQ(run("NavCIS Save format", f), ParseStatus::Done);
    auto v = records();
    // Sent to three: one record per receiver, each with its kind.
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(s(v[0].h.RECIPTYPE), "TO");
    EXPECT_EQ(s(v[1].h.R_CISADRESS), "72000,333");
    EXPECT_EQ(s(v[1].h.RECIPTYPE), "CC");
    EXPECT_EQ(s(v[2].h.R_CISADRESS), "72000,444");
    EXPECT_EQ(s(v[2].h.RECIPTYPE), "BC");
}

TEST_F(CisTextOther, NavcisSaveRefusesOtherFiles) {
    EXPECT_EQ(run("NavCIS Save format", cisSample("ozwin1/MYFORUM.MSG")), ParseStatus::NotThisReader);
    EXPECT_EQ(lastFail, "Not a Forum message or mail file!\r\nMessages will not be imported!");
    EXPECT_TRUE(records().empty());
}
