// Imports of damaged and monstrous files end in bounded memory and time, say
// what went wrong and keep the ordinary messages of the same file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "tests/testutil.h"

using namespace qb;

namespace {

struct ChildRun {
    int status = -1;
    long maxRssKb = 0;
    double seconds = 0;
    std::string out, err;
};

class ImportLimits : public ::testing::Test {
protected:
    TempDir tmp;
    std::string home;
    void SetUp() override {
        home = tmp.path + "/home";
        ASSERT_EQ(qbox({"db", "add-mail", "Mail", "--address", "me@example.org"}).status, 0);
    }

    // qbox as a child, with its peak memory.
    ChildRun qbox(std::vector<std::string> args) {
        args.insert(args.begin(), {QBOX_BIN, "--home", home});
        const std::string outPath = tmp.path + "/out.txt", errPath = tmp.path + "/err.txt";
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = fork();
        if (pid == 0) {
            int o = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int e = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(o, 1);
            dup2(e, 2);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int st = 0;
        rusage ru{};
        wait4(pid, &st, 0, &ru);
        ChildRun r;
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 100 + WTERMSIG(st);
        r.maxRssKb = ru.ru_maxrss;
        r.out = readFile(outPath);
        r.err = readFile(errPath);
        return r;
    }

    static std::string message(const std::string& from, const std::string& subject, const std::string& extra = {}) {
        return "From " + from + " Mon Jan  1 10:00:00 1996\nFrom: " + from + "\nTo: me@example.org\nSubject: " +
               subject + "\nDate: Mon, 1 Jan 1996 10:00:00 +0000\n" + extra + "\nThe body of " + subject + ".\n\n";
    }

    ChildRun import(const std::string& path) { return qbox({"import", "--reader", "Unix Mail", "--mail-db", "Mail", path}); }

    size_t listed() {
        ChildRun r = qbox({"list", "Mail"});
        size_t n = 0;
        for (char c : r.out) n += c == '\n';
        return n;
    }
};

constexpr long kMemoryKb = 200 * 1024;

TEST_F(ImportLimits, AFileOfNulBytesEndsWithAMessage) {
    const std::string path = tmp.path + "/zeros.mbx";
    {
        std::ofstream f(path, std::ios::binary);
        std::string block(1 << 20, '\0');
        for (int i = 0; i < 8; ++i) f << block;
    }
    ChildRun r = import(path);
    EXPECT_NE(r.status, 0) << "nothing was found in the file";
    EXPECT_FALSE(r.err.empty());
    EXPECT_LT(r.maxRssKb, kMemoryKb);
    EXPECT_LT(r.seconds, 120);
}

TEST_F(ImportLimits, A50MegabyteLineAndAHugeHeaderKeepTheOtherMessages) {
    const std::string path = tmp.path + "/monsters.mbx";
    {
        std::ofstream f(path, std::ios::binary);
        f << message("alice@example.org", "first ordinary message");
        // A message whose body is one line of 50 MB without a line end in it.
        f << message("bob@example.org", "a very long line");
        f.seekp(-1, std::ios::cur);
        std::string chunk(1 << 20, 'x');
        for (int i = 0; i < 50; ++i) f << chunk;
        f << "\n\n";
        // A message with 100,000 header lines.
        std::string many;
        for (int i = 0; i < 100000; ++i) many += "X-Trace-" + std::to_string(i) + ": hop " + std::to_string(i) + "\n";
        f << message("carol@example.org", "a huge header", many);
        f << message("dave@example.org", "last ordinary message");
    }
    ChildRun r = import(path);
    EXPECT_LT(r.maxRssKb, kMemoryKb) << r.err;
    EXPECT_LT(r.seconds, 300);
    EXPECT_NE(r.out.find("stored"), std::string::npos) << r.err;
    ChildRun list = qbox({"list", "Mail"});
    EXPECT_NE(list.out.find("first ordinary message"), std::string::npos) << r.err;
    EXPECT_NE(list.out.find("last ordinary message"), std::string::npos) << r.err;
    EXPECT_GE(listed(), 2u);
}

} // namespace
