// The store step: mail with its owner and duplicates, forum messages with their
// threads and reimport, newsgroup articles threaded by Message-ID, and the
// mail database settings.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/settings.h"
#include "import/maildb.h"
#include "import/persons.h"
#include "import/store.h"
#include "tests/dbhome.h"

using namespace qb;

namespace {

constexpr int32_t kDay = 80000;
constexpr int32_t kNoon = 12 * 360000 + 1;

const std::string kBody = "Hello,\r\nthe meeting is moved to Friday.\r\nSee you there.\r\n";

class StoreTest : public qb::testing::DbHome {
protected:
    StoreInput in;

    void begin(uint8_t kind) {
        in = StoreInput{};
        in.kind = kind;
        in.secSysId = kind == 2 ? 0 : 3001;
        in.textDate = kDay + 5;
        in.textTime = kNoon;
        for (Table* t : storeTables(kind)) OP_CLOSE(OpOpenShared, t->number());
        if (kind == 3) OP_CLOSE(OpOpenShared, TempID.number());
        resetStoreRun();
        ASSERT_TRUE(beginTransaction(storeTables(kind), 5)) << errorText();
    }

    void mailRecord(uint32_t id, uint8_t type, const std::string& subject, const std::string& from,
                    const std::string& fromAddr, const std::string& to, const std::string& toAddr,
                    const std::string& body, int32_t time = kNoon) {
        NewHR.clearBuffer();
        NHR.INTERNAL = 500;
        NHR.MSGNUMBER = id;
        NHR.REFNUMBER = id;
        NHR.HEADING = subject;
        NHR.S_NAME = from;
        NHR.S_CISADRESS = fromAddr;
        NHR.R_NAME = to;
        NHR.R_CISADRESS = toAddr;
        NHR.DATE = kDay;
        NHR.TIME = time;
        NHR.MAILTYPE = type;
        NHR.RECIPTYPE = "TO";
        NHR_MSGTEXT = body;
    }

    void forumRecord(uint32_t number, uint32_t ref, const std::string& heading, const std::string& from = "John Smith",
                     const std::string& body = kBody) {
        NewHR.clearBuffer();
        NHR.INTERNAL = 600;
        NHR.MSGNUMBER = number;
        NHR.REFNUMBER = ref;
        NHR.HEADING = heading;
        NHR.S_NAME = from;
        NHR.S_CISADRESS = "12345,678";
        NHR.R_NAME = "All";
        NHR.DATE = kDay;
        NHR.TIME = kNoon;
        NHR_MSGTEXT = body;
    }

    StoreOutput store() {
        StoreOutput out;
        last = storeMessage(in, out);
        return out;
    }
    int last = -1;

