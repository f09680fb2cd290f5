// The purge and the count of a large forum database: builds a database of
// 1,000,000 messages (texts, 50,000 threads, 5,000 persons, 10 sections) with
// a full word index of 8 words a message, marks every tenth message for
// deletion (two of the twenty messages of every thread), then times the purge
// and a count.
//
//   bench_purge [MESSAGES] [DIR]
//
// QB_BENCH_KEEP=DIR keeps the built database in DIR for later runs
// (benchdata.h).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/benchdata.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "maintenance/counting.h"
#include "maintenance/purge.h"

using namespace qb;
using bench::Clock;
using bench::cpuSeconds;
using bench::seconds;

namespace {

constexpr uint32_t kThreads = 50000, kPersons = 5000, kSections = 10, kVocabulary = 50000, kWordsPerMessage = 8;

bool check(bool ok, const char* what) {
    if (!ok) std::fprintf(stderr, "%s failed: %s\n", what, errorText().c_str());
    return ok;
}

std::string personName(uint32_t p) { return "Person" + std::to_string(p); }
std::string threadHeading(uint32_t t) { return "Heading " + std::to_string(t); }

// The database: registry row, sections, persons, threads, messages with their
// texts and index rows, word list. False after a message on stderr.
bool buildDatabase(uint32_t messages, uint64_t& indexRows) {
    indexRows = 0;
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = Mem.ForumNumber;
    FOR.DESCRIPTION = Mem.Description;
    FOR.DIRNUMBER = 1;
    FOR.TYPE = 1;
    if (!check(Forums.add(), "registry row")) return false;
    OP_CLOSE(OpClose, Forums.number());

    OP_CLOSE(OpOpenShared, {MsgNmbr.number(), MsgText.number(), Person.number(), Threads.number(), Sections.number(),
                            MasIdx.number(), WordList.number()});
    Sections.stream();
    for (uint32_t s = 1; s <= kSections; ++s) {
        Sections.clearBuffer();
        SEC.SECSYSID = s;
        SEC.SECTIONNUMBER = static_cast<uint8_t>(s);
        SEC.DESCRIPTION = "Section " + std::to_string(s);
        if (!check(Sections.add(), "section")) return false;
    }
    Sections.flush();
    Person.stream();
    for (uint32_t p = 1; p <= kPersons; ++p) {
        Person.clearBuffer();
        PER.PERSONID = p;
        PER.LASTNAME = personName(p);
        PER.PERSONSTRING = "PERSON " + std::to_string(p);
        if (!check(Person.add(), "person")) return false;
    }
    Person.flush();
    Threads.stream();
    for (uint32_t t = 1; t <= kThreads; ++t) {
        Threads.clearBuffer();
        THR.THREADNUMBER = t;
        THR.SECSYSID = 1 + t % kSections;
        THR.setHeading(threadHeading(t));
        if (!check(Threads.add(), "thread")) return false;
    }
    Threads.flush();

    std::vector<int32_t> wordCounts(kVocabulary + 1, 0);
    MsgNmbr.stream();
    MsgText.stream();
    MasIdx.stream();
    for (uint32_t i = 1; i <= messages; ++i) {
        const uint32_t thread = 1 + i % kThreads;
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = i;
        MSG.THREADNUMBER = thread;
        MSG.THREADALPHA = threadHeading(thread).substr(0, 10);
        MSG.SECSYSID = 1 + thread % kSections;
        MSG.FROMID = 1 + i % kPersons;
        MSG.FROMALPHA = personName(MSG.FROMID).substr(0, 10);
        MSG.TOID = 1 + (i / 7) % kPersons;
        MSG.TOALPHA = personName(MSG.TOID).substr(0, 10);
        MSG.DATE = 70000 + static_cast<int32_t>(i / 300);
        // Two of the twenty messages of every thread, spread through the file.
        MSG.DUMMY = (i + i / kThreads) % 10 == 0 ? 2 : 0;
        if (!check(MsgNmbr.append(), "message")) return false;
        MsgText.clearBuffer();
        TXT.MSGNUMBER = i;
        TXT.DATE = MSG.DATE;
        TXT_MsgText = "Message " + std::to_string(i) + " of thread " + std::to_string(thread) + "\r\n";
        if (!check(MsgText.append(), "text")) return false;
        // Eight distinct words a message, spread over the vocabulary.
        for (uint32_t w = 0; w < kWordsPerMessage; ++w) {
            const uint32_t word = 1 + (i * 7919u + w * 6271u) % kVocabulary;
            MasIdx.clearBuffer();
            MAS.SYSID = i;
            MAS.WORDID = word;
            if (!check(MasIdx.append(), "index row")) return false;
            ++wordCounts[word];
            ++indexRows;
        }
    }
    MsgNmbr.flush();
    MsgText.flush();
    MasIdx.flush();
    WordList.stream();
    for (uint32_t w = 1; w <= kVocabulary; ++w) {
        if (wordCounts[w] == 0) continue;
        WordList.clearBuffer();
        WOR.WORDID = static_cast<int32_t>(w);
        WOR.THEWORD = "word" + std::to_string(w);
        WOR.WORDCOUNT = wordCounts[w];
        if (!check(WordList.append(), "word")) return false;
    }
    WordList.flush();
    if (!check(MsgNmbr.build() && MsgText.build() && MasIdx.build() && WordList.build(), "key build")) return false;
    OP_CLOSE(OpClose, {MsgNmbr.number(), MsgText.number(), Person.number(), Threads.number(), Sections.number(),
                       MasIdx.number(), WordList.number()});
    closeAllTables();
    return true;
}
} // namespace

