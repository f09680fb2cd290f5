// Record access: open procedure and its repairs, open counts, row writes with
// their reports, the edit-form save check, queue and transaction reports, and
// file removal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sqlite3.h>
#include <unistd.h>

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

std::string centred(const std::string& s) {
    size_t left = (40 - s.size()) / 2;
    return std::string(left, ' ') + s + std::string(40 - s.size() - left, ' ');
}

// A table of another layout, written at the path of one of ours.
struct OtherRec {
    uint32_t A;
    Str<12> B;
};

class AccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> seq{0};
        root = fs::temp_directory_path() /
               ("qb_access_" + std::to_string(::getpid()) + "_" + std::to_string(seq++) + "_" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(root / "net" / "CFG");
        fs::create_directories(root / "data" / "F1");
        fs::create_directories(root / "tmp");
        Mem = MemGlobals{};
        Mem.Net = (root / "net").string();
        Mem.FileDir = (root / "data").string();
        Mem.TempDir = (root / "tmp").string();
        Mem.Dirnamn = "F1";
        MasIdxPath = Mem.FileDir;
        setEngineDirectory((root / "net" / "CFG").string());
        setUi(&headless);
        layoutDiffers = false;
        queueError = 0;
    }
    void TearDown() override {
        if (inTransaction()) rollbackTransaction();
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        closeAllTables();
        setUi(nullptr);
        Mem = MemGlobals{};
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // Creates the file of table `number` in another layout holding `rows` rows.
    // With nocaseKey its key ignores letter case, as most keys of older layouts do.
    void writeOtherLayout(int number, int rows, bool nocaseKey = false) {
        OtherRec rec{};
        Table other(number, "Other", "OTH", StorageKind::Keyed, &rec, sizeof rec,
                    {QB_FIELD(OtherRec, A, "OTH", ULong, 0), QB_FIELD(OtherRec, B, "OTH", String, 12)},
                    {KeyDef{"OTH:BKey", {{1}}, true, nocaseKey, true, false, false}});
        const std::string path = tableFileName(number);
        other.create(path);
        ASSERT_EQ(errorCode(), 0) << errorText();
        other.open(path, OpenMode::Exclusive);
        ASSERT_EQ(errorCode(), 0) << errorText();
        for (int i = 1; i <= rows; ++i) {
            rec.A = static_cast<uint32_t>(i);
            rec.B = "row" + std::to_string(i);
            ASSERT_TRUE(other.add()) << errorText();
        }
        other.close();
        ASSERT_EQ(storedRowCount(path), rows);
    }

    void addCode(uint8_t type, const char* index, uint32_t count) {
        Codes.clearBuffer();
        COD.TYPE = type;
        COD.INDEX = index;
        COD.COUNT = count;
        ASSERT_TRUE(Codes.add()) << errorText();
    }

    bool getCode(uint8_t type, const char* index) {
        Codes.clearBuffer();
        COD.TYPE = type;
        COD.INDEX = index;
        return Codes.get(COD_ClassKey);
    }

    fs::path root;
    HeadlessUi headless;
};

using AccessOpen = AccessTest;
using AccessUppDat = AccessTest;
using AccessSaveRec = AccessTest;
using AccessHoldRec = AccessTest;
using AccessQueue = AccessTest;
using AccessFiles = AccessTest;

// A second opener of the Codes file, as another user would open it.
struct OtherUser {
    CodesRec rec{};
    Table t{1, "Codes", "COD", Codes.kind(), &rec, sizeof rec, Codes.fields(), Codes.keys()};
    explicit OtherUser(const std::string& path) { t.open(path, OpenMode::SharedReadWrite); }
    ~OtherUser() { t.close(); }
    bool get(uint8_t type, const char* index) {
        t.clearBuffer();
        rec.TYPE = type;
        rec.INDEX = index;
        return t.get(COD_ClassKey);
    }
};

} // namespace

