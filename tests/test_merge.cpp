// The database merge: forum numbers, threads, sections and persons in the
// target, mail with the target's owner and the duplicate test, newsgroup
// articles by Message-ID, the untouched source, the shared temporary files,
// the stop question and the merge command.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/commands.h"
#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/maildb.h"
#include "import/merge.h"
#include "import/pipeline.h"
#include "tests/enginereset.h"
#include "tests/internettest.h"
#include "tests/pipeline_testreader.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

std::string forumLine(const std::string& forum, int number, int ref, const std::string& heading,
                      const std::string& from = "Ann Author", const std::string& text = "Some text",
                      const std::string& section = "1|General") {
    return "F|" + forum + "|" + section + "|" + std::to_string(number) + "|" + std::to_string(ref) + "|" + heading +
           "|" + from + "|" + std::to_string(10000 + from[0] * 10 + from.size()) + ",111|All||2024-03-01|" + text;
}

std::string mailLine(const std::string& heading, const std::string& partner, const std::string& partnerAddr,
                     const std::string& owner, const std::string& ownerAddr, int type, const std::string& text,
                     const std::string& copies = "") {
    const bool in = type == 1;
    return "M|" + heading + "|" + (in ? partner : owner) + "|" + (in ? partnerAddr : ownerAddr) + "|" +
           (in ? owner : partner) + "|" + (in ? ownerAddr : partnerAddr) + "|" + std::to_string(type) +
           "|2024-03-02|" + copies + "|" + text;
}

// The articles of an mbox file, each with its "From " line.
std::vector<std::string> articles(const std::string& path) {
    const std::string all = readFile(path);
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t next = all.find("\nFrom ", start);
        out.push_back(all.substr(start, next == std::string::npos ? std::string::npos : next + 1 - start));
        if (next == std::string::npos) break;
        start = next + 1;
    }
    return out;
}

// Every file of a directory with its bytes; the lock companions and the
// shared-memory index of a write-ahead log only mark who has the file open.
std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        const auto ends = [&](const std::string& tail) {
            return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
        };
        if (ends("-lock") || ends("-shm")) continue;
        out[name] = readFile(e.path().string());
    }
    return out;
}

class MergeTest : public ::testing::Test {
protected:
    TempDir home;
    HeadlessUi headless;

    void SetUp() override {
        ASSERT_TRUE(test::testReaderRegistered());
        Mem = MemGlobals{};
        startHeadless(home.path);
        setUi(&headless);
    }

    void TearDown() override {
        if (inTransaction()) rollbackTransaction();
        qb::testing::resetEngine();
    }

    uint32_t forum(const std::string& name) {
        uint32_t id = addForumDatabase(name);
        EXPECT_NE(id, 0u);
        return id;
    }

    uint32_t mailDb(const std::string& name, const std::string& address) {
        std::string error;
        uint32_t id = addMailDatabase(name, address, {}, &error);
        EXPECT_NE(id, 0u) << error;
        return id;
    }

    // Imports the lines with the test reader (mail to mailDb).
    ImportTotals import(const std::vector<std::string>& lines, uint32_t mail = 0) {
        std::string data = "#QBTEST\n";
        for (const auto& l : lines) data += l + "\n";
        const std::string path = home.path + "/in" + std::to_string(files_++) + ".txt";
        writeFile(path, data);
        ImportSettings s;
        s.reader = test::TestReaderName;
        s.mailDb = mail;
        s.method = 2;
        return importFile(s, path);
    }

    ImportTotals importFile(const ImportSettings& s, const std::string& path) {
        ImportRun r(s, {path});
        while (r.step()) {}
        EXPECT_FALSE(r.failed());
        return r.totals();
    }

    ImportTotals importReader(const std::string& reader, uint8_t kind, uint32_t mail, const std::string& data) {
        const std::string path = home.path + "/in" + std::to_string(files_++) + ".mbox";
        writeFile(path, data);
        ImportSettings s;
        s.reader = reader;
        s.messageKind = kind;
        s.mailDb = mail;
        s.method = 2;
        return importFile(s, path);
    }

