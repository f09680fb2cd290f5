// Browse views over real tables: paging in key order, limits, the person and
// thread steps, status writes, loading a message for rendering and the
// search over a view.
#include <gtest/gtest.h>

#include <set>

#include "core/dates.h"
#include "reading/browselist.h"
#include "reading/browseview.h"
#include "reading/render.h"
#include "reading/threadtree.h"
#include "tests/reading_fixture.h"

using namespace qb;
using qb::testing::ReadingDb;

namespace {

class ReadingMailDb : public ReadingDb {
protected:
    static constexpr uint32_t kOwner = 100;
    void SetUp() override {
        ReadingDb::SetUp();
        makeDatabase(2, "My Mail", 300000, 1, kOwner);
        beginBulk();
        addPerson(kOwner, "Ann", "Owner", "ann@home.example");
        addPerson(101, "Bob", "Baker", "bob@example.org", 120, 0);
        addPerson(102, "Carl", "Cook", "76543,210", 60, 10);
        addPerson(103, "Dora", "Diaz", "dora@example.org", 20, 0);
        // 200 mails: ids 1000..1199, one a day; partners in turn.
        const uint32_t partners[] = {101, 102, 101, 103};
        const char* names[] = {"", "Baker", "Cook", "Diaz"};
        for (uint32_t i = 0; i < 200; ++i) {
            uint32_t p = partners[i % 4];
            const std::string pn = names[p - 100];
            const bool sent = i % 10 == 8;
            if (sent) addMail(1000 + i, 70000 + static_cast<int32_t>(i), 1, "Subject " + std::to_string(i), kOwner,
                              "Owner", p, pn, kOwner);
            else addMail(1000 + i, 70000 + static_cast<int32_t>(i), 1, "Subject " + std::to_string(i), p, pn, kOwner,
                         "Owner", kOwner);
        }
        endBulk();
        for (int n : browseTables(true)) OP_CLOSE(OpOpenShared, n);
    }
    void TearDown() override {
        for (int n : browseTables(true)) OP_CLOSE(OpClose, n);
        ReadingDb::TearDown();
    }
};

std::vector<uint32_t> idsOf(const BrowseList& l) {
    std::vector<uint32_t> v;
    for (size_t i = 0; i < l.size(); ++i) v.push_back(l.at(i).id);
    return v;
}

} // namespace

TEST_F(ReadingMailDb, ListPagesThroughTheWholeViewInKeyOrder) {
    BrowseList list(true);
    list.setView(mailView(1, BrowseChoice{}));
    ASSERT_EQ(list.size(), BrowseList::kPage);
    EXPECT_TRUE(list.atStart());
    EXPECT_FALSE(list.atEnd());
    EXPECT_EQ(list.at(0).id, 1199u);  // newest first
    std::vector<uint32_t> seen = idsOf(list);
    while (!list.atEnd()) {
        size_t before = list.size();
        size_t n = list.fetchAfter();
        for (size_t i = before; i < before + n; ++i) seen.push_back(list.at(i).id);
        if (list.size() > BrowseList::kMaxRows) list.dropFront(list.size() - BrowseList::kMaxRows);
        EXPECT_LE(list.size(), BrowseList::kMaxRows);
    }
    ASSERT_EQ(seen.size(), 200u);
    for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], 1199u - i);
    EXPECT_FALSE(list.atStart());
    // Back up to the start again.
    while (!list.atStart()) list.fetchBefore();
    EXPECT_EQ(list.at(0).id, 1199u);
    EXPECT_EQ(list.headerCount(), 200);

    list.toLast();
    EXPECT_TRUE(list.atEnd());
    EXPECT_EQ(list.at(list.size() - 1).id, 1000u);
    EXPECT_EQ(list.at(0).id, 1000u + BrowseList::kPage - 1);
    EXPECT_EQ(list.at(0).cols[4], "Subject " + std::to_string(BrowseList::kPage - 1));
}