TEST_F(AccessOpen, MissingFileIsCreatedSilently) {
    const std::string path = tableFileName(1);
    ASSERT_FALSE(fs::exists(path));
    OP_CLOSE(OpOpenShared, 1);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_TRUE(Codes.isOpen());
    EXPECT_EQ(FileName, path);
    EXPECT_EQ(openCount(1), 1);
    EXPECT_TRUE(headless.shown.empty());
    addCode(1, "alpha", 1);
    EXPECT_EQ(Codes.records(), 1);
}

TEST_F(AccessOpen, SearchOfAnotherLayoutIsReplacedSilentlyWhateverItHolds) {
    writeOtherLayout(32, 3);
    OP_CLOSE(OpOpenShared, 32);
    EXPECT_TRUE(headless.shown.empty());
    ASSERT_TRUE(Search.isOpen());
    EXPECT_EQ(Search.records(), 0);
    SEA.ID = 7;
    EXPECT_TRUE(Search.add()) << errorText();
}

TEST_F(AccessOpen, CodesOfAnotherLayoutWithRowsStops) {
    writeOtherLayout(1, 1);
    const std::string path = tableFileName(1);
    const std::string text = "The file " + path + " cannot be opened\r\n" + "as the file definition is incorrect.\r\n" +
                             "Quillbox will terminate.";
    try {
        OP_CLOSE(OpOpenShared, 1);
        FAIL() << "no stop";
    } catch (const ProgramStop& s) {
        EXPECT_EQ(std::string(s.what()), text);
    }
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, " File Open Error - Invalid record declaration");
    EXPECT_EQ(headless.shown[0].text, text);
    EXPECT_EQ(headless.shown[0].icon, Icon::Exclamation);
    EXPECT_FALSE(Codes.isOpen());
    EXPECT_EQ(storedRowCount(path), 1);  // the user's data is left alone
}

TEST_F(AccessOpen, StopMessageIsShownAlsoUnattended) {
    writeOtherLayout(1, 2);
    Mem.DoTask = 2;
    EXPECT_THROW(OP_CLOSE(OpOpenShared, 1), ProgramStop);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, " File Open Error - Invalid record declaration");
}

TEST_F(AccessOpen, EmptyCodesOfAnotherLayoutIsReplaced) {
    writeOtherLayout(1, 0);
    OP_CLOSE(OpOpenShared, 1);
    EXPECT_TRUE(headless.shown.empty());
    ASSERT_TRUE(Codes.isOpen());
    addCode(2, "topic", 3);
    OP_CLOSE(OpClose, 1);
    // Now of our layout: opens without a repair and keeps its row.
    OP_CLOSE(OpOpenShared, 1);
    EXPECT_EQ(Codes.records(), 1);
    EXPECT_TRUE(headless.shown.empty());
}

TEST_F(AccessOpen, EmptyCodesOfAnotherLayoutWithCaseInsensitiveKeyIsReplaced) {
    writeOtherLayout(1, 0, true);
    OP_CLOSE(OpOpenShared, 1);
    EXPECT_TRUE(headless.shown.empty());
    EXPECT_TRUE(Codes.isOpen());
}

