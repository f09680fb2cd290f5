// The pre-import of one reader's files into the temporary import file, for
// the tests of the CompuServe readers: a configuration with one mail
// database and one forum database, and the records that came out.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/parser.h"
#include "tests/testutil.h"

namespace qb {

struct CisRecord {
    NewHRRec h;
    std::string text;
};

inline std::string cisSample(const std::string& rel) { return std::string(QB_SOURCE_DIR) + "/samples/" + rel; }

class CisImport : public ::testing::Test {
protected:
    static constexpr uint32_t MailDb = 250001;
    static constexpr uint32_t ForumDb = 250002;

    TempDir dir;
    HeadlessUi headless;
    ImportContext ctx;

    void SetUp() override {
        namespace fs = std::filesystem;
        fs::create_directories(dir.path + "/net/CFG");
        fs::create_directories(dir.path + "/data");
        fs::create_directories(dir.path + "/tmp");
        Mem = MemGlobals{};
        Mem.Net = dir.path + "/net";
        Mem.FileDir = dir.path + "/data";
        Mem.TempDir = dir.path + "/tmp";
        MasIdxPath = Mem.FileDir;
        setEngineDirectory(dir.path + "/net/CFG");
        setUi(&headless);
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = MailDb;
        FOR.DESCRIPTION = "Ann Owner";
        FOR.TYPE = 2;
        FOR.DIRNUMBER = 1;
        FOR.MAILADDRESS = "71234,567";
        FOR.ALTADDRESS[0] = "ann@home.example";
        for (int i = 1; i < 10; ++i) FOR.ALTADDRESS[i] = "unused" + std::to_string(i) + "@nowhere.example";
        ASSERT_TRUE(Forums.add());
        Forums.clearBuffer();
        FOR.ID = ForumDb;
        FOR.DESCRIPTION = "PRINTERS";
        FOR.TYPE = 1;
        FOR.DIRNUMBER = 2;
        ASSERT_TRUE(Forums.add());
        ctx.loadTargets();
        ctx.settings.mailDb = MailDb;
        ctx.nextId = 300000;
        ASSERT_TRUE(ctx.openTemporary());
    }
    void TearDown() override {
        ctx.closeTemporary();
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        setUi(nullptr);
    }

    // Runs the reader over one file; the status that ended the file.
    ParseStatus run(const std::string& reader, const std::string& path, int batch = 3) {
        auto p = makeParser(reader);
        EXPECT_TRUE(p) << reader;
        if (!p) return ParseStatus::Failed;
        ctx.settings.reader = reader;
        ParseStatus st = p->begin(path, ctx);
        for (int guard = 0; st == ParseStatus::More && guard < 100000; ++guard) st = p->step(ctx, batch);
        lastFail = p->failText();
        return st;
    }

    std::vector<CisRecord> records() {
        NewHR.flush();
        std::vector<CisRecord> v;
        NewHR.setFile();
        while (NewHR.next()) v.push_back({NHR, NHR_MSGTEXT});
        return v;
    }
    std::vector<TempCCRec> copies() {
        TempCC.flush();
        std::vector<TempCCRec> v;
        TempCC.setFile();
        while (TempCC.next()) v.push_back(CCT);
        return v;
    }
    static const CisRecord* byNumber(const std::vector<CisRecord>& v, uint32_t n) {
        for (const auto& r : v)
            if (r.h.MSGNUMBER == n) return &r;
        return nullptr;
    }
    std::string forumName(uint32_t id) const {
        const TargetDb* t = ctx.target(id);
        return t ? t->description : std::string();
    }

    std::string lastFail;
};

} // namespace qb