TEST_F(ReadingMailDb, LimitsAndLocate) {
    BrowseChoice c;
    c.partnerId = 101;
    c.partnerAlpha = "Baker";
    BrowseList list(true);
    list.setView(mailView(3, c));
    std::vector<uint32_t> ids = idsOf(list);
    while (list.fetchAfter()) {}
    ids = idsOf(list);
    ASSERT_EQ(ids.size(), 100u);  // every other mail has Baker as its partner
    for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list.at(i).mail.PAIRID, 101u);
    for (size_t i = 1; i < ids.size(); ++i) EXPECT_GT(ids[i - 1], ids[i]);
    // The partner is also the partner of the mail the owner sent him.
    EXPECT_TRUE(std::set<uint32_t>(ids.begin(), ids.end()).count(1000 + 188));

    // A limit on another tab's person leaves the other tabs alone.
    BrowseChoice s;
    s.senderId = 103;
    s.senderAlpha = "Diaz";
    list.setView(mailView(4, s));
    while (list.fetchAfter()) {}
    for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list.at(i).mail.FROMID, 103u);
    EXPECT_EQ(list.size(), 50u);

    // Locating a message far from the window centres the window on it.
    list.setView(mailView(1, BrowseChoice{}));
    long at = list.locateId(1010);
    ASSERT_GE(at, 0);
    EXPECT_EQ(list.at(static_cast<size_t>(at)).id, 1010u);
    EXPECT_EQ(list.at(0).id, 1010u + BrowseList::kPage / 2);
    EXPECT_EQ(list.fetchBefore(), BrowseList::kPage);
    // A message outside the limit is not found in the limited view.
    list.setView(mailView(3, c));
    EXPECT_EQ(list.locateId(1001), -1);  // partner Cook
    EXPECT_GE(list.locateId(1002), 0);
    // The key-word and topic tabs show nothing until one is chosen.
    list.setView(mailView(6, BrowseChoice{}));
    EXPECT_EQ(list.size(), 0u);
    list.setView(mailView(7, BrowseChoice{}));
    EXPECT_EQ(list.size(), 0u);
}

TEST_F(ReadingMailDb, CursorContinuesPastARowDeletedMeanwhile) {
    ViewCursor cur(&Mail, MAI_DateKey);
    auto page = cur.first(3);
    ASSERT_EQ(page.size(), 3u);
    ViewRow middle = page[1];
    MAI.MAILID = 1198;
    ASSERT_TRUE(Mail.get(MAI_IdKey));
    ASSERT_TRUE(Mail.erase());
    auto after = cur.after(middle, 2);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].as<MailRec>().MAILID, 1197u);
    auto before = cur.before(middle, 5);
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0].as<MailRec>().MAILID, 1199u);
    // The cursor leaves the record buffer as it found it.
    MAI.MAILID = 4242;
    cur.after(page[0], 10);
    EXPECT_EQ(MAI.MAILID, 4242u);
}

TEST_F(ReadingMailDb, PersonSteps) {
    auto first = stepPerson(Mail, MAI_PairKey, "", 0, true);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, 101u);
    EXPECT_EQ(first->lastName, "Baker");
    EXPECT_EQ(first->count, 120u);
    auto next = stepPerson(Mail, MAI_PairKey, first->alpha, first->id, true);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->id, 102u);
    EXPECT_EQ(next->count, 70u);  // sender and receiver counts together
    auto last = stepPerson(Mail, MAI_PairKey, "Diaz", 103, true);
    EXPECT_FALSE(last);  // the last person: the choice stays
    auto back = stepPerson(Mail, MAI_PairKey, "Cook", 102, false);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->id, 101u);
    EXPECT_FALSE(stepPerson(Mail, MAI_PairKey, "Baker", 101, false));
    // Senders: the owner is a sender too.
    auto s = stepPerson(Mail, MAI_FromKey, "Diaz", 103, true);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->id, kOwner);
    EXPECT_EQ(s->count, 0u);
    // Steps leave the buffers alone.
    MAI.MAILID = 77;
    stepPerson(Mail, MAI_ToKey, "", 0, true);
    EXPECT_EQ(MAI.MAILID, 77u);
}

TEST_F(ReadingMailDb, StatusWrites) {
    ASSERT_TRUE(setStatus(StatusTarget::Message, 1005, 1));
    ASSERT_TRUE(setStatus(StatusTarget::Person, 102, 2));
    ASSERT_TRUE(setStatus(StatusTarget::Database, dbId, 2));
    EXPECT_EQ(Mem.ForumCheck, 2);
    MAI.MAILID = 1005;
    ASSERT_TRUE(Mail.get(MAI_IdKey));
    EXPECT_EQ(MAI.DUMMY, 1);
    PER.PERSONID = 102;
    ASSERT_TRUE(Person.get(PER_PersonKey));
    EXPECT_EQ(PER.DUMMY, 2);
    OP_CLOSE(OpOpenShared, Forums.number());
    FOR.ID = dbId;
    ASSERT_TRUE(Forums.get(FOR_ForumKey));
    EXPECT_EQ(FOR.DUMMY, 2);
    OP_CLOSE(OpClose, Forums.number());
    // A row that is not there: nothing written, failure reported.
    EXPECT_FALSE(setStatus(StatusTarget::Message, 99999, 1));
    EXPECT_FALSE(headless.shown.empty());
    EXPECT_FALSE(setStatus(StatusTarget::Message, 1005, 3));
}

