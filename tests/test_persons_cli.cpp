// The person commands of qbox on databases filled by the import: the person
// list, dedup-persons and what a later import does with a removed identity,
// rename (of the own person too), aliases, swap and merge, and the errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/maildb.h"
#include "tests/qboxrun.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

using Result = qb::testing::CliResult;
const auto quote = qb::shellQuote;
Result qbox(const std::string& home, const std::string& args) { return qb::testing::runQbox(home, args); }

std::vector<std::vector<std::string>> rows(const std::string& out) {
    std::vector<std::vector<std::string>> r;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        size_t start = 0, tab;
        while ((tab = line.find('\t', start)) != std::string::npos) {
            cols.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        cols.push_back(line.substr(start));
        r.push_back(cols);
    }
    return r;
}

std::string mailText(const std::string& from, const std::string& date, const std::string& subject) {
    return "From someone Mon Jan  1 00:00:00 1996\n"
           "From: " + from + "\nTo: Kim Owner <owner@example.org>\nDate: " + date + "\nSubject: " + subject +
           "\n\nText of " + subject + ".\n\n";
}

std::string sharedSample() { return sharedDataFile("linux-mips-1996-sample.mbox"); }

const std::regex kDedup("^existing ([0-9]+) removed ([0-9]+) merged ([0-9]+) remaining ([0-9]+)\n$");

} // namespace

TEST(PersonsCli, DedupThenImportOfARemovedIdentityLandsOnTheKeeper) {
    TempDir home;
    ASSERT_EQ(qbox(home.path, "db add-mail 'Kim Owner' --address owner@example.org").status, 0);
    const std::string first = home.path + "/first.mbox";
    writeFile(first, mailText("John Smith <js@x.org>", "Mon, 1 Jan 1996 10:00:00 +0000", "one") +
                         mailText("J. Smith <JS@x.org>", "Tue, 2 Jan 1996 10:00:00 +0000", "two") +
                         mailText("Lee Other <lee@x.org>", "Tue, 2 Jan 1996 11:00:00 +0000", "three"));
    Result r = qbox(home.path, "import --reader 'Unix Mail' " + quote(first));
    ASSERT_EQ(r.status, 0) << r.err;

    r = qbox(home.path, "persons 'kim owner' --by address");
    ASSERT_EQ(r.status, 0) << r.err;
    auto list = rows(r.out);
    ASSERT_EQ(list.size(), 4u) << r.out;
    std::map<std::string, std::string> idOf;  // first name -> ID
    for (auto& c : list) {
        ASSERT_EQ(c.size(), 6u);
        idOf[c[2]] = c[0];
    }

    r = qbox(home.path, "dedup-persons 'Kim Owner'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m, kDedup)) << r.out;
    EXPECT_EQ(m[1], "4");
    EXPECT_EQ(m[2], "0");
    EXPECT_EQ(m[3], "1");
    EXPECT_EQ(m[4], "3");

    // The keeper is the one with the latest mail; the other string is its alias.
    const std::string keeper = idOf["J."];
    r = qbox(home.path, "person aliases 'Kim Owner' " + keeper);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "JOHN SMITH JS@X.ORG\n");

    const std::string second = home.path + "/second.mbox";
    writeFile(second, mailText("John Smith <js@x.org>", "Wed, 3 Jan 1996 10:00:00 +0000", "four"));
    r = qbox(home.path, "import --reader 'Unix Mail' " + quote(second));
    ASSERT_EQ(r.status, 0) << r.err;
    r = qbox(home.path, "persons 'Kim Owner'");
    list = rows(r.out);
    ASSERT_EQ(list.size(), 3u) << r.out;
    std::set<std::string> addresses;
    for (auto& c : list) {
        EXPECT_TRUE(addresses.insert(lower(c[3])).second) << c[3];
        if (c[0] == keeper) {
            EXPECT_EQ(c[1], "Smith");
            EXPECT_EQ(c[4], "3");  // two merged and the new one
        }
    }

    // Rename the keeper, swap its identity, and list again.
    r = qbox(home.path, "person rename 'Kim Owner' " + keeper + " --last Smithson --first Jay");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(rows(r.out).at(0).at(1), "Smithson");
    r = qbox(home.path, "person swap 'Kim Owner' " + keeper + " 'john smith js@x.org'");
    ASSERT_EQ(r.status, 0) << r.err;
    r = qbox(home.path, "person aliases 'Kim Owner' " + keeper);
    EXPECT_EQ(r.out, "J. SMITH JS@X.ORG\n");
    r = qbox(home.path, "list 'Kim Owner'");
    EXPECT_NE(r.out.find("Smithson"), std::string::npos) << r.out;

    // Merge the third partner into the keeper.
    r = qbox(home.path, "person merge 'Kim Owner' " + keeper + " " + idOf["Lee"]);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(rows(r.out).at(0).at(4), "4");
    EXPECT_EQ(rows(qbox(home.path, "persons 'Kim Owner'").out).size(), 2u);
}