    bool getMsg(uint32_t n) {
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = n;
        return MsgNmbr.get(MSG_IdKey);
    }
    std::string textOf(uint32_t n) {
        MsgText.clearBuffer();
        TXT.MSGNUMBER = n;
        return MsgText.get(TXT_IdKey) ? TXT_MsgText : std::string("<none>");
    }
    std::string personName(uint32_t id) {
        Person.clearBuffer();
        PER.PERSONID = id;
        return Person.get(PER_PersonKey) ? PER.PERSONSTRING.str() : std::string("<none>");
    }
};

// ---- Mail ------------------------------------------------------------------------

class StoreMail : public StoreTest {
protected:
    uint32_t ownerId = 0;
    void SetUp() override {
        StoreTest::SetUp();
        // The mail database with its owner person, made as the settings dialog does.
        std::string error;
        const uint32_t id = addMailDatabase("Kim Owner", "kim@home.org", {"76543,210"}, &error);
        ASSERT_NE(id, 0u) << error;
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = id;
        ASSERT_TRUE(Forums.get(FOR_ForumKey));
        Mem.Dirnamn = "F" + std::to_string(FOR.DIRNUMBER);
        ownerId = FOR.PERSONID;
        OP_CLOSE(OpClose, Forums.number());
        ASSERT_TRUE(loadMailOwner(id));
        begin(2);
    }
};

TEST_F(StoreMail, InboxMailGoesToTheOwner) {
    mailRecord(900001, MailInbox, "Lunch", "Pat Friend", "pat@else.net", "Kim Owner", "kim@home.org", kBody,
               kNoon + 4599);
    StoreOutput out = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_TRUE(out.isNew);
    EXPECT_EQ(out.toId, ownerId);
    EXPECT_EQ(out.msgNumber, 900001u);
    Mail.clearBuffer();
    MAI.MAILID = 900001;
    ASSERT_TRUE(Mail.get(MAI_IdKey));
    EXPECT_EQ(MAI.TOID, ownerId);
    EXPECT_EQ(MAI.TOALPHA.str(), "Owner");
    EXPECT_EQ(MAI.FROMALPHA.str(), "Friend");
    EXPECT_EQ(MAI.PAIRID, MAI.FROMID);
    EXPECT_EQ(MAI.PAIRALPHA.str(), "Friend");
    EXPECT_EQ(MAI.TIME, kNoon);  // cut to the minute
    EXPECT_EQ(MAI.RECIPTYPE.str(), "TO");
    EXPECT_EQ(personName(MAI.FROMID), "PAT FRIEND PAT@ELSE.NET");
    EXPECT_EQ(textOf(900001), kBody);
    EXPECT_EQ(TXT.DATE, kDay + 5);
}

TEST_F(StoreMail, OutboxMailComesFromTheOwnerEvenUnderAnotherName) {
    // The parser gives the owner's address with whatever name the file had.
    mailRecord(900002, MailOutbox, "Plans", "You", "kim@home.org", "Lee Longname-Partnerfamilyname", "lee@x.org", kBody);
    StoreOutput out = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_EQ(out.fromId, ownerId);
    Mail.clearBuffer();
    MAI.MAILID = 900002;
    ASSERT_TRUE(Mail.get(MAI_IdKey));
    EXPECT_EQ(MAI.FROMALPHA.str(), "Owner");
    EXPECT_EQ(MAI.TOALPHA.str(), "Longname-P");
    EXPECT_EQ(MAI.PAIRID, MAI.TOID);
    EXPECT_EQ(MAI.PAIRALPHA.str(), "Longname-Partnerfamilynam");
    // No second owner person was made for "You".
    EXPECT_EQ(Person.records(), 2);
}

TEST_F(StoreMail, MissingOwnerPersonIsMadeAgain) {
    Person.clearBuffer();
    PER.PERSONID = ownerId;
    ASSERT_TRUE(Person.get(PER_PersonKey));
    ASSERT_TRUE(Person.erase());
    mailRecord(900004, MailInbox, "Hi", "Pat Friend", "pat@else.net", "Kim Owner", "kim@home.org", kBody);
    StoreOutput out = store();
    ASSERT_EQ(last, StoreStored);
    // The message refers to a person that exists, with its own alpha copy.
    EXPECT_NE(out.toId, ownerId);
    EXPECT_EQ(personName(out.toId), "KIM OWNER KIM@HOME.ORG");
    Mail.clearBuffer();
    MAI.MAILID = 900004;
    ASSERT_TRUE(Mail.get(MAI_IdKey));
    EXPECT_EQ(MAI.TOID, out.toId);
    EXPECT_EQ(MAI.TOALPHA.str(), "Owner");
    // The next mail uses the cached owner.
    mailRecord(900005, MailInbox, "Hi again", "Sam Other", "sam@else.net", "Kim Owner", "kim@home.org", kBody);
    EXPECT_EQ(store().toId, out.toId);
    EXPECT_EQ(Person.records(), 3);
}

TEST_F(StoreMail, EmptyNamesBecomeNameUnknown) {
    mailRecord(900003, MailInbox, "Anon", "", "ghost@nowhere", "", "kim@home.org", kBody);
    StoreOutput out = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_EQ(personName(out.fromId), "NAME UNKNOWN GHOST@NOWHERE");
    Person.clearBuffer();
    PER.PERSONID = out.fromId;
    ASSERT_TRUE(Person.get(PER_PersonKey));
    EXPECT_EQ(PER.LASTNAME.str(), "Unknown");
    EXPECT_EQ(PER.FIRSTNAME.str(), "Name");
}

TEST_F(StoreMail, SameMailWithShortSignatureIsOneMail) {
    mailRecord(900010, MailInbox, "Report", "Pat Friend", "pat@else.net", "Kim Owner", "kim@home.org", kBody);
    store();
    ASSERT_EQ(last, StoreStored);
    // Another reader saved it with a signature, another subject case and seconds.
    mailRecord(900011, MailInbox, "REPORT", "Pat Friend", "pat@else.net", "Kim Owner", "kim@home.org",
               kBody + "-- \r\nPat\r\n", kNoon + 3000);
    StoreOutput out = store();
    EXPECT_EQ(last, StoreSkipped);
    EXPECT_FALSE(out.isNew);
    EXPECT_EQ(Mail.records(), 1);
    EXPECT_EQ(MsgText.records(), 1);
}

TEST_F(StoreMail, DifferentTextsOrPersonsAreBothStored) {
    mailRecord(900020, MailInbox, "Report", "Pat Friend", "pat@else.net", "Kim Owner", "kim@home.org", kBody);
    store();
    ASSERT_EQ(last, StoreStored);
    // Differs in the first line.
    mailRecord(900021, MailInbox, "Report", "Pat Friend", "pat@else.net", "Kim Owner", "kim@home.org",
               "Hi,\r\nthe meeting is moved to Friday.\r\nSee you there.\r\n");
    store();
    EXPECT_EQ(last, StoreStored);
    // A longer text that only starts like the first one.
    mailRecord(900022, MailInbox, "Report", "Pat Friend", "pat@else.net", "Kim Owner", "kim@home.org",
               kBody + "PS: and bring the slides for the budget.\r\n");
    store();
    EXPECT_EQ(last, StoreStored);
    // Same text from somebody else.
    mailRecord(900023, MailInbox, "Report", "Sam Other", "sam@else.net", "Kim Owner", "kim@home.org", kBody);
    store();
    EXPECT_EQ(last, StoreStored);
    // Same text a minute later.
    mailRecord(900024, MailInbox, "Report", "Pat Friend", "pat@else.net", "Kim Owner", "kim@home.org", kBody,
               kNoon + 6000);
    store();
    EXPECT_EQ(last, StoreStored);
    EXPECT_EQ(Mail.records(), 5);
}

TEST_F(StoreMail, TopicIsAttachedOnce) {
    in.mailTopic = 77;
    mailRecord(900030, MailInbox, "Topic", "Pat Friend", "pat@else.net", "Kim Owner", "kim@home.org", kBody);
    store();
    ASSERT_EQ(last, StoreStored);
    SIndex.clearBuffer();
    SIN.ID = 77;
    SIN.MSGNUMBER = 900030;
    EXPECT_TRUE(SIndex.get(SIN_IdKey));
    EXPECT_EQ(SIndex.records(), 1);
}

TEST_F(StoreMail, TextsCompareWithoutTrailingBlanks) {
    mailRecord(900040, MailInbox, "A", "Pat Friend", "pat@else.net", "Kim Owner", "kim@home.org", "same text   ");
    store();
    ASSERT_EQ(last, StoreStored);
    mailRecord(900041, MailInbox, "B", "Pat Friend", "pat@else.net", "Kim Owner", "kim@home.org",
               "same text" + std::string(19, '!'));
    store();
    ASSERT_EQ(last, StoreStored);
    NHR_MSGTEXT = "same text";
    EXPECT_EQ(DupString(1, 900040, 0), 1);
    EXPECT_EQ(DupString(2, 900040, 900041), 1);
    NHR_MSGTEXT = "same text" + std::string(20, '!');
    EXPECT_EQ(DupString(1, 900040, 0), 0);
    EXPECT_EQ(DupString(2, 900040, 123), 0);  // no such message
}

TEST_F(StoreMail, FailedWriteRollsBackTheMail) {
    ASSERT_TRUE(commitTransaction());
    // A text row under the ID the mail will take makes its text add fail.
    MsgText.clearBuffer();
    TXT.MSGNUMBER = 900050;
    ASSERT_TRUE(MsgText.add());
    ASSERT_TRUE(beginTransaction(storeTables(2), 5));
    mailRecord(900050, MailInbox, "Fails", "New Person", "new@else.net", "Kim Owner", "kim@home.org", kBody);
    store();
    EXPECT_EQ(last, StoreFailed);
    EXPECT_FALSE(inTransaction());
    EXPECT_EQ(Mail.records(), 0);
    Person.clearBuffer();
    PER.PERSONSTRING = "NEW PERSON NEW@ELSE.NET";
    EXPECT_FALSE(Person.get(PER_StringKey));
}

// ---- Forum -----------------------------------------------------------------------

class StoreForum : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        begin(1);
    }
    uint32_t threadOf(uint32_t n) { return getMsg(n) ? MSG.THREADNUMBER : 0; }
};

