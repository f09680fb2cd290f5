// What the benchmarks share: a database home of their own, the time between
// two clock readings, finding the shared sample data and quoting a path for
// the shell.
#pragma once
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "core/globals.h"
#include "core/storage.h"

namespace qb::bench {

using Clock = std::chrono::steady_clock;
inline double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// A fresh home for a benchmark's database F1: the directory given as argv[2],
// else one in the temporary directory named after the benchmark. Its CFG,
// TEMP and F1 directories are made and the directory globals point there;
// the caller sets the kind and the rest of the active database.
inline std::filesystem::path databaseHome(int argc, char** argv, const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path root = argc > 2 ? fs::path(argv[2])
                                   : fs::temp_directory_path() / ("qb_bench_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "CFG");
    fs::create_directories(root / "TEMP");
    fs::create_directories(root / "F1");
    Mem.Net = Mem.FileDir = MasIdxPath = root.string();
    Mem.TempDir = (root / "TEMP").string();
    Mem.Dirnamn = "F1";
    setEngineDirectory((root / "CFG").string());
    return root;
}

// The file of the shared data directory (next to the source tree or the machine's), or "".
inline std::string dataFile(const std::string& name) {
    for (const char* dir : {"/work/shared/data", "../shared/data", "../../shared/data"}) {
        std::filesystem::path p = std::filesystem::path(dir) / name;
        if (std::filesystem::exists(p)) return p.string();
    }
    return {};
}

inline std::string quote(const std::string& s) {
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

} // namespace qb::bench
