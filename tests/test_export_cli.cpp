// The export, print and addresses commands, proved on the files themselves:
// another program reads the mailboxes, the importers read them back, and the
// PDF report reads as text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "core/dates.h"
#include "tests/reading_fixture.h"

using namespace qb;
using qb::testing::ReadingDb;

namespace {

struct CmdRun {
    int status = -1;
    std::string out, err;
};

CmdRun sh(const std::string& cmd, const std::string& errFile) {
    CmdRun r;
    FILE* p = popen((cmd + " 2>'" + errFile + "'").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = readFile(errFile);
    return r;
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

CmdRun qbox(const std::string& home, const std::string& args) {
    return sh(std::string(QBOX_BIN) + " --home " + quote(home) + " " + args, home + "/stderr.txt");
}

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    size_t p = 0;
    while (p < s.size()) {
        size_t e = s.find('\n', p);
        if (e == std::string::npos) e = s.size();
        out.push_back(s.substr(p, e - p));
        p = e + 1;
    }
    return out;
}

// The "list" lines of a database with the ID column cut off, sorted: date,
// sender and subject of every message.
std::vector<std::string> listed(const std::string& home, const std::string& db) {
    CmdRun r = qbox(home, "list " + quote(db));
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> out;
    for (const std::string& l : lines(r.out)) out.push_back(l.substr(l.find('\t') + 1));
    std::sort(out.begin(), out.end());
    return out;
}

const std::string kSample = sharedDataFile("linux-mips-1996-sample.mbox");

// Python's mailbox module reads each message of the mailboxes and prints its
// date, its sender (the name, else the address) and its subject as the list
// command shows them.
const char* const kReadMbox = R"PY(
import mailbox, sys, email.utils, email.header
def text(v):
    return str(email.header.make_header(email.header.decode_header(str(v or ''))))
out = []
for path in sys.argv[1:]:
    for m in mailbox.mbox(path, create=False):
        d = email.utils.parsedate(m['Date'])
        name, addr = email.utils.parseaddr(text(m['From']))
        out.append('%04d-%02d-%02d\t%s\t%s' % (d[0], d[1], d[2], name or addr, text(m['Subject'])))
sys.stdout.buffer.write(('\n'.join(out) + '\n').encode('utf-8'))
)PY";

class ExportCli : public ReadingDb {};

} // namespace

TEST_F(ExportCli, UnixMailboxReadByPythonAndImportedAgain) {
    if (kSample.empty()) GTEST_SKIP() << "the sample archive is not there";
    ASSERT_EQ(qbox(home.path, "db add-mail Lists --address nobody@archive.example").status, 0);
    CmdRun r = qbox(home.path, "import --reader 'Unix Mail' --mail-db Lists " + quote(kSample));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> before = listed(home.path, "Lists");
    ASSERT_GT(before.size(), 2500u);

    r = qbox(home.path, "export Lists --target unix");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 3u) << r.out;
    EXPECT_EQ(out[2], "exported " + std::to_string(before.size()));
    const std::string inbox = out[0], outbox = out[1];
    EXPECT_EQ(inbox, home.path + "/TEMP/InBox.MBX");

    // Every message, with its date, sender and subject, as another program reads it.
    writeFile(home.path + "/readmbox.py", kReadMbox);
    r = sh("python3 " + quote(home.path + "/readmbox.py") + " " + quote(inbox) + " " + quote(outbox),
           home.path + "/py.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> read = lines(r.out);
    std::sort(read.begin(), read.end());
    ASSERT_EQ(read.size(), before.size());
    size_t differ = 0;
    for (size_t i = 0; i < read.size(); ++i)
        if (read[i] != before[i] && differ++ < 5) ADD_FAILURE() << "read " << read[i] << "\nstored " << before[i];
    EXPECT_EQ(differ, 0u);

    // Imported again into an empty mail database: the same messages.
    ASSERT_EQ(qbox(home.path, "db add-mail Again --address nobody@archive.example").status, 0);
    r = qbox(home.path, "import --reader 'Unix Mail' --mail-db Again " + quote(inbox) + " " + quote(outbox));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out).back(), "stored " + std::to_string(before.size()) + " skipped 0");
    // The importer keeps a subject without its leading "Re:"; a stored subject
    // that still begins with one ("Re: Re: ..." in the archive) loses it on
    // the way in again, as it would from any mailbox.
    auto withoutRe = [](std::vector<std::string> v) {
        for (std::string& l : v) {
            const size_t tab = l.rfind('\t') + 1;
            if (l.size() >= tab + 3 && (l.compare(tab, 3, "Re:") == 0 || l.compare(tab, 3, "RE:") == 0)) {
                size_t k = tab + 3;
                while (k < l.size() && l[k] == ' ') ++k;
                l.erase(tab, k - tab);
            }
        }
        std::sort(v.begin(), v.end());
        return v;
    };
    const std::vector<std::string> again = withoutRe(listed(home.path, "Again"));
    const std::vector<std::string> stored = withoutRe(before);
    std::vector<std::string> lost, gained;
    std::set_difference(stored.begin(), stored.end(), again.begin(), again.end(), std::back_inserter(lost));
    std::set_difference(again.begin(), again.end(), stored.begin(), stored.end(), std::back_inserter(gained));
    EXPECT_TRUE(lost.empty() && gained.empty())
        << lost.size() << " lost, first: " << (lost.empty() ? "" : lost[0]) << "\n"
        << gained.size() << " gained, first: " << (gained.empty() ? "" : gained[0]);
}

