// Names, address forms, finding and making persons, the owner of a mail
// database and the recount of a person's mail.
#include <gtest/gtest.h>

#include <string>

#include "core/settings.h"
#include "import/persons.h"
#include "tests/dbhome.h"

using namespace qb;

namespace {

std::pair<std::string, std::string> split(const std::string& name, size_t len = 25) {
    std::string last, first;
    ParseName(name, last, first, len, len);
    return {last, first};
}

std::pair<std::string, std::string> cis(int mode, const std::string& text) {
    std::string address, name;
    FindCISAdress(mode, text, address, name);
    return {address, name};
}

} // namespace

TEST(PersonsNames, LastNameIsTheWordAfterTheLastBlank) {
    EXPECT_EQ(split("Mary Ann Jones"), std::make_pair(std::string("Jones"), std::string("Mary Ann")));
    EXPECT_EQ(split("Sysop"), std::make_pair(std::string("Sysop"), std::string()));
    EXPECT_EQ(split("Mary Jones   "), std::make_pair(std::string("Jones"), std::string("Mary")));
    // A blank in front is no split.
    EXPECT_EQ(split(" Sysop").first, " Sysop");
    EXPECT_EQ(split(" Sysop").second, "");
    EXPECT_EQ(split(""), std::make_pair(std::string(), std::string()));
}

TEST(PersonsNames, GenerationSuffixStaysWithTheLastName) {
    EXPECT_EQ(split("John Smith III"), std::make_pair(std::string("Smith III"), std::string("John")));
    EXPECT_EQ(split("John Q Smith IV"), std::make_pair(std::string("Smith IV"), std::string("John Q")));
    EXPECT_EQ(split("John Smith ll"), std::make_pair(std::string("Smith ll"), std::string("John")));
    // No word before the suffix but the first: the whole name is the last name.
    EXPECT_EQ(split("John lll"), std::make_pair(std::string("John lll"), std::string()));
    EXPECT_EQ(split("John V"), std::make_pair(std::string("John V"), std::string()));
    // The suffix test is case-sensitive: "iii" is an ordinary last name.
    EXPECT_EQ(split("John Smith iii"), std::make_pair(std::string("iii"), std::string("John Smith")));
}

TEST(PersonsNames, PartsAreCutAtTheirLength) {
    auto [last, first] = split("Maximiliane Alexandrina Wilhelmina Josephine Cunningham-Habsburgerstein");
    EXPECT_EQ(last, "Cunningham-Habsburgerstei");
    EXPECT_EQ(first.size(), 25u);
    EXPECT_EQ(first, "Maximiliane Alexandrina W");
    EXPECT_EQ(split("Mary Ann Jones", 3), std::make_pair(std::string("Jon"), std::string("Mar")));
}

TEST(PersonsNames, IdentityStringIsCapitalsWithOneBlank) {
    EXPECT_EQ(personString("John Smith  ", "12345,678"), "JOHN SMITH 12345,678");
    EXPECT_EQ(personString("john smith", "joe@x.org"), "JOHN SMITH JOE@X.ORG");
    EXPECT_EQ(personString("Sysop", ""), "SYSOP");
    EXPECT_EQ(personString(std::string(90, 'a'), "1234567890123").size(), 100u);
}

TEST(PersonsAddress, CompuServeIdAtTheEnd) {
    EXPECT_EQ(cis(1, "John Smith 12345.678"), std::make_pair(std::string("12345,678"), std::string("John Smith")));
    EXPECT_EQ(cis(1, "John Smith [12345,678]"), std::make_pair(std::string("12345,678"), std::string("John Smith")));
    EXPECT_EQ(cis(1, "12345,678"), std::make_pair(std::string("12345,678"), std::string()));
    EXPECT_EQ(cis(2, "[12345,678]"), std::make_pair(std::string("12345,678"), std::string()));
    EXPECT_EQ(cis(1, "John Smith 12345, 678"), std::make_pair(std::string("12345,678"), std::string("John Smith")));
    EXPECT_EQ(cis(2, "John Smith > 12345,678"), std::make_pair(std::string("12345,678"), std::string("John Smith")));
    std::string bar = "John Smith";
    bar += static_cast<char>(179);
    bar += "76543,210";
    EXPECT_EQ(cis(1, bar), std::make_pair(std::string("76543,210"), std::string("John Smith")));
}