TEST_F(StoreForum, ThreadsByWholeHeadingInTheSection) {
    forumRecord(101, 0, "Printer drivers for Windows");
    StoreOutput a = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_TRUE(a.isNew);
    forumRecord(102, 0, "Printer drivers for DOS");  // same first 10 characters
    StoreOutput b = store();
    forumRecord(103, 0, "PRINTER DRIVERS FOR WINDOWS");  // other case
    StoreOutput c = store();
    forumRecord(104, 0, "Printer drivers for Windows");
    StoreOutput d = store();
    in.secSysId = 3002;  // another section
    forumRecord(105, 0, "Printer drivers for Windows");
    StoreOutput e = store();
    ASSERT_EQ(last, StoreStored);

    EXPECT_NE(a.threadNumber, b.threadNumber);
    EXPECT_NE(a.threadNumber, c.threadNumber);
    EXPECT_NE(b.threadNumber, c.threadNumber);
    EXPECT_EQ(a.threadNumber, d.threadNumber);
    EXPECT_NE(a.threadNumber, e.threadNumber);
    EXPECT_EQ(Threads.records(), 4);

    Threads.clearBuffer();
    THR.THREADNUMBER = b.threadNumber;
    ASSERT_TRUE(Threads.get(THR_ThreadKey));
    EXPECT_EQ(std::string(rtrim(THR.heading())), "Printer drivers for DOS");
    EXPECT_EQ(THR.SECSYSID, 3001u);
    EXPECT_EQ(THR.MSGCOUNT, 0u);
    ASSERT_TRUE(getMsg(102));
    EXPECT_EQ(MSG.THREADALPHA.str(), "Printer dr");
    EXPECT_EQ(MSG.SECSYSID, 3001u);
    EXPECT_EQ(MSG.FROMALPHA.str(), "Smith");
}

