// The import run: routing and the temporary file of the pre-import pass, the
// import pass into forum and mail databases, and its stop and space checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/access.h"
#include "core/dates.h"
#include "core/registry.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/catalogue.h"
#include "import/maildb.h"
#include "import/pipeline.h"
#include "tests/enginereset.h"
#include "tests/pipeline_testreader.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

constexpr uint32_t kForumDb = 300002, kClosedDb = 300003;
constexpr uint32_t kFirstId = 400000;

class PipelineTest : public ::testing::Test {
protected:
    TempDir home;
    HeadlessUi headless;
    uint32_t kMailDb = 0;

    void SetUp() override {
        ASSERT_TRUE(test::testReaderRegistered());
        Mem = MemGlobals{};
        startHeadless(home.path);
        setUi(&headless);
        OP_CLOSE(OpOpenShared, Forums.number(), Control.number());
        addDb(kForumDb, "Existing Forum", 1, KindForum, false);
        addDb(kClosedDb, "Closed Forum", 2, KindForum, true);
        Control.clearBuffer();
        CTL.ID = 1;
        if (Control.get(CTL_IdKey)) {
            CTL.NEXTNUMBER = kFirstId;
            ASSERT_TRUE(Control.put());
        } else {
            CTL.NEXTNUMBER = kFirstId;
            ASSERT_TRUE(Control.add());
        }
        OP_CLOSE(OpClose, Forums.number(), Control.number());
        std::string error;
        kMailDb = addMailDatabase("Owner Mail", "owner@example.org", {"Owner.Alt@Example.ORG"}, &error);
        ASSERT_NE(kMailDb, 0u) << error;
        headless.shown.clear();
    }

    void TearDown() override {
        if (inTransaction()) rollbackTransaction();
        qb::testing::resetEngine();
    }

    void addDb(uint32_t id, const std::string& name, uint32_t dir, uint8_t type, bool closed) {
        Forums.clearBuffer();
        FOR.ID = id;
        FOR.DESCRIPTION.set(name);
        FOR.DIRNUMBER = dir;
        FOR.TYPE = type;
        FOR.NOIMPORT = closed ? 1 : 0;
        ASSERT_TRUE(Forums.add());
        fs::create_directories(fs::path(Mem.FileDir) / ("F" + std::to_string(dir)));
    }

    std::string file(const std::string& name, const std::vector<std::string>& lines) {
        std::string path = home.path + "/" + name;
        std::string data = "#QBTEST\n";
        for (const auto& l : lines) data += l + "\n";
        writeFile(path, data);
        return path;
    }

    ImportSettings settings() {
        ImportSettings s;
        s.reader = test::TestReaderName;
        s.mailDb = kMailDb;
        s.method = 2;
        return s;
    }

    // Runs to the end; the number of steps taken.
    int run(ImportRun& r) {
        int steps = 0;
        while (r.step()) ++steps;
        return steps;
    }

    bool shown(const std::string& text) const {
        for (const auto& b : headless.shown)
            if (b.text == text) return true;
        return false;
    }

    // Runs the pre-import pass alone and stops the run where the import pass
    // begins: a stopped run keeps its temporary file.
    void preImportOnly(ImportRun& r) {
        while (!r.importPassRunning() && r.step()) {}
        if (r.finished()) return;
        headless.answers.push_back(BtnYes);
        ASSERT_TRUE(r.requestStop());
    }

    // Rows and bytes of the temporary files (NewHR, TempCC, TempID) together.
    std::pair<int64_t, uintmax_t> temporarySize() {
        int64_t rows = 0;
        uintmax_t bytes = 0;
        for (Table* t : {&NewHR, &TempCC, &TempID}) {
            const std::string path = tableFileName(t->number());
            std::error_code ec;
            if (!fs::exists(path, ec)) continue;
            rows += storedRowCount(path);
            bytes += fs::file_size(path, ec);
        }
        return {rows, bytes};
    }

    // (database -> number of records) of the temporary file left by the last run.
    std::map<uint32_t, int> temporaryRecords() {
        std::map<uint32_t, int> out;
        OP_CLOSE(OpOpenShared, NewHR.number());
        NewHR.set(NHR_MSGKEY);
        while (NewHR.next()) ++out[NHR.INTERNAL];
        OP_CLOSE(OpClose, NewHR.number());
        return out;
    }

