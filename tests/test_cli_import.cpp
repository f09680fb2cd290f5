// The import command of the qbox program: its output, exit status and error paths.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "app/commands.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/maildb.h"
#include "tests/enginereset.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

struct Result {
    int status;
    std::string out, err;
};

std::string quote(const std::string& s) {
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

Result qbox(const std::string& home, const std::string& args) {
    const std::string out = home + "/stdout.txt", err = home + "/stderr.txt";
    std::string cmd = std::string(QBOX_BIN) + " --home " + quote(home) + " " + args + " >" + quote(out) + " 2>" +
                      quote(err) + " </dev/null";
    int rc = std::system(cmd.c_str());
    Result r{WIFEXITED(rc) ? WEXITSTATUS(rc) : 100, readFile(out), readFile(err)};
    return r;
}

void closeHome() {
    qb::testing::resetEngine();
}

// A home with one mail database and its topic "Lists", made in this process and closed again.
void makeMailHome(const std::string& home, uint32_t* mailDb = nullptr, uint32_t* topic = nullptr) {
    HeadlessUi h;
    setUi(&h);
    Mem = MemGlobals{};
    startHeadless(home);
    std::string error;
    uint32_t id = addMailDatabase("Owner Mail", "owner@example.org", {}, &error);
    ASSERT_NE(id, 0u) << error;
    if (mailDb) *mailDb = id;
    ASSERT_TRUE(selectDatabase(id));
    OP_CLOSE(OpOpenShared, Codes.number());
    Codes.clearBuffer();
    COD.TYPE = 2;
    COD.INDEX.set("Lists");
    COD.ID = 777777;
    ASSERT_TRUE(Codes.add());
    if (topic) *topic = COD.ID;
    OP_CLOSE(OpClose, Codes.number());
    closeHome();
}

const std::regex kTotals("^stored ([0-9]+) skipped ([0-9]+)\n$");

} // namespace

TEST(CliImport, ErrorPathsExitWithStatusOne) {
    TempDir home;
    Result r = qbox(home.path, "import --reader NoSuchReader x.mbx");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown reader 'NoSuchReader'"), std::string::npos);
    EXPECT_TRUE(r.out.empty());

    r = qbox(home.path, "import x.mbx");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--reader NAME is required"), std::string::npos);

    r = qbox(home.path, "import --reader 'Unix Mail' --mail-db Nowhere x.mbx");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown mail database 'Nowhere'"), std::string::npos);

    // Mail wanted but no mail database at all: the start check refuses.
    r = qbox(home.path, "import --reader 'Unix Mail' x.mbx");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("You must set up a mail database to import to!"), std::string::npos);

    r = qbox(home.path, "import --reader 'Unix Mail' --kinds mail,letters x.mbx");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown message kind 'letters'"), std::string::npos);

    r = qbox(home.path, "import --reader 'Unix Mail' --dir /tmp x.mbx");
    EXPECT_EQ(r.status, 1);

    r = qbox(home.path, "import --reader 'Unix Mail' --tree " + quote(home.path + "/nowhere"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("does not exist"), std::string::npos);
}

