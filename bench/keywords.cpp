// Key-word runs on a large mail database: builds ROWS mail headers with short
// texts (appended, keys built afterwards), adds three key words and times one
// full run of all of them, batch by batch as the window's timer drives it, and
// then a run over the texts of the last import only.
//
//   bench_keywords [ROWS] [DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "bench/benchdata.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "reading/topics.h"

using namespace qb;
using bench::Clock;
using bench::seconds;


int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    namespace fs = std::filesystem;
    const fs::path root = bench::databaseHome(argc, argv, "keywords");
    Mem.ForumType = 2;
    Mem.ForumNumber = 300000;

    OP_CLOSE(OpOpenShared, Mail.number(), MsgText.number());
    if (!Mail.isOpen() || !MsgText.isOpen()) {
        std::fprintf(stderr, "cannot open the mail tables: %s\n", errorText().c_str());
        return 1;
    }
    const char* words[] = {"kernel", "Indy", "R4000", "gcc", "mailing", "boot", "cache", "patch"};
    auto t0 = Clock::now();
    Mail.stream();
    MsgText.stream();
    for (long i = 0; i < rows; ++i) {
        const uint32_t id = static_cast<uint32_t>(i + 1);
        Mail.clearBuffer();
        MAI.MAILID = id;
        MAI.DATE = 70000 + static_cast<int32_t>(i / 300);
        MAI.SUBJECT = std::string("Re: ") + words[i % 8] + " question " + std::to_string(i % 977);
        Mail.append();
        MsgText.clearBuffer();
        TXT.MSGNUMBER = id;
        TXT.DATE = i < rows - 1000 ? 70000 : 80000;
        TXT.TIME = 1;
        TXT_MsgText = std::string("Hello,\r\nthe ") + words[(i * 7) % 8] + " of my machine does not " +
                      words[(i * 3) % 8] + " since the last change.\r\nRegards\r\n";
        MsgText.append();
    }
    Mail.flush();
    MsgText.flush();
    if (!Mail.build() || !MsgText.build()) {
        std::fprintf(stderr, "key build failed: %s\n", errorText().c_str());
        return 1;
    }
    OP_CLOSE(OpClose, Mail.number(), MsgText.number());
    auto t1 = Clock::now();
    std::printf("built %ld mail with texts in %.1f s\n", rows, seconds(t0, t1));

    addEntry(kKeyWordEntry, "indy", false, true);
    addEntry(kKeyWordEntry, "R4000", true, false);
    addEntry(kKeyWordEntry, "does not boot", false, false);

    t0 = Clock::now();
    KeywordRun run;
    long steps = 0;
    double longest = 0;
    for (;;) {
        auto s0 = Clock::now();
        const bool more = run.step(400);
        longest = std::max(longest, seconds(s0, Clock::now()));
        ++steps;
        if (!more) break;
        if (steps % 250 == 0) std::fprintf(stderr, "\r%llu of %llu", (unsigned long long)run.done(), (unsigned long long)run.total());
    }
    t1 = Clock::now();
    std::fprintf(stderr, "\n");
    if (run.failed()) {
        std::fprintf(stderr, "run failed: %s\n", run.error().c_str());
        return 1;
    }
    std::printf("full run of 3 key words: %llu messages, %llu links in %.1f s (%.0f messages/s), %ld steps, "
                "longest step %.0f ms\n",
                (unsigned long long)run.done(), (unsigned long long)run.linked(), seconds(t0, t1),
                run.done() / seconds(t0, t1), steps, longest * 1000);
    for (const Entry& e : listEntries(kKeyWordEntry))
        std::printf("  %s: %u links (counted %llu)\n", e.name.c_str(), e.count, (unsigned long long)linkCount(e.id));

    t0 = Clock::now();
    runKeyWordsSince(80000, 0);
    t1 = Clock::now();
    std::printf("run over the last 1000 texts: %.2f s\n", seconds(t0, t1));
    closeAllTables();
    if (argc <= 2) fs::remove_all(root);
    return 0;
}