TEST(PersonsCli, OwnPersonAndUnknownPersons) {
    TempDir home;
    ASSERT_EQ(qbox(home.path, "db add-mail 'Kim Owner' --address owner@example.org").status, 0);
    ASSERT_EQ(qbox(home.path, "db add-mail 'Sam Other' --address sam@example.org").status, 0);
    Result r = qbox(home.path, "persons 'Kim Owner'");
    ASSERT_EQ(r.status, 0) << r.err;
    auto list = rows(r.out);
    ASSERT_EQ(list.size(), 1u);
    const std::string own = list[0][0];

    r = qbox(home.path, "person rename 'Kim Owner' 999 --last X");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no person 999"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    r = qbox(home.path, "person swap 'Kim Owner' " + own + " 'KIM OWNER KIM@OLD.ORG'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("You are not allowed to change the mail default address!"), std::string::npos) << r.err;
    r = qbox(home.path, "person merge 'Kim Owner' 999 " + own);
    EXPECT_EQ(r.status, 1);

    // The name of another database is refused; the person stays as it was.
    r = qbox(home.path, "person rename 'Kim Owner' " + own + " --last Other --first Sam");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(rows(qbox(home.path, "persons 'Kim Owner'").out).at(0).at(1), "Owner");

    // Renaming the own person renames the database.
    r = qbox(home.path, "person rename 'Kim Owner' " + own + " --last Newname --first Kim");
    ASSERT_EQ(r.status, 0) << r.err;
    r = qbox(home.path, "db list");
    EXPECT_NE(r.out.find("\tKim Newname\t"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\tKim Owner\t"), std::string::npos) << r.out;
    EXPECT_EQ(qbox(home.path, "persons 'Kim Newname'").status, 0);
}

TEST(PersonsCli, RealArchiveLeavesNoSharedAddress) {
    const std::string sample = sharedSample();
    if (sample.empty()) GTEST_SKIP() << "sample mailbox not available";
    TempDir home;
    ASSERT_EQ(qbox(home.path, "db add-mail 'Archive' --address ralf@example.org").status, 0);
    Result r = qbox(home.path, "import --reader 'Unix Mail' " + quote(sample));
    ASSERT_EQ(r.status, 0) << r.err;
    r = qbox(home.path, "persons Archive --by address");
    const size_t before = rows(r.out).size();
    r = qbox(home.path, "dedup-persons Archive");
    ASSERT_EQ(r.status, 0) << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m, kDedup)) << r.out;
    const unsigned long existing = std::stoul(m[1]), removed = std::stoul(m[2]), merged = std::stoul(m[3]),
                        remaining = std::stoul(m[4]);
    EXPECT_EQ(existing, before);
    EXPECT_GT(merged, 0u);  // the archive has people writing under several names
    EXPECT_EQ(existing, removed + merged + remaining);

    r = qbox(home.path, "persons Archive --by address");
    auto list = rows(r.out);
    EXPECT_EQ(list.size(), remaining);
    std::set<std::string> seen;
    unsigned long messages = 0;
    for (auto& c : list) {
        if (!c[3].empty()) {
            EXPECT_TRUE(seen.insert(lower(c[3])).second) << c[3];
        }
        messages += std::stoul(c[4]);
    }
    // Every mail still has its sender among the persons.
    r = qbox(home.path, "db list");
    auto dbs = rows(r.out);
    ASSERT_EQ(dbs.size(), 1u);
    EXPECT_EQ(std::to_string(messages), dbs[0][4]);
}
