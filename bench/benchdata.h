// What the benchmarks share: a database home of their own, the time between
// two clock readings, finding the shared sample data and quoting a path for
// the shell.
#pragma once
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/globals.h"
#include "core/storage.h"

namespace qb::bench {

using Clock = std::chrono::steady_clock;
inline double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Processor seconds (user and system) of this process so far, or with
// RUSAGE_CHILDREN of its children that ended: on a shared machine they vary
// less with the load than the wall clock.
inline double cpuSeconds(int who = RUSAGE_SELF) {
    rusage u{};
    getrusage(who, &u);
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

// A fresh, empty home: the directory given (when not empty), else one in the
// temporary directory named after the benchmark. Its CFG and TEMP
// directories are made and the directory globals point there; databases are
// added by the caller.
inline std::filesystem::path emptyHome(const std::string& given, const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path root = !given.empty() ? fs::path(given)
                                         : fs::temp_directory_path() /
                                               ("qb_bench_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "CFG");
    fs::create_directories(root / "TEMP");
    Mem.Net = Mem.FileDir = MasIdxPath = root.string();
    Mem.TempDir = (root / "TEMP").string();
    setEngineDirectory((root / "CFG").string());
    return root;
}

// A fresh home for a benchmark's database F1: the directory given as argv[2],
// else one in the temporary directory named after the benchmark. The caller
// sets the kind and the rest of the active database.
inline std::filesystem::path databaseHome(int argc, char** argv, const std::string& name) {
    const std::filesystem::path root = emptyHome(argc > 2 ? argv[2] : "", name);
    std::filesystem::create_directories(root / "F1");
    Mem.Dirnamn = "F1";
    return root;
}

// The qbox program of the build, next to the running benchmark; "" (and a
// line on stderr naming the benchmark) when it is not there.
inline std::string qboxBeside(const char* argv0, const char* bench) {
    const std::filesystem::path qbox = std::filesystem::absolute(argv0).parent_path() / "qbox";
    if (std::filesystem::exists(qbox)) return qbox.string();
    std::fprintf(stderr, "%s: %s not found\n", bench, qbox.string().c_str());
    return {};
}

// The file of the shared data directory (next to the source tree or the machine's), or "".
inline std::string dataFile(const std::string& name) {
    for (const char* dir : {"/work/shared/data", "../shared/data", "../../shared/data"}) {
        std::filesystem::path p = std::filesystem::path(dir) / name;
        if (std::filesystem::exists(p)) return p.string();
    }
    return {};
}

// Building a large database takes minutes. With QB_BENCH_KEEP=DIR set, the
// first run copies the database it built into DIR/<tag> (tag naming the
// benchmark and its sizes) and later runs copy it back from there instead of
// building it again. Copy only while every table is closed.
inline std::filesystem::path keptCopy(const std::string& tag) {
    const char* keep = std::getenv("QB_BENCH_KEEP");
    if (!keep || !*keep) return {};
    return std::filesystem::path(keep) / tag;
}

// True when a kept copy for tag was copied into root (replacing what is there).
inline bool restoreKept(const std::filesystem::path& root, const std::string& tag) {
    namespace fs = std::filesystem;
    const fs::path kept = keptCopy(tag);
    if (kept.empty() || !fs::exists(kept / ".complete")) return false;
    fs::remove_all(root);
    fs::copy(kept, root, fs::copy_options::recursive);
    fs::remove(root / ".complete");
    return true;
}

// Keeps a copy of root for later runs when QB_BENCH_KEEP is set.
inline void keepCopy(const std::filesystem::path& root, const std::string& tag) {
    namespace fs = std::filesystem;
    const fs::path kept = keptCopy(tag);
    if (kept.empty() || fs::exists(kept / ".complete")) return;
    fs::remove_all(kept);
    fs::create_directories(kept.parent_path());
    fs::copy(root, kept, fs::copy_options::recursive);
    std::ofstream(kept / ".complete") << tag << "\n";
}

inline std::string quote(const std::string& s) {
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

} // namespace qb::bench