TEST_F(ReadingMailDb, LoadAndRenderAMail) {
    addText(1008, "Body of eight\r\n");
    RenderInput in;
    ASSERT_TRUE(loadRenderInput(1008, in));
    EXPECT_EQ(in.kind, MessageKind::Mail);
    EXPECT_TRUE(in.mailSent());  // 1008 was sent by the owner
    EXPECT_EQ(in.to.LASTNAME.str(), "Baker");
    EXPECT_EQ(in.text, "Body of eight\r\n");
    RenderSettings s;
    s.mailTarget = 4;
    std::string t = renderMessage(in, s);
    EXPECT_EQ(t.rfind("Date:  ", 0), 0u);
    EXPECT_NE(t.find("MsgID: OUTBOX"), std::string::npos);
    EXPECT_NE(t.find("MgTo:  Bob Baker >INTERNET:bob@example.org"), std::string::npos);
    // No text row: the header and an empty body.
    RenderInput none;
    ASSERT_TRUE(loadRenderInput(1009, none));
    EXPECT_FALSE(none.mailSent());
    EXPECT_TRUE(none.text.empty());
    EXPECT_EQ(renderMessage(none, RenderSettings{}), renderHeader(none, 1, false, "compuserve.com"));
    EXPECT_FALSE(loadRenderInput(5, none));
    // The tables the browse keeps open stay open.
    EXPECT_TRUE(Mail.isOpen());
    EXPECT_TRUE(MsgText.isOpen());
}

TEST_F(ReadingMailDb, SearchOverTheView) {
    addText(1003, "a report too");
    addText(1004, "nothing");
    addText(1150, "Quarterly REPORT attached");
    addText(1020, "the report is late");
    SearchOptions o;
    o.text = "report";
    auto run = [&](SearchOptions opt, const ViewSpec& spec) {
        ViewSearchSource src(spec, true, std::nullopt);
        TextSearch t(opt);
        std::vector<uint32_t> ids;
        for (SearchState st; (st = t.run(src, 7)) != SearchState::End;)
            if (st == SearchState::Hit) ids.push_back(t.hit().id);
        return ids;
    };
    EXPECT_EQ(run(o, mailView(1, {})), (std::vector<uint32_t>{1003, 1020, 1150}));
    o.backward = true;
    EXPECT_EQ(run(o, mailView(1, {})), (std::vector<uint32_t>{1150, 1020, 1003}));
    o.wordsOnly = true;
    o.text = "Subject 199";
    EXPECT_EQ(run(o, mailView(1, {})), (std::vector<uint32_t>{1199}));
    // Only the selected partner's mail.
    BrowseChoice c;
    c.partnerId = 103;
    c.partnerAlpha = "Diaz";
    o = SearchOptions{};
    o.text = "report";
    EXPECT_EQ(run(o, mailView(3, c)), (std::vector<uint32_t>{1003}));
    // Starting from a row goes on from there.
    ViewCursor cur(&Mail, MAI_DateKey);
    ViewRow r = cur.first(60).back();  // mail 1140
    ViewSearchSource src(mailView(1, {}), true, r);
    TextSearch t(o);
    SearchState st;
    while ((st = t.run(src, 5)) == SearchState::Running) {}
    ASSERT_EQ(st, SearchState::Hit);
    EXPECT_EQ(t.hit().id, 1150u);
    EXPECT_EQ(src.lastRow().as<MailRec>().MAILID, 1150u);
}

// ---------------------------------------------------------------- messages