    uint32_t nextNumber() {
        OP_CLOSE(OpOpenShared, Control.number());
        Control.clearBuffer();
        CTL.ID = 1;
        uint32_t n = Control.get(CTL_IdKey) ? CTL.NEXTNUMBER : 0;
        OP_CLOSE(OpClose, Control.number());
        return n;
    }
};

std::string forumLine(const std::string& forum, int number, int ref, const std::string& heading,
                      const std::string& text = "Some text") {
    return "F|" + forum + "|1|General|" + std::to_string(number) + "|" + std::to_string(ref) + "|" + heading +
           "|Ann Author|11111,111|All||2024-03-01|" + text;
}

std::string mailLine(const std::string& heading, const std::string& copies, int type = 1) {
    return "M|" + heading + "|Sam Sender|sam@example.net|Owner|owner@example.org|" + std::to_string(type) +
           "|2024-03-02|" + copies + "|Mail text\\nsecond line";
}

} // namespace

// ---- pre-import --------------------------------------------------------------

TEST_F(PipelineTest, PreImportRoutesByForumNameAndCreatesNewEntries) {
    std::string f = file("mixed.txt", {
                                          forumLine("Existing Forum", 10, 0, "Hello"),
                                          forumLine("EXISTING FORUM", 11, 10, "Hello"),
                                          forumLine("Brand New Forum", 5, 0, "First"),
                                          forumLine("Closed Forum", 7, 0, "Nope"),
                                          mailLine("A mail", ""),
                                          mailLine("Another mail", ""),
                                          "garbage line",
                                      });
    ImportSettings s = settings();
    ImportRun r(s, {f});
    preImportOnly(r);

    // The new forum got an entry with an ID from the private counter and the
    // next directory number.
    const TargetDb* created = nullptr;
    for (const auto& t : r.context().targets)
        if (t.description == "Brand New Forum") created = &t;
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->dirNumber, 4u);  // after the two forums and the mail database
    EXPECT_EQ(created->forumType, KindForum);
    EXPECT_GE(created->id, kFirstId);

    auto recs = temporaryRecords();
    EXPECT_EQ(recs[kForumDb], 2);
    EXPECT_EQ(recs[created->id], 1);
    EXPECT_EQ(recs[kMailDb], 2);
    EXPECT_EQ(recs.count(kClosedDb), 0u);
    // The closed forum's message and the malformed line are skipped.
    EXPECT_GE(r.totals().skipped, 2u);

    // Mail IDs and the new database ID come from one counter, which is written back.
    std::vector<uint32_t> ids{created->id};
    OP_CLOSE(OpOpenShared, NewHR.number());
    NewHR.set(NHR_MSGKEY);
    while (NewHR.next())
        if (NHR.INTERNAL == kMailDb) {
            EXPECT_EQ(NHR.MSGNUMBER, NHR.REFNUMBER);
            ids.push_back(NHR.MSGNUMBER);
        }
    OP_CLOSE(OpClose, NewHR.number());
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    EXPECT_GT(nextNumber(), ids.back());
}

TEST_F(PipelineTest, FilesThatAreMissingOrOfAnotherReaderAreSkipped) {
    std::string good = file("good.txt", {forumLine("Existing Forum", 1, 0, "Hi")});
    std::string other = home.path + "/other.txt";
    writeFile(other, "From someone\n");
    std::string missing = home.path + "/missing.txt";
    ImportRun r(settings(), {missing, other, good});
    preImportOnly(r);
    EXPECT_TRUE(shown("The file " + missing + " does not exist and will be skipped!"));
    EXPECT_TRUE(shown(other + " is not a test file!\r\nThis file will be skipped!"));
    EXPECT_EQ(temporaryRecords()[kForumDb], 1);
    EXPECT_EQ(r.filesDone(), 3u);
}

TEST_F(PipelineTest, NothingRoutedEndsWithNoMessagesFound) {
    std::string f = file("closed.txt", {forumLine("Closed Forum", 1, 0, "Hi"), forumLine("closed forum", 2, 0, "Hi")});
    ImportRun r(settings(), {f});
    run(r);
    EXPECT_TRUE(r.failed());
    EXPECT_TRUE(shown("No messages found in selected file(s)!\r\nImport unsuccessful!"));
    EXPECT_EQ(r.totals().stored, 0u);
    EXPECT_EQ(r.totals().skipped, 2u);
    // The control lock is given back: a second run can take the counter.
    ImportRun again(settings(), {f});
    run(again);
    EXPECT_FALSE(shown("No access to Control File!\r\nImport will not proceed!\r\n"));
}

