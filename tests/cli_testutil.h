// Running the qbox program of the build from a test: its exit status and what
// it wrote on stdout and stderr.
#pragma once
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/testutil.h"

namespace qb::testing {

struct CliResult {
    int status;
    std::string out, err;
};

// The text in single quotes for the shell.
inline std::string shellQuote(const std::string& s) {
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

// qbox --home HOME ARGS (ARGS as the shell reads them), stdin empty.
inline CliResult runQbox(const std::string& home, const std::string& args) {
    const std::string out = home + "/stdout.txt", err = home + "/stderr.txt";
    const std::string cmd = std::string(QBOX_BIN) + " --home " + shellQuote(home) + " " + args + " >" +
                            shellQuote(out) + " 2>" + shellQuote(err) + " </dev/null";
    const int rc = std::system(cmd.c_str());
    return CliResult{WIFEXITED(rc) ? WEXITSTATUS(rc) : 100, readFile(out), readFile(err)};
}

} // namespace qb::testing
