// The control record: ID generator, settings groups and their storage rows,
// window positions, list columns, and the small shared services.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    TempDir dir;
    HeadlessUi headless;

    void SetUp() override {
        Mem = MemGlobals{};
        Mem.Net = dir.path;
        Mem.FileDir = dir.path;
        Mem.TempDir = dir.path + "/TEMP";
        MasIdxPath = dir.path;
        fs::create_directories(dir.path + "/CFG");
        setEngineDirectory(dir.path + "/CFG");
        setUi(&headless);
    }
    void TearDown() override {
        if (inTransaction()) rollbackTransaction();
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        registerWordTableStore(nullptr, nullptr);
        setUi(nullptr);
    }

    // Row values as stored, read past the settings functions.
    uint32_t storedCounter() {
        OP_CLOSE(OpOpenShared, Control.number());
        Control.clearBuffer();
        CTL.ID = 1;
        uint32_t n = Control.get(CTL_IdKey) ? CTL.NEXTNUMBER : 0;
        OP_CLOSE(OpClose, Control.number());
        return n;
    }
    void storeCounter(uint32_t value) {
        OP_CLOSE(OpOpenShared, Control.number());
        Control.clearBuffer();
        CTL.ID = 1;
        ASSERT_TRUE(Control.get(CTL_IdKey));
        CTL.NEXTNUMBER = value;
        ASSERT_TRUE(Control.put());
        OP_CLOSE(OpClose, Control.number());
    }
    int32_t get(int mode, int item) {
        int32_t n = -1;
        std::string t;
        Konfig(mode, item, n, t);
        return n;
    }
    void set(int mode, int item, int32_t n, std::string t = {}) { ASSERT_EQ(Konfig(mode, item, n, t), 1); }
    int load(int mode) {
        int32_t n = 0;
        std::string t;
        return Konfig(mode, 0, n, t);
    }
    bool shown(const std::string& title) const {
        for (const auto& b : headless.shown)
            if (b.title == title) return true;
        return false;
    }
};

// ---- IDs -------------------------------------------------------------------------

TEST_F(SettingsTest, FirstIdOfNewInstallationIs250000AndCountsUp) {
    ASSERT_EQ(load(1), 1);
    EXPECT_EQ(NextNr(), 250000u);
    EXPECT_EQ(NextNr(), 250001u);
    OP_CLOSE(OpClose, Control.number());  // NextNr left it open for the caller
    EXPECT_EQ(storedCounter(), 250002u);
}

