// The count of a database: persons, threads, sections, newsgroup receivers,
// mail partners and the registry row.
#include <gtest/gtest.h>

#include "core/globals.h"
#include "maintenance/counting.h"
#include "tests/purge_fixture.h"

namespace qb {
namespace {

class Counting : public PurgeDbTest {
protected:
    CountTotals runCount(int expectResult = 1) {
        Recount r(RecountAll, 3);
        int guard = 0;
        while (r.step() && ++guard < 10000) {
        }
        EXPECT_TRUE(r.finished());
        EXPECT_EQ(r.result(), expectResult);
        return r.totals();
    }
};

TEST_F(Counting, ForumCountsFixPersonsThreadsAndSectionsAndDropEmptyOnes) {
    makeDb("Forum", 1);
    person(1, "Miller", 7, 7);   // wrong counts
    person(2, "O'Brien");        // counts 0, has messages
    person(3, "Nobody", 4, 0);   // no message at all: goes
    section(10, 0, 1);
    section(11, 0, 5);           // its only thread is empty: goes too
    thread(100, 10, "First thread", 0, 9);
    thread(101, 10, "Second thread", 0, 2);
    thread(102, 11, "Empty thread", 0, 3);
    message({.number = 1, .thread = 100, .from = 1, .to = 2});
    message({.number = 2, .thread = 100, .from = 2, .to = 1});
    message({.number = 3, .thread = 100, .from = 1, .to = 2});
    message({.number = 4, .thread = 101, .from = 1, .to = 0});

    CountTotals t = runCount();
    EXPECT_EQ(t.messages, 4u);
    EXPECT_EQ(t.persons, 2u);
    EXPECT_EQ(t.personsDeleted, 1u);
    EXPECT_EQ(t.threads, 2u);
    EXPECT_EQ(t.threadsDeleted, 1u);
    EXPECT_EQ(t.sections, 1u);
    EXPECT_EQ(t.sectionsDeleted, 1u);

    PersonRec miller = personRow(1), obrien = personRow(2);
    EXPECT_EQ(miller.FROMCOUNT, 3u);
    EXPECT_EQ(miller.TOCOUNT, 1u);
    EXPECT_EQ(obrien.FROMCOUNT, 1u);
    EXPECT_EQ(obrien.TOCOUNT, 2u);
    EXPECT_FALSE(personExists(3));
    EXPECT_EQ(threadRow(100).MSGCOUNT, 3u);
    EXPECT_EQ(threadRow(101).MSGCOUNT, 1u);
    EXPECT_FALSE(threadExists(102));
    EXPECT_TRUE(exists(Sections, SEC_SysIdKey, [] { SEC.SECSYSID = 10; }));
    EXPECT_EQ(SEC.MSGCOUNT, 4u);
    EXPECT_FALSE(exists(Sections, SEC_SysIdKey, [] { SEC.SECSYSID = 11; }));
    ForumsRec row = databaseRow();
    EXPECT_EQ(row.MSGCOUNT, 4u);
    EXPECT_EQ(row.COUNTFLAG, 0u);

    // A second count changes nothing.
    t = runCount();
    EXPECT_EQ(t.personsDeleted + t.threadsDeleted + t.sectionsDeleted, 0u);
    EXPECT_EQ(personRow(1).FROMCOUNT, 3u);
    EXPECT_EQ(threadRow(100).MSGCOUNT, 3u);
}

TEST_F(Counting, PersonsAreCountedByAlphaAndIdTogether) {
    makeDb("Forum", 1);
    // Two persons of one last name, told apart by their IDs.
    person(1, "Smith");
    person(2, "smith");
    section(10);
    thread(100, 10, "Thread");
    message({.number = 1, .thread = 100, .from = 1, .to = 2});
    message({.number = 2, .thread = 100, .from = 1, .to = 2});
    OP_CLOSE(OpOpenShared, MsgNmbr.number());
    PersonCounts a = countForumPerson(1, "Smith");
    PersonCounts b = countForumPerson(2, "SMITH");
    PersonCounts c = countForumPerson(1, "Smithson");
    OP_CLOSE(OpClose, MsgNmbr.number());
    EXPECT_EQ(a.from, 2u);
    EXPECT_EQ(a.to, 0u);
    EXPECT_EQ(b.from, 0u);
    EXPECT_EQ(b.to, 2u);
    EXPECT_EQ(c.from + c.to, 0u);
}

TEST_F(Counting, NewsgroupAnswersGetTheSenderOfTheirParentAsReceiver) {
    makeDb("comp.test", 3);
    person(1, "Asker");
    person(2, "Helper");
    person(3, "Wrong");
    section(10);
    thread(100, 10, "Question");
    message({.number = 1, .thread = 100, .from = 1, .to = 0});
    message({.number = 2, .thread = 100, .from = 2, .to = 3, .ref = 1});   // answers 1: receiver becomes 1
    message({.number = 3, .thread = 100, .from = 1, .to = 2, .ref = 2});   // already right
    message({.number = 4, .thread = 100, .from = 1, .to = 3, .ref = 77});  // parent gone: left alone
    CountTotals t = runCount();
    EXPECT_EQ(t.receiversChanged, 1u);
    EXPECT_TRUE(exists(MsgNmbr, MSG_IdKey, [] { MSG.MSGNUMBER = 2; }));
    EXPECT_EQ(MSG.TOID, 1u);
    EXPECT_EQ(MSG.TOALPHA.str(), "Asker");
    EXPECT_TRUE(exists(MsgNmbr, MSG_IdKey, [] { MSG.MSGNUMBER = 4; }));
    EXPECT_EQ(MSG.TOID, 3u);
    // Person 3 is now only the receiver of message 4.
    EXPECT_EQ(personRow(3).TOCOUNT, 1u);
}

TEST_F(Counting, MailPartnersAreCountedAndPersonsWithoutMailGo) {
    makeDb("Mail", 2);
    person(1, "Owner");
    person(2, "Partner", 0, 0);
    person(3, "Silent", 2, 2);
    person(4, "Owneralone");
    setDatabase(0, 1);
    mail({.id = 10, .from = 2, .to = 1, .pair = 2});
    mail({.id = 11, .from = 1, .to = 2, .pair = 2});
    mail({.id = 12, .from = 2, .to = 1, .pair = 2});
    CountTotals t = runCount();
    EXPECT_EQ(t.messages, 3u);
    EXPECT_EQ(t.persons, 2u);   // the owner and the partner
    EXPECT_EQ(t.partners, 1u);
    EXPECT_EQ(t.personsDeleted, 2u);
    EXPECT_EQ(personRow(2).FROMCOUNT, 2u);
    EXPECT_EQ(personRow(2).TOCOUNT, 1u);
    EXPECT_TRUE(personExists(1));
    EXPECT_FALSE(personExists(3));
    EXPECT_EQ(databaseRow().MSGCOUNT, 3u);

    // The owner of a database without mail stays, with counts 0.
    makeDb("Empty mail", 2, 250002);
    person(1, "Owner", 5, 5);
    person(2, "Partner", 1, 0);
    setDatabase(0, 1);
    t = runCount();
    EXPECT_EQ(t.persons, 1u);
    EXPECT_EQ(t.partners, 0u);
    EXPECT_TRUE(personExists(1));
    EXPECT_EQ(personRow(1).FROMCOUNT, 0u);
    EXPECT_FALSE(personExists(2));
}

} // namespace
} // namespace qb
