#pragma once
#include <string>
#include <vector>

namespace qb {
// Runs one command of the command line; returns the exit status.
int runCommandLine(const std::vector<std::string>& args);
// The home directory: --home, else QUILLBOX_HOME, else ~/.local/share/quillbox.
std::string resolveHome(const std::string& option);
}
