// The db, rebuild and next-id-check commands, run as the qbox program on a
// home directory of their own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "tests/qboxrun.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

struct Outcome {
    int status;
    std::string out, err;
};

class RegistryCli : public ::testing::Test {
protected:
    TempDir tmp;
    std::string home;
    void SetUp() override { home = tmp.path + "/home"; }

    Outcome qbox(std::vector<std::string> args) {
        QboxOutcome r = runQbox(home, tmp.path, std::move(args));
        return Outcome{r.status, r.out, r.err};
    }
    static std::vector<std::vector<std::string>> rows(const std::string& out) { return tabRows(out); }

    // Works on the home inside this process, for what no command does.
    template <class F>
    void inProcess(F f) {
        HeadlessUi quiet;
        setUi(&quiet);
        startHeadless(home);
        f();
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        closeAllTables();
        Mem = MemGlobals{};
        setUi(nullptr);
    }
};

TEST_F(RegistryCli, AddListSelectRemove) {
    Outcome a = qbox({"db", "add-forum", "Linux MIPS"});
    ASSERT_EQ(a.status, 0) << a.err;
    auto added = rows(a.out);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0], (std::vector<std::string>{added[0][0], "forum", "Linux MIPS", "F1", "0"}));
    EXPECT_GE(std::stoul(added[0][0]), 250000u);

    Outcome dup = qbox({"db", "add-forum", "linux mips"});
    EXPECT_EQ(dup.status, 1);
    EXPECT_EQ(dup.out, "");
    EXPECT_NE(dup.err.find("A record with identical key already exists!"), std::string::npos) << dup.err;

    Outcome m = qbox({"db", "add-mail", "Post Box", "--address", "me@example.org", "--alt", "76543,210"});
    ASSERT_EQ(m.status, 0) << m.err;
    Outcome noAddress = qbox({"db", "add-mail", "Other"});
    EXPECT_EQ(noAddress.status, 1);
    Outcome cafe = qbox({"db", "add-forum", "Caf\xC3\xA9"});  // UTF-8 on the terminal
    ASSERT_EQ(cafe.status, 0) << cafe.err;
    // The commands leave no files of their own behind in the configuration,
    // and the tables they wrote are at rest without write-ahead logs.
    for (auto& e : std::filesystem::recursive_directory_iterator(home)) {
        const std::string n = e.path().filename().string();
        EXPECT_FALSE(n.size() > 3 && n.rfind("qbtxn-", 0) == 0 && n.substr(n.size() - 3) == ".db") << n;
        EXPECT_FALSE(n.size() > 4 && (n.substr(n.size() - 4) == "-wal" || n.substr(n.size() - 4) == "-shm")) << n;
    }

    Outcome list = qbox({"db", "list"});
    ASSERT_EQ(list.status, 0) << list.err;
    auto l = rows(list.out);
    ASSERT_EQ(l.size(), 3u) << list.out;
    EXPECT_EQ(l[0][2], "Caf\xC3\xA9");
    EXPECT_EQ(l[0][3], "F3");
    // The list row is the added row and the word-index flag of a database
    // that keeps none.
    std::vector<std::string> listed = added[0];
    listed.push_back("-");
    EXPECT_EQ(l[1], listed);
    EXPECT_EQ(l[2][1], "mail");
    EXPECT_EQ(l[2][2], "Post Box");
    EXPECT_EQ(l[2][3], "F2");

    Outcome unknown = qbox({"db", "select", "No such"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("no database named No such"), std::string::npos);
    Outcome sel = qbox({"db", "select", "POST BOX"});
    ASSERT_EQ(sel.status, 0) << sel.err;
    inProcess([&] { EXPECT_EQ(konfigNumber(6), std::stol(l[2][0])); });

    Outcome rm = qbox({"db", "remove", "linux MIPS"});
    ASSERT_EQ(rm.status, 0) << rm.err;
    EXPECT_FALSE(fs::exists(home + "/F1"));
    auto after = rows(qbox({"db", "list"}).out);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[1][2], "Post Box");
    EXPECT_EQ(qbox({"db", "remove", "linux MIPS"}).status, 1);
    EXPECT_EQ(qbox({"db", "frobnicate"}).status, 1);
}

