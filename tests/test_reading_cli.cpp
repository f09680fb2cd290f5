// The reading commands of the command line: list, show and find.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "core/dates.h"
#include "tests/reading_fixture.h"
#include "tests/reading_runs.h"

using namespace qb;
using qb::testing::CliRun;
using qb::testing::ReadingDb;
using qb::testing::qbox;

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t p = 0;
    for (;;) {
        size_t e = s.find(sep, p);
        out.push_back(s.substr(p, e == std::string::npos ? std::string::npos : e - p));
        if (e == std::string::npos) break;
        p = e + 1;
    }
    return out;
}

class ReadingCli : public ReadingDb {
protected:
    void SetUp() override {
        ReadingDb::SetUp();
        makeDatabase(2, "Home Mail", 300000, 1, 100);
        beginBulk();
        addPerson(100, "Ann", "Owner", "ann@home.example");
        addPerson(101, "Jos\xE9", "Baker", "bob@example.org");
        for (uint32_t i = 0; i < 30; ++i)
            addMail(1000 + i, dayNumber(1996, 3, 1) + static_cast<int32_t>(i), clockTime(8, 30, 0),
                    "Mail number " + std::to_string(i), i % 3 ? 101 : 100, i % 3 ? "Baker" : "Owner",
                    i % 3 ? 100 : 101, i % 3 ? "Owner" : "Baker", 100);
        addText(1005, "Caf\xE9 au lait\r\nSee you at the caf\xE9.\r\n");
        addText(1012, "no match here");
        addText(1020, "A CAF\xC9 again");
        endBulk();
        closeAllTables();
    }
};

} // namespace

TEST_F(ReadingCli, ListShowsOneMessageALine) {
    CliRun r = qbox(home.path, "list 'home mail' --limit 3");
    ASSERT_EQ(r.status, 0) << r.err;
    auto lines = split(r.out, '\n');
    ASSERT_EQ(lines.size(), 4u);  // three lines and the empty rest after the last line end
    EXPECT_EQ(lines[3], "");
    auto f = split(lines[0], '\t');
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(f[0], "1029");
    EXPECT_EQ(f[1], "1996-03-30");
    EXPECT_EQ(f[2], "Jos\xC3\xA9 Baker");  // UTF-8 on the terminal
    EXPECT_EQ(f[3], "Mail number 29");

    CliRun all = qbox(home.path, "list 'Home Mail'");
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(split(all.out, '\n').size(), 31u);
    // Tab 2 sorts by subject.
    CliRun subj = qbox(home.path, "list 'Home Mail' --tab 2 --limit 2");
    ASSERT_EQ(subj.status, 0) << subj.err;
    EXPECT_EQ(split(split(subj.out, '\n')[0], '\t')[3], "Mail number 0");
    EXPECT_EQ(split(split(subj.out, '\n')[1], '\t')[3], "Mail number 1");

    CliRun bad = qbox(home.path, "list 'No Such Base'");
    EXPECT_NE(bad.status, 0);
    EXPECT_TRUE(bad.out.empty());
    EXPECT_NE(bad.err.find("no database named"), std::string::npos);
    EXPECT_NE(qbox(home.path, "list 'Home Mail' --tab 12").status, 0);
    EXPECT_NE(qbox(home.path, "list 'Home Mail' --limit x").status, 0);
}

TEST_F(ReadingCli, ShowRendersTheMessage) {
    CliRun r = qbox(home.path, "show 'Home Mail' 1005 --target 3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "From: Jos\xC3\xA9 Baker <bob@example.org>\r\n"
              "Date: Wed, 06 Mar 1996 08:30:00\r\n"
              "Subject: Mail number 5\r\n"
              "To: Ann Owner <ann@home.example>\r\n"
              "Caf\xC3\xA9 au lait\r\nSee you at the caf\xC3\xA9.\r\n");
    CliRun t1 = qbox(home.path, "show 'Home Mail' 1005");
    ASSERT_EQ(t1.status, 0) << t1.err;
    EXPECT_EQ(t1.out.rfind("#: 1005 S0/CompuServe Mail  [MAIL]\r\n", 0), 0u);
    EXPECT_NE(qbox(home.path, "show 'Home Mail' 4242").status, 0);
    EXPECT_NE(qbox(home.path, "show 'Home Mail' abc").status, 0);
    EXPECT_NE(qbox(home.path, "show 'Home Mail' 1005 --target 9").status, 0);
}

TEST_F(ReadingCli, FindPrintsTheHits) {
    CliRun r = qbox(home.path, "find 'Home Mail' caf\xC3\xA9");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1005\n1020\n");  // oldest first, case ignored
    CliRun back = qbox(home.path, "find 'Home Mail' caf\xC3\xA9 --backward");
    EXPECT_EQ(back.out, "1020\n1005\n");
    CliRun exact = qbox(home.path, "find 'Home Mail' CAF\xC3\x89 --case");
    EXPECT_EQ(exact.out, "1020\n");
    // A numeric text as a whole word: digits continue it, so not 12 or 20-29.
    CliRun words = qbox(home.path, "find 'Home Mail' 2 --words");
    EXPECT_EQ(words.out, "1002\n");
    CliRun subject = qbox(home.path, "find 'Home Mail' 2");
    EXPECT_EQ(split(subject.out, '\n').size(), 13u);  // 2, 12, 20-29 and the rest after the last line end
    EXPECT_NE(qbox(home.path, "find 'Home Mail' ''").status, 0);
}
