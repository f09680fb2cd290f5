// Exporting a mail database: builds a database of 100,000 mails with their
// texts (appended, keys built afterwards), then times the export of all of
// them with the Unix RFC822 target, as the command line drives it.
//
//   bench_export [MAILS] [DIR]
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
#include "reading/export.h"
#include "reading/render.h"

using namespace qb;
using bench::Clock;
using bench::seconds;


int main(int argc, char** argv) {
    const long mails = argc > 1 ? std::atol(argv[1]) : 100000;
    namespace fs = std::filesystem;
    const fs::path root = bench::databaseHome(argc, argv, "export");
    Mem.ForumType = 2;
    Mem.Description = "Bench Mail";
    Mem.PersonID = 1;

    OP_CLOSE(OpOpenShared, Mail.number(), MsgText.number(), Person.number());
    if (!Mail.isOpen() || !MsgText.isOpen() || !Person.isOpen()) {
        std::fprintf(stderr, "cannot open the mail tables: %s\n", errorText().c_str());
        return 1;
    }
    auto t0 = Clock::now();
    Person.stream();
    for (uint32_t p = 1; p <= 2000; ++p) {
        Person.clearBuffer();
        PER.PERSONID = p;
        PER.FIRSTNAME = "Some";
        PER.LASTNAME = "Person" + std::to_string(p);
        PER.ADDRESS = "person" + std::to_string(p) + "@example.org";
        PER.PERSONSTRING = "PERSON" + std::to_string(p);
        Person.add();
    }
    Person.flush();
    std::string body;
    for (int l = 0; l < 25; ++l) body += "A line of an ordinary mail body, some sixty characters long.\r\n";
    Mail.stream();
    MsgText.stream();
    for (long i = 0; i < mails; ++i) {
        const uint32_t id = 250000 + static_cast<uint32_t>(i);
        const bool sent = i % 5 == 0;
        const uint32_t other = 2 + static_cast<uint32_t>(i % 1999);
        Mail.clearBuffer();
        MAI.MAILID = id;
        MAI.DATE = 70000 + static_cast<int32_t>(i / 50);
        MAI.TIME = 1 + static_cast<int32_t>(i % 8640000);
        MAI.SUBJECT = "Subject of mail " + std::to_string(i);
        MAI.FROMID = sent ? 1 : other;
        MAI.TOID = sent ? other : 1;
        MAI.PAIRID = other;
        MAI.FROMALPHA = "Person";
        MAI.TOALPHA = "Person";
        MAI.PAIRALPHA = "Person" + std::to_string(other);
        MsgText.clearBuffer();
        TXT.MSGNUMBER = id;
        TXT_MsgText = body;
        if (!Mail.append() || !MsgText.append()) {
            std::fprintf(stderr, "append failed at mail %ld: %s\n", i, errorText().c_str());
            return 1;
        }
    }
    Mail.flush();
    MsgText.flush();
    if (!Mail.build() || !MsgText.build()) {
        std::fprintf(stderr, "key build failed: %s\n", errorText().c_str());
        return 1;
    }
    OP_CLOSE(OpClose, Mail.number(), MsgText.number(), Person.number());
    auto t1 = Clock::now();
    std::printf("mails\t%ld\nbuild_s\t%.1f\n", mails, seconds(t0, t1));

    renderSettings().mailTarget = TargetUnix;
    auto t2 = Clock::now();
    uint8_t more = CopyMsg(1, ScopeAll, 1, 0, "InBox.MBX", "OutBox.MBX", 0, 0, 0);
    while (more) more = CopyMsg(1, ScopeAll, 2, 0, "InBox.MBX", "OutBox.MBX", 0, 0, 0);
    CopyMsg(1, ScopeAll, 3, 0, "InBox.MBX", "OutBox.MBX", 0, 0, 0);
    auto t3 = Clock::now();
    const ExportStatus& st = exportStatus();
    if (st.failed || st.count != static_cast<uint64_t>(mails)) {
        std::fprintf(stderr, "export wrote %llu of %ld mails\n", static_cast<unsigned long long>(st.count), mails);
        return 1;
    }
    const double s = seconds(t2, t3);
    std::printf("export_s\t%.2f\nexport_mails_per_s\t%.0f\t(target Unix RFC822, %llu MB written)\n", s, mails / s,
                static_cast<unsigned long long>((fs::file_size(root / "TEMP/InBox.MBX") +
                                                 fs::file_size(root / "TEMP/OutBox.MBX")) >> 20));
    closeAllTables();
    if (argc <= 2) fs::remove_all(root);
    return 0;
}
