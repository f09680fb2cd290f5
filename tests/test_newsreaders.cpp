// News readers: article boundaries, the news header parse with its temporary
// Message-ID numbers, newsgroup choice and recipients, and a pre-import of a
// real gatewayed archive.
#include <gtest/gtest.h>

#include <map>

#include "core/dates.h"
#include "internet/news.h"
#include "tests/internettest.h"

using namespace qb;

namespace {

class NewsReaders : public ReaderRun {
protected:
    // The Message-ID string that a temporary number was given to.
    std::string idOf(uint32_t number) {
        for (const auto& t : tempIds())
            if (t.number == number) return t.id;
        return {};
    }
    uint32_t numberOf(const std::string& id) {
        for (const auto& t : tempIds())
            if (t.id == id) return t.number;
        return 0;
    }
};

TEST_F(NewsReaders, ReferencesCrossPostsAndRecipients) {
    addDatabase(250010, "comp.b", 3, 2);
    ASSERT_TRUE(runText("Unix News",
                        "From news@host Mon Jan  1 00:00:00 1996\n"
                        "Newsgroups: comp.a,comp.b,comp.c\n"
                        "From: Ann <ann@x.org>\n"
                        "Subject: start\n"
                        "Date: Mon, 1 Jan 1996 10:00:00 +0000\n"
                        "Message-ID: <m1@x.org>\n"
                        "\n"
                        "first article\n"
                        ">From the mailbox quoting\n"
                        "\n"
                        "From news@host Mon Jan  1 00:00:00 1996\n"
                        "Newsgroups: x.one,x.two\n"
                        "From: bob@y.org (Bob)\n"
                        "Subject: Re: start\n"
                        "Date: Mon, 1 Jan 1996 11:00:00 +0000\n"
                        "Message-ID: <m2@y.org>\n"
                        "References: <m0@x.org> <m9@x.org>\n"
                        "\t<m1@x.org>\n"
                        "In-Reply-To: <other@x.org>\n"
                        "\n"
                        "\n"
                        "reply text\n"
                        "From news@host Mon Jan  1 00:00:00 1996\n"
                        "From: nogroup@y.org\n"
                        "Subject: mail in a news file\n"
                        "Date: Mon, 1 Jan 1996 12:00:00 +0000\n"
                        "\n"
                        "a mail\n",
                        KindNews));
    auto r = records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(ctx.skipped, 0u);
    EXPECT_EQ(r[2].h.INTERNAL, MailDbId);  // no newsgroup: a mail of the run's mail database

    EXPECT_EQ(r[0].h.FOR_DESCRIPTION.str(), "comp.b");  // the known group of the list
    EXPECT_EQ(r[0].h.SEC_DESCRIPTION.str(), "comp.b");
    EXPECT_EQ(r[0].h.SECTIONNUMBER, 1);
    EXPECT_EQ(r[0].h.R_NAME.str(), "All");
    EXPECT_EQ(r[0].h.R_CISADRESS.str(), "");
    EXPECT_EQ(r[0].h.REFNUMBER, 0u);
    EXPECT_EQ(idOf(r[0].h.MSGNUMBER), "<m1@x.org>");
    EXPECT_EQ(r[0].h.S_NAME.str(), "Ann");
    EXPECT_EQ(r[0].h.DATE, dayNumber(1996, 1, 1));
    EXPECT_EQ(r[0].text, "first article\r\nFrom the mailbox quoting\r\n");

    EXPECT_EQ(r[1].h.FOR_DESCRIPTION.str(), "x.one");  // none known: the first
    EXPECT_EQ(r[1].heading(), "start");
    EXPECT_EQ(r[1].h.R_NAME.str(), "Unknown");
    EXPECT_EQ(r[1].h.S_CISADRESS.str(), "bob@y.org");
    EXPECT_EQ(r[1].h.S_NAME.str(), "Bob");
    EXPECT_EQ(idOf(r[1].h.MSGNUMBER), "<m2@y.org>");
    // The last of the References (on a folded line), not In-Reply-To.
    EXPECT_EQ(idOf(r[1].h.REFNUMBER), "<m1@x.org>");
    EXPECT_NE(r[1].h.REFNUMBER, r[0].h.MSGNUMBER);  // a number of its own, matched by the store step
    EXPECT_EQ(r[1].text, "reply text\r\n");
    EXPECT_EQ(numberOf("<other@x.org>"), 0u);

    // The new group became a newsgroup database of the run.
    const TargetDb* created = ctx.target(r[1].h.INTERNAL);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->forumType, 3);
    EXPECT_EQ(created->newItem, 1);
}