// Damages the keys of a table file behind the engine's back (the files are SQLite).
static void dropStoredKeys(const std::string& path) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    std::vector<std::string> names;
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='index' AND sql IS NOT NULL", -1,
                                 &st, nullptr),
              SQLITE_OK);
    while (sqlite3_step(st) == SQLITE_ROW) names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    ASSERT_FALSE(names.empty());
    for (const std::string& n : names)
        ASSERT_EQ(sqlite3_exec(db, ("DROP INDEX \"" + n + "\"").c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

TEST_F(AccessOpen, DamagedKeysAreRebuiltAfterANotice) {
    OP_CLOSE(OpOpenShared, 1);
    addCode(1, "alpha", 4);
    OP_CLOSE(OpClose, 1);
    const std::string path = tableFileName(1);
    dropStoredKeys(path);

    OP_CLOSE(OpOpenShared, 1);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, "File Open Error - Bad keys");
    EXPECT_EQ(headless.shown[0].text, "The file " + path + " cannot be opened\r\n" + "due to corrupted indices.\r\n" +
                                          "Automatic rebuild will take place.");
    ASSERT_TRUE(Codes.isOpen());
    EXPECT_TRUE(getCode(1, "ALPHA"));
    EXPECT_EQ(COD.COUNT, 4u);
    OP_CLOSE(OpClose, 1);

    // Unattended the notice is left out; the rebuild still happens.
    dropStoredKeys(path);
    Mem.DoTask = 2;
    OP_CLOSE(OpOpenShared, 1);
    EXPECT_EQ(headless.shown.size(), 1u);
    EXPECT_TRUE(getCode(1, "alpha"));
}

TEST_F(AccessOpen, TestActionOnlyNotesAnotherLayout) {
    writeOtherLayout(1, 2);
    OP_CLOSE(OpTest, 1);
    EXPECT_TRUE(layoutDiffers);
    EXPECT_FALSE(Codes.isOpen());
    EXPECT_EQ(openCount(1), 0);
    EXPECT_EQ(storedRowCount(tableFileName(1)), 2);
    EXPECT_TRUE(headless.shown.empty());
}

TEST_F(AccessOpen, TestActionOnOwnLayoutLeavesIndicatorClear) {
    OP_CLOSE(OpTest, 1);
    EXPECT_FALSE(layoutDiffers);
    EXPECT_TRUE(fs::exists(tableFileName(1)));
    EXPECT_FALSE(Codes.isOpen());
}

TEST_F(AccessOpen, OpenCountsNestOpensAndCloses) {
    OP_CLOSE(OpOpenShared, 1);
    OP_CLOSE(OpOpenShared, 1);
    EXPECT_EQ(openCount(1), 2);
    OP_CLOSE(OpClose, 1);
    EXPECT_TRUE(Codes.isOpen());
    EXPECT_EQ(openCount(1), 1);
    OP_CLOSE(OpClose, 1);
    EXPECT_FALSE(Codes.isOpen());
    EXPECT_EQ(openCount(1), 0);

    OP_CLOSE(OpOpenShared, 1, 32);
    OP_CLOSE(OpOpenShared, 1);
    OP_CLOSE(OpOpenShared, 1);
    EXPECT_EQ(openCount(1), 3);
    OP_CLOSE(OpForceClose, 1, 32);
    EXPECT_FALSE(Codes.isOpen());
    EXPECT_FALSE(Search.isOpen());
    EXPECT_EQ(openCount(1), 0);
    EXPECT_EQ(openCount(32), 0);
}

TEST_F(AccessOpen, OpenedTablesAreKnownToTheEvaluator) {
    OP_CLOSE(OpOpenShared, 1);
    int field = -1;
    EXPECT_EQ(boundTableOfField("cod:index", &field), &Codes);
    EXPECT_EQ(field, Codes.fieldIndex("COD:INDEX"));
    OP_CLOSE(OpClose, 1);
    EXPECT_EQ(boundTableOfField("COD:INDEX"), nullptr);
}

TEST_F(AccessOpen, EmptyRemovesAllRowsAndLeavesClosed) {
    OP_CLOSE(OpOpenShared, 1);
    addCode(1, "a", 1);
    addCode(1, "b", 1);
    OP_CLOSE(OpClose, 1);
    OP_CLOSE(OpEmpty, 1);
    EXPECT_FALSE(Codes.isOpen());
    EXPECT_EQ(openCount(1), 0);
    OP_CLOSE(OpOpenShared, 1);
    EXPECT_EQ(Codes.records(), 0);
}

TEST_F(AccessOpen, PackKeepsRowsAndLeavesClosed) {
    OP_CLOSE(OpOpenShared, 1);
    addCode(1, "a", 1);
    addCode(1, "b", 1);
    ASSERT_TRUE(getCode(1, "a"));
    ASSERT_TRUE(Codes.erase());
    OP_CLOSE(OpPack, 1);
    EXPECT_FALSE(Codes.isOpen());
    EXPECT_EQ(openCount(1), 0);
    OP_CLOSE(OpOpenShared, 1);
    EXPECT_EQ(Codes.records(), 1);
    EXPECT_TRUE(getCode(1, "b"));
}

TEST_F(AccessOpen, DeleteClosesAndRemovesTheFile) {
    OP_CLOSE(OpOpenShared, 1);
    OP_CLOSE(OpOpenShared, 1);
    OP_CLOSE(OpDelete, 1);
    EXPECT_FALSE(Codes.isOpen());
    EXPECT_EQ(openCount(1), 0);
    EXPECT_FALSE(fs::exists(tableFileName(1)));
    OP_CLOSE(OpDelete, 1);  // not there: nothing to do
    EXPECT_TRUE(headless.shown.empty());
}

TEST_F(AccessOpen, ReaderFilesAreCountedOnly) {
    FileTmpName = (root / "reader.dbf").string();
    OP_CLOSE(OpOpenShared, ReaderHeaders);
    EXPECT_EQ(FileName, FileTmpName);
    EXPECT_EQ(openCount(ReaderHeaders), 1);
    OP_CLOSE(OpClose, ReaderHeaders);
    EXPECT_EQ(openCount(ReaderHeaders), 0);
    EXPECT_FALSE(fs::exists(FileTmpName));
}

TEST_F(AccessOpen, MissingDirectoryStopsWithHaltText) {
    Mem.Dirnamn = "F9";  // never made
    const std::string path = tableFileName(1);
    const std::string dir = fs::path(path).parent_path().string();
    try {
        OP_CLOSE(OpOpenShared, 1);
        FAIL() << "no stop";
    } catch (const ProgramStop& s) {
        EXPECT_EQ(std::string(s.what()), "The path " + dir + " does not exist.\r\nQuillbox will terminate.");
        EXPECT_EQ(s.haltText, "Check your directory setup in Preferences and run File/Rebuild.");
    }
    ASSERT_EQ(headless.shown.size(), 2u);
    EXPECT_EQ(headless.shown[0].title, "Path Not Found");
    EXPECT_EQ(headless.shown[1].text, "Check your directory setup in Preferences and run File/Rebuild.");
}

TEST_F(AccessOpen, UndefinedTableNumberStops) {
    const std::string text = centred("File no 14 not defined!") + "\r\n" + centred("Quillbox will terminate!");
    try {
        OP_CLOSE(OpOpenShared, 14);
        FAIL() << "no stop";
    } catch (const ProgramStop& s) {
        EXPECT_EQ(std::string(s.what()), text);
        EXPECT_EQ(s.haltText, "Program Failure!");
    }
    ASSERT_EQ(headless.shown.size(), 2u);
    EXPECT_EQ(headless.shown[0].title, "Program Failure!");
    EXPECT_EQ(headless.shown[0].text, text);
    EXPECT_EQ(headless.shown[1].text, "Program Failure!");
    EXPECT_EQ(text.substr(0, 8), "        ");  // 23 characters centred in 40

    EXPECT_THROW(OP_CLOSE(OpClose, 99), ProgramStop);
    EXPECT_NO_THROW(OP_CLOSE(8, 99));  // actions from 8 do nothing
}

TEST_F(AccessUppDat, DuplicateAddReportsUnderTheFileName) {
    OP_CLOSE(OpOpenShared, 1);
    addCode(1, "alpha", 1);
    Codes.clearBuffer();
    COD.TYPE = 1;
    COD.INDEX = "ALPHA";  // the key ignores letter case
    EXPECT_EQ(UppDat(Codes, UppAdd, 0), 0);
    EXPECT_TRUE(headless.shown.empty());
    EXPECT_EQ(UppDat(Codes, UppAdd, ModeReport), 0);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, tableFileName(1));
    EXPECT_EQ(headless.shown[0].text, "Record add error!\r\nA record with identical key already exists!");
    EXPECT_EQ(headless.shown[0].icon, Icon::Exclamation);

    COD.INDEX = "beta";
    EXPECT_EQ(UppDat(Codes, UppAdd, ModeReport), 1);
    EXPECT_EQ(Codes.records(), 2);
    EXPECT_EQ(headless.shown.size(), 1u);
}

