// The database registry: adding and removing databases, the test of a
// database directory, the rebuild and the next-ID check.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    TempDir tmp;
    HeadlessUi headless;
    std::string data;

    void SetUp() override {
        Mem = MemGlobals{};
        Mem.Net = tmp.path;
        data = tmp.path + "/data";
        Mem.FileDir = data;
        Mem.TempDir = tmp.path + "/tmp";
        MasIdxPath = data;
        for (const std::string& d : {tmp.path + "/CFG", data, Mem.TempDir}) fs::create_directories(d);
        setEngineDirectory(tmp.path + "/CFG");
        setUi(&headless);
        setNextNumber(250000);  // where loading the settings puts a new installation
    }
    void TearDown() override {
        if (inTransaction()) rollbackTransaction();
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        closeAllTables();
        setUi(nullptr);
        Mem = MemGlobals{};
    }

    uint32_t addMail(const std::string& name, const std::string& address, std::vector<std::string> alts = {}) {
        NewDatabase db;
        db.kind = KindMail;
        db.name = name;
        db.address = address;
        db.altAddresses = std::move(alts);
        return addDatabase(db);
    }
    bool has(const std::string& rel) { return fs::exists(data + "/" + rel); }
    ForumsRec row(const std::string& name) {
        ForumsRec r{};
        EXPECT_TRUE(findDatabaseByName(name, r)) << name;
        return r;
    }
    uint32_t nextNumber() {
        OP_CLOSE(OpOpenShared, Control.number());
        Control.clearBuffer();
        CTL.ID = 1;
        uint32_t n = Control.get(CTL_IdKey) ? CTL.NEXTNUMBER : 0;
        OP_CLOSE(OpClose, Control.number());
        return n;
    }
    void setNextNumber(uint32_t n) {
        OP_CLOSE(OpOpenShared, Control.number());
        Control.clearBuffer();
        CTL.ID = 1;
        if (Control.get(CTL_IdKey)) {
            CTL.NEXTNUMBER = n;
            ASSERT_TRUE(Control.put());
        } else {
            CTL.NEXTNUMBER = n;
            ASSERT_TRUE(Control.add());
        }
        OP_CLOSE(OpClose, Control.number());
    }
    bool shown(const std::string& part) {
        for (const ShownBox& b : headless.shown)
            if (b.text.find(part) != std::string::npos || b.title.find(part) != std::string::npos) return true;
        return false;
    }
    // Writes one row into table n of database directory dirName.
    template <class Fill>
    void putRow(const std::string& dirName, Table& t, Fill fill) {
        std::string saved = Mem.Dirnamn;
        Mem.Dirnamn = dirName;
        OP_CLOSE(OpOpenShared, t.number());
        t.clearBuffer();
        fill();
        ASSERT_TRUE(t.add()) << t.name() << ": " << errorText();
        OP_CLOSE(OpClose, t.number());
        Mem.Dirnamn = saved;
    }
    // Makes an empty table file of number n in directory dirName.
    void touchTable(const std::string& dirName, int n) {
        std::string saved = Mem.Dirnamn;
        Mem.Dirnamn = dirName;
        fs::create_directories(data + "/" + dirName);
        OP_CLOSE(OpOpenShared, n);
        OP_CLOSE(OpClose, n);
        Mem.Dirnamn = saved;
    }
    void writeRef(const std::string& dirName, int type, const std::string& name) {
        ForumsRec saved = FOR;
        Forums.clearBuffer();
        FOR.TYPE = static_cast<uint8_t>(type);
        FOR.DESCRIPTION = name;
        fs::create_directories(data + "/" + dirName);
        std::string savedDir = Mem.Dirnamn;
        Mem.Dirnamn = dirName;
        ASSERT_EQ(UpdREF(ModeReport), 1);
        Mem.Dirnamn = savedDir;
        FOR = saved;
    }
    void runRebuild(Rebuild& r) {
        for (int i = 0; i < 10000 && r.step(); ++i) {}
        ASSERT_TRUE(r.finished());
    }
    std::string log() { return readFile(rebuildLogPath()); }
};