TEST_F(NewsReaders, MailInNewsFilesGoesToTheMailDatabase) {
    const std::string file =
        "========\n"
        "Newsgroups: alt.test\n"
        "From: Ann <ann@x.org>\n"
        "Subject: an article\n"
        "Date: Mon, 1 Jan 1996 10:00:00 +0000\n"
        "Message-ID: <a1@x.org>\n"
        "\n"
        "article text\n"
        "========\n"
        "From: You\n"
        "To: Carl <Carl@Z.org>\n"
        "Subject: my question\n"
        "Date: Mon, 1 Jan 1996 11:00:00 +0000\n"
        "\n"
        "sent by me\n"
        "========\n"
        "From: Dora <dora@q.org>\n"
        "Subject: Re: my question\n"
        "Date: Tue, 2 Jan 1996 09:30:00 +0000\n"
        "\n"
        "received by me\n"
        "========\n"
        "Subject: from my other address\n"
        "From: Me Too <ME@work.example>\n"
        "To: dora@q.org (Dora) (X)\n"
        "Date: Tue, 2 Jan 1996 10:00:00 +0000\n"
        "\n"
        "sent from work\n";
    ASSERT_TRUE(runText("Agent News", file, KindNews));
    auto r = records();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(ctx.skipped, 0u);
    EXPECT_EQ(r[0].h.FOR_DESCRIPTION.str(), "alt.test");
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(r[i].h.INTERNAL, MailDbId);
        EXPECT_EQ(r[i].h.FOR_DESCRIPTION.str(), "My Mail");
        EXPECT_EQ(r[i].h.MSGNUMBER, r[i].h.REFNUMBER);
        EXPECT_EQ(r[i].h.RECIPTYPE.str(), "TO");
    }
    // "You" wrote it: sent, from the owner.
    EXPECT_EQ(r[1].h.MAILTYPE, 2);
    EXPECT_EQ(r[1].h.S_CISADRESS.str(), "me@home.example");
    EXPECT_EQ(r[1].h.S_NAME.str(), "My Mail");
    EXPECT_EQ(r[1].h.R_CISADRESS.str(), "carl@z.org");
    EXPECT_EQ(r[1].h.R_NAME.str(), "Carl");
    EXPECT_EQ(r[1].text, "sent by me\r\n");
    // Without a To line the owner received it.
    EXPECT_EQ(r[2].h.MAILTYPE, 1);
    EXPECT_EQ(r[2].h.S_CISADRESS.str(), "dora@q.org");
    EXPECT_EQ(r[2].h.R_CISADRESS.str(), "me@home.example");
    EXPECT_EQ(r[2].h.R_NAME.str(), "My Mail");
    EXPECT_EQ(r[2].heading(), "my question");
    EXPECT_EQ(r[2].h.DATE, dayNumber(1996, 1, 2));
    EXPECT_EQ(r[2].h.TIME, clockTime(9, 30, 0));
    // From one of the database's own addresses: sent, under its default address.
    EXPECT_EQ(r[3].h.MAILTYPE, 2);
    EXPECT_EQ(r[3].h.S_CISADRESS.str(), "me@home.example");
    EXPECT_EQ(r[3].h.R_CISADRESS.str(), "dora@q.org");
    EXPECT_EQ(r[3].h.R_NAME.str(), "Dora");

    // A run that takes no mail passes the mail over.
    ctx = ImportContext{};
    ctx.settings.reader = "Agent News";
    ctx.settings.mailDb = MailDbId;
    ctx.settings.importMail = false;
    ctx.loadTargets();
    ASSERT_TRUE(ctx.openTemporary());
    auto p = makeParser("Agent News");
    ParseStatus st = p->begin(dir.path + "/input.txt", ctx);
    while (st == ParseStatus::More) st = p->step(ctx, 10);
    EXPECT_EQ(ctx.written, 1u);
    EXPECT_EQ(ctx.skipped, 3u);
}

