// Pre-import speed of the CompuServe text reader: a generated forum file of
// N messages (default 100000) read into the temporary import file.
//   bench_cis_text [messages]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "import/parser.h"

using namespace qb;

int main(int argc, char** argv) {
    int n = argc > 1 ? std::atoi(argv[1]) : 100000;
    namespace fs = std::filesystem;
    fs::path root = fs::temp_directory_path() / ("qb_bench_cis_" + std::to_string(getpid()));
    fs::create_directories(root / "net" / "CFG");
    fs::create_directories(root / "data");
    fs::create_directories(root / "tmp");
    Mem.Net = (root / "net").string();
    Mem.FileDir = (root / "data").string();
    Mem.TempDir = (root / "tmp").string();
    MasIdxPath = Mem.FileDir;
    setEngineDirectory((root / "net" / "CFG").string());

    std::string file = (root / "forum.msg").string();
    {
        std::ofstream out(file, std::ios::binary);
        for (int i = 1; i <= n; ++i) {
            out << "#: " << (100000 + i) << " S" << (i % 12) << "/Section " << (i % 12) << " (CIS:FORUM" << (i % 5)
                << ")\r\n    12-Jan-96  14:33:10\r\nSb: #" << (100000 + i - 1) << "-Subject of thread " << (i / 7)
                << "\r\nFm: Sender Name " << (10000 + i % 997) << ",123\r\nTo: ALL\r\n\r\n";
            for (int l = 0; l < 12; ++l) out << "This is line " << l << " of the body of message " << i << ".\r\n";
            out << "\r\n";
        }
    }
    uint64_t bytes = fs::file_size(file);

    OP_CLOSE(OpOpenShared, Forums.number());
    ImportContext ctx;
    ctx.loadTargets();
    ctx.nextId = 250000;
    if (!ctx.openTemporary()) return 1;
    auto p = makeParser("OzWin I");
    auto t0 = std::chrono::steady_clock::now();
    ParseStatus st = p->begin(file, ctx);
    while (st == ParseStatus::More) st = p->step(ctx, 200);
    ctx.buildTemporaryKeys();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("messages\t%d\nwritten\t%llu\nskipped\t%llu\nMB\t%.1f\nseconds\t%.2f\nmessages/s\t%.0f\nMB/s\t%.1f\n", n,
                static_cast<unsigned long long>(ctx.written), static_cast<unsigned long long>(ctx.skipped),
                bytes / 1e6, s, n / s, bytes / 1e6 / s);
    ctx.closeTemporary();
    OP_CLOSE(OpForceClose, Forums.number());
    fs::remove_all(root);
    return ctx.written == static_cast<uint64_t>(n) ? 0 : 2;
}