TEST_F(AccessUppDat, FailedAddInModeEightRollsBackWithoutBoxWhenUnattended) {
    OP_CLOSE(OpOpenShared, 1);
    addCode(1, "kept", 1);
    Mem.DoTask = 6;
    ASSERT_TRUE(beginTransaction({&Codes}));
    ASSERT_EQ(transactionCheck(), 0);
    Codes.clearBuffer();
    COD.TYPE = 2;
    COD.INDEX = "in transaction";
    ASSERT_EQ(UppDat(Codes, UppAdd, ModeReportRollback), 1);
    Codes.clearBuffer();
    COD.TYPE = 1;
    COD.INDEX = "kept";
    EXPECT_EQ(UppDat(Codes, UppAdd, ModeReportRollback), 0);
    EXPECT_TRUE(headless.shown.empty());
    EXPECT_FALSE(inTransaction());
    EXPECT_EQ(Codes.records(), 1);
    EXPECT_FALSE(getCode(2, "in transaction"));
}

TEST_F(AccessUppDat, ModeEightAttendedTellsOfTheRollback) {
    OP_CLOSE(OpOpenShared, 1);
    addCode(1, "kept", 1);
    ASSERT_TRUE(beginTransaction({&Codes}));
    Codes.clearBuffer();
    COD.TYPE = 1;
    COD.INDEX = "kept";
    EXPECT_EQ(UppDat(Codes, UppAdd, ModeReportRollback), 0);
    EXPECT_FALSE(inTransaction());
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].text, "Record add error!\r\nA record with identical key already exists!\r\n"
                                      "The last transaction is rolled back.");
}