TEST_F(SettingsTest, NoIdIsDrawnWhileAnImportHoldsTheControlFileLocked) {
    EXPECT_EQ(NextNr(), 250000u);
    // Locked here (an import of this process hands out its own block).
    ASSERT_TRUE(Control.lock(1));
    headless.shown.clear();
    EXPECT_EQ(NextNr(), 0u);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_NE(headless.shown.back().text.find("Next ID cannot be generated!"), std::string::npos);
    Control.unlock();
    EXPECT_EQ(NextNr(), 250001u);

    // Locked by another process.
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t pid = fork();
    if (pid == 0) {
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        OP_CLOSE(OpOpenShared, Control.number());
        char c = Control.lock(1) ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1) _exit(2);
        if (read(done[0], &c, 1) < 0) _exit(3);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_EQ(NextNr(), 0u);
    if (write(done[1], &c, 1) != 1) ADD_FAILURE();
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(NextNr(), 250002u);  // the lock went with the process
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

TEST_F(SettingsTest, NoIdBelow250000EvenWithoutLoadingGroupA) {
    EXPECT_EQ(NextNr(), 250000u);
    OP_CLOSE(OpClose, Control.number());
    storeCounter(17);
    EXPECT_EQ(NextNr(), 250000u);
    OP_CLOSE(OpClose, Control.number());
}

TEST_F(SettingsTest, LoadingGroupARaisesLowCounterAndKeepsHighOne) {
    ASSERT_EQ(load(1), 1);
    storeCounter(1000);
    ASSERT_EQ(load(1), 1);
    EXPECT_EQ(storedCounter(), 250000u);
    storeCounter(300123);
    ASSERT_EQ(load(1), 1);
    EXPECT_EQ(storedCounter(), 300123u);
    EXPECT_EQ(NextNr(), 300123u);
    OP_CLOSE(OpClose, Control.number());
}

TEST_F(SettingsTest, SavingGroupAKeepsTheCounter) {
    ASSERT_EQ(load(1), 1);
    NextNr();
    NextNr();
    OP_CLOSE(OpClose, Control.number());
    set(2, 12, 5);
    int32_t n = 0;
    std::string t;
    ASSERT_EQ(Konfig(4, 0, n, t), 1);
    EXPECT_EQ(storedCounter(), 250002u);
}

// ---- Groups A, B, C ------------------------------------------------------------------

TEST_F(SettingsTest, GroupADefaultsAndRoundTrip) {
    ASSERT_EQ(load(1), 1);
    EXPECT_EQ(get(3, 3), 15);
    EXPECT_EQ(get(3, 13), 7);

    set(2, 6, 250777);
    set(2, 14, 0, "/home/user/import files");
    set(2, 3, 0);  // zero is stored, and becomes the default on the next load
    int32_t n = 0;
    std::string t;
    ASSERT_EQ(Konfig(4, 0, n, t), 1);
    // What is in memory is not what is read back: change it, then load.
    set(2, 6, 1);
    set(2, 14, 0, "changed");
    ASSERT_EQ(load(1), 1);
    EXPECT_EQ(get(3, 6), 250777);
    EXPECT_EQ(konfigString(14), "/home/user/import files");
    EXPECT_EQ(get(3, 3), 15);
}

TEST_F(SettingsTest, UnknownItemStopsGroupsAAndCButIsIgnoredByB) {
    ASSERT_EQ(load(1), 1);
    ASSERT_EQ(load(6), 1);
    int32_t n = 5;
    std::string t;
    EXPECT_THROW(Konfig(2, 99, n, t), ProgramStop);
    EXPECT_THROW(Konfig(3, 22, n, t), ProgramStop);  // a group B item is not in A
    EXPECT_THROW(Konfig(25, 60, n, t), ProgramStop);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_EQ(headless.shown.back().text, "Internal Error - invalid xType");

    n = 5;
    EXPECT_EQ(Konfig(7, 31, n, t), 1);
    EXPECT_EQ(Konfig(8, 31, n, t), 1);
    EXPECT_EQ(n, 5);
}

TEST_F(SettingsTest, GroupBFontsTakeNameAndSize) {
    ASSERT_EQ(load(6), 1);
    EXPECT_EQ(get(8, 23), 12632256);
    set(7, 34, 11, "Courier New");
    set(7, 35, 9, "");  // an empty name comes back as the default font
    int32_t n = 0;
    std::string t;
    ASSERT_EQ(Konfig(9, 0, n, t), 1);
    ASSERT_EQ(load(6), 1);
    int32_t size = 0;
    std::string name;
    Konfig(8, 34, size, name);
    EXPECT_EQ(name, "Courier New");
    EXPECT_EQ(size, 11);
    Konfig(8, 35, size, name);
    EXPECT_EQ(name, "Arial");
    EXPECT_EQ(size, 8);
}

TEST_F(SettingsTest, GroupCLivesInItsOwnRowBesideTheWordTables) {
    // The word-character tables fill rows 11-16 completely.
    uint8_t pattern[200];
    for (int i = 0; i < 200; ++i) pattern[i] = static_cast<uint8_t>(i * 7 + 1);
    for (int row = CtlRowWordTablesFirst; row <= CtlRowWordTablesLast; ++row)
        ASSERT_EQ(writeControlArea(row, pattern), 1);

    ASSERT_EQ(load(23), 1);
    EXPECT_EQ(get(25, 61), 1);
    EXPECT_EQ(get(25, 62), 1);
    EXPECT_EQ(get(25, 63), 3);
    set(24, 63, 2);
    int32_t n = 0;
    std::string t;
    ASSERT_EQ(Konfig(26, 0, n, t), 1);
    set(24, 63, 9);
    ASSERT_EQ(load(23), 1);
    EXPECT_EQ(get(25, 63), 2);

    for (int row = CtlRowWordTablesFirst; row <= CtlRowWordTablesLast; ++row) {
        uint8_t back[200] = {};
        ASSERT_EQ(readControlArea(row, back), 1);
        EXPECT_EQ(std::memcmp(back, pattern, 200), 0) << "row " << row;
    }
    uint8_t none[200];
    EXPECT_EQ(readControlArea(99, none), 2);
}

TEST_F(SettingsTest, UnreadableControlFileIsFatalAndGivesZero) {
    ASSERT_EQ(load(1), 1);
    // Control stays open while another program ruins its file.
    OP_CLOSE(OpOpenShared, Control.number());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path + "/CFG/IDX008.TPS").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE r", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    headless.shown.clear();
    EXPECT_EQ(load(6), 0);
    ASSERT_FALSE(headless.shown.empty());
    EXPECT_EQ(headless.shown.back().title, "Fatal Error!");
    EXPECT_EQ(headless.shown.back().text, "The control file is not available - no access to application!");
    uint8_t area[200];
    EXPECT_EQ(readControlArea(CtlRowGroupB, area), 0);
    OP_CLOSE(OpClose, Control.number());
}