TEST_F(RegistryTest, AddForumFillsTheRowAndMakesARecognisableDirectory) {
    const uint32_t id = addForumDatabase("Linux MIPS");
    ASSERT_NE(id, 0u);
    ForumsRec r = row("linux mips");
    EXPECT_EQ(r.ID, id);
    EXPECT_EQ(r.DIRNUMBER, 1u);
    EXPECT_EQ(r.TYPE, KindForum);
    EXPECT_EQ(r.CREATED, today());
    EXPECT_EQ(r.WORDLISTINDEXNEEDSUPDATE, 1);
    EXPECT_EQ(nextNumber(), id + 1);

    ForumRefRec ref{};
    ASSERT_TRUE(readSelfDescription("F1", ref));
    EXPECT_EQ(ref.TYPE, KindForum);
    EXPECT_EQ(ref.DESCRIPTION.str(), "Linux MIPS");
    // A new, still empty database is already recognised as a forum database.
    EXPECT_EQ(testDatabase("F1", nullptr).kind, KindForum);
    EXPECT_FALSE(has("F1/IDX013.TPS"));
    // The active database is not changed by adding one.
    EXPECT_TRUE(Mem.Dirnamn.empty());

    // A further add gets the next directory.
    ASSERT_NE(addForumDatabase("Second"), 0u);
    EXPECT_EQ(row("Second").DIRNUMBER, 2u);
    EXPECT_TRUE(headless.shown.empty());
}

TEST_F(RegistryTest, DuplicateNameInOtherCaseIsRefusedAndLeavesNothingBehind) {
    ASSERT_NE(addForumDatabase("Linux MIPS"), 0u);
    const uint32_t counter = nextNumber();
    EXPECT_EQ(addForumDatabase("LINUX mips"), 0u);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].text, "Record add error!\r\nA record with identical key already exists!");
    EXPECT_EQ(listDatabases().size(), 1u);
    EXPECT_FALSE(has("F2"));
    EXPECT_EQ(nextNumber(), counter);  // the drawn ID went with the rollback

    headless.shown.clear();
    EXPECT_EQ(addForumDatabase("   "), 0u);
    EXPECT_EQ(addForumDatabase(std::string(101, 'x')), 0u);
    EXPECT_EQ(addForumDatabase("Two\tcolumns"), 0u);
    EXPECT_EQ(addForumDatabase("Two\r\nlines"), 0u);
    EXPECT_EQ(headless.shown.size(), 4u);
    EXPECT_EQ(listDatabases().size(), 1u);
    // Blanks around a name are not part of it.
    ASSERT_NE(addForumDatabase("  Padded  "), 0u);
    EXPECT_EQ(row("Padded").DESCRIPTION.str(), "Padded");
}

TEST_F(RegistryTest, NextDirectoryNumberNeverReusesATakenDirectory) {
    EXPECT_EQ(nextDirNumber(), 1u);
    // An unrecorded directory on the disk is not handed out again.
    fs::create_directories(data + "/F1");
    EXPECT_EQ(nextDirNumber(), 2u);
    ASSERT_NE(addForumDatabase("A"), 0u);
    EXPECT_EQ(row("A").DIRNUMBER, 2u);
    // The row with the highest ID holds a lower directory number than
    // another row: the other row's number is skipped.
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = 1;  // lower than any drawn ID
    FOR.DESCRIPTION = "Old";
    FOR.DIRNUMBER = 3;
    FOR.TYPE = KindForum;
    ASSERT_TRUE(Forums.add());
    OP_CLOSE(OpClose, Forums.number());
    EXPECT_EQ(nextDirNumber(), 4u);
}

TEST_F(RegistryTest, AddMailKeepsAddressesInRowAndSelfDescription) {
    const uint32_t id = addMail("My mail", " me@example.org", {"alt1@example.org", "", "76543.210"});
    ASSERT_NE(id, 0u);
    ForumsRec r = row("MY MAIL");
    EXPECT_EQ(r.TYPE, KindMail);
    EXPECT_EQ(r.MAILADDRESS.str(), "me@example.org");
    EXPECT_EQ(r.ALTADDRESS[1].str(), "76543,210");
    EXPECT_TRUE(r.ALTADDRESS[2].empty());
    ForumRefRec ref{};
    ASSERT_TRUE(readSelfDescription("F1", ref));
    EXPECT_EQ(ref.MAILADDRESS.str(), "me@example.org");
    EXPECT_EQ(ref.ALTADDRESS[0].str(), "alt1@example.org");
    EXPECT_EQ(testDatabase("F1", nullptr).kind, KindMail);
    EXPECT_FALSE(has("F1/IDX003.TPS"));
    // The owner person lives in the new database and is named in row and self-description.
    ASSERT_NE(r.PERSONID, 0u);
    EXPECT_EQ(ref.PERSONID, static_cast<int32_t>(r.PERSONID));
    Mem.Dirnamn = "F1";
    OP_CLOSE(OpOpenShared, Person.number());
    Person.clearBuffer();
    PER.PERSONID = r.PERSONID;
    ASSERT_TRUE(Person.get(PER_PersonKey));
    EXPECT_EQ(PER.ADDRESS.str(), "me@example.org");
    EXPECT_EQ(Person.records(), 1);
    OP_CLOSE(OpClose, Person.number());
    Mem.Dirnamn.clear();

    EXPECT_EQ(addMail("Too many", "a@b", std::vector<std::string>(11, "x@y")), 0u);
    EXPECT_EQ(listDatabases(KindMail).size(), 1u);
    EXPECT_EQ(listDatabases(KindForum).size(), 0u);
}

