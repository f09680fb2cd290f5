// Subcommands of the command line. Each subsystem's command file registers its
// commands at load time:
//   static const bool reg = qb::registerCommand("db", "db add-forum NAME | ...", runDb);
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/ui.h"

namespace qb {

struct CliContext {
    std::string home;               // the resolved home directory
    std::vector<std::string> args;  // the arguments after the command name
};

using CommandFn = std::function<int(CliContext&)>;

bool registerCommand(const std::string& name, const std::string& usage, CommandFn fn);
// The command of this name, or nullptr.
const CommandFn* findCommand(const std::string& name);
// "  usage" lines of every command, sorted by name.
std::string commandUsage();

// Prepares the home directory for a headless run: the program, data,
// temporary and word-index directories, the engine directory and the
// settings. Throws std::runtime_error (with the reason) when the home cannot
// be used.
void startHeadless(const std::string& home);

// Command-line helpers: "--name VALUE" options.
// Takes and removes "--name VALUE" (or "--name=VALUE") from args; true when present.
bool takeOption(std::vector<std::string>& args, const std::string& name, std::string& value);
// Takes and removes every "--name VALUE".
std::vector<std::string> takeOptions(std::vector<std::string>& args, const std::string& name);
// Takes and removes the flag "--name"; true when present.
bool takeFlag(std::vector<std::string>& args, const std::string& name);

// A progress bar on stderr ("\r" refreshed, at most ten times a second).
void cliProgress(const std::string& text, uint64_t done, uint64_t total);
void cliProgressEnd();

// The UI of the headless commands: boxes go to stderr, each on a line of its
// own below any progress bar; progress is the bar; questions take the
// scripted answers, else their default button.
class CliUi : public HeadlessUi {
public:
    CliUi() { echo = true; }
    void message(const std::string& title, const std::string& text, Icon icon) override;
    unsigned ask(const std::string& title, const std::string& text, unsigned buttons, unsigned defaultButton,
                 Icon icon) override;
    void progress(const std::string& text, long long done, long long total) override;
};
// The one the command line runs its commands with.
CliUi& cliUi();

} // namespace qb
