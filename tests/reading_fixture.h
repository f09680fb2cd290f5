// Test databases for the reading tests: a temporary home with one registered
// database whose tables are filled row by row.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/access.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "tests/testutil.h"

namespace qb::testing {

class ReadingDb : public ::testing::Test {
public:
    TempDir home;
    HeadlessUi headless;
    uint32_t dbId = 0;

    void SetUp() override {
        namespace fs = std::filesystem;
        fs::create_directories(home.path + "/CFG");
        fs::create_directories(home.path + "/TEMP");
        Mem = MemGlobals{};
        Mem.Net = home.path;
        Mem.FileDir = home.path;
        Mem.TempDir = home.path + "/TEMP";
        MasIdxPath = home.path;
        setEngineDirectory(home.path + "/CFG");
        setUi(&headless);
    }

    void TearDown() override {
        if (inTransaction()) rollbackTransaction();
        endBulk();
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        closeAllTables();
        setUi(nullptr);
        Mem = MemGlobals{};
    }

    // Registers a database of the kind (1 forum, 2 mail, 3 newsgroup) and makes it active.
    void makeDatabase(uint8_t type, const std::string& name, uint32_t id = 300000, uint32_t dir = 1,
                      uint32_t owner = 0, uint8_t status = 0) {
        std::filesystem::create_directories(home.path + "/F" + std::to_string(dir));
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = id;
        FOR.DESCRIPTION = name;
        FOR.DIRNUMBER = dir;
        FOR.TYPE = type;
        FOR.PERSONID = owner;
        FOR.DUMMY = status;
        ASSERT_TRUE(Forums.add()) << errorText();
        OP_CLOSE(OpClose, Forums.number());
        ASSERT_TRUE(selectDatabase(id));
        dbId = id;
    }

    // Rows added between beginBulk and endBulk are written together (the
    // tables stay open meanwhile); much faster for hundreds of rows.
    std::vector<Table*> bulkTables() {
        return {&Person, &MsgText, &Mail, &MsgNmbr, &Threads, &Sections, &MessageIds};
    }
    void beginBulk() {
        for (Table* t : bulkTables()) {
            if (t == &Mail && Mem.ForumType != 2) continue;
            if ((t == &MsgNmbr || t == &Threads || t == &Sections) && Mem.ForumType == 2) continue;
            if (t == &MessageIds && Mem.ForumType != 3) continue;
            OP_CLOSE(OpOpenShared, t->number());
            t->stream();
            bulk.push_back(t);
        }
    }
    void endBulk() {
        for (Table* t : bulk) {
            t->flush();
            OP_CLOSE(OpClose, t->number());
        }
        bulk.clear();
    }
    std::vector<Table*> bulk;

    template <class F>
    void withTable(Table& t, F&& f) {
        OP_CLOSE(OpOpenShared, t.number());
        ASSERT_TRUE(t.isOpen()) << t.name();
        t.clearBuffer();
        f();
        OP_CLOSE(OpClose, t.number());
    }

    void addPerson(uint32_t id, const std::string& first, const std::string& last, const std::string& address,
                   uint32_t fromCount = 0, uint32_t toCount = 0) {
        withTable(Person, [&] {
            PER.PERSONID = id;
            PER.FIRSTNAME = first;
            PER.LASTNAME = last;
            PER.ADDRESS = address;
            PER.PERSONSTRING = last + " " + address + std::to_string(id);
            PER.FROMCOUNT = fromCount;
            PER.TOCOUNT = toCount;
            ASSERT_TRUE(Person.add()) << errorText();
        });
    }

    void addText(uint32_t id, const std::string& text) {
        withTable(MsgText, [&] {
            TXT.MSGNUMBER = id;
            TXT_MsgText = text;
            ASSERT_TRUE(MsgText.add()) << errorText();
        });
    }

    void addMail(uint32_t id, int32_t date, int32_t time, const std::string& subject, uint32_t from,
                 const std::string& fromLast, uint32_t to, const std::string& toLast, uint32_t owner = 0) {
        withTable(Mail, [&] {
            MAI.MAILID = id;
            MAI.DATE = date;
            MAI.TIME = time;
            MAI.SUBJECT = subject;
            MAI.FROMID = from;
            MAI.FROMALPHA = fromLast.substr(0, 10);
            MAI.TOID = to;
            MAI.TOALPHA = toLast.substr(0, 10);
            const bool sent = owner && from == owner;
            MAI.PAIRID = sent ? to : from;
            MAI.PAIRALPHA = (sent ? toLast : fromLast).substr(0, 25);
            MAI.RECIPTYPE = "TO";
            ASSERT_TRUE(Mail.add()) << errorText();
        });
    }

    void addSection(uint32_t id, uint8_t number, const std::string& name) {
        withTable(Sections, [&] {
            SEC.SECSYSID = id;
            SEC.SECTIONNUMBER = number;
            SEC.DESCRIPTION = name;
            ASSERT_TRUE(Sections.add()) << errorText();
        });
    }

    void addThread(uint32_t id, uint32_t section, const std::string& heading, uint32_t count = 0) {
        withTable(Threads, [&] {
            THR.THREADNUMBER = id;
            THR.SECSYSID = section;
            THR.setHeading(heading);
            THR.MSGCOUNT = count;
            ASSERT_TRUE(Threads.add()) << errorText();
        });
    }

    void addMessage(uint32_t number, uint32_t ref, uint32_t thread, const std::string& heading, uint32_t section,
                    int32_t date, uint32_t from, const std::string& fromLast, uint32_t to = 0,
                    const std::string& toLast = "") {
        withTable(MsgNmbr, [&] {
            MSG.MSGNUMBER = number;
            MSG.REFNUMBER = ref;
            MSG.THREADNUMBER = thread;
            MSG.THREADALPHA = heading.substr(0, 10);
            MSG.SECSYSID = section;
            MSG.DATE = date;
            MSG.FROMID = from;
            MSG.FROMALPHA = fromLast.substr(0, 10);
            MSG.TOID = to;
            MSG.TOALPHA = toLast.substr(0, 10);
            ASSERT_TRUE(MsgNmbr.add()) << errorText();
        });
    }

    void addMessageId(uint32_t number, const std::string& idString) {
        withTable(MessageIds, [&] {
            MST.MSGNUMBER = number;
            MST.IDSTRING = idString;
            ASSERT_TRUE(MessageIds.add()) << errorText();
        });
    }
};

} // namespace qb::testing