    MergeRun& merge(uint32_t source, uint32_t target) {
        run_ = std::make_unique<MergeRun>(source, target);
        while (run_->step()) {}
        return *run_;
    }

    bool shown(const std::string& title, const std::string& text) const {
        for (const auto& b : headless.shown)
            if (b.title == title && b.text == text) return true;
        return false;
    }

    std::string dirOf(uint32_t id) {
        ForumsRec row{};
        EXPECT_TRUE(findDatabaseById(id, row));
        return databaseDirectory(row.DIRNUMBER);
    }

    ForumsRec row(uint32_t id) {
        ForumsRec r{};
        EXPECT_TRUE(findDatabaseById(id, r));
        return r;
    }

    // Opens the database's tables for reading in the test.
    void use(uint32_t id, std::initializer_list<int> tables) {
        ASSERT_TRUE(selectDatabase(id));
        for (int n : tables) {
            OP_CLOSE(OpOpenShared, n);
            ASSERT_TRUE(tableByNumber(n)->isOpen()) << n;
        }
        used_ = tables;
    }
    void done() {
        for (int n : used_) OP_CLOSE(OpClose, n);
        used_.clear();
        clearActiveDatabase();
    }

    bool message(uint32_t number) {
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = number;
        return MsgNmbr.get(MSG_IdKey);
    }
    std::string text(uint32_t number) {
        MsgText.clearBuffer();
        TXT.MSGNUMBER = number;
        return MsgText.get(TXT_IdKey) ? TXT_MsgText : std::string("<missing>");
    }
    std::string personName(uint32_t id) {
        Person.clearBuffer();
        PER.PERSONID = id;
        return Person.get(PER_PersonKey) ? PER.FIRSTNAME.str() + " " + PER.LASTNAME.str() : "<missing>";
    }

    std::unique_ptr<MergeRun> run_;
    std::vector<int> used_;
    int files_ = 0;
};

// ---- forum --------------------------------------------------------------------

