// Person maintenance and the merging of duplicate persons on hand-made forum
// and mail databases: keeper choice, message recoding, aliases, rename with
// its alpha copies, swap, merge, and the stop question of the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <array>
#include <map>
#include <string>

#include "app/person_windows.h"
#include "core/settings.h"
#include "import/persons.h"
#include "maintenance/dedup.h"
#include "maintenance/persons.h"
#include "maintenance/taskreport.h"
#include "tests/dbhome.h"

using namespace qb;

namespace {

class PersonMaint : public qb::testing::DbHome {
protected:
    void useKind(uint8_t kind, uint32_t ownId = 0) {
        Mem.ForumType = kind;
        Mem.ForumNumber = 260000;
        Mem.PersonID = ownId;
        Mem.Description = "Test Db";
        if (kind == 2) addForumsRow(260000, "Test Db", 2, 1, "kim@home.org", {}, ownId);
        open({Person.number(), PLINK.number(), kind == 2 ? Mail.number() : MsgNmbr.number(), Control.number()});
    }

    void addPerson(uint32_t id, const std::string& name, const std::string& address) {
        Person.clearBuffer();
        PER.PERSONID = id;
        PER.PERSONSTRING = personString(name, address);
        std::string last, first;
        ParseName(name, last, first);
        PER.LASTNAME = last;
        PER.FIRSTNAME = first;
        PER.ADDRESS = address;
        ASSERT_TRUE(Person.add()) << errorText();
    }

    PersonRec person(uint32_t id) {
        PersonRec p{};
        EXPECT_TRUE(readPerson(id, p)) << id;
        return p;
    }
    bool exists(uint32_t id) {
        PersonRec p;
        return readPerson(id, p);
    }
    std::string lastOf(uint32_t id) {
        Person.clearBuffer();
        PER.PERSONID = id;
        return Person.get(PER_PersonKey) ? PER.LASTNAME.str() : std::string();
    }

    void addMsg(uint32_t number, uint32_t from, uint32_t to, int32_t date) {
        const std::string fl = lastOf(from).substr(0, 10), tl = lastOf(to).substr(0, 10);
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = number;
        MSG.FROMID = from;
        MSG.FROMALPHA = fl;
        MSG.TOID = to;
        MSG.TOALPHA = tl;
        MSG.DATE = date;
        ASSERT_TRUE(MsgNmbr.add()) << errorText();
    }
    void addMail(uint32_t id, uint32_t from, uint32_t to, uint32_t pair, int32_t date) {
        Mail.clearBuffer();
        MAI.MAILID = id;
        MAI.FROMID = from;
        MAI.FROMALPHA = lastOf(from).substr(0, 10);
        MAI.TOID = to;
        MAI.TOALPHA = lastOf(to).substr(0, 10);
        MAI.PAIRID = pair;
        MAI.PAIRALPHA = lastOf(pair);
        MAI.DATE = date;
        MAI.TIME = 1;
        ASSERT_TRUE(Mail.add()) << errorText();
    }
    MsgNmbrRec msg(uint32_t n) {
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = n;
        EXPECT_TRUE(MsgNmbr.get(MSG_IdKey));
        return MSG;
    }
    MailRec mail(uint32_t n) {
        Mail.clearBuffer();
        MAI.MAILID = n;
        EXPECT_TRUE(Mail.get(MAI_IdKey));
        return MAI;
    }
    uint32_t aliasOf(const std::string& ident) {
        PLINK.clearBuffer();
        PLI.PERSONSTRING = ident;
        return PLINK.get(PLI_StringKey) ? PLI.PERSONID : 0;
    }
    DuplicateMerge& runAll(DuplicateMerge& run) {
        int guard = 0;
        while (run.step() && ++guard < 100000) {}
        return run;
    }
    // Finds or makes the person of (name, address) as an import would.
    uint32_t importPerson(const std::string& name, const std::string& address) {
        EXPECT_TRUE(beginTransaction({&Person, &PLINK, &Control}, 5));
        EXPECT_EQ(AddPers(address, name), 0);
        const uint32_t id = PER.PERSONID;
        EXPECT_TRUE(commitTransaction());
        return id;
    }
};

} // namespace

