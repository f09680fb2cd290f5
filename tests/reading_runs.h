// Helpers of the reading tests: the offscreen application of the window
// tests and a run of the qbox program with its output.
#pragma once
#include <QApplication>
#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "tests/testutil.h"

namespace qb::testing {

inline void ensureApp() {
    static int argc = 1;
    static char name[] = "qbtests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }
}

struct CliRun {
    int status = -1;
    std::string out, err;
};

// qbox --home HOME ARGS: stdout, stderr and the exit status.
inline CliRun qbox(const std::string& home, const std::string& args) {
    const std::string errFile = home + "/stderr.txt";
    const std::string cmd = std::string(QBOX_BIN) + " --home '" + home + "' " + args + " 2>'" + errFile + "'";
    CliRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = readFile(errFile);
    return r;
}

} // namespace qb::testing
