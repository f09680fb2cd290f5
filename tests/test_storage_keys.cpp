// Appends and key builds while other tables of the same transaction are being
// read: the readers go on where they were.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

TEST(StorageKeys, AppendAndBuildWhileAnotherTableIsRead) {
    TempDir home;
    HeadlessUi h;
    setUi(&h);
    Mem = MemGlobals{};
    Mem.Net = home.path;
    Mem.FileDir = home.path;
    Mem.TempDir = home.path;
    Mem.Dirnamn = "F1";
    fs::create_directories(home.path + "/CFG");
    fs::create_directories(home.path + "/F1");
    setEngineDirectory(home.path + "/CFG");

    OP_CLOSE(OpOpenShared, Threads.number(), SavedMsg.number());
    for (uint32_t i = 1; i <= 5; ++i) {
        Threads.clearBuffer();
        THR.THREADNUMBER = i;
        THR.SECSYSID = 1;
        THR.setHeading("Heading");
        ASSERT_TRUE(Threads.add());
    }
    ASSERT_TRUE(beginTransaction({&Threads, &SavedMsg}));
    Threads.set(THR_ThreadKey);
    ASSERT_TRUE(Threads.next());
    EXPECT_EQ(THR.THREADNUMBER, 1u);

    // The first append drops the saved-message key; a read under way must not stop it.
    IMP.FORUMNUMBER = 9;
    IMP.MSGNUMBER = 1;
    EXPECT_TRUE(SavedMsg.append()) << errorText();
    ASSERT_TRUE(Threads.next());
    EXPECT_EQ(THR.THREADNUMBER, 2u);

    IMP.MSGNUMBER = 2;
    EXPECT_TRUE(SavedMsg.append());
    EXPECT_TRUE(SavedMsg.build()) << errorText();
    ASSERT_TRUE(Threads.next());
    EXPECT_EQ(THR.THREADNUMBER, 3u);
    EXPECT_TRUE(commitTransaction());

    IMP.FORUMNUMBER = 9;
    IMP.MSGNUMBER = 2;
    EXPECT_TRUE(SavedMsg.get(IMP_IDKEY));
    EXPECT_EQ(SavedMsg.records(), 2);
    closeAllTables();
    for (int n : {Threads.number(), SavedMsg.number()}) OP_CLOSE(OpForceClose, n);
    setUi(nullptr);
    Mem = MemGlobals{};
}