int main(int argc, char** argv) {
    const uint32_t messages = argc > 1 ? static_cast<uint32_t>(std::atol(argv[1])) : 1000000;
    namespace fs = std::filesystem;
    const fs::path root = bench::databaseHome(argc, argv, "purge");
    Mem.ForumType = 1;
    Mem.ForumNumber = 250001;
    Mem.Description = "Bench forum";

    auto t0 = Clock::now();
    uint64_t indexRows = uint64_t{messages} * kWordsPerMessage;
    const std::string tag = "purge_" + std::to_string(messages);
    const bool reused = bench::restoreKept(root, tag);
    if (!reused) {
        if (!buildDatabase(messages, indexRows)) return 1;
        bench::keepCopy(root, tag);
    }
    auto t1 = Clock::now();
    std::printf("messages\t%u\nindex_rows\t%llu\n%s\t%.1f\n", messages, static_cast<unsigned long long>(indexRows),
                reused ? "copy_s" : "build_s", seconds(t0, t1));

    auto t2 = Clock::now();
    const double cpu2 = cpuSeconds();
    Purge purge(0, 0);
    {
        // Seconds per step of the purge.
        auto mark = Clock::now();
        double markCpu = cpuSeconds();
        std::string last;
        auto report = [&](const std::string& next) {
            if (next == last) return;
            const auto now = Clock::now();
            const double cpu = cpuSeconds();
            if (!last.empty())
                std::printf("  step\t%.1f\t(cpu %.1f)\t%s\n", seconds(mark, now), cpu - markCpu, last.c_str());
            mark = now;
            markCpu = cpu;
            last = next;
        };
        while (purge.step()) report(purge.status());
        report("end");
    }
    auto t3 = Clock::now();
    if (purge.result() != 1) {
        std::fprintf(stderr, "purge failed: %s\n", purge.reason().c_str());
        return 1;
    }
    const double purgeS = seconds(t2, t3), purgeCpu = cpuSeconds() - cpu2;
    // Every deleted message takes its header, its text and its index rows.
    const uint64_t rowsDeleted = purge.deleted() * (2 + kWordsPerMessage);
    std::printf("purge_deleted_messages\t%llu\npurge_rows_deleted\t%llu\npurge_s\t%.1f\npurge_cpu_s\t%.1f\npurge_rows_per_s\t%.0f\n",
                static_cast<unsigned long long>(purge.deleted()), static_cast<unsigned long long>(rowsDeleted), purgeS,
                purgeCpu, rowsDeleted / purgeS);
    std::printf("after\t%llu\n", static_cast<unsigned long long>(purge.after()));

    auto t4 = Clock::now();
    const double cpu4 = cpuSeconds();
    Recount count;
    while (count.step()) {
    }
    auto t5 = Clock::now();
    if (count.result() != 1) {
        std::fprintf(stderr, "count failed\n");
        return 1;
    }
    const double countS = seconds(t4, t5);
    std::printf("count_cpu_s\t%.1f\n", cpuSeconds() - cpu4);
    std::printf("count_s\t%.1f\t(messages %llu threads %llu persons %llu)\n", countS,
                static_cast<unsigned long long>(count.totals().messages),
                static_cast<unsigned long long>(count.totals().threads),
                static_cast<unsigned long long>(count.totals().persons));
    std::printf("target_purge_under_60s\t%s\ntarget_count_under_30s\t%s\n", purgeS < 60 ? "yes" : "NO",
                countS < 30 ? "yes" : "NO");
    closeAllTables();
    if (argc <= 2) fs::remove_all(root);
    return 0;
}