TEST_F(PipelineTest, ForumNamedLikeAMailDatabaseIsNotRoutedThere) {
    std::string f = file("clash.txt", {forumLine("owner mail", 1, 0, "Hi"), forumLine("Existing Forum", 2, 0, "Hi")});
    ImportRun r(settings(), {f});
    preImportOnly(r);
    auto recs = temporaryRecords();
    EXPECT_EQ(recs.count(kMailDb), 0u);
    EXPECT_EQ(recs[kForumDb], 1);
}

TEST_F(PipelineTest, UnattendedRunShowsNoBoxes) {
    Mem.DoTask = 2;
    std::string missing = home.path + "/missing.txt";
    std::string f = file("closed.txt", {forumLine("Closed Forum", 1, 0, "Hi")});
    ImportRun r(settings(), {missing, f});
    EXPECT_EQ(r.windowTitle(), "Scheduled import");
    run(r);
    Mem.DoTask = 0;
    EXPECT_TRUE(r.failed());
    EXPECT_TRUE(headless.shown.empty());
}

TEST_F(PipelineTest, StopDuringPreImportEndsAtOnce) {
    std::vector<std::string> lines;
    for (int i = 1; i <= 2000; ++i) lines.push_back(forumLine("Existing Forum", i, 0, "Hi"));
    std::string f = file("big.txt", lines);
    ImportRun r(settings(), {f});
    r.step();  // start
    r.step();  // open the file
    r.step();  // first batch
    EXPECT_EQ(r.state(), ImportState::Convert);
    EXPECT_TRUE(r.requestStop());
    EXPECT_TRUE(r.finished());
    EXPECT_TRUE(r.stopped());
    EXPECT_FALSE(r.failed());
    for (const auto& b : headless.shown) EXPECT_NE(b.title, "Import process interrupted");
}

// ---- space --------------------------------------------------------------------

TEST(PipelineSpace, CheckSpaceAsksAndRefusesWhenTooLittle) {
    HeadlessUi h;
    setUi(&h);
    const std::string dir = fs::temp_directory_path().string();
    EXPECT_EQ(CheckSpace(dir, 1), 0u);
    EXPECT_TRUE(h.shown.empty());

    const uint64_t huge = std::numeric_limits<uint64_t>::max() - 1;
    h.answers.push_back(BtnCancel);
    uint64_t free = CheckSpace(dir, huge);
    EXPECT_GT(free, 0u);
    ASSERT_EQ(h.shown.size(), 1u);
    EXPECT_EQ(h.shown[0].title, "Warning");
    EXPECT_EQ(h.shown[0].text.rfind("You have only " + pictureN13(free).substr(0, 4), 0), 0u);
    EXPECT_NE(h.shown[0].text.find("Cancel if you want to abort this process!"), std::string::npos);

    h.answers.push_back(BtnOk);
    EXPECT_EQ(CheckSpace(dir, huge), 0u);

    Mem.DoTask = 6;
    EXPECT_GT(CheckSpace(dir, huge), 0u);
    Mem.DoTask = 0;
    EXPECT_EQ(h.shown.size(), 2u);
    setUi(nullptr);
}

TEST(PipelineSpace, PictureN13GroupsDigits) {
    EXPECT_EQ(pictureN13(5000000), "    5,000,000");
    EXPECT_EQ(pictureN13(999), "          999");
    EXPECT_EQ(pictureN13(1000), "        1,000");
    EXPECT_EQ(pictureN13(12345678901234ull), "12,345,678,901,234");
}

// ---- import pass ---------------------------------------------------------------

namespace {

// Reading a database's tables after a run.
struct DbView {
    explicit DbView(uint32_t id) { ok = selectDatabase(id); }
    ~DbView() { clearActiveDatabase(); }
    int64_t rows(Table& t) {
        OP_CLOSE(OpOpenShared, t.number());
        int64_t n = t.records();
        OP_CLOSE(OpClose, t.number());
        return n;
    }
    bool ok = false;
};

ForumsRec forumsRow(uint32_t id) {
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = id;
    ForumsRec r{};
    if (Forums.get(FOR_ForumKey)) r = FOR;
    OP_CLOSE(OpClose, Forums.number());
    return r;
}

uint32_t forumNamed(const std::string& name) {
    OP_CLOSE(OpOpenShared, Forums.number());
    uint32_t id = 0;
    Forums.set(FOR_ForumKey);
    while (Forums.next())
        if (FOR.DESCRIPTION == name) id = FOR.ID;
    OP_CLOSE(OpClose, Forums.number());
    return id;
}

} // namespace

