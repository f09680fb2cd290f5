// dBase tables of other programs: the table reader itself, and the CISCOMM,
// NavCIS and OUI readers over them.
#include <algorithm>
#include <fstream>
#include <limits>

#include "core/dates.h"
#include "platform/dbf.h"
#include "tests/cis_testutil.h"

using namespace qb;

namespace {

std::string s(const auto& f) { return f.str(); }

const std::vector<DbfWriter::Column> kCols = {
    {"NAME", 'C', 12}, {"COUNT", 'N', 6}, {"WHEN", 'D', 8}, {"OK", 'L', 1}, {"NOTE", 'M', 10}};

// Offset of row i in a table written with kCols.
size_t rowOffset(size_t i) { return 32 + 32 * kCols.size() + 1 + i * (1 + 12 + 6 + 8 + 1 + 10); }

void patch(const std::string& path, size_t at, const std::string& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

TEST(Dbf, RowsFieldsAndMemosInBothMemoForms) {
    TempDir dir;
    std::string longMemo(1500, 'm');  // spans several memo blocks
    std::vector<DbfWriter::Row> rows = {{"alpha", "42", "19960131", "T", "first\r\nnote"},
                                        {"beta", "-7", "", "F", ""},
                                        {"gamma", "", "20000229", "Y", longMemo}};
    for (bool fox : {false, true}) {
        std::string path = dir.path + (fox ? "/fox.dbf" : "/db3.dbf");
        ASSERT_TRUE(DbfWriter().write(path, kCols, rows, {false, true, false}, fox));
        DbfReader db;
        ASSERT_TRUE(db.open(path)) << db.error();
        EXPECT_EQ(db.rowCount(), 3u);
        EXPECT_EQ(db.fieldIndex("note"), 4);
        EXPECT_EQ(db.fieldIndex("MISSING"), -1);
        ASSERT_EQ(db.next(), DbfRow::Good);
        EXPECT_EQ(db.text("NAME"), "alpha");
        EXPECT_EQ(db.number("COUNT"), 42);
        int y, m, d;
        ASSERT_TRUE(db.date("WHEN", y, m, d));
        EXPECT_EQ(y * 10000 + m * 100 + d, 19960131);
        EXPECT_TRUE(db.logical("OK"));
        EXPECT_EQ(db.text("NOTE"), "first\r\nnote");
        ASSERT_EQ(db.next(), DbfRow::Deleted);
        EXPECT_EQ(db.number("COUNT"), -7);
        EXPECT_FALSE(db.date("WHEN", y, m, d));
        EXPECT_FALSE(db.logical("OK"));
        EXPECT_EQ(db.text("NOTE"), "");
        ASSERT_EQ(db.next(), DbfRow::Good);
        EXPECT_EQ(db.text("NOTE"), longMemo);
        EXPECT_EQ(db.number("COUNT"), 0);
        EXPECT_EQ(db.next(), DbfRow::End);
        EXPECT_EQ(db.rowsRead(), 3u);
    }
}

TEST(Dbf, NumbersOfMoreDigitsThanALongLongGiveItsLargest) {
    TempDir dir;
    const std::string path = dir.path + "/wide.dbf";
    // 2^64 + 1000: cut to 64 bits it would read as 1000.
    const std::vector<DbfWriter::Column> cols = {{"NUM", 'N', 22}};
    ASSERT_TRUE(DbfWriter().write(path, cols, {{"18446744073709552616"}, {"-18446744073709552616"},
                                               {"9223372036854775807"}}, {}, false));
    DbfReader db;
    ASSERT_TRUE(db.open(path)) << db.error();
    constexpr long long kMax = std::numeric_limits<long long>::max();
    ASSERT_EQ(db.next(), DbfRow::Good);
    EXPECT_EQ(db.number("NUM"), kMax);
    ASSERT_EQ(db.next(), DbfRow::Good);
    EXPECT_EQ(db.number("NUM"), -kMax);
    ASSERT_EQ(db.next(), DbfRow::Good);
    EXPECT_EQ(db.number("NUM"), kMax);  // the largest itself reads exactly
}

TEST(Dbf, DamagedRowsAndFilesAreReported) {
    TempDir dir;
    std::string path = dir.path + "/t.dbf";
    ASSERT_TRUE(DbfWriter().write(path, kCols, {{"a", "1", "", "T", "x"}, {"b", "2", "", "T", "y"},
                                                {"c", "3", "", "T", "z"}}));
    patch(path, rowOffset(0), "#");                                           // bad flag byte
    patch(path, rowOffset(1) + 1 + 12 + 6 + 8 + 1, "      9999");             // memo beyond the memo file
    {
        DbfReader db;
        ASSERT_TRUE(db.open(path));
        EXPECT_EQ(db.next(), DbfRow::Damaged);
        EXPECT_FALSE(db.rowError().empty());
        EXPECT_EQ(db.next(), DbfRow::Damaged);
        EXPECT_NE(db.rowError().find("NOTE"), std::string::npos);
        EXPECT_EQ(db.next(), DbfRow::Good);
        EXPECT_EQ(db.text("NOTE"), "z");
    }
    // A header that promises more rows than the file holds.
    patch(path, 4, std::string("\x05\x00\x00\x00", 4));
    {
        DbfReader db;
        ASSERT_TRUE(db.open(path));
        for (int i = 0; i < 3; ++i) db.next();
        EXPECT_EQ(db.next(), DbfRow::Damaged);
        EXPECT_EQ(db.next(), DbfRow::Damaged);
        EXPECT_EQ(db.next(), DbfRow::End);
    }
    // A row count of hundreds of millions over a file of three rows ends with
    // the file, reported once, instead of reading every missing row.
    patch(path, 4, std::string("\x04\x00\x00\x25", 4));
    {
        DbfReader db;
        ASSERT_TRUE(db.open(path));
        int rows = 0, damaged = 0;
        for (DbfRow r = db.next(); r != DbfRow::End && rows < 1000; r = db.next(), ++rows)
            if (r == DbfRow::Damaged) ++damaged;
        EXPECT_EQ(rows, 5);
        EXPECT_EQ(damaged, 4);  // the two patched rows, the cut one, the end of the file
    }
    // No memo file, or not a table at all.
    std::filesystem::remove(dir.path + "/t.DBT");
    DbfReader db;
    EXPECT_FALSE(db.open(path));
    EXPECT_NE(db.error().find("memo"), std::string::npos);
    writeFile(dir.path + "/x.dbf", "not a table");
    EXPECT_FALSE(db.open(dir.path + "/x.dbf"));
    EXPECT_FALSE(db.open(dir.path + "/none.dbf"));
}

class CisDbf : public CisImport {};

TEST_F(CisDbf, CiscommForumTableGoesToTheRunForum) {
    ctx.settings.forumDb = ForumDb;
    ASSERT_EQ(run("CISCOMM", cisSample("ciscomm/FORUM.DBF")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(ctx.skipped, 1u);  // the deleted row
    const CisRecord* a = byNumber(v, 301001);
    const CisRecord* b = byNumber(v, 301007);
    const CisRecord* c = byNumber(v, 301010);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->h.INTERNAL, ForumDb);
    EXPECT_EQ(s(a->h.FOR_DESCRIPTION), "PRINTERS");
    EXPECT_EQ(a->h.SECTIONNUMBER, 4);
    EXPECT_EQ(s(a->h.SEC_DESCRIPTION), "Storage");
    EXPECT_EQ(s(a->h.HEADING), "Backup strategies");
    EXPECT_EQ(s(a->h.S_NAME), "Max Mustermann");
    EXPECT_EQ(s(a->h.S_CISADRESS), "100200,300");
    EXPECT_EQ(a->h.DATE, dayNumber(1996, 6, 10));
    EXPECT_EQ(a->text, "How do you back up 500 MB?\r\nTapes are slow.");
    EXPECT_EQ(b->h.REFNUMBER, 301001u);
    EXPECT_EQ(s(b->h.S_NAME), "S\xF8ren Kj\xE6r");  // DOS characters converted
    EXPECT_EQ(b->text, "Use a second disk, and store it \xE0 part.");
    EXPECT_EQ(s(c->h.S_CISADRESS), "we");
}

TEST_F(CisDbf, CiscommMailTable) {
    ASSERT_EQ(run("CISCOMM", cisSample("ciscomm/MAIL.DBF")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0].h.MAILTYPE, 1);
    EXPECT_EQ(s(v[0].h.S_NAME), "Accounts Dept");
    EXPECT_EQ(s(v[0].h.S_CISADRESS), "75400,100");
    EXPECT_EQ(s(v[0].h.R_CISADRESS), "71234,567");
    EXPECT_EQ(v[0].h.TIME, clockTime(8, 30, 0));
    EXPECT_EQ(v[0].h.DATE, dayNumber(1996, 7, 1));
    EXPECT_EQ(v[1].h.MAILTYPE, 2);
    EXPECT_EQ(v[1].h.TIME, clockTime(9, 45, 0));
    EXPECT_EQ(s(v[1].h.R_CISADRESS), "accounts@shop.example");
    EXPECT_EQ(s(v[1].h.S_NAME), "Ann Owner");
    EXPECT_EQ(v[1].text, "Paid today.");
    EXPECT_NE(v[0].h.MSGNUMBER, v[1].h.MSGNUMBER);
}

TEST_F(CisDbf, NavcisRowsAreForumOrMailByTheirFlag) {
    ASSERT_EQ(run("NavCIS 1.7x-", cisSample("navcis17/HRECV.DBF")), ParseStatus::Done);
    ASSERT_EQ(run("NavCIS 1.6x", cisSample("navcis16/RECV.DBF")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 7u);
    const CisRecord* a = byNumber(v, 555001);
    const CisRecord* b = byNumber(v, 555004);
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(byNumber(v, 555009));  // flagged deleted by NavCIS
    EXPECT_EQ(s(a->h.FOR_DESCRIPTION), "TRAVEL");
    EXPECT_EQ(forumName(a->h.INTERNAL), "TRAVEL");
    EXPECT_EQ(a->h.SECTIONNUMBER, 7);
    EXPECT_EQ(s(a->h.SEC_DESCRIPTION), "Europe");
    EXPECT_EQ(a->text, "Is a rail pass worth it in Fran\xE7" "e?");
    EXPECT_EQ(b->h.REFNUMBER, 555001u);
    EXPECT_EQ(s(b->h.R_CISADRESS), "101010,1");
    int inbox = 0, outbox = 0;
    for (const auto& r : v) {
        if (r.h.INTERNAL != MailDb) continue;
        if (r.h.MAILTYPE == 1) {
            ++inbox;
            EXPECT_EQ(s(r.h.S_CISADRESS), "hotel@stay.example");
            EXPECT_EQ(s(r.h.R_NAME), "Ann Owner");
        } else {
            ++outbox;
            EXPECT_EQ(s(r.h.R_NAME), "Tom Train");
            EXPECT_EQ(r.h.TIME, clockTime(20, 0, 0));
        }
    }
    EXPECT_EQ(inbox, 2);
    EXPECT_EQ(outbox, 1);
    auto cc = copies();
    ASSERT_EQ(cc.size(), 2u);
    EXPECT_EQ(s(cc[0].R_CISADRESS), "101010,1");
    EXPECT_EQ(s(cc[1].R_NAME), "Pat Road");
    EXPECT_EQ(s(cc[1].R_CISADRESS), "pat@road.example");
}

TEST_F(CisDbf, OuiMailAndNewsgroupArticles) {
    ASSERT_EQ(run("OUI", cisSample("oui/MESSAGE.DBF")), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0].h.INTERNAL, MailDb);
    EXPECT_EQ(v[0].h.MAILTYPE, 1);
    EXPECT_EQ(s(v[0].h.S_CISADRESS), "nina@north.example");
    EXPECT_EQ(s(v[0].h.HEADING), "Photos");
    EXPECT_EQ(v[0].h.DATE, dayNumber(1998, 1, 6));
    EXPECT_EQ(v[1].h.MAILTYPE, 2);  // from the owner's alternative address
    EXPECT_EQ(s(v[1].h.R_CISADRESS), "nina@north.example");
    EXPECT_EQ(s(v[1].h.S_CISADRESS), "71234,567");
    const auto& n1 = v[2].h;
    const auto& n2 = v[3].h;
    EXPECT_EQ(s(n1.FOR_DESCRIPTION), "comp.archives.misc");
    EXPECT_EQ(forumName(n1.INTERNAL), "comp.archives.misc");
    EXPECT_EQ(ctx.target(n1.INTERNAL)->forumType, 3);
    EXPECT_EQ(n1.SECTIONNUMBER, 1);
    EXPECT_NE(n1.MSGNUMBER, 0u);
    EXPECT_NE(n2.REFNUMBER, 0u);
    EXPECT_EQ(v[3].text, "I do.\r\n");
    // Both the article's own ID and its reference are in the ID table.
    TempID.flush();
    std::vector<std::string> ids;
    TempID.setFile();
    while (TempID.next()) ids.push_back(TID.IDSTRING.str());
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_NE(std::find(ids.begin(), ids.end(), "<n1@owl.example>"), ids.end());
}

TEST_F(CisDbf, FiveDamagedRowsInARowGiveTheFileUp) {
    ctx.settings.forumDb = ForumDb;
    const std::vector<DbfWriter::Column> cols = {{"MSG_NUMBER", 'N', 10}, {"MSG_SECTNO", 'N', 3},
                                                 {"MSG_SUBJEC", 'C', 24}, {"MSG_TEXT", 'M', 10}};
    std::vector<DbfWriter::Row> rows;
    for (int i = 0; i < 20; ++i) rows.push_back({std::to_string(1000 + i), "1", "s" + std::to_string(i), "t"});
    const size_t rowLen = 1 + 10 + 3 + 24 + 10, first = 32 + 32 * 4 + 1;
    auto build = [&](const std::string& path, int damagedFrom, int damaged) {
        ASSERT_TRUE(DbfWriter().write(path, cols, rows));
        for (int i = damagedFrom; i < damagedFrom + damaged; ++i) patch(path, first + i * rowLen, "?");
    };
    std::string four = dir.path + "/FOUR.DBF", five = dir.path + "/FIVE.DBF";
    build(four, 4, 4);
    build(five, 4, 5);
    EXPECT_EQ(run("CISCOMM", four), ParseStatus::Done);
    EXPECT_EQ(records().size(), 16u);
    EXPECT_TRUE(headless.shown.empty());
    EXPECT_EQ(run("CISCOMM", five), ParseStatus::Failed);
    EXPECT_EQ(records().size(), 16u + 4u);  // what came before stays
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].text.substr(0, 52), "Quillbox has processed 45 % of this CISCOM file and ");
    EXPECT_NE(headless.shown[0].text.find("always use the PACK option when closing your CISCOM session"),
              std::string::npos);
    // Unattended runs give the file up without a box.
    Mem.DoTask = 2;
    EXPECT_EQ(run("CISCOMM", five), ParseStatus::Failed);
    EXPECT_EQ(headless.shown.size(), 1u);
    Mem.DoTask = 0;
}
