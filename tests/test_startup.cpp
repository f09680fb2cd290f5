// The start-up sequence: directories, settings, version handling, and the
// program's start without a command.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/startup.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

class StartupTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string home;
    HeadlessUi headless;

    void SetUp() override {
        home = dir.path + "/home";
        Mem = MemGlobals{};
        setUi(&headless);
    }
    void TearDown() override {
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        setUi(nullptr);
        registerSemaFore(206, nullptr);
    }
    // A start, then the settings as a next start would find them.
    StartupResult start(StartupOptions o = {}) {
        headless.shown.clear();
        return startUp(home, o);
    }
    int32_t storedNumber(int loadMode, int item) {
        int32_t n = 0;
        std::string t;
        Konfig(loadMode, 0, n, t);
        return konfigNumber(item);
    }
    void setAndSave(int item, int32_t n) {
        std::string t;
        Konfig(2, item, n, t);
        ASSERT_EQ(Konfig(4, 0, n, t), 1);
    }
    void setPath(int item, const std::string& path) {
        std::string t = path;
        AutoPath(2, item, t);
        ASSERT_EQ(AutoPath(4, 0, t), 1);
    }
    std::vector<std::string> titles() const {
        std::vector<std::string> v;
        for (const auto& b : headless.shown) v.push_back(b.title);
        return v;
    }
};

TEST_F(StartupTest, FirstStartCreatesDirectoriesAndStoresTheVersion) {
    StartupResult r = start();
    ASSERT_TRUE(r.ok) << r.failure;
    EXPECT_TRUE(r.firstRun);
    EXPECT_FALSE(r.upgraded);
    EXPECT_FALSE(r.controlFileExisted);
    EXPECT_TRUE(headless.shown.empty());
    const std::string net = fs::canonical(home).string();
    EXPECT_EQ(Mem.Net, net);
    EXPECT_EQ(Mem.FileDir, net);
    EXPECT_EQ(Mem.TempDir, net + "/TEMP");
    EXPECT_EQ(MasIdxPath, net);
    EXPECT_TRUE(fs::is_directory(net + "/CFG"));
    EXPECT_TRUE(fs::is_directory(net + "/TEMP"));
    EXPECT_TRUE(fs::exists(net + "/CFG/IDX008.TPS"));
    EXPECT_EQ(helpFile(), net + "/QUILLBOX.HLP");
    EXPECT_EQ(storedNumber(1, 11), ProgramVersion);

    r = start();
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.firstRun);
    EXPECT_FALSE(r.upgraded);
    EXPECT_TRUE(r.controlFileExisted);
    EXPECT_TRUE(headless.shown.empty());
}

TEST_F(StartupTest, OldVersionResetsWindowsAndColumnsAndSaysSo) {
    ASSERT_TRUE(start().ok);
    int16_t dx, dy, dw, dh;
    WindowPos(3, 4, dx, dy, dw, dh);
    std::vector<int16_t> defaults;
    ListCol(3, 2, defaults);

    int16_t x = 11, y = 12, w = 333, h = 222;
    WindowPos(2, 4, x, y, w, h);
    WindowPos(4, 0, x, y, w, h);
    WindowPos2(2, 4, x, y, w, h);
    WindowPos2(4, 0, x, y, w, h);
    std::vector<int16_t> mine = {50, 60, 70, 80, 90};
    ListCol(2, 2, mine);
    ListCol(4, 0, mine);
    setAndSave(11, 389);

    StartupResult r = start();
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.upgraded);
    EXPECT_FALSE(r.firstRun);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, "Upgrading to version 3.91");
    EXPECT_EQ(headless.shown[0].text,
              "This new version needs new default values! All window positions, window sizes and list box column "
              "widths will be reset to default!");
    // Reset in memory and in the stored rows.
    WindowPos(1, 0, x, y, w, h);
    WindowPos(3, 4, x, y, w, h);
    EXPECT_EQ(x, dx);
    EXPECT_EQ(w, dw);
    WindowPos2(1, 0, x, y, w, h);
    WindowPos2(3, 4, x, y, w, h);
    EXPECT_NE(w, 333);
    ListCol(1, 0, mine);
    ListCol(3, 2, mine);
    EXPECT_EQ(mine, defaults);
    EXPECT_EQ(storedNumber(1, 11), ProgramVersion);
}

TEST_F(StartupTest, Version390KeepsTheLayout) {
    ASSERT_TRUE(start().ok);
    int16_t x = 11, y = 12, w = 333, h = 222;
    WindowPos(2, 4, x, y, w, h);
    WindowPos(4, 0, x, y, w, h);
    setAndSave(11, 390);
    StartupResult r = start();
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.upgraded);
    EXPECT_TRUE(headless.shown.empty());
    WindowPos(3, 4, x, y, w, h);
    EXPECT_EQ(w, 333);
    EXPECT_EQ(storedNumber(1, 11), ProgramVersion);
}