// Listing the databases reads the database list and nothing else: it lists
// them also while the settings file cannot be read, which stops any command
// that reads it. In a home without a list it starts as every command does.
TEST_F(RegistryCli, ListReadsTheDatabaseListAlone) {
    Outcome fresh = qbox({"db", "list"});
    ASSERT_EQ(fresh.status, 0) << fresh.err;
    EXPECT_EQ(fresh.out, "");
    EXPECT_TRUE(fs::exists(home + "/CFG/IDX002.TPS"));
    ASSERT_EQ(qbox({"db", "add-forum", "Linux MIPS"}).status, 0);
    const Outcome before = qbox({"db", "list"});
    ASSERT_EQ(before.status, 0) << before.err;
    ASSERT_EQ(rows(before.out).size(), 1u);

    writeFile(home + "/CFG/IDX008.TPS", std::string(4096, 'x'));
    const Outcome list = qbox({"db", "list"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, before.out);
    EXPECT_NE(qbox({"db", "select", "Linux MIPS"}).status, 0);
}

TEST_F(RegistryCli, RebuildDropsLostDirectoriesAndAttachesUnrecordedOnes) {
    ASSERT_EQ(qbox({"db", "add-forum", "Lost"}).status, 0);     // F1
    ASSERT_EQ(qbox({"db", "add-forum", "Kept"}).status, 0);     // F2
    ASSERT_EQ(qbox({"db", "add-forum", "Orphan"}).status, 0);   // F3
    fs::remove_all(home + "/F1");
    // F3 loses its registry row but keeps its directory.
    inProcess([&] {
        ForumsRec r;
        ASSERT_TRUE(findDatabaseByName("Orphan", r));
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = r.ID;
        ASSERT_TRUE(Forums.get(FOR_ForumKey));
        ASSERT_TRUE(Forums.erase());
        OP_CLOSE(OpClose, Forums.number());
    });

    // Without --yes nothing is dropped: the rebuild says what it would drop.
    Outcome dry = qbox({"rebuild"});
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_NE(dry.out.find("would-remove\tF1\tLost\nremoved\t0\n"), std::string::npos) << dry.out;
    EXPECT_NE(dry.out.find("attached\t1\n"), std::string::npos) << dry.out;
    EXPECT_NE(dry.err.find("rebuild --yes"), std::string::npos) << dry.err;
    const std::string dryLog = readFile(home + "/CFG/TestDB.Txt");
    EXPECT_NE(dryLog.find("Kept       F1 Lost"), std::string::npos) << dryLog;
    EXPECT_EQ(rows(qbox({"db", "list"}).out).size(), 3u);

    Outcome rb = qbox({"rebuild", "--yes"});
    ASSERT_EQ(rb.status, 0) << rb.err;
    EXPECT_EQ(rb.out.find("would-remove"), std::string::npos) << rb.out;
    EXPECT_NE(rb.out.find("removed\t1\n"), std::string::npos) << rb.out;
    EXPECT_NE(rb.out.find("attached\t0\n"), std::string::npos) << rb.out;
    EXPECT_NE(rb.out.find("log\t" + home + "/CFG/TestDB.Txt\n"), std::string::npos) << rb.out;
    EXPECT_NE(rb.err.find("Directory path " + home + "/F1 for database Lost does not exist!"), std::string::npos);

    auto l = rows(qbox({"db", "list"}).out);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0][2], "Kept");
    EXPECT_EQ(l[1][2], "Orphan");
    EXPECT_EQ(l[1][3], "F3");

    const std::string log = readFile(home + "/CFG/TestDB.Txt");
    for (const char* line : {"Checking the Quillbox directory structure ...OK!\r\n",
                             " Databases recorded in the IDX002.TPS file\r\n", "Forum      F2 Kept\r\n",
                             "Checking the existing Quillbox database list ...OK!\r\n",
                             "Attaching new database directories ... OK!\r\n",
                             "Checking for highest existing ID ...OK!\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_NE(dryLog.find(" Databases not recorded in the IDX002.TPS file\r\n"), std::string::npos);
    EXPECT_NE(dryLog.find("Forum      F3 Orphan\r\n"), std::string::npos);

    // A second rebuild finds everything in order.
    Outcome again = qbox({"rebuild"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("removed\t0\nrenamed\t0\nattached\t0\nnextid\t"), std::string::npos) << again.out;
    EXPECT_NE(readFile(home + "/CFG/TestDB.Txt").find(" All databases are connected"), std::string::npos);
}

TEST_F(RegistryCli, RebuildOfAnEmptyHomeIsAnError) {
    Outcome rb = qbox({"rebuild"});
    EXPECT_EQ(rb.status, 1);
    EXPECT_NE(rb.err.find("No database available at " + home), std::string::npos) << rb.err;
}

TEST_F(RegistryCli, NextIdCheckFollowsTheHighestIdInTheTables) {
    ASSERT_EQ(qbox({"db", "add-mail", "Box", "--address", "me@x.org"}).status, 0);  // F1
    inProcess([&] {
        Mem.Dirnamn = "F1";
        OP_CLOSE(OpOpenShared, MsgText.number(), Person.number());
        MsgText.clearBuffer();
        TXT.MSGNUMBER = 900100;
        TXT.DATE = 80000;
        ASSERT_TRUE(MsgText.add());
        Person.clearBuffer();
        PER.PERSONID = 900000;
        PER.PERSONSTRING = "SOMEONE X@Y";
        ASSERT_TRUE(Person.add());
        OP_CLOSE(OpClose, MsgText.number(), Person.number());
    });
    Outcome c = qbox({"next-id-check"});
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.out, "nextid\t900101\n");
    auto l = rows(qbox({"db", "list"}).out);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0][4], "1");  // the message count was taken on the way
    Outcome a = qbox({"db", "add-forum", "Next"});
    ASSERT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(rows(a.out)[0][0], "900101");
}