TEST(CliImport, MissingFileIsReportedAndTheRunFails) {
    TempDir home;
    makeMailHome(home.path);
    Result r = qbox(home.path, "import --reader 'Unix Mail' " + quote(home.path + "/missing.mbox"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("does not exist and will be skipped!"), std::string::npos);
    EXPECT_NE(r.err.find("No messages found in selected file(s)!"), std::string::npos);
    EXPECT_EQ(r.out, "stored 0 skipped 0\n");
}

TEST(CliImport, MailboxImportThenTheSameMailboxAgain) {
    TempDir home;
    uint32_t mailDb = 0, topic = 0;
    makeMailHome(home.path, &mailDb, &topic);
    const std::string data = sharedDataFile("linux-mips-1996-sample.mbox");
    if (data.empty()) GTEST_SKIP() << "sample mailbox not available";

    Result r = qbox(home.path, "import --reader 'unix mail' --mail-db 'owner mail' --topic Nope " + quote(data));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown topic 'Nope'"), std::string::npos);

    // A key word that exists before the import is brought up to date by it.
    r = qbox(home.path, "keyword add 'owner mail' Indy --words");
    ASSERT_EQ(r.status, 0) << r.err;
    r = qbox(home.path, "import --reader 'unix mail' --mail-db 'owner mail' --topic lists " + quote(data));
    ASSERT_EQ(r.status, 0) << r.err;
    Result linked = qbox(home.path, "list 'owner mail' --keyword indy");
    Result found = qbox(home.path, "find 'owner mail' Indy --words");
    ASSERT_EQ(linked.status, 0) << linked.err;
    ASSERT_EQ(found.status, 0) << found.err;
    std::set<std::string> linkedIds, foundIds;
    for (size_t p = 0; p < linked.out.size(); p = linked.out.find('\n', p) + 1)
        linkedIds.insert(linked.out.substr(p, linked.out.find('\t', p) - p));
    for (size_t p = 0; p < found.out.size(); p = found.out.find('\n', p) + 1)
        foundIds.insert(found.out.substr(p, found.out.find('\n', p) - p));
    EXPECT_GT(linkedIds.size(), 5u);
    EXPECT_EQ(linkedIds, foundIds);  // the standard search finds the same mail
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m, kTotals)) << r.out;
    const unsigned long stored = std::stoul(m[1]);
    EXPECT_GT(stored, 2500u);
    EXPECT_NE(r.err.find("The time for completion was: "), std::string::npos);

    // Every mail is a duplicate the second time.
    r = qbox(home.path, "import --reader 'Unix Mail' " + quote(data));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(std::regex_match(r.out, m, kTotals)) << r.out;
    EXPECT_EQ(std::stoul(m[1]), 0u);
    EXPECT_GE(std::stoul(m[2]), stored);

    // Every stored mail carries the topic, and the registry counts the mail.
    HeadlessUi h;
    setUi(&h);
    startHeadless(home.path);
    ASSERT_TRUE(selectDatabase(mailDb));
    OP_CLOSE(OpOpenShared, SIndex.number(), Mail.number(), Forums.number());
    EXPECT_EQ(Mail.records(), static_cast<int64_t>(stored));
    SIndex.clearBuffer();
    SIN.ID = topic;
    SIN.MSGNUMBER = 0xFFFFFFFFu;
    SIndex.setFrom(SIN_IdKey);
    unsigned long topicLinks = 0;
    while (SIndex.next() && SIN.ID == topic) ++topicLinks;
    EXPECT_EQ(topicLinks, stored);
    Forums.clearBuffer();
    FOR.ID = mailDb;
    ASSERT_TRUE(Forums.get(FOR_ForumKey));
    EXPECT_EQ(FOR.MSGCOUNT, stored);
    // The topic counts its links.
    OP_CLOSE(OpOpenShared, Codes.number());
    Codes.clearBuffer();
    COD.TYPE = 2;
    COD.INDEX = "Lists";
    ASSERT_TRUE(Codes.get(COD_ClassKey));
    EXPECT_EQ(COD.COUNT, stored);
    OP_CLOSE(OpClose, Codes.number());
    OP_CLOSE(OpClose, SIndex.number(), Mail.number(), Forums.number());
    closeHome();
}