TEST_F(PersonMaint, DuplicatesKeepTheLatestNamedPersonAndAliasTheOthers) {
    useKind(1);
    addPerson(1, "John Smith", "12345,678");
    addPerson(2, "J Smith", "12345,678");
    addPerson(3, "Johnny Smithers", "12345,678");
    addPerson(4, "Mary Jones", "jones@x.org");
    addPerson(5, "M Jones", "JONES@X.ORG");       // differs only in letter case
    addPerson(6, "Sysop", "");                     // blank addresses are never merged
    addPerson(7, "Other Sysop", "");
    addPerson(8, "Bob Quiet", "jones@x.org");      // no messages at all
    addPerson(9, "Kim Reader", "kim@x.org");
    addMsg(101, 1, 9, 80000);
    addMsg(102, 2, 9, 80010);   // the latest of 12345,678
    addMsg(103, 3, 9, 80005);
    addMsg(104, 9, 3, 80001);
    addMsg(105, 4, 9, 80002);
    addMsg(106, 9, 5, 80002);   // equal latest dates: the earlier one (4) stays
    addMsg(107, 6, 7, 80003);

    DuplicateMerge run;
    runAll(run);
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(run.existing(), 9u);
    EXPECT_EQ(run.merged(), 3u);   // 1 and 3 into 2, 5 into 4
    EXPECT_EQ(run.removed(), 1u);  // 8
    EXPECT_EQ(run.remaining(), 5u);
    EXPECT_EQ(run.existing(), run.removed() + run.merged() + run.remaining());

    for (uint32_t gone : {1u, 3u, 5u, 8u}) EXPECT_FALSE(exists(gone)) << gone;
    for (uint32_t kept : {2u, 4u, 6u, 7u, 9u}) EXPECT_TRUE(exists(kept)) << kept;
    // Messages moved with their alpha copies; the keepers' counts include them.
    EXPECT_EQ(msg(101).FROMID, 2u);
    EXPECT_EQ(msg(101).FROMALPHA.str(), "Smith");
    EXPECT_EQ(msg(104).TOID, 2u);
    EXPECT_EQ(msg(106).TOID, 4u);
    EXPECT_EQ(person(2).FROMCOUNT, 3u);
    EXPECT_EQ(person(2).TOCOUNT, 1u);
    EXPECT_EQ(person(4).TOCOUNT, 1u);
    EXPECT_EQ(person(9).FROMCOUNT, 2u);
    EXPECT_EQ(person(9).TOCOUNT, 4u);
    // The removed identity strings lead to the keepers.
    EXPECT_EQ(aliasOf("JOHN SMITH 12345,678"), 2u);
    EXPECT_EQ(aliasOf("JOHNNY SMITHERS 12345,678"), 2u);
    EXPECT_EQ(aliasOf("M JONES JONES@X.ORG"), 4u);
    EXPECT_EQ(importPerson("John Smith", "12345,678"), 2u);
    EXPECT_EQ(importPerson("m jones", "jones@x.org"), 4u);

    // A second run finds nothing more to merge.
    DuplicateMerge again;
    runAll(again);
    EXPECT_EQ(again.merged(), 0u);
    EXPECT_EQ(again.removed(), 0u);
    EXPECT_EQ(again.remaining(), 5u);
}

