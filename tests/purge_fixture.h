// Databases filled row by row for the purge and count tests: persons,
// sections, threads, forum messages and mail with the keys the store step
// would give them.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/access.h"
#include "core/tables.h"
#include "tests/words_fixture.h"

namespace qb {

class PurgeDbTest : public WordsDbTest {
protected:
    struct Msg {
        uint32_t number = 0;
        uint32_t thread = 0;
        uint32_t from = 0, to = 0;
        int32_t date = 80000;
        uint8_t status = 0;
        uint32_t ref = 0;
        std::string body = "text";
    };

    // Person rows remember their last names for the alpha copies.
    std::string lastOf(uint32_t id) {
        OP_CLOSE(OpOpenShared, Person.number());
        Person.clearBuffer();
        PER.PERSONID = id;
        std::string last = Person.get(PER_PersonKey) ? PER.LASTNAME.str() : std::string();
        OP_CLOSE(OpClose, Person.number());
        return last;
    }

    void person(uint32_t id, const std::string& last, uint32_t from = 0, uint32_t to = 0, uint8_t status = 0) {
        OP_CLOSE(OpOpenShared, Person.number());
        Person.clearBuffer();
        PER.PERSONID = id;
        PER.LASTNAME = last;
        PER.PERSONSTRING = last + " " + std::to_string(id);
        PER.ADDRESS = std::to_string(id) + "@example.org";
        PER.FROMCOUNT = from;
        PER.TOCOUNT = to;
        PER.DUMMY = status;
        ASSERT_TRUE(Person.add()) << errorText();
        OP_CLOSE(OpClose, Person.number());
    }

    void section(uint32_t sysId, uint8_t status = 0, uint32_t count = 0) {
        OP_CLOSE(OpOpenShared, Sections.number());
        Sections.clearBuffer();
        SEC.SECSYSID = sysId;
        SEC.SECTIONNUMBER = static_cast<uint8_t>(sysId % 250);
        SEC.DESCRIPTION = "Section " + std::to_string(sysId);
        SEC.DUMMY = status;
        SEC.MSGCOUNT = count;
        ASSERT_TRUE(Sections.add()) << errorText();
        OP_CLOSE(OpClose, Sections.number());
    }

    void thread(uint32_t number, uint32_t sec, const std::string& heading, uint8_t status = 0, uint32_t count = 0) {
        OP_CLOSE(OpOpenShared, Threads.number());
        Threads.clearBuffer();
        THR.THREADNUMBER = number;
        THR.SECSYSID = sec;
        THR.setHeading(heading);
        THR.DUMMY = status;
        THR.MSGCOUNT = count;
        ASSERT_TRUE(Threads.add()) << errorText();
        OP_CLOSE(OpClose, Threads.number());
    }

    // A forum message of an existing thread (its section and heading from the thread row).
    void message(const Msg& m) {
        OP_CLOSE(OpOpenShared, Threads.number());
        Threads.clearBuffer();
        THR.THREADNUMBER = m.thread;
        ASSERT_TRUE(Threads.get(THR_ThreadKey)) << m.thread;
        const ThreadsRec t = THR;
        OP_CLOSE(OpClose, Threads.number());
        const std::string fromLast = lastOf(m.from), toLast = lastOf(m.to);
        OP_CLOSE(OpOpenShared, MsgNmbr.number(), MsgText.number());
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = m.number;
        MSG.SECSYSID = t.SECSYSID;
        MSG.REFNUMBER = m.ref;
        MSG.THREADNUMBER = m.thread;
        MSG.THREADALPHA = t.ALPHA.view();
        MSG.FROMID = m.from;
        MSG.FROMALPHA = fromLast.substr(0, 10);
        MSG.TOID = m.to;
        MSG.TOALPHA = toLast.substr(0, 10);
        MSG.DATE = m.date;
        MSG.DUMMY = m.status;
        ASSERT_TRUE(MsgNmbr.add()) << errorText();
        MsgText.clearBuffer();
        TXT.MSGNUMBER = m.number;
        TXT.DATE = m.date;
        TXT_MsgText = m.body;
        ASSERT_TRUE(MsgText.add()) << errorText();
        OP_CLOSE(OpClose, MsgNmbr.number(), MsgText.number());
    }