namespace {
class ReadingForumDb : public ReadingDb {
protected:
    void SetUp() override {
        ReadingDb::SetUp();
        makeDatabase(3, "comp.test", 300100, 4);
        addPerson(201, "Ann", "Able", "ann@example.org");
        addPerson(202, "Ben", "Best", "ben@example.org");
        addSection(1, 0, "comp.test");
        addSection(7, 2, "Other section");
        addThread(501, 1, "Alpha thread heading", 3);
        addThread(502, 1, "Beta thread", 1);
        addThread(503, 7, "Alpha in another section", 1);
        addThread(504, 1, "Gamma", 1);
        addMessage(10, 9, 501, "Alpha thread heading", 1, 71000, 201, "Able");
        addMessage(11, 10, 501, "Alpha thread heading", 1, 71001, 202, "Best", 201, "Able");
        addMessage(12, 11, 501, "Alpha thread heading", 1, 71002, 201, "Able", 202, "Best");
        addMessage(13, 0, 502, "Beta thread", 1, 71003, 202, "Best");
        addMessage(14, 0, 503, "Alpha in another section", 7, 71004, 202, "Best");
        addMessage(15, 15, 504, "Gamma", 1, 71005, 201, "Able");
        addMessageId(10, "<m10@host>");
        addMessageId(11, "<m11@host>");
        addText(11, "Reply text\r\n");
        for (int n : browseTables(false)) OP_CLOSE(OpOpenShared, n);
    }
    void TearDown() override {
        for (int n : browseTables(false)) OP_CLOSE(OpClose, n);
        ReadingDb::TearDown();
    }
};
} // namespace

TEST_F(ReadingForumDb, ThreadAndSectionViews) {
    BrowseList list(false);
    BrowseChoice c;
    c.threadId = 501;
    c.threadAlpha = "Alpha thre";
    list.setView(messageView(2, c));
    EXPECT_EQ(idsOf(list), (std::vector<uint32_t>{10, 11, 12}));
    EXPECT_EQ(list.at(0).cols[4], "Alpha thread heading");
    EXPECT_EQ(list.at(1).cols[2], "Ben Best");
    c = BrowseChoice{};
    c.sectionId = 7;
    list.setView(messageView(3, c));
    EXPECT_EQ(idsOf(list), (std::vector<uint32_t>{14}));
    list.setView(messageView(1, BrowseChoice{}));
    EXPECT_EQ(idsOf(list), (std::vector<uint32_t>{15, 14, 13, 12, 11, 10}));
    list.setView(messageView(6, BrowseChoice{}));
    EXPECT_EQ(list.at(0).id, 15u);
    MsgNmbrRec seek{};
    setKeyBound(MsgNmbr, MSG_DateKey, &seek, 0, 2, false);
    seek.DATE = 71002;
    size_t at = list.seek(&seek);
    EXPECT_EQ(list.at(at).id, 12u);
}

TEST_F(ReadingForumDb, ThreadSteps) {
    auto first = stepThread(0, 0, true);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->id, 503u);  // "Alpha in a" sorts before "Alpha thre"
    auto next = stepThread(first->id, 0, true);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->id, 501u);
    EXPECT_EQ(next->heading, "Alpha thread heading");
    EXPECT_EQ(next->count, 3u);
    auto back = stepThread(501, 0, false);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->id, 503u);
    EXPECT_FALSE(stepThread(504, 0, true));  // the last thread
    // Within section 1, after "Alpha thre" comes "Beta"; the last one stays.
    auto inSec = stepThread(501, 1, true);
    ASSERT_TRUE(inSec);
    EXPECT_EQ(inSec->id, 502u);
    EXPECT_EQ(inSec->count, 0u);
    EXPECT_FALSE(stepThread(501, 1, false));  // nothing before it in section 1
    EXPECT_FALSE(stepThread(503, 7, true));
    // A thread that is not there: the choice stays.
    EXPECT_FALSE(stepThread(999, 0, true));
}

TEST_F(ReadingForumDb, TreeOfAThread) {
    auto nodes = buildThreadTree(501, "Alpha thre");
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[0].number, 10u);
    EXPECT_EQ(nodes[0].level, 1);  // answers message 9 of no thread here
    EXPECT_EQ(nodes[1].level, 2);
    EXPECT_EQ(nodes[2].level, 3);
    EXPECT_TRUE(nodes[0].hasReplies);
    EXPECT_FALSE(nodes[2].hasReplies);
    EXPECT_EQ(nodes[1].sender, "Ben Best");
    auto self = buildThreadTree(504, "Gamma");
    ASSERT_EQ(self.size(), 1u);
    EXPECT_EQ(self[0].parent, 0u);  // its own reference
    EXPECT_EQ(self[0].level, 1);
    EXPECT_TRUE(buildThreadTree(999, "Nothing").empty());
}