// ---- Directories and word-index settings ---------------------------------------------

TEST_F(SettingsTest, AutoPathDefaultsFollowTheProgramDirectory) {
    std::string s;
    ASSERT_EQ(AutoPath(1, 0, s), 1);
    AutoPath(3, 17, s);
    EXPECT_EQ(s, dir.path + "/TEMP");
    AutoPath(3, 18, s);
    EXPECT_EQ(s, dir.path);

    s = "/srv/quillbox/data";
    AutoPath(2, 18, s);
    ASSERT_EQ(AutoPath(4, 0, s), 1);
    s = "/elsewhere";
    AutoPath(2, 18, s);
    ASSERT_EQ(AutoPath(1, 0, s), 1);
    AutoPath(3, 18, s);
    EXPECT_EQ(s, "/srv/quillbox/data");
    EXPECT_THROW(AutoPath(3, 16, s), ProgramStop);
}

TEST_F(SettingsTest, WSVarsDefaultsRoundTripAndBlankNumbers) {
    int32_t n = 0;
    std::string t;
    ASSERT_EQ(WSVars(1, 0, n, t), 1);
    EXPECT_EQ(wsvarsNumber(WS_SearchPauseCount), 10000);
    EXPECT_EQ(wsvarsNumber(WS_AutoStopMail), 1);
    EXPECT_EQ(wsvarsIndexRoot(), Mem.FileDir);

    n = 0;
    WSVars(2, WS_IndexNumbers, n, t);
    n = 2500;
    WSVars(2, WS_SearchPauseCount, n, t);
    t = "/var/index";
    WSVars(2, WS_IndexRoot, n, t);
    ASSERT_EQ(WSVars(4, 0, n, t), 1);
    n = 77;
    WSVars(2, WS_SearchPauseCount, n, t);
    ASSERT_EQ(WSVars(1, 0, n, t), 1);
    EXPECT_EQ(wsvarsNumber(WS_IndexNumbers), 0);
    EXPECT_EQ(wsvarsNumber(WS_SearchPauseCount), 2500);
    WSVars(3, WS_IndexRoot, n, t);
    EXPECT_EQ(t, "/var/index");

    // A record whose numbers byte is a blank gets the default numbers back.
    uint8_t area[200];
    ASSERT_EQ(readControlArea(CtlRowWordSettings, area), 1);
    area[100] = ' ';
    ASSERT_EQ(writeControlArea(CtlRowWordSettings, area), 1);
    ASSERT_EQ(WSVars(1, 0, n, t), 1);
    EXPECT_EQ(wsvarsNumber(WS_IndexNumbers), 1);
    EXPECT_EQ(wsvarsNumber(WS_SearchPauseCount), 10000);
    EXPECT_EQ(wsvarsIndexRoot(), "/var/index");

    EXPECT_THROW(WSVars(3, 45, n, t), ProgramStop);
}

TEST_F(SettingsTest, WSVarsLoadsAndSavesTheWordTablesThroughTheirOwner) {
    int loads = 0, saves = 0;
    registerWordTableStore([&] { ++loads; return 1; }, [&] { ++saves; return 1; });
    int32_t n = 0;
    std::string t;
    ASSERT_EQ(WSVars(1, 0, n, t), 1);
    ASSERT_EQ(WSVars(4, 0, n, t), 1);
    EXPECT_EQ(loads, 1);
    EXPECT_EQ(saves, 1);
    registerWordTableStore([] { return 0; }, [] { return 0; });
    EXPECT_EQ(WSVars(1, 0, n, t), 0);
    EXPECT_EQ(WSVars(4, 0, n, t), 0);
}

// ---- Window positions and list columns ---------------------------------------------