TEST_F(ExportCli, NewsgroupExportImportsIntoTheSameNewsgroup) {
    std::string news;
    for (int i = 1; i <= 4; ++i) {
        news += "From news@host Mon Mar  4 10:00:00 1996\n"
                "From: Poster " + std::to_string(i) + " <p" + std::to_string(i) + "@example.org>\n"
                "Newsgroups: comp.os.test\n"
                "Date: Mon, 0" + std::to_string(i) + " Mar 1996 10:00:00 GMT\n"
                "Subject: " + std::string(i > 2 ? "Re: " : "") + "Topic " + std::to_string(i > 2 ? 1 : i) + "\n"
                "Message-ID: <m" + std::to_string(i) + "@example.org>\n" +
                (i > 2 ? "References: <m1@example.org>\n" : "") +
                "\n"
                "Article " + std::to_string(i) + "\nFrom here the body goes on.\n\n";
    }
    writeFile(home.path + "/news.txt", news);
    CmdRun r = qbox(home.path, "import --reader 'Unix News' " + quote(home.path + "/news.txt"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> before = listed(home.path, "comp.os.test");
    ASSERT_EQ(before.size(), 4u);

    r = qbox(home.path, "export comp.os.test --target unix");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 2u) << r.out;
    EXPECT_EQ(out[0], home.path + "/TEMP/SaveMsg.TXT");
    EXPECT_EQ(out[1], "exported 4");

    // Into the same home: the newsgroup already holds every one of them.
    r = qbox(home.path, "import --reader 'Unix News' " + quote(out[0]));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out).back(), "stored 0 skipped 4");
    // Into a new home: the same newsgroup with the same messages.
    TempDir other;
    r = qbox(other.path, "import --reader 'Unix News' " + quote(out[0]));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out).back(), "stored 4 skipped 0");
    EXPECT_EQ(listed(other.path, "comp.os.test"), before);
}