TEST_F(AccessUppDat, PutOfADeletedRowIsNotAvailable) {
    OP_CLOSE(OpOpenShared, 1);
    addCode(1, "gone", 1);
    ASSERT_TRUE(getCode(1, "gone"));
    {
        OtherUser other(tableFileName(1));
        ASSERT_TRUE(other.get(1, "gone"));
        ASSERT_TRUE(other.t.erase()) << errorText();
    }
    COD.COUNT = 5;
    EXPECT_EQ(UppDat(Codes, UppPut, ModeReport), 0);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].text, "Record update error!\r\nRecord not available!");
}

TEST_F(AccessHoldRec, DeletedRowIsReported) {
    OP_CLOSE(OpOpenShared, 1);
    addCode(1, "gone", 1);
    ASSERT_TRUE(getCode(1, "gone"));
    const std::string pos = std::to_string(Codes.position());
    EXPECT_EQ(HoldRec(Codes, COD_ClassKey, 0, pos), 1);
    Codes.release();
    {
        OtherUser other(tableFileName(1));
        ASSERT_TRUE(other.get(1, "gone"));
        ASSERT_TRUE(other.t.erase()) << errorText();
    }
    EXPECT_EQ(HoldRec(Codes, COD_ClassKey, 0, pos), 0);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, tableFileName(1));
    EXPECT_EQ(headless.shown[0].text,
              "The record has been deleted by another user!\r\n" + std::string(19, ' ') + "Update is cancelled!");
}

TEST_F(AccessHoldRec, ByKeyReadsTheRowFromTheBufferValues) {
    OP_CLOSE(OpOpenShared, 1);
    addCode(2, "topic", 42);
    Codes.clearBuffer();
    COD.TYPE = 2;
    COD.INDEX = "TOPIC";
    EXPECT_EQ(HoldRec(Codes, COD_ClassKey, 1, ""), 1);
    EXPECT_EQ(COD.COUNT, 42u);
    Codes.release();
    COD.INDEX = "none";
    EXPECT_EQ(HoldRec(Codes, COD_ClassKey, 1, ""), 0);
    EXPECT_EQ(headless.shown.size(), 1u);
}