TEST_F(StartupTest, MissingDataDirectoryKeepsTheProgramDirectoryAfterOneMessage) {
    ASSERT_TRUE(start().ok);
    const std::string gone = dir.path + "/nowhere/data";
    setPath(18, gone);
    StartupResult r = start();
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, "Path not found!");
    EXPECT_NE(headless.shown[0].text.find("The path to the data files cannot be found!"), std::string::npos);
    EXPECT_NE(headless.shown[0].text.find(gone), std::string::npos);
    EXPECT_EQ(Mem.FileDir, Mem.Net);
    EXPECT_EQ(MasIdxPath, Mem.Net);
}

TEST_F(StartupTest, ConfiguredDirectoriesAreUsed) {
    ASSERT_TRUE(start().ok);
    const std::string data = dir.path + "/data";
    const std::string temp = dir.path + "/scratch";  // created on start
    const std::string words = dir.path + "/words";
    fs::create_directories(data);
    fs::create_directories(words);
    setPath(18, data + "/");
    setPath(17, temp);
    int32_t n = 0;
    std::string t = words;
    WSVars(2, WS_IndexRoot, n, t);
    ASSERT_EQ(WSVars(4, 0, n, t), 1);

    StartupResult r = start();
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(headless.shown.empty());
    EXPECT_EQ(Mem.FileDir, data);
    EXPECT_EQ(Mem.TempDir, temp);
    EXPECT_TRUE(fs::is_directory(temp));
    EXPECT_EQ(MasIdxPath, words);

    fs::remove_all(words);
    r = start();
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_NE(headless.shown[0].text.find("word indexing files"), std::string::npos);
    EXPECT_EQ(MasIdxPath, data);
}

TEST_F(StartupTest, RelativeTemporaryDirectoryFallsBackToTheDefault) {
    ASSERT_TRUE(start().ok);
    setPath(17, "TEMPDIR");
    ASSERT_TRUE(start().ok);
    EXPECT_EQ(Mem.TempDir, Mem.Net + "/TEMP");
}

TEST_F(StartupTest, LastDatabaseAndDueTasksOnlyWhenAsked) {
    ASSERT_TRUE(start().ok);
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = 250500;
    FOR.DIRNUMBER = 3;
    FOR.TYPE = 3;
    FOR.DESCRIPTION = "comp.os.linux";
    ASSERT_TRUE(Forums.add());
    OP_CLOSE(OpClose, Forums.number());
    setAndSave(6, 250500);

    int checks = 0;
    registerSemaFore(206, [&] { ++checks; return 1; });
    ASSERT_TRUE(start().ok);
    EXPECT_EQ(Mem.ForumNumber, 0u);
    EXPECT_EQ(checks, 0);

    StartupOptions gui;
    gui.openLastDatabase = true;
    gui.checkTasks = true;
    ASSERT_TRUE(start(gui).ok);
    EXPECT_EQ(Mem.ForumNumber, 250500u);
    EXPECT_EQ(Mem.ForumType, 3);
    EXPECT_EQ(Mem.Dirnamn, "F3");
    EXPECT_EQ(checks, 1);

    // A remembered database that is gone leaves none active.
    setAndSave(6, 999999);
    ASSERT_TRUE(start(gui).ok);
    EXPECT_EQ(Mem.ForumNumber, 0u);
}

TEST_F(StartupTest, HeadlessCommandsRunTheSameStart) {
    startHeadless(home);
    const std::string net = fs::canonical(home).string();
    EXPECT_EQ(Mem.Net, net);
    EXPECT_TRUE(fs::exists(net + "/CFG/IDX008.TPS"));
    EXPECT_EQ(storedNumber(1, 11), ProgramVersion);
    EXPECT_EQ(NextNr(), FirstId);
    OP_CLOSE(OpClose, Control.number());

    writeFile(dir.path + "/file", "x");
    EXPECT_THROW(startHeadless(dir.path + "/file"), std::runtime_error);
}

std::string run(const std::string& command, int& status) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int rc = ::pclose(p);
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

TEST_F(StartupTest, ProgramWithoutDisplaySaysSoAndFails) {
    int status = 0;
    const std::string env = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
    std::string out = run(env + QBOX_BIN " --home " + home + " 2>&1", status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("no display"), std::string::npos) << out;

    out = run(env + QBOX_BIN " --home " + home + " version", status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, std::string("Quillbox ") + QB_VERSION + "\nhome\t" + home + "\n");
}

} // namespace
