// Internet mailbox readers: message boundaries, header values, direction and
// the text of each family, and a pre-import of a real mailing-list archive.
#include <gtest/gtest.h>

#include "core/dates.h"
#include "tests/internettest.h"

using namespace qb;

namespace {

class MailReaders : public ReaderRun {};

TEST_F(MailReaders, SampleArchiveProbe) {
    std::string path = sampleFile("linux-mips-1996-sample.mbox");
    if (path.empty()) GTEST_SKIP() << "sample archive linux-mips-1996-sample.mbox not found";
    ASSERT_TRUE(run("Unix Mail", path, KindMail, 200));
    auto r = records();
    printf("written %llu skipped %llu records %zu\n", (unsigned long long)ctx.written, (unsigned long long)ctx.skipped, r.size());
    if (FILE* f = fopen("/tmp/qb_internet_headings.txt", "w")) { for (auto& x : r) fprintf(f, "%s\n", x.heading().c_str()); fclose(f); }
    for (size_t i : {0, 1, 2, 100, 1000, 2999}) {
        if (i >= r.size()) continue;
        printf("[%zu] %s | %s | %s | %s | %d %d | %d\n%.200s\n", i, r[i].heading().c_str(), r[i].h.S_CISADRESS.str().c_str(),
               r[i].h.S_NAME.str().c_str(), r[i].h.R_CISADRESS.str().c_str(), r[i].h.DATE, r[i].h.TIME, r[i].h.MAILTYPE, r[i].text.c_str());
    }
}

} // namespace