TEST_F(PersonMaint, BlankAddressIsDerivedFromTheIdentityString) {
    useKind(1);
    // An older import left the address empty; the string still holds the ID.
    Person.clearBuffer();
    PER.PERSONID = 1;
    PER.PERSONSTRING = "JOHN SMITH 12345,678";
    PER.LASTNAME = "Smith";
    PER.FIRSTNAME = "John";
    ASSERT_TRUE(Person.add());
    addPerson(2, "Johnny Smith", "12345,678");
    addPerson(3, "Sysop", "");
    addMsg(1, 1, 3, 80000);
    addMsg(2, 2, 3, 79000);
    DuplicateMerge run;
    runAll(run);
    ASSERT_TRUE(run.ok());
    // Person 1 got its address (its name kept as written) and became the keeper.
    ASSERT_TRUE(exists(1));
    EXPECT_EQ(person(1).ADDRESS.str(), "12345,678");
    EXPECT_EQ(person(1).LASTNAME.str(), "Smith");
    EXPECT_FALSE(exists(2));
    EXPECT_EQ(msg(2).FROMID, 1u);
    EXPECT_TRUE(exists(3));
    EXPECT_EQ(person(3).ADDRESS.str(), "");
}

TEST_F(PersonMaint, MailDuplicatesNeverRemoveTheOwnPerson) {
    useKind(2, 10);
    addPerson(10, "Kim Owner", "kim@home.org");
    addPerson(11, "Kim at work", "KIM@HOME.ORG");   // later mail, but the owner stays
    addPerson(20, "Pat Partner", "pat@x.org");
    addPerson(21, "Patricia Partner", "pat@x.org");
    addMail(1, 20, 10, 20, 80000);
    addMail(2, 10, 21, 21, 80100);
    addMail(3, 11, 21, 21, 80200);
    DuplicateMerge run;
    runAll(run);
    ASSERT_TRUE(run.ok());
    EXPECT_TRUE(exists(10));
    EXPECT_FALSE(exists(11));
    EXPECT_FALSE(exists(20));
    EXPECT_TRUE(exists(21));
    EXPECT_EQ(mail(1).PAIRID, 21u);
    EXPECT_EQ(mail(1).PAIRALPHA.str(), "Partner");
    EXPECT_EQ(mail(1).FROMID, 21u);
    EXPECT_EQ(mail(3).FROMID, 10u);
    EXPECT_EQ(mail(3).FROMALPHA.str(), "Owner");
    EXPECT_EQ(person(21).FROMCOUNT, 1u);
    EXPECT_EQ(person(21).TOCOUNT, 2u);
    // The own person stays even without mail of its own; the database row is counted.
    EXPECT_EQ(person(10).FROMCOUNT, 2u);
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = 260000;
    ASSERT_TRUE(Forums.get(FOR_ForumKey));
    EXPECT_EQ(FOR.MSGCOUNT, 3u);
    OP_CLOSE(OpClose, Forums.number());
}

TEST_F(PersonMaint, RenameRewritesAlphasAndRefusesAChangedRow) {
    useKind(2, 10);
    addPerson(10, "Kim Owner", "kim@home.org");
    addPerson(20, "Pat Partner", "pat@x.org");
    addMail(1, 20, 10, 20, 80000);
    addMail(2, 10, 20, 20, 80001);
    const PersonRec opened = person(20);

    // Someone else changes the row after the form opened: nothing is saved.
    Person.clearBuffer();
    PER.PERSONID = 20;
    ASSERT_TRUE(Person.get(PER_PersonKey));
    PER.FROMCOUNT = 7;
    ASSERT_TRUE(Person.put());
    EXPECT_EQ(renamePerson(opened, "Newname", "Pat"), SaveResult::ChangedByOther);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_EQ(headless.shown.back().text, "The record has just been changed by another user!\r\nTry again!");
    EXPECT_EQ(person(20).LASTNAME.str(), "Partner");
    EXPECT_EQ(mail(1).FROMALPHA.str(), "Partner");

    EXPECT_EQ(renamePerson(person(20), "Verylonglastname", "Pat"), SaveResult::Saved);
    EXPECT_EQ(person(20).LASTNAME.str(), "Verylonglastname");
    EXPECT_EQ(mail(1).FROMALPHA.str(), "Verylongla");
    EXPECT_EQ(mail(1).PAIRALPHA.str(), "Verylonglastname");
    EXPECT_EQ(mail(2).TOALPHA.str(), "Verylongla");
    EXPECT_EQ(mail(2).FROMALPHA.str(), "Owner");
    // The mail is still found by the keys with the new name.
    Person.clearBuffer();
    PER.PERSONID = 20;
    ASSERT_TRUE(Person.get(PER_PersonKey));
    bool changed = false;
    EXPECT_TRUE(recountCurrentPerson(&changed));
    EXPECT_EQ(PER.FROMCOUNT, 1u);
    EXPECT_EQ(PER.TOCOUNT, 1u);
}