TEST_F(ExportCli, PrintedReportAndAddressBook) {
    makeDatabase(1, "Windows Tools", 300000, 1);
    beginBulk();
    addPerson(10, "Al", "Smith", "70000,1");
    addPerson(11, "Bo", "Jones", "bo@example.org");
    addSection(500, 3, "Utilities");
    addThread(600, 500, "Disk tools", 2);
    addMessage(10, 0, 600, "Disk tools", 500, dayNumber(1997, 1, 5), 10, "Smith", 11, "Jones");
    addMessage(11, 10, 600, "Disk tools", 500, dayNumber(1997, 1, 6), 11, "Jones", 10, "Smith");
    std::string longText;
    for (int i = 1; i <= 300; ++i) longText += "Line " + std::to_string(i) + " of a long message\r\n";
    addText(10, longText + "Last line of message ten\r\n");
    addText(11, "A short answer\r\n");
    endBulk();
    closeAllTables();

    const std::string pdf = home.path + "/report.pdf";
    CmdRun r = qbox(home.path, "print 'Windows Tools' --pdf " + quote(pdf));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, pdf + "\nprinted 2\n");
    r = sh("pdftotext -layout " + quote(pdf) + " -", home.path + "/pdf.txt");
    ASSERT_EQ(r.status, 0) << "pdftotext: " << r.err;
    const std::string text = r.out;
    EXPECT_NE(text.find("Messages from the Quillbox Message Archiver Database"), std::string::npos) << text;
    EXPECT_NE(text.find("(reply to 10)"), std::string::npos) << text.substr(0, 3000);
    EXPECT_NE(text.find("Al Smith 70000,1"), std::string::npos);
    EXPECT_NE(text.find("Last line of message ten"), std::string::npos);
    EXPECT_NE(text.find("A short answer"), std::string::npos);
    // The long text goes on over the following pages.
    EXPECT_GE(std::count(text.begin(), text.end(), '\f'), 3);

    // A topic over a thread, from the command line.
    ASSERT_EQ(qbox(home.path, "topic add 'Windows Tools' Tools").status, 0);
    r = qbox(home.path, "classify 'Windows Tools' Tools --scope thread --id 11");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "classified 2\n");
    r = qbox(home.path, "classify 'Windows Tools' Tools --scope current --id 11 --remove");
    EXPECT_EQ(r.out, "classified 1\n");
    r = qbox(home.path, "export 'Windows Tools' --target tapcis --scope topic --topic Tools");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out).back(), "exported 1");

    r = qbox(home.path, "addresses 'Windows Tools' --target ozwin2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, home.path + "/TEMP/Address.Ab\nwritten 2\n");
    EXPECT_EQ(readFile(home.path + "/TEMP/Address.Ab").size(), (1 + 8 + 1 + 7 + 2) + (1 + 8 + 1 + 23 + 2u));
}

TEST_F(ExportCli, BadOptionsAreRefused) {
    makeDatabase(2, "Home Mail", 300000, 1, 100);
    addPerson(100, "Ann", "Owner", "ann@home.example");
    addMail(1000, dayNumber(1996, 3, 1), 0, "One", 100, "Owner", 100, "Owner", 100);
    closeAllTables();
    struct Case {
        std::string args, message;
    } cases[] = {
        {"--target eudora --file ../x.mbx", "[Filename error] Do not include the path, just the filename!"},
        {"--target unix --file2 /tmp/y.mbx", "[Filename error] Do not include the path, just the filename!"},
        {"--target unix --from 1996-03-02 --to 1996-03-01",
         "[Date range filter error] A negative date range cannot be allowed."},
        {"--target unix --from 1996-02-30 --to 1996-03-01",
         "[Date range filter error] A valid From-date must be entered to apply a date range filter."},
        {"--target unix --from 1996-03-01",
         "[Date range filter error] A valid To-date must be entered to apply a date range filter."},
        {"--target eudora --file Mail.MBX --file2 mail.mbx",
         "[File name conflict] Inbox and Outbox files cannot have the same name."},
    };
    for (const Case& c : cases) {
        CmdRun r = qbox(home.path, "export 'Home Mail' " + c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.args;
    }
    EXPECT_FALSE(std::filesystem::exists(home.path + "/TEMP/Mail.MBX"));
    EXPECT_FALSE(std::filesystem::exists(home.path + "/x.mbx"));
    CmdRun r = qbox(home.path, "addresses 'Home Mail' --target unix --file sub/a.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("[Filename error] Do not include the path, just the filename!"), std::string::npos);
    r = qbox(home.path, "export 'Home Mail' --target unix --scope sender");
    EXPECT_NE(r.status, 0);
    r = qbox(home.path, "export 'Home Mail' --target unix --scope sender --id 1000");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out).back(), "exported 1");
}

namespace {

// The status byte of a row, read back after a command changed it.
template <class Set>
int statusOf(Table& t, int key, Set setKey, uint8_t& field) {
    OP_CLOSE(OpOpenShared, t.number());
    t.clearBuffer();
    setKey();
    const int status = t.get(key) ? field : -1;
    OP_CLOSE(OpClose, t.number());
    return status;
}

int messageStatus(uint32_t n) {
    return statusOf(MsgNmbr, MSG_IdKey, [&] { MSG.MSGNUMBER = n; }, MSG.DUMMY);
}
int threadStatus(uint32_t n) {
    return statusOf(Threads, THR_ThreadKey, [&] { THR.THREADNUMBER = n; }, THR.DUMMY);
}

} // namespace