TEST_F(ReadingForumDb, LoadAndRenderANewsgroupMessage) {
    RenderInput in;
    ASSERT_TRUE(loadRenderInput(11, in));
    EXPECT_EQ(in.kind, MessageKind::Newsgroup);
    EXPECT_EQ(in.heading, "Alpha thread heading");
    EXPECT_EQ(in.idString, "<m11@host>");
    EXPECT_EQ(in.parentIdString, "<m10@host>");
    std::string t = renderMessage(in, RenderSettings{});
    EXPECT_NE(t.find("\r\nNewsgroups: comp.test\r\n"), std::string::npos);
    EXPECT_NE(t.find("\r\nReferences: <m10@host>\r\n"), std::string::npos);
    EXPECT_NE(t.find("\r\nSubject: Alpha thread heading\r\n"), std::string::npos);
    EXPECT_EQ(t.substr(t.size() - 12), "Reply text\r\n");
    // A parent without an identifier row gives an empty References line.
    RenderInput orphan;
    ASSERT_TRUE(loadRenderInput(10, orphan));
    EXPECT_EQ(orphan.parentIdString, "");
    EXPECT_NE(renderMessage(orphan, RenderSettings{}).find("\r\nReferences: \r\n"), std::string::npos);
}

TEST_F(ReadingMailDb, KeyWordTopicAndSearchTabsReadHeadersById) {
    OP_CLOSE(OpOpenShared, WordList.number(), MasIdx.number());
    WordList.clearBuffer();
    WOR.WORDID = 77;
    WOR.THEWORD = "budget";
    ASSERT_TRUE(WordList.add()) << errorText();
    for (uint32_t id : {1003u, 1150u, 1020u, 4242u}) {  // 4242: a mail that is gone
        MAS.SYSID = id;
        MAS.WORDID = 77;
        ASSERT_TRUE(MasIdx.add()) << errorText();
    }
    MAS.SYSID = 1004;
    MAS.WORDID = 78;
    ASSERT_TRUE(MasIdx.add());
    Codes.clearBuffer();
    COD.TYPE = 2;
    COD.INDEX = "Travel";
    COD.ID = 260001;
    ASSERT_TRUE(Codes.add());
    for (uint32_t id : {1001u, 1199u, 1100u}) {
        SIN.ID = 260001;
        SIN.MSGNUMBER = id;
        ASSERT_TRUE(SIndex.add());
    }
    SIN.ID = 260002;
    SIN.MSGNUMBER = 1002;
    ASSERT_TRUE(SIndex.add());
    for (uint32_t id : {1010u, 1011u}) {
        SEA.ID = id;
        ASSERT_TRUE(Search.add());
    }

    BrowseList list(true);
    BrowseChoice c;
    c.wordId = 77;
    list.setView(mailView(6, c));
    ASSERT_EQ(list.size(), 4u);
    // The master index keeps its rows in key order: within a word, by message.
    EXPECT_EQ(idsOf(list), (std::vector<uint32_t>{1003, 1020, 1150, 4242}));
    EXPECT_EQ(list.at(1).mail.SUBJECT.str(), "Subject 20");
    EXPECT_FALSE(list.at(3).found);
    EXPECT_EQ(list.at(3).cols[4], "(message not found)");
    // Paging from a row with equal key values goes on in the order of the rows.
    ViewSpec spec = mailView(6, c);
    ViewCursor cur = spec.cursor();
    auto rest = cur.after(list.at(1).row, 10);
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(spec.idOf(rest[0]), 1150u);
    auto back = cur.before(list.at(2).row, 10);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(spec.idOf(back[0]), 1003u);
    EXPECT_GE(list.locateId(1020), 0);
    EXPECT_EQ(list.locateId(1004), -1);  // indexed under another word

    c.topicId = 260001;
    list.setView(mailView(7, c));
    EXPECT_EQ(idsOf(list), (std::vector<uint32_t>{1199, 1100, 1001}));  // newest first
    list.setView(mailView(8, c));
    EXPECT_EQ(idsOf(list), (std::vector<uint32_t>{1011, 1010}));
    // The search runs over the links as well, skipping the one to a gone mail.
    addText(1020, "budget for the year");
    ViewSearchSource src(mailView(6, c), true, std::nullopt);
    SearchOptions o;
    o.text = "BUDGET";
    TextSearch t(o);
    SearchState st;
    while ((st = t.run(src, 3)) == SearchState::Running) {}
    ASSERT_EQ(st, SearchState::Hit);
    EXPECT_EQ(t.hit().id, 1020u);
    OP_CLOSE(OpClose, WordList.number(), MasIdx.number());
}
