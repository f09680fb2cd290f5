// Export of messages and addresses in the library: scopes, file names,
// targets, code page 850, date range, append, the mailbox form of the Unix
// files and the batch operations over a scope.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/dates.h"
#include "reading/browseview.h"
#include "reading/export.h"
#include "reading/topics.h"
#include "tests/reading_fixture.h"

using namespace qb;
using qb::testing::ReadingDb;

namespace {

size_t countOf(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
}

// Runs an export to its end; the number of messages written.
long long exportAll(uint8_t mode, uint8_t scope, uint32_t id, const std::string& a, const std::string& b,
                    int32_t from = 0, int32_t to = 0, uint32_t flags = 0) {
    uint8_t more = CopyMsg(mode, scope, 1, id, a, b, from, to, flags);
    while (more) more = CopyMsg(mode, scope, 2, id, a, b, from, to, flags);
    CopyMsg(mode, scope, 3, id, a, b, from, to, flags);
    return exportStatus().failed ? -1 : static_cast<long long>(exportStatus().count);
}

class ExportMail : public ReadingDb {
protected:
    void SetUp() override {
        ReadingDb::SetUp();
        makeDatabase(2, "Home Mail", 300000, 1, 100);
        beginBulk();
        addPerson(100, "Ann", "Owner", "ann@home.example");
        addPerson(101, "Jos\xE9", "Baker", "76543,210");
        addPerson(102, "", "Cole", "cole@example.org");
        // Mail 1000-1005: odd ones sent by the owner to Baker, even ones
        // received from Baker; 1006 from Cole.
        for (uint32_t i = 0; i < 6; ++i) {
            const bool sent = i % 2;
            addMail(1000 + i, dayNumber(1996, 3, 1) + static_cast<int32_t>(i), clockTime(9, 5, 7),
                    "Mail " + std::to_string(i), sent ? 100 : 101, sent ? "Owner" : "Baker", sent ? 101 : 100,
                    sent ? "Baker" : "Owner", 100);
            addText(1000 + i, "Body of mail " + std::to_string(i) + "\r\n");
        }
        addMail(1006, dayNumber(1996, 4, 1), clockTime(10, 0, 0), "From Cole", 102, "Cole", 100, "Owner", 100);
        addText(1006, "Caf\xE9 \x92quoted\x92\r\nFrom the start of a line\r\n>From quoted before\r\n");
        endBulk();
        renderSettings() = RenderSettings{};
    }
    std::string temp(const std::string& name) { return Mem.TempDir + "/" + name; }
};

} // namespace

TEST_F(ExportMail, EudoraSplitsReceivedAndSentTapcisTakesOneFile) {
    renderSettings().mailTarget = TargetEudora;
    ASSERT_EQ(exportAll(1, ScopeAll, 0, "InBox.MBX", "OutBox.MBX"), 7);
    const std::string in = readFile(temp("InBox.MBX")), out = readFile(temp("OutBox.MBX"));
    EXPECT_EQ(countOf(in, "From ???@???"), 4u);
    EXPECT_EQ(countOf(out, "From ???@???"), 3u);
    EXPECT_NE(in.find("Subject: Mail 0\r\n"), std::string::npos);
    EXPECT_NE(out.find("Subject: Mail 1\r\n"), std::string::npos);
    EXPECT_EQ(out.find("Subject: Mail 0\r\n"), std::string::npos);
    // Oldest first: mail 0 before mail 2 before mail 4.
    EXPECT_LT(in.find("Mail 0"), in.find("Mail 2"));
    EXPECT_LT(in.find("Mail 2"), in.find("Mail 4"));

    renderSettings().mailTarget = TargetTapcis;
    ASSERT_EQ(exportAll(1, ScopeAll, 0, "SaveMail.Txt", "OutBox.MBX"), 7);
    const std::string tap = readFile(temp("SaveMail.Txt"));
    EXPECT_EQ(countOf(tap, "S0/CompuServe Mail  [MAIL]"), 7u);
    // The header, an empty line, the body and an empty line.
    EXPECT_NE(tap.find("To: Ann Owner > INTERNET:ann@home.example\r\n\r\nBody of mail 0\r\n\r\n#: "),
              std::string::npos);
    // TAPCIS files are in code page 850: "é" is 130, the typographic apostrophe 247.
    EXPECT_NE(tap.find("Caf\x82 \xF7quoted\xF7"), std::string::npos);
    EXPECT_NE(tap.find("Fm: Jos\x82 Baker 76543,210"), std::string::npos);
    EXPECT_EQ(tap.find('\xE9'), std::string::npos);
}

