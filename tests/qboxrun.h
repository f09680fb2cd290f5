// Runs the qbox program of the build as a child process on a home directory
// and collects its exit status, standard output and standard error.
#pragma once
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/testutil.h"

namespace qb {

struct QboxOutcome {
    int status = -1;
    std::string out, err;
};

// The text in single quotes for the shell.
inline std::string shellQuote(const std::string& s) {
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

// qbox --home HOME ARGS, with ARGS as the shell reads them and stdin empty;
// the outputs pass through files in scratchDir. A child that did not exit
// (a crash) has status 100.
inline QboxOutcome runQboxShell(const std::string& home, const std::string& scratchDir, const std::string& args) {
    const std::string outPath = scratchDir + "/qbox-out.txt", errPath = scratchDir + "/qbox-err.txt";
    const std::string cmd = shellQuote(QBOX_BIN) + " --home " + shellQuote(home) + " " + args + " >" +
                            shellQuote(outPath) + " 2>" + shellQuote(errPath) + " </dev/null";
    const int rc = std::system(cmd.c_str());
    QboxOutcome r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : 100;
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
}

// The same with each argument as it is.
inline QboxOutcome runQbox(const std::string& home, const std::string& scratchDir,
                           const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& a : args) line += (line.empty() ? "" : " ") + shellQuote(a);
    return runQboxShell(home, scratchDir, line);
}

// Tab-separated output as rows of columns.
inline std::vector<std::vector<std::string>> tabRows(const std::string& out) {
    std::vector<std::vector<std::string>> v;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cols(1);
        for (char c : line) {
            if (c == '\t') cols.emplace_back();
            else cols.back() += c;
        }
        v.push_back(cols);
    }
    return v;
}

namespace testing {

using CliResult = QboxOutcome;
using CliRun = QboxOutcome;

// qbox --home HOME ARGS (as the shell reads them), the outputs kept in HOME.
inline CliResult runQbox(const std::string& home, const std::string& args) { return runQboxShell(home, home, args); }
inline CliRun qbox(const std::string& home, const std::string& args) { return runQboxShell(home, home, args); }

} // namespace testing
} // namespace qb