TEST_F(NewsReaders, MailInNetscapeNewsFilesNamesCompuServeUsers) {
    ASSERT_TRUE(runText("Netscape News",
                        "From: Jim Smith [76543.210]\n"
                        "To: You\n"
                        "Subject: cis mail\n"
                        "\n"
                        "hello from cis\n"
                        "\n"
                        "From: \"Kim Lee\" INTERNET:Kim@Q.org\n"
                        "Subject: net mail\n"
                        "Date: Mon, 1 Jan 1996 10:00:00 +0000\n"
                        "\n"
                        "hello from the net\n"
                        "\n"
                        "From: Joe Bloggs 71234.567\n"
                        "Subject: plain id\n"
                        "Date: Mon, 1 Jan 1996 11:00:00 +0000\n"
                        "\n"
                        "third\n"
                        "\n"
                        "From: a stray header line\n",
                        KindNews));
    auto r = records();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(ctx.skipped, 1u);  // the stray line is no mail
    EXPECT_EQ(r[0].h.S_CISADRESS.str(), "76543,210");
    EXPECT_EQ(r[0].h.S_NAME.str(), "Jim Smith");
    EXPECT_EQ(r[0].h.MAILTYPE, 1);
    EXPECT_EQ(r[0].h.R_CISADRESS.str(), "me@home.example");
    EXPECT_EQ(r[0].text, "hello from cis\r\n");
    EXPECT_EQ(r[1].h.S_CISADRESS.str(), "kim@q.org");
    EXPECT_EQ(r[1].h.S_NAME.str(), "Kim Lee");
    EXPECT_EQ(r[2].h.S_CISADRESS.str(), "71234,567");
    EXPECT_EQ(r[2].h.S_NAME.str(), "Joe Bloggs");

    std::string a, n;
    parseCompuServePerson("Ann <INTERNET:ann@x.org>", a, n);
    EXPECT_EQ(a, "ann@x.org");
    EXPECT_EQ(n, "Ann");
    parseCompuServePerson("Sysop", a, n);
    EXPECT_EQ(a, "");
    EXPECT_EQ(n, "Sysop");
}

TEST_F(NewsReaders, EqualSignSeparatorsWithCrLf) {
    ASSERT_TRUE(runText("Agent News",
                        "========\r\n"
                        "Newsgroups: alt.test\r\n"
                        "From: a@b.org\r\n"
                        "Subject: one\r\n"
                        "Message-ID: <1@b>\r\n"
                        "\r\n"
                        "text one\r\n"
                        "=========\r\n"
                        "========\r\n"
                        "Newsgroups: alt.test\r\n"
                        "From: c@d.org\r\n"
                        "Subject: two\r\n"
                        "\r\n"
                        "text two\r\n",
                        KindNews));
    auto r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].text, "text one\r\n=========\r\n");
    EXPECT_EQ(r[0].h.DATE, 0);  // no Date line
    EXPECT_EQ(r[1].heading(), "two");
    EXPECT_EQ(r[1].h.MSGNUMBER, 0u);  // no Message-ID
    EXPECT_EQ(tempIds().size(), 1u);
}

// An index record: 0xBC, 21 bytes, then the NUL-ended fields.
std::string indexRecord(const std::string& id, const std::string& subject, const std::string& from,
                        const std::string& refs, const std::string& group) {
    std::string r = "\xBC" + std::string(21, '\x01') + id + '\0' + subject + '\0' + from + '\0';
    r += refs.empty() ? std::string(1, '\0') : refs + '\0';
    r += "server.host ";
    r += group + ":1234" + '\0';
    return r;
}

TEST_F(NewsReaders, IndexedFileLinesCountAndIndexRecordValues) {
    std::string file = std::string(30, '\0') + "binary" +
                       indexRecord("<i1@x>", "Indexed subject", "Ix <ix@x.org>", "<p0@x> <p1@x>", "alt.indexed") +
                       "From: Real <real@x.org>\r\n"
                       "Date: 06 Dec 1999 12:30:00\r\n"
                       "Lines: 2\r\n"
                       "\r\n"
                       "body 1\r\n"
                       "body 2\r\n"
                       "body 3 beyond the count\r\n"
                       "From: nobody\r\n" +  // passed over: not after an article's end
                       indexRecord("<i2@x>", "Second", "S <s@x.org>", "", "alt.indexed") +
                       "Newsgroups: alt.own\r\n"
                       "Message-ID: <other@x>\r\n"
                       "From: s@x.org\r\n"
                       "Subject: own subject\r\n"
                       "Lines: 1\r\n"
                       "\r\n"
                       "only line" +
                       std::string(6, '\0') + "junk after six NULs\r\n";
    ASSERT_TRUE(runText("Outlook Express News", file, KindNews));
    auto r = records();
    ASSERT_EQ(r.size(), 2u);
    // The first article: no Newsgroups, Subject or Message-ID line; they come from its index record.
    EXPECT_EQ(r[0].h.FOR_DESCRIPTION.str(), "alt.indexed");
    EXPECT_EQ(r[0].heading(), "Indexed subject");
    EXPECT_EQ(r[0].h.S_CISADRESS.str(), "real@x.org");
    EXPECT_EQ(idOf(r[0].h.MSGNUMBER), "<i1@x>");
    EXPECT_EQ(idOf(r[0].h.REFNUMBER), "<p1@x>");
    EXPECT_EQ(r[0].h.R_NAME.str(), "Unknown");
    EXPECT_EQ(r[0].text, "body 1\r\nbody 2\r\n");
    // The line after the count was passed over; "From: nobody" started an article of its own
    // (a header line), which has no newsgroup and is skipped.
    EXPECT_EQ(ctx.skipped, 1u);
    // The second article's own Message-ID differs from its index record: the record is dropped.
    EXPECT_EQ(r[1].h.FOR_DESCRIPTION.str(), "alt.own");
    EXPECT_EQ(r[1].heading(), "own subject");
    EXPECT_EQ(idOf(r[1].h.MSGNUMBER), "<other@x>");
    EXPECT_EQ(r[1].text, "only line\r\n");
}

