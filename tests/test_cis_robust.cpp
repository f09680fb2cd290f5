// Every CompuServe reader over damaged copies of its sample files: cut short
// at many points, and with bytes changed at random. The readers must end
// each file cleanly and never write a record for another database than the
// run's targets.
#include <random>

#include "tests/cis_testutil.h"

using namespace qb;

namespace {

struct ReaderSample {
    const char* reader;
    const char* file;
};

const ReaderSample kSamples[] = {
    {"OzWin I", "ozwin1/MYFORUM.MSG"},        {"OzWin II", "ozwin2/FORUM.MSG"},
    {"OzCIS", "ozcis/OZCIS.MSG"},             {"TAPCIS 5.x", "tapcis5/FORUM.MSG"},
    {"TAPCIS 5.x", "tapcis5/MAIL.MSG"},       {"TAPCIS 6.x", "tapcis6/MAIL.MSG"},
    {"AUTOSIG", "autosig/FORUM.ATO"},         {"GoldenCompass", "goldencompass/GRAPHICS.MSG"},
    {"WinCIM", "wincim/PRINTERS.THD"},        {"WinCIM", "wincim/MAILIN.MSG"},
    {"WinCIM", "wincim/MAILOUT.MSG"},         {"DOSCIM", "doscim/SHORT.MSG"},
    {"CompuServe 3.x", "compuserve3/FCABINET.DAT"}, {"VirtualAccess", "virtualaccess/MESSAGES"},
    {"NavCIS Save format", "navcis-save/FORUM.SAV"}, {"NavCIS Save format", "navcis-save/MAIL.SAV"},
};

class CisRobust : public CisImport {};

} // namespace

TEST_F(CisRobust, DamagedFilesEndCleanly) {
    ctx.settings.forumDb = ForumDb;
    std::mt19937 rng(1996);
    const char noise[] = "#:\r\n@b@l ,.[]()>\"INTERNET:Sb:Fm:To:\x1a\xb3\xff\x00" "0123456789";
    for (const auto& smp : kSamples) {
        std::string data = readFile(cisSample(smp.file));
        ASSERT_FALSE(data.empty()) << smp.file;
        std::vector<std::string> variants;
        for (size_t cut = 0; cut < data.size(); cut += std::max<size_t>(1, data.size() / 23))
            variants.push_back(data.substr(0, cut));
        for (int m = 0; m < 12; ++m) {
            std::string v = data;
            for (int k = 0; k < 6; ++k) v[rng() % v.size()] = noise[rng() % (sizeof noise - 1)];
            variants.push_back(v);
        }
        for (size_t i = 0; i < variants.size(); ++i) {
            std::string f = dir.path + "/v" + std::to_string(i);
            writeFile(f, variants[i]);
            ParseStatus st = ParseStatus::Failed;
            EXPECT_NO_THROW(st = run(smp.reader, f)) << smp.reader << " " << smp.file << " variant " << i;
            EXPECT_TRUE(st == ParseStatus::Done || st == ParseStatus::NotThisReader) << smp.file << " " << i;
        }
    }
    for (const auto& r : records()) {
        EXPECT_TRUE(ctx.target(r.h.INTERNAL)) << r.h.INTERNAL;
        EXPECT_LE(r.text.size(), NHR_MSGTEXTMax);
    }
}

TEST_F(CisRobust, OverlongTextsAreCutTo64000Characters) {
    std::string f = dir.path + "/big.msg";
    std::string body;
    for (int i = 0; i < 2000; ++i) body += "line " + std::to_string(i) + " of a very long message body text\r\n";
    writeFile(f, "#: 100 S1/Gen (CIS:BIG)\r\n    01-Jan-97\r\nSb: long\r\nFm: A 1,2\r\nTo: B\r\n\r\n" + body);
    ASSERT_EQ(run("OzWin I", f), ParseStatus::Done);
    auto v = records();
    ASSERT_EQ(v.size(), 1u);
    EXPECT_LT(v[0].text.size(), NHR_MSGTEXTMax);
    EXPECT_GT(v[0].text.size(), NHR_MSGTEXTMax - 100);
    // The text is cut at a line end, not in the middle of a line.
    EXPECT_EQ(v[0].text.substr(v[0].text.size() - 2), "\r\n");
    EXPECT_EQ(v[0].text.substr(0, 17), "line 0 of a very ");
}

TEST_F(CisRobust, DamagedTablesEndCleanly) {
    ctx.settings.forumDb = ForumDb;
    struct TableSample {
        const char* reader;
        const char* table;
        const char* memo;
    };
    const TableSample tables[] = {{"CISCOMM", "ciscomm/FORUM.DBF", "ciscomm/FORUM.DBT"},
                                  {"CISCOMM", "ciscomm/MAIL.DBF", "ciscomm/MAIL.DBT"},
                                  {"NavCIS 1.7x-", "navcis17/HRECV.DBF", "navcis17/HRECV.FPT"},
                                  {"NavCIS 1.6x", "navcis16/RECV.DBF", "navcis16/RECV.DBT"},
                                  {"OUI", "oui/MESSAGE.DBF", "oui/MESSAGE.DBT"}};
    std::mt19937 rng(1997);
    int n = 0;
    for (const auto& t : tables) {
        std::string table = readFile(cisSample(t.table)), memo = readFile(cisSample(t.memo));
        std::string memoExt = std::string(t.memo).substr(std::string(t.memo).size() - 4);
        for (int k = 0; k < 30; ++k) {
            std::string tv = table, mv = memo;
            if (k % 3 == 0) tv.resize(rng() % tv.size());
            else if (k % 3 == 1) mv.resize(rng() % mv.size());
            else
                for (int j = 0; j < 8; ++j) tv[rng() % tv.size()] = static_cast<char>(rng() % 256);
            std::string base = dir.path + "/t" + std::to_string(n++);
            writeFile(base + ".DBF", tv);
            writeFile(base + memoExt, mv);
            ParseStatus st = ParseStatus::Done;
            EXPECT_NO_THROW(st = run(t.reader, base + ".DBF")) << t.table << " " << k;
            EXPECT_NE(st, ParseStatus::More);
        }
    }
    for (const auto& r : records()) EXPECT_TRUE(ctx.target(r.h.INTERNAL));
}