TEST(RegistryKinds, KindIsTakenFromTheTableFilesPresent) {
    // 003 007 013 025 005
    EXPECT_EQ(kindFromFiles(false, true, true, false, false), KindMail);
    EXPECT_EQ(kindFromFiles(false, false, true, false, true), KindMail);
    EXPECT_EQ(kindFromFiles(true, true, false, true, true), KindNews);
    EXPECT_EQ(kindFromFiles(true, true, true, true, true), KindUnknown);
    EXPECT_EQ(kindFromFiles(true, true, false, false, true), KindForum);
    EXPECT_EQ(kindFromFiles(true, false, false, false, true), KindUnknown);
    EXPECT_EQ(kindFromFiles(false, false, false, false, true), KindPersonsOnly);
    EXPECT_EQ(kindFromFiles(false, false, false, false, false), KindUnknown);
    EXPECT_EQ(dirNumberOf("F12"), 12u);
    EXPECT_EQ(dirNumberOf("f7"), 7u);
    EXPECT_EQ(dirNumberOf("F0"), 0u);
    EXPECT_EQ(dirNumberOf("F01"), 0u);
    EXPECT_EQ(dirNumberOf("CFG"), 0u);
    EXPECT_EQ(dirNumberOf("F99999999999"), 0u);
}

TEST_F(RegistryTest, DatabaseTestLogsFilesOfAnUnrecognisableDirectory) {
    touchTable("F4", 3);
    touchTable("F4", 7);
    touchTable("F4", 13);
    RebuildLog lg;
    ASSERT_TRUE(lg.open(rebuildLogPath()));
    EXPECT_EQ(testDatabase("F4", &lg).kind, KindUnknown);
    lg.close();
    const std::string text = log();
    EXPECT_NE(text.find("Error .. Database type not recognizable\r\n"), std::string::npos);
    EXPECT_NE(text.find(".. " + data + "/F4/IDX013.TPS exists\r\n"), std::string::npos);
    EXPECT_NE(text.find(".. " + data + "/F4/IDX025.TPS does not exist\r\n"), std::string::npos);
    EXPECT_NE(text.find("3. A Newsgroup database should never contain idx013.tps.\r\n\r\n"), std::string::npos);
}

TEST_F(RegistryTest, DatabaseTestReportsATableOfAnotherLayout) {
    touchTable("F5", 7);
    // IDX003 of another layout, with a row in it.
    struct Other {
        uint32_t A;
    } rec{};
    Table other(3, "Other", "OTH", StorageKind::Keyed, &rec, sizeof rec, {QB_FIELD(Other, A, "OTH", ULong, 0)},
                {KeyDef{"OTH:A", {{0}}, true, false, true, false, false}});
    const std::string path = data + "/F5/IDX003.TPS";
    other.create(path);
    other.open(path, OpenMode::Exclusive);
    rec.A = 1;
    ASSERT_TRUE(other.add());
    other.close();

    RebuildLog lg;
    ASSERT_TRUE(lg.open(rebuildLogPath()));
    DatabaseTest t = testDatabase("F5", &lg);
    lg.close();
    EXPECT_EQ(t.kind, KindForum);
    EXPECT_TRUE(t.failed);
    const std::string text = log();
    EXPECT_NE(text.find("Faling test Forum msg header file " + path), std::string::npos);
    EXPECT_NE(text.find("OK .. testing Forum thread file " + data + "/F5/IDX007.TPS"), std::string::npos);
    // The test leaves the other layout in place.
    EXPECT_EQ(storedRowCount(path), 1);
}