    struct MailMsg {
        uint32_t id = 0;
        std::string subject = "subject";
        int32_t date = 80000, time = 360001;
        uint32_t from = 0, to = 0, pair = 0;
        uint8_t status = 0;
        std::string body = "text";
        bool withText = true;
    };

    void mail(const MailMsg& m) {
        const std::string fromLast = lastOf(m.from), toLast = lastOf(m.to), pairLast = lastOf(m.pair);
        OP_CLOSE(OpOpenShared, Mail.number(), MsgText.number());
        Mail.clearBuffer();
        MAI.MAILID = m.id;
        MAI.SUBJECT = m.subject;
        MAI.DATE = m.date;
        MAI.TIME = m.time;
        MAI.FROMID = m.from;
        MAI.FROMALPHA = fromLast.substr(0, 10);
        MAI.TOID = m.to;
        MAI.TOALPHA = toLast.substr(0, 10);
        MAI.PAIRID = m.pair;
        MAI.PAIRALPHA = pairLast;
        MAI.DUMMY = m.status;
        ASSERT_TRUE(Mail.add()) << errorText();
        if (m.withText) {
            MsgText.clearBuffer();
            TXT.MSGNUMBER = m.id;
            TXT.DATE = m.date;
            TXT_MsgText = m.body;
            ASSERT_TRUE(MsgText.add()) << errorText();
        }
        OP_CLOSE(OpClose, Mail.number(), MsgText.number());
    }

    // Sets FOR:DUMMY and FOR:PERSONID of the active database and selects it again.
    void setDatabase(uint8_t status, uint32_t owner = 0) {
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = Mem.ForumNumber;
        ASSERT_TRUE(Forums.get(FOR_ForumKey));
        FOR.DUMMY = status;
        FOR.PERSONID = owner;
        FOR.MSGCOUNT = 999;
        FOR.COUNTFLAG = 1;
        ASSERT_TRUE(Forums.put());
        const uint32_t id = FOR.ID;
        OP_CLOSE(OpClose, Forums.number());
        ASSERT_TRUE(selectDatabase(id));
    }

    ForumsRec databaseRow() {
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = Mem.ForumNumber;
        EXPECT_TRUE(Forums.get(FOR_ForumKey));
        ForumsRec r = FOR;
        OP_CLOSE(OpClose, Forums.number());
        return r;
    }

    // Numbers of the messages (or mail) left, ascending.
    std::vector<uint32_t> messagesLeft() {
        Table& t = Mem.ForumType == 2 ? Mail : MsgNmbr;
        OP_CLOSE(OpOpenShared, t.number());
        std::vector<uint32_t> v;
        t.setFile();
        while (t.next()) v.push_back(Mem.ForumType == 2 ? MAI.MAILID : MSG.MSGNUMBER);
        OP_CLOSE(OpClose, t.number());
        std::sort(v.begin(), v.end());
        return v;
    }

    bool exists(Table& t, int key, const std::function<void()>& fill) {
        OP_CLOSE(OpOpenShared, t.number());
        t.clearBuffer();
        fill();
        bool found = t.get(key);
        OP_CLOSE(OpClose, t.number());
        return found;
    }
    bool threadExists(uint32_t n) { return exists(Threads, THR_ThreadKey, [&] { THR.THREADNUMBER = n; }); }
    bool personExists(uint32_t n) { return exists(Person, PER_PersonKey, [&] { PER.PERSONID = n; }); }
    bool textExists(uint32_t n) { return exists(MsgText, TXT_IdKey, [&] { TXT.MSGNUMBER = n; }); }
    ThreadsRec threadRow(uint32_t n) {
        exists(Threads, THR_ThreadKey, [&] { THR.THREADNUMBER = n; });
        return THR;
    }
    PersonRec personRow(uint32_t n) {
        exists(Person, PER_PersonKey, [&] { PER.PERSONID = n; });
        return PER;
    }
    uint8_t mailStatus(uint32_t id) {
        return exists(Mail, MAI_IdKey, [&] { MAI.MAILID = id; }) ? MAI.DUMMY : 255;
    }
};

} // namespace qb
