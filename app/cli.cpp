#include "app/cli.h"

#include "app/commands.h"
#include "app/gui.h"
#include "app/startup.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "core/globals.h"
#include "core/readbatch.h"
#include "core/storage.h"
#include "core/ui.h"

namespace qb {

std::string resolveHome(const std::string& option) {
    if (!option.empty()) return option;
    if (const char* h = std::getenv("QUILLBOX_HOME"); h && *h) return h;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/quillbox";
}

namespace {
void usage() {
    std::fprintf(stderr,
                 "usage: qbox [--home DIR] [COMMAND ...]\n"
                 "commands:\n"
                 "  version     print the version and the home directory\n%s",
                 commandUsage().c_str());
}
} // namespace

int runCommandLine(const std::vector<std::string>& args, bool* headless) {
    std::string homeOpt;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--home" && i + 1 < args.size()) homeOpt = args[++i];
        else if (args[i].rfind("--home=", 0) == 0) homeOpt = args[i].substr(7);
        else rest.push_back(args[i]);
    }
    std::string home = resolveHome(homeOpt);
    if (headless) *headless = !rest.empty();
    if (rest.empty()) {
        const GuiEntries* gui = loadGui();
        return gui ? gui->runMainWindow(home) : 2;
    }
    if (rest[0] == "version" || rest[0] == "--version") {
        std::printf("Quillbox %s\nhome\t%s\n", QB_VERSION, home.c_str());
        return 0;
    }
    if (rest[0] == "help" || rest[0] == "--help") { usage(); return 0; }
    if (const CommandFn* fn = findCommand(rest[0])) {
        setUi(&cliUi());
        CliContext ctx;
        ctx.home = home;
        ctx.args.assign(rest.begin() + 1, rest.end());
        // A command is short: a table it closes keeps its connection for
        // the next opening of the file.
        keepClosedConnections(true);
        // Listing the databases reads the database list alone.
        const bool listOnly = rest.size() == 2 && rest[0] == "db" && rest[1] == "list";
        if (!listOnly || !startForDatabaseList(home)) startHeadless(home);
        int status = (*fn)(ctx);
        closeAllTables();  // every file back at rest, the engine's own files gone
        cliProgressEnd();  // a progress line left open ends before the shell's prompt
        return status;
    }
    std::fprintf(stderr, "qbox: unknown command '%s'\n", rest[0].c_str());
    usage();
    return 2;
}

} // namespace qb
