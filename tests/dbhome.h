// A throw-away installation for the tests of persons and the store step: program,
// data and temporary directories, the engine directory and one database
// directory F1 as the active database.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "tests/testutil.h"

namespace qb::testing {

class DbHome : public ::testing::Test {
protected:
    TempDir home;
    HeadlessUi headless;

    void SetUp() override {
        namespace fs = std::filesystem;
        fs::create_directories(fs::path(home.path) / "net" / "CFG");
        fs::create_directories(fs::path(home.path) / "data" / "F1");
        fs::create_directories(fs::path(home.path) / "tmp");
        Mem = MemGlobals{};
        Mem.Net = home.path + "/net";
        Mem.FileDir = home.path + "/data";
        Mem.TempDir = home.path + "/tmp";
        Mem.Dirnamn = "F1";
        Mem.ForumNumber = 0;
        MasIdxPath = Mem.FileDir;
        setEngineDirectory(home.path + "/net/CFG");
        setUi(&headless);
    }
    void TearDown() override {
        if (inTransaction()) rollbackTransaction();
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        closeAllTables();
        setUi(nullptr);
        Mem = MemGlobals{};
    }

    void open(std::initializer_list<int> numbers) {
        for (int n : numbers) {
            OP_CLOSE(OpOpenShared, n);
            ASSERT_TRUE(tableByNumber(n)->isOpen()) << n;
        }
    }

    // Rows of a table in key order, counted.
    static int64_t rows(Table& t) { return t.records(); }

    // A Forums row of the configuration.
    void addForumsRow(uint32_t id, const std::string& name, uint8_t type, uint32_t dir, const std::string& address = "",
                      std::initializer_list<const char*> alts = {}, uint32_t personId = 0) {
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = id;
        FOR.DESCRIPTION = name;
        FOR.TYPE = type;
        FOR.DIRNUMBER = dir;
        FOR.MAILADDRESS = address;
        FOR.PERSONID = personId;
        int i = 0;
        for (const char* a : alts) FOR.ALTADDRESS[i++] = a;
        ASSERT_TRUE(Forums.add()) << errorText();
        OP_CLOSE(OpClose, Forums.number());
    }
};

} // namespace qb::testing