TEST_F(NewsReaders, PlainArticleFileWithoutLinesHeaders) {
    ASSERT_TRUE(runText("Netscape News",
                        "Newsgroups: alt.plain\n"
                        "From: a@x.org\n"
                        "Subject: one\n"
                        "\n"
                        "first body\n"
                        "From: quoted inside the body\n"
                        "\n"
                        "Newsgroups: alt.plain\n"
                        "From: b@x.org\n"
                        "Subject: two\n"
                        "\n"
                        "second body\n",
                        KindNews));
    auto r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].text, "first body\r\nFrom: quoted inside the body\r\n");
    EXPECT_EQ(r[1].heading(), "two");

    // A count one too high ends the article where the next one begins.
    ASSERT_TRUE(runText("Netscape News",
                        "Newsgroups: alt.plain\nFrom: a@x.org\nSubject: one\nLines: 3\n\nline 1\nline 2\n"
                        "Newsgroups: alt.plain\nFrom: b@x.org\nSubject: two\nLines: 1\n\nonly\n",
                        KindNews));
    r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].text, "line 1\r\nline 2\r\n");
    EXPECT_EQ(r[1].text, "only\r\n");
}

TEST_F(NewsReaders, GravityStreamNeedsAllFiveHeaders) {
    ASSERT_TRUE(runText("Gravity",
                        "From: a@x.org\n"
                        "Date: Mon, 1 Jan 1996 10:00:00 +0000\n"
                        "Subject: one\n"
                        "Newsgroups: alt.g\n"
                        "Message-ID: <g1@x>\n"
                        "\n"
                        "text\n"
                        "From: q@x.org\n"
                        "Date: Mon, 1 Jan 1996 10:00:00 +0000\n"
                        "Subject: quoted\n"
                        "Newsgroups: alt.g\n"
                        "\n"
                        "more\n"
                        "Path: a!b\n"
                        "From: b@x.org\n"
                        "Date: Mon, 1 Jan 1996 11:00:00 +0000\n"
                        "Subject: two\n"
                        "Newsgroups: alt.g\n"
                        "Message-ID: <g2@x>\n"
                        "\n"
                        "text two\n",
                        KindNews));
    auto r = records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].text, "text\r\nFrom: q@x.org\r\nDate: Mon, 1 Jan 1996 10:00:00 +0000\r\nSubject: quoted\r\n"
                         "Newsgroups: alt.g\r\n\r\nmore\r\n");
    EXPECT_EQ(r[1].heading(), "two");
    EXPECT_EQ(idOf(r[1].h.MSGNUMBER), "<g2@x>");
}