TEST_F(RegistryTest, RebuildDropsMissingAndUnrecognisableDatabasesAndRenamesMismatches) {
    ASSERT_NE(addForumDatabase("Gone"), 0u);      // F1
    ASSERT_NE(addForumDatabase("Broken"), 0u);    // F2
    ASSERT_NE(addForumDatabase("Misfiled"), 0u);  // F3
    ASSERT_NE(addForumDatabase("Fine"), 0u);      // F4
    ASSERT_NE(addForumDatabase("Described"), 0u); // F5
    writeRef("F5", KindMail, "Described");        // the self-description disagrees
    fs::remove_all(data + "/F1");
    touchTable("F2", 13);  // a forum directory with a mail header file
    // F3 holds a mail database now.
    for (const char* f : {"IDX003.TPS", "IDX006.TPS", "IDX007.TPS"}) fs::remove(data + "/F3/" + f);
    touchTable("F3", 13);

    headless.answers = {BtnOk};
    Rebuild r;
    runRebuild(r);
    EXPECT_FALSE(r.aborted());
    EXPECT_EQ(r.removedRows(), 2);
    EXPECT_EQ(r.renamedRows(), 2);
    EXPECT_EQ(row("Unknown:F5").TYPE, KindForum);
    ForumsRec tmpRow;
    EXPECT_FALSE(findDatabaseByName("Gone", tmpRow));
    EXPECT_FALSE(findDatabaseByName("Broken", tmpRow));
    EXPECT_EQ(row("Unknown:F3").DIRNUMBER, 3u);
    EXPECT_EQ(row("Fine").DIRNUMBER, 4u);
    EXPECT_TRUE(has("F2/IDX003.TPS"));  // the files of a dropped database stay
    EXPECT_TRUE(shown("Directory path " + data + "/F1 for database Gone does not exist!"));
    EXPECT_TRUE(shown("Database Broken in directory " + data +
                      "/F2 is not a recognizable current version Quillbox database."));

    const std::string text = log();
    for (const std::string& l :
         {std::string("Checking the Quillbox directory structure ...OK!\r\n"),
          std::string(53, '-') + "\r\n Databases recorded in the IDX002.TPS file\r\n" + std::string(53, '-'),
          std::string("Unknown:F2\r\n"), std::string("Forum      F4 Fine\r\n"), std::string("Mail       F3 Misfiled"),
          std::string(" All databases are connected\r\n"), std::string("Checking for highest existing ID ...OK!")})
        EXPECT_NE(text.find(l), std::string::npos) << l;
    // F2 was reported by the check of the recorded ones; attaching leaves it.
    EXPECT_EQ(text.find("Invalid DB F2"), std::string::npos);
}

TEST_F(RegistryTest, RebuildCancelOnAMissingDirectoryStopsTheProgram) {
    ASSERT_NE(addForumDatabase("Gone"), 0u);
    ASSERT_NE(addForumDatabase("Here"), 0u);
    fs::remove_all(data + "/F1");
    headless.answers = {BtnCancel};
    Rebuild r;
    EXPECT_THROW(runRebuild(r), ProgramStop);
    EXPECT_EQ(row("Gone").DIRNUMBER, 1u);  // nothing removed
}