TEST(CliImport, InterruptStopsBetweenBatchesAndKeepsWhatIsStored) {
    TempDir home;
    makeMailHome(home.path);
    const std::string sample = sharedDataFile("linux-mips-1996-sample.mbox");
    if (sample.empty()) GTEST_SKIP() << "sample mailbox not available";
    // Ten copies, each of its own messages (the subject tells them apart).
    const std::string one = readFile(sample);
    std::string big;
    for (int i = 0; i < 10; ++i) {
        std::string copy = one;
        for (size_t p = 0; (p = copy.find("\nSubject: ", p)) != std::string::npos; p += 10)
            copy.insert(p + 10, "[" + std::to_string(i) + "] ");
        big += copy;
    }
    const std::string mbox = home.path + "/big.mbox";
    writeFile(mbox, big);

    const std::string out = home.path + "/out.txt", err = home.path + "/err.txt";
    pid_t pid = fork();
    if (pid == 0) {
        freopen(out.c_str(), "w", stdout);
        freopen(err.c_str(), "w", stderr);
        execl(QBOX_BIN, QBOX_BIN, "--home", home.path.c_str(), "import", "--reader", "Unix Mail", mbox.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    usleep(700 * 1000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
    if (WEXITSTATUS(status) == 0) GTEST_SKIP() << "the import ended before the interrupt";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::smatch m;
    const std::string first = readFile(out);
    ASSERT_TRUE(std::regex_match(first, m, kTotals)) << first;
    const unsigned long storedFirst = std::stoul(m[1]);

    // The next run finds the files free and stores the rest.
    Result r = qbox(home.path, "import --reader 'Unix Mail' " + quote(mbox));
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(std::regex_match(r.out, m, kTotals)) << r.out;
    EXPECT_GT(std::stoul(m[1]) + storedFirst, 29000u);
    EXPECT_EQ(r.err.find("Bad keys"), std::string::npos);
}

namespace {

// A mailbox of the cases that lost text or stopped an import: base64 after a
// preamble in a text part and in an HTML part, a bare "From " line in a header
// block, encoded-word subjects and Latin-1 quoted-printable.
const char* const kHardMailbox =
    "From mboxrd@z Thu Jan  1 00:00:00 1970\n"
    "From: \"Sanjay Kumar\" <sanjay@example.com>\n"
    "To: <u-boot@lists.example>\n"
    "Subject: Exception in U-Boot\n"
    "Date: Thu, 29 Apr 2010 23:04:54 +0900\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed;\n"
    "        boundary=\"----_=_NextPart_001_01CAE7A5.A129BFBB\"\n"
    "\n"
    "This is a multi-part message in MIME format.\n"
    "\n"
    "------_=_NextPart_001_01CAE7A5.A129BFBB\n"
    "Content-Type: text/plain;\n"
    "\tcharset=\"utf-8\"\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "SGkgQWxsLA0KICAgICAgV2UgYXJlIHBvcnRpbmcgVS1ib290Lg0KDQpXaXRo\n"
    "IFRoYW5rcw0K\n"
    "\n"
    "------_=_NextPart_001_01CAE7A5.A129BFBB\n"
    "Content-Type: application/octet-stream; name=\"start.S\"\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "LyoKICogIFN0YXJ0dXAgQ29kZSBmb3IgTUlQUzMyIENQVS1jb3JlCiAqCg==\n"
    "------_=_NextPart_001_01CAE7A5.A129BFBB--\n"
    "\n"
    "From mboxrd@z Thu Jan  1 00:00:00 1970\n"
    "From: Renee <renee@example.fr>\n"
    "To: list@lists.example\n"
    "Subject: =?UTF-8?B?Q2Fmw6kgbWVudQ==?=\n"
    "Date: Fri, 30 Apr 2010 12:00:00 +0200\n"
    "Content-Type: multipart/alternative; boundary=\"alt-1\"\n"
    "\n"
    "This is a multi-part message in MIME format.\n"
    "--alt-1\n"
    "Content-Type: text/html; charset=utf-8\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "PGh0bWw+PGJvZHk+PHA+Q2Fmw6kgYXQgbm9vbiwgc2FpZCBSZW7DqWUuPC9w\n"
    "PjwvYm9keT48L2h0bWw+\n"
    "--alt-1--\n"
    "\n"
    "From mboxrd@z Thu Jan  1 00:00:00 1970\n"
    "Received: from relay.example by mail.example;\n"
    "        Sat, 1 May 2010 08:00:00 +0000\n"
    "From \n"
    "From: Kurt <kurt@example.de>\n"
    "from \n"
    "To: list@lists.example\n"
    "Subject: =?ISO-8859-1?Q?Gr=FC=DFe_aus_K=F6ln?=\n"
    "Date: Sat, 1 May 2010 10:00:00 +0200\n"
    "Content-Type: text/plain; charset=iso-8859-1\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "Sch=F6ne Gr=FC=DFe aus K=F6ln, und ein sehr langer Satz, der umbrochen wi=\n"
    "rd.\n"
    "\n"
    "From mboxrd@z Thu Jan  1 00:00:00 1970\n"
    "From: Ann <ann@example.org>\n"
    "To: list@lists.example\n"
    "Subject: plain after all that\n"
    "Date: Sun, 2 May 2010 10:00:00 +0200\n"
    "\n"
    "Still here.\n";

// Characters of a text that are neither printable nor line ends or tabs.
size_t controlBytes(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c == 0x7F) ++n;
    return n;
}

} // namespace

TEST(CliImport, HardMailboxIsStoredWholeAndReadableInShow) {
    TempDir home;
    makeMailHome(home.path);
    const std::string mbox = home.path + "/hard.mbox";
    writeFile(mbox, kHardMailbox);
    Result r = qbox(home.path, "import --reader 'Unix Mail' --mail-db 'Owner Mail' " + quote(mbox));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "stored 4 skipped 0\n");

    r = qbox(home.path, "list 'Owner Mail'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> ids;
    std::string subjects;
    for (size_t at = 0; at < r.out.size();) {
        size_t nl = r.out.find('\n', at);
        std::string line = r.out.substr(at, nl - at);
        ids.push_back(line.substr(0, line.find('\t')));
        subjects += line.substr(line.rfind('\t') + 1) + "|";
        at = nl == std::string::npos ? r.out.size() : nl + 1;
    }
    ASSERT_EQ(ids.size(), 4u) << r.out;
    // Encoded-word subjects in UTF-8 on the command line.
    EXPECT_NE(subjects.find("Caf\xC3\xA9 menu|"), std::string::npos) << subjects;
    EXPECT_NE(subjects.find("Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln|"), std::string::npos) << subjects;

    std::string all;
    for (const std::string& id : ids) {
        Result m = qbox(home.path, "show 'Owner Mail' " + id + " --plain");
        ASSERT_EQ(m.status, 0) << m.err;
        EXPECT_EQ(controlBytes(m.out), 0u) << m.out;
        all += m.out;
    }
    // The base64 text after its preamble, the preamble itself, and nothing of the attachment.
    EXPECT_NE(all.find("This is a multi-part message in MIME format."), std::string::npos);
    EXPECT_NE(all.find("Hi All,"), std::string::npos) << all;
    EXPECT_NE(all.find("We are porting U-boot."), std::string::npos);
    EXPECT_EQ(all.find("Startup Code"), std::string::npos);
    // The HTML part in base64, as text.
    EXPECT_NE(all.find("Caf\xC3\xA9 at noon, said Ren\xC3\xA9" "e."), std::string::npos) << all;
    // Latin-1 quoted-printable with a soft line break.
    EXPECT_NE(all.find("Sch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln, und ein sehr langer Satz, der umbrochen wird."),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("Still here."), std::string::npos);
}