TEST(PersonsAddress, TextsWithoutAnId) {
    EXPECT_EQ(cis(1, "Sysop"), std::make_pair(std::string(), std::string("Sysop")));
    EXPECT_EQ(cis(2, "Sysop"), std::make_pair(std::string("Sysop"), std::string()));
    EXPECT_EQ(cis(1, "Mr. Smith"), std::make_pair(std::string(), std::string("Mr. Smith")));
    // Mail style: the address follows the last blank, an address form loses its prefix.
    EXPECT_EQ(cis(2, "Fred Bloggs >INTERNET:fred@localhost"),
              std::make_pair(std::string("fred@localhost"), std::string("Fred Bloggs")));
    // Mail style with a point that is not an ID: split at the last blank.
    EXPECT_EQ(cis(2, "Fred fred@example.com"), std::make_pair(std::string("fred@example.com"), std::string("Fred")));
    // A bracketed text that is no ID loses its bracket in the fallback.
    EXPECT_EQ(cis(1, "Smith [ab,cd]"), std::make_pair(std::string(), std::string("Smith [ab,cd")));
}

TEST(PersonsAddress, GatewayAddressOfMail) {
    EXPECT_EQ(cis(2, "Jane Doe CSINET:jane@host.com"), std::make_pair(std::string("jane"), std::string("Jane Doe")));
    EXPECT_EQ(cis(2, "CSINET:x@y"), std::make_pair(std::string("x@y"), std::string()));
    // In forum style the word means nothing.
    EXPECT_EQ(cis(1, "Jane CSINET"), std::make_pair(std::string(), std::string("Jane CSINET")));
}

// ---- Persons in a database -------------------------------------------------------

class PersonsDb : public qb::testing::DbHome {
protected:
    void SetUp() override {
        DbHome::SetUp();
        open({Person.number(), PLINK.number(), Control.number(), Mail.number()});
        ASSERT_TRUE(beginTransaction({&Person, &PLINK, &Control}, 5)) << errorText();
    }
};

TEST_F(PersonsDb, SameNameAndAddressInAnyCaseIsOnePerson) {
    ASSERT_EQ(AddPers("12345,678", "John Smith III"), 0);
    const uint32_t id = PER.PERSONID;
    EXPECT_NE(id, 0u);
    EXPECT_EQ(PER.LASTNAME.str(), "Smith III");
    EXPECT_EQ(PER.FIRSTNAME.str(), "John");
    EXPECT_EQ(PER.ADDRESS.str(), "12345,678");
    EXPECT_EQ(PER.PERSONSTRING.str(), "JOHN SMITH III 12345,678");

    ASSERT_EQ(AddPers("12345,678", "JOHN SMITH iii"), 0);
    EXPECT_EQ(PER.PERSONID, id);
    // One name at two addresses is two persons.
    ASSERT_EQ(AddPers("99999,1", "John Smith III"), 0);
    EXPECT_NE(PER.PERSONID, id);
    ASSERT_TRUE(commitTransaction());
    EXPECT_EQ(Person.records(), 2);
}

TEST_F(PersonsDb, MergedIdentitySurvivesAsAlias) {
    ASSERT_EQ(AddPers("joe@example.com", "Joe Bloggs"), 0);
    const uint32_t survivor = PER.PERSONID;
    PLINK.clearBuffer();
    PLI.PERSONSTRING = personString("Joseph Bloggs", "joe@example.com");
    PLI.PERSONID = survivor;
    ASSERT_TRUE(PLINK.add());

    ASSERT_EQ(AddPers("JOE@EXAMPLE.COM", "joseph bloggs"), 0);
    EXPECT_EQ(PER.PERSONID, survivor);
    EXPECT_EQ(PER.LASTNAME.str(), "Bloggs");
    EXPECT_EQ(Person.records(), 1);
    EXPECT_EQ(PLINK.records(), 1);
}

