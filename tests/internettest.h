// A pre-import run of one reader into the temporary import file, for the
// tests of the Internet mail and news readers.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/parser.h"
#include "tests/enginereset.h"
#include "tests/testutil.h"

namespace qb {

struct TempRecord {
    NewHRRec h;
    std::string text;
    std::string heading() const { return h.HEADING.str(); }
};

struct TempIdRow {
    std::string id;
    uint32_t number;
};


class ReaderRun : public ::testing::Test {
protected:
    static constexpr uint32_t MailDbId = 250001;

    void SetUp() override {
        namespace fs = std::filesystem;
        fs::create_directories(fs::path(dir.path) / "net" / "CFG");
        fs::create_directories(fs::path(dir.path) / "data");
        fs::create_directories(fs::path(dir.path) / "tmp");
        Mem = MemGlobals{};
        Mem.Net = dir.path + "/net";
        Mem.FileDir = dir.path + "/data";
        Mem.TempDir = dir.path + "/tmp";
        MasIdxPath = Mem.FileDir;
        setEngineDirectory(dir.path + "/net/CFG");
        setUi(&ui);
        OP_CLOSE(OpOpenShared, Forums.number());
        addDatabase(MailDbId, "My Mail", 2, 1, "Me@Home.Example", {"me@work.example"});
    }
    void TearDown() override {
        ctx.closeTemporary();
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        closeAllTables();
        setUi(nullptr);
        Mem = MemGlobals{};
    }

    void addDatabase(uint32_t id, const std::string& name, uint8_t type, uint32_t dirNr,
                     const std::string& address = {}, std::vector<std::string> alt = {}) {
        Forums.clearBuffer();
        FOR.ID = id;
        FOR.DESCRIPTION.set(name);
        FOR.TYPE = type;
        FOR.DIRNUMBER = dirNr;
        FOR.MAILADDRESS.set(address);
        for (size_t i = 0; i < alt.size() && i < 10; ++i) FOR.ALTADDRESS[i].set(alt[i]);
        ASSERT_TRUE(Forums.add()) << errorText();
    }

    // Runs the reader over the file; false when it did not reach Done.
    bool run(const std::string& reader, const std::string& path, uint8_t kind = KindMail, int batch = 50) {
        ctx = ImportContext{};
        ctx.settings.reader = reader;
        ctx.settings.messageKind = kind;
        ctx.settings.mailDb = MailDbId;
        ctx.nextId = 300000;
        ctx.loadTargets();
        if (!ctx.openTemporary()) return false;
        auto p = makeParser(reader);
        if (!p) return false;
        ParseStatus st = p->begin(path, ctx);
        steps = 0;
        while (st == ParseStatus::More) {
            st = p->step(ctx, batch);
            ++steps;
        }
        status = st;
        ctx.buildTemporaryKeys();
        return st == ParseStatus::Done;
    }

    bool runText(const std::string& reader, const std::string& content, uint8_t kind = KindMail) {
        std::string path = dir.path + "/input.txt";
        writeFile(path, content);
        return run(reader, path, kind);
    }

    // The temporary records in the order they were written.
    std::vector<TempRecord> records() {
        std::vector<TempRecord> v;
        NewHR.setFile();
        while (NewHR.next()) v.push_back({NHR, NHR_MSGTEXT});
        return v;
    }

    std::vector<TempIdRow> tempIds() {
        std::vector<TempIdRow> v;
        TempID.setFile();
        while (TempID.next()) v.push_back({TID.IDSTRING.str(), TID.MSGNUMBER});
        return v;
    }

    TempDir dir;
    HeadlessUi ui;
    ImportContext ctx;
    ParseStatus status = ParseStatus::Failed;
    int steps = 0;
};

} // namespace qb

// ---------------------------------------------------------------------------
// A whole import run (pre-import and import pass) in a fresh home.
#include "app/commands.h"
#include "core/registry.h"
#include "import/maildb.h"
#include "import/pipeline.h"

namespace qb {

class WholeImport : public ::testing::Test {
protected:
    void SetUp() override {
        Mem = MemGlobals{};
        startHeadless(home.path);
        setUi(&ui);
        std::string error;
        mailDb = addMailDatabase("Owner Mail", "owner@example.org", {}, &error);
        ASSERT_NE(mailDb, 0u) << error;
    }
    void TearDown() override {
        if (inTransaction()) rollbackTransaction();
        qb::testing::resetEngine();
    }
    // A newsgroup database that exists before the run.
    void addNewsgroup(uint32_t id, const std::string& name, uint32_t dirNr) {
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = id;
        FOR.DESCRIPTION.set(name);
        FOR.DIRNUMBER = dirNr;
        FOR.TYPE = 3;
        ASSERT_TRUE(Forums.add()) << errorText();
        OP_CLOSE(OpClose, Forums.number());
        std::filesystem::create_directories(std::filesystem::path(Mem.FileDir) / ("F" + std::to_string(dirNr)));
    }
    // Runs the import of one file to its end.
    ImportTotals import(const std::string& reader, uint8_t kind, const std::string& path) {
        ImportSettings s;
        s.reader = reader;
        s.messageKind = kind;
        s.mailDb = mailDb;
        s.method = 2;
        ImportRun run(s, {path});
        while (run.step()) {
        }
        failed = run.failed();
        return run.totals();
    }
    // (FOR:ID, description) of the databases of a kind.
    std::vector<std::pair<uint32_t, std::string>> databases(uint8_t type) {
        std::vector<std::pair<uint32_t, std::string>> v;
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.set(FOR_ForumKey);
        while (Forums.next())
            if (FOR.TYPE == type) v.emplace_back(FOR.ID, FOR.DESCRIPTION.str());
        OP_CLOSE(OpClose, Forums.number());
        return v;
    }

    TempDir home;
    HeadlessUi ui;
    uint32_t mailDb = 0;
    bool failed = false;
};

} // namespace qb
