// Mailbox import throughput: one whole `qbox import --reader "Unix Mail"` of a
// mailbox of at least 20,000 real messages into a fresh mail database, timed
// from the outside: messages per second and megabytes per second.
//
//   bench_import-mbox [MBOX]
//
// Without MBOX the 20k archive of the shared data (19,999 messages) is unpacked
// into a temporary directory and the 3000-message sample appended (22,999
// messages); without the archive the sample is repeated seven times with fresh
// Message-IDs and subjects (21,000 messages). The qbox program is taken from the
// directory of this benchmark.
//
// Besides the whole command, the pre-import pass of the reader alone (the
// mailbox into the temporary import file) is timed in this process.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/benchdata.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/tables.h"
#include "core/storage.h"
#include "core/ui.h"
#include "import/maildb.h"
#include "import/parser.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

using bench::dataFile;
using bench::qboxBeside;
using bench::quote;

// The sample repeated: copy k of each message gets "-k" in its Message-ID and
// " #k" after its subject, so that no copy is a duplicate of another.
bool repeatSample(const std::string& sample, const std::string& out, int copies) {
    std::ifstream in(sample, std::ios::binary);
    std::ofstream o(out, std::ios::binary);
    if (!in || !o) return false;
    std::string all((std::istreambuf_iterator<char>(in)), {});
    for (int k = 1; k <= copies; ++k) {
        size_t at = 0;
        bool inHeaders = false;
        while (at < all.size()) {
            size_t nl = all.find('\n', at);
            size_t end = nl == std::string::npos ? all.size() : nl;
            std::string line = all.substr(at, end - at);
            if (line.rfind("From ", 0) == 0) inHeaders = true;
            else if (line.empty()) inHeaders = false;
            if (inHeaders && (line.rfind("Message-Id:", 0) == 0 || line.rfind("Message-ID:", 0) == 0)) {
                size_t gt = line.rfind('@');
                if (gt != std::string::npos) line.insert(gt, "-" + std::to_string(k));
            } else if (inHeaders && line.rfind("Subject:", 0) == 0) {
                line += " #" + std::to_string(k);
            }
            o << line << '\n';
            at = end + 1;
        }
    }
    return static_cast<bool>(o);
}

long countMessages(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    long n = 0;
    bool prevEmpty = true;
    while (std::getline(in, line)) {
        if (prevEmpty && line.rfind("From ", 0) == 0) ++n;
        prevEmpty = line.empty() || line == "\r";
    }
    return n;
}

} // namespace

int main(int argc, char** argv) {
    const std::string qbox = qboxBeside(argv[0], "bench_import-mbox");
    if (qbox.empty()) return 1;
    std::string dir = (fs::temp_directory_path() / ("qb_bench_mbox_" + std::to_string(::getpid()))).string();
    fs::remove_all(dir);
    fs::create_directories(dir + "/home/CFG");
    fs::create_directories(dir + "/home/TEMP");

    std::string mbox;
    if (argc > 1) {
        mbox = argv[1];
    } else if (std::string gz = dataFile("linux-mips-20k.mbox.gz"); !gz.empty()) {
        mbox = dir + "/linux-mips-20k.mbox";
        std::string sample = dataFile("linux-mips-1996-sample.mbox");
        std::string unpack = "gzip -dc " + quote(gz) + " > " + quote(mbox);
        if (!sample.empty()) unpack += " && cat " + quote(sample) + " >> " + quote(mbox);
        if (std::system(unpack.c_str()) != 0) {
            std::fprintf(stderr, "bench_import-mbox: cannot unpack %s\n", gz.c_str());
            return 1;
        }
    } else if (std::string sample = dataFile("linux-mips-1996-sample.mbox"); !sample.empty()) {
        mbox = dir + "/sample-x7.mbox";
        if (!repeatSample(sample, mbox, 7)) return 1;
    } else {
        std::fprintf(stderr, "bench_import-mbox: no mailbox given and no sample data found\n");
        return 1;
    }
    const long messages = countMessages(mbox);
    const double mb = static_cast<double>(fs::file_size(mbox)) / (1024.0 * 1024.0);

    // A home with one mail database, laid out as the program's start-up does.
    {
        const std::string home = dir + "/home";
        Mem.Net = home;
        Mem.FileDir = home;
        Mem.TempDir = home + "/TEMP";
        MasIdxPath = home;
        setEngineDirectory(home + "/CFG");
        HeadlessUi quiet;
        setUi(&quiet);
        std::string error;
        if (!addMailDatabase("Bench Mail", "owner@example.org", {}, &error)) {
            std::fprintf(stderr, "bench_import-mbox: %s\n", error.c_str());
            return 1;
        }
        closeAllTables();
        setUi(nullptr);
    }

    // The reader alone: the pre-import pass into the temporary import file.
    double preSecs = 0;
    uint64_t preRecords = 0;
    {
        HeadlessUi quiet;
        setUi(&quiet);
        ImportContext ctx;
        ctx.settings.reader = "Unix Mail";
        ctx.nextId = 300000;
        OP_CLOSE(OpOpenShared, Forums.number());
        ctx.loadTargets();
        for (const auto& t : ctx.targets)
            if (t.forumType == 2) ctx.settings.mailDb = t.id;
        auto t0 = std::chrono::steady_clock::now();
        auto parser = makeParser("Unix Mail");
        if (parser && ctx.openTemporary()) {
            ParseStatus st = parser->begin(mbox, ctx);
            while (st == ParseStatus::More) st = parser->step(ctx, 500);
            ctx.buildTemporaryKeys();
            ctx.closeTemporary();
        }
        preSecs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        preRecords = ctx.written;
        OP_CLOSE(OpClose, Forums.number());
        closeAllTables();
        setUi(nullptr);
    }

    const std::string out = dir + "/stdout.txt";
    const std::string cmd = quote(qbox) + " --home " + quote(dir + "/home") +
                            " import --reader 'Unix Mail' --mail-db 'Bench Mail' " + quote(mbox) + " >" +
                            quote(out) + " 2>" + quote(dir + "/stderr.txt") + " </dev/null";
    auto t0 = std::chrono::steady_clock::now();
    int rc = std::system(cmd.c_str());
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    std::ifstream res(out);
    std::string totals;
    std::getline(res, totals);
    std::printf("qbox import of %s\n", mbox.c_str());
    std::printf("  messages in file %ld, %.1f MB\n", messages, mb);
    std::printf("  result: %s (exit %d)\n", totals.c_str(), WIFEXITED(rc) ? WEXITSTATUS(rc) : -1);
    std::printf("  %.2f s  %.0f messages/s  %.2f MB/s  (target 5000 messages/s)\n", secs,
                secs > 0 ? messages / secs : 0.0, secs > 0 ? mb / secs : 0.0);
    std::printf("pre-import pass of the reader alone: %llu temporary records in %.2f s  %.0f messages/s  %.2f MB/s\n",
                static_cast<unsigned long long>(preRecords), preSecs, preSecs > 0 ? messages / preSecs : 0.0,
                preSecs > 0 ? mb / preSecs : 0.0);
    fs::remove_all(dir);
    return rc == 0 ? 0 : 1;
}