TEST_F(PersonMaint, SwapMakesTheOldIdentityAnAlias) {
    useKind(1);
    addPerson(1, "John Smith", "12345,678");
    addPerson(2, "John Smith", "77777,1");
    addMsg(1, 2, 1, 80000);
    ASSERT_EQ(mergePersons(1, {2}).merged, 1);
    const auto aliases = personAliases(1);
    ASSERT_EQ(aliases.size(), 1u);
    EXPECT_EQ(aliases[0].personString, "JOHN SMITH 77777,1");
    EXPECT_EQ(aliases[0].address, "77777,1");

    ASSERT_TRUE(swapIdentity(1, aliases[0].personString, aliases[0].address));
    EXPECT_EQ(person(1).PERSONSTRING.str(), "JOHN SMITH 77777,1");
    EXPECT_EQ(person(1).ADDRESS.str(), "77777,1");
    EXPECT_EQ(aliasOf("JOHN SMITH 12345,678"), 1u);
    EXPECT_EQ(aliasOf("JOHN SMITH 77777,1"), 0u);
    // Either string lands on the person.
    EXPECT_EQ(importPerson("John Smith", "12345,678"), 1u);
    EXPECT_EQ(importPerson("John Smith", "77777,1"), 1u);
    EXPECT_EQ(Person.records(), 1);
    // A string that is no alias of the person is refused.
    EXPECT_FALSE(swapIdentity(1, "NOBODY 1,1", "1,1"));
    EXPECT_EQ(person(1).PERSONSTRING.str(), "JOHN SMITH 77777,1");
}

TEST_F(PersonMaint, MergeThreeKeepsOneAndRefusesTheOwnPerson) {
    useKind(2, 10);
    addPerson(10, "Kim Owner", "kim@home.org");
    addPerson(20, "Pat Partner", "pat@x.org");
    addPerson(21, "P Partner", "pat@y.org");
    addPerson(22, "Patty", "patty@z.org");
    addMail(1, 20, 10, 20, 80000);
    addMail(2, 21, 10, 21, 80001);
    addMail(3, 10, 22, 22, 80002);
    addMail(4, 22, 10, 22, 80003);
    // An alias of 21 moves along to the kept person.
    PLINK.clearBuffer();
    PLI.PERSONSTRING = "PAT OLD PAT@OLD.ORG";
    PLI.PERSONID = 21;
    ASSERT_TRUE(PLINK.add());

    const MergeOutcome r = mergePersons(20, {21, 22, 10});
    EXPECT_EQ(r.merged, 2);
    EXPECT_EQ(r.refused, 1);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_EQ(headless.shown.back().text, kOwnPersonRefused);
    EXPECT_TRUE(exists(10));
    EXPECT_FALSE(exists(21));
    EXPECT_FALSE(exists(22));
    EXPECT_EQ(person(20).FROMCOUNT, 3u);
    EXPECT_EQ(person(20).TOCOUNT, 1u);
    EXPECT_EQ(mail(3).TOID, 20u);
    EXPECT_EQ(mail(3).PAIRALPHA.str(), "Partner");
    EXPECT_EQ(aliasOf("PAT OLD PAT@OLD.ORG"), 20u);
    EXPECT_EQ(aliasOf("PATTY PATTY@Z.ORG"), 20u);
    EXPECT_EQ(importPerson("Patty", "patty@z.org"), 20u);
}

