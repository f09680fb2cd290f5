// Storage throughput: bulk appends with a key build, message pairs committed in
// transactions across two files, and reads in key order.
//   bench_storage [DIR]   (default: a directory under /tmp)
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"

using namespace qb;
using Clock = std::chrono::steady_clock;

static double seconds(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

static void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "%s failed: %d %s\n", what, errorCode(), errorText().c_str());
        std::exit(1);
    }
}

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string dir = argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "qb-bench-storage").string();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setEngineDirectory(dir);

    // 1. 1,000,000 appends into the word index, then its keys.
    const int nMas = 1000000;
    std::string mas = dir + "/IDX029.TPS";
    MasIdx.create(mas);
    MasIdx.open(mas, OpenMode::Exclusive);
    check(errorCode() == 0, "open MasIdx");
    auto t0 = Clock::now();
    MasIdx.stream();
    for (int i = 0; i < nMas; ++i) {
        MAS.SYSID = 250000 + i / 50;
        MAS.WORDID = static_cast<uint32_t>(1 + (int64_t(i) * 7919) % 100000);
        check(MasIdx.append(), "append");
    }
    MasIdx.flush();
    double tAppend = seconds(t0);
    auto t1 = Clock::now();
    check(MasIdx.build(), "build");
    double tBuild = seconds(t1);
    std::printf("masidx_append\t%d rows\t%.2f s\t%.0f rows/s\n", nMas, tAppend, nMas / tAppend);
    std::printf("masidx_key_build\t%d rows\t%.2f s\t%.0f rows/s\n", nMas, tBuild, nMas / tBuild);
    std::printf("masidx_append_and_build\t%d rows\t%.2f s\t%.0f rows/s\n", nMas, tAppend + tBuild,
                nMas / (tAppend + tBuild));
    MasIdx.close();

    // 2. 200,000 message headers and texts in transactions of 400 over both files.
    const int nMsg = 200000, perTxn = 400;
    std::string msgPath = dir + "/IDX003.TPS", txtPath = dir + "/IDX004.TPS";
    MsgNmbr.create(msgPath);
    MsgText.create(txtPath);
    MsgNmbr.open(msgPath, OpenMode::SharedReadWrite);
    MsgText.open(txtPath, OpenMode::SharedReadWrite);
    check(errorCode() == 0, "open MsgNmbr/MsgText");
    std::string body;
    for (int l = 0; l < 12; ++l) body += "A line of a message body, as people write them in forums.\r\n";
    t0 = Clock::now();
    double tCommit = 0;
    for (int i = 0; i < nMsg; i += perTxn) {
        check(beginTransaction({&MsgNmbr, &MsgText}), "begin");
        for (int k = i; k < i + perTxn && k < nMsg; ++k) {
            MsgNmbr.clearBuffer();
            MSG.MSGNUMBER = 100000 + k;
            MSG.SECSYSID = 250000 + k % 17;
            MSG.THREADNUMBER = 260000 + k / 9;
            MSG.THREADALPHA = "Thread " + std::to_string(k / 9);
            MSG.FROMID = 270000 + k % 311;
            MSG.FROMALPHA = "Sender" + std::to_string(k % 311);
            MSG.TOID = 270000 + k % 97;
            MSG.TOALPHA = "All";
            MSG.DATE = 71000 + k / 100;
            check(MsgNmbr.add(), "add MsgNmbr");
            MsgText.clearBuffer();
            TXT.MSGNUMBER = 100000 + k;
            TXT.DATE = 80000;
            TXT_MsgText = body;
            check(MsgText.add(), "add MsgText");
        }
        auto tc = Clock::now();
        check(commitTransaction(), "commit");
        tCommit += seconds(tc);
    }
    double tPairs = seconds(t0);
    std::printf("message_pairs_committed\t%d pairs\t%.2f s\t%.0f pairs/s\n", nMsg, tPairs, nMsg / tPairs);
    std::printf("message_pairs_commit_share\t%.2f s of %.2f s in commits\n", tCommit, tPairs);

    // 3. 1,000,000 reads in MSG:IdKey order (the 200,000 rows, five times over).
    const int nReads = 1000000;
    int read = 0;
    t0 = Clock::now();
    while (read < nReads) {
        MsgNmbr.set(MSG_IdKey);
        while (read < nReads && MsgNmbr.next()) ++read;
    }
    double tRead = seconds(t0);
    std::printf("reads_by_key\t%d rows\t%.2f s\t%.0f rows/s\n", read, tRead, read / tRead);
    closeAllTables();
    std::filesystem::remove_all(dir);
    return 0;
}