TEST_F(PipelineTest, ImportStoresIntoOldAndNewForumsAndKeepsCounts) {
    std::string f = file("forums.txt", {
                                           forumLine("Existing Forum", 10, 0, "Hello"),
                                           forumLine("Existing Forum", 11, 10, "Re: Hello"),
                                           forumLine("Existing Forum", 12, 0, "Other"),
                                           forumLine("New One", 3, 0, "Start"),
                                           forumLine("new one", 4, 3, "Start"),
                                       });
    ImportRun r(settings(), {f});
    run(r);
    ASSERT_FALSE(r.failed());
    EXPECT_EQ(r.totals().stored, 5u);
    EXPECT_EQ(r.endText(), "The import process has finished!");
    EXPECT_TRUE(shown("The time for completion was: " + std::to_string(r.elapsedSeconds()) + " seconds"));

    ForumsRec old = forumsRow(kForumDb);
    EXPECT_EQ(old.MSGCOUNT, 3u);
    EXPECT_EQ(old.COUNTFLAG, 0);
    uint32_t fresh = forumNamed("New One");
    ASSERT_NE(fresh, 0u);
    ForumsRec nr = forumsRow(fresh);
    EXPECT_EQ(nr.TYPE, KindForum);
    EXPECT_EQ(nr.MSGCOUNT, 2u);
    EXPECT_EQ(nr.CREATED, today());
    EXPECT_EQ(nr.WORDLISTINDEXNEEDSUPDATE, 1);
    EXPECT_TRUE(fs::is_directory(fs::path(Mem.FileDir) / ("F" + std::to_string(nr.DIRNUMBER))));

    {
        DbView v(kForumDb);
        ASSERT_TRUE(v.ok);
        EXPECT_EQ(v.rows(MsgNmbr), 3);
        EXPECT_EQ(v.rows(MsgText), 3);
        OP_CLOSE(OpOpenShared, Sections.number(), Threads.number(), Person.number(), MsgNmbr.number());
        Sections.set(SEC_SysIdKey);
        ASSERT_TRUE(Sections.next());
        EXPECT_EQ(SEC.DESCRIPTION.str(), "General");
        EXPECT_EQ(SEC.MSGCOUNT, 3u);
        EXPECT_FALSE(Sections.next());
        // The reply joined the thread of its parent.
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = 11;
        ASSERT_TRUE(MsgNmbr.get(MSG_IdKey));
        Threads.clearBuffer();
        THR.THREADNUMBER = MSG.THREADNUMBER;
        ASSERT_TRUE(Threads.get(THR_ThreadKey));
        EXPECT_EQ(THR.MSGCOUNT, 2u);
        Person.set(PER_PersonKey);
        bool author = false;
        while (Person.next())
            if (PER.LASTNAME == "Author") {
                author = true;
                EXPECT_EQ(PER.FROMCOUNT, 3u);
            }
        EXPECT_TRUE(author);
        OP_CLOSE(OpClose, Sections.number(), Threads.number(), Person.number(), MsgNmbr.number());
    }
    // The saved-message table knows every stored forum message.
    OP_CLOSE(OpOpenShared, SavedMsg.number());
    EXPECT_EQ(SavedMsg.records(), 5);
    IMP.FORUMNUMBER = fresh;
    IMP.MSGNUMBER = 4;
    EXPECT_TRUE(SavedMsg.get(IMP_IDKEY));
    OP_CLOSE(OpClose, SavedMsg.number());
}

TEST_F(PipelineTest, SameForumFileTwiceStoresNothingTheSecondTime) {
    std::string f = file("forums.txt", {forumLine("Existing Forum", 10, 0, "Hello"),
                                        forumLine("Existing Forum", 11, 10, "Hello")});
    ImportRun first(settings(), {f});
    run(first);
    ASSERT_EQ(first.totals().stored, 2u);

    ImportRun second(settings(), {f});
    run(second);
    EXPECT_FALSE(second.failed());
    EXPECT_EQ(second.totals().stored, 0u);
    EXPECT_EQ(second.totals().skipped, 2u);
    EXPECT_EQ(second.endText(), "No messages to import!");
    EXPECT_EQ(forumsRow(kForumDb).MSGCOUNT, 2u);
}