TEST_F(AccessSaveRec, ChangedByAnotherUserThenSecondAcceptSucceeds) {
    OP_CLOSE(OpOpenShared, 1);
    addCode(1, "shared", 5);

    // User 1 opens the edit form on the row.
    ASSERT_TRUE(getCode(1, "shared"));
    GlobalRequest = 2;
    EditSave form;
    const std::string pos = SaveRec(Codes, GlobalRequest, true, form);
    EXPECT_EQ(pos, std::to_string(Codes.position()));
    ASSERT_EQ(form.images.size(), 2u);

    // User 2 changes it meanwhile.
    {
        OtherUser other(tableFileName(1));
        ASSERT_TRUE(other.get(1, "shared"));
        other.rec.COUNT = 9;
        ASSERT_TRUE(other.t.put()) << errorText();
    }

    // User 1 accepts the edit: told, and shown the row as it is now.
    COD.COUNT = 7;
    EXPECT_EQ(SaveRec(Codes, GlobalRequest, false, form), "");
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, "Warning!");
    EXPECT_EQ(headless.shown[0].text, "The record has just been changed by another user!\r\nTry again!");
    EXPECT_EQ(COD.COUNT, 9u);
    CodesRec userValues;
    ASSERT_EQ(form.save.size(), sizeof userValues);
    std::memcpy(&userValues, form.save.data(), sizeof userValues);
    EXPECT_EQ(userValues.COUNT, 7u);

    // A second accept compares against the row as now read and saves.
    COD.COUNT = 7;
    EXPECT_EQ(SaveRec(Codes, GlobalRequest, false, form), "OK");
    EXPECT_EQ(headless.shown.size(), 1u);
    OtherUser check(tableFileName(1));
    ASSERT_TRUE(check.get(1, "shared"));
    EXPECT_EQ(check.rec.COUNT, 7u);
}

TEST_F(AccessSaveRec, UnchangedRowIsDeletedAndInsertOpensWithoutPosition) {
    OP_CLOSE(OpOpenShared, 1);
    addCode(1, "doomed", 1);
    addCode(1, "other", 1);
    ASSERT_TRUE(getCode(1, "doomed"));
    EditSave form;
    EXPECT_FALSE(SaveRec(Codes, 3, true, form).empty());
    EXPECT_EQ(SaveRec(Codes, 3, false, form), "OK");
    EXPECT_FALSE(getCode(1, "doomed"));
    EXPECT_TRUE(getCode(1, "other"));
    EXPECT_TRUE(headless.shown.empty());

    EditSave insert;
    Codes.clearBuffer();
    EXPECT_EQ(SaveRec(Codes, 1, true, insert), "");
    EXPECT_EQ(insert.images.size(), 2u);
}

TEST_F(AccessQueue, QueueErrorsAreReportedByKind) {
    queueError = 0;
    EXPECT_EQ(QError(ModeReport), 0);
    queueError = ErrEntryNotFound;
    EXPECT_EQ(QError(ModeReport), 0);
    EXPECT_TRUE(headless.shown.empty());

    queueError = ErrNoMemory;
    EXPECT_EQ(QError(ModeReport), 1);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, "Fatal error!");
    EXPECT_EQ(headless.shown[0].text, "Queue access error\r\nInsufficient memory!");

    queueError = ErrInvalidFieldType;
    EXPECT_EQ(QError(ModeReportRollback), 1);
    ASSERT_EQ(headless.shown.size(), 2u);
    EXPECT_EQ(headless.shown[1].title, "Fatal error");
    EXPECT_EQ(headless.shown[1].text,
              "Queue access error\r\nInvalid field type descriptor!\r\nThe last transaction is rolled back.");

    queueError = ErrRecordHeld;
    EXPECT_EQ(QError(ModeReport), 1);
    ASSERT_EQ(headless.shown.size(), 3u);
    EXPECT_EQ(headless.shown[2].title, "Warning!");
    EXPECT_EQ(headless.shown[2].text, "Queue access error\r\n" + errorText(ErrRecordHeld).substr(0, 50));

    Mem.DoTask = 2;
    EXPECT_EQ(QError(ModeReport), 1);
    EXPECT_EQ(QError(0), 1);
    EXPECT_EQ(headless.shown.size(), 3u);
}

