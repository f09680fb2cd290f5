// The import run: routing and the temporary file of the pre-import pass, the
// import pass into forum and mail databases, and its stop and space checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/catalogue.h"
#include "import/pipeline.h"
#include "tests/pipeline_testreader.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

constexpr uint32_t kMailDb = 300001, kForumDb = 300002, kClosedDb = 300003;
constexpr uint32_t kFirstId = 400000;

class PipelineTest : public ::testing::Test {
protected:
    TempDir home;
    HeadlessUi headless;

    void SetUp() override {
        ASSERT_TRUE(test::testReaderRegistered());
        Mem = MemGlobals{};
        startHeadless(home.path);
        setUi(&headless);
        OP_CLOSE(OpOpenShared, Forums.number(), Control.number());
        addDb(kMailDb, "Owner Mail", 1, KindMail, false);
        addDb(kForumDb, "Existing Forum", 2, KindForum, false);
        addDb(kClosedDb, "Closed Forum", 3, KindForum, true);
        Control.clearBuffer();
        CTL.ID = 1;
        CTL.NEXTNUMBER = kFirstId;
        ASSERT_TRUE(Control.add());
        OP_CLOSE(OpClose, Forums.number(), Control.number());
    }

    void TearDown() override {
        if (inTransaction()) rollbackTransaction();
        closeAllTables();
        for (int n = 1; n <= 42; ++n)
            if (tableNumberDefined(n)) OP_CLOSE(OpForceClose, n);
        setUi(nullptr);
        Mem = MemGlobals{};
    }

    void addDb(uint32_t id, const std::string& name, uint32_t dir, uint8_t type, bool closed) {
        Forums.clearBuffer();
        FOR.ID = id;
        FOR.DESCRIPTION.set(name);
        FOR.DIRNUMBER = dir;
        FOR.TYPE = type;
        FOR.NOIMPORT = closed ? 1 : 0;
        if (type == KindMail) {
            FOR.MAILADDRESS.set("owner@example.org");
            FOR.ALTADDRESS[0].set("Owner.Alt@Example.ORG");
        }
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
    run(r);

    // The new forum got an entry with an ID from the private counter and the
    // next directory number.
    const TargetDb* created = nullptr;
    for (const auto& t : r.context().targets)
        if (t.description == "Brand New Forum") created = &t;
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->dirNumber, 4u);
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
    run(r);
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
    run(r);
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