TEST_F(PersonsDb, StaleAliasMakesThePersonAndGoes) {
    PLINK.clearBuffer();
    PLI.PERSONSTRING = personString("Gone Person", "1,2");
    PLI.PERSONID = 777777;
    ASSERT_TRUE(PLINK.add());
    ASSERT_EQ(AddPers("1,2", "Gone Person"), 0);
    EXPECT_NE(PER.PERSONID, 777777u);
    EXPECT_EQ(PER.PERSONSTRING.str(), "GONE PERSON 1,2");
    EXPECT_EQ(PLINK.records(), 0);
    const uint32_t id = PER.PERSONID;
    ASSERT_EQ(AddPers("1,2", "gone person"), 0);
    EXPECT_EQ(PER.PERSONID, id);
    EXPECT_EQ(Person.records(), 1);
}

TEST_F(PersonsDb, FailedAddRollsBackAndReports) {
    ASSERT_EQ(AddPers("a@b", "First"), 0);
    ASSERT_TRUE(commitTransaction());
    // A person row already holding the next ID makes the add fail.
    Control.clearBuffer();
    CTL.ID = 1;
    ASSERT_TRUE(Control.get(CTL_IdKey));
    const uint32_t next = CTL.NEXTNUMBER;
    Person.clearBuffer();
    PER.PERSONID = next;
    PER.PERSONSTRING = "SQUATTER";
    ASSERT_TRUE(Person.add());

    ASSERT_TRUE(beginTransaction({&Person, &PLINK, &Control}, 5));
    EXPECT_EQ(AddPers("x@y", "Second"), 1);
    EXPECT_FALSE(inTransaction());
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_NE(headless.shown.back().text.find("rolled back"), std::string::npos);
    // The drawn ID went back with the transaction.
    Control.clearBuffer();
    CTL.ID = 1;
    ASSERT_TRUE(Control.get(CTL_IdKey));
    EXPECT_EQ(CTL.NEXTNUMBER, next);
    EXPECT_EQ(Person.records(), 2);
}

TEST_F(PersonsDb, NoIdMeansNoPerson) {
    ASSERT_TRUE(commitTransaction());
    // A control file that cannot be written hands out no ID.
    const std::string path = Control.path();
    OP_CLOSE(OpForceClose, Control.number());
    Control.open(path, OpenMode::SharedReadOnly);
    ASSERT_TRUE(Control.isOpen()) << errorText();
    ASSERT_TRUE(beginTransaction({&Person, &PLINK}, 5));
    EXPECT_EQ(AddPers("x@y", "Nobody Yet"), 1);
    EXPECT_FALSE(inTransaction());
    bool told = false;
    for (const ShownBox& b : headless.shown)
        if (b.title == Person.path() && b.text.find("A new person ID could not be generated") == 0) told = true;
    EXPECT_TRUE(told);
    EXPECT_EQ(Person.records(), 0);

    // Unattended, the box is left out but the result is the same.
    headless.shown.clear();
    Mem.DoTask = 2;
    ASSERT_TRUE(beginTransaction({&Person, &PLINK}, 5));
    EXPECT_EQ(AddPers("x@y", "Nobody Yet"), 1);
    EXPECT_TRUE(headless.shown.empty());
    Control.close();
}

// ---- Owner of a mail database ----------------------------------------------------

class PersonsOwner : public qb::testing::DbHome {};

TEST_F(PersonsOwner, ClassifiesByDefaultAndAlternativeAddresses) {
    addForumsRow(500, "My Mail", 2, 1, "Me@Home.org", {"76543,210", "old@work.com"}, 4242);
    ASSERT_TRUE(loadMailOwner(500));
    EXPECT_EQ(mailOwner().personId, 4242u);
    EXPECT_EQ(mailOwner().address, "Me@Home.org");
    EXPECT_EQ(mailOwner().name, "My Mail");

    std::string s = "Friend@Else.net", r = "whoever";
    EXPECT_EQ(classifyMail(s, r), MailInbox);
    EXPECT_EQ(s, "friend@else.net");
    EXPECT_EQ(r, "Me@Home.org");

    s = "OLD@WORK.COM";
    r = "Friend@Else.net";
    EXPECT_EQ(classifyMail(s, r), MailOutbox);
    EXPECT_EQ(s, "Me@Home.org");
    EXPECT_EQ(r, "friend@else.net");

    EXPECT_TRUE(isOwnerAddress("me@home.org  "));
    EXPECT_TRUE(isOwnerAddress("76543,210"));
    EXPECT_FALSE(isOwnerAddress("76543,211"));
}

