// Helpers shared by the tests.
#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace qb {

// A fresh directory, removed with everything in it at the end of the test.
struct TempDir {
    std::string path;
    TempDir() {
        static std::atomic<int> counter{0};
        path = (std::filesystem::temp_directory_path() /
                ("qbtest-" + std::to_string(getpid()) + "-" + std::to_string(counter++)))
                   .string();
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

inline void writeFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs f in a child process; returns its result (or 100 + signal).
inline int runChild(const std::function<int()>& f) {
    pid_t pid = fork();
    if (pid == 0) _exit(f());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// The shared sample data (the mailing-list archives) beside the repository, one
// level further up (a worktree), or on the machine; "" when it is not there.
inline std::string sharedDataFile(const std::string& name) {
    for (const std::string& dir : {std::string(QB_SOURCE_DIR) + "/../shared/data",
                                   std::string(QB_SOURCE_DIR) + "/../../shared/data", std::string("/work/shared/data")}) {
        const std::string p = dir + "/" + name;
        if (std::filesystem::exists(p)) return p;
    }
    return {};
}

} // namespace qb