TEST_F(SettingsTest, WindowValueOf2000OrMoreIsNotStored) {
    int16_t x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(WindowPos(1, 0, x, y, w, h), 1);
    x = 10, y = 20, w = 300, h = 200;
    WindowPos(2, 5, x, y, w, h);
    x = 2000, y = 1999, w = 2500, h = -5;
    WindowPos(2, 5, x, y, w, h);
    WindowPos(3, 5, x, y, w, h);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 1999);
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, -5);

    ASSERT_EQ(WindowPos(4, 0, x, y, w, h), 1);
    x = 1, y = 1, w = 1, h = 1;
    WindowPos(2, 5, x, y, w, h);
    ASSERT_EQ(WindowPos(1, 0, x, y, w, h), 1);
    WindowPos(3, 5, x, y, w, h);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(h, -5);
    // The other set has its own rows.
    ASSERT_EQ(WindowPos2(1, 0, x, y, w, h), 1);
    WindowPos2(3, 5, x, y, w, h);
    EXPECT_NE(x, 10);

    // Reset to the defaults.
    int16_t dx, dy, dw, dh;
    WindowPos(5, 0, x, y, w, h);
    WindowPos(3, 5, dx, dy, dw, dh);
    EXPECT_EQ(dx, x);
    EXPECT_EQ(dw, w);
    EXPECT_GT(dw, 0);
    EXPECT_THROW(WindowPos(3, 26, x, y, w, h), ProgramStop);
    EXPECT_THROW(WindowPos(2, 0, x, y, w, h), ProgramStop);
}

TEST_F(SettingsTest, ListColumnsRoundTripAndReset) {
    std::vector<int16_t> v;
    ASSERT_EQ(ListCol(1, 0, v), 1);
    ListCol(3, 20, v);
    const std::vector<int16_t> factory = v;
    ASSERT_EQ(v.size(), 5u);

    std::vector<int16_t> mine = {120, 80, 60};
    ListCol(2, 20, mine);
    std::vector<int16_t> other = {1, 2, 3, 4, 5};
    ListCol(2, 1, other);
    ASSERT_EQ(ListCol(4, 0, v), 1);
    mine = {9, 9, 9, 9, 9};
    ListCol(2, 20, mine);
    ASSERT_EQ(ListCol(1, 0, v), 1);
    ListCol(3, 20, v);
    EXPECT_EQ(v, (std::vector<int16_t>{120, 80, 60, factory[3], factory[4]}));
    ListCol(3, 1, v);
    EXPECT_EQ(v, other);

    ListCol(5, 0, v);
    ListCol(3, 20, v);
    EXPECT_EQ(v, factory);
    EXPECT_THROW(ListCol(3, 21, v), ProgramStop);
}

// ---- The self-description -------------------------------------------------------------

TEST_F(SettingsTest, UpdREFWritesOneRecordAndCopiesAddressesUpToTheFirstGap) {
    Mem.Dirnamn = "";
    FOR.TYPE = 1;
    EXPECT_EQ(UpdREF(7), 0);  // no active database: nothing written beside the databases
    EXPECT_FALSE(fs::exists(dir.path + "/IDX022.DAT"));
    Mem.Dirnamn = "F7";
    fs::create_directories(dir.path + "/F7");
    Forums.clearBuffer();
    FOR.TYPE = 2;
    FOR.DESCRIPTION = "My mail";
    FOR.PERSONID = 250100;
    FOR.MAILADDRESS = "me@example.org";
    FOR.ALTADDRESS[0] = "alt1@example.org";
    FOR.ALTADDRESS[2] = "after-gap@example.org";
    ASSERT_EQ(UpdREF(7), 1);
    ASSERT_EQ(UpdREF(7), 1);
    FOR.DESCRIPTION = "Renamed mail";
    ASSERT_EQ(UpdREF(7), 1);

    OP_CLOSE(OpOpenShared, ForumRef.number());
    EXPECT_EQ(ForumRef.records(), 1);
    ForumRef.setFile();
    ASSERT_TRUE(ForumRef.next());
    EXPECT_EQ(REF.TYPE, 2);
    EXPECT_EQ(REF.DESCRIPTION.str(), "Renamed mail");
    EXPECT_EQ(REF.PERSONID, 250100);
    EXPECT_EQ(REF.MAILADDRESS.str(), "me@example.org");
    EXPECT_EQ(REF.ALTADDRESS[0].str(), "alt1@example.org");
    EXPECT_TRUE(REF.ALTADDRESS[2].empty());
    OP_CLOSE(OpClose, ForumRef.number());

    // A forum carries no mail identity.
    FOR.TYPE = 1;
    ASSERT_EQ(UpdREF(7), 1);
    OP_CLOSE(OpOpenShared, ForumRef.number());
    ForumRef.setFile();
    ASSERT_TRUE(ForumRef.next());
    EXPECT_EQ(REF.PERSONID, 0);
    EXPECT_TRUE(REF.MAILADDRESS.empty());
    OP_CLOSE(OpClose, ForumRef.number());
}