TEST_F(PipelineTest, ReimportOverwritesWithoutCountingAgain) {
    std::string f = file("forums.txt", {forumLine("Existing Forum", 10, 0, "Hello", "old text"),
                                        forumLine("Existing Forum", 11, 10, "Hello", "old reply")});
    ImportRun first(settings(), {f});
    run(first);
    ASSERT_EQ(first.totals().stored, 2u);

    f = file("forums.txt", {forumLine("Existing Forum", 10, 0, "Hello", "new text"),
                            forumLine("Existing Forum", 11, 10, "Hello", "old reply")});
    ImportSettings s = settings();
    s.allowReimport = true;
    ImportRun second(s, {f});
    run(second);
    ASSERT_FALSE(second.failed());
    EXPECT_EQ(second.totals().stored, 2u);

    DbView v(kForumDb);
    EXPECT_EQ(v.rows(MsgNmbr), 2);
    OP_CLOSE(OpOpenShared, Sections.number(), Threads.number(), Person.number(), MsgText.number());
    MsgText.clearBuffer();
    TXT.MSGNUMBER = 10;
    ASSERT_TRUE(MsgText.get(TXT_IdKey));
    EXPECT_EQ(TXT_MsgText, "new text");
    Sections.set(SEC_SysIdKey);
    ASSERT_TRUE(Sections.next());
    EXPECT_EQ(SEC.MSGCOUNT, 2u);
    Threads.set(THR_ThreadKey);
    ASSERT_TRUE(Threads.next());
    EXPECT_EQ(THR.MSGCOUNT, 2u);
    Person.set(PER_PersonKey);
    while (Person.next())
        if (PER.LASTNAME == "Author") {
            EXPECT_EQ(PER.FROMCOUNT, 2u);
        }
    OP_CLOSE(OpClose, Sections.number(), Threads.number(), Person.number(), MsgText.number());
    OP_CLOSE(OpOpenShared, SavedMsg.number());
    EXPECT_EQ(SavedMsg.records(), 2);
    OP_CLOSE(OpClose, SavedMsg.number());
}

TEST_F(PipelineTest, CreationOnlyMakesTheDatabaseButStoresNothing) {
    std::string f = file("forums.txt", {forumLine("Fresh Forum", 1, 0, "Hi"), forumLine("Existing Forum", 5, 0, "Hi")});
    ImportSettings s = settings();
    s.filter = 2;
    ImportRun r(s, {f});
    run(r);
    EXPECT_FALSE(r.failed());
    EXPECT_EQ(r.totals().stored, 0u);
    EXPECT_EQ(r.endText(), "No messages to import!");
    uint32_t fresh = forumNamed("Fresh Forum");
    ASSERT_NE(fresh, 0u);
    ForumsRec row = forumsRow(fresh);
    EXPECT_TRUE(fs::is_directory(fs::path(Mem.FileDir) / ("F" + std::to_string(row.DIRNUMBER))));
    EXPECT_EQ(row.MSGCOUNT, 0u);
    DbView v(kForumDb);
    EXPECT_EQ(v.rows(MsgNmbr), 0);
}

TEST_F(PipelineTest, ClosedDatabaseReceivesNothing) {
    std::string f = file("forums.txt", {forumLine("Closed Forum", 1, 0, "Hi"), forumLine("Existing Forum", 5, 0, "Hi")});
    ImportRun r(settings(), {f});
    run(r);
    EXPECT_EQ(r.totals().stored, 1u);
    EXPECT_EQ(r.totals().skipped, 1u);
    DbView v(kClosedDb);
    EXPECT_EQ(v.rows(MsgNmbr), 0);
}

TEST_F(PipelineTest, SameMessageTwiceInOneRunIsStoredOnce) {
    std::string a = file("a.txt", {forumLine("Existing Forum", 7, 0, "Hi")});
    std::string b = file("b.txt", {forumLine("Existing Forum", 7, 0, "Hi")});
    ImportRun r(settings(), {a, b});
    run(r);
    EXPECT_FALSE(r.failed());
    EXPECT_EQ(r.totals().stored, 1u);
    EXPECT_EQ(r.totals().skipped, 1u);
    EXPECT_EQ(forumsRow(kForumDb).MSGCOUNT, 1u);
    // The saved-message key was built: the next run finds the message.
    ImportRun again(settings(), {a});
    run(again);
    EXPECT_EQ(again.totals().stored, 0u);
    EXPECT_EQ(again.endText(), "No messages to import!");
}

