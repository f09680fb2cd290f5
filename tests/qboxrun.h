// Runs the qbox program as a child process on a home directory and collects
// its exit status, standard output and standard error.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/testutil.h"

namespace qb {

struct QboxOutcome {
    int status = -1;
    std::string out, err;
};

inline QboxOutcome runQbox(const std::string& home, const std::string& scratchDir, std::vector<std::string> args) {
    const std::string outPath = scratchDir + "/qbox-out.txt", errPath = scratchDir + "/qbox-err.txt";
    args.insert(args.begin(), {QBOX_BIN, "--home", home});
    QboxOutcome r;
    r.status = runChild([&] {
        int o = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0) return 126;
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        return 127;
    });
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
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

} // namespace qb