TEST_F(AccessQueue, TransactionCheckReportsAFailedBegin) {
    setError(NoError);
    EXPECT_EQ(transactionCheck(), 0);
    EXPECT_TRUE(headless.shown.empty());
    setError(ErrRecordHeld);
    EXPECT_EQ(transactionCheck(), 1);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, "Warning!");
    EXPECT_EQ(headless.shown[0].text, "Transaction Frame Error!\r\n" + errorText(ErrRecordHeld));
    EXPECT_FALSE(inTransaction());
}

TEST_F(AccessFiles, RemovingAMissingFileCountsAsRemoved) {
    const std::string missing = (root / "nothing.tmp").string();
    EXPECT_EQ(DOSFunc(3, "", missing), 1);
    const std::string present = (root / "present.tmp").string();
    std::ofstream(present) << "x";
    EXPECT_EQ(DOSFunc(3, "", present), 1);
    EXPECT_FALSE(fs::exists(present));
    EXPECT_EQ(DOSFunc(3, "", root.string()), 0);  // a directory is not removed
    EXPECT_TRUE(fs::exists(root));
    EXPECT_TRUE(headless.shown.empty());
}

TEST_F(AccessFiles, RemovingByMaskIgnoresLetterCase) {
    const fs::path dir = root / "work";
    fs::create_directories(dir);
    for (const char* n : {"a.tmp", "B.TMP", "c.Tmp", "keep.txt", "tmp"}) std::ofstream(dir / n) << n;
    EXPECT_EQ(DOSFunc(4, dir.string(), "*.TMP"), 1);
    EXPECT_FALSE(fs::exists(dir / "a.tmp"));
    EXPECT_FALSE(fs::exists(dir / "B.TMP"));
    EXPECT_FALSE(fs::exists(dir / "c.Tmp"));
    EXPECT_TRUE(fs::exists(dir / "keep.txt"));
    EXPECT_TRUE(fs::exists(dir / "tmp"));
    EXPECT_TRUE(headless.shown.empty());
}

TEST_F(AccessFiles, ExistenceByNameOrMask) {
    const fs::path dir = root / "look";
    fs::create_directories(dir);
    std::ofstream(dir / "Msg01.txt") << "x";
    EXPECT_EQ(DOSFunc(5, "", (dir / "MSG??.TXT").string()), 1);
    EXPECT_EQ(DOSFunc(5, "", (dir / "msg01.txt").string()), 1);
    EXPECT_EQ(DOSFunc(5, "", (dir / "MSG?.TXT").string()), 0);
    EXPECT_EQ(DOSFunc(5, "", (dir / "*.dat").string()), 0);
    EXPECT_EQ(DOSFunc(9, "", (dir / "*.*").string()), 0);
}

TEST(AccessMask, WildcardsMatchAsFileMasks) {
    EXPECT_TRUE(fileMaskMatches("*.*", "name.ext"));
    EXPECT_TRUE(fileMaskMatches("*.*", "name"));
    EXPECT_TRUE(fileMaskMatches("IDX0??.TPS", "idx032.tps"));
    EXPECT_FALSE(fileMaskMatches("IDX0??.TPS", "idx32.tps"));
    EXPECT_TRUE(fileMaskMatches("a*b*c", "aXXbYYc"));
    EXPECT_FALSE(fileMaskMatches("a*b*c", "aXXbYY"));
    EXPECT_TRUE(fileMaskMatches("*", ""));
    EXPECT_FALSE(fileMaskMatches("?", ""));
    EXPECT_FALSE(fileMaskMatches("*.txt", "a.txt.bak"));
}
