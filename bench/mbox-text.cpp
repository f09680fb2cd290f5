// Stored text of a real mailbox: one whole `qbox import --reader "Unix Mail"`
// of the 20k archive of the shared data into a fresh mail database, then every
// stored message text is read back and judged. A text counts as binary garbage
// when it holds control characters (other than CR, LF and tab) or when more
// than a quarter of its characters are above 127 (decoded base64 that was
// joined with the text before it looks like that). Texts with any control
// character are listed too: a form feed in a patch is text, a control
// character in every hundred is not.
//
//   bench_mbox-text [MBOX]
//
// The qbox program is taken from the directory of this benchmark.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/benchdata.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/maildb.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

using bench::dataFile;
using bench::qboxBeside;
using bench::quote;

struct Judgement {
    size_t control = 0, high = 0;
};

Judgement judge(const std::string& t) {
    Judgement j;
    for (unsigned char c : t) {
        if ((c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c == 0x7F) ++j.control;
        if (c >= 0x80) ++j.high;
    }
    return j;
}

} // namespace

int main(int argc, char** argv) {
    const std::string qbox = qboxBeside(argv[0], "bench_mbox-text");
    if (qbox.empty()) return 1;
    std::string dir = (fs::temp_directory_path() / ("qb_bench_text_" + std::to_string(::getpid()))).string();
    fs::remove_all(dir);
    fs::create_directories(dir + "/home/CFG");
    fs::create_directories(dir + "/home/TEMP");

    std::string mbox;
    if (argc > 1) {
        mbox = argv[1];
    } else if (std::string gz = dataFile("linux-mips-20k.mbox.gz"); !gz.empty()) {
        mbox = dir + "/linux-mips-20k.mbox";
        if (std::system(("gzip -dc " + quote(gz) + " > " + quote(mbox)).c_str()) != 0) {
            std::fprintf(stderr, "bench_mbox-text: cannot unpack %s\n", gz.c_str());
            return 1;
        }
    } else {
        std::fprintf(stderr, "bench_mbox-text: no mailbox given and no 20k archive found\n");
        return 1;
    }

    const std::string home = dir + "/home";
    Mem.Net = home;
    Mem.FileDir = home;
    Mem.TempDir = home + "/TEMP";
    MasIdxPath = home;
    setEngineDirectory(home + "/CFG");
    HeadlessUi quiet;
    setUi(&quiet);
    std::string error;
    const uint32_t db = addMailDatabase("Bench Mail", "owner@example.org", {}, &error);
    if (!db) {
        std::fprintf(stderr, "bench_mbox-text: %s\n", error.c_str());
        return 1;
    }
    closeAllTables();

    const std::string out = dir + "/stdout.txt";
    const std::string cmd = quote(qbox) + " --home " + quote(home) +
                            " import --reader 'Unix Mail' --mail-db 'Bench Mail' " + quote(mbox) + " >" +
                            quote(out) + " 2>" + quote(dir + "/stderr.txt") + " </dev/null";
    auto t0 = std::chrono::steady_clock::now();
    int rc = std::system(cmd.c_str());
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::ifstream res(out);
    std::string totals;
    std::getline(res, totals);

    if (!selectDatabase(db)) {
        std::fprintf(stderr, "bench_mbox-text: the mail database cannot be opened\n");
        return 1;
    }
    OP_CLOSE(OpOpenShared, MsgText.number(), Mail.number());
    size_t texts = 0, withControl = 0, manyControl = 0, mostlyHigh = 0, empty = 0;
    std::vector<std::string> examples;
    MsgText.setFile();
    while (MsgText.next()) {
        ++texts;
        const std::string& t = TXT_MsgText;
        if (t.empty()) ++empty;
        Judgement j = judge(t);
        const bool control = j.control > 0;
        const bool high = t.size() >= 40 && j.high * 4 > t.size();
        // A form feed or an escape in a patch is text; one in a hundred is not.
        const bool many = j.control * 100 >= t.size() && j.control > 0;
        withControl += control;
        manyControl += many;
        mostlyHigh += high;
        if ((control || high) && examples.size() < 20) {
            const uint32_t id = TXT.MSGNUMBER;
            Mail.clearBuffer();
            MAI.MAILID = id;
            std::string subject = Mail.get(MAI_IdKey) ? MAI.SUBJECT.str() : std::string("?");
            examples.push_back(std::to_string(id) + " \"" + subject + "\": " + std::to_string(j.control) +
                               " control, " + std::to_string(j.high) + " above 127 of " + std::to_string(t.size()));
        }
    }
    OP_CLOSE(OpClose, MsgText.number(), Mail.number());
    clearActiveDatabase();
    closeAllTables();
    setUi(nullptr);

    std::printf("qbox import of %s: %s (exit %d) in %.1f s\n", mbox.c_str(), totals.c_str(),
                WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, secs);
    std::printf("stored texts %zu, empty %zu\n", texts, empty);
    std::printf("texts with control characters: %zu (of them with one in a hundred or more: %zu)\n", withControl,
                manyControl);
    std::printf("texts with more than a quarter above 127: %zu\n", mostlyHigh);
    for (const std::string& e : examples) std::printf("  %s\n", e.c_str());
    fs::remove_all(dir);
    return rc == 0 ? 0 : 1;
}