TEST_F(ExportMail, UnixFilesAreMailboxes) {
    renderSettings().mailTarget = TargetUnix;
    ASSERT_EQ(exportAll(1, ScopeAll, 0, "InBox.MBX", "OutBox.MBX"), 7);
    const std::string in = readFile(temp("InBox.MBX"));
    // Each message starts with a "From " line naming the sender and the date.
    // Names beyond ASCII are encoded words.
    EXPECT_EQ(in.rfind("From 76543.210@compuserve.com Fri Mar 01 09:05:07 1996\r\nFrom: "
                       "=?windows-1252?Q?Jos=E9_Baker?= <76543.210@compuserve.com>\r\n"
                       "Date: Fri, 01 Mar 1996 09:05:07\r\n",
                       0),
              0u);
    // Body lines that would start a message are quoted once more.
    EXPECT_NE(in.find("\r\n>From the start of a line\r\n>>From quoted before\r\n"), std::string::npos);
    EXPECT_EQ(countOf(in, "\r\nFrom "), 3u);  // the three other messages' "From " lines
}

TEST_F(ExportMail, ScopesDateRangeAndAppend) {
    renderSettings().mailTarget = TargetUnix;
    // The sender of mail 1002 (Baker) sent 1000, 1002, 1004.
    ASSERT_EQ(exportAll(1, ScopeSender, 1002, "a.mbx", ""), 3);
    std::string a = readFile(temp("a.mbx"));
    EXPECT_EQ(countOf(a, "Subject: "), 3u);
    EXPECT_LT(a.find("Mail 0"), a.find("Mail 4"));
    // The partner of mail 1006 is Cole alone.
    ASSERT_EQ(exportAll(1, ScopeThread, 1006, "a.mbx", ""), 1);
    // The current mail alone.
    ASSERT_EQ(exportAll(1, ScopeCurrent, 1003, "a.mbx", ""), 1);
    EXPECT_NE(readFile(temp("a.mbx")).find("Subject: Mail 3"), std::string::npos);

    // A message outside the range is neither written nor counted.
    ASSERT_EQ(exportAll(1, ScopeAll, 0, "r.mbx", "", dayNumber(1996, 3, 2), dayNumber(1996, 3, 3), ExportDateRange),
              2);
    const std::string r = readFile(temp("r.mbx"));
    EXPECT_NE(r.find("Mail 1"), std::string::npos);
    EXPECT_NE(r.find("Mail 2"), std::string::npos);
    EXPECT_EQ(r.find("Mail 0"), std::string::npos);

    // Appending to a missing file creates it; appending again adds to it.
    ASSERT_FALSE(std::filesystem::exists(temp("new.mbx")));
    ASSERT_EQ(exportAll(2, ScopeCurrent, 1000, "new.mbx", ""), 1);
    const std::string once = readFile(temp("new.mbx"));
    ASSERT_EQ(exportAll(2, ScopeCurrent, 1000, "new.mbx", ""), 1);
    EXPECT_EQ(readFile(temp("new.mbx")), once + once);
    ASSERT_EQ(exportAll(1, ScopeCurrent, 1000, "new.mbx", ""), 1);
    EXPECT_EQ(readFile(temp("new.mbx")), once);
}

