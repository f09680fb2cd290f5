// A temporary home with one database at a time, filled with messages
// directly in its tables, for the word index tests.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/access.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "tests/testutil.h"
#include "wordsearch/wordbreak.h"

namespace qb {

class WordsDbTest : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        Mem = MemGlobals{};
        Mem.Net = home.path;
        Mem.FileDir = home.path;
        Mem.TempDir = home.path + "/TEMP";
        MasIdxPath = home.path;
        fs::create_directories(home.path + "/CFG");
        fs::create_directories(Mem.TempDir);
        setEngineDirectory(home.path + "/CFG");
        setUi(&headless);
        setDefaultWordTables();
        ASSERT_TRUE(writeWordIndexSettings(WordIndexSettings{}));
    }
    void TearDown() override {
        if (inTransaction()) rollbackTransaction();
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        closeAllTables();
        setUi(nullptr);
        IndexingInProgress = false;
        Mem = MemGlobals{};
    }

    // A database of the kind (1 forum, 2 mail, 3 newsgroup), made active.
    uint32_t makeDb(const std::string& name, uint8_t type, uint32_t id = 250001) {
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = id;
        FOR.DESCRIPTION = name;
        FOR.DIRNUMBER = id;
        FOR.TYPE = type;
        EXPECT_TRUE(Forums.add()) << errorText();
        OP_CLOSE(OpClose, Forums.number());
        std::filesystem::create_directories(home.path + "/F" + std::to_string(id));
        EXPECT_TRUE(selectDatabase(id));
        return id;
    }

    void addMail(uint32_t id, const std::string& subject, const std::string& body, int32_t date = 80000) {
        OP_CLOSE(OpOpenShared, Mail.number(), MsgText.number());
        Mail.clearBuffer();
        MAI.MAILID = id;
        MAI.SUBJECT = subject;
        MAI.DATE = date;
        ASSERT_TRUE(Mail.add()) << errorText();
        MsgText.clearBuffer();
        TXT.MSGNUMBER = id;
        TXT.DATE = date;
        TXT_MsgText = body;
        ASSERT_TRUE(MsgText.add()) << errorText();
        OP_CLOSE(OpClose, Mail.number(), MsgText.number());
    }

    // A text without its header row.
    void addTextOnly(uint32_t id, const std::string& body) {
        OP_CLOSE(OpOpenShared, MsgText.number());
        MsgText.clearBuffer();
        TXT.MSGNUMBER = id;
        TXT_MsgText = body;
        ASSERT_TRUE(MsgText.add()) << errorText();
        OP_CLOSE(OpClose, MsgText.number());
    }

    void addForumMsg(uint32_t number, uint32_t thread, const std::string& heading, const std::string& body) {
        OP_CLOSE(OpOpenShared, MsgNmbr.number(), MsgText.number(), Threads.number());
        Threads.clearBuffer();
        THR.THREADNUMBER = thread;
        if (!Threads.get(THR_ThreadKey)) {
            Threads.clearBuffer();
            THR.THREADNUMBER = thread;
            THR.setHeading(heading);
            ASSERT_TRUE(Threads.add()) << errorText();
        }
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = number;
        MSG.THREADNUMBER = thread;
        ASSERT_TRUE(MsgNmbr.add()) << errorText();
        MsgText.clearBuffer();
        TXT.MSGNUMBER = number;
        TXT_MsgText = body;
        ASSERT_TRUE(MsgText.add()) << errorText();
        OP_CLOSE(OpClose, MsgNmbr.number(), MsgText.number(), Threads.number());
    }

    int64_t rows(Table& t) {
        OP_CLOSE(OpOpenShared, t.number());
        int64_t n = t.records();
        OP_CLOSE(OpClose, t.number());
        return n;
    }

    // The WordList row of a word: its count, or -1 when missing.
    int32_t wordCount(const std::string& word, int32_t* id = nullptr) {
        OP_CLOSE(OpOpenShared, WordList.number());
        WordList.clearBuffer();
        WOR.THEWORD = word;
        int32_t c = WordList.get(WOR_by_theWord) ? WOR.WORDCOUNT : -1;
        if (id) *id = c >= 0 ? WOR.WORDID : 0;
        OP_CLOSE(OpClose, WordList.number());
        return c;
    }

    bool shownTitle(const std::string& title) const {
        for (auto& b : headless.shown)
            if (b.title == title) return true;
        return false;
    }

    TempDir home;
    HeadlessUi headless;
};

} // namespace qb