TEST_F(RegistryTest, RebuildAttachesUnrecordedDirectories) {
    ASSERT_NE(addForumDatabase("Known"), 0u);  // F1
    // F9: a forum database with its self-description but no registry row.
    for (int n : {3, 4, 5, 6, 7}) touchTable("F9", n);
    writeRef("F9", KindForum, "comp.os.linux");
    // F10: a mail database without self-description.
    for (int n : {13, 4, 5}) touchTable("F10", n);
    // F11: its self-description names a registered name.
    for (int n : {3, 7}) touchTable("F11", n);
    writeRef("F11", KindForum, "KNOWN");
    // F12: the self-description says mail, the files say forum.
    for (int n : {3, 7}) touchTable("F12", n);
    writeRef("F12", KindMail, "Post");
    // F13: not a database.
    touchTable("F13", 13);
    touchTable("F13", 3);

    Rebuild r;
    runRebuild(r);
    ASSERT_FALSE(r.aborted());
    EXPECT_EQ(r.attachedDirs(), 4);
    ForumsRec f9 = row("comp.os.linux");
    EXPECT_EQ(f9.DIRNUMBER, 9u);
    EXPECT_EQ(f9.TYPE, KindForum);
    EXPECT_EQ(row("Unknown:10").TYPE, KindMail);
    EXPECT_EQ(row("Unknown:F11").DIRNUMBER, 11u);
    EXPECT_EQ(row("Unknown:F12").TYPE, KindForum);
    for (const ForumsRec& x : listDatabases()) EXPECT_NE(x.DIRNUMBER, 13u) << x.DESCRIPTION.str();
    // The self-description of an attached directory follows its new row.
    ForumRefRec ref{};
    ASSERT_TRUE(readSelfDescription("F10", ref));
    EXPECT_EQ(ref.DESCRIPTION.str(), "Unknown:10");
    EXPECT_EQ(ref.TYPE, KindMail);
    // IDs are unique and the generator is above every one of them.
    std::set<uint32_t> ids;
    for (const ForumsRec& x : listDatabases()) ids.insert(x.ID);
    EXPECT_EQ(ids.size(), 5u);
    EXPECT_GT(nextNumber(), *ids.rbegin());

    const std::string text = log();
    EXPECT_NE(text.find(" Databases not recorded in the IDX002.TPS file"), std::string::npos);
    EXPECT_NE(text.find("Forum      F9 comp.os.linux"), std::string::npos);
    EXPECT_NE(text.find("Mail       F10"), std::string::npos);
    EXPECT_NE(text.find("Invalid DB F13"), std::string::npos);
    EXPECT_NE(text.find("Attaching new database directories ... OK!"), std::string::npos);
    EXPECT_TRUE(shown("in directory " + data + "/F13 is not a recognizable"));
}

TEST_F(RegistryTest, RebuildWithoutDatabasesOrDataDirectoryEndsEarly) {
    {
        Rebuild r;
        runRebuild(r);
        EXPECT_TRUE(r.aborted());
        EXPECT_TRUE(shown("No database available at " + data + ".\r\nRebuild process aborted."));
    }
    // A data directory without any database directory: the rows stay.
    ASSERT_NE(addForumDatabase("Offline"), 0u);
    fs::remove_all(data + "/F1");
    headless.shown.clear();
    {
        Rebuild r;
        runRebuild(r);
        EXPECT_TRUE(r.aborted());
        EXPECT_TRUE(shown("No database available at "));
        for (const ShownBox& b : headless.shown) EXPECT_FALSE(b.question) << b.text;
        EXPECT_EQ(row("Offline").DIRNUMBER, 1u);
    }
    // With the data directory gone, no registry row is touched either.
    fs::create_directories(data + "/F1");
    const std::string moved = tmp.path + "/elsewhere";
    fs::rename(data, moved);
    headless.shown.clear();
    Rebuild r;
    runRebuild(r);
    EXPECT_TRUE(r.aborted());
    EXPECT_TRUE(shown("Database directory path " + data + " does not exist!"));
    for (const ShownBox& b : headless.shown) EXPECT_FALSE(b.question) << b.text;
    fs::rename(moved, data);
    EXPECT_EQ(row("Offline").DIRNUMBER, 1u);
}