TEST_F(PipelineTest, CarbonCopiesToTheOwnerAreNotKeptButMarkTheMail) {
    std::string f = file("mail.txt", {
                                         mailLine("Copied", "Cc One=cc1@example.com;Me=OWNER.ALT@example.org;"
                                                            "Cc One=CC1@example.com"),
                                         mailLine("Only me", "Me=owner@example.org"),
                                         mailLine("Nobody", ""),
                                     });
    ImportRun r(settings(), {f});
    run(r);
    ASSERT_FALSE(r.failed());
    EXPECT_EQ(r.totals().stored, 3u);
    EXPECT_EQ(forumsRow(kMailDb).MSGCOUNT, 3u);

    DbView v(kMailDb);
    OP_CLOSE(OpOpenShared, Mail.number(), CCRTable.number());
    std::map<std::string, std::pair<int, uint32_t>> bySubject;  // subject -> (CCR, MAILID)
    Mail.set(MAI_IdKey);
    while (Mail.next()) bySubject[MAI.SUBJECT.str()] = {MAI.CCR, MAI.MAILID};
    EXPECT_EQ(bySubject["Copied"].first, 1);
    EXPECT_EQ(bySubject["Only me"].first, 1);
    EXPECT_EQ(bySubject["Nobody"].first, 0);
    std::vector<std::string> kept;
    CCRTable.set(CCR_IdKey);
    while (CCRTable.next()) {
        EXPECT_EQ(CCR.MAILID, bySubject["Copied"].second);
        kept.push_back(upper(CCR.R_CISADRESS.view()));
    }
    // The recipient named twice (in another letter case) is kept once.
    EXPECT_EQ(kept, std::vector<std::string>{"CC1@EXAMPLE.COM"});
    OP_CLOSE(OpClose, Mail.number(), CCRTable.number());
}

TEST_F(PipelineTest, StopDuringImportAsksAndKeepsWhatIsCommitted) {
    std::vector<std::string> lines;
    for (int i = 1; i <= 1500; ++i) lines.push_back(forumLine("Existing Forum", i, 0, "Topic " + std::to_string(i % 7)));
    std::string f = file("big.txt", lines);
    ImportRun r(settings(), {f});
    while (r.state() != ImportState::ImportRecords && r.step()) {}
    ASSERT_EQ(r.state(), ImportState::ImportRecords);
    r.step();
    const uint64_t storedBefore = r.totals().stored;
    ASSERT_GT(storedBefore, 0u);
    ASSERT_LT(storedBefore, 1500u);

    headless.answers.push_back(BtnNo);
    EXPECT_FALSE(r.requestStop());
    EXPECT_FALSE(r.finished());
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_EQ(headless.shown.back().title, "Import process interrupted");

    headless.answers.push_back(BtnYes);
    EXPECT_TRUE(r.requestStop());
    EXPECT_TRUE(r.finished());
    EXPECT_TRUE(r.stopped());
    {
        DbView v(kForumDb);
        EXPECT_EQ(v.rows(MsgNmbr), static_cast<int64_t>(storedBefore));
    }
    // The registry counts the messages that were stored.
    EXPECT_EQ(forumsRow(kForumDb).MSGCOUNT, storedBefore);
    // The stopped run keeps its temporary file whole.
    EXPECT_EQ(temporaryRecords()[kForumDb], 1500);
    const auto kept = temporarySize();
    // The next run takes up the rest without a repair of the saved-message key.
    headless.shown.clear();
    ImportRun rest(settings(), {f});
    run(rest);
    EXPECT_FALSE(rest.failed());
    EXPECT_EQ(rest.totals().stored, 1500u - storedBefore);
    for (const auto& b : headless.shown) EXPECT_EQ(b.title.find("Bad keys"), std::string::npos) << b.title;
    // A run that stored everything leaves its temporary files empty and small.
    const auto left = temporarySize();
    EXPECT_EQ(left.first, 0);
    EXPECT_LT(left.second, kept.second / 2);
    // and the next run makes them again as usual.
    ImportRun again(settings(), {f});
    run(again);
    EXPECT_FALSE(again.failed());
    EXPECT_EQ(again.totals().stored, 0u);
}

