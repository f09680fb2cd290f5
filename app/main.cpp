// qbox: the command line and (without a command) the main window.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "app/cli.h"
#include "core/storage.h"
#include "core/ui.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        bool headless = false;
        const int status = qb::runCommandLine(args, &headless);
        if (headless) {
            // A command has closed its tables and written its output: the
            // destructors of the static objects (table declarations,
            // registries) hold nothing that must still reach a file, so the
            // process ends without running them.
            std::fflush(nullptr);
            std::_Exit(status);
        }
        return status;
    } catch (const qb::ProgramStop& stop) {
        qb::closeAllTables();
        std::fprintf(stderr, "qbox: %s\n", stop.what());
        if (!stop.haltText.empty()) std::fprintf(stderr, "qbox: %s\n", stop.haltText.c_str());
        return 3;
    } catch (const std::exception& e) {
        qb::closeAllTables();
        std::fprintf(stderr, "qbox: %s\n", e.what());
        return 2;
    }
}
