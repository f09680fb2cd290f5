// The merging of duplicate persons on a large forum database: 1,000,000
// messages and 100,000 persons of which 10% share their address with another
// person under another name. The database is made through `qbox db
// add-forum` and filled here (rows appended, keys built afterwards); then
// `qbox dedup-persons` runs on it as a user would run it, and is timed.
//
//   bench_persons [MESSAGES] [PERSONS] [DIR]
//
// QB_BENCH_KEEP=DIR keeps the filled database in DIR for later runs
// (benchdata.h); without a DIR the home is then TMP/qb_bench_persons_kept.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "bench/benchdata.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"

using namespace qb;
using bench::Clock;
namespace fs = std::filesystem;

namespace {

using bench::quote;
using bench::seconds;

int run(const std::string& cmd, std::string* out = nullptr) {
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    std::string o;
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) o.append(buf, n);
    int rc = pclose(p);
    if (out) *out = o;
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Persons and messages of the database F<n> the globals name (rows appended,
// keys built afterwards). False after a message on stderr.
bool fill(long messages, long persons) {
    OP_CLOSE(OpOpenShared, MsgNmbr.number(), Person.number());
    if (!MsgNmbr.isOpen() || !Person.isOpen()) {
        std::fprintf(stderr, "cannot open the tables: %s\n", errorText().c_str());
        return false;
    }
    // Persons 0 .. 90% are distinct; each of the last 10% takes the address of
    // one of them under another name.
    const long originals = persons - persons / 10;
    std::vector<std::string> lastNames(static_cast<size_t>(persons));
    Person.stream();
    for (long i = 0; i < persons; ++i) {
        const bool dup = i >= originals;
        const long of = dup ? (i - originals) * 7 % originals : i;
        // Last names differ in their first 10 characters, which the message
        // keys carry: many persons sharing them make every seek in those keys
        // walk all their messages.
        std::string last;
        for (long v = i; last.size() < 5; v /= 26) last += static_cast<char>('a' + v % 26);
        last[0] = static_cast<char>(last[0] - 'a' + 'A');
        last += dup ? "-dup" : "son";
        const std::string first = dup ? "J" : "John";
        const std::string address = std::to_string(70000 + of) + "," + std::to_string(of % 997);
        Person.clearBuffer();
        PER.PERSONID = 250000 + static_cast<uint32_t>(i);
        PER.LASTNAME = last;
        PER.FIRSTNAME = first;
        PER.ADDRESS = address;
        PER.PERSONSTRING = first + " " + last + " " + address;
        for (char& c : PER.PERSONSTRING.c) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        lastNames[static_cast<size_t>(i)] = last.substr(0, 10);
        if (!Person.append()) {
            std::fprintf(stderr, "person append failed: %s\n", errorText().c_str());
            return false;
        }
    }
    Person.flush();
    std::mt19937 rnd(42);
    std::uniform_int_distribution<long> pick(0, persons - 1);
    MsgNmbr.stream();
    for (long i = 0; i < messages; ++i) {
        const long from = pick(rnd), to = pick(rnd);
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = static_cast<uint32_t>(i + 1);
        MSG.THREADNUMBER = 1 + static_cast<uint32_t>(i % 20000);
        MSG.THREADALPHA = "Thread hea";
        MSG.SECSYSID = 1;
        MSG.FROMID = 250000 + static_cast<uint32_t>(from);
        MSG.FROMALPHA = lastNames[static_cast<size_t>(from)];
        MSG.TOID = 250000 + static_cast<uint32_t>(to);
        MSG.TOALPHA = lastNames[static_cast<size_t>(to)];
        MSG.DATE = 70000 + static_cast<int32_t>(i / 300);
        if (!MsgNmbr.append()) {
            std::fprintf(stderr, "message append failed: %s\n", errorText().c_str());
            return false;
        }
    }
    MsgNmbr.flush();
    if (!Person.build() || !MsgNmbr.build()) {
        std::fprintf(stderr, "key build failed: %s\n", errorText().c_str());
        return false;
    }
    OP_CLOSE(OpForceClose, MsgNmbr.number(), Person.number());
    closeAllTables();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const long messages = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long persons = argc > 2 ? std::atol(argv[2]) : 100000;
    // The home keeps absolute paths: a kept copy is used in the same place.
    const fs::path root = argc > 3                     ? fs::path(argv[3])
                          : !bench::keptCopy("").empty() ? fs::temp_directory_path() / "qb_bench_persons_kept"
                                                       : fs::temp_directory_path() /
                                                             ("qb_bench_persons_" + std::to_string(::getpid()));
    const std::string qbox = bench::qboxBeside(argv[0], "bench_persons");
    if (qbox.empty()) return 1;
    fs::remove_all(root);
    fs::create_directories(root);
    const std::string home = root.string();

    const std::string tag = "persons_" + std::to_string(messages) + "_" + std::to_string(persons);
    const bool reused = bench::restoreKept(root, tag);
    std::string out;
    if (run(qbox + " --home " + quote(home) + (reused ? " db list" : " db add-forum Bench") + " 2>&1", &out) != 0) {
        std::fprintf(stderr, "qbox db failed: %s\n", out.c_str());
        return 1;
    }
    // "ID<TAB>forum<TAB>Bench<TAB>F<n><TAB>0"
    const size_t f = out.find("\tF");
    const std::string dir = out.substr(f + 1, out.find('\t', f + 1) - f - 1);
    fs::path dbDir;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_directory() && e.path().filename() == dir) dbDir = e.path();
    if (dbDir.empty()) {
        std::fprintf(stderr, "database directory %s not found\n", dir.c_str());
        return 1;
    }
    Mem.Net = home;
    Mem.FileDir = MasIdxPath = dbDir.parent_path().string();
    Mem.TempDir = (root / "TEMP").string();
    Mem.Dirnamn = dir;
    Mem.ForumType = 1;
    setEngineDirectory((root / "CFG").string());

    auto t0 = Clock::now();
    if (!reused) {
        if (!fill(messages, persons)) return 1;
        bench::keepCopy(root, tag);
    }
    auto t1 = Clock::now();
    std::printf("messages\t%ld\npersons\t%ld\nduplicates\t%ld\n%s\t%.1f\n", messages, persons, persons / 10,
                reused ? "copy_s" : "build_s", seconds(t0, t1));

    auto t2 = Clock::now();
    const double cpu2 = bench::cpuSeconds(RUSAGE_CHILDREN);
    const int rc = run(qbox + " --home " + quote(home) + " dedup-persons Bench 2>/dev/null", &out);
    auto t3 = Clock::now();
    if (rc != 0) {
        std::fprintf(stderr, "dedup-persons failed with status %d\n", rc);
        return 1;
    }
    std::printf("dedup_output\t%s", out.c_str());
    std::printf("dedup_persons_s\t%.1f\t(target < 60)\ndedup_cpu_s\t%.1f\n", seconds(t2, t3),
                bench::cpuSeconds(RUSAGE_CHILDREN) - cpu2);
    if (argc <= 3) fs::remove_all(root);
    return 0;
}
