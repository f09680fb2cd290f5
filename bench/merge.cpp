// Merge throughput: messages per second merging a forum database of COUNT
// messages into an empty one, beside the import's own rate for the same
// messages. The source is made by an import of generated records (2000
// threads, 12 sections, 700 members); its import pass is timed on the way.
//
//   bench_merge [DIR] [COUNT]     (default: a fresh temporary directory, 200000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "bench/benchdata.h"
#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/merge.h"
#include "import/parser.h"
#include "import/pipeline.h"

namespace fs = std::filesystem;
using namespace qb;
using bench::Clock;
using bench::seconds;

namespace {

long gCount = 200000;

std::string body(long i) {
    std::string t;
    t.reserve(900);
    for (int line = 0; line < 12; ++line)
        t += "Line " + std::to_string(line) + " of message " + std::to_string(i) +
             ": the quick brown fox jumps over the lazy dog again\r\n";
    return t;
}

class GeneratingParser : public Parser {
public:
    ParseStatus begin(const std::string&, ImportContext&) override { return ParseStatus::More; }
    ParseStatus step(ImportContext& ctx, int batch) override {
        for (int b = 0; b < batch; ++b, ++i_) {
            if (i_ >= gCount) return ParseStatus::Done;
            const long n = i_;
            NewHR.clearBuffer();
            NHR.DATE = dayNumber(1996, 1, 1) + static_cast<int32_t>(n / 300);
            NHR_MSGTEXT = body(n);
            NHR.MSGNUMBER = static_cast<uint32_t>(n + 1);
            NHR.REFNUMBER = n >= 2000 ? static_cast<uint32_t>(n + 1 - 2000) : 0;
            NHR.HEADING.set("Thread heading " + std::to_string(n % 2000));
            NHR.SECTIONNUMBER = static_cast<uint8_t>(n % 12);
            NHR.SEC_DESCRIPTION.set("Section " + std::to_string(n % 12));
            NHR.S_NAME.set("Member " + std::to_string(n % 700));
            NHR.S_CISADRESS.set(std::to_string(70000 + n % 700) + ",123");
            NHR.R_NAME.set("All");
            NHR.FOR_DESCRIPTION.set("Bench Source");
            ctx.store(KindForum, ctx.route("Bench Source", KindForum));
        }
        return ParseStatus::More;
    }

private:
    long i_ = 0;
};

const bool registered = registerParser("Merge Bench Generator", [] { return std::make_unique<GeneratingParser>(); });

} // namespace

int main(int argc, char** argv) {
    const bool own = argc <= 1 || !*argv[1];
    if (argc > 2) gCount = std::atol(argv[2]);
    const std::string dir = bench::emptyHome(own ? "" : argv[1], "merge").string();
    HeadlessUi quiet;
    setUi(&quiet);
    (void)registered;

    // The source, by import; its import pass is the import's own rate.
    const std::string file = dir + "/forum.gen";
    if (std::FILE* f = std::fopen(file.c_str(), "w")) std::fclose(f);
    ImportSettings s;
    s.reader = "Merge Bench Generator";
    s.method = 2;
    double importPass = 0, importAll = 0;
    uint64_t imported = 0;
    {
        ImportRun run(s, {file});
        const auto t0 = Clock::now();
        auto tPass = t0;
        bool pass = false;
        while (run.step())
            if (!pass && run.state() == ImportState::NextDatabase) {
                pass = true;
                tPass = Clock::now();
            }
        const auto t1 = Clock::now();
        importPass = seconds(tPass, t1);
        importAll = seconds(t0, t1);
        imported = run.totals().stored;
        if (run.failed()) std::fprintf(stderr, "bench_merge: the import failed\n");
    }
    ForumsRec source{};
    if (!findDatabaseByName("Bench Source", source)) {
        std::fprintf(stderr, "bench_merge: no source database\n");
        return 1;
    }
    const uint32_t target = addForumDatabase("Bench Target");
    if (!target) {
        std::fprintf(stderr, "bench_merge: the target could not be added\n");
        return 1;
    }

    double mergePass = 0, mergeAll = 0, preMerge = 0;
    uint64_t merged = 0;
    bool failed = false;
    {
        MergeRun run(source.ID, target);
        const auto t0 = Clock::now();
        auto tPass = t0;
        bool pass = false;
        while (run.step())
            if (!pass && run.mergePassRunning()) {
                pass = true;
                tPass = Clock::now();
            }
        const auto t1 = Clock::now();
        preMerge = seconds(t0, tPass);
        mergePass = seconds(tPass, t1);
        mergeAll = seconds(t0, t1);
        merged = run.totals().stored;
        failed = run.failed();
    }

    std::printf("forum database of %ld messages\n", gCount);
    std::printf("import  %8llu stored  whole run %7.2f s (%8.0f msg/s)  import pass %7.2f s (%8.0f msg/s)\n",
                static_cast<unsigned long long>(imported), importAll, importAll > 0 ? imported / importAll : 0.0,
                importPass, importPass > 0 ? imported / importPass : 0.0);
    std::printf("merge   %8llu stored  whole run %7.2f s (%8.0f msg/s)  pre-merge %7.2f s  merge pass %7.2f s "
                "(%8.0f msg/s)%s\n",
                static_cast<unsigned long long>(merged), mergeAll, mergeAll > 0 ? merged / mergeAll : 0.0, preMerge,
                mergePass, mergePass > 0 ? merged / mergePass : 0.0, failed ? "  FAILED" : "");
    for (const auto& b : quiet.shown) std::fprintf(stderr, "[%s] %s\n", b.title.c_str(), b.text.c_str());
    closeAllTables();
    if (own) fs::remove_all(dir);
    return failed || merged != imported ? 1 : 0;
}
