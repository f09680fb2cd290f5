// News readers: article boundaries, the news header parse with its temporary
// Message-ID numbers, newsgroup choice and recipients, and a pre-import of a
// real gatewayed archive.
#include <gtest/gtest.h>

#include "core/dates.h"
#include "internet/news.h"
#include "tests/internettest.h"

using namespace qb;

namespace {

class NewsReaders : public ReaderRun {};

TEST_F(NewsReaders, SampleProbe) {
    std::string path = sampleFile("linux-mips-1996-sample-news.mbox");
    if (path.empty()) GTEST_SKIP() << "sample archive linux-mips-1996-sample-news.mbox not found";
    ASSERT_TRUE(run("Unix News", path, KindNews, 200));
    auto r = records();
    auto ids = tempIds();
    printf("written %llu skipped %llu records %zu ids %zu targets %zu\n", (unsigned long long)ctx.written, (unsigned long long)ctx.skipped, r.size(), ids.size(), ctx.targets.size());
    for (auto& t : ctx.targets) printf("target %u %s %d\n", t.id, t.description.c_str(), t.forumType);
    for (size_t i : {0, 1, 2, 100, 1000, 2999}) {
        if (i >= r.size()) continue;
        printf("[%zu] %s | %s | %s | %s | %s | %d %d | %u %u\n%.200s\n", i, r[i].h.FOR_DESCRIPTION.str().c_str(), r[i].heading().c_str(), r[i].h.S_CISADRESS.str().c_str(),
               r[i].h.S_NAME.str().c_str(), r[i].h.R_NAME.str().c_str(), r[i].h.DATE, r[i].h.TIME, r[i].h.MSGNUMBER, r[i].h.REFNUMBER, r[i].text.c_str());
    }
}

} // namespace