// ---- Directories and file sizes --------------------------------------------------------

TEST_F(SettingsTest, ExistPathKindsAndMessages) {
    EXPECT_EQ(ExistPath(1, 0, "relative/dir", "msg", false), 0);
    EXPECT_EQ(ExistPath(1, 0, "C:\\old\\style", "msg", false), 0);
    EXPECT_TRUE(headless.shown.empty());

    EXPECT_EQ(ExistPath(1, 0, dir.path, "", false), 1);
    const std::string missing = dir.path + "/missing";
    EXPECT_EQ(ExistPath(1, 0, missing, "", true), 0);
    EXPECT_TRUE(headless.shown.empty());
    EXPECT_EQ(headless.beeps, 0);
    EXPECT_EQ(ExistPath(1, 0, missing + "/", "Check Preferences", false), 0);
    EXPECT_EQ(headless.beeps, 1);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, " Path Not Found");
    EXPECT_EQ(headless.shown[0].text, "The specified path " + missing + " does not exist.\r\nCheck Preferences");
    EXPECT_FALSE(fs::exists(missing));

    // Kind 3 creates one level; the result stays 0 until the next test.
    EXPECT_EQ(ExistPath(3, 0, missing, "", true), 0);
    EXPECT_TRUE(fs::is_directory(missing));
    EXPECT_EQ(ExistPath(3, 0, missing, "", true), 1);

    // Kind 4: the directory of a database table.
    Mem.Dirnamn = "F12";
    EXPECT_EQ(ExistPath(2, MsgNmbr.number(), "", "", true), 0);
    EXPECT_EQ(ExistPath(4, MsgNmbr.number(), "", "", true), 0);
    EXPECT_TRUE(fs::is_directory(dir.path + "/F12"));

    headless.shown.clear();
    try {
        ExistPath(3, 0, dir.path + "/a/b/c", "", true);
        FAIL() << "a directory two levels deep cannot be created";
    } catch (const ProgramStop& stop) {
        EXPECT_EQ(stop.haltText, "Probable access rights violation");
    }
    EXPECT_TRUE(shown(" Directory Creation Error"));
}

TEST_F(SettingsTest, GetFSizeAddsMatchingFilesOnly) {
    writeFile(dir.path + "/a.mbx", std::string(100, 'a'));
    writeFile(dir.path + "/b.MBX", std::string(23, 'b'));
    writeFile(dir.path + "/c.txt", std::string(7, 'c'));
    fs::create_directories(dir.path + "/d.mbx");
    EXPECT_EQ(GetFSize(dir.path + "/*.mbx"), 123u);
    EXPECT_EQ(GetFSize(dir.path + "/c.txt"), 7u);
    EXPECT_EQ(GetFSize(dir.path + "/*"), 130u);
    EXPECT_EQ(GetFSize(dir.path + "/*.none"), 0u);
    EXPECT_EQ(GetFSize(dir.path + "/nodir/*"), 0u);
    EXPECT_EQ(GetFSize(""), 0u);
}

// ---- Timing, scaling, batch sizes, locator, formats, procedures --------------------------

TEST(SettingsServices, StartStopElapsedSeconds) {
    const int32_t day = dayNumber(2024, 2, 28);
    StartStop(0, 0);
    EXPECT_EQ(StartStop(2, 3, day, clockTime(1, 0, 0)), 0);  // never started
    StartStop(1, 3, day, clockTime(23, 59, 0));
    EXPECT_EQ(StartStop(2, 3, day + 1, clockTime(0, 1, 0)), 120);
    StartStop(1, 4, day, clockTime(10, 0, 0, 50));
    EXPECT_EQ(StartStop(2, 4, day, clockTime(10, 1, 1, 49)), 60);
    EXPECT_EQ(StartStop(2, 4, day + 3, clockTime(10, 0, 0, 50)), 3 * 86400);
    EXPECT_EQ(StartStop(2, 4, day - 1, clockTime(10, 0, 0)), 0);  // clock set back
    StartStop(1, 20, day, clockTime(8, 0, 0));
    EXPECT_EQ(StartStop(2, 20, day, clockTime(8, 0, 5)), 5);
    StartStop(0, 0);
    EXPECT_EQ(StartStop(2, 20, day, clockTime(8, 0, 5)), 0);
}