TEST_F(RegistryTest, NextIdCheckSetsTheCounterAboveTheHighestIdInUse) {
    const uint32_t mailId = addMail("Mail", "me@x.org");  // F1
    const uint32_t forumId = addForumDatabase("Forum");           // F2
    ASSERT_NE(mailId, 0u);
    ASSERT_NE(forumId, 0u);
    // Mail texts are numbered by the generator; forum texts by the service.
    putRow("F1", MsgText, [] {
        TXT.MSGNUMBER = 700123;
        TXT.DATE = 70000;  // before 20 May 1995: not taken as the creation date
    });
    putRow("F1", MsgText, [] {
        TXT.MSGNUMBER = 700124;
        TXT.DATE = 72000;
    });
    putRow("F2", MsgText, [] {
        TXT.MSGNUMBER = 9000000;
        TXT.DATE = 80000;
    });
    putRow("F2", Threads, [] { THR.THREADNUMBER = 650000; });
    putRow("F2", Person, [] {
        PER.PERSONID = 640000;
        PER.PERSONSTRING = "A B";
    });
    {
        NextIdCheck c;
        while (c.step()) {}
        ASSERT_TRUE(c.ok());
        EXPECT_EQ(c.highestId(), 700124u);
    }
    EXPECT_EQ(nextNumber(), 700125u);
    ForumsRec m = row("Mail");
    EXPECT_EQ(m.MSGCOUNT, 2u);
    EXPECT_EQ(m.CREATED, 72000);
    EXPECT_EQ(m.COUNTFLAG, 0);
    EXPECT_EQ(row("Forum").CREATED, 80000);

    // A task ID above all, and the counter follows it; it may also go down.
    OP_CLOSE(OpOpenShared, Tasks.number());
    Tasks.clearBuffer();
    TAS.ID = 800000;
    ASSERT_TRUE(Tasks.add());
    OP_CLOSE(OpClose, Tasks.number());
    NextIdCheck c2;
    while (c2.step()) {}
    EXPECT_EQ(nextNumber(), 800001u);

    // Persons of a database whose texts are all gone still hold their IDs.
    ASSERT_NE(addForumDatabase("Purged"), 0u);  // F3
    putRow("F3", Person, [] {
        PER.PERSONID = 850000;
        PER.PERSONSTRING = "C D";
    });
    NextIdCheck c3;
    while (c3.step()) {}
    EXPECT_EQ(nextNumber(), 850001u);
    EXPECT_EQ(row("Purged").MSGCOUNT, 0u);

    // Newsgroup message numbers are drawn from the generator: they count.
    NewDatabase news;
    news.kind = KindNews;
    news.name = "comp.os.linux";
    ASSERT_NE(addDatabase(news), 0u);  // F4
    EXPECT_EQ(testDatabase("F4", nullptr).kind, KindNews);
    putRow("F4", MsgNmbr, [] { MSG.MSGNUMBER = 870000; });
    putRow("F4", MessageIds, [] {
        MST.IDSTRING = "<a@b>";
        MST.MSGNUMBER = 880000;
    });
    NextIdCheck c4;
    while (c4.step()) {}
    EXPECT_EQ(nextNumber(), 880001u);
}

TEST_F(RegistryTest, RemoveClearsImportDefinitionsAndDeletesTheFiles) {
    const uint32_t keep = addMail("Keep", "k@x");
    const uint32_t gone = addForumDatabase("Gone");
    ASSERT_NE(keep, 0u);
    ASSERT_NE(gone, 0u);
    OP_CLOSE(OpOpenShared, Batch.number(), TaskBatch.number());
    auto addBatch = [](uint32_t id, uint32_t database, uint32_t mailbox) {
        Batch.clearBuffer();
        BAT.ID = id;
        BAT.TYPE = 1;
        BAT.DATABASE = database;
        BAT.MAILBOX = mailbox;
        ASSERT_TRUE(Batch.add());
    };
    addBatch(10, gone, keep);  // keeps its mail target
    addBatch(11, gone, 0);     // left without a target
    addBatch(12, 0, keep);     // not concerned
    for (auto [task, batch] : {std::pair{1u, 10u}, {1u, 11u}, {2u, 11u}, {2u, 12u}}) {
        TaskBatch.clearBuffer();
        TIM.TASKID = task;
        TIM.BATCHID = batch;
        ASSERT_TRUE(TaskBatch.add());
    }
    OP_CLOSE(OpClose, Batch.number(), TaskBatch.number());
    ASSERT_TRUE(selectDatabase(gone));
    EXPECT_EQ(Mem.Dirnamn, "F2");
    int32_t number = 0;
    std::string text;
    ASSERT_EQ(Konfig(1, 0, number, text), 1);
    for (int item : {6, 19}) {
        number = static_cast<int32_t>(gone);
        Konfig(2, item, number, text);
    }
    number = static_cast<int32_t>(keep);
    Konfig(2, 19, number, text);  // the mail database stays remembered
    ASSERT_EQ(Konfig(4, 0, number, text), 1);

    EXPECT_EQ(removeActiveDatabase(), 1);
    EXPECT_EQ(Mem.ForumNumber, 0u);
    ForumsRec r;
    EXPECT_FALSE(findDatabaseById(gone, r));
    EXPECT_TRUE(findDatabaseById(keep, r));
    EXPECT_FALSE(has("F2"));
    EXPECT_TRUE(has("F1/IDX013.TPS"));

    OP_CLOSE(OpOpenShared, Batch.number(), TaskBatch.number());
    Batch.clearBuffer();
    BAT.ID = 10;
    ASSERT_TRUE(Batch.get(BAT_IDKEY));
    EXPECT_EQ(BAT.DATABASE, 0u);
    EXPECT_EQ(BAT.MAILBOX, keep);
    BAT.ID = 11;
    EXPECT_FALSE(Batch.get(BAT_IDKEY));
    BAT.ID = 12;
    EXPECT_TRUE(Batch.get(BAT_IDKEY));
    EXPECT_EQ(TaskBatch.records(), 2);  // (1,10) and (2,12)
    OP_CLOSE(OpClose, Batch.number(), TaskBatch.number());

    ASSERT_EQ(Konfig(1, 0, number, text), 1);  // as stored
    EXPECT_EQ(konfigNumber(6), 0);
    EXPECT_EQ(konfigNumber(19), static_cast<int32_t>(keep));
}

