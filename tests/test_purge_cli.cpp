// The mark, purge and count commands on the sample mailing-list archive, run
// as the qbox program.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/internettest.h"
#include "tests/qboxrun.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

using Outcome = QboxOutcome;

class PurgeCli : public ::testing::Test {
protected:
    TempDir tmp;
    std::string home;
    void SetUp() override { home = tmp.path + "/home"; }

    Outcome qbox(std::vector<std::string> args) { return runQbox(home, tmp.path, std::move(args)); }

    // The numbers after the words of a line like "messages 3 partners 2 persons 4".
    static std::vector<unsigned long> numbers(const std::string& line, const std::vector<std::string>& words) {
        std::istringstream in(line);
        std::vector<unsigned long> v;
        for (const std::string& w : words) {
            std::string word;
            unsigned long n = 0;
            if (!(in >> word >> n) || word != w) return {};
            v.push_back(n);
        }
        return v;
    }

    // The mail IDs of the database, newest first.
    std::vector<std::string> ids(const std::string& db) {
        Outcome r = qbox({"list", db});
        std::vector<std::string> v;
        std::istringstream in(r.out);
        std::string line;
        while (std::getline(in, line)) v.push_back(line.substr(0, line.find('\t')));
        return v;
    }
};

TEST_F(PurgeCli, MarkPurgeAndCountTheSampleArchive) {
    const std::string mbox = sharedDataFile("linux-mips-1996-sample.mbox");
    if (mbox.empty()) GTEST_SKIP() << "no sample archive";
    ASSERT_EQ(qbox({"db", "add-mail", "Lists", "--address", "owner@example.org"}).status, 0);
    Outcome imp = qbox({"import", "--reader", "Unix Mail", "--mail-db", "Lists", mbox});
    ASSERT_EQ(imp.status, 0) << imp.err;

    Outcome c = qbox({"count", "Lists"});
    ASSERT_EQ(c.status, 0) << c.err;
    std::vector<unsigned long> first = numbers(c.out, {"messages", "partners", "persons"});
    ASSERT_EQ(first.size(), 3u) << c.out;
    ASSERT_GT(first[0], 2000u);
    EXPECT_EQ(first[2], first[1] + 1);  // the partners and the database's own person

    std::vector<std::string> all = ids("Lists");
    ASSERT_EQ(all.size(), first[0]);
    // Unknown IDs are named and fail the command; the known ones are marked.
    Outcome m = qbox({"mark", "Lists", all[0], all[1], all[2], "4000000000", "x1", "--delete"});
    EXPECT_EQ(m.status, 1);
    EXPECT_NE(m.err.find("4000000000"), std::string::npos) << m.err;
    EXPECT_NE(m.err.find("x1"), std::string::npos) << m.err;
    EXPECT_EQ(m.out, "marked 3\n");
    EXPECT_EQ(qbox({"mark", "Lists", all[2], "--normal"}).status, 0);
    EXPECT_EQ(qbox({"mark", "Lists", all[3], "--keep", "--delete"}).status, 2);

    Outcome p = qbox({"purge", "Lists"});
    ASSERT_EQ(p.status, 0) << p.err;
    std::vector<unsigned long> purge = numbers(p.out, {"before", "deleted", "after"});
    ASSERT_EQ(purge.size(), 3u) << p.out;
    EXPECT_EQ(purge[0], first[0]);
    // The two marked mails, and whatever the archive holds twice.
    EXPECT_GE(purge[1], 2u);
    EXPECT_EQ(purge[2], purge[0] - purge[1]);
    std::vector<std::string> left = ids("Lists");
    EXPECT_EQ(left.size(), purge[2]);
    EXPECT_EQ(std::count(left.begin(), left.end(), all[0]), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), all[2]), 1);

    // A second purge finds nothing; the count agrees with it.
    p = qbox({"purge", "Lists"});
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out, "before " + std::to_string(purge[2]) + " deleted 0 after " + std::to_string(purge[2]) + "\n");
    c = qbox({"count", "Lists"});
    EXPECT_EQ(numbers(c.out, {"messages", "partners", "persons"}).at(0), purge[2]);

    Outcome bad = qbox({"purge", "Nothing"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("Nothing"), std::string::npos);
}

TEST_F(PurgeCli, ForumCountAndAgedPurge) {
    ASSERT_EQ(qbox({"db", "add-forum", "Empty Forum"}).status, 0);
    Outcome c = qbox({"count", "empty forum"});
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.out, "messages 0 threads 0 persons 0\n");
    Outcome p = qbox({"purge", "Empty Forum", "--age-weeks", "4"});
    EXPECT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out, "before 0 deleted 0 after 0\n");
    EXPECT_EQ(qbox({"purge", "Empty Forum", "--age-weeks", "-3"}).status, 2);
}

} // namespace