TEST(SettingsServices, CalcMaxScalesToTheProgressRange) {
    struct Case {
        double value;
        int32_t divisor;
        int16_t scaled;
    } cases[] = {{100000, 4, 25000}, {32767, 1, 32767}, {32768, 2, 16384}, {0, 1, 0},
                 {65534, 2, 32767},  {65535, 3, 21845}, {5e9, 152593, 32766}};
    for (const Case& c : cases) {
        int32_t d = 0;
        int16_t s = 0;
        CalcMax(d, s, c.value);
        EXPECT_EQ(d, c.divisor) << c.value;
        EXPECT_EQ(s, c.scaled) << c.value;
        EXPECT_LE(c.value / d, 32767.0);
    }
}

TEST_F(SettingsTest, SpeedValTurnsStepsIntoBatchSizes) {
    ASSERT_EQ(load(6), 1);
    ASSERT_EQ(SpeedVal(2, 0), 1);
    EXPECT_EQ(SpeedVal(3, 27), 275);
    EXPECT_EQ(SpeedVal(3, 31), 25);
    set(7, 26, 1);
    set(7, 27, 9);  // not a step: the default size
    set(7, 30, 7);
    SpeedVal(2, 0);
    EXPECT_EQ(SpeedVal(3, 26), 50);
    EXPECT_EQ(SpeedVal(3, 27), 300);
    EXPECT_EQ(SpeedVal(3, 30), 100);
    EXPECT_EQ(SpeedVal(3, 31), 50);
    EXPECT_EQ(SpeedVal(3, 32), 0);
}

TEST_F(SettingsTest, LocatorExtendsWithinTheDelayAndRestartsAfterIt) {
    ASSERT_EQ(load(1), 1);
    std::string loc;
    int64_t t = 100000;
    ASSERT_EQ(IncrementStep('S', loc, t), 1);
    EXPECT_EQ(loc, "s");
    ASSERT_EQ(IncrementStep('M' + 256, loc, t += 150), 1);  // 1.5 s: extends
    EXPECT_EQ(loc, "sM");
    ASSERT_EQ(IncrementStep(32, loc, t += 10), 1);
    ASSERT_EQ(IncrementStep(97, loc, t += 10), 1);  // keypad 1
    EXPECT_EQ(loc, "sM 1");
    ASSERT_EQ(IncrementStep('J', loc, t += 160), 1);  // 1.6 s: starts anew
    EXPECT_EQ(loc, "j");

    // A key that does not count changes nothing.
    EXPECT_EQ(IncrementStep(13, loc, t += 10), 0);
    EXPECT_EQ(IncrementStep(200, loc, t += 10), 0);
    EXPECT_EQ(loc, "j");

    for (int i = 0; i < 15; ++i) IncrementStep('A' + i, loc, t += 20);
    EXPECT_EQ(loc, "jabcdefghi");

    // The delay comes from item 3; values above 35 count as 15.
    set(2, 3, 5);
    IncrementStep('X', loc, t += 1000);
    IncrementStep('Y', loc, t += 60);
    EXPECT_EQ(loc, "y");
    set(2, 3, 36);
    IncrementStep('X', loc, t += 1000);
    IncrementStep('Y', loc, t += 150);
    EXPECT_EQ(loc, "xy");

    // Over midnight.
    IncrementStep('P', loc, 8639990);
    IncrementStep('Q', loc, 50);
    EXPECT_EQ(loc, "pq");
}

TEST(SettingsServices, SemaForeDispatchesRegisteredCodes) {
    int calls = 0;
    registerSemaFore(9001, [&] { ++calls; return 7; });
    EXPECT_TRUE(semaForeAvailable(9001));
    EXPECT_EQ(SemaFore(9001), 7);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(semaForeAvailable(9002));
    EXPECT_EQ(SemaFore(9002), 0);
    registerSemaFore(9001, nullptr);
    EXPECT_FALSE(semaForeAvailable(9001));
    EXPECT_EQ(SemaFore(9001), 0);
    EXPECT_EQ(calls, 1);
}

} // namespace
