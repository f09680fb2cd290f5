// The topic, keyword, classify and list --topic/--keyword commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/dates.h"
#include "reading/topics.h"
#include "tests/reading_fixture.h"
#include "tests/reading_runs.h"

using namespace qb;
using qb::testing::CliRun;
using qb::testing::ReadingDb;

namespace {

class TopicsCli : public ReadingDb {
protected:
    void SetUp() override {
        ReadingDb::SetUp();
        makeDatabase(2, "Home Mail", 300000, 1, 100);
        beginBulk();
        addPerson(100, "Ann", "Owner", "ann@home.example");
        for (uint32_t i = 0; i < 8; ++i)
            addMail(1000 + i, dayNumber(1996, 3, 1) + static_cast<int32_t>(i), clockTime(8, 30, 0),
                    "Mail number " + std::to_string(i), 100, "Owner", 100, "Owner", 100);
        addText(1001, "The kernel boots on the Indy.");
        addText(1004, "indy? no: INDYCAM");
        endBulk();
        closeAllTables();
    }

    CliRun qbox(const std::string& args) { return qb::testing::qbox(home.path, args); }

    // Every entry's COD:COUNT against its SIndex rows, read in this process.
    void expectCountsMatchLinks(const std::string& after) {
        ASSERT_TRUE(selectDatabase(dbId));
        for (uint8_t type : {kTopicEntry, kKeyWordEntry})
            for (const Entry& e : listEntries(type)) EXPECT_EQ(e.count, linkCount(e.id)) << e.name << " after " << after;
        closeAllTables();
    }

    // The first field of each line.
    static std::vector<std::string> ids(const std::string& out) {
        std::vector<std::string> r;
        size_t p = 0;
        while (p < out.size()) {
            size_t e = out.find('\n', p);
            r.push_back(out.substr(p, out.find('\t', p) - p));
            if (e == std::string::npos) break;
            p = e + 1;
        }
        return r;
    }
};

} // namespace

TEST_F(TopicsCli, TopicsAreAddedRenamedClassifiedAndDeleted) {
    CliRun r = qbox("topic add 'home mail' Kernel");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string id = r.out.substr(0, r.out.find('\t'));
    EXPECT_EQ(r.out, id + "\tKernel\t0\n");
    EXPECT_EQ(qbox("topic add 'home mail' Hardware").status, 0);

    r = qbox("topic add 'home mail' KERNEL");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the topic name 'KERNEL' is already in use"), std::string::npos) << r.err;

    r = qbox("classify 'home mail' kernel 1001 1003 1005");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, id + "\tKernel\t3\n");
    expectCountsMatchLinks("classify");
    // An unknown message changes nothing at all.
    r = qbox("classify 'home mail' kernel 1002 999");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no message 999"), std::string::npos);
    r = qbox("classify 'home mail' kernel 1003 --remove");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, id + "\tKernel\t2\n");
    expectCountsMatchLinks("classify --remove");

    r = qbox("list 'home mail' --topic KERNEL");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ids(r.out), (std::vector<std::string>{"1005", "1001"}));
    EXPECT_NE(r.out.find("\t1996-03-02\t"), std::string::npos);

    r = qbox("topic update 'home mail' kernel --new-name 'Kernel work'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, id + "\tKernel work\t2\n");
    EXPECT_EQ(qbox("topic update 'home mail' hardware --new-name 'KERNEL WORK'").status, 1);
    r = qbox("topic list 'home mail'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ids(r.out).size(), 2u);
    EXPECT_NE(r.out.find(id + "\tKernel work\t2\n"), std::string::npos);

    r = qbox("topic delete 'home mail' 'kernel WORK'");
    ASSERT_EQ(r.status, 0) << r.err;
    expectCountsMatchLinks("topic delete");
    ASSERT_TRUE(selectDatabase(dbId));
    EXPECT_EQ(linkCount(static_cast<uint32_t>(std::stoul(id))), 0u);
    closeAllTables();

    // Unknown entries and databases.
    for (const char* args : {"topic delete 'home mail' Kernel", "classify 'home mail' Nope 1001",
                             "list 'home mail' --topic Nope", "topic update 'home mail' Nope --new-name X",
                             "topic list Nowhere"}) {
        r = qbox(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_FALSE(r.err.empty()) << args;
        EXPECT_TRUE(r.out.empty()) << args;
    }
    EXPECT_EQ(qbox("topic rename 'home mail' x").status, 2);
}

TEST_F(TopicsCli, KeyWordsRunOnAddingAndOnDemand) {
    CliRun r = qbox("keyword add 'home mail' indy --words");
    ASSERT_EQ(r.status, 0) << r.err;
    // ID, string, count, match case, whole words, updated.
    auto f = r.out.substr(r.out.find('\t') + 1);
    EXPECT_EQ(f.substr(0, f.find('\n') - 16), "indy\t2\tNo\tYes\t");
    EXPECT_NE(r.out.find(formatDate(today(), "@D10-")), std::string::npos);
    r = qbox("list 'home mail' --keyword INDY");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ids(r.out), (std::vector<std::string>{"1004", "1001"}));

    ASSERT_EQ(qbox("keyword add 'home mail' Indy --case").status, 1);  // name in use, case ignored
    // A key word and a topic may share a name.
    ASSERT_EQ(qbox("topic add 'home mail' indy").status, 0);
    ASSERT_EQ(qbox("keyword add 'home mail' INDY? --case").status, 0);
    r = qbox("list 'home mail' --keyword 'indy?'");
    EXPECT_EQ(ids(r.out), (std::vector<std::string>{}));
    expectCountsMatchLinks("keyword add");

    // A new mail holding the word is linked by the next run.
    addText(1007, "my Indy");
    closeAllTables();
    r = qbox("keyword run 'home mail' indy");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find('\t') + 1, 7), "indy\t3\t");
    r = qbox("keyword run 'home mail'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ids(r.out).size(), 2u);
    expectCountsMatchLinks("keyword run");

    r = qbox("keyword list 'home mail'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ids(r.out).size(), 2u);
    r = qbox("keyword delete 'home mail' indy");
    ASSERT_EQ(r.status, 0) << r.err;
    expectCountsMatchLinks("keyword delete");
    EXPECT_EQ(qbox("keyword delete 'home mail' indy").status, 1);
    EXPECT_EQ(qbox("keyword run 'home mail' indy").status, 1);
    EXPECT_EQ(qbox("list 'home mail' --keyword indy").status, 1);
    EXPECT_EQ(qbox("list 'home mail' --topic indy").status, 0);
}