TEST_F(MergeTest, ForumMessagesKeepNumbersAndJoinTheTargetsThreadsSectionsAndPersons) {
    const uint32_t src = forum("Source Forum"), dst = forum("Target Forum");
    import({forumLine("Source Forum", 10, 0, "Hardware"), forumLine("Source Forum", 11, 10, "Hardware", "Bob Reply"),
            forumLine("Source Forum", 12, 0, "Software", "Ann Author", "Other text", "2|Programs"),
            forumLine("Source Forum", 13, 0, "Hardware", "Bob Reply", "Kept text"),
            forumLine("Source Forum", 14, 12, "Software", "Carl Third", "Answer", "2|Programs")});
    // The target holds number 13 already (another text), the thread "Hardware"
    // and the person Ann Author.
    import({forumLine("Target Forum", 13, 0, "Hardware", "Ann Author", "Target's own text"),
            forumLine("Target Forum", 20, 0, "Hardware", "Ann Author")});
    // One source message is marked keep; the merged copy is normal.
    use(src, {MsgNmbr.number()});
    ASSERT_TRUE(message(12));
    MSG.DUMMY = 1;
    ASSERT_TRUE(MsgNmbr.put());
    done();
    const auto before = snapshot(dirOf(src));

    const int32_t day0 = today(), time0 = clockNow();
    MergeRun& m = merge(src, dst);
    const int32_t time1 = clockNow();
    ASSERT_FALSE(m.failed());
    EXPECT_EQ(m.totals().stored, 4u);
    EXPECT_EQ(m.totals().skipped, 1u);
    EXPECT_EQ(m.endText(), "The merging process has finished!");
    EXPECT_EQ(snapshot(dirOf(src)), before) << "the source database changed";

    use(dst, {MsgNmbr.number(), MsgText.number(), Threads.number(), Sections.number(), Person.number(),
              SavedMsg.number()});
    // Never overwritten.
    EXPECT_EQ(text(13), "Target's own text");
    // Numbers, references and dates kept; the reply sits in its parent's thread.
    ASSERT_TRUE(message(11));
    const uint32_t replyThread = MSG.THREADNUMBER;
    EXPECT_EQ(MSG.REFNUMBER, 10u);
    EXPECT_EQ(MSG.DATE, dayNumber(2024, 3, 1));
    EXPECT_EQ(personName(MSG.FROMID), "Bob Reply");
    ASSERT_TRUE(message(10));
    EXPECT_EQ(MSG.THREADNUMBER, replyThread);
    // The heading found the target's own thread, with its new messages counted.
    ASSERT_TRUE(message(20));
    EXPECT_EQ(MSG.THREADNUMBER, replyThread);
    const uint32_t annId = MSG.FROMID;
    Threads.clearBuffer();
    THR.THREADNUMBER = replyThread;
    ASSERT_TRUE(Threads.get(THR_ThreadKey));
    EXPECT_EQ(THR.MSGCOUNT, 4u);  // 13 and 20 before, 10 and 11 merged
    // Ann Author of the source is the target's Ann Author.
    ASSERT_TRUE(message(12));
    EXPECT_EQ(MSG.FROMID, annId);
    EXPECT_EQ(MSG.DUMMY, 0);
    Person.clearBuffer();
    PER.PERSONID = annId;
    ASSERT_TRUE(Person.get(PER_PersonKey));
    EXPECT_EQ(PER.FROMCOUNT, 4u);  // 13 and 20, and the merged 10 and 12
    // The second section came along, by number and name.
    Sections.clearBuffer();
    SEC.SECSYSID = MSG.SECSYSID;
    ASSERT_TRUE(Sections.get(SEC_SysIdKey));
    EXPECT_EQ(SEC.SECTIONNUMBER, 2);
    EXPECT_EQ(SEC.DESCRIPTION.str(), "Programs");
    EXPECT_EQ(SEC.MSGCOUNT, 2u);
    // The text is dated at the start of the merge.
    text(14);
    EXPECT_EQ(TXT.DATE, day0);
    EXPECT_GE(TXT.TIME, time0);
    EXPECT_LE(TXT.TIME, time1);
    EXPECT_EQ(text(14), "Answer");
    // The saved-message table knows the merged messages of the target.
    SavedMsg.clearBuffer();
    IMP.FORUMNUMBER = dst;
    IMP.MSGNUMBER = 14;
    EXPECT_TRUE(SavedMsg.get(IMP_IDKEY));
    EXPECT_EQ(MsgNmbr.records(), 6);
    done();
    EXPECT_EQ(row(dst).MSGCOUNT, 6u);
}

TEST_F(MergeTest, NothingNewAndRefusedChoicesStoreNothing) {
    const uint32_t src = forum("Source Forum"), dst = forum("Copy Forum");
    const uint32_t mail = mailDb("Some Mail", "me@example.org");
    import({forumLine("Source Forum", 1, 0, "A"), forumLine("Source Forum", 2, 1, "A"),
            forumLine("Copy Forum", 1, 0, "A"), forumLine("Copy Forum", 2, 1, "A")});

    // A target that holds every message already.
    MergeRun& m = merge(src, dst);
    EXPECT_FALSE(m.failed());
    EXPECT_EQ(m.totals().stored, 0u);
    EXPECT_EQ(m.totals().skipped, 2u);
    EXPECT_EQ(m.endText(), "No messages to merge!");

    // Into itself.
    headless.shown.clear();
    MergeRun& self = merge(dst, dst);
    EXPECT_TRUE(self.failed());
    EXPECT_TRUE(shown("Illegal selection!",
                      "A database cannot be merged into itself - please choose another target!"));
    // Another kind.
    MergeRun& kinds = merge(src, mail);
    EXPECT_TRUE(kinds.failed());
    EXPECT_TRUE(shown("Illegal selection!", "You cannot merge different kinds of databases - they both will have "
                                            "to be either Mail, Forum or Newsgroup!"));
    EXPECT_FALSE(checkMerge(src, 999999).ok);
    EXPECT_EQ(row(dst).MSGCOUNT, 2u);
}