TEST_F(ExportCli, MarkOverAScope) {
    makeDatabase(1, "Windows Tools", 300000, 1);
    beginBulk();
    addPerson(10, "Al", "Smith", "70000,1");
    addSection(500, 3, "Utilities");
    addThread(600, 500, "Disk tools", 3);
    addThread(601, 500, "Editors", 1);
    addMessage(10, 0, 600, "Disk tools", 500, dayNumber(1997, 1, 5), 10, "Smith");
    addMessage(11, 10, 600, "Disk tools", 500, dayNumber(1997, 1, 6), 10, "Smith");
    addMessage(12, 11, 600, "Disk tools", 500, dayNumber(1997, 1, 9), 10, "Smith");
    addMessage(13, 0, 601, "Editors", 500, dayNumber(1997, 1, 6), 10, "Smith");
    endBulk();
    closeAllTables();

    // Without a date range the thread row stands for the thread.
    CmdRun r = qbox(home.path, "mark 'Windows Tools' --scope thread --id 11 --keep");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "marked 1\n");
    EXPECT_EQ(threadStatus(600), 1);
    EXPECT_EQ(threadStatus(601), 0);
    for (uint32_t n : {10u, 11u, 12u, 13u}) EXPECT_EQ(messageStatus(n), 0) << n;

    // With one, every message of the thread inside the range is marked, and
    // the thread row is left as it was.
    r = qbox(home.path, "mark 'Windows Tools' --scope thread --id 10 --from 1997-01-06 --to 1997-01-09 --delete");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "marked 2\n");
    EXPECT_EQ(messageStatus(10), 0);
    EXPECT_EQ(messageStatus(11), 2);
    EXPECT_EQ(messageStatus(12), 2);
    EXPECT_EQ(messageStatus(13), 0);
    EXPECT_EQ(threadStatus(600), 1);

    // A topic has no status row: each of its messages is written.
    ASSERT_EQ(qbox(home.path, "topic add 'Windows Tools' Keepers").status, 0);
    ASSERT_EQ(qbox(home.path, "classify 'Windows Tools' Keepers 12 13").status, 0);
    r = qbox(home.path, "mark 'Windows Tools' --scope topic --topic Keepers --normal");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "marked 2\n");
    EXPECT_EQ(messageStatus(12), 0);
    EXPECT_EQ(messageStatus(11), 2);

    // The by-ID form is still there.
    r = qbox(home.path, "mark 'Windows Tools' 13 --keep");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(messageStatus(13), 1);
}

TEST_F(ExportCli, ScopeErrorsOfMarkAndClassify) {
    makeDatabase(1, "Windows Tools", 300000, 1);
    beginBulk();
    addSection(500, 3, "Utilities");
    addThread(600, 500, "Disk tools", 1);
    addMessage(10, 0, 600, "Disk tools", 500, dayNumber(1997, 1, 5), 0, "");
    endBulk();
    closeAllTables();
    ASSERT_EQ(qbox(home.path, "topic add 'Windows Tools' Tools").status, 0);
    struct Case {
        std::string args, message;
        int status;
    } cases[] = {
        {"mark 'Windows Tools' --scope everything --keep", "unknown scope 'everything'", 1},
        {"classify 'Windows Tools' Tools --scope everything", "unknown scope 'everything'", 1},
        {"mark 'Windows Tools' --scope thread --id 99 --keep", "no message 99", 1},
        {"classify 'Windows Tools' Tools --scope current --id 99", "no message 99", 1},
        {"mark 'Windows Tools' --scope current --id 10 --from 1997-01-06 --to 1997-01-05 --delete",
         "[Date range filter error] A negative date range cannot be allowed.", 1},
        {"mark 'Windows Tools' --scope thread --keep", "needs --id", 2},
        {"mark 'Windows Tools' --scope all --keep --delete", "usage:", 2},
        {"mark 'Windows Tools' --scope partner --id 10 --keep", "only a mail database has mail partners", 2},
        {"mark Nowhere --scope all --keep", "Nowhere", 1},
    };
    for (const Case& c : cases) {
        CmdRun r = qbox(home.path, c.args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.args;
    }
    EXPECT_EQ(messageStatus(10), 0);
    EXPECT_EQ(threadStatus(600), 0);
}