TEST_F(PersonsOwner, EmptySenderIsNotTheOwner) {
    addForumsRow(500, "My Mail", 2, 1, "me@home.org", {"a@b.c"});
    ASSERT_TRUE(loadMailOwner(500));
    std::string s, r = "x";
    EXPECT_EQ(classifyMail(s, r), MailInbox);
    EXPECT_EQ(r, "me@home.org");
    EXPECT_FALSE(isOwnerAddress(""));
}

TEST_F(PersonsOwner, MissingRowEmptiesTheCache) {
    addForumsRow(500, "My Mail", 2, 1, "me@home.org", {}, 42);
    ASSERT_TRUE(loadMailOwner(500));
    ownerAlphaCache().personId = 42;
    ownerAlphaCache().lastName = "Mail";
    EXPECT_FALSE(loadMailOwner(501));
    EXPECT_EQ(mailOwner().personId, 0u);
    EXPECT_EQ(mailOwner().address, "");
    EXPECT_FALSE(ownerAlphaCache().known());
    EXPECT_FALSE(isOwnerAddress("me@home.org"));
    // The FOR buffer of the caller is left alone.
    FOR.ID = 9;
    loadMailOwner(500);
    EXPECT_EQ(FOR.ID, 9u);
}

// ---- Recount of a person's mail --------------------------------------------------

class PersonsRecount : public qb::testing::DbHome {
protected:
    void SetUp() override {
        DbHome::SetUp();
        open({Person.number(), Mail.number()});
    }
    void mail(uint32_t id, uint32_t from, const char* fromAlpha, uint32_t to, const char* toAlpha) {
        Mail.clearBuffer();
        MAI.MAILID = id;
        MAI.DATE = 80000 + static_cast<int32_t>(id);
        MAI.TIME = 1;
        MAI.FROMID = from;
        MAI.FROMALPHA = fromAlpha;
        MAI.TOID = to;
        MAI.TOALPHA = toAlpha;
        ASSERT_TRUE(Mail.add()) << errorText();
    }
    void person(uint32_t id, const char* last, uint32_t fromCount, uint32_t toCount) {
        Person.clearBuffer();
        PER.PERSONID = id;
        PER.LASTNAME = last;
        PER.FROMCOUNT = fromCount;
        PER.TOCOUNT = toCount;
    }
};

TEST_F(PersonsRecount, CountsByAlphaAndId) {
    mail(1, 10, "Cunningham", 20, "Jones");
    mail(2, 10, "Cunningham", 21, "Jones");
    mail(3, 20, "Jones", 10, "Cunningham");
    mail(4, 11, "Cunningham", 10, "Jones");  // another person, or a wrong alpha copy
    person(10, "Cunninghamson", 0, 0);
    EXPECT_EQ(CFromToMail(0), 2);
    EXPECT_EQ(PER.FROMCOUNT, 2u);
    EXPECT_EQ(PER.TOCOUNT, 1u);
    EXPECT_EQ(PER.PERSONID, 10u);
    EXPECT_EQ(CFromToMail(0), 0);  // counts now right

    person(20, "Jones", 0, 0);
    EXPECT_EQ(CFromToMail(2), 2);
    EXPECT_EQ(PER.FROMCOUNT, 1u);
    EXPECT_EQ(PER.TOCOUNT, 1u);
}

TEST_F(PersonsRecount, PersonWithoutMail) {
    person(99, "Nobody", 5, 3);
    EXPECT_EQ(CFromToMail(0), 3);
    EXPECT_EQ(PER.FROMCOUNT, 5u);
    EXPECT_EQ(CFromToMail(2), 0);
    EXPECT_EQ(PER.FROMCOUNT, 5u);
    EXPECT_EQ(CFromToMail(1), 2);
    EXPECT_EQ(PER.FROMCOUNT, 0u);
    EXPECT_EQ(PER.TOCOUNT, 0u);
}