TEST_F(MergeTest, ATargetClosedToImportStillTakesTheMerge) {
    const uint32_t src = forum("Source Forum"), dst = forum("Closed Forum");
    import({forumLine("Source Forum", 1, 0, "A")});
    ASSERT_TRUE(setImportAllowed(dst, false));
    MergeRun& m = merge(src, dst);
    EXPECT_FALSE(m.failed());
    EXPECT_EQ(m.totals().stored, 1u);
}

TEST_F(MergeTest, TablesHeldOpenOnTheSourceNeverTakeTheTargetsRows) {
    const uint32_t src = forum("Source Forum"), dst = forum("Target Forum");
    import({forumLine("Source Forum", 1, 0, "A"), forumLine("Source Forum", 2, 1, "A")});
    // A window keeps the source's message table open.
    use(src, {MsgNmbr.number()});
    const auto before = snapshot(dirOf(src));
    MergeRun& m = merge(src, dst);
    EXPECT_TRUE(m.failed());
    EXPECT_EQ(m.totals().stored, 0u);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_NE(headless.shown.back().text.find(" is in use!"), std::string::npos) << headless.shown.back().text;
    EXPECT_EQ(snapshot(dirOf(src)), before);
    EXPECT_EQ(MsgNmbr.records(), 2);
    done();
    EXPECT_EQ(row(dst).MSGCOUNT, 0u);
    // Once it is closed the merge goes through.
    EXPECT_EQ(merge(src, dst).totals().stored, 2u);
}

// ---- mail ----------------------------------------------------------------------

TEST_F(MergeTest, MailGetsTheTargetOwnerAndMatchesPartnersInTheTarget) {
    const uint32_t src = mailDb("Old Mail", "old@example.org");
    const uint32_t dst = mailDb("New Mail", "new@example.org");
    import({mailLine("Hello", "Sam Sender", "sam@example.net", "Old Owner", "old@example.org", 1, "In text"),
            mailLine("Reply", "Pat Partner", "pat@example.net", "Old Owner", "old@example.org", 2, "Out text",
                     "Cc Person=cc@example.net")},
           src);
    import({mailLine("Earlier", "Sam Sender", "sam@example.net", "New Owner", "new@example.org", 1, "Earlier")}, dst);
    const auto before = snapshot(dirOf(src));
    const uint32_t owner = row(dst).PERSONID;
    ASSERT_NE(owner, 0u);

    const int32_t day0 = today();
    MergeRun& m = merge(src, dst);
    ASSERT_FALSE(m.failed());
    EXPECT_EQ(m.totals().stored, 2u);
    EXPECT_EQ(snapshot(dirOf(src)), before) << "the source database changed";

    use(dst, {Mail.number(), MsgText.number(), Person.number(), CCRTable.number()});
    std::map<std::string, MailRec> bySubject;
    Mail.set(MAI_IdKey);
    while (Mail.next()) bySubject[MAI.SUBJECT.str()] = MAI;
    ASSERT_EQ(bySubject.size(), 3u);
    const MailRec in = bySubject["Hello"], out = bySubject["Reply"], earlier = bySubject["Earlier"];
    // Received: from the partner (the target's Sam Sender) to the target's owner.
    EXPECT_EQ(in.TOID, owner);
    EXPECT_EQ(in.FROMID, earlier.FROMID);
    EXPECT_EQ(in.PAIRID, earlier.FROMID);
    // Sent: by the target's owner to the partner.
    EXPECT_EQ(out.FROMID, owner);
    EXPECT_EQ(personName(out.TOID), "Pat Partner");
    EXPECT_EQ(out.PAIRID, out.TOID);
    EXPECT_EQ(out.PAIRALPHA.str(), "Partner");
    EXPECT_EQ(text(out.MAILID), "Out text");
    EXPECT_EQ(TXT.DATE, day0);
    // A new mail ID, and the carbon copy came along with it.
    EXPECT_GE(out.MAILID, 250000u);
    EXPECT_EQ(out.CCR, 1);
    CCRTable.clearBuffer();
    CCR.MAILID = out.MAILID;
    CCRTable.setFrom(CCR_IdKey);
    ASSERT_TRUE(CCRTable.next());
    EXPECT_EQ(CCR.MAILID, out.MAILID);
    EXPECT_EQ(CCR.R_CISADRESS.str(), "cc@example.net");
    Person.clearBuffer();
    PER.PERSONID = earlier.FROMID;
    ASSERT_TRUE(Person.get(PER_PersonKey));
    EXPECT_EQ(PER.FROMCOUNT, 2u);
    done();
    EXPECT_EQ(row(dst).MSGCOUNT, 3u);

    // Merging again finds every mail a duplicate.
    MergeRun& again = merge(src, dst);
    EXPECT_EQ(again.totals().stored, 0u);
    EXPECT_EQ(again.totals().skipped, 2u);
    EXPECT_EQ(again.endText(), "No messages to merge!");
}