TEST_F(NewsReaders, SampleArchivePreImport) {
    std::string path = sharedDataFile("linux-mips-1996-sample-news.mbox");
    if (path.empty()) GTEST_SKIP() << "sample archive linux-mips-1996-sample-news.mbox not found (looked next to "
                                      "the source tree and in /work/shared/data)";
    ASSERT_TRUE(run("Unix News", path, KindNews, 200));
    auto r = records();
    // 3000 articles, 3000 temporary records; 5150 temporary ID rows (Message-IDs and references).
    EXPECT_EQ(ctx.written, 3000u);
    EXPECT_EQ(ctx.skipped, 0u);
    ASSERT_EQ(r.size(), 3000u);
    auto ids = tempIds();
    EXPECT_EQ(ids.size(), 5150u);

    // The gateway's group comes first in every article; cross-posted patches go to the
    // group already known, so one newsgroup database is made.
    std::map<std::string, int> groups;
    for (const auto& m : r) ++groups[m.h.FOR_DESCRIPTION.str()];
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups["linux.ports.mips"], 3000);

    EXPECT_EQ(r[1].heading(), "a chuckle for you");
    EXPECT_EQ(r[1].h.S_CISADRESS.str(), "lm@neteng.engr.sgi.com");
    EXPECT_EQ(r[1].h.S_NAME.str(), "Larry McVoy");
    EXPECT_EQ(r[1].h.R_NAME.str(), "All");
    EXPECT_EQ(r[1].h.DATE, dayNumber(1996, 2, 28));
    EXPECT_EQ(r[1].h.TIME, clockTime(10, 16, 30));
    EXPECT_EQ(r[1].text.substr(0, 24), "Linus has a 300Mhz Alpha");
    std::map<uint32_t, std::string> byNumber;
    for (const auto& t : ids) byNumber[t.number] = t.id;
    EXPECT_EQ(byNumber[r[1].h.MSGNUMBER], "<199602281816.KAA03916@neteng.engr.sgi.com>");

    // William J. Earl's reply whose References line is folded: its parent is the last one.
    bool seen = false;
    for (const auto& m : r) {
        if (byNumber[m.h.MSGNUMBER] != "<199604231635.JAA13693@fir.esd.sgi.com>") continue;
        seen = true;
        EXPECT_EQ(m.heading(), "David Miller is on the list");
        EXPECT_EQ(m.h.S_NAME.str(), "William J. Earl");
        EXPECT_EQ(m.h.R_NAME.str(), "Unknown");
        EXPECT_EQ(byNumber[m.h.REFNUMBER], "<199604230140.VAA03615@huahaga.rutgers.edu>");
        EXPECT_EQ(m.h.DATE, dayNumber(1996, 4, 23));
    }
    EXPECT_TRUE(seen);
}

} // namespace

namespace {

class NewsImport : public WholeImport {};

TEST_F(NewsImport, SampleArchiveIntoNewsgroupDatabases) {
    std::string path = sharedDataFile("linux-mips-1996-sample-news.mbox");
    if (path.empty()) GTEST_SKIP() << "sample archive linux-mips-1996-sample-news.mbox not found";
    // With the patches group known, cross-posted patches go there (the first known group).
    addNewsgroup(260001, "linux.kernel.patches", 50);
    ImportTotals t = import("Unix News", KindNews, path);
    ASSERT_FALSE(failed);
    EXPECT_EQ(t.tempRecords, 3000u);

    std::map<std::string, int64_t> stored;
    std::map<std::string, int64_t> replies;
    for (auto [id, name] : databases(3)) {
        ASSERT_TRUE(selectDatabase(id));
        OP_CLOSE(OpOpenShared, MsgNmbr.number(), MessageIds.number());
        stored[name] = MsgNmbr.records();
        MsgNmbr.setFile();
        while (MsgNmbr.next()) replies[name] += MSG.REFNUMBER != 0;
        if (name == "linux.ports.mips") {
            // William J. Earl's reply sits in the thread of the article it answers.
            MessageIds.clearBuffer();
            MST.IDSTRING.set("<199604231635.JAA13693@fir.esd.sgi.com>");
            ASSERT_TRUE(MessageIds.get(MST_IDSTRINGKEY));
            MsgNmbr.clearBuffer();
            MSG.MSGNUMBER = MST.MSGNUMBER;
            ASSERT_TRUE(MsgNmbr.get(MSG_IdKey));
            uint32_t parent = MSG.REFNUMBER, thread = MSG.THREADNUMBER;
            ASSERT_NE(parent, 0u);
            MessageIds.clearBuffer();
            MST.IDSTRING.set("<199604230140.VAA03615@huahaga.rutgers.edu>");
            ASSERT_TRUE(MessageIds.get(MST_IDSTRINGKEY));
            EXPECT_EQ(MST.MSGNUMBER, parent);
            MsgNmbr.clearBuffer();
            MSG.MSGNUMBER = parent;
            ASSERT_TRUE(MsgNmbr.get(MSG_IdKey));
            EXPECT_EQ(MSG.THREADNUMBER, thread);
        }
        OP_CLOSE(OpClose, MsgNmbr.number(), MessageIds.number());
        clearActiveDatabase();
    }
    // 2995 stored: 2991 in linux.ports.mips and the 4 cross-posted patches in
    // linux.kernel.patches; 5 are the same article again (one Message-ID sent five
    // times, another twice). 2142 of the 2991 and 3 of the 4 answer an article.
    EXPECT_EQ(t.stored, 2995u);
    EXPECT_EQ(t.skipped, 5u);
    EXPECT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored["linux.ports.mips"], 2991);
    EXPECT_EQ(stored["linux.kernel.patches"], 4);
    EXPECT_EQ(replies["linux.ports.mips"], 2142);
    EXPECT_EQ(replies["linux.kernel.patches"], 3);
}

} // namespace
