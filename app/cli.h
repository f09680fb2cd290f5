#pragma once
#include <string>
#include <vector>

namespace qb {
// Runs one command of the command line; returns the exit status. headless
// (when given) is set when the arguments named a command rather than the
// main window.
int runCommandLine(const std::vector<std::string>& args, bool* headless = nullptr);
// The home directory: --home, else QUILLBOX_HOME, else ~/.local/share/quillbox.
std::string resolveHome(const std::string& option);
}
