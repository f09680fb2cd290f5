// Import throughput: messages per second of the import pass, which takes the
// records of an already built temporary import file through the store step
// (persons, threads, sections, texts, duplicate tests) and writes the counts.
// The pre-import pass is fed by a generating reader so that only the storing
// is measured; its rate is printed as well.
//
//   bench_import [DIR] [COUNT]     (default: a fresh temporary directory, 100000)
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
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/maildb.h"
#include "import/parser.h"
#include "import/pipeline.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

long gCount = 100000;

std::string body(long i) {
    std::string t;
    t.reserve(900);
    for (int line = 0; line < 12; ++line)
        t += "Line " + std::to_string(line) + " of message " + std::to_string(i) +
             ": the quick brown fox jumps over the lazy dog again\r\n";
    return t;
}

// Generates COUNT forum or mail messages; the file only names the kind.
class GeneratingParser : public Parser {
public:
    ParseStatus begin(const std::string& path, ImportContext&) override {
        mail_ = path.find("mail") != std::string::npos;
        return ParseStatus::More;
    }
    ParseStatus step(ImportContext& ctx, int batch) override {
        for (int b = 0; b < batch; ++b, ++i_) {
            if (i_ >= gCount) return ParseStatus::Done;
            NewHR.clearBuffer();
            const long n = i_;
            NHR.DATE = dayNumber(1996, 1, 1) + static_cast<int32_t>(n / 300);
            NHR.TIME = clockTime(static_cast<int>(n / 60 % 24), static_cast<int>(n % 60), 0);
            NHR_MSGTEXT = body(n);
            if (mail_) {
                uint32_t id = ctx.newId();
                NHR.MSGNUMBER = NHR.REFNUMBER = id;
                NHR.HEADING.set("Mail subject " + std::to_string(n));
                NHR.S_NAME.set("Correspondent " + std::to_string(n % 500));
                NHR.S_CISADRESS.set("corr" + std::to_string(n % 500) + "@example.net");
                NHR.R_NAME.set("Owner");
                NHR.R_CISADRESS.set("owner@example.org");
                NHR.MAILTYPE = 1;
                NHR.RECIPTYPE.set("TO");
                ctx.store(KindMail, ctx.route("", KindMail));
            } else {
                NHR.MSGNUMBER = static_cast<uint32_t>(n + 1);
                // 2000 threads of 50 messages, each reply to the thread's previous message.
                NHR.REFNUMBER = n >= 2000 ? static_cast<uint32_t>(n + 1 - 2000) : 0;
                NHR.HEADING.set("Thread heading " + std::to_string(n % 2000));
                NHR.SECTIONNUMBER = static_cast<uint8_t>(n % 12);
                NHR.SEC_DESCRIPTION.set("Section " + std::to_string(n % 12));
                NHR.S_NAME.set("Member " + std::to_string(n % 700));
                NHR.S_CISADRESS.set(std::to_string(70000 + n % 700) + ",123");
                NHR.R_NAME.set("All");
                NHR.FOR_DESCRIPTION.set("Bench Forum");
                ctx.store(KindForum, ctx.route("Bench Forum", KindForum));
            }
        }
        return ParseStatus::More;
    }

private:
    bool mail_ = false;
    long i_ = 0;
};

const bool registered = registerParser("Bench Generator", [] { return std::make_unique<GeneratingParser>(); });

void runOne(const char* label, const std::string& file, uint32_t mailDb) {
    std::FILE* f = std::fopen(file.c_str(), "w");
    if (f) std::fclose(f);
    ImportSettings s;
    s.reader = "Bench Generator";
    s.mailDb = mailDb;
    s.method = 2;
    ImportRun run(s, {file});
    using clock = std::chrono::steady_clock;
    auto t0 = clock::now();
    auto tImport = t0;
    bool importing = false;
    while (run.step()) {
        if (!importing && run.state() == ImportState::NextDatabase) {
            importing = true;
            tImport = clock::now();
        }
    }
    auto t1 = clock::now();
    double pre = std::chrono::duration<double>(tImport - t0).count();
    double imp = std::chrono::duration<double>(t1 - tImport).count();
    std::printf("%-6s %8llu stored %6llu skipped  pre-import %7.2f s (%8.0f msg/s)  import %7.2f s (%8.0f msg/s)%s\n",
                label, static_cast<unsigned long long>(run.totals().stored),
                static_cast<unsigned long long>(run.totals().skipped), pre, pre > 0 ? gCount / pre : 0.0, imp,
                imp > 0 ? run.totals().stored / imp : 0.0, run.failed() ? "  FAILED" : "");
}

} // namespace

int main(int argc, char** argv) {
    const bool own = argc <= 1 || !*argv[1];
    if (argc > 2) gCount = std::atol(argv[2]);
    const std::string dir = bench::emptyHome(own ? "" : argv[1], "import").string();
    HeadlessUi quiet;
    setUi(&quiet);
    (void)registered;

    std::string error;
    uint32_t mailDb = addMailDatabase("Bench Mail", "owner@example.org", {}, &error);
    if (!mailDb) {
        std::fprintf(stderr, "bench_import: %s\n", error.c_str());
        return 1;
    }
    std::printf("import pass, %ld records each\n", gCount);
    runOne("mail", dir + "/mail.gen", mailDb);
    runOne("forum", dir + "/forum.gen", mailDb);
    for (const auto& b : quiet.shown)
        if (b.title != " Import Processing ") std::fprintf(stderr, "[%s] %s\n", b.title.c_str(), b.text.c_str());
    closeAllTables();
    if (own) fs::remove_all(dir);
    return 0;
}