TEST_F(PipelineTest, SavedDefinitionRunsLikeAScheduledTask) {
    std::string mbox = home.path + "/in.mbox";
    writeFile(mbox,
              "From sam@example.net Mon Jan  1 10:00:00 1996\n"
              "From: Sam Sender <sam@example.net>\n"
              "To: owner@example.org\n"
              "Subject: Scheduled\n"
              "Date: Mon, 1 Jan 1996 10:00:00 +0000\n"
              "\n"
              "Body of the mail\n");
    ImportSettings s;
    chooseReader(s, *readerByName("Unix Mail"));
    s.mailDb = kMailDb;
    s.method = 1;
    s.path = home.path;
    s.masks = "*.MBOX";
    uint32_t id = saveDefinition(s);
    ASSERT_NE(id, 0u);

    Mem.DoTask = 2;
    ImportTotals totals;
    EXPECT_EQ(runImportDefinition(id, &totals), ImportOutcome::Done);
    EXPECT_EQ(totals.stored, 1u);
    EXPECT_EQ(runImportDefinition(id, &totals), ImportOutcome::Done);
    EXPECT_EQ(totals.stored, 0u);
    std::string why;
    EXPECT_EQ(runImportDefinition(id + 1000, nullptr, &why), ImportOutcome::Failed);
    EXPECT_FALSE(why.empty());
    Mem.DoTask = 0;
    EXPECT_TRUE(headless.shown.empty());
}

TEST_F(PipelineTest, KindsNotTakenCreateNoDatabase) {
    std::string f = file("mixed.txt", {forumLine("Unwanted Forum", 1, 0, "Hi"), mailLine("Wanted", "")});
    ImportSettings s = settings();
    s.importForum = false;
    ImportRun r(s, {f});
    run(r);
    EXPECT_FALSE(r.failed());
    EXPECT_EQ(r.totals().stored, 1u);
    EXPECT_EQ(r.totals().skipped, 1u);
    EXPECT_EQ(forumNamed("Unwanted Forum"), 0u);
    EXPECT_FALSE(fs::exists(fs::path(Mem.FileDir) / "F4"));
}

TEST_F(PipelineTest, SecondRunWhileOneIsUnderWayIsRefused) {
    std::vector<std::string> lines;
    for (int i = 1; i <= 800; ++i) lines.push_back(forumLine("Existing Forum", i, 0, "Hi"));
    std::string f = file("big.txt", lines);
    ImportRun first(settings(), {f});
    first.step();
    first.step();
    ASSERT_FALSE(first.finished());

    EXPECT_TRUE(temporaryFilesInUse());
    ImportRun second(settings(), {f});
    run(second);
    EXPECT_TRUE(second.failed());
    EXPECT_TRUE(shown("Another import or database merge is running!\r\nImport will not proceed!\r\n"));

    run(first);
    EXPECT_FALSE(first.failed());
    EXPECT_EQ(first.totals().stored, 800u);
    EXPECT_FALSE(temporaryFilesInUse());
    // Once the first has ended, a new run may start.
    ImportRun third(settings(), {f});
    run(third);
    EXPECT_FALSE(third.failed());
    EXPECT_EQ(third.endText(), "No messages to import!");
}

TEST_F(PipelineTest, FailedTemporaryWriteEndsTheRun) {
    std::vector<std::string> lines;
    for (int i = 1; i <= 700; ++i) lines.push_back(forumLine("Existing Forum", i, 0, "Hi"));
    std::string f = file("big.txt", lines);
    ImportRun r(settings(), {f});
    while (r.state() != ImportState::Convert && r.step()) {}
    ASSERT_EQ(r.state(), ImportState::Convert);
    // The temporary file goes away under the reader.
    NewHR.close();
    run(r);
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(r.totals().stored, 0u);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_NE(headless.shown.back().text.find("Messages will not be imported!"), std::string::npos);
    EXPECT_EQ(forumsRow(kForumDb).MSGCOUNT, 0u);
}

// ---- failures that must not pass for the end of the data -------------------------

TEST_F(PipelineTest, ReaderThatThrowsOnOneMessageGoesOnWithTheNext) {
    // The test reader cannot read the date of the second message (an exception).
    std::string f = file("bad.txt", {forumLine("Existing Forum", 1, 0, "One"),
                                      "F|Existing Forum|1|General|2|0|Two|Ann Author|11111,111|All||abcd-ef-gh|x",
                                      forumLine("Existing Forum", 3, 0, "Three")});
    ImportRun r(settings(), {f});
    run(r);
    EXPECT_FALSE(r.failed());
    EXPECT_EQ(r.totals().stored, 2u);
    EXPECT_EQ(r.totals().skipped, 1u);
    EXPECT_EQ(r.context().failedMessages, 1u);
    bool reported = false;
    for (const auto& b : headless.shown)
        if (b.title == " Import Error " && b.text.rfind(f + "\r\n1 message could not be read and was skipped:", 0) == 0)
            reported = true;
    EXPECT_TRUE(reported);
}

