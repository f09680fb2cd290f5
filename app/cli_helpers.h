// Helpers of the command-line commands that work on one database: choosing
// the database by name, reading IDs, and driving a step machine.
#pragma once
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/cli_reading.h"
#include "app/commands.h"
#include "core/registry.h"
#include "core/text.h"

namespace qb::cli {

// The reason a command fails, on stderr; gives the exit status.
inline int fail(const std::string& text, int code = 1) {
    std::fprintf(stderr, "qbox: %s\n", text.c_str());
    return code;
}

// Makes the database named (UTF-8, letter case ignored) the active one;
// false after the reason on stderr.
inline bool selectNamed(const std::string& name) {
    std::string error;
    if (!openCliDatabase(name, error)) {
        std::fprintf(stderr, "qbox: %s\n", error.c_str());
        return false;
    }
    return true;
}

// A decimal ID from 1 to 4294967295.
inline bool parseId(const std::string& s, uint32_t& id) {
    if (s.empty() || s.size() > 10) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    const unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
    if (v == 0 || v > UINT32_MAX) return false;
    id = static_cast<uint32_t>(v);
    return true;
}

inline volatile std::sig_atomic_t interrupted = 0;
inline void onInterrupt(int) { interrupted = 1; }

// Drives a step machine with the progress bar on stderr; Ctrl-C stops it
// between two batches.
template <class Machine>
void drive(Machine& m, const std::function<void()>& onStop) {
    interrupted = 0;
    auto previous = std::signal(SIGINT, onInterrupt);
    while (m.step()) {
        cliProgress(m.status(), static_cast<uint64_t>(std::max(0LL, m.done())),
                    static_cast<uint64_t>(std::max(0LL, m.total())));
        if (interrupted) {
            onStop();
            break;
        }
    }
    cliProgressEnd();
    std::signal(SIGINT, previous);
}

} // namespace qb::cli