TEST_F(RegistryTest, ImportSwitchChangesOnlyThatRow) {
    const uint32_t a = addForumDatabase("A");
    const uint32_t b = addForumDatabase("B");
    ASSERT_TRUE(setImportAllowed(a, false));
    ForumsRec r;
    ASSERT_TRUE(findDatabaseById(a, r));
    EXPECT_EQ(r.NOIMPORT, 1);
    ASSERT_TRUE(findDatabaseById(b, r));
    EXPECT_EQ(r.NOIMPORT, 0);
    ASSERT_TRUE(setImportAllowed(a, true));
    ASSERT_TRUE(findDatabaseById(a, r));
    EXPECT_EQ(r.NOIMPORT, 0);
    EXPECT_FALSE(setImportAllowed(123456, true));
}

} // namespace

namespace {

TEST_F(RegistryTest, RemovedFilesIncludeTheWordIndexElsewhereButNotForeignFiles) {
    const std::string words = tmp.path + "/words";
    fs::create_directories(words);
    MasIdxPath = words;
    // A directory left in the word-index directory by an older database is
    // not handed out again.
    fs::create_directories(words + "/F1");
    const uint32_t id = addForumDatabase("Indexed");
    ASSERT_NE(id, 0u);
    ForumsRec r = row("Indexed");
    ASSERT_EQ(r.DIRNUMBER, 2u);
    fs::create_directories(words + "/F2");
    writeFile(words + "/F2/IDX028.DAT", "x");
    writeFile(words + "/F2/IDX029.TPS", "x");
    writeFile(data + "/F2/notes.txt", "mine");  // not a table file: stays
    ASSERT_TRUE(fs::exists(words + "/F2/IDX029.TPS"));

    ASSERT_TRUE(removeDatabase(id));
    EXPECT_TRUE(removeDatabaseFiles(r.DIRNUMBER));
    EXPECT_FALSE(fs::exists(words + "/F2"));
    EXPECT_FALSE(fs::exists(data + "/F2/IDX003.TPS"));
    EXPECT_FALSE(fs::exists(data + "/F2/IDX022.DAT"));
    EXPECT_EQ(readFile(data + "/F2/notes.txt"), "mine");
    ForumsRec gone;
    EXPECT_FALSE(findDatabaseById(id, gone));
}

} // namespace

namespace {

TEST_F(RegistryTest, RebuildLeavesTheTablesOfTheActiveDatabaseOpen) {
    const uint32_t a = addForumDatabase("Active");
    ASSERT_NE(addForumDatabase("Other"), 0u);
    ASSERT_TRUE(selectDatabase(a));
    OP_CLOSE(OpOpenShared, Person.number(), MsgNmbr.number());
    const std::string personPath = Person.path();
    Rebuild r;
    runRebuild(r);
    ASSERT_FALSE(r.aborted());
    EXPECT_TRUE(Person.isOpen());
    EXPECT_EQ(Person.path(), personPath);
    EXPECT_EQ(openCount(Person.number()), 1);
    EXPECT_EQ(openCount(MsgNmbr.number()), 1);
    EXPECT_EQ(Mem.Dirnamn, "F1");
    EXPECT_NE(log().find("OK .. testing Forum member file " + data + "/F2/IDX005.TPS"), std::string::npos);
    OP_CLOSE(OpClose, Person.number(), MsgNmbr.number());
}

} // namespace
