// What the benchmarks of real mail share: finding the shared sample data and
// quoting a path for the shell.
#pragma once
#include <filesystem>
#include <string>

namespace qb::bench {

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