TEST_F(MergeTest, TwoMailDatabasesSharing400MessagesEndWithTheirUnion) {
    const std::string path = sharedDataFile("linux-mips-1996-sample.mbox");
    if (path.empty()) GTEST_SKIP() << "sample archive not found";
    const std::vector<std::string> all = articles(path);
    ASSERT_GE(all.size(), 1000u);
    auto join = [&](size_t from, size_t to) {
        std::string s;
        for (size_t i = from; i < to; ++i) s += all[i];
        return s;
    };
    const uint32_t a = mailDb("Archive A", "a-owner@example.org");
    const uint32_t b = mailDb("Archive B", "b-owner@example.org");
    const uint32_t u = mailDb("Union", "u-owner@example.org");
    importReader("Unix Mail", KindMail, a, join(0, 700));
    importReader("Unix Mail", KindMail, b, join(300, 1000));
    importReader("Unix Mail", KindMail, u, join(0, 1000));
    const uint32_t countA = row(a).MSGCOUNT, countB = row(b).MSGCOUNT, countU = row(u).MSGCOUNT;
    ASSERT_GT(countA, 600u);

    MergeRun& m = merge(a, b);
    ASSERT_FALSE(m.failed());
    EXPECT_EQ(row(b).MSGCOUNT, countU);
    EXPECT_EQ(m.totals().stored, countU - countB);
    EXPECT_EQ(m.totals().stored + m.totals().skipped, countA);
    EXPECT_GE(m.totals().skipped, 390u);  // the 400 shared, less the sample's own repeats

    // The same mail as the union: subject, date, time and text, each once.
    using Key = std::tuple<std::string, int32_t, int32_t, std::string>;
    auto mails = [&](uint32_t id, uint32_t* notOwner) {
        std::multiset<Key> out;
        const uint32_t owner = row(id).PERSONID;
        use(id, {Mail.number(), MsgText.number()});
        Mail.setFile();
        while (Mail.next()) {
            if (MAI.FROMID != owner && MAI.TOID != owner) ++*notOwner;
            const MailRec r = MAI;
            out.insert({r.SUBJECT.str(), r.DATE, r.TIME, text(r.MAILID)});
        }
        done();
        return out;
    };
    uint32_t strangersB = 0, strangersU = 0;
    const auto inB = mails(b, &strangersB), inU = mails(u, &strangersU);
    EXPECT_EQ(inB, inU);
    EXPECT_EQ(strangersB, strangersU);
}

// ---- newsgroup -------------------------------------------------------------------