TEST_F(StoreForum, RepliesJoinTheirParentsThread) {
    forumRecord(200, 0, "Modem setup");
    StoreOutput root = store();
    forumRecord(201, 200, "Re: something else entirely", "Ann Other");
    StoreOutput reply = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_EQ(reply.threadNumber, root.threadNumber);
    ASSERT_TRUE(getMsg(201));
    EXPECT_EQ(MSG.REFNUMBER, 200u);
    EXPECT_EQ(MSG.THREADALPHA.str(), "Modem setu");

    // An absent parent: the heading decides.
    forumRecord(202, 150, "Modem setup");
    EXPECT_EQ(store().threadNumber, root.threadNumber);
    forumRecord(203, 150, "Brand new topic");
    EXPECT_NE(store().threadNumber, root.threadNumber);
    // A reference to itself is no reference.
    forumRecord(204, 204, "Modem setup");
    StoreOutput self = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_EQ(self.threadNumber, root.threadNumber);
    ASSERT_TRUE(getMsg(204));
    EXPECT_EQ(MSG.REFNUMBER, 0u);
}

TEST_F(StoreForum, ReimportOverwritesAndIsNotNew) {
    forumRecord(300, 0, "Old heading", "John Smith", "first text");
    store();
    ASSERT_EQ(last, StoreStored);
    ASSERT_TRUE(getMsg(300));
    MSG.DUMMY = 1;  // the user keeps it
    ASSERT_TRUE(MsgNmbr.put());

    // Without reimport a stored message is left alone.
    forumRecord(300, 0, "Old heading", "John Smith", "second text");
    StoreOutput skipped = store();
    EXPECT_EQ(last, StoreSkipped);
    EXPECT_FALSE(skipped.isNew);
    EXPECT_EQ(textOf(300), "first text");

    in.allowReimport = true;
    in.textDate = kDay + 9;
    forumRecord(300, 0, "Old heading", "John Smith", "second text");
    StoreOutput again = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_FALSE(again.isNew);
    EXPECT_EQ(textOf(300), "second text");
    EXPECT_EQ(TXT.DATE, kDay + 9);
    EXPECT_EQ(MsgNmbr.records(), 1);
    EXPECT_EQ(MsgText.records(), 1);
    EXPECT_EQ(Threads.records(), 1);
    ASSERT_TRUE(getMsg(300));
    EXPECT_EQ(MSG.DUMMY, 1);
    // The saved-message pair is there once.
    EXPECT_EQ(SavedMsg.records(), 1);
    SavedMsg.clearBuffer();
    IMP.FORUMNUMBER = 600;
    IMP.MSGNUMBER = 300;
    EXPECT_TRUE(SavedMsg.get(IMP_IDKEY));

    // A merge skips what is there.
    in.merge = true;
    forumRecord(300, 0, "Old heading", "John Smith", "third text");
    store();
    EXPECT_EQ(last, StoreSkipped);
    EXPECT_EQ(textOf(300), "second text");
}

