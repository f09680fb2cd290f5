// The task manager from the command line: a definition, a task over a real
// mailbox with purge, count and indexing, its run, its log and the due run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/internettest.h"
#include "tests/qboxrun.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

// The messages [from, to) of a mailbox, cut at its "From " lines.
std::string mailboxPart(const std::string& path, int from, int to) {
    std::ifstream in(path, std::ios::binary);
    std::string line, out;
    int n = -1;
    bool blank = true;
    while (std::getline(in, line)) {
        if (blank && line.rfind("From ", 0) == 0) ++n;
        blank = line.empty() || line == "\r";
        if (n >= to) break;
        if (n >= from) out += line + "\n";
    }
    return out;
}

class TasksCli : public ::testing::Test {
protected:
    TempDir tmp;
    std::string home;
    void SetUp() override { home = tmp.path + "/home"; }
    QboxOutcome qbox(std::vector<std::string> args) { return runQbox(home, tmp.path, std::move(args)); }
};

TEST_F(TasksCli, NightlyRunOverAMailboxWithItsLog) {
    const std::string mbox = sharedDataFile("linux-mips-1996-sample.mbox");
    if (mbox.empty()) GTEST_SKIP() << "no sample archive";
    const std::string in = tmp.path + "/in";
    fs::create_directories(in);
    std::ofstream(in + "/one.mbox", std::ios::binary) << mailboxPart(mbox, 0, 150);

    ASSERT_EQ(qbox({"db", "add-mail", "Lists", "--address", "owner@example.org"}).status, 0);
    QboxOutcome r = qbox({"definition", "add", "Inbox", "--reader", "Unix Mail", "--mail-db", "Lists", "--dir", in});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(qbox({"definition", "add", "inbox", "--reader", "Unix Mail", "--dir", in}).status, 1);  // name taken
    r = qbox({"definition", "list"});
    auto rows = tabRows(r.out);
    ASSERT_EQ(rows.size(), 1u) << r.out;
    EXPECT_EQ(rows[0][1], "Inbox");
    EXPECT_EQ(rows[0][2], "Unix Mail");
    EXPECT_EQ(rows[0][4], fs::path(in).lexically_normal().string());

    r = qbox({"import", "--definition", "Inbox"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("stored ", 0), 0u) << r.out;
    EXPECT_NE(r.out, "stored 0 skipped 0\n");
    // The first indexing run makes the database keep its index.
    auto indexFlag = [&] {
        auto dbs = tabRows(qbox({"db", "list"}).out);
        return dbs.size() == 1 && dbs[0].size() == 6 ? dbs[0][5] : std::string("?");
    };
    EXPECT_EQ(indexFlag(), "-");
    r = qbox({"index", "Lists"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(indexFlag(), "index");
    r = qbox({"search", "Lists", "--and", "linux"});
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t foundBefore = tabRows(r.out).size();
    ASSERT_GT(foundBefore, 0u);

    // New mail arrives; the task imports it, purges and indexes.
    std::ofstream(in + "/two.mbox", std::ios::binary) << mailboxPart(mbox, 150, 300);
    r = qbox({"task", "add", "Nightly", "--definition", "Inbox", "--purge", "--count", "--index", "--run-now"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(qbox({"task", "add", "Weekly", "--definition", "Inbox", "--weekdays", "Mon"}).status, 2);
    r = qbox({"task", "list"});
    rows = tabRows(r.out);
    ASSERT_EQ(rows.size(), 1u) << r.out;
    EXPECT_EQ(rows[0][1], "Nightly");
    EXPECT_EQ(rows[0][2], "active");
    EXPECT_EQ(rows[0][5], "Not run");

    r = qbox({"task", "run", "Nightly"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\tOK"), std::string::npos) << r.out;
    // Unattended: no box and no question on the way.
    std::istringstream errLines(r.err);
    for (std::string line; std::getline(errLines, line);) EXPECT_NE(line.rfind("[", 0), 0u) << line;

    r = qbox({"task", "log", "Nightly"});
    ASSERT_EQ(r.status, 0) << r.err;
    rows = tabRows(r.out);
    ASSERT_EQ(rows.size(), 4u) << r.out;
    EXPECT_EQ(rows[0][0], "run 1");
    EXPECT_EQ(rows[0][3], "OK");
    const std::vector<std::pair<std::string, std::string>> want = {
        {"Import", "Inbox"}, {"CleanUp", "Purging messages"}, {"CleanUp", "Word indexing"}};
    for (size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(rows[i + 1].size(), 6u) << r.out;
        EXPECT_EQ(rows[i + 1][1], want[i].first);
        EXPECT_EQ(rows[i + 1][2], want[i].second);
        EXPECT_EQ(rows[i + 1][5], "OK");
        // A start and either a duration or "N.A." for a step under a hundredth.
        EXPECT_FALSE(rows[i + 1][3].empty());
        EXPECT_TRUE(rows[i + 1][4] == "N.A." || rows[i + 1][4].size() == 8u) << rows[i + 1][4];
    }

    // The run-now request without a next start is used up.
    rows = tabRows(qbox({"task", "list"}).out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][2], "inactive");
    EXPECT_EQ(rows[0][5], "OK");
    r = qbox({"tasks", "due"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "runs 0 failed 0\n");

    // The index that the task brought up to date finds the new mail as well.
    r = qbox({"search", "Lists", "--and", "linux"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(tabRows(r.out).size(), foundBefore);

    // A definition run by a task is not deleted under it.
    EXPECT_EQ(qbox({"definition", "delete", "Inbox"}).status, 1);
    EXPECT_EQ(qbox({"task", "delete", "Nightly"}).status, 0);
    EXPECT_EQ(qbox({"definition", "delete", "Inbox"}).status, 0);
    EXPECT_EQ(qbox({"definition", "list"}).out, "");
}

TEST_F(TasksCli, DueTasksRunOnceAtATime) {
    ASSERT_EQ(qbox({"db", "add-mail", "Lists", "--address", "owner@example.org"}).status, 0);
    const std::string in = tmp.path + "/in";
    fs::create_directories(in);
    std::ofstream(in + "/note.mbox", std::ios::binary)
        << "From a@example.org Mon Dec  7 10:00:00 2026\nFrom: a@example.org\nTo: owner@example.org\n"
           "Subject: note\nDate: Mon, 7 Dec 2026 10:00:00 +0000\n\nA short note.\n";
    ASSERT_EQ(qbox({"definition", "add", "Notes", "--reader", "Unix Mail", "--dir", in}).status, 0);
    ASSERT_EQ(qbox({"task", "add", "Soon", "--definition", "Notes", "--next", "2001-01-01 00:00"}).status, 0);

    // While another qbox runs the due tasks, a second one leaves at once.
    const std::string lockPath = home + "/tasks-due.lock";
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    QboxOutcome r = qbox({"tasks", "due"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("another qbox"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    ::flock(fd, LOCK_UN);
    ::close(fd);

    // The start in the past is due; having run, the single start is used up.
    r = qbox({"tasks", "due"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "runs 1 failed 0\n");
    auto rows = tabRows(qbox({"task", "list"}).out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][2], "inactive");
    EXPECT_EQ(qbox({"tasks", "due"}).out, "runs 0 failed 0\n");

    // Turning the index of a database on and off.
    auto indexFlag = [&] {
        auto dbs = tabRows(qbox({"db", "list"}).out);
        return dbs.size() == 1 && dbs[0].size() == 6 ? dbs[0][5] : std::string("?");
    };
    EXPECT_EQ(indexFlag(), "-");
    EXPECT_EQ(qbox({"db", "index", "on", "Lists"}).status, 0);
    EXPECT_EQ(indexFlag(), "index");
    EXPECT_EQ(qbox({"db", "index", "off", "Lists"}).status, 0);
    EXPECT_EQ(indexFlag(), "-");
    EXPECT_EQ(qbox({"db", "index", "off", "Nothing"}).status, 1);
    EXPECT_EQ(qbox({"db", "index", "maybe", "Lists"}).status, 1);
}

} // namespace