TEST_F(MergeTest, NewsgroupArticlesAreMatchedByMessageIdAndKeepTheirThreads) {
    const std::string path = sharedDataFile("linux-mips-1996-sample-news.mbox");
    if (path.empty()) GTEST_SKIP() << "sample archive not found";
    const std::vector<std::string> all = articles(path);
    ASSERT_GE(all.size(), 600u);
    auto group = [&](size_t from, size_t to, const std::string& name) {
        std::string s;
        for (size_t i = from; i < to; ++i) {
            std::string a = all[i];
            size_t p = a.find("\nNewsgroups: ");
            if (p == std::string::npos) continue;
            size_t e = a.find('\n', p + 1);
            a.replace(p, e - p, "\nNewsgroups: " + name);
            s += a;
        }
        return s;
    };
    importReader("Unix News", KindNews, 0, group(0, 400, "mips.a"));
    importReader("Unix News", KindNews, 0, group(200, 600, "mips.b"));
    importReader("Unix News", KindNews, 0, group(0, 600, "mips.all"));
    ForumsRec a{}, b{}, all600{};
    ASSERT_TRUE(findDatabaseByName("mips.a", a));
    ASSERT_TRUE(findDatabaseByName("mips.b", b));
    ASSERT_TRUE(findDatabaseByName("mips.all", all600));
    const auto before = snapshot(dirOf(a.ID));
    const uint32_t countB = row(b.ID).MSGCOUNT;

    MergeRun& m = merge(a.ID, b.ID);
    ASSERT_FALSE(m.failed());
    EXPECT_EQ(snapshot(dirOf(a.ID)), before) << "the source database changed";
    EXPECT_EQ(row(b.ID).MSGCOUNT, row(all600.ID).MSGCOUNT);
    EXPECT_EQ(m.totals().stored, row(all600.ID).MSGCOUNT - countB);
    EXPECT_GE(m.totals().skipped, 190u);  // the 200 shared, less the sample's own repeats

    // Each Message-ID once; a reply's parent by Message-ID is the same in
    // the merged database as in the one imported whole.
    auto parents = [&](uint32_t id) {
        std::map<std::string, std::string> out;
        use(id, {MsgNmbr.number(), MessageIds.number()});
        std::map<uint32_t, std::string> idOf;
        MessageIds.set(MST_IDKEY);
        while (MessageIds.next()) idOf[MST.MSGNUMBER] = MST.IDSTRING.str();
        MsgNmbr.setFile();
        int rows = 0;
        while (MsgNmbr.next()) {
            ++rows;
            out[idOf[MSG.MSGNUMBER]] = MSG.REFNUMBER ? idOf[MSG.REFNUMBER] : "";
        }
        EXPECT_EQ(out.size(), static_cast<size_t>(rows));
        done();
        return out;
    };
    EXPECT_EQ(parents(b.ID), parents(all600.ID));
}

// ---- shared temporary files and stopping -------------------------------------------

TEST_F(MergeTest, MergeAndImportNeverShareTheTemporaryFiles) {
    const uint32_t src = forum("Source Forum"), dst = forum("Target Forum");
    std::vector<std::string> lines;
    for (int i = 1; i <= 900; ++i) lines.push_back(forumLine("Source Forum", i, 0, "T" + std::to_string(i % 7)));
    import(lines);

    // A merge under way refuses an import ...
    MergeRun first(src, dst);
    first.step();
    first.step();
    ASSERT_FALSE(first.finished());
    EXPECT_TRUE(temporaryFilesInUse());
    ImportSettings s;
    s.reader = test::TestReaderName;
    s.method = 2;
    {
        ImportRun other(s, {home.path + "/in0.txt"});
        while (other.step()) {}
        EXPECT_TRUE(other.failed());
    }
    EXPECT_TRUE(shown("Warning!", "Another import or database merge is running!\r\nImport will not proceed!\r\n"));
    // ... and a second merge.
    MergeRun& second = merge(src, dst);
    EXPECT_TRUE(second.failed());
    EXPECT_TRUE(shown("Warning!", "Another import or database merge is running!\r\nMerge will not proceed!\r\n"));
    while (first.step()) {}
    EXPECT_FALSE(first.failed());
    EXPECT_EQ(first.totals().stored, 900u);
    EXPECT_FALSE(temporaryFilesInUse());

    // Another process's hold counts too, and goes with that process.
    int pipeFd[2];
    ASSERT_EQ(pipe(pipeFd), 0);
    const std::string holdPath = temporaryHoldPath();
    pid_t child = fork();
    if (child == 0) {
        ProcessHold h;
        char c = h.take(holdPath) ? '1' : '0';
        if (write(pipeFd[1], &c, 1) != 1) _exit(2);
        for (;;) pause();
    }
    char c = 0;
    ASSERT_EQ(read(pipeFd[0], &c, 1), 1);
    ASSERT_EQ(c, '1');
    EXPECT_TRUE(temporaryFilesInUse());
    headless.shown.clear();
    MergeRun& busy = merge(src, dst);
    EXPECT_TRUE(busy.failed());
    EXPECT_TRUE(shown("Warning!", "Another import or database merge is running!\r\nMerge will not proceed!\r\n"));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(pipeFd[0]);
    close(pipeFd[1]);
    EXPECT_FALSE(temporaryFilesInUse());
    MergeRun& freed = merge(src, dst);
    EXPECT_FALSE(freed.failed());
    EXPECT_EQ(freed.endText(), "No messages to merge!");
}