TEST_F(StoreForum, NoThreadIdFailsTheStore) {
    forumRecord(450, 0, "Known heading");
    store();
    ASSERT_EQ(last, StoreStored);
    ASSERT_TRUE(commitTransaction());
    const std::string path = Control.path();
    OP_CLOSE(OpForceClose, Control.number());
    Control.open(path, OpenMode::SharedReadOnly);
    ASSERT_TRUE(beginTransaction({&MsgNmbr, &MsgText, &Threads, &SavedMsg, &Person, &PLINK}, 5));
    // A known thread and person need no ID.
    forumRecord(451, 0, "Known heading");
    store();
    EXPECT_EQ(last, StoreStored);
    forumRecord(452, 0, "A heading never seen");
    store();
    EXPECT_EQ(last, StoreFailed);
    EXPECT_FALSE(inTransaction());
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_EQ(headless.shown.back().title, "Warning!");
    EXPECT_EQ(headless.shown.back().text, "Transaction Frame Error!");
    EXPECT_FALSE(getMsg(452));
    EXPECT_FALSE(getMsg(451));  // rolled back with the transaction
    EXPECT_TRUE(getMsg(450));
    Control.close();
}

TEST_F(StoreForum, TablesNotOpenFailClearly) {
    OP_CLOSE(OpForceClose, Threads.number());
    forumRecord(500, 0, "x");
    store();
    EXPECT_EQ(last, StoreFailed);
    EXPECT_FALSE(inTransaction());
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_NE(headless.shown.back().text.find("Threads"), std::string::npos);
}

// ---- Newsgroup -------------------------------------------------------------------

class StoreNews : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        begin(3);
    }
    void tempId(uint32_t n, const std::string& id) {
        TempID.clearBuffer();
        TID.MSGNUMBER = n;
        TID.IDSTRING = id;
        ASSERT_TRUE(TempID.add()) << errorText();
    }
    void article(uint32_t number, uint32_t ref, const std::string& subject, const std::string& from,
                 const std::string& addr) {
        NewHR.clearBuffer();
        NHR.INTERNAL = 700;
        NHR.MSGNUMBER = number;
        NHR.REFNUMBER = ref;
        NHR.HEADING = subject;
        NHR.S_NAME = from;
        NHR.S_CISADRESS = addr;
        NHR.R_NAME = ref ? "Unknown" : "All";
        NHR.DATE = kDay;
        NHR.TIME = kNoon;
        NHR_MSGTEXT = "article " + std::to_string(number);
    }
};