TEST_F(ExportMail, BadNamesWriteNothing) {
    renderSettings().mailTarget = TargetEudora;
    EXPECT_EQ(exportAll(1, ScopeAll, 0, "InBox.MBX", "inbox.mbx"), -1);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_EQ(headless.shown.back().title, "File name conflict");
    EXPECT_EQ(headless.shown.back().text, "Inbox and Outbox files cannot have the same name.");
    EXPECT_FALSE(std::filesystem::exists(temp("InBox.MBX")));

    EXPECT_EQ(exportAll(1, ScopeAll, 0, "../InBox.MBX", "OutBox.MBX"), -1);
    EXPECT_EQ(headless.shown.back().text, "Do not include the path, just the filename!");
    EXPECT_FALSE(std::filesystem::exists(home.path + "/InBox.MBX"));

    // A file that cannot be created ends the export with a message, not as done.
    std::filesystem::create_directories(temp("taken.mbx"));
    EXPECT_EQ(exportAll(1, ScopeAll, 0, "taken.mbx", "out.mbx"), -1);
    EXPECT_EQ(headless.shown.back().title, "Export error");

    // With TAPCIS only one file is written, whatever the second name.
    renderSettings().mailTarget = TargetTapcis;
    EXPECT_EQ(exportAll(1, ScopeAll, 0, "Same.Txt", "Same.Txt"), 7);
}

TEST(ExportChecks, DateRangeAndNames) {
    EXPECT_EQ(checkDateRange(0, 5)->text, "A valid From-date must be entered to apply a date range filter.");
    EXPECT_EQ(checkDateRange(5, 0)->text, "A valid To-date must be entered to apply a date range filter.");
    EXPECT_EQ(checkDateRange(6, 5)->text, "A negative date range cannot be allowed.");
    EXPECT_EQ(checkDateRange(6, 5)->title, "Date range filter error");
    EXPECT_FALSE(checkDateRange(5, 5));
    EXPECT_EQ(isoDay("1995-05-20"), 71000);
    EXPECT_EQ(isoDay("1995-02-30"), 0);
    EXPECT_EQ(isoDay("1995-05-20x"), 0);
    for (const char* bad : {"dir/x.txt", "C:x.txt", "a\\b", ".."}) EXPECT_TRUE(checkFileName(bad)) << bad;
    EXPECT_FALSE(checkFileName("SaveMsg.Txt"));

    // OzWin II forum files: 8 characters of the name, trailing blanks dropped.
    EXPECT_EQ(ozwinForumFileName("Windows Tools"), "Windows.SAV");
    EXPECT_EQ(ozwinForumFileName("Programmers"), "Programm.SAV");
    EXPECT_EQ(ozwinForumFileName("a/b"), "a_b.SAV");
    EXPECT_EQ(defaultExportNames(1, TargetOzWin, "Windows Tools").first, "Windows.SAV");
    EXPECT_EQ(defaultExportNames(2, TargetOzWin, "x").second, "CISMAIL.OUT");
    EXPECT_EQ(defaultExportNames(3, TargetUnix, "x").first, "SaveMsg.TXT");

    // Code page 850 of TAPCIS.
    EXPECT_EQ(toCp850(0xE9), 130);
    EXPECT_EQ(toCp850(0x92), 247);
    EXPECT_EQ(toCp850(0x91), 247);
    EXPECT_EQ(toCp850(0xA0), ' ');
    EXPECT_EQ(toCp850(0xB8), ',');
    EXPECT_EQ(toCp850(0xFC), 129);  // ü
    EXPECT_EQ(toCp850(0x80), 14);
    EXPECT_EQ(toCp850('A'), 'A');
}