TEST_F(MergeTest, StoppingWhileStoringAsksTheQuestionOfTheKind) {
    const uint32_t src = forum("Source Forum"), dst = forum("Target Forum");
    const uint32_t mailA = mailDb("Mail A", "a@example.org"), mailB = mailDb("Mail B", "b@example.org");
    std::vector<std::string> lines, mails;
    for (int i = 1; i <= 900; ++i) {
        lines.push_back(forumLine("Source Forum", i, 0, "T"));
        mails.push_back(mailLine("S" + std::to_string(i), "Sam", "sam@example.net", "A", "a@example.org", 1, "x"));
    }
    import(lines);
    import(mails, mailA);
    const std::string board =
        "Stopping at this stage will cause message counts \r\nper section, thread and person to be incorrect.\r\n"
        "If you do quit, please run the Count Messages process to correct the numbers! Are you sure you want to "
        "quit?";
    const std::string mail =
        "Stopping at this stage will cause message counts \r\nper mailpartner to be incorrect.\r\n"
        "If you do quit, please run the Count Messages process to correct the numbers! Are you sure you want to "
        "quit?";
    for (auto [from, to, question] : {std::make_tuple(src, dst, board), std::make_tuple(mailA, mailB, mail)}) {
        headless.shown.clear();
        MergeRun r(from, to);
        while (!r.mergePassRunning() && r.step()) {}
        ASSERT_TRUE(r.mergePassRunning());
        EXPECT_EQ(r.progressText(), "Merging messages");
        headless.answers.push_back(BtnNo);
        EXPECT_FALSE(r.requestStop());
        ASSERT_FALSE(headless.shown.empty());
        EXPECT_EQ(headless.shown.back().title, "Import process interrupted");
        EXPECT_EQ(headless.shown.back().text, question);
        headless.answers.push_back(BtnYes);
        EXPECT_TRUE(r.requestStop());
        EXPECT_TRUE(r.stopped());
        EXPECT_FALSE(r.failed());
        EXPECT_TRUE(r.endText().empty());
        EXPECT_FALSE(temporaryFilesInUse());
    }
}

// ---- the command -------------------------------------------------------------------

struct Cli {
    int status;
    std::string out, err;
};

Cli qboxMerge(const std::string& home, const std::string& args) {
    const std::string out = home + "/o.txt", err = home + "/e.txt";
    const std::string cmd = std::string(QBOX_BIN) + " --home '" + home + "' merge " + args + " >'" + out + "' 2>'" +
                            err + "' </dev/null";
    const int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : 100, readFile(out), readFile(err)};
}

TEST_F(MergeTest, CommandPrintsTotalsAndRefusesBadChoices) {
    forum("Source Forum");
    forum("Target Forum");
    mailDb("Some Mail", "me@example.org");
    import({forumLine("Source Forum", 1, 0, "A"), forumLine("Source Forum", 2, 0, "B"),
            forumLine("Target Forum", 2, 0, "B")});
    qb::testing::forceCloseEveryTable();

    Cli r = qboxMerge(home.path, "'source forum' 'Target Forum'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "stored 1 skipped 1\n");
    r = qboxMerge(home.path, "'Source Forum' 'Target Forum'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "No messages to merge!\nstored 0 skipped 2\n");

    for (const char* bad : {"'Source Forum' 'Nowhere'", "'Source Forum' 'Some Mail'", "'Source Forum' 'Source Forum'",
                            "'Source Forum'"}) {
        r = qboxMerge(home.path, bad);
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_NE(r.err.find("qbox merge: "), std::string::npos) << bad;
    }
    EXPECT_NE(qboxMerge(home.path, "'Source Forum' 'Some Mail'").err.find("different kinds"), std::string::npos);
}

} // namespace