TEST_F(StoreNews, ReplyFindsItsParentByMessageId) {
    tempId(1000, "<root@host>");
    tempId(1001, "<reply@host>");
    tempId(1002, "<root@host>");  // the reference of the reply
    article(1000, 0, "Kernel panics", "Rolf Becker Smith", "ralf@host.org");
    StoreOutput root = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_EQ(root.msgNumber, 1000u);
    article(1001, 1002, "Something else", "Ann Other", "ann@host.org");
    StoreOutput reply = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_EQ(reply.threadNumber, root.threadNumber);
    EXPECT_EQ(reply.toId, root.fromId);  // addressed to the parent's sender
    ASSERT_TRUE(getMsg(1001));
    EXPECT_EQ(MSG.REFNUMBER, 1000u);
    EXPECT_EQ(MSG.TOALPHA.str(), "Smith");
}

TEST_F(StoreNews, AlreadyStoredArticleIsSkipped) {
    tempId(1100, "<a@h>");
    article(1100, 0, "First", "Ann Other", "ann@host.org");
    store();
    ASSERT_EQ(last, StoreStored);
    // The same article in a later run under another temporary number.
    tempId(1200, "<a@h>");
    article(1200, 0, "First", "Ann Other", "ann@host.org");
    StoreOutput out = store();
    EXPECT_EQ(last, StoreSkipped);
    in.allowReimport = true;
    out = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_FALSE(out.isNew);
    EXPECT_EQ(out.msgNumber, 1100u);
    EXPECT_EQ(MsgNmbr.records(), 1);
    // A record without a Message-ID row is skipped.
    article(1300, 0, "No id", "Ann Other", "ann@host.org");
    store();
    EXPECT_EQ(last, StoreSkipped);
}

TEST_F(StoreNews, ParentArrivingLaterTakesTheReferencedNumber) {
    tempId(2000, "<child@h>");
    tempId(2001, "<parent@h>");
    article(2000, 2001, "Re: Question", "Ann Other", "ann@host.org");
    StoreOutput child = store();
    ASSERT_EQ(last, StoreStored);
    ASSERT_TRUE(getMsg(2000));
    EXPECT_EQ(MSG.REFNUMBER, 2001u);
    // The parent comes in a later run with its own temporary number.
    tempId(3000, "<parent@h>");
    article(3000, 0, "Re: Question", "Bob Parent", "bob@host.org");
    StoreOutput parent = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_TRUE(parent.isNew);
    EXPECT_EQ(parent.msgNumber, 2001u);
    EXPECT_TRUE(getMsg(2001));
    EXPECT_FALSE(getMsg(3000));
    EXPECT_EQ(parent.threadNumber, child.threadNumber);  // same heading
    EXPECT_EQ(textOf(2001), "article 3000");
}

TEST_F(StoreNews, RepliesToAnAbsentParentShareItsNumber) {
    tempId(4000, "<c1@h>");
    tempId(4001, "<p@h>");
    tempId(4002, "<c2@h>");
    tempId(4003, "<p@h>");
    article(4000, 4001, "Topic one", "Ann Other", "ann@host.org");
    store();
    ASSERT_EQ(last, StoreStored);
    article(4002, 4003, "Topic two", "Ann Other", "ann@host.org");
    store();
    ASSERT_EQ(last, StoreStored);
    ASSERT_TRUE(getMsg(4002));
    EXPECT_EQ(MSG.REFNUMBER, 4001u);
    EXPECT_EQ(MessageIds.records(), 3);  // c1, p, c2

    // The parent arrives: both replies point at it, and it is not found twice.
    tempId(5000, "<p@h>");
    article(5000, 0, "Topic one", "Bob Parent", "bob@host.org");
    StoreOutput parent = store();
    ASSERT_EQ(last, StoreStored);
    EXPECT_EQ(parent.msgNumber, 4001u);
    tempId(5001, "<p@h>");
    article(5001, 0, "Topic one", "Bob Parent", "bob@host.org");
    store();
    EXPECT_EQ(last, StoreSkipped);
    EXPECT_EQ(MsgNmbr.records(), 3);
}