TEST_F(ExportMail, AddressBooks) {
    Person.clearBuffer();
    addPerson(103, "", "", "");               // no address: never written
    addPerson(104, "Ann", "Bakers", "ab@cd.co.uk");  // name of 10, entry of 20
    PersonRec p{};
    p.FIRSTNAME = "Ann";
    p.LASTNAME = "Bakers";
    p.ADDRESS = "ab@cd.co.uk";
    auto oz = addressEntry(p, TargetOzWin, "compuserve.com");
    ASSERT_TRUE(oz);
    ASSERT_EQ(oz->size(), 34u);
    EXPECT_EQ(*oz, std::string("\x0A" "Ann Bakers" "\x14" "INTERNET:ab@cd.co.uk", 32) + std::string(2, '\0'));

    p.FIRSTNAME = "Jos\xE9";
    p.LASTNAME = "Baker";
    p.ADDRESS = "76543,210";
    EXPECT_EQ(*addressEntry(p, TargetUnix, "compuserve.com"), "\"Jos\xE9 Baker\" 76543.210@compuserve.com\r\n");
    EXPECT_EQ(*addressEntry(p, TargetEudora, "compuserve.com"), "alias \"Jos\xE9 Baker\" 76543.210@compuserve.com\r\n");
    EXPECT_EQ(*addressEntry(p, TargetTapcis, "compuserve.com"), "Jos\x82 Baker 76543,210|\r\n");
    p.FIRSTNAME = "";
    EXPECT_EQ(*addressEntry(p, TargetUnix, "compuserve.com"), "Baker 76543.210@compuserve.com\r\n");
    p.ADDRESS = "";
    EXPECT_FALSE(addressEntry(p, TargetTapcis, "compuserve.com"));
    EXPECT_FALSE(addressEntry(p, TargetOzWin, "compuserve.com"));

    // The file: every person with an address, in stored order.
    EXPECT_EQ(CopyAddress(TargetUnix, ""), 4);
    EXPECT_EQ(addressFilePath(), temp("Address.Txt"));
    const std::string book = readFile(temp("Address.Txt"));
    EXPECT_EQ(book.substr(0, book.find("\r\n")), "\"Ann Owner\" ann@home.example");
    EXPECT_EQ(countOf(book, "\r\n"), 4u);
    EXPECT_EQ(CopyAddress(TargetOzWin, "Address.Ab"), 4);
    EXPECT_EQ(CopyAddress(TargetOzWin, "sub/Address.Ab"), -1);
    EXPECT_EQ(headless.shown.back().title, "Filename error");
}

namespace {

class ExportForum : public ReadingDb {
protected:
    void SetUp() override {
        ReadingDb::SetUp();
        makeDatabase(1, "Windows Tools", 300000, 2);
        beginBulk();
        addPerson(10, "Al", "Smith", "70000,1");
        addPerson(11, "Bo", "Jones", "70000,2");
        addSection(500, 3, "Utilities");
        addSection(501, 4, "Games");
        addThread(600, 500, "Disk tools", 2);
        addThread(601, 501, "Chess", 1);
        addMessage(10, 0, 600, "Disk tools", 500, dayNumber(1997, 1, 5), 10, "Smith", 11, "Jones");
        addMessage(11, 10, 600, "Disk tools", 500, dayNumber(1997, 1, 6), 11, "Jones", 10, "Smith");
        addMessage(12, 0, 601, "Chess", 501, dayNumber(1997, 1, 7), 10, "Smith", 11, "Jones");
        for (uint32_t id : {10u, 11u, 12u}) addText(id, "Text " + std::to_string(id) + "\r\n");
        endBulk();
        renderSettings() = RenderSettings{};
    }
    uint8_t threadStatus(uint32_t id) {
        uint8_t s = 255;
        withTable(Threads, [&] {
            THR.THREADNUMBER = id;
            if (Threads.get(THR_ThreadKey)) s = THR.DUMMY;
        });
        return s;
    }
    uint8_t messageStatus(uint32_t id) {
        MsgNmbrRec m{};
        OP_CLOSE(OpOpenShared, MsgNmbr.number());
        readMessageHeader(id, m);
        OP_CLOSE(OpClose, MsgNmbr.number());
        return m.DUMMY;
    }
    void run(BatchRequest r) {
        BatchRun b(r);
        ASSERT_TRUE(b.start());
        while (b.tick(2)) {
        }
        EXPECT_FALSE(b.failed());
    }
};

} // namespace