TEST_F(PersonMaint, OwnPersonCannotSwapAway) {
    useKind(2, 10);
    addPerson(10, "Kim Owner", "kim@home.org");
    PLINK.clearBuffer();
    PLI.PERSONSTRING = "KIM OWNER KIM@OLD.ORG";
    PLI.PERSONID = 10;
    ASSERT_TRUE(PLINK.add());
    EXPECT_FALSE(swapIdentity(10, "KIM OWNER KIM@OLD.ORG", "kim@old.org"));
    EXPECT_EQ(headless.shown.back().text, kOwnPersonRefused);
    EXPECT_EQ(person(10).ADDRESS.str(), "kim@home.org");
}

TEST_F(PersonMaint, EndingDuringRecodingAsksFirst) {
    useKind(1);
    for (uint32_t i = 0; i < 6; ++i) addPerson(100 + i, "Name" + std::to_string(i) + " Same", "1,1");
    for (uint32_t i = 0; i < 6; ++i) addMsg(500 + i, 100 + i, 100, 80000 + static_cast<int32_t>(i));
    static int argc = 1;
    static char arg0[] = "qbtests";
    static char* argv[] = {arg0, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!QApplication::instance()) new QApplication(argc, argv);
    DuplicatesWindow w;
    w.start();
    while (w.run()->pass() < DuplicateMerge::RecodeMessages) w.tick();
    headless.answers.push_back(BtnNo);
    EXPECT_FALSE(w.endSession());
    EXPECT_EQ(headless.shown.back().title, "Duplicate Person elimination interrupted");
    EXPECT_TRUE(w.running());
    while (w.running()) w.tick();
    EXPECT_TRUE(w.run()->ok());
    EXPECT_EQ(w.countLabel(2)->text(), "5");
    EXPECT_EQ(w.countLabel(3)->text(), "1");
    EXPECT_EQ(headless.shown.back().text, "The Duplicate Removal Process has finished!");
    // After the end the window closes without asking.
    const size_t boxes = headless.shown.size();
    EXPECT_TRUE(w.endSession());
    EXPECT_EQ(headless.shown.size(), boxes);
}

TEST_F(PersonMaint, ScheduledRunStartsByItselfAndReportsItsEnd) {
    useKind(1);
    addPerson(1, "Ann Lee", "ann@x.org");
    addPerson(2, "A Lee", "ANN@X.ORG");
    addMsg(1, 1, 2, 80000);
    static int argc = 1;
    static char arg0[] = "qbtests";
    static char* argv[] = {arg0, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!QApplication::instance()) new QApplication(argc, argv);
    std::vector<std::array<int, 3>> reports;
    setMaintenanceReport([&](int kind, uint32_t db, int result) {
        reports.push_back({kind, static_cast<int>(db), result});
        return static_cast<int>(JobNone);
    });
    Mem.DoTask = 2;
    QPointer<DuplicatesWindow> w = new DuplicatesWindow;
    w->setAttribute(Qt::WA_DeleteOnClose);
    EXPECT_TRUE(w->windowTitle().startsWith(" Scheduled Duplicate Merging [Test Db]"));
    for (int i = 0; i < 1000 && reports.empty(); ++i) QApplication::processEvents();
    QApplication::processEvents();
    Mem.DoTask = 0;
    setMaintenanceReport(nullptr);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0][0], JobDuplicates);
    EXPECT_EQ(reports[0][1], 260000);
    EXPECT_EQ(reports[0][2], 1);
    EXPECT_TRUE(headless.shown.empty());  // no boxes in an unattended run
    EXPECT_EQ(Person.records(), 1);
    if (w) delete w.data();
}