TEST_F(StoreNews, MessageIdThatCannotBeWrittenFailsTheStore) {
    // A row of an earlier run holds the number this article's Message-ID is
    // given, under another Message-ID: the Message-ID row cannot be added.
    MessageIds.clearBuffer();
    MST.IDSTRING = "<earlier@h>";
    MST.MSGNUMBER = 6000;
    ASSERT_TRUE(MessageIds.add()) << errorText();
    tempId(6000, "<new@h>");
    article(6000, 0, "New article", "Ann Other", "ann@host.org");
    store();
    EXPECT_EQ(last, StoreFailed);  // not a duplicate that is skipped
    EXPECT_FALSE(inTransaction());
    EXPECT_FALSE(getMsg(6000));
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_NE(headless.shown.back().text.find("Record add error!"), std::string::npos);

    // The reference row of a reply likewise.
    ASSERT_TRUE(beginTransaction(storeTables(3), 5));
    MessageIds.clearBuffer();
    MST.IDSTRING = "<other@h>";
    MST.MSGNUMBER = 6200;
    ASSERT_TRUE(MessageIds.add()) << errorText();
    tempId(6100, "<reply@h>");
    tempId(6200, "<parent@h>");
    article(6100, 6200, "Re: New article", "Ann Other", "ann@host.org");
    store();
    EXPECT_EQ(last, StoreFailed);
    EXPECT_FALSE(getMsg(6100));
}

// ---- Mail database settings ------------------------------------------------------

class StoreMailDb : public qb::testing::DbHome {};

TEST_F(StoreMailDb, AddMakesRowDirectoryAndOwner) {
    std::string error;
    const uint32_t a = addMailDatabase("  Kim Owner ", "76543.210", {"kim@home.org", "", "kim@work.com"}, &error);
    ASSERT_NE(a, 0u) << error;
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = a;
    ASSERT_TRUE(Forums.get(FOR_ForumKey));
    EXPECT_EQ(FOR.DESCRIPTION.str(), "Kim Owner");
    EXPECT_EQ(FOR.TYPE, 2);
    EXPECT_EQ(FOR.MAILADDRESS.str(), "76543,210");
    EXPECT_EQ(FOR.ALTADDRESS[0].str(), "kim@home.org");
    EXPECT_EQ(FOR.ALTADDRESS[1].str(), "kim@work.com");  // no gaps
    EXPECT_TRUE(FOR.ALTADDRESS[2].empty());
    // F1 exists already with files of the test's own database? It is empty, so it is used.
    const uint32_t dir = FOR.DIRNUMBER;
    const uint32_t owner = FOR.PERSONID;
    EXPECT_NE(owner, 0u);
    OP_CLOSE(OpClose, Forums.number());
    EXPECT_TRUE(std::filesystem::is_directory(Mem.FileDir + "/F" + std::to_string(dir)));

    Mem.Dirnamn = "F" + std::to_string(dir);
    OP_CLOSE(OpOpenShared, Person.number());
    Person.clearBuffer();
    PER.PERSONID = owner;
    ASSERT_TRUE(Person.get(PER_PersonKey));
    EXPECT_EQ(PER.PERSONSTRING.str(), "KIM OWNER 76543,210");
    EXPECT_EQ(PER.LASTNAME.str(), "Owner");
    OP_CLOSE(OpClose, Person.number());
    // The directory describes itself for a rebuild of the registry.
    OP_CLOSE(OpOpenShared, ForumRef.number());
    ForumRef.setFile();
    ASSERT_TRUE(ForumRef.next());
    EXPECT_EQ(REF.TYPE, 2);
    EXPECT_EQ(REF.DESCRIPTION.str(), "Kim Owner");
    EXPECT_EQ(static_cast<uint32_t>(REF.PERSONID), owner);
    EXPECT_EQ(REF.MAILADDRESS.str(), "76543,210");
    EXPECT_EQ(REF.ALTADDRESS[1].str(), "kim@work.com");
    EXPECT_FALSE(ForumRef.next());
    OP_CLOSE(OpClose, ForumRef.number());

    // The next one gets the next directory; a taken name is refused.
    const uint32_t b = addMailDatabase("Second Box", "x@y.z", {}, &error);
    ASSERT_NE(b, 0u) << error;
    EXPECT_NE(a, b);
    EXPECT_EQ(addMailDatabase("KIM OWNER", "q@r.s", {}, &error), 0u);
    EXPECT_NE(error.find("exists"), std::string::npos);
    EXPECT_EQ(addMailDatabase("", "q@r.s", {}, &error), 0u);
    EXPECT_EQ(addMailDatabase("No Address", "", {}, &error), 0u);
    EXPECT_EQ(addMailDatabase("Too many", "q@r.s", std::vector<std::string>(11, "a@b"), &error), 0u);

    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = b;
    ASSERT_TRUE(Forums.get(FOR_ForumKey));
    EXPECT_EQ(FOR.DIRNUMBER, dir + 1);
    EXPECT_EQ(Forums.records(), 2);
    OP_CLOSE(OpClose, Forums.number());
}