// Another process adds a database between this one's choice of a directory
// number and the creation of the directory: each gets a directory of its
// own, and neither removes the other's.
std::vector<std::string> hookArgs;
std::string hookErr;
int hookStatus = -1;
void addAnotherDatabase(uint32_t) {
    if (hookArgs.empty()) return;
    std::vector<std::string> args = hookArgs;
    hookArgs.clear();
    hookStatus = runChild([&] {
        int devnull = ::open("/dev/null", O_WRONLY);
        int err = ::open(hookErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(devnull, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        return 127;
    });
}

TEST_F(RegistryCli, TwoProcessesAddingAtOnceGetTwoDirectories) {
    ASSERT_EQ(qbox({"db", "add-forum", "First"}).status, 0);  // F1
    inProcess([&] {
        hookArgs = {QBOX_BIN, "--home", home, "db", "add-forum", "Other process"};
        hookErr = tmp.path + "/hook-err.txt";
        addDatabaseHook = addAnotherDatabase;
        const uint32_t id = addForumDatabase("This process");
        addDatabaseHook = nullptr;
        EXPECT_NE(id, 0u);
    });
    EXPECT_EQ(hookStatus, 0) << readFile(hookErr);
    auto l = rows(qbox({"db", "list"}).out);
    ASSERT_EQ(l.size(), 3u);
    std::set<std::string> dirs;
    for (auto& r : l) {
        dirs.insert(r[3]);
        EXPECT_TRUE(fs::exists(home + "/" + r[3] + "/IDX003.TPS")) << r[2] << " " << r[3];
        EXPECT_TRUE(fs::exists(home + "/" + r[3] + "/IDX022.DAT")) << r[2] << " " << r[3];
    }
    EXPECT_EQ(dirs.size(), 3u);
    Outcome rb = qbox({"rebuild"});
    EXPECT_NE(rb.out.find("removed\t0\nrenamed\t0\nattached\t0\n"), std::string::npos) << rb.out << rb.err;
}

TEST_F(RegistryCli, RebuildRefusesALowerCaseDirectoryWithALogLine) {
    ASSERT_EQ(qbox({"db", "add-forum", "Kept"}).status, 0);     // F1
    ASSERT_EQ(qbox({"db", "add-forum", "Lowered"}).status, 0);  // F2
    inProcess([&] {
        ForumsRec r;
        ASSERT_TRUE(findDatabaseByName("Lowered", r));
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = r.ID;
        ASSERT_TRUE(Forums.get(FOR_ForumKey));
        ASSERT_TRUE(Forums.erase());
        OP_CLOSE(OpClose, Forums.number());
    });
    fs::rename(home + "/F2", home + "/f2");

    Outcome rb = qbox({"rebuild", "--yes"});
    ASSERT_EQ(rb.status, 0) << rb.err;
    EXPECT_NE(rb.out.find("attached\t0\n"), std::string::npos) << rb.out;
    const std::string log = readFile(home + "/CFG/TestDB.Txt");
    EXPECT_NE(log.find("Invalid DB f2 .. the directory name must be F2"), std::string::npos) << log;
    auto l = rows(qbox({"db", "list"}).out);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0][2], "Kept");
    // Every registered row still names a directory that is there.
    for (auto& r : l) EXPECT_TRUE(fs::is_directory(home + "/" + r[3])) << r[3];
    EXPECT_TRUE(fs::exists(home + "/f2/IDX003.TPS"));
}

} // namespace