TEST_F(PipelineTest, ReadErrorInTheImportPassEndsTheRun) {
    std::vector<std::string> lines;
    for (int i = 1; i <= 1200; ++i) lines.push_back(forumLine("Existing Forum", i, 0, "Hi"));
    std::string f = file("big.txt", lines);
    ImportRun r(settings(), {f});
    while (r.state() != ImportState::ImportRecords && r.step()) {}
    ASSERT_EQ(r.state(), ImportState::ImportRecords);
    r.step();  // the first batch
    ASSERT_EQ(r.state(), ImportState::ImportRecords);
    const uint64_t storedBefore = r.totals().stored;
    ASSERT_GT(storedBefore, 0u);
    ASSERT_LT(storedBefore, 1200u);
    // The temporary file can no longer be read.
    NewHR.close();
    run(r);
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(r.totals().stored, storedBefore);
    EXPECT_TRUE(r.endText().empty());  // neither "finished" nor "No messages to import!"
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_NE(headless.shown.back().text.find("Messages will not be imported!"), std::string::npos);
    // What was stored is kept and counted; the failed run keeps its temporary file.
    EXPECT_EQ(forumsRow(kForumDb).MSGCOUNT, storedBefore);
    EXPECT_EQ(temporaryRecords()[kForumDb], 1200);
}

TEST_F(PipelineTest, NewForumDirectoryPassesOverNumbersOnTheDisk) {
    // A directory that no registry row names, left on the disk.
    fs::create_directories(fs::path(Mem.FileDir) / "F4");
    writeFile((fs::path(Mem.FileDir) / "F4" / "keep.txt").string(), "someone's file");
    std::string f = file("new.txt", {forumLine("Brand New Forum", 5, 0, "First")});
    ImportRun r(settings(), {f});
    run(r);
    ASSERT_FALSE(r.failed());
    const uint32_t id = forumNamed("Brand New Forum");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(forumsRow(id).DIRNUMBER, 5u);
    EXPECT_TRUE(fs::is_directory(fs::path(Mem.FileDir) / "F5"));
    EXPECT_EQ(readFile((fs::path(Mem.FileDir) / "F4" / "keep.txt").string()), "someone's file");
    EXPECT_EQ(fs::directory_iterator(fs::path(Mem.FileDir) / "F4")->path().filename(), "keep.txt");
}

TEST_F(PipelineTest, UnattendedRunWithoutTemporaryFilesShowsNoBox) {
    std::string f = file("one.txt", {forumLine("Existing Forum", 1, 0, "Hi")});
    // The temporary directory is a file: the temporary tables cannot be made.
    fs::remove_all(Mem.TempDir);
    writeFile(Mem.TempDir, "not a directory");
    Mem.DoTask = 2;
    ImportRun r(settings(), {f});
    run(r);
    Mem.DoTask = 0;
    EXPECT_TRUE(r.failed());
    EXPECT_TRUE(headless.shown.empty());
}

TEST_F(PipelineTest, OzWinMessageWithoutForumGoesToTheRunsForum) {
    std::string path = home.path + "/OZ.MSG";
    writeFile(path,
              "#: 500 S1/General\r\n"
              "    12-Jan-96  14:33:10\r\n"
              "Sb: No forum named\r\n"
              "Fm: John Smith 12345,678\r\n"
              "To: ALL\r\n"
              "\r\n"
              "Which forum is this?\r\n"
              "\r\n"
              "#: 501 S2/Modems (CIS:NAMEDFORUM)\r\n"
              "    12-Jan-96  15:00:00\r\n"
              "Sb: A forum named\r\n"
              "Fm: John Smith 12345,678\r\n"
              "To: ALL\r\n"
              "\r\n"
              "This one names it.\r\n");
    ImportSettings s = settings();
    chooseReader(s, *readerByName("OzWin I"));
    s.mailDb = kMailDb;
    s.forumDb = kForumDb;
    s.method = 2;
    ImportRun r(s, {path});
    run(r);
    ASSERT_FALSE(r.failed());
    EXPECT_EQ(r.totals().stored, 2u);
    EXPECT_EQ(forumsRow(kForumDb).MSGCOUNT, 1u);  // the message without a forum name
    const uint32_t named = forumNamed("NAMEDFORUM");
    ASSERT_NE(named, 0u);
    EXPECT_EQ(forumsRow(named).MSGCOUNT, 1u);  // a named forum is not forced into the run's
}