TEST_F(StoreMailDb, DirectoryWithFilesIsPassedOver) {
    qb::writeFile(Mem.FileDir + "/F1/IDX005.TPS", "stale");
    std::string error;
    const uint32_t a = addMailDatabase("Box", "a@b.c", {}, &error);
    ASSERT_NE(a, 0u) << error;
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = a;
    ASSERT_TRUE(Forums.get(FOR_ForumKey));
    EXPECT_EQ(FOR.DIRNUMBER, 2u);
    OP_CLOSE(OpClose, Forums.number());
    EXPECT_EQ(qb::readFile(Mem.FileDir + "/F1/IDX005.TPS"), "stale");
}

TEST_F(StoreMailDb, ActiveDatabaseTablesStayOpen) {
    OP_CLOSE(OpOpenShared, Person.number());
    const std::string before = Person.path();
    std::string error;
    ASSERT_NE(addMailDatabase("Box", "a@b.c", {}, &error), 0u) << error;
    EXPECT_TRUE(Person.isOpen());
    EXPECT_EQ(Person.path(), before);
    EXPECT_EQ(Person.records(), 0);
    EXPECT_EQ(Mem.Dirnamn, "F1");
}

TEST_F(StoreMailDb, UpdateAlternativeAddresses) {
    std::string error;
    const uint32_t a = addMailDatabase("Box", "a@b.c", {"one@x", "two@x"}, &error);
    ASSERT_NE(a, 0u) << error;
    ASSERT_TRUE(loadMailOwner(a));
    EXPECT_TRUE(isOwnerAddress("two@x"));
    ASSERT_TRUE(updateAltAddresses(a, {"three@x"}, &error)) << error;
    EXPECT_FALSE(isOwnerAddress("two@x"));
    EXPECT_TRUE(isOwnerAddress("THREE@x"));
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = a;
    ASSERT_TRUE(Forums.get(FOR_ForumKey));
    EXPECT_EQ(FOR.ALTADDRESS[0].str(), "three@x");
    EXPECT_TRUE(FOR.ALTADDRESS[1].empty());
    const uint32_t dir = FOR.DIRNUMBER;
    OP_CLOSE(OpClose, Forums.number());
    EXPECT_FALSE(updateAltAddresses(a + 1000, {}, &error));
    Mem.Dirnamn = "F" + std::to_string(dir);
    OP_CLOSE(OpOpenShared, ForumRef.number());
    ForumRef.setFile();
    ASSERT_TRUE(ForumRef.next());
    EXPECT_EQ(REF.ALTADDRESS[0].str(), "three@x");
    EXPECT_TRUE(REF.ALTADDRESS[1].empty());
    EXPECT_EQ(ForumRef.records(), 1);
    OP_CLOSE(OpClose, ForumRef.number());
}

} // namespace