TEST_F(ExportForum, OzWinFileThreadAndSectionScopes) {
    renderSettings().forumTarget = TargetOzWin;
    const ExportNames n = defaultExportNames(1, TargetOzWin, Mem.Description);
    ASSERT_EQ(exportAll(1, ScopeThread, 11, n.first, ""), 2);
    const std::string f = readFile(Mem.TempDir + "/Windows.SAV");
    EXPECT_EQ(countOf(f, "[CIS:Windows Tools]"), 2u);
    EXPECT_LT(f.find("#: 10 "), f.find("#: 11 "));
    ASSERT_EQ(exportAll(1, ScopeSection, 12, "s.txt", ""), 1);
    EXPECT_NE(readFile(Mem.TempDir + "/s.txt").find("#: 12 S4/Games"), std::string::npos);
    // The current message alone takes the plain layout.
    ASSERT_EQ(exportAll(1, ScopeCurrent, 11, "p.txt", ""), 1);
    EXPECT_NE(readFile(Mem.TempDir + "/p.txt").find("MsgNo: 11 (reply to 10)\r\n"), std::string::npos);
    // Without names the forum file is SaveMsg.Txt.
    ASSERT_EQ(exportAll(1, ScopeAll, 0, "", ""), 3);
    EXPECT_TRUE(std::filesystem::exists(Mem.TempDir + "/SaveMsg.Txt"));
}

TEST_F(ExportForum, StatusGoesToTheRowThatStandsForTheScope) {
    BatchRequest r;
    r.operation = OpStatusKeep;
    r.scope = ScopeThread;
    r.messageId = 10;
    run(r);
    EXPECT_EQ(threadStatus(600), 1);
    EXPECT_EQ(messageStatus(10), 0);  // the thread row stands for its messages

    // With a date range every message of the scope in the range is written.
    r.operation = OpStatusDelete;
    r.dateRange = true;
    r.fromDate = r.toDate = dayNumber(1997, 1, 6);
    run(r);
    EXPECT_EQ(threadStatus(600), 1);
    EXPECT_EQ(messageStatus(10), 0);
    EXPECT_EQ(messageStatus(11), 2);

    // The whole database: its registry row and the active-database status.
    r = BatchRequest{};
    r.operation = OpStatusKeep;
    r.scope = ScopeAll;
    run(r);
    EXPECT_EQ(Mem.ForumCheck, 1);
}

TEST_F(ExportForum, TopicsAttachedAndRemovedOverAScope) {
    BatchRequest r;
    r.operation = OpAttachTopic;
    r.scope = ScopeSender;
    r.messageId = 12;  // Smith: 10 and 12
    {
        BatchRun b(r);
        EXPECT_FALSE(b.start());  // no topic
        EXPECT_EQ(headless.shown.back().text, "No topic selected!");
    }
    Entry topic;
    ASSERT_EQ(addEntry(kTopicEntry, "Tools", false, false, &topic), EntryResult::Ok);
    r.topicId = topic.id;
    run(r);
    auto linked = [&] {
        std::vector<uint32_t> ids = entryMessages(topic.id);
        std::sort(ids.begin(), ids.end());
        Entry now;
        EXPECT_TRUE(findEntryById(topic.id, now));
        EXPECT_EQ(now.count, ids.size());  // the count follows the links
        return ids;
    };
    EXPECT_EQ(linked(), (std::vector<uint32_t>{10, 12}));
    run(r);  // a second attach adds nothing
    EXPECT_EQ(linked(), (std::vector<uint32_t>{10, 12}));
    // The topic scope then finds them, oldest first.
    scopeChoice().topicId = topic.id;
    {
        ScopeTables t(ScopeTopic);
        EXPECT_EQ(scopeMessages(ScopeTopic, 0, scopeChoice()), (std::vector<uint32_t>{10, 12}));
    }
    r.operation = OpRemoveTopic;
    r.scope = ScopeCurrent;
    r.messageId = 10;
    run(r);
    EXPECT_EQ(linked(), (std::vector<uint32_t>{12}));
}
